#pragma once
// The copy of the meter's memory into a file, as the session runs it: the port's bytes go
// here instead of to the framer while it is active. Progress, the end and its cause are
// told to one handler; nothing here shows anything.
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "files/transfersession.h"

namespace acquire {

class MemoryTransfer {
 public:
  using Status = files::TransferSession::Status;
  /// Bytes received so far, and the bytes expected (0: not known).
  struct Progress {
    long current = 0;
    long maximum = 0;
  };
  enum class Event { Progress, Complete, WriteFailed, Silence };
  using Handler = std::function<void(Event, Progress)>;

  void setHandler(Handler handler) { m_handler = std::move(handler); }
  /// Opens `path` for a new transfer of about `expectedBytes` (0: not known). When the
  /// file cannot be made, a running transfer goes on untouched and the result is false.
  bool start(const std::string& path, long expectedBytes);
  /// The port's bytes while active: Progress, and Complete or WriteFailed when it ended.
  void take(std::string_view bytes);
  /// Once per receive tick: the silence watchdog (Silence when it ended a transfer that
  /// was not cancelled).
  void tick();
  /// Marks a running transfer Cancelled; it still ends by marker or silence.
  void cancel() { m_session.cancel(); }
  /// Closes the file as it stands (program exit).
  void close() { m_session.close(); }

  bool active() const { return m_session.active(); }
  Status status() const { return m_session.status(); }
  int idleTicks() const { return m_session.idleTicks(); }
  Progress progress() const { return {m_session.bytes(), m_expected}; }
  /// Percent of the maximum (100 once complete, whatever the maximum said); -1 while it
  /// runs against an unknown maximum.
  int percent() const;
  /// Since the start, until the transfer ended.
  std::chrono::seconds elapsed() const;

 private:
  void tell(Event event);

  files::TransferSession m_session;
  Handler m_handler;
  long m_expected = 0;
  std::chrono::steady_clock::time_point m_start{}, m_end{};
};

}  // namespace acquire
