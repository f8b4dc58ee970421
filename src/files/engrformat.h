#pragma once
// The engineering-units file (*.eng): a header naming the columns, then one line per
// sample. Tab-separated, CR LF line ends, C-locale number formats.
#include <cstddef>
#include <string>
#include <vector>

#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/sample.h"

namespace files {

/// "Count\tDate\tTime" and one group per configured column, then "\r\n".
std::string EngrHeader(const measure::DeviceConfig& config);

/// One data line: count, date and time (six digits each, from `clock`), then one group
/// per configured column in header order, then "\r\n".
std::string EngrLine(const measure::DeviceConfig& config, const measure::SampleState& sample,
                     const measure::MeterClock& clock, const measure::EngValues& values);

/// EngrLine with the columns of one configuration resolved once: where each value is
/// in `values` and how it is printed. For a converter that writes many lines with the same
/// device file; `values` must outlive the writer and keep its place.
class EngrLineWriter {
 public:
  EngrLineWriter(const measure::DeviceConfig& config, const measure::EngValues& values);
  /// The most characters one line can take.
  size_t maxChars() const;
  /// The line of `sample`, `clock` and the values now in `values`, written at `at` (room
  /// for maxChars()); returns its end. No allocation, no copy.
  char* write(char* at, const measure::SampleState& sample, const measure::MeterClock& clock) const;

 private:
  struct Column {
    const double* value;
    int width, precision;
  };
  std::vector<Column> m_columns;
};

/// EngrLine appended to `out` (which keeps what it held).
void appendEngrLine(std::string& out, const measure::DeviceConfig& config,
                    const measure::SampleState& sample, const measure::MeterClock& clock,
                    const measure::EngValues& values);

}  // namespace files
