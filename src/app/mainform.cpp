#include "app/mainform.h"

#include <chrono>
#include <cstdio>
#include <utility>

#include "app/controls.h"
#include "measure/boundedfile.h"
#include "measure/cformat.h"
#include "measure/devicefile.h"

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
      m_listener(*this),
      m_session(State, m_listener, sessionOptions()) {
  m_plot = std::make_unique<PlotPage>(m_chart, m_view, Config, Sample, Eng, Stats, Plot, PowerUser);
  m_files = std::make_unique<FilesPage>(
      m_view, m_ui, m_session, m_listener, static_cast<FormState&>(*this),
      FilesPage::Host{[this](const std::string& c, const std::string& t) { ShowWarningBox(c, t); },
                      [this] { LoadDeviceFileClick(); }, [this] { BTStopClick(); }});
  m_qc = std::make_unique<QcView>(
      m_view, m_ui, m_session, *m_plot, [this] { return m_files->recordings().anyOn(); },
      [this](const std::string& c, const std::string& t) { ShowWarningBox(c, t); });
  m_session.addSink(m_qc.get());
  m_setup = std::make_unique<SetupPage>(m_view, m_ui, m_session, static_cast<FormState&>(*this), m_options.hostClock,
                                        [this](const std::string& c, const std::string& t) { ShowWarningBox(c, t); });
  // Design-time state of every control.
  for (const ControlSpec& def : ControlTable()) {
    if (def.name.empty()) continue;
    Control c;
    c.text = def.caption;
    c.visible = def.visible;
    c.itemIndex = def.itemIndex;
    c.colour = def.colour;
    m_view.define(def.name, c);
  }
  m_view.setChecked("RealTimeData1", true);
  m_view.setChecked("ReplayRawFile1", false);
  setupDispatch();
  startFeeds();
}

void MainForm::startFeeds() {
  const MainFormOptions::Feeds& f = m_options.feeds;
  // Their news goes to stderr, as maru log's does: the operator watches the data, not the
  // broker.
  auto note = [](const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  };
  std::string error;
  if (!f.udp.empty()) {
    m_udp = std::make_unique<acquire::UdpFeed>();
    if (!m_udp->open(f.udp, error)) {
      note("UDP", error);
      m_udp.reset();
    }
  }
  if (!f.mqtt.broker.empty()) {
    m_mqtt = acquire::makeMqttFeed(f.mqtt, Config, DeviceFilePath, "maruview", f.version, note);
    updateFeedState();
    if (!m_mqtt->start(error)) {
      note("MQTT", error);
      m_mqtt.reset();
    }
  }
  if (!m_mqtt && !m_udp) return;
  m_feeds = std::make_unique<acquire::FeedSink>(m_mqtt.get(), m_udp.get(), Config,
                                                acquire::topicSafe(Config.MeterTitle), note);
  m_session.addSink(m_feeds.get());
}

// The MQTT state follows the port, as maru log's does.
void MainForm::updateFeedState() {
  if (!m_mqtt) return;
  if (OpenPortNumber != 0) m_mqtt->setState("online", "");
  else m_mqtt->setState("port_lost", "no host port is open");
}

// Another meter: other topics, unless --meter-id fixed them. The metadata holds the QC
// configuration only while it is in force (it fits the device file).
void MainForm::describeMeterFeed() {
  if (!m_mqtt || DeviceFilePath.empty()) return;
  const files::QcRun* qc = m_session.qc();
  acquire::describeMeter(*m_mqtt, m_options.feeds.mqtt, Config, DeviceFilePath, "maruview", m_options.feeds.version,
                         qc ? &qc->config() : nullptr);
}

acquire::SessionOptions MainForm::sessionOptions() {
  acquire::SessionOptions o;
  o.hostClock = m_options.hostClock;
  o.utcClock = m_options.utcClock;
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
  if (m_mqtt) m_mqtt->stop();
}

bool MainForm::click(const std::string& name) {
  auto it = m_clicks.find(name);
  if (it == m_clicks.end()) return false;
  it->second();
  return true;
}

bool MainForm::changed(const std::string& name) {
  auto it = m_changes.find(name);
  if (it == m_changes.end()) return false;
  it->second();
  return true;
}

