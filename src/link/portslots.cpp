#include "link/portslots.h"

#include <algorithm>
#include <sstream>

namespace meterlink {

namespace {

bool hasIdentity(const SerialAdapter& a) { return !a.serialNumber.empty() || !a.byIdLink.empty(); }

// The same adapter: by by-id link, or by serial number (with the same vendor and
// product where both are known).
bool sameAdapter(const SerialAdapter& known, const SerialAdapter& now) {
  if (!known.byIdLink.empty() && known.byIdLink == now.byIdLink) return true;
  if (known.serialNumber.empty() || known.serialNumber != now.serialNumber) return false;
  return known.vendorId < 0 || now.vendorId < 0 ||
         (known.vendorId == now.vendorId && known.productId == now.productId);
}

std::string fileNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool PortSlots::bind(int slot, const std::string& path) {
  if (slot < 1 || slot > kSlots) return false;
  Slot& s = m_slots[static_cast<size_t>(slot - 1)];
  s = Slot{};
  s.path = path;
  s.explicitPath = true;
  s.present = true;
  s.adapter.path = path;
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
  std::vector<SerialAdapter> present;
  for (const std::string& path : adapters) {
    SerialAdapter a;
    a.path = path;
    present.push_back(a);
  }
  refresh(present);
}

void PortSlots::autoBindSystem() {
#if defined(_WIN32)
  // On Windows the items mean COM1 … COM8 themselves.
  for (Slot& s : m_slots)
    if (s.path.empty()) s.path = "COM" + std::to_string(&s - m_slots.data() + 1);
#else
  refresh(listSerialAdapters());
#endif
}

void PortSlots::refresh(const std::vector<SerialAdapter>& present, int keepSlot) {
  std::vector<bool> taken(present.size(), false);
  auto claim = [&](const std::string& path) {
    for (size_t i = 0; i < present.size(); ++i)
      if (present[i].path == path) taken[i] = true;
  };
  // Explicit and kept slots first: their adapters are nobody else's.
  for (size_t n = 0; n < m_slots.size(); ++n) {
    Slot& s = m_slots[n];
    if (!s.explicitPath && static_cast<int>(n) + 1 != keepSlot) continue;
    for (size_t i = 0; i < present.size(); ++i) {
      if (present[i].path != s.path && present[i].byIdLink != s.path) continue;
      taken[i] = true;
      // An explicit path that names a listed adapter (directly or by its by-id link)
      // gets its description.
      if (s.explicitPath) {
        s.adapter = present[i];
        s.adapter.path = s.path;
      }
    }
    claim(s.path);
  }
  // Slots that know their adapter look for it; slots known by path keep an existing path.
  for (size_t n = 0; n < m_slots.size(); ++n) {
    Slot& s = m_slots[n];
    if (s.explicitPath || static_cast<int>(n) + 1 == keepSlot || (s.path.empty() && !hasIdentity(s.adapter))) continue;
    s.present = false;
    for (size_t i = 0; i < present.size(); ++i) {
      const bool match = hasIdentity(s.adapter) ? sameAdapter(s.adapter, present[i]) : present[i].path == s.path;
      if (taken[i] || !match) continue;
      s.adapter = present[i];
      s.path = present[i].path;
      s.present = true;
      taken[i] = true;
      break;
    }
    // Away: a known adapter keeps its slot; a bare path lets it go.
    if (!s.present) {
      if (!hasIdentity(s.adapter)) s = Slot{};
      else s.path = s.adapter.byIdLink.empty() ? s.adapter.path : s.adapter.byIdLink;
    }
  }
  // Newcomers take the free slots in order, so a single adapter lands on "COM 1".
  size_t next = 0;
  for (size_t n = 0; n < m_slots.size(); ++n) {
    Slot& s = m_slots[n];
    if (s.explicitPath || static_cast<int>(n) + 1 == keepSlot || !s.path.empty() || hasIdentity(s.adapter)) continue;
    while (next < present.size() && taken[next]) ++next;
    if (next >= present.size()) break;
    s.adapter = present[next];
    s.path = present[next].path;
    s.present = true;
    taken[next++] = true;
  }
}

std::string PortSlots::device(int slot) const {
  if (slot < 1 || slot > kSlots) return {};
  return m_slots[static_cast<size_t>(slot - 1)].path;
}

bool PortSlots::explicitlyBound(int slot) const {
  return slot >= 1 && slot <= kSlots && m_slots[static_cast<size_t>(slot - 1)].explicitPath;
}

const SerialAdapter& PortSlots::adapter(int slot) const {
  static const SerialAdapter none;
  if (slot < 1 || slot > kSlots) return none;
  return m_slots[static_cast<size_t>(slot - 1)].adapter;
}

std::string PortSlots::describe(int slot) const {
  if (slot < 1 || slot > kSlots) return {};
  const Slot& s = m_slots[static_cast<size_t>(slot - 1)];
  std::vector<std::string> parts;
  if (!s.adapter.description.empty()) parts.push_back(s.adapter.description);
  if (!s.adapter.serialNumber.empty()) parts.push_back("S/N " + s.adapter.serialNumber);
  if (!s.adapter.byIdLink.empty()) parts.push_back("by-id " + fileNameOf(s.adapter.byIdLink));
  if (parts.empty()) return {};
  if (!s.present) parts.push_back("not plugged in");
  std::string text = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) text += ", " + parts[i];
  return text;
}

std::string PortSlots::saveText() const {
  std::string text;
  for (size_t n = 0; n < m_slots.size(); ++n) {
    const Slot& s = m_slots[n];
    if (s.explicitPath || !hasIdentity(s.adapter)) continue;
    auto clean = [](std::string v) {
      std::replace_if(v.begin(), v.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
      return v;
    };
    // Piece by piece: one long chain of + draws a false -Wrestrict from g++ 12 at -O3.
    text += std::to_string(n + 1);
    for (const std::string* part : {&s.adapter.serialNumber, &s.adapter.byIdLink, &s.adapter.path, &s.adapter.description}) {
      text += '\t';
      text += clean(*part);
    }
    text += '\n';
  }
  return text;
}

void PortSlots::loadText(const std::string& text) {
  // What the text says replaces what the slots found on their own.
  for (Slot& s : m_slots)
    if (!s.explicitPath) s = Slot{};
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::string::size_type at = 0;
    for (;;) {
      const auto tab = line.find('\t', at);
      f.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    if (f.size() < 4 || f[0].size() != 1 || f[0][0] < '1' || f[0][0] > '0' + kSlots) continue;
    Slot& s = m_slots[static_cast<size_t>(f[0][0] - '1')];
    if (s.explicitPath || (f[1].empty() && f[2].empty())) continue;
    s = Slot{};
    s.adapter.serialNumber = f[1];
    s.adapter.byIdLink = f[2];
    s.adapter.path = f[3];
    if (f.size() > 4) s.adapter.description = f[4];
    s.path = f[2].empty() ? f[3] : f[2];
  }
}

}  // namespace meterlink
