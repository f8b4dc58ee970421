#pragma once
// The main form's shared state and handlers, without widgets. The Qt layer forwards
// clicks and timer ticks here by the controls' names and shows the view model.
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/filespage.h"
#include "app/operatorui.h"
#include "app/plotpage.h"
#include "app/qcview.h"
#include "app/setuppage.h"
#include "acquire/feeds.h"
#include "acquire/session.h"
#include "app/viewmodel.h"
#include "chart/plotchart.h"
#include "files/archivetime.h"
#include "files/recording.h"
#include "files/replayreader.h"
#include "files/transfersession.h"
#include "link/linedispatch.h"
#include "link/meterprotocol.h"
#include "link/portslots.h"
#include "link/serialport.h"
#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/sample.h"
#include "measure/statistics.h"

namespace app {

class MainForm;


struct MainFormOptions {
  meterlink::PortSlots ports;                  ///< which device each "Host Port - COM n" item means
  std::string workingDir = ".";           ///< where "last.rbs" and saved device-file names live
  measure::HostClock hostClock = measure::LocalHostTime;
  /// The host's UTC time now: the receive time of the CSV recording's rows and of the
  /// plot's time axis. Tests fix it.
  std::function<std::chrono::system_clock::time_point()> utcClock = [] { return std::chrono::system_clock::now(); };
  std::function<void(int)> quit;          ///< ends the program (exit status); tests record it
  /// Runs once when start-up is over: after the first receive tick set its defaults and
  /// the first 1-second tick restored the last run's settings.
  std::function<void(MainForm&)> onStarted;
  /// The serial adapters present now; empty means this machine's (tests give their own).
  std::function<std::vector<meterlink::SerialAdapter>()> listAdapters;
  /// Live feeds of every sample, as `maru log` publishes them: MQTT (broker "" for none), UDP.
  struct Feeds {
    acquire::MqttOptions mqtt;
    std::string udp;      ///< "HOST:PORT"; "" for none
    std::string version;  ///< the program's, for the MQTT metadata
  } feeds;
  std::string qcPath;  ///< a QC configuration to load once start-up is over ("": none)
};

/// The shared state of the window as the operator's handlers, the ticks and the status
/// refresh use it. Start values are the program's at start.
struct FormState {
  /// What the meter's lines tell; Config … Meter below name its parts.
  meterlink::MeterState State;
  measure::DeviceConfig& Config = State.config;
  measure::SampleState& Sample = State.sample;
  measure::MeterClock& Clock = State.clock;
  measure::EngValues& Eng = State.eng;
  meterlink::MeterSetup& Meter = State.meter;
  measure::Statistics Stats;

  int OpenPortNumber = 0;
  int BaudIndex = 2;
  int SetupRequestTicks = meterlink::kSetupRequestTicks;
  int TickCount = 0;
  unsigned long TotalBytesRead = 0;
  bool ChannelSetupPending = false;
  bool SampleClockDirty = false;
  bool PowerUser = false;
  PlotChoices Plot;  ///< PlotType, BBPlotChoice, StdDevWindow and the three plot switches
  bool RefCorrectionOn = false, TempCorrectionOn = false;
  std::string DeviceFilePath;
  int MessageBoxDepth = 0;
};

class MainForm : private FormState {
  friend struct FormTestAccess;  ///< tests that set an edge of the state directly (tests/app/formaccess.h)

 public:
  MainForm(OperatorUi& ui, chart::PlotChart& chart, MainFormOptions options = {});
  ~MainForm();
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  ViewModel& view() { return m_view; }
  const ViewModel& view() const { return m_view; }

  /// Forwards a click on the control `name` (buttons, panels, menu items, dialog buttons).
  /// Returns false when the name has no click handler.
  bool click(const std::string& name);
  /// Forwards a change of a combo box or radio group after its index was written to the view.
  bool changed(const std::string& name);

  /// The window's shared state, to read: what the meter told, the port, the plot choices.
  const FormState& shared() const { return *this; }

  /// The recordings, replay, export and memory transfer.
  FilesPage& files() { return *m_files; }
  const FilesPage& files() const { return *m_files; }
  /// The acquisition session, to read: replay, memory transfer, sample rate.
  const acquire::Session& session() const { return m_session; }

  // ---- Application shell ----
  void ShowWarningBox(const std::string& caption, const std::string& text);
  void BTStartClick();
  void BTStopClick();
  void Exit1Click();
  void BTExitClick();
  /// Closing the window by its frame: no settings saved, files closed cleanly.
  void CloseByFrame();
  void SaveSettings();
  void RestoreSettings();
  void Timer55msTimer();
  void Timer500msTimer();
  void Timer1SecondTimer();