void MainForm::setupDispatch() {
  auto on = [this](const char* name, void (MainForm::*handler)()) {
    m_clicks[name] = [this, handler] { (this->*handler)(); };
  };
  // Main window and menu.
  on("BTStartData", &MainForm::BTStartClick);
  on("BTStopData", &MainForm::BTStopClick);
  m_clicks["BTRecordRaw"] = [this] { m_files->RecordClick(acquire::Recordings::Stream::Raw); };
  m_clicks["BTRecordEngr"] = [this] { m_files->RecordClick(acquire::Recordings::Stream::Engr); };
  m_clicks["BTRecordCsv"] = [this] { m_files->RecordClick(acquire::Recordings::Stream::Csv); };
  m_clicks["ExportRecording1"] = [this] { m_files->ExportRecordingClick(); };
  m_clicks["LoadQcConfiguration1"] = [this] {
    m_qc->LoadQcConfigurationClick();
    describeMeterFeed();
  };
  m_clicks["BTExportCancel"] = [this] { m_files->BTExportCancelClick(); };
  m_clicks["BTStopRecord"] = [this] { m_files->BTStopRecordClick(); };
  on("PCOMPort", &MainForm::PCOMPortClick);
  on("PMeterType", &MainForm::PMeterTypeClick);
  on("LoadDeviceFile1", &MainForm::LoadDeviceFileClick);
  m_clicks["RealTimeData1"] = [this] { m_files->RealTimeDataClick(); };
  m_clicks["ReplayRawFile1"] = [this] { m_files->ReplayRawFileClick(); };
  m_clicks["MenuAdvancedSetup"] = [this] { m_setup->MenuAdvancedSetupClick(); };
  on("Exit1", &MainForm::Exit1Click);
  // Meter Setup page.
  m_clicks["BTAverage"] = [this] { m_setup->BTAverageClick(); };
  m_clicks["BTPacket"] = [this] { m_setup->BTPacketClick(); };
  m_clicks["BTSample"] = [this] { m_setup->BTSampleClick(); };
  m_clicks["BTInterval"] = [this] { m_setup->BTIntervalClick(); };
  m_clicks["BTGetDandT"] = [this] { m_setup->BTGetDandTClick(); };
  m_clicks["BTGetSetup1"] = [this] { m_setup->BTGetSetupClick(); };
  m_clicks["BTLogging"] = [this] { m_setup->BTLoggingClick(); };
  m_clicks["BTErase"] = [this] { m_setup->BTEraseClick(); };
  m_clicks["BTSetDandTPC"] = [this] { m_setup->BTSetDandTPCClick(); };
  m_clicks["BTOpen"] = [this] { m_setup->BTOpenClick(); };
  m_clicks["BTClose"] = [this] { m_setup->BTCloseClick(); };
  m_clicks["BTStoreToFlash1"] = [this] { m_setup->BTStoreSetupClick(); };
  m_clicks["BTReloadSetup1"] = [this] { m_setup->BTReloadClick(); };
  // Advanced Setup page.
  m_clicks["BTGetTiming"] = [this] { m_setup->BTGetTimingClick(); };
  m_clicks["BTph1onTime"] = [this] { m_setup->BTph1onTimeClick(); };
  m_clicks["BTph1offTime"] = [this] { m_setup->BTph1offTimeClick(); };
  m_clicks["BTph11onTime"] = [this] { m_setup->BTph11onTimeClick(); };
  m_clicks["BTph11offTime"] = [this] { m_setup->BTph11offTimeClick(); };
  m_clicks["BTOne"] = [this] { m_setup->BTOneClick(); };
  m_clicks["BTHexDump"] = [this] { m_setup->BTHexDumpClick(); };
  m_clicks["BTTimingSwap"] = [this] { m_setup->BTTimingSwapClick(); };
  m_clicks["PowerUserPanel"] = [this] { m_setup->PowerUserPanelClick(); };
  m_clicks["BTStoreSetup"] = [this] { m_setup->BTStoreSetupClick(); };
  m_clicks["BTReload"] = [this] { m_setup->BTReloadClick(); };
  // FL-Setup page.
  m_clicks["BTAnalogRange2"] = [this] { m_setup->BTAnalogRangeClick(); };
  m_clicks["BTflscale"] = [this] { m_setup->BTflscaleClick(); };
  m_clicks["BTfloffset"] = [this] { m_setup->BTfloffsetClick(); };
  m_clicks["BTCal"] = [this] { m_setup->BTCalClick(); };
  m_clicks["BTGetSetup2"] = [this] { m_setup->BTGetSetup2Click(); };
  m_clicks["BTStoreToFlash2"] = [this] { m_setup->BTStoreSetupClick(); };
  m_clicks["Button22"] = [this] { m_setup->BTReloadClick(); };
  // Transfer Data page.
  m_clicks["BTGetData"] = [this] { m_files->BTGetDataClick(); };
  m_clicks["BitBtnCancel"] = [this] { m_files->BitBtnCancelClick(); };
  m_clicks["BTErase2"] = [this] { m_setup->BTErase2Click(); };
  // Small dialogs.
  on("Form2.Button1", &MainForm::Form2Button1Click);
  on("SelectHPForm.BTOK", &MainForm::SelectHPFormBTOKClick);
  m_clicks["PasswordForm.BTPasswordOK"] = [this] { m_setup->BTPasswordOKClick(); };

  auto onChange = [this](const char* name, void (MainForm::*handler)()) {
    m_changes[name] = [this, handler] { (this->*handler)(); };
  };
  onChange("CBHostPort", &MainForm::CBHostPortChange);
  onChange("CBBaudRate", &MainForm::CBHostPortChange);
  onChange("PlotTypeCB", &MainForm::PlotTypeCBChange);
  onChange("BBPlotCB", &MainForm::BBPlotCBChange);
  onChange("StdDevCB", &MainForm::StdDevCBChange);
  onChange("iTempCB", &MainForm::iTempCBChange);
  onChange("xTempCB", &MainForm::xTempCBChange);
  onChange("PresCB", &MainForm::PresCBChange);
  m_changes["XAxisCB"] = [this] { m_plot->XAxisCBChange(); };
  // The plot's time axis shows the host's time of day at which each line arrived.
  m_plot->setHostSeconds([this] { return LocalSeconds(m_lineTime); });
}

