#pragma once
// The engineering-units file (*.eng): a header naming the columns, then one line per
// sample. Tab-separated, CR LF line ends, C-locale number formats.
#include <cstddef>
#include <string>

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

/// The most characters one data line of `config` can take.
size_t maxEngrLineChars(const measure::DeviceConfig& config);

/// EngrLine written at `at`, which has room for maxEngrLineChars(config) characters;
/// returns the end. The converter's hot path: no allocation, no copy.
char* writeEngrLine(char* at, const measure::DeviceConfig& config, const measure::SampleState& sample,
                    const measure::MeterClock& clock, const measure::EngValues& values);

/// EngrLine appended to `out` (which keeps what it held): a converter can reuse one buffer
/// for every line and allocate nothing once it is large enough.
void appendEngrLine(std::string& out, const measure::DeviceConfig& config,
                    const measure::SampleState& sample, const measure::MeterClock& clock,
                    const measure::EngValues& values);

}  // namespace files
