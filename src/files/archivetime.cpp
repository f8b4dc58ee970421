#include "files/archivetime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

namespace files {

namespace {

bool twoDigits(std::string_view text, size_t at, int& value) {
  if (at + 2 > text.size()) return false;
  const char a = text[at], b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return false;
  value = (a - '0') * 10 + (b - '0');
  return true;
}

std::string signedHoursMinutes(int minutes) {
  const int magnitude = minutes < 0 ? -minutes : minutes;
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

// The civil date and time as written by the meter, when it is one: seconds since
// 1970-01-01 00:00 of its wall clock.
std::optional<long long> meterLocalSeconds(const measure::MeterClock& clock) {
  using namespace std::chrono;
  if (clock.MeterHour < 0 || clock.MeterHour > 23 || clock.MeterMinute < 0 || clock.MeterMinute > 59 ||
      clock.MeterSecond < 0 || clock.MeterSecond > 59)
    return std::nullopt;
  // Samples come in days' worth: the last date's day number is kept (a conversion asks for
  // every sample's time).
  struct Day {
    int year = -1, month = -1, day = -1;
    std::optional<long long> number;  ///< days since 1970-01-01
  };
  thread_local Day last;
  if (clock.MeterYear != last.year || clock.MeterMonth != last.month || clock.MeterDay != last.day) {
    last = Day{clock.MeterYear, clock.MeterMonth, clock.MeterDay, std::nullopt};
    const year_month_day date{year{2000 + clock.MeterYear}, month{static_cast<unsigned>(clock.MeterMonth)},
                              day{static_cast<unsigned>(clock.MeterDay)}};
    if (clock.MeterYear >= 0 && clock.MeterYear <= 99 && clock.MeterMonth >= 1 && clock.MeterMonth <= 12 &&
        clock.MeterDay >= 1 && date.ok())
      last.number = sys_days{date}.time_since_epoch().count();
  }
  if (!last.number) return std::nullopt;
  return *last.number * 86400 + clock.MeterHour * 3600 + clock.MeterMinute * 60 + clock.MeterSecond;
}

}  // namespace

std::string UtcOffset::isoSuffix(long long wallSeconds) const {
  const int at = minutesFor(wallSeconds);
  return at == 0 ? "Z" : signedHoursMinutes(at);
}

std::string UtcOffset::text() const {
  if (!name.empty()) return name;
  return minutes == 0 ? "UTC" : signedHoursMinutes(minutes);
}

std::optional<UtcOffset> parseUtcOffset(std::string_view text) {
  if (text == "UTC" || text == "utc" || text == "Z") return UtcOffset{};
  int hours = 0, minutes = 0;
  if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':' || !twoDigits(text, 1, hours) ||
      !twoDigits(text, 4, minutes))
    return std::nullopt;
  const int total = hours * 60 + minutes;
  if (minutes > 59 || total > 14 * 60) return std::nullopt;
  UtcOffset offset;
  offset.minutes = text[0] == '-' ? -total : total;
  return offset;
}

void MeterClockKnowledge::noteDataLine(std::string_view line) {
  // The decoder takes a field with colons as HH:MM:SS or rejects the line.
  if (!m_timeKnown && line.find(':') != std::string_view::npos) m_timeKnown = true;
}

void MeterClockKnowledge::noteReply(std::string_view line, bool matched) {
  if (!matched || line.size() < 3) return;
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  if (upper(line[0]) == 'C' && upper(line[1]) == 'L' && upper(line[2]) == 'K') m_timeKnown = true;
}

std::optional<double> meterEpochSeconds(const measure::MeterClock& clock, bool dateKnown, bool timeKnown,
                                        const UtcOffset& offset) {
  if (!dateKnown || !timeKnown) return std::nullopt;
  const std::optional<long long> wall = meterLocalSeconds(clock);
  if (!wall) return std::nullopt;
  return static_cast<double>(*wall) - offset.minutesFor(*wall) * 60.0;
}

std::string meterIsoTime(const measure::MeterClock& clock, bool dateKnown, bool timeKnown, const UtcOffset& offset) {
  const auto local = meterLocalSeconds(clock);
  if (!dateKnown || !timeKnown || !local) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", 2000 + clock.MeterYear, clock.MeterMonth,
                clock.MeterDay, clock.MeterHour, clock.MeterMinute, clock.MeterSecond);
  return text + offset.isoSuffix(*local);
}

std::string isoUtc(double epochSeconds) {
  using namespace std::chrono;
  const sys_seconds at{seconds{static_cast<long long>(std::floor(epochSeconds))}};
  const sys_days days = floor<std::chrono::days>(at);
  const year_month_day date{days};
  const hh_mm_ss<seconds> time{at - days};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace files
