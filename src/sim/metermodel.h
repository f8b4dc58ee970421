#pragma once
// The virtual meter: a meter's settings, clock, internal memory and data stream, and
// the meter side of the command protocol. Pure: no I/O, no wall clock.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "sim/civiltime.h"
#include "sim/noise.h"

namespace measure {
struct DeviceConfig;
}

namespace sim {

/// What one field of a data line holds: a column kind code of the device file, and the
/// scale, offset and wavelength the device file gives that kind (the meter sends the
/// counts that the program's conversion turns into plausible values).
struct ColumnSpec {
  int kind = 0;
  double scale = 1.0;
  double offset = 0.0;
  int wavelength = 0;  ///< nanometres, of a backscatter signal; 0 when the file gives none
};

/// The device file's backscattering parameters, which the conversion of backscatter
/// counts uses (the scattering of the water itself, and the chi factor).
struct Scattering {
  double salinity = 0.0;
  double thetaRadians = 0.0;
  double xFactor = 0.0;
  bool seaWater = true;
};

/// The columns of a data line as a loaded device file describes them: "Columns=" fields
/// (or the described ones when that is 0), kinds from the column lines, kind 0 beyond.
std::vector<ColumnSpec> columnsFromConfig(const measure::DeviceConfig& config);
/// The backscattering parameters of a loaded device file.
Scattering scatteringFromConfig(const measure::DeviceConfig& config);
/// The built-in column set, that of examples/bb3.dev: date, time, three backscatter
/// signals at 470, 532 and 650 nm each with its reference to the left, internal
/// temperature (nine fields).
std::vector<ColumnSpec> defaultColumns();
/// The backscattering parameters of examples/bb3.dev (sea water of salinity 35, 117
/// degrees, chi 1.1).
Scattering defaultScattering();

/// Deliberate faults for tests of the receiving side.
struct Faults {
  bool longLine = false;      ///< now and then a line of more than 250 characters
  bool garbage = false;       ///< now and then a burst of random bytes (NUL and 0xFF included) before a line
  bool wrongColumns = false;  ///< now and then a line with one field too few or too many
  bool noEtx = false;         ///< a memory dump ends without its "etx" line
};

struct MeterModelOptions {
  std::vector<ColumnSpec> columns = defaultColumns();
  Scattering scattering = defaultScattering();
  uint32_t seed = 1;  ///< every value the meter makes, and the water it sees
  int baud = 19200;              ///< line speed; 10 bit times per byte
  double rateHz = 0.0;           ///< fixed data-line rate; 0 = follow the averaging
  CivilTime clockStart;          ///< the meter clock at virtual time 0
  bool runAtPowerOn = true;      ///< real meters start streaming when powered
  size_t memoryBytes = 0;        ///< logged data-line text already in memory (capped at the memory size)
  Faults faults;
  std::string version = "MARU-SIM 1.00";  ///< the text after "VER "
};

/// The setup a meter keeps in its working memory (and a copy in flash).
struct MeterSettings {
  uint32_t average = 30;
  uint32_t samples = 0;
  uint32_t cycles = 1;
  std::string interval = "000000";  ///< HHMMSS
  bool logging = false;
  bool engrOutput = false;
  uint32_t analogRange = 2;         ///< 1, 2 or 4
  uint32_t engrScale = 20;          ///< units of 0.0001, 1..255
  uint32_t engrOffset = 0;          ///< 0..127
  uint32_t ph1On = 5, ph1Off = 7, ph11On = 9, ph11Off = 11;
  bool operator==(const MeterSettings&) const = default;
};

/// The meter model. Time is virtual, in nanoseconds from power-on; the caller moves it
/// forward with advanceTo() and gets back exactly the bytes the meter's serial line
/// carried meanwhile (baud / 10 bytes a second at most). Commands given to receive()
/// act at the current virtual time. Given the same options and the same commands at the
/// same virtual times, the output is the same byte for byte, however finely time is cut.
class MeterModel {
 public:
  using Nanos = int64_t;
  static constexpr Nanos kNever = std::numeric_limits<Nanos>::max();
  static constexpr size_t kPageBytes = 264;
  static constexpr int kPages = 4095;
  static constexpr size_t kMemoryBytes = kPageBytes * kPages;  ///< 1,081,080
  static constexpr size_t kMaxCommand = 80;  ///< longer commands are discarded whole

