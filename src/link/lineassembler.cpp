#include "link/lineassembler.h"

#include <cstring>

namespace meterlink {

void LineAssembler::feed(const char* bytes, size_t count) {
  const char* at = bytes;
  const char* const end = bytes + count;
  while (at < end) {
    // Most lines arrive whole and plain: with nothing pending, a line of at most 250
    // characters without CR (but the one before LF) or zero bytes goes out as it
    // stands, without a copy.
    if (m_length == 0 && m_buffer.empty()) {
      const auto* lf = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
      // A CR right before the LF is the usual line end and is simply left out.
      const char* stop = lf && lf > at && lf[-1] == '\r' ? lf - 1 : lf;
      if (lf && stop - at <= kMaxLine) {
        const auto size = static_cast<size_t>(stop - at);
        if (!std::memchr(at, '\r', size) && !std::memchr(at, '\0', size)) {
          m_overflowWarned = false;
          if (m_onLine) m_onLine(std::string_view(at, size));
          at = lf + 1;
          continue;
        }
      }
    }
    // Otherwise byte by byte up to and including the next line feed.
    const char* stop = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
    stop = stop ? stop + 1 : end;
    while (at < stop) feedByte(*at++);
  }
}

void LineAssembler::feedByte(char c) {
  if (c == '\n') {
    // The line is complete: hand it on, then start the next one afresh.
    m_length = 0;
    std::string line;
    line.swap(m_buffer);
    m_overflowWarned = false;
    if (m_onLine) m_onLine(line);
    return;
  }
  if (c == '\r') return;  // carriage returns never reach a line
  if (++m_length > kMaxLine) {
    // Over-long line: drop what was collected; warn once until the next line feed.
    m_length = 0;
    m_buffer.clear();
    if (!m_overflowWarned) {
      m_overflowWarned = true;
      if (m_onOverflow) m_onOverflow();
    }
  }
  // A zero byte is counted but adds nothing to the text.
  if (c != '\0') m_buffer.push_back(c);
}

}  // namespace meterlink
