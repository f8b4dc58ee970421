#include "link/serialport.h"

#include <QtGlobal>
#include <cstring>
#include <filesystem>

#include "link/wirelog.h"

#if defined(Q_OS_UNIX)
#include <sys/file.h>
#endif
#if defined(Q_OS_LINUX)
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace meterlink {

SerialPort::SerialPort(QObject* parent) : QObject(parent) {
  // Keep the program's own buffer small: what the receive loop has not taken yet stays
  // in the operating system's queue, as it would with a plain polled port.
  m_port.setReadBufferSize(4096);
  connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPort::onError);
}

SerialPort::~SerialPort() { m_port.close(); }

SerialPort::OpenResult SerialPort::open(const std::string& device, int baud) {
  if (m_port.isOpen()) m_port.close();
  m_device = device;
  m_baud = baud;
  // The serial layer's lock file is named after the name it is given: the device's own
  // path makes a by-id link and the node it points to meet the same lock.
  std::error_code ec;
  const std::filesystem::path real = device.empty() ? std::filesystem::path() : std::filesystem::canonical(device, ec);
  m_port.setPortName(QString::fromStdString(ec || real.empty() ? device : real.string()));
  m_port.setBaudRate(baud);
  m_port.setDataBits(QSerialPort::Data8);
  m_port.setParity(QSerialPort::NoParity);
  m_port.setStopBits(QSerialPort::OneStop);
  m_port.setFlowControl(QSerialPort::NoFlowControl);
  if (device.empty() || !m_port.open(QIODevice::ReadWrite)) {
    const auto error = m_port.error();
    if (m_wireLog) m_wireLog->note("cannot open " + device + ": " + m_port.errorString().toStdString());
    m_port.clearError();
    if (error == QSerialPort::PermissionError) return OpenResult::PermissionDenied;
    if (error == QSerialPort::DeviceNotFoundError) return OpenResult::NotFound;
    return OpenResult::Failed;
  }
  m_port.clearError();
#if defined(Q_OS_UNIX)
  // A lock on the open device itself, which no other name of it escapes (root ignores
  // the exclusive-open flag the serial layer sets).
  if (::flock(static_cast<int>(m_port.handle()), LOCK_EX | LOCK_NB) != 0) {
    m_port.close();
    m_port.clearError();
    if (m_wireLog) m_wireLog->note("cannot open " + device + ": another process holds it");
    return OpenResult::Busy;
  }
#endif
  // Whatever waited in the driver is from before this program listened.
  m_port.clear(QSerialPort::Input);
  m_startingMidLine = true;
  m_heardSinceOpen = false;
  m_openedAt = std::chrono::steady_clock::now();
  if (m_wireLog) m_wireLog->note("opened " + device + " at " + std::to_string(baud) + " baud, 8N1");
  return OpenResult::Ok;
}

bool SerialPort::close() {
  if (!m_port.isOpen()) return true;
  // Only an error raised by the close itself counts: earlier ones (a poll that timed
  // out, say) were handled where they happened.
  m_port.clearError();
  m_port.close();
  const bool ok = m_port.error() == QSerialPort::NoError;
  m_port.clearError();
  if (m_wireLog) m_wireLog->note("closed " + m_device);
  return ok;
}

bool SerialPort::isOpen() const { return m_port.isOpen(); }

bool SerialPort::write(const char* bytes, size_t count) {
  if (!m_port.isOpen()) return false;
  const qint64 n = m_port.write(bytes, static_cast<qint64>(count));
  if (m_wireLog && n > 0) m_wireLog->record(WireLog::Direction::HostToMeter, bytes, static_cast<size_t>(n));
  // Hand the bytes to the driver now rather than at the next event-loop turn.
  if (m_port.isOpen()) m_port.flush();
  return n == static_cast<qint64>(count);
}

size_t SerialPort::read(char* buffer, size_t max) {
  if (max == 0) return 0;
  for (;;) {
    const size_t n = readWaiting(buffer, max);
    if (!m_startingMidLine) return n;
    if (n == 0) {
      // Silence right after the open: the meter is between lines, the next byte starts one.
      if (!m_heardSinceOpen && std::chrono::steady_clock::now() - m_openedAt >= kQuietAfterOpen)
        m_startingMidLine = false;
      return 0;
    }
    m_heardSinceOpen = true;
    const auto* lf = static_cast<const char*>(std::memchr(buffer, '\n', n));
    if (!lf) continue;  // all of it belongs to the cut line
    m_startingMidLine = false;
    const size_t rest = n - static_cast<size_t>(lf + 1 - buffer);
    if (m_wireLog) m_wireLog->note("dropped the line cut by the open, up to its line end");
    std::memmove(buffer, lf + 1, rest);
    if (rest > 0) return rest;
  }
}

size_t SerialPort::readWaiting(char* buffer, size_t max) {
  if (!m_port.isOpen() || max == 0) return 0;
  // Collect whatever the driver holds without waiting (a zero time-out poll), so the
  // read works whether or not the event loop ran since the bytes arrived.
  if (m_port.bytesAvailable() == 0) {
    // An empty poll reports a time-out; that is the normal answer here, not a fault.
    if (!m_port.waitForReadyRead(0) && m_port.error() == QSerialPort::TimeoutError) m_port.clearError();
    if (!m_port.isOpen()) return 0;
  }
  const qint64 n = m_port.read(buffer, static_cast<qint64>(max));
  if (m_wireLog && n > 0) m_wireLog->record(WireLog::Direction::MeterToHost, buffer, static_cast<size_t>(n));
  return n > 0 ? static_cast<size_t>(n) : 0;
}

std::optional<long long> SerialPort::overrunCount() const {
#if defined(Q_OS_LINUX)
  if (!m_port.isOpen()) return std::nullopt;
  serial_icounter_struct counts {};
  if (::ioctl(static_cast<int>(m_port.handle()), TIOCGICOUNT, &counts) != 0) return std::nullopt;
  return static_cast<long long>(counts.overrun) + counts.buf_overrun;
#else
  return std::nullopt;
#endif
}

void SerialPort::onError(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError: {
      if (!m_port.isOpen()) return;
      // The device went away (adapter pulled, pty hung up). The driver would keep
      // reporting this at full speed while the port stays open: close it at once and
      // tell the owner once.
      const std::string reason = m_port.errorString().toStdString();
      m_port.close();
      m_port.clearError();
      if (m_wireLog) m_wireLog->note("lost " + m_device + ": " + reason);
      if (m_lost) m_lost(reason);
      break;
    }
    default:
      break;
  }
}

}  // namespace meterlink
