#pragma once
// The one serial port, over QSerialPort: open, close, write, and a read that never waits.
#include <QObject>
#include <QSerialPort>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "files/bytesource.h"

namespace meterlink {

class WireLog;

/// The serial port is a byte source like a replayed file; it is also where commands go.
class SerialPort : public QObject, public files::ByteSource {
  Q_OBJECT
 public:
  enum class OpenResult { Ok, Failed, PermissionDenied, NotFound, Busy };
  /// A port whose line stayed silent this long after the open was between lines then.
  static constexpr std::chrono::milliseconds kQuietAfterOpen{50};

  explicit SerialPort(QObject* parent = nullptr);
  ~SerialPort() override;

  /// Opens `device` read/write, exclusively, at `baud` 8N1 without flow control. The lock
  /// is taken on the device itself, so every name of one device (a by-id link, the
  /// node) meets the same lock: Busy while another process holds it. What the driver
  /// received before the open is dropped, and since the meter was most likely in the
  /// middle of a line, read() drops the bytes up to the first line end too, unless the
  /// line was found silent for kQuietAfterOpen first.
  OpenResult open(const std::string& device, int baud);
  /// Closes the port; false when a close was attempted and failed. Safe when closed.
  bool close();
  bool isOpen() const;
  /// Writes all bytes (queued, flushed without waiting long). False when not open.
  bool write(const char* bytes, size_t count);
  /// Takes up to `max` bytes that are already waiting; never blocks. 0 when none.
  size_t read(char* buffer, size_t max) override;
  /// The receiver's overrun count (bytes the hardware or driver lost), where the driver
  /// tells it; nothing otherwise.
  std::optional<long long> overrunCount() const;
  /// Called once when the device fails (unplugged adapter, hung-up pty): the port is
  /// already closed by then. The argument says why.
  void setLostHandler(std::function<void(const std::string&)> handler) { m_lost = std::move(handler); }
  /// Every chunk written or read from now on, and each open and close, also goes to
  /// `log` (not owned; it must outlive the port or be unset first). nullptr: none.
  void setWireLog(WireLog* log) { m_wireLog = log; }
  /// Still telling whether the open cut a line: the line has been neither silent for
  /// kQuietAfterOpen nor seen to end since the open. A command's answer that arrives now
  /// would be taken for the cut line's tail.
  bool settling() const { return m_port.isOpen() && m_startingMidLine; }
  /// When the port was last opened.
  std::chrono::steady_clock::time_point openedAt() const { return m_openedAt; }
  std::string device() const { return m_device; }
  int baud() const { return m_baud; }
  QSerialPort& qport() { return m_port; }

 private:
  void onError(QSerialPort::SerialPortError error);
  size_t readWaiting(char* buffer, size_t max);
  QSerialPort m_port;
  bool m_startingMidLine = false;  // dropping what comes before the first line end
  bool m_heardSinceOpen = false;
  std::chrono::steady_clock::time_point m_openedAt;
  std::string m_device;
  int m_baud = 0;
  std::function<void(const std::string&)> m_lost;
  WireLog* m_wireLog = nullptr;
};

/// Why `SerialPort::open(path, …)` just failed with `result`, as lines to show beneath
/// "Could Not Open Comm Port n": the missing device, the group to join (or the new login
/// still needed), the process or lock file holding the port, a running brltty or
/// ModemManager. The port is examined again when called (see portprobe.h), so call it
/// right after the failed open. "" for OpenResult::Ok.
std::string explainOpenFailure(const std::string& path, SerialPort::OpenResult result);

}  // namespace meterlink
