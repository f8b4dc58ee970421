#pragma once
// The meter's setup values as its reply lines report them, the reply parser, and the
// exact text of every command the host sends (without the "\r\n" the sender adds).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "measure/sample.h"

namespace meterlink {

struct MeterSetup {
  uint32_t MeterAverage = 1;
  uint32_t MeterSamples = 1;
  uint32_t MeterCycles = 1;
  std::string MeterInterval = "hhmmss";  ///< at most 19 characters
  uint32_t MeterLogging = 0;
  uint32_t MeterEngrOutput = 0;
  int32_t MeterMemoryUsed = -1;          ///< pages of 264 bytes; -1 = not yet known
  uint32_t MeterAnalogRange = 2;
  int32_t MeterEngrScale = 1;            ///< units of 0.0001
  bool MeterEngrScaleFresh = false;
  int32_t MeterEngrOffset = 0;
  bool MeterEngrOffsetFresh = false;
  int32_t MeterPh1OnTime = 5, MeterPh1OffTime = 5, MeterPh11OnTime = 5, MeterPh11OffTime = 5;
  bool MeterPh1OnTimeKnown = false, MeterPh1OffTimeKnown = false;
  bool MeterPh11OnTimeKnown = false, MeterPh11OffTimeKnown = false;
  bool MeterVersionSeen = false;
  bool ReloadPending = false;

  bool operator==(const MeterSetup&) const = default;
};

/// What a reply line asks of the main form beyond the values it set.
struct ReplyEffects {
  bool matched = false;              ///< a keyword matched and its value scanned
  bool storeCurrent = false;         ///< call ShowSetupStoreState(true)
  bool memoryFull = false;           ///< show the memory-full window
  std::optional<std::string> caption;  ///< new window caption ("VER" line)
};

constexpr const char* kCaptionPrefix = "MARU View:  v1.13 07/01/03      MARU: ";

// The meter's memory: pages of 264 bytes, 4095 of them.
constexpr int kMemoryPageBytes = 264;
constexpr int kMemoryPages = 4095;
constexpr long long kMemoryBytes = static_cast<long long>(kMemoryPageBytes) * kMemoryPages;

// The receive loop: bytes taken per tick for lines and for a memory transfer, the
// buffer they are read into, and the ticks after a port change before "$mnu" goes out.
constexpr size_t kReceiveReadBytes = 100;
constexpr size_t kReceiveBufferBytes = 1000;
constexpr size_t kTransferReadBytes = 499;
constexpr int kSetupRequestTicks = 10;

/// The line speeds the host-port dialog offers, in its order (item 0 is 4800 baud).
constexpr std::array<int, 4> kBaudRates = {4800, 9600, 19200, 38400};

/// Parses one reply line (no line end; at most 250 characters as the receive loop
/// delivers it, longer input is cut there). Keywords match on an upper-cased copy;
/// values scan with scanf rules. "CLK"/"DAT" set the clock and note the host time.
ReplyEffects ParseMeterReply(std::string_view line, MeterSetup& setup, measure::MeterClock& clock,
                             const measure::HostTime& hostNow);

/// Typed entries are used up to this many characters (the rest is ignored), both when
/// they are sent as command text and when they are checked as numbers.
constexpr size_t kMaxEntry = 100;

/// Commands as sent (the sender appends "\r\n" in a second write). Typed entries are
/// inserted as text, cut to kMaxEntry characters, and never interpreted.
namespace cmd {
constexpr const char* kRun = "$run";
constexpr const char* kStop = "!!!!!";  ///< written alone, without "\r\n"
constexpr const char* kMenu = "$mnu";
constexpr const char* kStore = "$sto";
constexpr const char* kReload = "$rls";
constexpr const char* kErase = "$emc";
constexpr const char* kGetData = "$get";
constexpr const char* kShutterOpen = "$mvs 1";
constexpr const char* kShutterClose = "$mvs 0";
constexpr const char* kTiming = "$par";
constexpr const char* kTimingSwap = "$swp";
constexpr const char* kOne = "$one";
std::string Average(std::string_view typed);        ///< "$AVE %s"
std::string Packet(std::string_view typed);         ///< "$PKT %s"
std::string Sample(std::string_view typed);         ///< "$SET %s"
std::string Interval(std::string_view typed);       ///< "$INT %s"
std::string Logging(uint32_t meterLogging);         ///< "$REC 0" when logging, else "$REC 1"
std::string Clock(const measure::HostTime& t);      ///< "$CLK hhmmss"
std::string Date(const measure::HostTime& t);       ///< "$DAT mmddyy"
std::string Ph1On(std::string_view typed);          ///< "$01n=%s"
std::string Ph1Off(std::string_view typed);         ///< "$01f %s"
std::string Ph11On(std::string_view typed);         ///< "$11n=%s"
std::string Ph11Off(std::string_view typed);        ///< "$11f=%s"
std::string HexDump(std::string_view typed);        ///< "$hex %s"
std::string AnalogRange(int comboIndex);            ///< "$ASV 1|2|4"
std::string EngrOutput(uint32_t meterEngrOutput);   ///< "$cal 0" when on, else "$cal 1"
std::string Offset(int value);                      ///< "$off %d" (after ParseOffsetEntry)
std::string Scale(long units);                      ///< "$ugl %ld" (after ParseScaleEntry)
}  // namespace cmd

/// Engineering-scale entry: the typed decimal converted exactly to whole 0.0001 units,
/// truncating further decimals ("0.0031" -> 31, "0.00019" -> 1). The number is scanned
/// from the start as scanf would ("+", ".5", "1e-3" forms; blanks before, anything after
/// ignored). NotANumber when none scans; OutOfRange outside 0.0001..0.0255 (both ends in).
struct ScaleEntry {
  enum Result { NotANumber, OutOfRange, Ok } result = NotANumber;
  long units = 0;
};
ScaleEntry ParseScaleEntry(std::string_view typed);

/// Engineering-offset entry: one integer as "%d" scans it ("12abc" -> 12); NotANumber
/// when none scans, OutOfRange outside 0..127.
struct OffsetEntry {
  enum Result { NotANumber, OutOfRange, Ok } result = NotANumber;
  int value = 0;
};
OffsetEntry ParseOffsetEntry(std::string_view typed);

/// The power-user password rule: the first 9 characters of `entry` equal "BlueHeron".
bool PasswordMatches(std::string_view entry);

}  // namespace meterlink
