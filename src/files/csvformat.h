#pragma once
// Comma-separated engineering values: one header row and one row per sample, for
// spreadsheets and scripts. The values are the engineering-units file's, number for number.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/sample.h"
#include "qc/flags.h"

namespace files {

class QcRun;

/// One machine-friendly name with units per engineering column of the configured fields,
/// in the engineering-units file's column order ("beta_470_per_m_per_sr", "chl_ug_per_l",
/// "itemp_degc"). A name that an earlier column already took gets "_2", "_3", … so that
/// every name is unique. Empty while no field is configured.
std::vector<std::string> CsvColumnNames(const measure::DeviceConfig& config);

/// Appends, for each column CsvColumnNames names, a comma and the value as the
/// engineering-units file prints it (same precision, C locale) without the leading blanks
/// of its column width: a spreadsheet reads "0.5", not "   0.5". No line end. `sample`
/// and `clock` are not printed (the caller starts the row, e.g. with the host's time).
void appendCsvValues(std::string& out, const measure::DeviceConfig& config,
                     const measure::SampleState& sample, const measure::MeterClock& clock,
                     const measure::EngValues& values);

/// The header row of every CSV file this program writes (recordings, the logger's daily
/// files, conversions, exports): "host_time_utc,meter_time_utc,count", then a comma and
/// each of CsvColumnNames, then CR LF.
std::string CsvHeader(const measure::DeviceConfig& config);

/// CsvHeader with quality control: "<column>_qc" right after each checked column, and
/// after the last value column one per checked raw-counts stream ("counts_470_qc").
std::string CsvHeader(const measure::DeviceConfig& config, const QcRun& qc);

/// One sample as every CSV file, feed and archive of this program describes it: when the
/// host received it (nothing for a conversion), what the meter's clock read in UTC
/// (nothing while its date or time is unknown, or for a meter without a clock), and the
/// sample's count and engineering values.
struct SampleTimes {
  std::optional<std::chrono::system_clock::time_point> host;
  std::optional<double> meterEpochSeconds;
};

/// Appends one CSV row under CsvHeader: the two times as IsoUtcMillis (empty where not
/// known), the count as the engineering-units file prints it, appendCsvValues, CR LF.
void appendCsvRow(std::string& out, const SampleTimes& times, const measure::DeviceConfig& config,
                  const measure::SampleState& sample, const measure::MeterClock& clock,
                  const measure::EngValues& values);

/// appendCsvRow under the header CsvHeader(config, qc) gives: each stream's flag from
/// `flags` (one per stream of `qc`) in its "_qc" column, as one digit. With `flagAt`, the
/// offsets in `out` of those digits are stored there (stream order), so that a writer that
/// learns a flag later can put it in place.
void appendCsvRow(std::string& out, const SampleTimes& times, const measure::DeviceConfig& config,
                  const measure::SampleState& sample, const measure::MeterClock& clock,
                  const measure::EngValues& values, const QcRun& qc, const std::vector<qc::Flag>& flags,
                  std::vector<size_t>* flagAt = nullptr);

/// A flag as its CSV digit.
inline char csvFlagDigit(qc::Flag flag) { return static_cast<char>('0' + static_cast<int>(flag)); }

/// UTC seconds since the epoch as a time point, to the millisecond.
std::chrono::system_clock::time_point EpochTime(double epochSeconds);

/// A time as ISO 8601 UTC with milliseconds: "2026-12-08T04:44:03.123Z". Sub-millisecond
/// parts are dropped (rounded toward the past, also before 1970).
std::string IsoUtcMillis(std::chrono::system_clock::time_point time);

}  // namespace files
