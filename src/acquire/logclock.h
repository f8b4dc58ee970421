#pragma once
// The logger's clock: the host's UTC time, optionally shifted so that tests (and anyone
// checking a rollover) can make the logger believe it is some other time.
#include <chrono>
#include <optional>
#include <string>

namespace acquire {

/// The host's system clock plus a fixed offset. The offset comes from the environment
/// variable MARU_LOG_CLOCK_START ("YYYY-MM-DDTHH:MM:SS[.mmm]Z"): the clock then reads that
/// time when the logger starts and runs on at the real rate from there.
class LogClock {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  LogClock() = default;
  explicit LogClock(std::chrono::system_clock::duration offset) : m_offset(offset) {}
  /// The clock MARU_LOG_CLOCK_START asks for (unshifted when it is unset); nullopt when it
  /// is set but not a time of that form.
  static std::optional<LogClock> fromEnvironment();

  TimePoint now() const { return std::chrono::system_clock::now() + m_offset; }
  bool shifted() const { return m_offset.count() != 0; }

 private:
  std::chrono::system_clock::duration m_offset{};
};

/// "YYYY-MM-DDTHH:MM:SS[.mmm]Z" as a UTC time; nullopt when it is not a valid time of that form.
std::optional<LogClock::TimePoint> parseUtcTime(const std::string& text);

/// "YYYYMMDD" of the UTC day `time` falls on.
std::string utcDayStamp(LogClock::TimePoint time);

}  // namespace acquire
