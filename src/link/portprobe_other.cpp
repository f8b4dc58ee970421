// Port probes where there is no POSIX device tree (Windows): a trial open through the
// serial layer tells present, busy or refused; there are no by-id links, groups or /proc.
#include <QSerialPort>

#include "link/portprobe.h"
#include "link/portprobe_platform.h"

namespace meterlink {

namespace probe {

std::string byIdLinkFor(const std::string&, const ProbeHost&) { return {}; }

bool isKernelConsole(const std::string&, const ProbeHost&) { return false; }

}  // namespace probe

PortDiagnosis diagnosePort(const std::string& path, const ProbeHost&) {
  PortDiagnosis d;
  d.path = d.devicePath = path;
  QSerialPort port;
  port.setPortName(QString::fromStdString(path));
  if (!path.empty() && port.open(QIODevice::ReadWrite)) {
    port.close();
    d.access = PortAccess::Ok;
    return d;
  }
  switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
      d.access = PortAccess::NotFound;
      break;
    case QSerialPort::PermissionError:
      // Windows answers "access denied" for a port another program has open.
      d.access = PortAccess::Busy;
      break;
    default:
      d.access = path.empty() ? PortAccess::NotFound : PortAccess::Failed;
      break;
  }
  return d;
}

}  // namespace meterlink