  explicit MeterModel(MeterModelOptions options);

  /// Bytes from the host. Commands end with CR or LF; five "!" in a row stop the data
  /// stream and a memory dump at once, with or without a line end.
  void receive(std::string_view bytes);
  /// Moves virtual time to `t` (not backwards) and returns the bytes sent until then.
  std::string advanceTo(Nanos t);
  Nanos now() const { return m_now; }
  /// The earliest virtual time at which advanceTo() has something to send or do;
  /// kNever when the meter is idle until the next command.
  Nanos nextActivity() const;

  bool running() const { return m_running; }
  bool dumping() const { return m_dumping; }
  const MeterSettings& settings() const { return m_settings; }
  const MeterSettings& flash() const { return m_flash; }
  /// The logged bytes, in the order they were logged.
  const std::string& memory() const { return m_memory; }
  /// Pages in use (264 bytes each, a started page counts).
  int memoryPages() const;
  /// True once a line did not fit (logging stopped) or the memory is filled to the end.
  bool memoryFull() const { return m_memoryFull || m_memory.size() >= kMemoryBytes; }
  /// Data lines a second at the current settings.
  double sampleRateHz() const;
  /// The meter clock at the current virtual time.
  CivilTime clock() const { return clockAt(m_now); }
  /// Fields in a data line.
  size_t columnCount() const { return m_columns.size(); }
  /// Bytes queued for the line and not yet sent.
  size_t pendingBytes() const { return m_tx.size() - m_txHead; }

 private:
  struct ColumnState {
    double level = 0;  ///< mean counts
    double drift = 0;  ///< slow wander around the level, the channel's own
    double noise = 0;  ///< deviation of the fast noise
    bool loaded = false;  ///< the particle part (level - zero) follows the particle load
    double zero = 0;      ///< counts the program reads as 0 (no particles, no pigment)
    double logRatio = 0;  ///< ln(wavelength / reference wavelength) of a backscatter signal
  };
  /// One slow swing of the water: amplitude x sin(2 pi t / period + phase).
  struct Swing {
    double amplitude = 0, period = 1, phase = 0;
    double at(double seconds) const;
  };

  void execute(const std::string& command);
  void reply(std::string_view line);
  void replyMenu();
  void replyParameters();
  void replyHexPage(std::string_view argument);
  void startRunning();
  void stop();
  void emitDataLine(Nanos at);
  void setUpWater();
  /// A data line stamped with the meter clock's `meterSeconds`, with the water as it is
  /// `seconds` after power-on.
  std::string makeDataLine(int64_t meterSeconds, double seconds);
  double particleLoad(double seconds) const;
  void applyLineFaults(std::string& line);
  void logLine(const std::string& line);
  void fillMemory(size_t bytes);
  void drainUntil(Nanos horizon, std::string& out);
  void refillDump();
  Nanos periodNs() const;
  int64_t meterSecondsAt(Nanos t) const;
  CivilTime clockAt(Nanos t) const { return fromSeconds(meterSecondsAt(t)); }
  void setClock(const CivilTime& t);

  MeterModelOptions m_options;
  std::vector<ColumnSpec> m_columns;
  std::vector<ColumnState> m_columnState;
  Noise m_noise;        ///< values of the data lines
  Noise m_faultNoise;   ///< when and how faults strike, apart so faults leave the values alone
  std::vector<Swing> m_load;  ///< the particle load is exp of their sum
  Swing m_slopeSwing;         ///< how the spectral slope wanders around its mean
  MeterSettings m_settings;
  MeterSettings m_flash;
  std::string m_memory;
  bool m_memoryFull = false;
  int64_t m_clockBase = 0;  ///< meter seconds at virtual time 0

  Nanos m_now = 0;
  Nanos m_byteNs = 0;
  Nanos m_lineFree = 0;  ///< when the transmitter finished (or finishes) its last byte
  std::string m_tx;      ///< bytes queued for the line, sent from m_txHead on
  size_t m_txHead = 0;

  bool m_running = false;
  Nanos m_nextDue = 0;    ///< when the next data line is due while running
  bool m_dumping = false;
  size_t m_dumpPos = 0;

  std::string m_command;  ///< command being received
  bool m_commandTooLong = false;
  int m_bangs = 0;        ///< "!" received in a row
};

}  // namespace sim
