#include "measure/numbertext.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <cmath>

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

void appendFixed(std::string& out, double value, int width, int precision) {
  char text[384];
  const auto result = std::isfinite(value)
                          ? std::to_chars(text, text + sizeof text, value,
                                          std::chars_format::fixed, precision)
                          : std::to_chars_result{text, std::errc::value_too_large};
  if (result.ec != std::errc()) {
    out += cformat("%*.*lf", width, precision, value);
    return;
  }
  const int length = static_cast<int>(result.ptr - text);
  if (length < width) out.append(static_cast<size_t>(width - length), ' ');
  out.append(text, result.ptr);
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
