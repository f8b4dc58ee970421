#pragma once
// The window's files page: the dialogs, labels and clicks of the recordings (a sink of the
// session), replay and the sample rate, Export Recording… and the memory transfer; the
// work is the engine's (src/acquire).
#include <string>
#include <vector>

#include "acquire/conversion.h"
#include "acquire/recordings.h"
#include "acquire/session.h"
#include "app/operatorui.h"
#include "app/viewmodel.h"

namespace app {

struct FormState;

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
  /// Record Raw, Record Engr Units, Record CSV: the save dialog (after the device file's
  /// when none is loaded), then the recording.
  void RecordClick(acquire::Recordings::Stream stream);
  void BTStopRecordClick() { m_recordings.stopAll(); }
  /// Starts the recording of `stream` into `path` without a dialog, with its label.
  bool StartRecording(acquire::Recordings::Stream stream, const std::string& path);
  acquire::Recordings& recordings() { return m_recordings; }

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
  bool StartExport(const std::string& rawPath, const std::string& outPath, acquire::ConversionFormat format);
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
  /// The menu's mode, the start and stop captions and the tick of replay or real-time data.
  void showMode(bool replay);
  void transferEvent(acquire::MemoryTransfer::Event event);
  /// The export's progress bar and Cancel while it runs (ended: the job is let go).
  void showExport(bool running);

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
