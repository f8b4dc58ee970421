#pragma once
// The window's files page: the dialogs, labels and clicks of the recordings
// (acquire::Recordings, a sink of the session), replay and the sample rate (the session's),
// File > Export Recording… and the transfer of the meter's memory (the session's). The form
// routes the operator's clicks and its ticks here; what the page shows goes to the view.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquire/conversion.h"
#include "acquire/recordings.h"
#include "acquire/session.h"
#include "app/operatorui.h"
#include "app/viewmodel.h"

namespace app {

struct FormState;

/// What File > Export Recording… writes.
using ExportFormat = acquire::ConversionFormat;

class FilesPage {
 public:
  /// What the page asks of the window around it.
  struct Host {
    std::function<void(const std::string& caption, const std::string& text)> warn;  ///< a warning box
    std::function<void()> loadDeviceFile;  ///< the operator picks a device file
    std::function<void()> stopData;        ///< "Stop Data" (or the replay's pause)
  };
  /// The recordings tell `listener` of their failures and warnings.
  FilesPage(ViewModel& view, OperatorUi& ui, acquire::Session& session, acquire::Listener& listener,
            FormState& state, Host host);
  ~FilesPage();

  // ---- recordings
  void BTRecordRawClick();
  void BTRecordEngrClick();
  void BTRecordCsvClick();
  void BTStopRecordClick() { m_recordings.stopAll(); }
  /// Starts the recording of `stream` into `path` without a dialog, with its label.
  bool StartRecording(acquire::Recordings::Stream stream, const std::string& path);
  acquire::Recordings& recordings() { return m_recordings; }
  const acquire::Recordings& recordings() const { return m_recordings; }

  // ---- replay and the sample rate
  void ReplayRawFileClick();
  void RealTimeDataClick();
  bool StartReplay(const std::string& path);
  /// After a sample: the rate labels, when the session measured a new rate.
  void showSampleRate();

  // ---- Export Recording…
  void ExportRecordingClick();
  /// Starts exporting `rawPath` into `outPath` without dialogs; false (with a box) when it
  /// cannot start.
  bool StartExport(const std::string& rawPath, const std::string& outPath, ExportFormat format);
  void BTExportCancelClick();
  bool ExportRunning() const { return m_export != nullptr; }
  /// One slice of a running export, per 55 ms tick.
  void exportStep();

  // ---- memory transfer
  void BTGetDataClick();
  void BitBtnCancelClick();
  /// The transfer's progress bar and elapsed time, with the 1 s status refresh.
  void updateTransferProgress();

 private:
  /// The save dialog of a file the page writes; nothing when the operator cancelled.
  std::optional<std::string> saveAs(const char* title, const char* suffix, const char* filter);
  void transferEvent(acquire::MemoryTransfer::Event event);
  void endExport();

  ViewModel& m_view;
  OperatorUi& m_ui;
  acquire::Session& m_session;
  FormState& m_s;
  Host m_host;
  acquire::Recordings m_recordings;
  std::unique_ptr<acquire::ConversionJob> m_export;
  std::vector<std::string> m_exportWarnings;  ///< "line N: caption: text" of the running export
  long m_rateShown = 0;  ///< the session's rate measurements already shown
};

}  // namespace app