  // ---- Serial port ----
  void SetBaudIndex(int baud);
  void OpenPort(int number, const std::string& name);
  void ClosePort();
  bool WritePort(const char* bytes, size_t count);
  void ReadPort(char* buffer, size_t& count);
  void CBHostPortChange();
  void PCOMPortClick();
  /// Looks at the adapters present now: slots follow their adapters, newly plugged ones
  /// take free slots; the host-port list shows each slot's adapter.
  void RefreshHostPorts();
  meterlink::SerialPort& port() { return m_session.port(); }
  const meterlink::PortSlots& portSlots() const { return m_options.ports; }

  // ---- Receive loop ----
  void ReceiveStep(int rebuildChannels);
  /// One complete line as the framer hands it on (decoder, then the per-sample chain
  /// or the reply parser).
  void DispatchLine(const std::string& line);
  /// What the window does with a dispatched line: list it, then show and record a
  /// sample or apply a reply.
  void TakeLine(const meterlink::Line& line);

  // ---- Device file ----
  void LoadDeviceFileClick();
  void PMeterTypeClick();
  /// Loads `path` as LoadDeviceFileClick does after its dialog. Returns success.
  bool LoadDeviceFilePath(const std::string& path, const std::string& shownName);

  // ---- Meter commands ----
  void SendMeterCommand(const std::string& text);
  void ParseMeterReply(const std::string& line);
  /// The meter setup pages and the power-user lock.
  SetupPage& setup() { return *m_setup; }
  void Form2Button1Click();
  void SelectHPFormBTOKClick();

  // ---- Plot page ----
  void PlotTypeCBChange();
  void BBPlotCBChange();
  void StdDevCBChange();
  void iTempCBChange();
  void xTempCBChange();
  void PresCBChange();
  PlotPage& plotPage() { return *m_plot; }
  QcView& qcView() { return *m_qc; }

 private:
  void firstTick();
  void finishStartup();
  void drawClockLabels();
  void onPortLost(const std::string& reason);
  void onPortBack(std::chrono::seconds down);
  acquire::SessionOptions sessionOptions();
  void startFeeds();
  void updateFeedState();
  /// The MQTT topics and metadata of the device file and the QC configuration in force.
  void describeMeterFeed();
  void restoreHostPorts();
  std::string slotText(int slot) const;
  void applyReply(const meterlink::ReplyEffects& effects);
  void syncDispatch();
  void setupDispatch();
  std::string editText(const std::string& name, size_t limit = 100) const;

  OperatorUi& m_ui;
  chart::PlotChart& m_chart;
  MainFormOptions m_options;
  ViewModel m_view;
  /// What the session tells, handed to the form's handlers.
  struct SessionListener : acquire::Listener {
    explicit SessionListener(MainForm& form) : form(form) {}
    void line(const meterlink::Line& line) override { form.TakeLine(line); }
    void warning(const std::string& caption, const std::string& text) override { form.ShowWarningBox(caption, text); }
    void portLost(const std::string& why) override { form.onPortLost(why); }
    void portBack(std::chrono::seconds down) override { form.onPortBack(down); }
    MainForm& form;
  } m_listener;
  acquire::Session m_session;
  int m_lostSlot = 0;  ///< the host-port item whose adapter is looked for
  std::unique_ptr<acquire::MqttFeed> m_mqtt;
  std::unique_ptr<acquire::UdpFeed> m_udp;
  std::unique_ptr<acquire::FeedSink> m_feeds;
  std::unique_ptr<FilesPage> m_files;
  std::unique_ptr<SetupPage> m_setup;
  std::unique_ptr<PlotPage> m_plot;
  std::unique_ptr<QcView> m_qc;
  /// The host's UTC time when the line being taken arrived.
  std::chrono::system_clock::time_point m_lineTime{};
  std::map<std::string, std::function<void()>> m_clicks;
  std::map<std::string, std::function<void()>> m_changes;

  bool m_firstTickPending = true;
  bool m_firstSecondPending = true;
  bool m_inTick55 = false;
  bool m_inTick500 = false;
  bool m_inTick1s = false;
  bool m_portLostPending = false;
  int m_portLostNumber = 0;
  std::string m_portLostReason;
  bool m_dataRunning = false;  ///< "$run" was the last of run/stop sent to the meter
  std::string m_savedPorts;  ///< the host-ports file as last written or read
  /// Boxes may be dismissed after the form is gone; their callbacks check this first.
  std::shared_ptr<char> m_alive = std::make_shared<char>(0);
};

}  // namespace app
