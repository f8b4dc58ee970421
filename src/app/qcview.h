#pragma once
// Quality control in the window: File > Load QC Configuration… (or --qc at start), the
// live value and flag of each checked stream in words and colour, the suspect and failed
// samples of the current recording counted, and flagged points marked on the chart (a
// spike one sample late, when the sample after it has come).
#include <functional>
#include <string>

#include "acquire/session.h"
#include "app/operatorui.h"
#include "app/plotpage.h"
#include "app/viewmodel.h"

namespace app {

class QcView : public acquire::Sink {
 public:
  using Warn = std::function<void(const std::string& caption, const std::string& text)>;
  /// All references must outlive the view; `recording` tells whether any recording is on.
  QcView(ViewModel& view, OperatorUi& ui, acquire::Session& session, PlotPage& plot, std::function<bool()> recording,
         Warn warn);

  /// File > Load QC Configuration…: asks for the file and loads it.
  void LoadQcConfigurationClick();
  /// Reads `path` and checks every sample with it from now on. A file that cannot be used
  /// is a warning naming its line; the checks in force stay then.
  bool load(const std::string& path);
  /// Another device file (the session rebound the checks): the label says when they stopped.
  void deviceFileLoaded();

  void sample(const acquire::SampleRecord& record) override;

  long long suspectSamples() const { return m_suspect; }
  long long failedSamples() const { return m_failed; }

 private:
  void count(qc::Flag flag, int by);
  void showCounts();

  ViewModel& m_view;
  OperatorUi& m_ui;
  acquire::Session& m_session;
  PlotPage& m_plot;
  std::function<bool()> m_recording;
  Warn m_warn;
  std::string m_path;
  std::string m_pendingPath;  ///< loaded once a device file is
  bool m_wasRecording = false;
  qc::Flag m_lastFlag = qc::Flag::NotEvaluated;  ///< the latest sample's worst flag, as counted
  long long m_suspect = 0, m_failed = 0;
};

}  // namespace app
