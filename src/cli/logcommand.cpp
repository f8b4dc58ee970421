// maru log: unattended logging from a meter on a serial port into daily files, with an
// optional live feed to an MQTT broker and UDP. No display, no operator: every warning
// is one line on stderr and logging goes on; a pulled cable is waited for and picked up.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/attributes.h"
#include "cli/commandline.h"
#include "acquire/dailyfiles.h"
#include "acquire/dailynetcdf.h"
#include "acquire/feeds.h"
#include "acquire/journal.h"
#include "acquire/logclock.h"
#include "acquire/session.h"
#include "files/csvformat.h"
#include "link/meterprotocol.h"
#include "link/serialport.h"
#include "link/wirelog.h"
#include "version.h"

namespace {

const char* kDescription =
    "Logs a meter on a serial port without a display. Every accepted data line goes, as\n"
    "it arrives, into three files in DIR named after the host's UTC day:\n"
    "  YYYYMMDD.raw  the line byte for byte plus CR LF, as \"Record Raw\" writes it\n"
    "  YYYYMMDD.eng  the engineering-units file, its header at the top of each file\n"
    "  YYYYMMDD.csv  the program's one CSV layout: host_time_utc (the receive time,\n"
    "                2026-12-08T04:44:03.123Z), meter_time_utc (the meter's clock, taken as\n"
    "                UTC), count, then the values under names with units as in .eng\n"
    "Files roll over at UTC midnight; a file that exists is appended to, never truncated.\n"
    "A file is only appended to under its own header: when the day's .eng or .csv has other\n"
    "columns (another device file or --qc), that set is left as it is and the rows go to\n"
    "YYYYMMDD_2.raw, .eng and .csv (then _3, ...), which a warning line names. A day file\n"
    "that is a symbolic link is not followed (it cannot be written). One logger per DIR:\n"
    "it holds a lock on DIR/.maru-log.lock, and a second one exits naming the first.\n"
    "Lines are flushed as written and synced to disk at least every 10 s. A file only grows\n"
    "by whole rows: a row the disk has no room for is cut off again, and the next rows are\n"
    "tried as they come. What the port held before it was opened, and the line it was in\n"
    "the middle of, are dropped.\n"
    "\n"
    "Warnings go to stderr, one line each (\"caption: text\"), and logging goes on. When the\n"
    "port fails (cable pulled) it is looked for once a second (the same adapter by its serial\n"
    "number or by-id link wherever it comes back, else the same path) and reopened with the\n"
    "same settings; --start then sends \"$run\" again. Another program holding the port\n"
    "under any of its names keeps it locked. On a terminal a status line shows the lines,\n"
    "rate, last values and file sizes.\n"
    "\n"
    "MQTT topics: BASE is PREFIX/PLATFORM/METER (--topic, default maru; --platform, default\n"
    "the host name; --meter-id, default the serial number after \"S/N\" in the device file's\n"
    "title, else the whole title), each level made topic-safe:\n"
    "  BASE/state     retained: \"starting\" (the port was not open yet), \"online\" (the\n"
    "                 port is open and every file takes its rows), \"port_lost\" (waiting\n"
    "                 for the port again), \"recording_stopped\" (a file cannot be\n"
    "                 written), \"offline\" (stopped; also the Last Will)\n"
    "  BASE/status    retained JSON: state, reason, published (acknowledged), dropped\n"
    "                 (data messages lost to the queue's limits, since start), backlog\n"
    "  BASE/metadata  retained JSON: platform, meter_id, title, columns with names and\n"
    "                 units, version\n"
    "  BASE/data      one JSON message per line: platform, meter_id, host_time_utc,\n"
    "                 meter_time_utc, count (lines since the logger started), seq (the\n"
    "                 meter's, +1 per line across restarts), values by column name (full\n"
    "                 precision), raw; QoS 1, each kept in --mqtt-queue until acknowledged\n"
    "                 and sent again after an outage or a restart, oldest first\n"
    "A refused login, an unreadable password file or a failed TLS handshake is one warning\n"
    "line; the files go on and the feed keeps trying each second.\n"
    "UDP: one datagram per line, \"<id> <time_utc> <raw line>\", <id> the topic-safe title.";

const char* kFooter =
    "Signals: SIGTERM and SIGINT end the logger cleanly (exit status 0); SIGHUP reopens the\n"
    "files by name (after a log rotation).\n"
    "Environment: MARU_LOG_CLOCK_START=YYYY-MM-DDTHH:MM:SS[.mmm]Z makes the logger's UTC clock\n"
    "start at that time (for trying a rollover); it then runs at the real rate.\n"
    "MARU_LOG_CLOCK_STEP=SECONDS@AFTER steps that clock by SECONDS once AFTER seconds passed.\n"
    "Exit status: 0 after SIGTERM or SIGINT; 1 DIR or its files cannot be written, or\n"
    "another logger holds DIR; 2 bad arguments or a device file that does not load.\n"
    "The device, QC, attributes and password files are read whole, 1 MiB at most each.";

// ------------------------------------------------------------------ stop and reopen signals

int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

bool installSignals() {
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

// ----------------------------------------------------------------------------- options

struct LogOptions {
  std::string port, dev, out;
  int baud = 19200;
  bool start = false, setClockUtc = false;
  acquire::MqttOptions mqtt;
  std::string udp;
  double noDataAlarm = 0;  // seconds; 0: off
  std::string wireLog;
  std::string qcPath;
  std::optional<qc::Config> qc;
  bool netcdf = false;
  std::vector<std::string> attrPairs;
  std::string attrsPath;
  cli::Attributes attributes;
  cli::VariableAttributes variableAttributes;
  int deflate = 0;
  std::string history;
};

// What the daily NetCDF files are made with: the device file as loaded, before any line.
acquire::DailyNetcdf::Settings netcdfSettings(const LogOptions& options, const measure::DeviceConfig& config) {
  acquire::DailyNetcdf::Settings settings;
  settings.config = config;
  settings.deviceFileText = files::readWholeFile(options.dev);
  settings.history = options.history;
  settings.attributes = options.attributes;
  settings.variableAttributes = options.variableAttributes;
  settings.deflateLevel = options.deflate;
  settings.qc = options.qc;
  return settings;
}

std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

// Under systemd, stderr is the journal: every line then carries its syslog priority.
bool g_journal = false;

// One stderr line, "caption: text".
void printLine(const std::string& caption, const std::string& text) {
  const std::string line = caption + ": " + oneLine(text) + "\n";
  std::fputs(acquire::withPriority(g_journal, acquire::linePriority(caption, text), line).c_str(), stderr);
  std::fflush(stderr);
}

// ----------------------------------------------------------------------------- session

// maru log is an acquisition session with three sinks: the daily files, the live feeds and
// this front end (the status line and the no-data alarm). Every warning is one stderr line.
class LogSession : public acquire::Listener, public acquire::Sink {
 public:
  LogSession(const LogOptions& options, const acquire::LogClock& clock, meterlink::MeterState& state)
      : m_options(options),
        m_clock(clock),
        m_state(state),
        m_session(state, *this, sessionOptions()),
        m_files(options.out, state.config, [this](const std::string& c, const std::string& t) { message(c, t); }),
        m_statusOnTerminal(::isatty(STDOUT_FILENO) == 1) {}

  ~LogSession() override { shutdown(); }

  /// Opens the files and the feeds and starts the port; false when the files cannot be
  /// written (the reason went to stderr).
  bool start() {
    std::string error;
    // Checked before any file is opened, so the CSV files get their flag columns.
    m_session.setQc(m_options.qc);
    m_files.setQc(m_session.qc());
    if (!m_files.open(m_clock.now(), error)) {
      printLine("maru log", error);
      return false;
    }
    // The client's thread hands its news to this one, which owns stderr and the status line.
    m_feeds = std::make_unique<acquire::Feeds>(
        acquire::FeedOptions{m_options.mqtt, m_options.udp, "maru log", MARU_VERSION_STRING}, m_state.config,
        [](const std::string& c, const std::string& t) {
          QMetaObject::invokeMethod(
              QCoreApplication::instance(), [c, t] { if (s_session) s_session->message(c, t); }, Qt::QueuedConnection);
        });
    if (error = m_feeds->openUdp(); !error.empty()) {
      printLine("maru log", "--udp: " + error);
      return false;
    }
    updateFeedState();  // the port is not open yet
    if (error = m_feeds->startMqtt(m_options.dev, m_options.qc ? &*m_options.qc : nullptr); !error.empty())
      message("MQTT", error + "; logging without the MQTT feed");  // the files never wait for it
    if (!m_options.wireLog.empty()) {
      if (!m_wireLog.open(m_options.wireLog, error)) {
        printLine("maru log", "--wire-log: cannot open '" + m_options.wireLog + "': " + error);
        return false;
      }
      m_session.setWireLog(&m_wireLog);
    }
    s_session = this;
    m_session.setRules(true, false, false);
    m_session.addSink(&m_files);
    if (m_options.netcdf) {
      // Made from the daily files when a set closes, at stop, and now for earlier sets.
      m_netcdf = std::make_unique<acquire::DailyNetcdf>(
          m_options.out, netcdfSettings(m_options, m_state.config), [this](const std::string& c, const std::string& t) { message(c, t); });
      m_netcdf->catchUp(currentSet());
      // A slice at a time between the lines: a day's remake never holds up the port.
      m_netcdfWork.setInterval(0);
      QObject::connect(&m_netcdfWork, &QTimer::timeout, [this] {
        if (!m_netcdf->work()) m_netcdfWork.stop();
      });
      if (m_netcdf->busy()) m_netcdfWork.start();
    }
    m_session.addSink(m_feeds.get());
    m_session.addSink(this);

    m_session.setReadable([this] { drain(); });
    m_tick.setInterval(1000);
    QObject::connect(&m_tick, &QTimer::timeout, [this] { tick(); });
    m_afterOpen.setSingleShot(true);
    m_afterOpen.setInterval(meterlink::SerialPort::kQuietAfterOpen * 2);
    QObject::connect(&m_afterOpen, &QTimer::timeout, [this] { afterOpen(); });
    m_tick.start();
    message("Logging", m_options.port + " at " + std::to_string(m_options.baud) + " baud into " + m_options.out +
                           " (UTC day " + m_files.day() + (m_clock.shifted() ? ", clock shifted" : "") + ")");
    tryOpen();
    return true;
  }

  /// Reopens the output files (SIGHUP).
  void reopenFiles() {
    m_files.reopen(m_clock.now());
    message("Files Reopened", m_files.path(acquire::DailyLogFiles::Kind::Raw) + " and its .eng and .csv");
  }

  /// Takes what the port still holds, then closes files, feeds and port.
  void shutdown() {
    if (m_shutDown) return;
    m_shutDown = true;
    m_tick.stop();
    if (m_session.portOpen()) drain();
    clearStatus();
    const std::string set = currentSet();
    m_files.close();
    m_netcdfWork.stop();
    // The day's archive from its record; what does not fit in a few seconds waits for the next start.
    if (m_netcdf) m_netcdf->stop(set, std::chrono::seconds(4));
    if (m_feeds) m_feeds->stop();
    s_session = nullptr;
    m_session.closePort();
    m_session.setWireLog(nullptr);
    m_wireLog.close();
  }

  /// One stderr line, "caption: text"; the status line is cleared first and redrawn
  /// at the next tick.
  void message(const std::string& caption, const std::string& text) {
    clearStatus();
    printLine(caption, text);
  }

  // ---- what the session tells
  void warning(const std::string& caption, const std::string& text) override { message(caption, text); }

  void portLost(const std::string& why) override {
    message("Port Lost", m_options.port + " went away (" + why + "); trying again every second");
    m_waitingReported = true;
    m_files.tick(m_clock.now());
    updateFeedState();
  }

  void portBack(std::chrono::seconds) override { opened(); }

  void sample(const acquire::SampleRecord&) override {
    ++m_lines;
    updateFeedState();
    const auto now = Steady::now();
    if (m_alarmed) {
      const auto quiet = std::chrono::duration_cast<std::chrono::seconds>(now - m_lastActivity).count();
      message("Data Resumed", "data lines from " + m_options.port + " again after " + std::to_string(quiet) + " s");
      m_alarmed = false;
    }
    m_lastActivity = now;
  }

 private:
  using Steady = std::chrono::steady_clock;

  acquire::SessionOptions sessionOptions() {
    acquire::SessionOptions o;
    o.hostClock = [this] { return hostTime(); };
    o.utcClock = [this] { return m_clock.now(); };
    o.watchLosses = true;  // the meter's clock is UTC here (--set-clock-utc sets it so)
    return o;
  }

  // The logger keeps the host's time in UTC throughout.
  measure::HostTime hostTime() const {
    const std::string iso = files::IsoUtcMillis(m_clock.now());  // YYYY-MM-DDTHH:MM:SS
    const auto at = [&](size_t i) { return (iso[i] - '0') * 10 + (iso[i + 1] - '0'); };
    measure::HostTime t;
    t.year = at(2);
    t.month = at(5);
    t.day = at(8);
    t.hour = at(11);
    t.minute = at(14);
    t.second = at(17);
    return t;
  }

  void tryOpen() {
    const auto result = m_session.openPort(m_options.port, m_options.baud);
    if (result != meterlink::SerialPort::OpenResult::Ok) {
      if (!m_waitingReported) {
        std::string why = oneLine(meterlink::explainOpenFailure(m_options.port, result));
        while (!why.empty() && (why.back() == '.' || why.back() == ' ')) why.pop_back();
        message("Port Unavailable", "cannot open " + m_options.port + (why.empty() ? "" : ": " + why) +
                                        "; trying again every second");
        m_waitingReported = true;
      }
      return;
    }
    opened();
  }

  // The port is open, first or again.
  void opened() {
    message(m_openedBefore ? "Port Back" : "Port Open",
            m_options.port + (m_openedBefore ? " reopened" : " opened") + " at " + std::to_string(m_options.baud) +
                " baud, 8N1");
    m_openedBefore = true;
    m_waitingReported = false;
    m_overruns = m_session.overrunCount();
    m_lastActivity = Steady::now();
    updateFeedState();
    drain();
    // A look at the line once it had time to show whether the meter is between lines;
    // commands go out after that, so their answers are not taken for a cut line.
    m_afterOpen.start();
  }

  void afterOpen() {
    if (!m_session.portOpen()) return;
    drain();
    if (m_options.setClockUtc) {
      const measure::HostTime now = hostTime();
      m_session.send(meterlink::cmd::Clock(now));
      m_session.send(meterlink::cmd::Date(now));
    }
    if (m_options.start) m_session.send(meterlink::cmd::kRun);
  }

  // The MQTT state: whether the meter's port is open and every file takes its rows.
  void updateFeedState() {
    if (m_feeds) m_feeds->setHealth({m_options.port, m_session.portOpen(), m_files.stoppedWhy()});
  }

  void drain() {
    // Bounded: a port that never stops talking still lets the ticks run.
    for (int i = 0; i < 64 && m_session.portOpen(); ++i)
      if (m_session.receive(nullptr, 4096) == 0) break;
  }

  // The daily files' set being written ("DIR/YYYYMMDD"; "" while closed).
  std::string currentSet() const {
    if (m_files.day().empty()) return {};
    const std::string raw = m_files.path(acquire::DailyLogFiles::Kind::Raw);
    return raw.substr(0, raw.size() - 4);
  }

  void tick() {
    if (const auto step = m_clockSteps.look(m_clock.now())) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.1f", std::abs(*step));
      message("Clock Stepped", std::string("the host clock ") + (*step < 0 ? "went back" : "jumped forward") + " by " +
                                   seconds + " s; the records keep the times the clock gave");
    }
    m_files.tick(m_clock.now());
    if (m_netcdf) {
      m_netcdf->tick(currentSet());
      if (m_netcdf->busy() && !m_netcdfWork.isActive()) m_netcdfWork.start();
    }
    updateFeedState();
    if (!m_session.portOpen()) {
      if (m_session.reconnecting()) m_session.everySecond();
      else tryOpen();
      return showStatus();
    }
    drain();
    if (const auto overruns = m_session.overrunCount(); overruns && m_overruns && *overruns > *m_overruns) {
      message("Lines Lost", "the serial receiver of " + m_options.port + " overran " +
                                std::to_string(*overruns - *m_overruns) + " more times: bytes were lost");
      m_overruns = overruns;
    }
    if (m_options.noDataAlarm > 0 && !m_alarmed &&
        Steady::now() - m_lastActivity >= std::chrono::duration<double>(m_options.noDataAlarm)) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", m_options.noDataAlarm);
      message("No Data", "no data line from " + m_options.port + " for " + seconds + " s");
      m_alarmed = true;
    }
    showStatus();
  }

