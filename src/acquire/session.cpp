#include "acquire/session.h"

#include <algorithm>
#include <filesystem>

#include "measure/boundedfile.h"
#include "measure/devicefile.h"

namespace acquire {

namespace {

// The serial adapters present, found without opening any of them: a trial open can
// toggle another device's control lines.
std::vector<meterlink::SerialAdapter> adaptersPresent() {
  meterlink::ProbeHost host;
  host.tryOpen = [](const std::string&) { return 0; };
  return meterlink::listSerialAdapters({}, host);
}

// The device an adapter's path leads to, for comparing two names of one adapter.
std::string realPath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(path, ec);
  return ec ? path : real.string();
}

}  // namespace

Session::Session(meterlink::MeterState& state, Listener& listener, SessionOptions options)
    : m_state(state),
      m_listener(listener),
      m_options(std::move(options)),
      m_dispatch(
          state, [this](const std::string& caption, const std::string& text) { m_listener.warning(caption, text); },
          m_options.hostClock) {
  m_dispatch.setLineHandler([this](const meterlink::Line& line) { onLine(line); });
  m_dispatch.setOverflowHandler([this] { m_listener.warning("Input Buffer Overflow", "Check Baud Rate"); });
  m_port.setLostHandler([this](const std::string& why) { onPortLost(why); });
}

Session::~Session() {
  QObject::disconnect(m_readable);
  m_port.setLostHandler(nullptr);
  m_port.close();
}

bool loadDeviceFileAtStart(const std::string& path, measure::DeviceConfig& config,
                           const std::function<void(const std::string&, const std::string&)>& warn,
                           bool* notDeviceFile) {
  return measure::LoadDeviceFileAtStart(path, config, warn, notDeviceFile);
}

Session::Load Session::loadDeviceFile(const std::string& path, Tell tell) {
  bool opened = false;
  std::string readError;
  bool notDeviceFile = false;
  const bool ok = measure::LoadDeviceFile(
      path, m_state.config, [this](const std::string& caption, const std::string& text) { m_listener.warning(caption, text); },
      &opened, &readError, &notDeviceFile);
  if (notDeviceFile) m_listener.warning("Device File Error", readError);
  if (!ok && notDeviceFile) return Load::Invalid;  // told; the file in force stays as it was
  if (ok) {
    m_deviceFile = path;
    // The checks follow the columns of the new file, or stop where it lacks their streams.
    if (m_qcConfig)
      if (const std::string why = setQc(m_qcConfig); !why.empty())
        m_listener.warning("QC Configuration", "Quality control is off for this device file: " + why);
    announceColumns();
    m_listener.deviceFileLoaded(m_state.config);
    return Load::Loaded;
  }
  m_deviceFile.clear();
  m_qc.reset();
  announceColumns();
  const bool everything = tell == Tell::Everything;
  if (!opened) {
    if (everything)
      m_listener.warning("Device File Error",
                         "Could not open device file '" + path + "': " + measure::readErrorCause(readError));
    return Load::NotOpened;
  }
  if (!readError.empty()) m_listener.warning("Device File Error", readError);
  else if (everything) m_listener.warning("Device File Error", "Missing or Invalid device file '" + path + "'");
  return Load::Invalid;
}

std::string Session::setQc(std::optional<qc::Config> config) {
  m_qc.reset();
  m_qcConfig = std::move(config);
  std::string why;
  if (m_qcConfig) m_qc = files::QcRun::bind(*m_qcConfig, m_state.config, why);
  announceColumns();
  return why;
}

meterlink::SerialPort::OpenResult Session::openPort(const std::string& path, int baud) {
  m_reconnect.active = false;
  const auto result = m_port.open(path, baud);
  if (result != meterlink::SerialPort::OpenResult::Ok) return result;
  // What was assembled before came from another line, or from before the port was lost.
  m_dispatch.dropPending();
  m_losses.restart();
  // Known by its serial number or by-id link, the adapter is followed wherever the system
  // puts it when it comes back.
  m_adapter = {};
  if (!m_options.findLostAdapter) {
    const std::string real = realPath(path);
    const auto adapters = m_options.listAdapters ? m_options.listAdapters() : adaptersPresent();
    for (const meterlink::SerialAdapter& a : adapters)
      if (realPath(a.path) == real) m_adapter = a;
  }
  return result;
}

