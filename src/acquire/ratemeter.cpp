#include "acquire/ratemeter.h"

namespace acquire {

bool RateMeter::sample() {
  if (m_count < 0) {
    m_window = 5;
    m_ticks = 1;
    m_previous = 1;
  }
  ++m_count;
  if (m_count < m_window) return false;
  const float period = static_cast<float>(m_ticks - m_previous) * kTickSeconds / static_cast<float>(m_window);
  m_previous = m_ticks;
  m_hz = period > 0.005f ? 1.0f / period : 0.01f;
  m_window = m_hz > 5.5f ? 10 : static_cast<int>(m_hz * 10.0f);
  if (m_window < 5) m_window = 5;
  m_count = 0;
  ++m_measurements;
  return true;
}

}  // namespace acquire
