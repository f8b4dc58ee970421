#pragma once
// The meter settings an operator types, checked before anything goes on the wire: a
// mistyped or untouched entry (the "HHMMSS" placeholder) must never reach the meter as a
// setting.
#include <optional>
#include <string>
#include <string_view>

namespace meterlink {

enum class Setting { Average, Samples, Cycles, Interval, PhaseTime, HexPage };

struct SettingEntry {
  std::optional<std::string> value;  ///< what to send (the digits, without blanks); none when refused
  std::string problem;               ///< why it was refused, naming the field and what it takes
};

/// Checks `typed` for `setting`: whole numbers within the meter's range (averaging 1-65535,
/// samples and cycles 0-65535, a phase time 0-9999 ms, a hex-dump page 1-4095), or six digits
/// HHMMSS with minutes and seconds below 60 for the cycle interval. Blanks around it are
/// dropped.
SettingEntry checkSetting(Setting setting, std::string_view typed);

}  // namespace meterlink
