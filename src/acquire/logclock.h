#pragma once
// The logger's clock: the host's UTC time, optionally shifted so that tests (and anyone
// checking a rollover) can make the logger believe it is some other time.
#include <chrono>
#include <optional>
#include <string>

namespace acquire {

/// The host's system clock plus a fixed offset. The offset comes from the environment
/// variable MARU_LOG_CLOCK_START ("YYYY-MM-DDTHH:MM:SS[.mmm]Z"): the clock then reads that
/// time when the logger starts and runs on at the real rate from there. For trying a
/// clock step, MARU_LOG_CLOCK_STEP ("SECONDS@AFTER", e.g. "-30@4") steps it by SECONDS
/// once AFTER seconds have passed.
class LogClock {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  using Duration = std::chrono::system_clock::duration;

  LogClock() = default;
  explicit LogClock(Duration offset, Duration step = {}, std::chrono::steady_clock::duration stepAfter = {})
      : m_offset(offset), m_step(step), m_stepAt(std::chrono::steady_clock::now() + stepAfter) {}
  /// The clock MARU_LOG_CLOCK_START and MARU_LOG_CLOCK_STEP ask for (unshifted when unset);
  /// nullopt when one is set but not of its form.
  static std::optional<LogClock> fromEnvironment();

  TimePoint now() const {
    return std::chrono::system_clock::now() + m_offset +
           (m_step.count() != 0 && std::chrono::steady_clock::now() >= m_stepAt ? m_step : Duration{});
  }
  bool shifted() const { return m_offset.count() != 0 || m_step.count() != 0; }

 private:
  Duration m_offset{}, m_step{};
  std::chrono::steady_clock::time_point m_stepAt;
};

/// Notices the clock stepping: between two looks, its reading moved other than the time
/// that really passed (a monotonic clock's) by at least a second.
class ClockStepWatch {
 public:
  /// The step since the last look in seconds (negative: back), or nothing.
  std::optional<double> look(LogClock::TimePoint reading,
                             std::chrono::steady_clock::time_point real = std::chrono::steady_clock::now());

 private:
  std::optional<LogClock::TimePoint> m_reading;
  std::chrono::steady_clock::time_point m_real;
};

/// "YYYY-MM-DDTHH:MM:SS[.mmm]Z" as a UTC time; nullopt when it is not a valid time of that form.
std::optional<LogClock::TimePoint> parseUtcTime(const std::string& text);

/// "YYYYMMDD" of the UTC day `time` falls on.
std::string utcDayStamp(LogClock::TimePoint time);

}  // namespace acquire
