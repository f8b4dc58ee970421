#pragma once
// Quality control in the window: File > Load QC Configuration… (or --qc at start), the
// live value and flag of each checked stream in words and colour, the suspect and failed
// samples of the current recording counted, and flagged points marked on the chart (a
// spike one sample late, when the sample after it has come).
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
  /// Reads `path` and checks every sample with it from now on, or, while a recording runs,
  /// from the next recording (held until applyHeld(); the counts label says so), so a
  /// running file and the screen keep the checks of its header. A file that cannot be used
  /// is a warning naming its line; the checks in force stay then.
  bool load(const std::string& path);
  /// The recordings stopped, or one is about to start: a held configuration comes into
  /// force (a warning instead when it no longer fits the device file in force).
  void applyHeld();
  /// The path of the configuration held for the next recording; empty: none.
  const std::string& heldPath() const { return m_heldPath; }
  /// Another device file (the session rebound the checks): the label says when they stopped.
  void deviceFileLoaded();

  void sample(const acquire::SampleRecord& record) override;

  long long suspectSamples() const { return m_suspect; }
  long long failedSamples() const { return m_failed; }

 private:
  void count(qc::Flag flag, int by);
  /// Puts `config` (read from `path`) in force.
  void apply(qc::Config config, const std::string& path);
  void showCounts();

  ViewModel& m_view;
  OperatorUi& m_ui;
  acquire::Session& m_session;
  PlotPage& m_plot;
  std::function<bool()> m_recording;
  Warn m_warn;
  std::string m_path;
  std::string m_pendingPath;  ///< loaded once a device file is
  std::optional<qc::Config> m_held;  ///< loaded during a recording, for the next one
  std::string m_heldPath;
  bool m_wasRecording = false;
  std::vector<qc::Flags> m_before;  ///< per stream, the live flags of the sample before
  qc::Flag m_lastFlag = qc::Flag::NotEvaluated;  ///< the latest sample's worst flag, as counted
  long long m_suspect = 0, m_failed = 0;
};

}  // namespace app
