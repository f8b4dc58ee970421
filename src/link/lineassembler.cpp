#include "link/lineassembler.h"

namespace meterlink {

void LineAssembler::feed(const char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    if (c == '\n') {
      // The line is complete: hand it on, then start the next one afresh.
      m_length = 0;
      std::string line;
      line.swap(m_buffer);
      m_overflowWarned = false;
      if (m_onLine) m_onLine(line);
      continue;
    }
    if (c == '\r') continue;  // carriage returns never reach a line
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
}

}  // namespace meterlink
