#pragma once
// A wire log for support: every chunk of bytes that crosses the serial port, appended to a
// text file with the host's UTC time and the direction, so an operator can send us exactly
// what the meter said.
#include <chrono>
#include <cstdio>
#include <string>

namespace meterlink {

/// One line per chunk, flushed as it is written:
///
///     2026-12-08T06:10:39.123Z > $run\r
///     2026-12-08T06:10:39.161Z < 05/14/24\t10:21:00\t700\t4130\t...\r\n
///     2026-12-08T06:10:41.002Z # closed /dev/ttyUSB0
///
/// The time is the host's UTC clock with milliseconds when the chunk was written or read.
/// The direction is `>` for bytes the host sent to the meter, `<` for bytes it received
/// from the meter, `#` for a note of the program's own (port opened, closed, lost).
/// After one blank come the bytes, escaped so that the line is plain ASCII (see escape()).
/// A chunk is what one write or one read of the port moved: a line from the meter may
/// be split over several chunks, or several lines may share one.
class WireLog {
 public:
  enum class Direction { HostToMeter, MeterToHost };
  using Clock = std::chrono::system_clock;

  WireLog() = default;
  ~WireLog();
  WireLog(const WireLog&) = delete;
  WireLog& operator=(const WireLog&) = delete;

  /// Opens `path` for appending: created when missing, never truncated. False with
  /// `error` set (the system's reason) when it cannot be opened; a log already open is
  /// closed first.
  bool open(const std::string& path, std::string& error);
  void close();
  bool isOpen() const { return m_file != nullptr; }
  const std::string& path() const { return m_path; }

  /// Appends one line for `count` bytes moved in `direction`. Nothing for an empty chunk
  /// or a closed log. False when the line could not be written (counted in failures()).
  bool record(Direction direction, const char* bytes, size_t count);
  /// Appends a `#` line with `text` (escaped like the bytes).
  bool note(const std::string& text);
  /// Lines that could not be written since the log was opened.
  long failures() const { return m_failures; }

  /// The readable form of bytes: printable ASCII (0x20-0x7E) as is except the backslash,
  /// which doubles; CR, LF and TAB as \r, \n and \t; every other byte as \xHH (upper-case
  /// hex). A reader gets the exact bytes back by undoing these five forms.
  static std::string escape(const char* bytes, size_t count);
  /// "YYYY-MM-DDTHH:MM:SS.mmmZ" in UTC (milliseconds truncated).
  static std::string formatTime(Clock::time_point when);

 private:
  bool writeLine(char mark, const char* bytes, size_t count);
  std::FILE* m_file = nullptr;
  std::string m_path;
  std::string m_line;  // reused for each line
  long m_failures = 0;
};

}  // namespace meterlink
