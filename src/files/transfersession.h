#pragma once
// The copy of the meter's memory into a file: started by "$get", fed the port's bytes,
// ended by the "etx" marker, by silence, by a failed write or by a new transfer.
#include <string>
#include <string_view>

#include "files/transferreader.h"

namespace files {

class TransferSession {
 public:
  /// Status numbers as the receive-status label shows them.
  enum class Status { None = 0, InProgress = 1, Complete = 2, Incomplete = 3, Cancelled = 4 };
  /// Receive ticks of silence after which a transfer ends (about 1.1 s at 55 ms).
  static constexpr int kIdleTicks = 20;

  /// Opens `path` for a new transfer. The new file is opened first: when it cannot be,
  /// a running transfer goes on untouched and the result is false. A transfer still
  /// running is cut short (Incomplete, unless it was Cancelled).
  bool start(const std::string& path);

  enum class Event { None, Complete, WriteFailed, Silence };
  /// The port's bytes while active: all go to the file. Complete when the marker came,
  /// WriteFailed when the file could not take them (the transfer then ends Incomplete).
  Event take(std::string_view bytes);
  /// The watchdog, once per receive tick: counts the silence down and ends an active
  /// transfer when it runs out; Silence when that ended one that was not cancelled.
  Event tick();
  /// Marks a running transfer Cancelled; it still ends by marker or silence.
  void cancel();
  /// Closes the file as it stands (program exit).
  void close();

  bool active() const { return m_active; }
  Status status() const { return m_status; }
  int idleTicks() const { return m_idleTicks; }
  long bytes() const { return m_reader.bytes(); }

 private:
  /// The one way a transfer ends: the file is closed (unless a new transfer's open did
  /// that already) and the outcome set (a cancelled transfer keeps its Cancelled).
  void end(Status outcome, bool closeFile = true);

  TransferReader m_reader;
  bool m_active = false;
  Status m_status = Status::None;
  int m_idleTicks = 0;
};

}  // namespace files
