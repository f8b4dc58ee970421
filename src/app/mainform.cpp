#include "app/mainform.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "acquire/meterzone.h"
#include "app/controls.h"
#include "measure/cformat.h"

namespace app {

using measure::cformat;

namespace {
// The most a tick spends taking the port's bytes; the rest waits for the next tick.
constexpr std::chrono::milliseconds kIntakeBudget{25};
}  // namespace

MainForm::MainForm(OperatorUi& ui, chart::PlotChart& chart, MainFormOptions options)
    : m_ui(ui),
      m_chart(chart),
      m_options(std::move(options)),
      m_settings(WindowSettings::load(m_options.workingDir)),
      m_listener(*this),
      m_session(State, m_listener, sessionOptions()) {
  m_plot = std::make_unique<PlotPage>(m_chart, m_view, Config, Sample, Eng, Stats, Plot, PowerUser);
  // The chart takes each sample first: quality control marks the point it drew.
  m_session.addSink(m_plot.get());
  m_session.setWireLog(m_options.wireLog);
  m_files = std::make_unique<FilesPage>(
      m_view, m_ui, m_session, m_listener, static_cast<FormState&>(*this),
      FilesPage::Host{[this](const std::string& c, const std::string& t) { ShowWarningBox(c, t); },
                      [this] { LoadDeviceFileClick(); }, [this] { BTStopClick(); }});
  m_qc = std::make_unique<QcView>(
      m_view, m_ui, m_session, *m_plot, [this] { return m_files->recordings().anyOn(); },
      [this](const std::string& c, const std::string& t) { ShowWarningBox(c, t); });
  m_session.addSink(m_qc.get());
  m_files->recordings().setIdle([this] { m_qc->applyHeld(); });
  m_setup = std::make_unique<SetupPage>(m_view, m_ui, m_session, static_cast<FormState&>(*this), m_options.hostClock,
                                        [this](const std::string& c, const std::string& t) { ShowWarningBox(c, t); });
  // Set from the computer, the meter keeps the computer's zone from then on.
  m_setup->setClockSetHandler([this] { setMeterClockZone(acquire::computerMeterZone()); });
  defineControls(m_view);
  m_view.setText("EDNoDataSeconds", std::to_string(m_settings.noDataSeconds));
  m_view.setChecked("RealTimeData1", true);
  m_view.setChecked("ReplayRawFile1", false);
  m_view.setText("EDExportZone", m_settings.meterClockZone);
  setupDispatch();
  m_changes["EDExportZone"] = [this] { setMeterClockZone(m_view.text("EDExportZone")); };
  startFeeds();
}

void MainForm::startFeeds() {
  const MainFormOptions::Feeds& f = m_options.feeds;
  if (f.mqtt.broker.empty() && f.udp.empty()) return;
  // Their news goes to stderr, as maru log's does: the operator watches the data, not the
  // broker.
  auto note = [](const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  };
  m_feeds = std::make_unique<acquire::Feeds>(acquire::FeedOptions{f.mqtt, f.udp, "maruview", f.version}, Config, note);
  if (const std::string error = m_feeds->openUdp(); !error.empty()) note("UDP", error);
  updateFeedState();
  if (const std::string error = m_feeds->startMqtt(DeviceFilePath, nullptr); !error.empty()) note("MQTT", error);
  m_session.addSink(m_feeds.get());
}

// Another meter (or QC configuration): the feeds' identity and metadata follow it.
void MainForm::describeMeterFeed() {
  if (m_feeds) m_feeds->describeMeter(DeviceFilePath, m_session.qc() ? &m_session.qc()->config() : nullptr);
}

// The MQTT state follows the port by the rule maru log's follows.
void MainForm::updateFeedState() {
  if (!m_feeds) return;
  m_feeds->setHealth({"the host port", OpenPortNumber != 0, m_recordingStoppedWhy});
}

acquire::SessionOptions MainForm::sessionOptions() {
  acquire::SessionOptions o;
  o.hostClock = m_options.hostClock;
  o.utcClock = m_options.utcClock;
  // The zone saved last time (the settings keep only a zone that reads).
  if (const auto zone = acquire::parseMeterZone(m_settings.meterClockZone)) o.meterTimeZone = *zone;
  // A lost adapter is where its slot, which knows it by serial number or by-id link, finds
  // it now, else at the same path. Listing probes every port, so a slot known by its path
  // alone skips that.
  o.findLostAdapter = [this] {
    const meterlink::SerialAdapter& known = m_options.ports.adapter(m_lostSlot);
    if (!known.serialNumber.empty() || !known.byIdLink.empty()) RefreshHostPorts();
    return m_options.ports.device(m_lostSlot);
  };
  return o;
}

MainForm::~MainForm() {
  if (m_feeds) m_feeds->stop();
}

// ---------------------------------------------------------------- application shell

void MainForm::ShowWarningBox(const std::string& caption, const std::string& text) {
  // The depth counts boxes still waiting for the operator; the box returns at once.
  if (MessageBoxDepth >= 10) return;
  ++MessageBoxDepth;
  m_ui.beep();
  m_ui.messageBox(caption, text, [this, alive = std::weak_ptr<char>(m_alive)] {
    if (!alive.expired() && MessageBoxDepth > 0) --MessageBoxDepth;
  });
}

void MainForm::BTStartClick() {
  m_session.rate().restart();
  if (m_session.replaying()) {
    m_session.resume();
    m_view.setText("BTStartData", "Resume Replay");
    return;
  }
  m_dataRunning = true;
  m_session.send(meterlink::cmd::kRun);
  watchSilence(true);
}

void MainForm::BTStopClick() {
  if (m_session.replaying()) {
    m_session.pause();
    return;
  }
  m_dataRunning = false;
  m_session.sendBytes(meterlink::cmd::kStop);
  watchSilence(false);
}

void MainForm::Exit1Click() { BTExitClick(); }

void MainForm::BTExitClick() {
  SaveSettings();
  CloseByFrame();
  if (m_options.quit) m_options.quit(0);
}

void MainForm::CloseByFrame() {
  m_session.closeFiles();
  m_session.closePort();
  OpenPortNumber = 0;
  watchSilence(false);
}

bool MainForm::setMeterClockZone(const std::string& text) {
  const std::string entry = settingEntry(text.substr(0, 100));
  const std::optional<files::UtcOffset> zone = acquire::parseMeterZone(entry);
  if (!zone) {
    m_view.setText("EDExportZone", m_settings.meterClockZone);
    ShowWarningBox("Meter Clock Zone", "Meter clock zone: " + acquire::meterZoneProblem(entry) + ". It stays " +
                                           m_settings.meterClockZone + ".");
    return false;
  }
  m_view.setText("EDExportZone", entry);
  if (entry == m_settings.meterClockZone) return true;
  m_settings.meterClockZone = entry;
  m_session.setMeterTimeZone(*zone);
  saveWindowSettings();
  return true;
}

// ---------------------------------------------------------------- serial port

void MainForm::OpenPort(int number, const std::string& name) {
  const bool known = BaudIndex >= 0 && BaudIndex < int(meterlink::kBaudRates.size());
  const int baud = known ? meterlink::kBaudRates[size_t(BaudIndex)] : 19200;
  const auto result = m_session.openPort(name, baud);
  if (result != meterlink::SerialPort::OpenResult::Ok) {
    OpenPortNumber = 0;
    // The first line as it always was; the cause, as far as it can be found, beneath.
    std::string text = cformat("Could Not Open Comm Port %d", number);
    const std::string cause = meterlink::explainOpenFailure(name, result);
    if (!cause.empty()) text += "\n" + cause;
    m_ui.messageBox("Comm Error", text, {});
    updateFeedState();
    return;
  }
  OpenPortNumber = number;
  updateFeedState();
  watchSilence(true);
}

void MainForm::ClosePort() {
  const bool ok = m_session.closePort();
  if (!ok && OpenPortNumber != 0) m_ui.messageBox("Comm Error", "Could Not Close Comm  Port", {});
  OpenPortNumber = 0;
  updateFeedState();
  watchSilence(false);
}

void MainForm::CBHostPortChange() {
  // The operator's choice ends any search for a lost adapter (closing the port does).
  ClosePort();
  BaudIndex = m_view.itemIndex("CBBaudRate");
  if (BaudIndex < 0 || BaudIndex >= int(meterlink::kBaudRates.size())) {
    BaudIndex = 2;
    m_view.setItemIndex("CBBaudRate", BaudIndex);
  }
  const int item = m_view.itemIndex("CBHostPort");
  if (item == 0) {
    m_view.setVisible("PCOMPort", true);
    m_view.setText("LBPortDevice", "");
  } else if (item >= 1 && item <= 8) {
    std::string device = m_options.ports.device(item);
    m_view.setText("LBPortDevice", device.empty() ? cformat("Port device: COM %d is not bound", item)
                                                  : "Port device: " + slotText(item));
    if (device.empty()) device = cformat("COM%d", item);
    OpenPort(item, device);
    m_view.setVisible("PCOMPort", false);
  }
  SetupRequestTicks = meterlink::kSetupRequestTicks;
}

std::string MainForm::slotText(int slot) const {
  const std::string device = m_options.ports.device(slot);
  const std::string about = m_options.ports.describe(slot);
  return about.empty() ? device : device + " (" + about + ")";
}

void MainForm::onPortLost(const std::string& reason) {
  // The port is closed already; the session looks for it once a second. The notice
  // waits for the next tick, outside the port's own signal.
  if (OpenPortNumber == 0 && m_portLostPending) return;
  m_portLostPending = true;
  m_portLostNumber = OpenPortNumber;
  m_portLostReason = reason;
  m_lostSlot = OpenPortNumber;
  OpenPortNumber = 0;
  updateFeedState();
}

void MainForm::onRecordingStopped(const std::string& why) {
  m_recordingStoppedWhy = why;
  updateFeedState();
  ShowWarningBox("Recording Stopped", why);
}

void MainForm::onPortBack(std::chrono::seconds down) {
  OpenPortNumber = m_lostSlot;
  updateFeedState();
  m_view.setText("LBPortDevice", "Port device: " + slotText(m_lostSlot) +
                                     cformat(" - back after %lld s down", static_cast<long long>(down.count())));
  // The meter starts afresh: a new line on the plot, its setup asked for, and data again
  // if it was sending.
  m_plot->BreakLine();
  SetupRequestTicks = meterlink::kSetupRequestTicks;
  if (m_dataRunning) m_session.send(meterlink::cmd::kRun);
}

// ---------------------------------------------------------------- receive loop

void MainForm::firstTick() {
  m_view.windowCaption = std::string(meterlink::kCaptionPrefix) + " ";
  m_plot->PrepareChart();
  m_view.setItemIndex("CBAnalogRange", 1);
  m_view.setVisible("TSAdvanced", false);
  m_view.setVisible("TSFLSetup", false);
  Config.setStartupDefaults();
}

void MainForm::Timer55msTimer() {
  // A modal box opened inside a tick runs a nested event loop; a tick never runs inside
  // another, because the read buffer and the line being assembled belong to the outer one.
  if (m_inTick55) return;
  m_inTick55 = true;
  if (m_firstTickPending) {
    m_firstTickPending = false;
    firstTick();
  }
  ++TickCount;
  if (SetupRequestTicks != 0) {
    if (SetupRequestTicks == 1) m_setup->BTGetSetupClick();
    --SetupRequestTicks;
  }
  ReceiveStep();
  m_files->exportStep();
  // A recording started or ended shows at once; its time and size go on each second.
  if (m_files->recordings().anyOn() != m_recordingSince.has_value()) {
    // A recording started: a failure told before is over.
    if (m_files->recordings().anyOn() && !m_recordingStoppedWhy.empty()) {
      m_recordingStoppedWhy.clear();
      updateFeedState();
    }
    showRecordingIndicator();
  }
  if (SampleClockDirty) {
    SampleClockDirty = false;
    drawClockLabels();
  }
  if (m_portLostPending) {
    m_portLostPending = false;
    m_view.setText("LBPortDevice", "Port device: lost (" + m_portLostReason + ")");
    m_ui.messageBox("Comm Error",
                    cformat("Comm Port %d Was Lost", m_portLostNumber) + "\n" + m_portLostReason +
                        (m_session.reconnecting() ? "\nLooking for it once a second: when the adapter is back, data "
                                              "and recording go on by themselves."
                                            : "\nCheck the cable or adapter, then choose the host port again."),
                    {});
  }
  m_inTick55 = false;
  finishStartup();
}

void MainForm::finishStartup() {
  if (m_firstTickPending || m_firstSecondPending) return;
  if (!m_options.qcPath.empty()) {
    m_qc->load(std::exchange(m_options.qcPath, std::string()));
    describeMeterFeed();
  }
  if (!m_options.onStarted) return;
  auto started = std::move(m_options.onStarted);
  m_options.onStarted = nullptr;
  started(*this);
}


void MainForm::ReceiveStep() {
  if (ChannelSetupPending) {
    ChannelSetupPending = false;
    m_plot->UpdatePlotOptions(Config.DataFieldCount);
    m_plot->BuildPlotChannels(Config.DataFieldCount);
  }
  syncDispatch();
  // The memory transfer while one runs, else the replay (paced by its read size), else all
  // the port holds, so a fast meter never falls behind.
  const bool replayRead = m_session.replayRunning() && !m_session.transfer().active();
  const size_t count = m_session.takeInput(kIntakeBudget);
  if (replayRead && count == 0) m_view.setText("BTStartData", "Start Replay");
  TotalBytesRead += count;
}

void MainForm::syncDispatch() {
  m_session.setRules(!DeviceFilePath.empty(), RefCorrectionOn, TempCorrectionOn);
}

void MainForm::TakeLine(const meterlink::Line& line) {
  m_view.appendMemoLine(std::string(line.text));
  m_lastLineAt = m_options.steadyClock();
  if (m_view.visible("LBNoData")) showDataSilence();
  if (line.kind == meterlink::Line::Kind::Reply) {
    applyReply(line.reply);
    return;
  }
  SampleClockDirty = true;
  m_files->showSampleRate();
  // The chart, the recordings and the feeds take the sample next, as sinks of the session.
}

// ---------------------------------------------------------------- device file

void MainForm::LoadDeviceFileClick() {
  FileDialogSpec def;
  def.title = "Open Device File";
  def.defaultSuffix = "dev";
  def.filter = "Device File (*.dev)|*.dev|All files (*.*)|*.*";
  const auto path = m_ui.openFile(def);
  if (!path) return;
  openDeviceFile(*path, *path);
}

bool MainForm::openDeviceFile(const std::string& path, const std::string& shownName, acquire::Session::Tell tell) {
  // The session tells what failed; the window shows the name it saves. A file refused
  // as no device file at all leaves the one in force as it was.
  const std::string before = std::exchange(DeviceFilePath, shownName);
  if (m_session.loadDeviceFile(path, tell) == acquire::Session::Load::Loaded) {
    m_view.setText("LBDeviceFile", "Device File:  " + shownName);
    return true;
  }
  DeviceFilePath = m_session.deviceFilePath().empty() ? std::string() : before;
  return false;
}

// Whatever follows the meter's columns starts again with each device file, however it
// was loaded.
void MainForm::onDeviceFileLoaded() {
  // Kept whole, so that the File menu finds it again from wherever the window runs.
  std::error_code ec;
  const std::filesystem::path whole = std::filesystem::absolute(m_session.deviceFilePath(), ec);
  m_settings.noteDeviceFile(ec ? m_session.deviceFilePath() : whole.lexically_normal().string());
  saveWindowSettings();
  m_plot->ResetKindCounters();
  m_qc->deviceFileLoaded();
  m_setup->deviceFileLoaded(Config);
  describeMeterFeed();
  m_view.setVisible("PMeterType", false);
  m_view.setActivePage(4);
  m_plot->UpdatePlotOptions(Config.DataFieldCount);
  ChannelSetupPending = true;
}

// ---- The meter's replies

void MainForm::applyReply(const meterlink::ReplyEffects& effects) {
  if (effects.caption) m_view.windowCaption = *effects.caption;
  if (effects.storeCurrent) m_setup->ShowSetupStoreState(true);
  if (effects.memoryFull) m_ui.showDialog(Dialog::MemoryFull, true);
}

}  // namespace app
