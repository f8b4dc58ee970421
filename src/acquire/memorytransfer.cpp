#include "acquire/memorytransfer.h"

#include <algorithm>

namespace acquire {

bool MemoryTransfer::start(const std::string& path, long expectedBytes) {
  if (!m_session.start(path)) return false;
  m_expected = expectedBytes > 0 ? expectedBytes : 0;
  m_start = std::chrono::steady_clock::now();
  tell(Event::Progress);
  return true;
}

void MemoryTransfer::take(std::string_view bytes) {
  if (bytes.empty() || !active()) return;
  switch (m_session.take(bytes)) {
    case files::TransferSession::Event::WriteFailed: return tell(Event::WriteFailed);
    case files::TransferSession::Event::Complete: return tell(Event::Complete);
    default: return tell(Event::Progress);
  }
}

void MemoryTransfer::tick() {
  const bool wasActive = active();
  const auto event = m_session.tick();
  if (!wasActive || active()) return;
  // Cancelled transfers end by silence too, without a warning.
  tell(event == files::TransferSession::Event::Silence ? Event::Silence : Event::Progress);
}

int MemoryTransfer::percent() const {
  if (status() == Status::Complete) return 100;
  if (m_expected > 0) return static_cast<int>(std::min<long>(100, m_session.bytes() * 100 / m_expected));
  return active() ? -1 : 0;
}

std::chrono::seconds MemoryTransfer::elapsed() const {
  const auto until = active() ? std::chrono::steady_clock::now() : m_end;
  return std::chrono::duration_cast<std::chrono::seconds>(until - m_start);
}

void MemoryTransfer::tell(Event event) {
  if (!active()) m_end = std::chrono::steady_clock::now();
  if (m_handler) m_handler(event, progress());
}

}  // namespace acquire
