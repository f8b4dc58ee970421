#pragma once
// The host-port items "Host Port - COM 1" … "COM 8" are slots. On Windows slot n is COMn;
// elsewhere each slot is bound to a device path: explicitly (--port N=PATH) or, for
// slots left unbound, to the serial adapters found on the machine, in order.
#include <array>
#include <string>
#include <vector>

namespace meterlink {

class PortSlots {
 public:
  static constexpr int kSlots = 8;
  /// Binds slot 1..8 to a device path. Returns false for a bad slot number.
  bool bind(int slot, const std::string& path);
  /// Parses "N=PATH" as given to --port.
  bool bindSpec(const std::string& def);
  /// Fills unbound slots with the given adapters (already bound paths are skipped).
  void autoBind(const std::vector<std::string>& adapters);
  /// Fills unbound slots from the serial adapters the system lists (USB first).
  void autoBindSystem();
  /// Device name or path for slot 1..8; "" when the slot means nothing here.
  std::string device(int slot) const;
  bool explicitlyBound(int slot) const;

 private:
  std::array<std::string, kSlots> m_paths{};
  std::array<bool, kSlots> m_explicit{};
};

}  // namespace meterlink
