#include "link/portprobe.h"

#include <QSerialPortInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/portprobe_platform.h"
#include "link/serialport.h"

namespace meterlink {

namespace {

std::string processText(long pid, const std::string& name) {
  std::string text = "process " + std::to_string(pid);
  if (!name.empty()) text += " (" + name + ")";
  return text;
}

std::string holdersText(const std::vector<PortHolder>& holders) {
  std::string text = holders.size() == 1 ? "process " : "processes ";
  for (size_t i = 0; i < holders.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(holders[i].pid);
    if (!holders[i].name.empty()) text += " (" + holders[i].name + ")";
  }
  return text;
}

// Advice for the programs that are known to take serial adapters away from others.
std::string grabberAdvice(const PortHolder& grabber) {
  const std::string who = grabber.name + " (process " + std::to_string(grabber.pid) + ")";
  if (grabber.name == "brltty")
    return who +
           " is running: this braille display driver takes over some USB serial adapters. Without a "
           "braille display, stop it for good: sudo systemctl mask --now brltty-udev.service brltty.service "
           "(or remove the brltty package), then plug the adapter in again.";
  return who +
         " is running: it probes new serial devices as modems and holds them for a while. Without a "
         "modem, stop it for good: sudo systemctl disable --now ModemManager.";
}

std::vector<SerialAdapter> qtSystemPorts() {
  std::vector<SerialAdapter> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    SerialAdapter a;
#if defined(_WIN32)
    a.path = info.portName().toStdString();  // COMn, as the port is opened
#else
    a.path = info.systemLocation().toStdString();
#endif
    a.description = info.description().toStdString();
    a.manufacturer = info.manufacturer().toStdString();
    a.serialNumber = info.serialNumber().toStdString();
    if (info.hasVendorIdentifier()) a.vendorId = info.vendorIdentifier();
    if (info.hasProductIdentifier()) a.productId = info.productIdentifier();
    ports.push_back(std::move(a));
  }
  return ports;
}

}  // namespace

std::string vidPidText(const SerialAdapter& adapter) {
  if (adapter.vendorId < 0) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", adapter.vendorId & 0xffff,
                adapter.productId < 0 ? 0 : adapter.productId & 0xffff);
  return text;
}

std::string explainDiagnosis(const PortDiagnosis& d, PortAccess reported) {
  const PortAccess kind = d.access == PortAccess::Unknown ? reported : d.access;
  const std::string& path = d.path;
  std::vector<std::string> lines;
  switch (kind) {
    case PortAccess::Ok:
      if (reported == PortAccess::Ok) return {};
      lines.push_back(path + " opens now: it was busy for a moment, perhaps. Try again.");
      break;
    case PortAccess::NotFound:
      if (d.error == ENXIO || d.error == ENODEV)
        lines.push_back(path + " exists, but no device answers behind it: the adapter is not plugged in, "
                               "or it has another name now.");
      else
        lines.push_back(path + " does not exist: the adapter is not plugged in, or it has another name now.");
      if (!d.presentAdapters.empty()) {
        std::string present = "Serial adapters present now: ";
        for (size_t i = 0; i < d.presentAdapters.size(); ++i)
          present += (i > 0 ? ", " : "") + d.presentAdapters[i];
        lines.push_back(present + ".");
      }
      break;
    case PortAccess::PermissionDenied:
      if (d.group.empty()) {
        lines.push_back("No permission to use " + path + ".");
      } else if (!d.groupHasAccess) {
        lines.push_back("No permission to use " + path + ": only its owner '" + d.owner + "' may use it (" +
                        d.mode + ", group '" + d.group + "').");
      } else if (d.processInGroup) {
        lines.push_back("No permission to use " + path + ", although this program runs in its group '" + d.group +
                        "' (" + d.mode + "): an access rule beyond the file mode refuses it.");
      } else if (d.userListedInGroup) {
        lines.push_back("No permission to use " + path + ": it belongs to group '" + d.group +
                        "'. Your user is in that group, but this login started before it was added: "
                        "log out and in again.");
      } else {
        lines.push_back("No permission to use " + path + ": it belongs to group '" + d.group +
                        "'. Add your user to that group (sudo usermod -aG " + d.group +
                        " $USER) and log in again.");
      }
      break;
    case PortAccess::Busy:
      if (!d.holders.empty())
        lines.push_back(path + " is in use by " + holdersText(d.holders) + ".");
      else if (d.lockLive)
        lines.push_back(path + " is in use by " + processText(d.lockPid, d.lockOwner) + ".");
      else
        lines.push_back(path + " is in use by another program; which one cannot be seen from this user.");
      break;
    case PortAccess::Failed:
    case PortAccess::Unknown:
      if (d.error != 0)
        lines.push_back("Cannot open " + path + ": " + std::strerror(d.error) + ".");
      else
        lines.push_back("Cannot open " + path + ".");
      break;
  }
  if (!d.lockFile.empty() && kind != PortAccess::NotFound) {
    if (d.lockLive)
      lines.push_back("Lock file " + d.lockFile + " names process " + std::to_string(d.lockPid) + ".");
    else
      lines.push_back("Lock file " + d.lockFile + " names process " + std::to_string(d.lockPid) +
                      ", which has ended: the lock is stale and may be removed.");
  }
  // A grabber explains a port that vanished, is busy or fails; not a permission problem.
  if (kind != PortAccess::PermissionDenied)
    for (const PortHolder& g : d.grabbers) lines.push_back(grabberAdvice(g));

  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

std::string explainOpenFailure(const std::string& path, PortAccess reported, const ProbeHost& host) {
  if (reported == PortAccess::Ok) return {};
  return explainDiagnosis(diagnosePort(path, host), reported);
}

std::string explainOpenFailure(const std::string& path, SerialPort::OpenResult result) {
  switch (result) {
    case SerialPort::OpenResult::Ok: return {};
    case SerialPort::OpenResult::NotFound: return explainOpenFailure(path, PortAccess::NotFound);
    case SerialPort::OpenResult::PermissionDenied: return explainOpenFailure(path, PortAccess::PermissionDenied);
    case SerialPort::OpenResult::Busy: return explainOpenFailure(path, PortAccess::Busy);
    case SerialPort::OpenResult::Failed: break;
  }
  return explainOpenFailure(path, PortAccess::Failed);
}

std::vector<SerialAdapter> listSerialAdapters(const std::vector<std::string>& givenPaths, const ProbeHost& host) {
  std::vector<SerialAdapter> ports = host.systemPorts ? host.systemPorts() : qtSystemPorts();
  // The kernel writes its log to its console: no meter can share that line.
  std::erase_if(ports, [&](const SerialAdapter& a) { return probe::isKernelConsole(a.path, host); });
  std::sort(ports.begin(), ports.end(), [](const SerialAdapter& a, const SerialAdapter& b) { return a.path < b.path; });
  for (const std::string& path : givenPaths) {
    const auto same = std::find_if(ports.begin(), ports.end(), [&](const SerialAdapter& a) { return a.path == path; });
    if (same != ports.end()) {
      same->given = true;
      continue;
    }
    SerialAdapter a;
    a.path = path;
    a.given = true;
    ports.push_back(std::move(a));
  }
  for (SerialAdapter& a : ports) {
    a.byIdLink = probe::byIdLinkFor(a.path, host);
    const PortDiagnosis d = diagnosePort(a.path, host);
    a.access = d.access;
    const bool known = d.access != PortAccess::Ok && d.access != PortAccess::Unknown;
    a.reason = known ? explainDiagnosis(d, d.access) : std::string();
  }
  return ports;
}

}  // namespace meterlink
