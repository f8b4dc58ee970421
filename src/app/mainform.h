#pragma once
// The main form's shared state and handlers, without widgets. The Qt layer forwards
// clicks and timer ticks here by the controls' names and shows the view model.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquire/feeds.h"
#include "acquire/session.h"
#include "app/filespage.h"
#include "app/formstate.h"
#include "app/operatorui.h"
#include "app/plotpage.h"
#include "app/qcview.h"
#include "app/setuppage.h"
#include "app/viewmodel.h"
#include "app/windowsettings.h"
#include "chart/plotchart.h"

namespace app {

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
  void OpenPort(int number, const std::string& name);
  void ClosePort();
  void CBHostPortChange();
  /// Looks at the adapters present now: slots follow their adapters, newly plugged ones
  /// take free slots; the host-port list shows each slot's adapter.
  void RefreshHostPorts();

  // ---- Device file ----
  /// Loads `path` through the session (as the menu does after its dialog), shown and
  /// saved as `shownName`. Returns success.
  bool openDeviceFile(const std::string& path, const std::string& shownName,
                          acquire::Session::Tell tell = acquire::Session::Tell::Everything);

  /// The meter setup pages and the power-user lock.
  SetupPage& setup() { return *m_setup; }
  PlotPage& plotPage() { return *m_plot; }
  /// The window's own settings ("maruview.ini"), as loaded at start and changed since.
  const WindowSettings& windowSettings() const { return m_settings; }
  /// The meter clock zone (the edit "Meter clock zone", EDExportZone): every meter time the
  /// window records, exports, publishes or checks is read in it. `text` (as
  /// acquire::parseMeterZone takes it) goes to the session, the edit and the settings file;
  /// anything else is refused with a warning naming the field and the forms it takes, and
  /// the zone in force stays (shown again). False when refused.
  bool setMeterClockZone(const std::string& text);

  /// A device file loaded lately, as the File menu lists it.
  struct RecentFile {
    std::string click;    ///< the item's click name: "RecentDeviceFile1" (newest) …
    std::string caption;  ///< "1 bb3.dev"
    std::string path;     ///< the whole path (the item's tooltip)
  };
  /// The recent device files, newest first; clicking one loads it through openDeviceFile.
  std::vector<RecentFile> recentDeviceFiles() const;

 private:
  void ReceiveStep();
  /// What the window does with a dispatched line: list it, then note a sample (the
  /// sinks show and record it) or apply a reply.
  void TakeLine(const meterlink::Line& line);
  void LoadDeviceFileClick();
  void onDeviceFileLoaded();
  void firstTick();
  void finishStartup();
  void drawClockLabels();
  /// The host's clock now, whether data comes or not.
  void drawHostClock();
  /// The recording indicator: the files written, for how long and how big, or "Not recording".
  void showRecordingIndicator();
  /// "No data for N s" once a watched port has been silent for the set time.
  void showDataSilence();
  void watchSilence(bool on);
  void showFeedState();
  void NoDataSecondsClick();
  void RecentDeviceFileClick(size_t index);
  void onPortLost(const std::string& reason);
  void onPortBack(std::chrono::seconds down);
  void onRecordingStopped(const std::string& why);
  acquire::SessionOptions sessionOptions();
  void startFeeds();
  void updateFeedState();
  void describeMeterFeed();
  void restoreHostPorts();
  std::string slotText(int slot) const;
  void applyReply(const meterlink::ReplyEffects& effects);
  void syncDispatch();
  void setupDispatch();
  /// Writes the window's settings now; a failure is told once per run.
  void saveWindowSettings();

  OperatorUi& m_ui;
  chart::PlotChart& m_chart;
  MainFormOptions m_options;
  WindowSettings m_settings;
  bool m_settingsSaveFailed = false;
  ViewModel m_view;
  /// What the session tells, handed to the form's handlers.
  struct SessionListener : acquire::Listener {
    explicit SessionListener(MainForm& form) : form(form) {}
    void line(const meterlink::Line& line) override { form.TakeLine(line); }
    void warning(const std::string& caption, const std::string& text) override { form.ShowWarningBox(caption, text); }
    void portLost(const std::string& why) override { form.onPortLost(why); }
    void portBack(std::chrono::seconds down) override { form.onPortBack(down); }
    void deviceFileLoaded(const measure::DeviceConfig&) override { form.onDeviceFileLoaded(); }
    void recordingStopped(files::Recording::Stream, const std::string& why) override { form.onRecordingStopped(why); }
    MainForm& form;
  } m_listener;
  acquire::Session m_session;
  int m_lostSlot = 0;  ///< the host-port item whose adapter is looked for
  std::unique_ptr<acquire::Feeds> m_feeds;
  std::unique_ptr<FilesPage> m_files;
  std::unique_ptr<SetupPage> m_setup;
  std::unique_ptr<PlotPage> m_plot;
  std::unique_ptr<QcView> m_qc;
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
  /// The port is watched for silence: opened, or Start Data sent, and not stopped since.
  bool m_silenceWatched = false;
  bool m_silenceCounting = false;  ///< the watch was in force at the last look
  std::chrono::steady_clock::time_point m_lastLineAt{};
  std::optional<std::chrono::steady_clock::time_point> m_recordingSince;
  /// Why a recording failed, until the next one starts (the MQTT state "recording_stopped").
  std::string m_recordingStoppedWhy;
  std::string m_savedPorts;  ///< the host-ports file as last written or read
  /// Boxes may be dismissed after the form is gone; their callbacks check this first.
  std::shared_ptr<char> m_alive = std::make_shared<char>(0);
};

}  // namespace app
