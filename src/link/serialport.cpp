#include "link/serialport.h"

#include "link/wirelog.h"

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
  m_port.setPortName(QString::fromStdString(device));
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
