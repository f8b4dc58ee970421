#pragma once
// The latest accepted sample, the meter's and the host's clock, and the decoder's counters.
#include <array>
#include <functional>

#include "measure/kinds.h"

namespace measure {

/// A local wall-clock reading of the PC (month 1-12, year of the century).
struct HostTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
/// Source of the PC's local time; injectable so tests can fix the clock.
using HostClock = std::function<HostTime()>;
/// The PC's local time now (year since 1900, less 100 when above 99).
HostTime LocalHostTime();

/// Meter date and time (from data lines and "DAT"/"CLK" replies) and the host time
/// taken when the meter time was last learned. MeterMonth 99 = no date known.
struct MeterClock {
  int MeterMonth = 99, MeterDay = 0, MeterYear = 0;
  int MeterHour = 0, MeterMinute = 0, MeterSecond = 0;
  int HostMonth = 0, HostDay = 0, HostYear = 0;
  int HostHour = 0, HostMinute = 0, HostSecond = 0;

  /// Copies `now` into the Host fields.
  void NoteHostTime(const HostTime& now);
};

struct SampleState {
  std::array<double, kMaxColumns> SampleValues{};  ///< fields of the latest line; date -2.0, time -1.0
  std::array<double, kMaxColumns> KindCounts{};    ///< latest raw value per kind
  double ITempCounts = 0, XTempCounts = 0, PresCounts = 0;
  int MismatchCount = 0;
  double SampleCounter = 0;  ///< accepted data lines so far
  double FirstSample = 0;
  double ElapsedSample = 0;  ///< the plot's x value and the Count of the engineering-units file
};

}  // namespace measure
