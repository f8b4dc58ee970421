#include "link/portslots.h"

#include <QSerialPortInfo>
#include <algorithm>

namespace meterlink {

bool PortSlots::bind(int slot, const std::string& path) {
  if (slot < 1 || slot > kSlots) return false;
  m_paths[slot - 1] = path;
  m_explicit[slot - 1] = true;
  return true;
}

bool PortSlots::bindSpec(const std::string& def) {
  const auto eq = def.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 >= def.size()) return false;
  int slot = 0;
  for (size_t i = 0; i < eq; ++i) {
    if (def[i] < '0' || def[i] > '9') return false;
    slot = slot * 10 + (def[i] - '0');
    if (slot > kSlots) return false;
  }
  return bind(slot, def.substr(eq + 1));
}

void PortSlots::autoBind(const std::vector<std::string>& adapters) {
  size_t next = 0;
  for (int i = 0; i < kSlots && next < adapters.size(); ++i) {
    if (!m_paths[i].empty()) continue;
    // Skip adapters that a slot already names explicitly.
    while (next < adapters.size() &&
           std::find(m_paths.begin(), m_paths.end(), adapters[next]) != m_paths.end())
      ++next;
    if (next < adapters.size()) m_paths[i] = adapters[next++];
  }
}

void PortSlots::autoBindSystem() {
#if defined(_WIN32)
  // On Windows the items mean COM1 … COM8 themselves.
  for (int i = 0; i < kSlots; ++i)
    if (m_paths[i].empty()) m_paths[i] = "COM" + std::to_string(i + 1);
#else
  // USB adapters first (they carry a vendor id), then the other serial devices the
  // system lists, so that a single plugged-in adapter lands on "COM 1".
  std::vector<std::string> usb, other;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    const std::string path = info.systemLocation().toStdString();
    (info.hasVendorIdentifier() ? usb : other).push_back(path);
  }
  std::sort(usb.begin(), usb.end());
  std::sort(other.begin(), other.end());
  usb.insert(usb.end(), other.begin(), other.end());
  autoBind(usb);
#endif
}

std::string PortSlots::device(int slot) const {
  if (slot < 1 || slot > kSlots) return {};
  return m_paths[slot - 1];
}

bool PortSlots::explicitlyBound(int slot) const {
  return slot >= 1 && slot <= kSlots && m_explicit[slot - 1];
}

}  // namespace meterlink
