#include "acquire/logclock.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "files/csvformat.h"

namespace acquire {

namespace {

bool digits(const std::string& text, size_t at, size_t count, unsigned& out) {
  if (at + count > text.size()) return false;
  out = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    out = out * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

}  // namespace

std::optional<LogClock::TimePoint> parseUtcTime(const std::string& text) {
  unsigned year, month, day, hour, minute, second, millis = 0;
  if (!digits(text, 0, 4, year) || text.size() < 20 || text[4] != '-' || !digits(text, 5, 2, month) ||
      text[7] != '-' || !digits(text, 8, 2, day) || text[10] != 'T' || !digits(text, 11, 2, hour) ||
      text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second))
    return std::nullopt;
  size_t at = 19;
  if (text[at] == '.') {
    if (!digits(text, at + 1, 3, millis)) return std::nullopt;
    at += 4;
  }
  if (at + 1 != text.size() || text[at] != 'Z') return std::nullopt;
  using namespace std::chrono;
  const year_month_day date{std::chrono::year(static_cast<int>(year)), std::chrono::month(month), std::chrono::day(day)};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return time_point_cast<system_clock::duration>(sys_days(date) + hours(hour) + minutes(minute) + seconds(second) +
                                                 milliseconds(millis));
}

std::optional<LogClock> LogClock::fromEnvironment() {
  using namespace std::chrono;
  system_clock::duration offset{}, step{};
  steady_clock::duration after{};
  const char* start = std::getenv("MARU_LOG_CLOCK_START");
  if (start != nullptr && *start != '\0') {
    const auto at = parseUtcTime(start);
    if (!at) return std::nullopt;
    offset = *at - system_clock::now();
  }
  const char* stepText = std::getenv("MARU_LOG_CLOCK_STEP");
  if (stepText != nullptr && *stepText != '\0') {
    char* end = nullptr;
    const double by = std::strtod(stepText, &end);
    if (end == stepText || *end != '@') return std::nullopt;
    const char* afterText = end + 1;
    const double wait = std::strtod(afterText, &end);
    if (end == afterText || *end != '\0' || !(wait >= 0) || !(std::abs(by) < 1e9)) return std::nullopt;
    step = duration_cast<system_clock::duration>(duration<double>(by));
    after = duration_cast<steady_clock::duration>(duration<double>(wait));
  }
  return LogClock(offset, step, after);
}

std::optional<double> ClockStepWatch::look(LogClock::TimePoint reading, std::chrono::steady_clock::time_point real) {
  using namespace std::chrono;
  std::optional<double> step;
  if (m_reading) {
    const double moved = duration<double>(reading - *m_reading).count();
    const double passed = duration<double>(real - m_real).count();
    if (std::abs(moved - passed) >= 1.0) step = moved - passed;
  }
  m_reading = reading;
  m_real = real;
  return step;
}

std::string utcDayStamp(LogClock::TimePoint time) {
  const std::string iso = files::IsoUtcMillis(time);  // "YYYY-MM-DDT..."
  return iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2);
}

}  // namespace acquire