bool Session::closePort() {
  m_reconnect.active = false;
  m_held.clear();
  return m_port.close();
}

void Session::onPortLost(const std::string& why) {
  // Called from the port's error signal: the port is closed already.
  m_held.clear();
  m_reconnect.active = true;
  m_reconnect.path = m_port.device();
  m_reconnect.baud = m_port.baud();
  m_reconnect.lostAt = std::chrono::steady_clock::now();
  m_listener.portLost(why);
}

std::string Session::whereIsLostAdapter() {
  if (m_options.findLostAdapter) return m_options.findLostAdapter();
  // Only an adapter known by more than its path is looked for; the rest is tried by path.
  if (m_adapter.serialNumber.empty() && m_adapter.byIdLink.empty()) return {};
  const auto adapters = m_options.listAdapters ? m_options.listAdapters() : adaptersPresent();
  for (const meterlink::SerialAdapter& a : adapters) {
    const bool same = (!m_adapter.serialNumber.empty() && a.serialNumber == m_adapter.serialNumber) ||
                      (!m_adapter.byIdLink.empty() && a.byIdLink == m_adapter.byIdLink);
    if (same) return a.path;
  }
  return {};
}

void Session::everySecond() {
  releaseHeld();
  if (!m_reconnect.active) return;
  std::string path = whereIsLostAdapter();
  if (path.empty()) path = m_reconnect.path;
  const Reconnect lost = m_reconnect;
  if (m_port.open(path, lost.baud) != meterlink::SerialPort::OpenResult::Ok) return;
  m_reconnect.active = false;
  m_dispatch.dropPending();  // the unplug cut that line
  m_losses.restart();
  m_listener.portBack(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - lost.lostAt));
}

bool Session::send(std::string_view command) {
  std::string bytes(command);
  bytes += "\r\n";
  return sendBytes(bytes);
}

bool Session::sendBytes(std::string_view bytes) {
  // Right after an open the first bytes up to a line end are dropped as a cut line, unless
  // the line is seen silent first; a command sent now would have its answer dropped, so it
  // waits until the open has settled.
  if (m_port.settling()) {
    m_held.append(bytes);
    return true;
  }
  return m_port.write(bytes.data(), bytes.size());
}

void Session::releaseHeld() {
  if (m_held.empty() || !m_port.isOpen()) return;
  const bool overdue = std::chrono::steady_clock::now() - m_port.openedAt() >= kHoldLimit;
  if (m_port.settling() && !overdue) return;
  const std::string bytes = std::exchange(m_held, std::string());
  m_port.write(bytes.data(), bytes.size());
}

void Session::setRules(bool deviceFileInForce, bool refCorrection, bool tempCorrection) {
  m_dispatch.deviceFileInForce = deviceFileInForce;
  m_dispatch.refCorrection = refCorrection;
  m_dispatch.tempCorrection = tempCorrection;
}

size_t Session::receive(files::ByteSource* source, size_t max) {
  char buffer[4096];
  files::ByteSource& from = source ? *source : m_port;
  const size_t n = from.read(buffer, std::min(max, sizeof buffer));
  if (n > 0) m_dispatch.feed(buffer, n);
  if (&from == &m_port) releaseHeld();
  return n;
}

size_t Session::drainPort(std::chrono::milliseconds budget) {
  const auto until = std::chrono::steady_clock::now() + budget;
  size_t total = 0;
  for (;;) {
    const size_t n = receive(&m_port, 4096);
    total += n;
    if (n == 0 || std::chrono::steady_clock::now() >= until) return total;
  }
}

