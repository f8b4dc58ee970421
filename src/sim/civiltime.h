#pragma once
// Calendar arithmetic for the virtual meter's clock, free of time zones and of the C
// library's locale and time functions, so the model stays deterministic.
#include <cstdint>

namespace sim {

/// A calendar date and time of day (proleptic Gregorian, full year, month 1-12).
struct CivilTime {
  int year = 2003, month = 7, day = 1;
  int hour = 12, minute = 0, second = 0;
  bool operator==(const CivilTime&) const = default;
};

/// Days in `month` (1-12) of `year`; 0 for a month out of range.
int daysInMonth(int year, int month);
/// Whether every field lies in its calendar range.
bool isValid(const CivilTime& t);
/// Seconds since 1970-01-01 00:00:00 of the same calendar (no time zone involved).
int64_t toSeconds(const CivilTime& t);
CivilTime fromSeconds(int64_t seconds);

}  // namespace sim