  // ---------------------------------------------------------------- terminal status line

  void showStatus() {
    if (!m_statusOnTerminal) return;
    const auto now = Steady::now();
    const double seconds = std::chrono::duration<double>(now - m_rateSince).count();
    if (seconds >= 1.0) {
      m_rate = static_cast<double>(m_lines - m_rateLines) / seconds;
      m_rateSince = now;
      m_rateLines = m_lines;
    }
    using Kind = acquire::DailyLogFiles::Kind;
    char head[160];
    std::snprintf(head, sizeof head, "%s %s  lines %lld  %.1f/s  raw/eng/csv %.1f/%.1f/%.1f kB", m_files.day().c_str(),
                  m_session.portOpen() ? "port ok" : "port WAIT", m_lines, m_rate, m_files.size(Kind::Raw) / 1000.0,
                  m_files.size(Kind::Eng) / 1000.0, m_files.size(Kind::Csv) / 1000.0);
    std::string text = head;
    if (m_feeds && m_feeds->hasMqtt()) {
      const acquire::Feeds::MqttStatus mqtt = m_feeds->mqttStatus();
      text += mqtt.connected ? "  mqtt up" : "  mqtt down";
      if (mqtt.backlog > 0) text += " backlog " + std::to_string(mqtt.backlog);
    }
    // The last values, as many as fit.
    text += " |";
    const std::string& values = m_feeds->lastValues();
    const std::vector<std::string>& names = m_feeds->names();
    size_t at = 1;
    for (size_t i = 0; i < names.size() && at <= values.size(); ++i) {
      size_t end = values.find(',', at);
      if (end == std::string::npos) end = values.size();
      text += " " + names[i] + " " + values.substr(at, end - at);
      at = end + 1;
    }
    winsize size{};
    const size_t width = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    if (text.size() > width) text.resize(width);
    std::fprintf(stdout, "\r\033[K%s", text.c_str());
    std::fflush(stdout);
    m_statusShown = true;
  }

