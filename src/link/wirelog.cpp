#include "link/wirelog.h"

#include <cerrno>
#include <cstring>
#include <cstdio>

namespace meterlink {

WireLog::~WireLog() { close(); }

bool WireLog::open(const std::string& path, std::string& error) {
  close();
  // "a": created when missing, every write goes to the end, nothing is truncated.
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) {
    error = "cannot open wire log '" + path + "': " + std::strerror(errno);
    return false;
  }
  m_file = file;
  m_path = path;
  m_failures = 0;
  return true;
}

void WireLog::close() {
  if (!m_file) return;
  std::fclose(m_file);
  m_file = nullptr;
}

bool WireLog::record(Direction direction, const char* bytes, size_t count) {
  if (count == 0) return true;
  return writeLine(direction == Direction::HostToMeter ? '>' : '<', bytes, count);
}

bool WireLog::note(const std::string& text) { return writeLine('#', text.data(), text.size()); }

bool WireLog::writeLine(char mark, const char* bytes, size_t count) {
  if (!m_file) return false;
  m_line = formatTime(Clock::now());
  m_line += ' ';
  m_line += mark;
  m_line += ' ';
  m_line += escape(bytes, count);
  m_line += '\n';
  // One write and a flush per chunk, so that what was logged survives a crash.
  const bool ok = std::fwrite(m_line.data(), 1, m_line.size(), m_file) == m_line.size() && std::fflush(m_file) == 0;
  if (!ok) {
    ++m_failures;
    std::clearerr(m_file);
  }
  return ok;
}

std::string WireLog::escape(const char* bytes, size_t count) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(count + count / 4);
  for (size_t i = 0; i < count; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c >= 0x20 && c <= 0x7E) {
          out += static_cast<char>(c);
        } else {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 0x0F];
        }
    }
  }
  return out;
}

std::string WireLog::formatTime(Clock::time_point when) {
  using namespace std::chrono;
  // Calendar arithmetic in <chrono>: no gmtime_r, the same on every platform, and floor()
  // keeps milliseconds in 0-999 for a time before 1970 too.
  const auto ms = floor<milliseconds>(when);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss time{ms - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return text;
}

}  // namespace meterlink
