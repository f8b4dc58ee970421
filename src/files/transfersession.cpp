#include "files/transfersession.h"

namespace files {

bool TransferSession::start(const std::string& path) {
  // The reader opens the new file before it lets go of the old one, so the transfer
  // still running ends with its file already closed.
  if (!m_reader.open(path)) return false;
  if (m_active) end(Status::Incomplete, false);
  m_active = true;
  m_status = Status::InProgress;
  m_idleTicks = kIdleTicks;
  return true;
}

TransferSession::Event TransferSession::take(std::string_view bytes) {
  if (!m_active || bytes.empty()) return Event::None;
  m_idleTicks = kIdleTicks;
  const TransferReader::Result result = m_reader.take(bytes);
  if (!result.written) {
    // A cancelled transfer whose file fails is incomplete all the same.
    m_status = Status::Incomplete;
    end(Status::Incomplete);
    return Event::WriteFailed;
  }
  if (result.endMarker) {
    end(Status::Complete);
    return Event::Complete;
  }
  return Event::None;
}

TransferSession::Event TransferSession::tick() {
  if (m_idleTicks != 0) {
    --m_idleTicks;
    return Event::None;
  }
  if (!m_active) return Event::None;
  const bool cancelled = m_status == Status::Cancelled;
  end(Status::Incomplete);
  return cancelled ? Event::None : Event::Silence;
}

void TransferSession::cancel() {
  if (m_active) m_status = Status::Cancelled;
}

void TransferSession::close() {
  m_reader.close();
  m_active = false;
}

void TransferSession::end(Status outcome, bool closeFile) {
  if (closeFile) m_reader.close();
  m_active = false;
  m_idleTicks = 0;
  if (m_status != Status::Cancelled) m_status = outcome;
}

}  // namespace files
