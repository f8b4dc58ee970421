#include "measure/numbertext.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "measure/cformat.h"

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

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// "00" to "99": two digits per division by 100 halve the divisions of a digit-by-digit
// loop, which made up most of a converter's time.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

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

template <int Precision>
void writeFraction(char* at, uint64_t frac);

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

template <int Precision>
constexpr uint64_t kScaleOf = [] {
  uint64_t scale = 1;
  for (int i = 0; i < Precision; ++i) scale *= 10;
  return scale;
}();

// Exactly Precision (1..9) digits of frac < 10^Precision at `at`, taken from the top of
// one fixed-point product, two at a time: a multiplication by 100 each, no division,
// which keeps the chain from the value to its text short. The product's error, under
// 10^Precision / 2^57 of the first group's unit, grows a hundredfold per pair yet stays
// below one unit of the last digit (10^17 < 2^57); every input of every precision was
// checked against printf once.
template <int Precision>
void writeFraction(char* at, uint64_t frac) {
  constexpr int kFirst = Precision % 2 ? 1 : 2;
  constexpr int kBits = 57;
  constexpr uint64_t kOne = 1ULL << kBits;
  uint64_t y = frac * (kOne / kScaleOf<Precision - kFirst> + 1);
  if constexpr (kFirst == 1) {
    *at++ = static_cast<char>('0' + (y >> kBits));
  } else {
    std::memcpy(at, &kDigitPairs[static_cast<size_t>(y >> kBits) * 2], 2);
    at += 2;
  }
  for (int i = kFirst; i < Precision; i += 2) {
    y = (y & (kOne - 1)) * 100;
    std::memcpy(at, &kDigitPairs[static_cast<size_t>(y >> kBits) * 2], 2);
    at += 2;
  }
}

// Any whole part, any width: kept out of line so that the common case stays small.
template <int Precision>
[[gnu::noinline]] char* writeScaledAny(char* at, uint64_t n, bool negative, int width) {
  if (n <= 0xFFFFFFFFull) return writeScaled<Precision>(at, static_cast<uint32_t>(n), negative, width);
  return writeScaled<Precision>(at, n, negative, width);
}

// The common case: one whole digit and no padding.
template <int Precision>
char* writeScaledShort(char* at, uint64_t n, bool negative, int width) {
  const uint64_t whole = n / kScaleOf<Precision>;
  constexpr int kLength = 1 + (Precision > 0 ? Precision + 1 : 0);
  if (whole >= 10 || width > kLength + negative) return writeScaledAny<Precision>(at, n, negative, width);
  *at = '-';
  at += negative;
  *at++ = static_cast<char>('0' + whole);
  if constexpr (Precision > 0) {
    *at = '.';
    writeFraction<Precision>(at + 1, n - whole * kScaleOf<Precision>);
    at += 1 + Precision;
  }
  return at;
}

// The common case without the general conversion: a value whose scaled form stays well
// inside 2^53 and is not a rounding tie can be rounded in binary and printed as an
// integer with the point put in. Anything else (ties, large values) is left to the exact
// conversion. Null when left.
char* writeFixedFast(char* at, double value, int width, int precision) {
  if (precision < 0 || precision > 9 || !(std::fabs(value) < 1e6)) return nullptr;
  const double scaled = std::fabs(value) * kPowersOfTen[precision];
  // Below 2^53 truncation is exact: the whole part without a call into the maths library.
  const auto truncated = static_cast<int64_t>(scaled);
  const double fraction = scaled - static_cast<double>(truncated);
  // The product is the exact one rounded to a double, and 10^precision is exact: its
  // fraction is on the same side of .5 as the exact one's unless it lands on .5 itself.
  // The margin leaves even that to the exact conversion.
  if (std::fabs(fraction - 0.5) < 1e-6) return nullptr;
  // Away from a tie, adding one half and truncating rounds to nearest. The tie test is
  // off the value's path, so the digits need not wait for it.
  const auto n = static_cast<uint64_t>(static_cast<int64_t>(scaled + 0.5));
  // printf keeps the sign of a negative value that rounds to zero, and of -0.0.
  const bool negative = std::signbit(value);
  switch (precision) {
    case 0: return writeScaledShort<0>(at, n, negative, width);
    case 1: return writeScaledShort<1>(at, n, negative, width);
    case 2: return writeScaledShort<2>(at, n, negative, width);
    case 3: return writeScaledShort<3>(at, n, negative, width);
    case 4: return writeScaledShort<4>(at, n, negative, width);
    case 5: return writeScaledShort<5>(at, n, negative, width);
    case 6: return writeScaledShort<6>(at, n, negative, width);
    case 7: return writeScaledShort<7>(at, n, negative, width);
    case 8: return writeScaledShort<8>(at, n, negative, width);
    default: return writeScaledShort<9>(at, n, negative, width);
  }
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