std::string MainForm::editText(const std::string& name, size_t limit) const {
  // Entries are copied into a bounded working text; anything longer is cut.
  std::string t = m_view.text(name);
  if (t.size() > limit) t.resize(limit);
  return t;
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
}

void MainForm::BTStopClick() {
  if (m_session.replaying()) {
    m_session.pause();
    return;
  }
  m_dataRunning = false;
  m_session.sendBytes(meterlink::cmd::kStop);
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
}

// ---------------------------------------------------------------- serial port

void MainForm::SetBaudIndex(int baud) {
  switch (baud) {
    case 4800: BaudIndex = 0; break;
    case 9600: BaudIndex = 1; break;
    case 19200: BaudIndex = 2; break;
    case 38400: BaudIndex = 3; break;
    default: break;
  }
}

void MainForm::OpenPort(int number, const std::string& name) {
  static const int kBauds[4] = {4800, 9600, 19200, 38400};
  const int baud = (BaudIndex >= 0 && BaudIndex <= 3) ? kBauds[BaudIndex] : 19200;
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
}

void MainForm::ClosePort() {
  const bool ok = m_session.closePort();
  if (!ok && OpenPortNumber != 0) m_ui.messageBox("Comm Error", "Could Not Close Comm  Port", {});
  OpenPortNumber = 0;
  updateFeedState();
}

bool MainForm::WritePort(const char* bytes, size_t count) { return m_session.sendBytes({bytes, count}); }

void MainForm::ReadPort(char* buffer, size_t& count) { count = m_session.port().read(buffer, count); }

