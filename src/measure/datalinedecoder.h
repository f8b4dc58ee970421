#pragma once
// Splits a received line into numeric fields and, when it is a data line, stores its
// counts, references, date and time, and advances the sample counters.
#include <string>
#include <string_view>

#include "measure/deviceconfig.h"
#include "measure/devicefile.h"
#include "measure/sample.h"

namespace measure {

class DataLineDecoder {
 public:
  /// All references must outlive the decoder. `warn` receives the mismatch box.
  DataLineDecoder(DeviceConfig& config, SampleState& sample, MeterClock& clock, WarningSink warn,
                  HostClock hostClock = LocalHostTime);

  /// Number of fields (>= 1), or 0 when the line is not numeric data. Fills SampleValues
  /// and the pending date/time parts. Lines with more than 60 fields, or a field longer
  /// than 223 characters, are not data.
  int SplitFields(std::string_view line);

  /// 1 when the line is taken as a data line, 0 otherwise. `deviceFileInForce` is
  /// "DeviceFilePath is not empty": without it every line is taken, even non-numeric ones;
  /// with it a line must split and have ExpectedColumns fields. The line's date and time
  /// parts reach `clock` only when it is taken; a line without them leaves the clock's.
  int ParseDataLine(std::string_view line, bool deviceFileInForce);

 private:
  DeviceConfig& m_config;
  SampleState& m_sample;
  MeterClock& m_clock;
  WarningSink m_warn;
  HostClock m_hostClock;
  bool m_lineHasDate = false, m_lineHasTime = false;
  int m_lineDate[3] = {0, 0, 0};
  int m_lineTime[3] = {0, 0, 0};
};

}  // namespace measure
