#pragma once
// Frames the byte stream into lines: LF ends a line, CR is dropped, a line longer than
// 250 characters is cut (the overflow warning once per line) and only what follows the
// last cut is dispatched.
#include <functional>
#include <string>
#include <string_view>

namespace meterlink {

class LineAssembler {
 public:
  static constexpr int kMaxLine = 250;
  /// Receives each complete line; the view is valid during the call only.
  using LineSink = std::function<void(std::string_view line)>;
  using OverflowSink = std::function<void()>;

  void setSinks(LineSink onLine, OverflowSink onOverflow) {
    m_onLine = std::move(onLine);
    m_onOverflow = std::move(onOverflow);
  }
  /// Feeds bytes in order; sinks run synchronously, possibly several times. How the
  /// stream is cut into calls makes no difference to the lines.
  void feed(const char* bytes, size_t count);
  const std::string& pending() const { return m_buffer; }
  /// Forgets the line being assembled (its start came from a port that is closed now).
  void dropPending() {
    m_buffer.clear();
    m_length = 0;
    m_overflowWarned = false;
  }

 private:
  void feedByte(char c);
  std::string m_buffer;  ///< at most 251 characters
  int m_length = 0;
  bool m_overflowWarned = false;
  LineSink m_onLine;
  OverflowSink m_onOverflow;
};

}  // namespace meterlink
