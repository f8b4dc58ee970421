#pragma once
// The host-port items "Host Port - COM 1" … "COM 8" are slots. On Windows slot n is COMn;
// elsewhere each slot is bound to a device path: explicitly (--port N=PATH) or to the
// serial adapters found on the machine. A slot keeps an adapter it has known by serial
// number or by-id link, across replugs and restarts.
#include <array>
#include <string>
#include <vector>

#include "link/portprobe.h"

namespace meterlink {

class PortSlots {
 public:
  static constexpr int kSlots = 8;
  /// Binds slot 1..8 to a device path. Returns false for a bad slot number.
  bool bind(int slot, const std::string& path);
  /// Parses "N=PATH" as given to --port.
  bool bindSpec(const std::string& def);
  /// Fills unbound slots with the given adapter paths (already bound paths are skipped).
  void autoBind(const std::vector<std::string>& adapters);
  /// refresh() with the serial adapters the system lists.
  void autoBindSystem();
  /// Takes the adapters present now. Explicit slots stay as they are. A slot that knows
  /// its adapter by serial number or by-id link gets it back wherever the system put it
  /// now, or keeps waiting for it while it is unplugged; a slot known by path alone
  /// keeps that path while it exists. Adapters in no slot take the free slots in order.
  /// `keepSlot` (1..8, 0 for none) is left untouched, e.g. the one whose port is open.
  void refresh(const std::vector<SerialAdapter>& present, int keepSlot = 0);

  /// Device name or path for slot 1..8; "" when the slot means nothing here.
  std::string device(int slot) const;
  bool explicitlyBound(int slot) const;
  /// What is known of the slot's adapter: "FT232R USB UART, S/N A6008isP, by-id
  /// usb-FTDI_…-port0"; "…, not plugged in" while a known adapter is away; "" for none.
  std::string describe(int slot) const;
  /// The adapter last bound to the slot (path, serial number, by-id link, description).
  const SerialAdapter& adapter(int slot) const;

  /// The slots' known adapters as text ("N<TAB>serial<TAB>by-id<TAB>path<TAB>description"
  /// per line), to keep beside the saved settings; loadText() takes it back (explicit
  /// slots and bad lines are skipped; the other slots are bound as the text says only).
  std::string saveText() const;
  void loadText(const std::string& text);

 private:
  struct Slot {
    std::string path;
    bool explicitPath = false;
    bool present = false;  ///< the adapter was among those present at the last refresh
    SerialAdapter adapter;  ///< what identified it (serial, by-id) and describes it
  };
  std::array<Slot, kSlots> m_slots{};
};

}  // namespace meterlink