  void clearStatus() {
    if (!m_statusShown) return;
    std::fputs("\r\033[K", stdout);
    std::fflush(stdout);
    m_statusShown = false;
  }

  static inline LogSession* s_session = nullptr;

  const LogOptions& m_options;
  const acquire::LogClock& m_clock;
  meterlink::MeterState& m_state;
  meterlink::WireLog m_wireLog;  // before the session's port, which writes to it
  acquire::Session m_session;
  acquire::DailyLogFiles m_files;
  std::unique_ptr<acquire::DailyNetcdf> m_netcdf;
  const bool m_statusOnTerminal;
  std::unique_ptr<acquire::Feeds> m_feeds;
  QTimer m_tick, m_afterOpen, m_netcdfWork;
  acquire::ClockStepWatch m_clockSteps;
  std::optional<long long> m_overruns;
  long long m_lines = 0;
  bool m_openedBefore = false, m_waitingReported = false, m_alarmed = false;
  bool m_statusShown = false, m_shutDown = false;
  Steady::time_point m_lastActivity = Steady::now(), m_rateSince = Steady::now();
  long long m_rateLines = 0;
  double m_rate = 0;
};

}  // namespace

int logMain(int argc, char** argv) {
  LogOptions o;
  CLI::App app(kDescription, "maru log");
  cli::setUpHelp(app);
  app.footer(kFooter);
  app.add_option("--port", o.port, "the serial port: a device path or a /dev/serial/by-id/... link")
      ->required()
      ->type_name("PATH");
  app.add_option("--dev", o.dev, "the device file")->required()->type_name("FILE.dev");
  app.add_option("--out", o.out, "the folder for the daily files (made if missing)")->required()->type_name("DIR");
  app.add_option("--baud", o.baud, "9600, 19200, 38400 or 57600 (default: 19200); always 8N1")
      ->check(cli::unlisted(CLI::IsMember({9600, 19200, 38400, 57600})))
      ->type_name("N");
  app.add_flag("--start", o.start, "send \"$run\" whenever the port is (re)opened");
  app.add_flag("--set-clock-utc", o.setClockUtc,
               "set the meter's clock and date to the host's UTC time (\"$CLK\", \"$DAT\") whenever the\n"
               "port is (re)opened, before \"$run\"");
  cli::addFeedOptions(app, o.mqtt, o.udp);
  cli::FeedQueueOptions queue;
  cli::addFeedQueueOptions(app, o.mqtt, queue, "OUT/mqtt-queue");
  app.add_option("--no-data-alarm", o.noDataAlarm,
                 "print a line when no data line came for SECONDS while the port is open, and\n"
                 "another when data comes back")
      ->check(cli::unlisted(CLI::Range(0.001, 1e7)))
      ->type_name("SECONDS");
  app.add_option("--wire-log", o.wireLog,
                 "also append every byte sent to and received from the meter to FILE, one line\n"
                 "per chunk: UTC time, '>' host to meter or '<' meter to host, the bytes")
      ->type_name("FILE");
  app.add_option("--qc", o.qcPath,
                 "flag every sample with the QARTOD tests of this YAML configuration: each checked\n"
                 "column gets a <column>_qc column in the CSV files and a \"qc\" entry in the MQTT\n"
                 "data messages (see docs/FORMATS.md)")
      ->type_name("FILE.yml");
  app.add_flag("--netcdf", o.netcdf,
               "also make each day's files YYYYMMDD.raw and .csv into YYYYMMDD.nc (NetCDF-4, CF and\n"
               "ACDD; the host's receive time as the coordinate): at UTC midnight, when the logger\n"
               "stops, and at start for earlier days without an up-to-date one");
  app.add_option("--attr", o.attrPairs,
                 "--netcdf: a global attribute of the daily files (institution, creator_name,\n"
                 "project, platform, license, geospatial_lat, geospatial_lon, ...); may be repeated")
      ->type_name("KEY=VALUE")
      ->allow_extra_args(false);
  app.add_option("--attrs", o.attrsPath, "--netcdf: global attributes from a YAML map of KEY: VALUE, each key once\n"
                 "(--attr wins); its map 'variables:' gives variables theirs:\n"
                 "NAME or PATTERN ('*' any characters): {KEY: VALUE, ...}")
      ->type_name("FILE.yml");
  cli::addPositionOptions(app, o.attrPairs, false);
  app.add_option("--deflate", o.deflate, "--netcdf: compress at this zlib level, 1-9 (default 0: not compressed)")
      ->check(cli::unlisted(CLI::Range(0, 9)))
      ->type_name("LEVEL");
  g_journal = acquire::isJournalStream(STDERR_FILENO, std::getenv("JOURNAL_STREAM"));
  if (const auto status = cli::parseCommandLine(app, argc, argv, g_journal)) return *status;
  if (!o.netcdf && (!o.attrPairs.empty() || !o.attrsPath.empty() || o.deflate != 0)) {
    printLine("maru log", "--attr, --attrs, --lat, --lon, --depth and --deflate are for --netcdf");
    return 2;
  }
  // The platform of the MQTT topics names the daily files' platform too.
  if (o.netcdf && app.get_option("--platform")->count() > 0) o.attrPairs.push_back("platform_name=" + o.mqtt.platform);
  if (std::string why; !cli::readAttributes(o.attrPairs, o.attrsPath, o.attributes, o.variableAttributes, why)) {
    printLine("maru log", why);
    return 2;
  }
  queue.apply(o.mqtt, (std::filesystem::path(o.out) / "mqtt-queue").string());
  o.history = std::string("maru ") + MARU_VERSION_STRING + ": maru log";
  for (int i = 1; i < argc; ++i) o.history += " " + cli::historyWord(argc, argv, i);

  const std::optional<acquire::LogClock> clock = acquire::LogClock::fromEnvironment();
  if (!clock) {
    printLine("maru log", "MARU_LOG_CLOCK_START is not YYYY-MM-DDTHH:MM:SS[.mmm]Z");
    return 2;
  }
  const measure::WarningSink toStderr = printLine;
  meterlink::MeterState state;
  if (!acquire::loadDeviceFileAtStart(o.dev, state.config, toStderr)) return 2;
  if (!o.qcPath.empty()) {
    qc::ConfigResult read = qc::loadConfig(o.qcPath);
    std::string why = read.error;
    if (read.config && !files::QcRun::bind(*read.config, state.config, why)) why = o.qcPath + ": " + why;
    if (!why.empty()) {
      printLine("maru log", why);
      return 2;
    }
    o.qc = std::move(read.config);
  }
  if (o.netcdf) {
    // The user's variable attributes are checked against the files as they will be made.
    std::string why;
    std::vector<std::string> unmatched;
    const bool fits = acquire::DailyNetcdf(o.out, netcdfSettings(o, state.config), nullptr).check(why, unmatched);
    for (const std::string& line : unmatched) printLine("maru log", line);
    if (!fits) {
      printLine("maru log", why);
      return 2;
    }
  }

  std::error_code made;
  std::filesystem::create_directories(o.out, made);
  if (made || !std::filesystem::is_directory(o.out)) {
    printLine("maru log", "cannot make the folder '" + o.out + "'" + (made ? ": " + made.message() : ""));
    return 1;
  }
  acquire::FolderLock folderLock;  // held until the logger ends
  if (std::string why; !folderLock.lock(o.out, why)) {
    printLine("maru log", why);
    return 1;
  }
  if (!folderLock.notLocked().empty()) printLine("Folder Not Locked", folderLock.notLocked());
  if (!installSignals()) {
    printLine("maru log", std::string("cannot install signal handlers: ") + std::strerror(errno));
    return 1;
  }

  int qtArgc = 1;
  char name[] = "maru";
  char* qtArgv[] = {name, nullptr};
  QCoreApplication application(qtArgc, qtArgv);
  LogSession session(o, *clock, state);
  QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&session] {
    char byte = 0;
    while (::read(g_signalPipe[0], &byte, 1) == 1) {
      if (byte == SIGHUP) session.reopenFiles();
      else QCoreApplication::quit();
    }
  });
  if (!session.start()) return 1;
  application.exec();
  session.shutdown();
  return 0;
}
