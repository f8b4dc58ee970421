#pragma once
// Time stamps for archive formats (CSV, NetCDF): the meter's MMDDYY date and HHMMSS time
// read in the time zone its clock was set to, as UTC seconds and as ISO 8601 text.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "measure/sample.h"

namespace files {

/// The zone a meter's clock keeps: a fixed offset from UTC, in minutes east (+120 for
/// +02:00), or a named zone whose offset follows the date (summer time).
struct UtcOffset {
  int minutes = 0;
  /// A named zone ("Europe/Oslo"): its offset, in minutes east, for a wall-clock reading
  /// given as seconds since 1970-01-01 00:00 of that wall clock. Unset: `minutes` always.
  std::function<int(long long wallSeconds)> minutesAt;
  std::string name;  ///< the named zone's name

  /// The offset for a wall-clock reading (seconds as for minutesAt).
  int minutesFor(long long wallSeconds) const { return minutesAt ? minutesAt(wallSeconds) : minutes; }
  /// "Z" for UTC, else "+HH:MM" / "-HH:MM" (ISO 8601), for a reading at `wallSeconds`.
  std::string isoSuffix(long long wallSeconds = 0) const;
  /// "UTC", "+HH:MM" / "-HH:MM", or the zone's name, as the option takes it.
  std::string text() const;
};

/// Reads "UTC", "Z" or "+HH:MM" / "-HH:MM" (hours 00..14, minutes 00..59, at most
/// ±14:00). Anything else, "+2" and "02:00" included, gives nothing.
std::optional<UtcOffset> parseUtcOffset(std::string_view text);

/// Whether the meter's date and time are known for the line just accepted. The date is
/// known once a line or a "DAT" reply gave one (MeterMonth is 99 until then); the time
/// once a data line carried an HH:MM:SS field or a "CLK" reply set it. The clock's
/// own fields cannot tell: they start at 00:00:00.
class MeterClockKnowledge {
 public:
  /// An accepted data line (as framed): a field with colons is a time.
  void noteDataLine(std::string_view line);
  /// A reply line the reply parser took (`matched`): "CLK" sets the time.
  void noteReply(std::string_view line, bool matched);
  bool timeKnown() const { return m_timeKnown; }
  bool dateKnown(const measure::MeterClock& clock) const { return clock.MeterMonth != 99; }

 private:
  bool m_timeKnown = false;
};

/// The meter's wall-clock reading as UTC seconds since 1970-01-01T00:00:00Z, the year
/// read as 20YY. Nothing when the date or time is unknown or not a real calendar time
/// (month 13, 31 April, hour 24, …): a made-up time is never given.
std::optional<double> meterEpochSeconds(const measure::MeterClock& clock, bool dateKnown, bool timeKnown,
                                        const UtcOffset& offset);

/// "2024-05-14T10:21:00Z" or "2024-05-14T10:21:00+02:00": the meter's reading with the
/// zone its clock keeps; "" where meterEpochSeconds gives nothing.
std::string meterIsoTime(const measure::MeterClock& clock, bool dateKnown, bool timeKnown, const UtcOffset& offset);

/// UTC seconds since the epoch as "YYYY-MM-DDTHH:MM:SSZ" (whole seconds, rounded down).
std::string isoUtc(double epochSeconds);

}  // namespace files