void MainForm::CBHostPortChange() {
  // The operator's choice ends any search for a lost adapter (closing the port does).
  ClosePort();
  switch (m_view.itemIndex("CBBaudRate")) {
    case 0: SetBaudIndex(4800); break;
    case 1: SetBaudIndex(9600); break;
    case 2: SetBaudIndex(19200); break;
    case 3: SetBaudIndex(38400); break;
    default:
      m_view.setItemIndex("CBBaudRate", 2);
      SetBaudIndex(19200);
      break;
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

void MainForm::PCOMPortClick() {
  RefreshHostPorts();
  m_ui.showDialog(Dialog::SelectHostPort, true);
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

void MainForm::onPortBack(std::chrono::seconds down) {
  OpenPortNumber = m_lostSlot;
  updateFeedState();
  m_view.setText("LBPortDevice", "Port device: " + slotText(m_lostSlot) +
                                     cformat(" - back after %lld s down", static_cast<long long>(down.count())));
  // The meter starts afresh: ask for its setup, and for data again if it was sending.
  SetupRequestTicks = meterlink::kSetupRequestTicks;
  if (m_dataRunning) SendMeterCommand(meterlink::cmd::kRun);
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
  ReceiveStep(0);
  m_files->exportStep();
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

void MainForm::drawClockLabels() {
  if (Clock.MeterMonth == 99) {
    m_view.setText("LBMARUDandT", cformat("MARU:  %1.0lf", Sample.SampleCounter));
  } else {
    m_view.setText("LBMARUDandT", cformat("MARU:   %02d/%02d/%02d  %02d:%02d:%02d", Clock.MeterMonth,
                                          Clock.MeterDay, Clock.MeterYear, Clock.MeterHour, Clock.MeterMinute,
                                          Clock.MeterSecond));
  }
  m_view.setText("LBHostDandT", cformat("Host:  %02d/%02d/%02d  %02d:%02d:%02d", Clock.HostMonth, Clock.HostDay,
                                        Clock.HostYear, Clock.HostHour, Clock.HostMinute, Clock.HostSecond));
}

void MainForm::ReceiveStep(int rebuildChannels) {
  if (rebuildChannels != 0) ChannelSetupPending = true;
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

void MainForm::DispatchLine(const std::string& line) {
  syncDispatch();
  m_session.dispatchLine(line);
}

void MainForm::syncDispatch() {
  m_session.setRules(!DeviceFilePath.empty(), RefCorrectionOn, TempCorrectionOn);
}

void MainForm::TakeLine(const meterlink::Line& line) {
  m_view.appendMemoLine(std::string(line.text));
  if (line.kind == meterlink::Line::Kind::Reply) {
    applyReply(line.reply);
    return;
  }
  SampleClockDirty = true;
  m_lineTime = *m_session.lastSampleTimes().host;  // the session stamps every sample
  m_files->showSampleRate();
  m_plot->ShowSampleValues(Config.DataFieldCount, Plot.PlotType);
  // The recordings take the sample next, as a sink of the session.
}

// ---------------------------------------------------------------- device file

void MainForm::LoadDeviceFileClick() {
  FileDialogSpec def;
  def.title = "Open Device File";
  def.defaultSuffix = "dev";
  def.filter = "Device File (*.dev)|*.dev|All files (*.*)|*.*";
  const auto path = m_ui.openFile(def);
  if (!path) return;
  LoadDeviceFilePath(*path, *path);
}

void MainForm::PMeterTypeClick() { LoadDeviceFileClick(); }

bool MainForm::LoadDeviceFilePath(const std::string& path, const std::string& shownName) {
  DeviceFilePath = path;
  std::string text, error;
  if (const measure::FileRead read = measure::readBoundedFile(path, text, error); read != measure::FileRead::Done) {
    // Unreadable or over the size limit: said in a box, and nothing loaded.
    ShowWarningBox("Device File Error", read == measure::FileRead::NotOpened
                                            ? "Could not open device file '" + path + "': " + measure::readErrorCause(error)
                                            : error);
    DeviceFilePath.clear();
    return false;
  }
  m_plot->ResetKindCounters();
  const bool ok = measure::ParseDeviceText(
      text, Config, [this](const std::string& caption, const std::string& text) { ShowWarningBox(caption, text); });
  if (!ok) {
    ShowWarningBox("Device File Error", "Missing or Invalid device file '" + path + "'");
    DeviceFilePath.clear();
    return false;
  }
  m_view.setText("LBDeviceFile", "Device File:  " + shownName);
  m_setup->deviceFileLoaded(Config);
  m_qc->deviceFileLoaded();
  m_session.deviceFileChanged();
  describeMeterFeed();
  m_view.setVisible("PMeterType", false);
  m_view.setActivePage(4);
  m_plot->UpdatePlotOptions(Config.DataFieldCount);
  ChannelSetupPending = true;
  return true;
}


// ---- The meter's commands and replies

void MainForm::SendMeterCommand(const std::string& text) {
  // The command and its line end; no answer is awaited.
  m_session.send(text);
}

void MainForm::ParseMeterReply(const std::string& line) {
  applyReply(meterlink::ParseMeterReply(line, Meter, Clock, m_options.hostClock()));
}

void MainForm::applyReply(const meterlink::ReplyEffects& effects) {
  if (effects.caption) m_view.windowCaption = *effects.caption;
  if (effects.storeCurrent) m_setup->ShowSetupStoreState(true);
  if (effects.memoryFull) m_ui.showDialog(Dialog::MemoryFull, true);
}

// ---- Small dialogs

void MainForm::Form2Button1Click() { m_ui.showDialog(Dialog::MemoryFull, false); }

void MainForm::SelectHPFormBTOKClick() {
  // OK applies both groups together, then reopens the port as the main boxes would.
  m_view.setItemIndex("CBHostPort", m_view.itemIndex("SelectHPForm.HPRG"));
  m_view.setItemIndex("CBBaudRate", m_view.itemIndex("SelectHPForm.BRRG"));
  CBHostPortChange();
  m_ui.showDialog(Dialog::SelectHostPort, false);
}

// ---- Plot page option boxes

void MainForm::PlotTypeCBChange() { m_plot->PlotTypeCBChange(); }
void MainForm::BBPlotCBChange() { m_plot->BBPlotCBChange(); }
void MainForm::StdDevCBChange() { m_plot->StdDevCBChange(); }
void MainForm::iTempCBChange() { m_plot->iTempCBChange(); }
void MainForm::xTempCBChange() { m_plot->xTempCBChange(); }
void MainForm::PresCBChange() { m_plot->PresCBChange(); }


}  // namespace app
