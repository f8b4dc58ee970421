#include "measure/numbertext.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <cmath>
#include <cstring>

#include "measure/cformat.h"

namespace measure {

bool readLeadingNumber(std::string_view field, double& value) {
  // The longest prefix of the form -?[0-9]*(\.[0-9]*)? with at least one digit: what
  // "%lf" takes from text that has no blanks, signs other than '-', or letters.
  size_t end = 0;
  if (end < field.size() && field[end] == '-') ++end;
  size_t digits = 0;
  while (end < field.size() && field[end] >= '0' && field[end] <= '9') ++end, ++digits;
  if (end < field.size() && field[end] == '.') {
    ++end;
    while (end < field.size() && field[end] >= '0' && field[end] <= '9') ++end, ++digits;
  }
  if (digits == 0) return false;
  // Whole numbers of up to 15 digits (a meter's counts) are exact in a double: no need
  // for the general conversion.
  if (end <= 16 && field.find('.', 0) >= end) {
    const bool negative = field[0] == '-';
    long long whole = 0;
    for (size_t i = negative ? 1 : 0; i < end; ++i) whole = whole * 10 + (field[i] - '0');
    value = negative ? -static_cast<double>(whole) : static_cast<double>(whole);
    return true;
  }
  double parsed = 0.0;
  const auto result =
      std::from_chars(field.data(), field.data() + end, parsed, std::chars_format::fixed);
  if (result.ec != std::errc()) return false;
  value = parsed;
  return true;
}

bool readIntTriple(std::string_view field, char separator, int (&out)[3]) {
  size_t at = 0;
  for (int n = 0; n < 3; ++n) {
    if (n > 0) {
      if (at >= field.size() || field[at] != separator) return false;
      ++at;
    }
    const bool negative = at < field.size() && field[at] == '-';
    if (negative) ++at;
    const size_t first = at;
    long long magnitude = 0;
    while (at < field.size() && field[at] >= '0' && field[at] <= '9') {
      if (magnitude <= 1LL << 40) magnitude = magnitude * 10 + (field[at] - '0');
      ++at;
    }
    if (at == first) return false;
    const long long value = negative ? -magnitude : magnitude;
    out[n] = static_cast<int>(std::clamp<long long>(value, std::numeric_limits<int>::min(),
                                                    std::numeric_limits<int>::max()));
  }
  return true;
}

namespace {

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// The common case without the general conversion: a value whose scaled form stays well
// inside 2^53 and is not near a rounding tie can be rounded in binary and printed as an
// integer with the point put in. Anything else (ties, large values) is left to the exact
// conversion. Null when left.
char* writeFixedFast(char* at, double value, int width, int precision) {
  if (precision < 0 || precision > 9 || !(std::fabs(value) < 1e6)) return nullptr;
  const double scaled = std::fabs(value) * kPowersOfTen[precision];
  const double floor = std::floor(scaled);
  const double fraction = scaled - floor;
  // The product is within a few units in the last place of the exact one; stay clear of
  // .5 by far more than that.
  if (std::fabs(fraction - 0.5) < 1e-6) return nullptr;
  const unsigned long long n = static_cast<unsigned long long>(floor) + (fraction > 0.5 ? 1 : 0);
  const auto unit = static_cast<unsigned long long>(kPowersOfTen[precision]);
  unsigned long long whole = n / unit, part = n % unit;
  char reversed[24];
  int digits = 0;
  do {
    reversed[digits++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  // printf keeps the sign of a negative value that rounds to zero, and of -0.0.
  const bool negative = std::signbit(value);
  const int length = negative + digits + (precision > 0 ? precision + 1 : 0);
  for (int pad = width - length; pad > 0; --pad) *at++ = ' ';
  if (negative) *at++ = '-';
  while (digits > 0) *at++ = reversed[--digits];
  if (precision > 0) {
    *at++ = '.';
    for (int i = precision - 1; i >= 0; --i, part /= 10) at[i] = static_cast<char>('0' + part % 10);
    at += precision;
  }
  return at;
}

}  // namespace

char* writeFixed(char* at, double value, int width, int precision) {
  if (char* done = writeFixedFast(at, value, width, precision)) return done;
  char text[kMaxFixedChars];
  const auto result = std::isfinite(value)
                          ? std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision)
                          : std::to_chars_result{text, std::errc::value_too_large};
  const std::string printed = result.ec != std::errc() ? cformat("%*.*lf", width, precision, value)
                                                       : std::string(text, result.ptr);
  const size_t length = std::min(printed.size(), kMaxFixedChars);
  for (int pad = width - static_cast<int>(length); pad > 0; --pad) *at++ = ' ';
  std::memcpy(at, printed.data(), length);
  return at + length;
}

void appendFixed(std::string& out, double value, int width, int precision) {
  char text[kMaxFixedChars + 64];
  const char* end = writeFixed(text, value, std::min(width, 64), precision);
  out.append(text, static_cast<size_t>(end - text));
}

void appendTwoDigits(std::string& out, int value) {
  if (value >= 0 && value <= 9) {
    out += '0';
    out += static_cast<char>('0' + value);
    return;
  }
  char text[16];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

}  // namespace measure
