#pragma once
// One acquisition session: the serial port (or another byte source) framed and dispatched
// into the meter's state, each accepted sample handed to the session's sinks as one record
// (its line, the state after it, its host and meter times), commands sent from the
// protocol's constants, and one reconnect policy for a lost port. The window and `maru log`
// are front ends on it: they say what to do and hear back through one listener; nothing
// here waits for an operator or opens a dialog.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/archivetime.h"
#include "files/bytesource.h"
#include "files/csvformat.h"
#include "files/qcrun.h"
#include "files/recording.h"
#include "files/replayreader.h"
#include "link/linedispatch.h"
#include "link/losswatch.h"
#include "link/portprobe.h"
#include "link/serialport.h"
#include "measure/deviceconfig.h"

#include "acquire/memorytransfer.h"
#include "acquire/ratemeter.h"

namespace acquire {

/// measure::LoadDeviceFileAtStart for a front end without a session (maru convert, maru
/// log before its session starts): the start-up defaults, then the file, every message,
/// a failed open or read included, as "Device File Error" to `warn`. False when not loaded.
/// `notDeviceFile` tells whether the file was refused as no device file at all.
bool loadDeviceFileAtStart(const std::string& path, measure::DeviceConfig& config,
                           const std::function<void(const std::string&, const std::string&)>& warn,
                           bool* notDeviceFile = nullptr);

/// One accepted sample, as every output takes it.
struct SampleRecord {
  std::string_view raw;                ///< the line as received (no line end)
  const meterlink::MeterState& state;  ///< the sample, clock and values after it
  files::SampleTimes times;            ///< when the host received it; the meter's time in UTC
  /// Quality control, when the session runs it: qc->now() are this sample's live flags,
  /// qc->previousSpike() the spike flags of the sample before.
  const files::QcRun* qc = nullptr;
  /// The corrections this sample had to leave out (measure::CorrectionSkipped bits).
  int correctionsSkipped = 0;
};

/// Takes each accepted sample: recordings, daily files, feeds.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void sample(const SampleRecord& record) = 0;
  /// A data line that does not fit the device file in force (see Line::unfitFields),
  /// received at `received`: only what records lines as received (.raw) takes it.
  virtual void unfitLine(std::string_view raw, std::chrono::system_clock::time_point received) {
    (void)raw;
    (void)received;
  }
  /// The stream's columns: the device file in force and the checks run on it (null: none).
  /// Told when either changes, and once when the sink is added. Both outlive the next call.
  virtual void columns(const measure::DeviceConfig& config, const files::QcRun* qc) {
    (void)config;
    (void)qc;
  }
  /// The stream ended: the session stops or the sink was removed.
  virtual void end() {}
};

/// What a session tells its front end.
class Listener {
 public:
  virtual ~Listener() = default;
  /// Every framed line, once the meter state took it (a sample decoded, a reply applied),
  /// before the sinks see a sample.
  virtual void line(const meterlink::Line& line) { (void)line; }
  /// A warning as caption and text; the front end shows or prints it.
  virtual void warning(const std::string& caption, const std::string& text) = 0;
  /// The open port failed (it is closed already); the session looks for it once a second.
  virtual void portLost(const std::string& why) { (void)why; }
  /// The lost port was opened again at the same speed, `down` after it was lost.
  virtual void portBack(std::chrono::seconds down) { (void)down; }
  /// A recording ended because its file could not be written; `why` names the file.
  virtual void recordingStopped(files::Recording::Stream stream, const std::string& why) {
    (void)stream;
    warning("Recording Stopped", why);
  }
  /// A device file was loaded (Session::loadDeviceFile) and is in force: `config` is the
  /// state's configuration. What follows the meter's columns (quality control, feeds'
  /// identity, plots, warnings told once per file) starts again from here.
  virtual void deviceFileLoaded(const measure::DeviceConfig& config) { (void)config; }
};

