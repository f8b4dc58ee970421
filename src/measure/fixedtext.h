#pragma once
// Fixed-point text for the per-line hot path, inline so that a loop over a line's columns
// pays no call for its common numbers: what "%<width>.<precision>lf" prints, in the C
// locale, for values with one or two whole digits that need no padding. Everything else
// goes to writeFixed (numbertext.h), which gives the same text for any value.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "measure/numbertext.h"

namespace measure::fixedtext {

// "00" to "99": digits two at a time.
inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

template <int Precision>
inline constexpr uint64_t kScaleOf = [] {
  uint64_t scale = 1;
  for (int i = 0; i < Precision; ++i) scale *= 10;
  return scale;
}();

/// Exactly Precision (1..9) digits of frac < 10^Precision at `at`, taken from the top of
/// one fixed-point product, two at a time: a multiplication by 100 each, no division,
/// which keeps the chain from the value to its text short. The product's error, under
/// 10^Precision / 2^57 of the first group's unit, grows a hundredfold per pair yet stays
/// below one unit of the last digit (10^17 < 2^57); every input of every precision was
/// checked against printf once.
template <int Precision>
inline void writeFraction(char* at, uint64_t frac) {
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

/// |value| × 10^Precision rounded to the nearest whole number, when that is below 10^15
/// and no rounding tie; else false.
template <int Precision>
inline bool roundScaled(double value, uint64_t& n) {
  const double scaled = std::fabs(value) * static_cast<double>(kScaleOf<Precision>);
  // Also false for NaN and infinities.
  if (!(scaled < 1e15)) return false;
  // Below 2^53 truncation is exact: the whole part without a call into the maths library.
  const auto truncated = static_cast<int64_t>(scaled);
  const double fraction = scaled - static_cast<double>(truncated);
  // The product is the exact one rounded to a double, and 10^Precision is exact: its
  // fraction is on the same side of .5 as the exact one's unless it lands on .5 itself.
  // The margin leaves even that to the exact conversion.
  if (std::fabs(fraction - 0.5) < 1e-6) return false;
  // Away from a tie, adding one half and truncating rounds to nearest. The tie test is
  // off the value's path, so the digits need not wait for it.
  n = static_cast<uint64_t>(static_cast<int64_t>(scaled + 0.5));
  return true;
}

/// "%<width>.<Precision>lf" of `value` at `at` when it rounds to a whole part of one or
/// two digits, needs no padding, and is no rounding tie; else null. Writes at most 13
/// characters, some of them past the end it returns.
template <int Precision>
inline char* writeShort(char* at, double value, int width) {
  uint64_t n = 0;
  if (!roundScaled<Precision>(value, n)) return nullptr;
  // Most values of a backscattering meter are below one: no division for them.
  uint64_t whole = 0, frac = n;
  if (n >= kScaleOf<Precision>) {
    whole = n / kScaleOf<Precision>;
    frac = n - whole * kScaleOf<Precision>;
  }
  // printf keeps the sign of a negative value that rounds to zero, and of -0.0.
  const bool negative = std::signbit(value);
  const int wholeDigits = 1 + (whole >= 10);
  if (whole >= 100 || width > negative + wholeDigits + (Precision > 0 ? Precision + 1 : 0)) return nullptr;
  *at = '-';
  at += negative;
  // The whole part's pair, without its leading zero below 10.
  std::memcpy(at, &kDigitPairs[static_cast<size_t>(whole) * 2 + (whole < 10)], 2);
  at += wholeDigits;
  if constexpr (Precision > 0) {
    *at = '.';
    writeFraction<Precision>(at + 1, frac);
    at += 1 + Precision;
  }
  return at;
}

/// f(std::integral_constant<int, P>{}) for the precision P given at run time (0..9); null
/// for any other.
template <typename F>
inline char* byPrecision(int precision, F&& f) {
  switch (precision) {
    case 0: return f(std::integral_constant<int, 0>{});
    case 1: return f(std::integral_constant<int, 1>{});
    case 2: return f(std::integral_constant<int, 2>{});
    case 3: return f(std::integral_constant<int, 3>{});
    case 4: return f(std::integral_constant<int, 4>{});
    case 5: return f(std::integral_constant<int, 5>{});
    case 6: return f(std::integral_constant<int, 6>{});
    case 7: return f(std::integral_constant<int, 7>{});
    case 8: return f(std::integral_constant<int, 8>{});
    case 9: return f(std::integral_constant<int, 9>{});
    default: return nullptr;
  }
}

/// writeShort for a precision known at run time (0..9; null for any other).
inline char* writeShort(char* at, double value, int width, int precision) {
  return byPrecision(precision, [&](auto p) { return writeShort<decltype(p)::value>(at, value, width); });
}

}  // namespace measure::fixedtext

namespace measure {

/// writeFixed, with its common case inline.
inline char* writeFixedInline(char* at, double value, int width, int precision) {
  if (char* done = fixedtext::writeShort(at, value, width, precision)) return done;
  return writeFixed(at, value, width, precision);
}

}  // namespace measure
