#include "link/settingentry.h"

namespace meterlink {

namespace {

struct Rule {
  const char* field;
  long low, high;
};

Rule ruleFor(Setting setting) {
  switch (setting) {
    case Setting::Average: return {"Averaging (readings per value)", 1, 65535};
    case Setting::Samples: return {"Number of samples", 0, 65535};
    case Setting::Cycles: return {"Number of cycles", 0, 65535};
    case Setting::PhaseTime: return {"A phase time", 0, 9999};
    case Setting::HexPage: return {"Hex dump page", 1, 4095};
    case Setting::Interval: break;
  }
  return {"Cycle interval", 0, 0};
}

bool allDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

SettingEntry checkSetting(Setting setting, std::string_view typed) {
  const std::string_view text = trimmed(typed);
  const Rule rule = ruleFor(setting);
  const std::string shown = "'" + std::string(typed.substr(0, 40)) + "'";
  if (setting == Setting::Interval) {
    const bool ok = text.size() == 6 && allDigits(text) && text.substr(2, 2) < "60" && text.substr(4, 2) < "60";
    if (ok) return {std::string(text), {}};
    return {std::nullopt, std::string(rule.field) + " takes six digits HHMMSS (hours 00-99, minutes and seconds 00-59), not " +
                              shown + ". Nothing was sent to the meter."};
  }
  // Up to five digits fit the widest range; longer text is out of range however it reads.
  if (allDigits(text) && text.size() <= 5) {
    long value = 0;
    for (const char c : text) value = value * 10 + (c - '0');
    if (value >= rule.low && value <= rule.high) return {std::string(text), {}};
  }
  return {std::nullopt, std::string(rule.field) + " takes a whole number from " + std::to_string(rule.low) + " to " +
                            std::to_string(rule.high) + ", not " + shown + ". Nothing was sent to the meter."};
}

}  // namespace meterlink