struct SessionOptions {
  /// Stamps the host's time into the meter clock when a line tells the meter's time.
  measure::HostClock hostClock;
  /// The host's UTC time now: each sample's receive time.
  std::function<std::chrono::system_clock::time_point()> utcClock = [] { return std::chrono::system_clock::now(); };
  /// The zone the meter's clock keeps; its times are given in UTC.
  files::UtcOffset meterTimeZone;
  /// Tell of lines lost between the meter and the program ("Lines Lost").
  bool watchLosses = false;
  /// Where a lost adapter is now: its path, or "" to try the path it had. Unset: the
  /// session follows the adapter by its serial number or by-id link itself.
  std::function<std::string()> findLostAdapter;
  /// The serial adapters present now; unset: this machine's.
  std::function<std::vector<meterlink::SerialAdapter>()> listAdapters;
};

class Session {
 public:
  /// `state` and `listener` must outlive the session.
  Session(meterlink::MeterState& state, Listener& listener, SessionOptions options = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  meterlink::MeterState& state() { return m_state; }
  const meterlink::MeterState& state() const { return m_state; }

  enum class Load { Loaded, NotOpened, Invalid };
  /// How much of a failed load is told: everything, or (restoring the last run's
  /// settings, where a file gone since is no news) the parser's own messages only.
  enum class Tell { Everything, ParserOnly };
  /// The one door for a device file: loads `path` into the state's configuration, every
  /// message of the parser going to the listener. Under Tell::Everything a file that
  /// cannot be opened is "Device File Error" / "Could not open device file '…': cause",
  /// one that does not parse "Missing or Invalid device file '…'"; a file that cannot be
  /// read whole (over the size limit) is told in both. Loaded: quality control is bound
  /// to its columns again and the listener hears deviceFileLoaded. A file that is no device
  /// file at all (binary, a recording: measure::NotADeviceFile) is told by name and reason
  /// and changes nothing. Otherwise no column of an earlier file stays configured, and the
  /// QC checks stop.
  Load loadDeviceFile(const std::string& path, Tell tell = Tell::Everything);
  /// The path of the device file in force ("" when none).
  const std::string& deviceFilePath() const { return m_deviceFile; }

  // ---- the port
  /// Opens `path` at `baud` (see SerialPort::open), forgets any line begun before, and
  /// ends any search for a lost port.
  meterlink::SerialPort::OpenResult openPort(const std::string& path, int baud);
  /// Closes the port and ends any search for it; false when the close failed.
  bool closePort();
  bool portOpen() const { return m_port.isOpen(); }
  /// The port's path and speed as last opened.
  std::string portDevice() const { return m_port.device(); }
  int portBaud() const { return m_port.baud(); }
  /// Every chunk sent and received, and each open and close, also goes to `log` (not
  /// owned; unset it before it goes). nullptr: none.
  void setWireLog(meterlink::WireLog* log) { m_port.setWireLog(log); }
  /// The receiver's overrun count where the driver tells it (SerialPort::overrunCount).
  std::optional<long long> overrunCount() const { return m_port.overrunCount(); }
  /// Called (from the event loop) whenever the port has new bytes to read; unset: none.
  void setReadable(std::function<void()> readable);
  /// The bytes the port holds that were not taken yet.
  size_t portBytesWaiting();
  /// Looking for a lost port once a second.
  bool reconnecting() const { return m_reconnect.active; }
  /// Once a second: tries a lost port again (where its adapter is now, else its path).
  void everySecond();

  // ---- commands
  /// Sends `command` and the line end the meter expects ("$run" → "$run\r\n"). Right after
  /// an open, commands wait (in order) until the open has settled, at most kHoldLimit, so
  /// the answer is not dropped as the line the open cut; the port is read meanwhile.
  bool send(std::string_view command);
  /// Sends `bytes` as they are ("!!!!!").
  bool sendBytes(std::string_view bytes);

  // ---- receiving
  /// How lines are judged: with a device file in force only lines that fit it are data;
  /// the backscatter corrections.
  void setRules(bool deviceFileInForce, bool refCorrection, bool tempCorrection);
  /// Takes up to `max` bytes from `source` (the port when nullptr) and dispatches every
  /// line they complete. The bytes taken.
  size_t receive(files::ByteSource* source, size_t max);
  /// Takes every byte the port holds and dispatches the lines they complete, for at most
  /// `budget` (what is left waits for the next call, so a busy port never freezes the
  /// front end). The bytes taken.
  size_t drainPort(std::chrono::milliseconds budget);
  /// Dispatches one whole line as if it had come from the source.
  void dispatchLine(std::string_view line);
  const files::MeterClockKnowledge& clockKnowledge() const { return m_clockKnown; }
  /// The times of the latest sample (set before the listener hears of its line).
  const files::SampleTimes& lastSampleTimes() const { return m_times; }
  /// The zone the meter's clock keeps: samples from now on read their meter time in it
  /// (SessionOptions::meterTimeZone until set).
  void setMeterTimeZone(files::UtcOffset zone) { m_options.meterTimeZone = std::move(zone); }
  const files::UtcOffset& meterTimeZone() const { return m_options.meterTimeZone; }

  // ---- quality control
  /// Checks every sample with `config` from now on (none: no more checks). "" when it
  /// applies to the device file in force, else why not (the checks are off until a device
  /// file that has its streams is loaded). Each sample's time is the meter's where known,
  /// else the host's receive time.
  std::string setQc(std::optional<qc::Config> config);
  const files::QcRun* qc() const { return m_qc ? &*m_qc : nullptr; }
  const std::optional<qc::Config>& qcConfig() const { return m_qcConfig; }

  // ---- where samples go
  /// The sink hears the columns in force at once.
  void addSink(Sink* sink);
  /// The sink hears end().
  void removeSink(Sink* sink);

  // ---- replay
  /// Replays the raw file `path` instead of the port, paused until resume(); an earlier
  /// replay file is closed. False (nothing changes) when it cannot be opened.
  bool replay(const std::string& path);
  void pause() { m_replayRunning = false; }
  void resume() { m_replayRunning = m_replay != nullptr; }
  /// Back to the port: the replay file is closed.
  void stopReplay();
  bool replaying() const { return m_replay != nullptr; }
  bool replayRunning() const { return m_replayRunning; }

  // ---- memory transfer
  /// Opens `path` for the meter's memory and sends "$get"; the port's bytes go to the
  /// transfer instead of the framer while it runs. False when the file cannot be made (a
  /// running transfer goes on). The progress's maximum is the memory the meter reported in use.
  bool startTransfer(const std::string& path);
  MemoryTransfer& transfer() { return m_transfer; }
  const MemoryTransfer& transfer() const { return m_transfer; }

  // ---- one receive tick (55 ms)
  /// Takes this tick's input: the memory transfer's bytes while one runs; else the replay's
  /// paced read while replaying (nothing while paused; a read at the end of the file
  /// rewinds and pauses); else every byte the port holds, for at most `budget`. Then the
  /// transfer's watchdog. The bytes framed.
  size_t takeInput(std::chrono::milliseconds budget);
  /// The sample rate over the receive ticks.
  RateMeter& rate() { return m_rate; }
  const RateMeter& rate() const { return m_rate; }
  /// Closes the recordings' stream (end() to every sink), the replay and the transfer's file.
  void closeFiles();

 private:
  void onLine(const meterlink::Line& line);
  void onPortLost(const std::string& why);
  void announceColumns();
  std::string whereIsLostAdapter();
  /// Sends the commands held while the open settled, once it has (or is overdue).
  void releaseHeld();
  /// The longest a command waits for an open to settle.
  static constexpr std::chrono::milliseconds kHoldLimit{200};

  meterlink::MeterState& m_state;
  Listener& m_listener;
  SessionOptions m_options;
  meterlink::SerialPort m_port;
  QMetaObject::Connection m_readable;
  std::string m_deviceFile;
  std::string m_held;  ///< commands sent while the open settled, in order
  meterlink::LineDispatch m_dispatch;
  meterlink::LossWatch m_losses;
  files::MeterClockKnowledge m_clockKnown;
  files::SampleTimes m_times;
  std::vector<Sink*> m_sinks;
  std::optional<qc::Config> m_qcConfig;
  std::optional<files::QcRun> m_qc;
  std::unique_ptr<files::ReplayReader> m_replay;
  bool m_replayRunning = false;
  MemoryTransfer m_transfer;
  RateMeter m_rate;
  /// The adapter behind the open port, as far as the system tells it.
  meterlink::SerialAdapter m_adapter;
  struct Reconnect {
    bool active = false;
    std::string path;
    int baud = 0;
    std::chrono::steady_clock::time_point lostAt{};
  } m_reconnect;
};

}  // namespace acquire
