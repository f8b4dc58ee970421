#include "measure/numbertext.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "measure/cformat.h"
#include "measure/fixedtext.h"

namespace measure {

bool readLeadingNumber(std::string_view field, double& value) {
  // The longest prefix of the form -?[0-9]*(\.[0-9]*)? with at least one digit: what
  // "%lf" takes from text that has no blanks, signs other than '-', or letters.
  const bool negative = !field.empty() && field[0] == '-';
  size_t end = negative ? 1 : 0;
  size_t digits = 0;
  // Whole numbers of up to 15 digits (a meter's counts) are exact in a double: they are
  // gathered on the way and need no general conversion.
  unsigned long long whole = 0;
  while (end < field.size() && field[end] >= '0' && field[end] <= '9') {
    whole = whole * 10 + static_cast<unsigned>(field[end] - '0');
    ++end, ++digits;
  }
  const bool point = end < field.size() && field[end] == '.';
  if (!point) {
    if (digits == 0) return false;
    if (digits <= 15) {
      value = negative ? -static_cast<double>(whole) : static_cast<double>(whole);
      return true;
    }
  } else {
    ++end;
    while (end < field.size() && field[end] >= '0' && field[end] <= '9') ++end, ++digits;
    if (digits == 0) return false;
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

using fixedtext::kDigitPairs;
using fixedtext::writeFraction;

// Writes exactly `count` digits of `n` (leading zeros included) so that they end at
// `end`.
template <typename U>
void writeDigitsBefore(char* end, U n, int count) {
  for (; count >= 2; count -= 2) {
    const U rest = n / 100;
    end -= 2;
    std::memcpy(end, &kDigitPairs[static_cast<size_t>(n - rest * 100) * 2], 2);
    n = rest;
  }
  if (count > 0) *--end = static_cast<char>('0' + n % 10);
}

template <typename U>
int digitCount(U n) {
  int count = 1;
  for (; n >= 100; n /= 100) count += 2;
  return count + (n >= 10);
}

// The digits of `n` with a point before the last Precision of them: the division by a
// constant power of ten stays a multiplication.
template <int Precision, typename U>
char* writeScaled(char* at, U n, bool negative, int width) {
  constexpr U kScale = [] {
    U scale = 1;
    for (int i = 0; i < Precision; ++i) scale *= 10;
    return scale;
  }();
  const U whole = n / kScale;
  const int wholeDigits = digitCount(whole);
  const int length = negative + wholeDigits + (Precision > 0 ? Precision + 1 : 0);
  for (int pad = width - length; pad > 0; --pad) *at++ = ' ';
  if (negative) *at++ = '-';
  writeDigitsBefore(at + wholeDigits, whole, wholeDigits);
  at += wholeDigits;
  if constexpr (Precision > 0) {
    *at = '.';
    writeFraction<Precision>(at + 1, n - whole * kScale);
    at += 1 + Precision;
  }
  return at;
}

// Any whole part below 10^6, any width, without the general conversion: the value
// rounded in binary (fixedtext::roundScaled) and printed as an integer with the point put
// in. Null for ties and large values, which are left to the exact conversion. Out of
// line so that the common case stays small.
template <int Precision>
[[gnu::noinline]] char* writeScaledAny(char* at, double value, int width) {
  uint64_t n = 0;
  if (!(std::fabs(value) < 1e6) || !fixedtext::roundScaled<Precision>(value, n)) return nullptr;
  // printf keeps the sign of a negative value that rounds to zero, and of -0.0.
  const bool negative = std::signbit(value);
  // Below 1e6 * 1e9 the scaled value fits in 64 bits; most fit in 32, which divide faster.
  if (n <= 0xFFFFFFFFull) return writeScaled<Precision>(at, static_cast<uint32_t>(n), negative, width);
  return writeScaled<Precision>(at, n, negative, width);
}

char* writeFixedFast(char* at, double value, int width, int precision) {
  return fixedtext::byPrecision(precision, [&](auto p) { return writeScaledAny<decltype(p)::value>(at, value, width); });
}

// The exact conversion, for what the fast path leaves; out of line so that the common
// case needs no stack frame for its buffer.
[[gnu::noinline]] char* writeFixedExact(char* at, double value, int width, int precision) {
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

}  // namespace

char* writeFixed(char* at, double value, int width, int precision) {
  if (char* done = fixedtext::writeShort(at, value, width, precision)) return done;
  if (char* done = writeFixedFast(at, value, width, precision)) return done;
  return writeFixedExact(at, value, width, precision);
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