void Session::setReadable(std::function<void()> readable) {
  QObject::disconnect(m_readable);
  if (readable) m_readable = QObject::connect(&m_port.qport(), &QSerialPort::readyRead, std::move(readable));
}

size_t Session::portBytesWaiting() {
  const qint64 n = m_port.isOpen() ? m_port.qport().bytesAvailable() : 0;
  return n > 0 ? static_cast<size_t>(n) : 0;
}

void Session::dispatchLine(std::string_view line) { m_dispatch.dispatch(line); }

void Session::addSink(Sink* sink) {
  if (std::find(m_sinks.begin(), m_sinks.end(), sink) != m_sinks.end()) return;
  m_sinks.push_back(sink);
  sink->columns(m_state.config, qc());
}

void Session::removeSink(Sink* sink) {
  if (std::erase(m_sinks, sink) > 0) sink->end();
}

void Session::announceColumns() {
  for (Sink* sink : m_sinks) sink->columns(m_state.config, qc());
}

bool Session::replay(const std::string& path) {
  auto reader = std::make_unique<files::ReplayReader>();
  if (!reader->open(path)) return false;
  m_replay = std::move(reader);  // an earlier replay file is closed here
  m_replayRunning = false;
  return true;
}

void Session::stopReplay() {
  m_replay.reset();
  m_replayRunning = false;
}

bool Session::startTransfer(const std::string& path) {
  const long used = m_state.meter.MeterMemoryUsed;
  if (!m_transfer.start(path, used > 0 ? used * meterlink::kMemoryPageBytes : 0)) return false;
  send(meterlink::cmd::kGetData);
  return true;
}

size_t Session::takeInput(std::chrono::milliseconds budget) {
  m_rate.tick();
  size_t taken = 0;
  if (m_transfer.active()) {
    char buffer[meterlink::kTransferReadBytes];
    m_transfer.take(std::string_view(buffer, m_port.read(buffer, sizeof buffer)));
    releaseHeld();
  } else if (m_replay) {
    // A replay is paced by its read size: one 98-character read a tick.
    if (m_replayRunning) {
      taken = receive(m_replay.get(), meterlink::kReceiveReadBytes);
      if (m_replay->lastRead() == files::ReplayReader::Read::Rewound) m_replayRunning = false;
    }
  } else {
    taken = drainPort(budget);
  }
  m_transfer.tick();
  return taken;
}

void Session::closeFiles() {
  for (Sink* sink : m_sinks) sink->end();
  stopReplay();
  m_transfer.close();
}

void Session::onLine(const meterlink::Line& line) {
  if (line.kind == meterlink::Line::Kind::Reply) {
    m_clockKnown.noteReply(line.text, line.reply.matched);
    if (m_options.watchLosses) m_losses.refused(line.unfitFields, m_state.config.ExpectedColumns);
    m_listener.line(line);
    if (line.unfitFields > 0) {
      const auto received = m_options.utcClock();
      for (Sink* sink : m_sinks) sink->unfitLine(line.text, received);
    }
    return;
  }
  m_clockKnown.noteDataLine(line.text);
  // The host's clock is read once per sample: every output has the same receive time.
  m_times = {m_options.utcClock(), files::meterEpochSeconds(m_state.clock, m_clockKnown.dateKnown(m_state.clock),
                                                            m_clockKnown.timeKnown(), m_options.meterTimeZone)};
  if (m_qc) {
    const double hostSeconds =
        std::chrono::duration<double>(m_times.host->time_since_epoch()).count();
    m_qc->push(m_times.meterEpochSeconds.value_or(hostSeconds), m_state.sample, m_state.eng);
  }
  m_rate.sample();
  const SampleRecord record{line.text, m_state, m_times, m_qc ? &*m_qc : nullptr, line.correctionsSkipped};
  if (m_options.watchLosses)
    if (const std::string lost = m_losses.sample(record.times.meterEpochSeconds); !lost.empty())
      m_listener.warning("Lines Lost", lost);
  m_listener.line(line);
  for (Sink* sink : m_sinks) sink->sample(record);
}

}  // namespace acquire
