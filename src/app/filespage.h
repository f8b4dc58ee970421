#pragma once
// The window's files: the raw, engineering-units and CSV recordings (a sink of the
// acquisition session, so every accepted sample reaches them), replay of a raw file and the
// sample rate, File > Export Recording…, and the transfer of the meter's memory. The form
// routes the operator's clicks and its ticks here; what the page shows goes to the view.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquire/conversion.h"
#include "acquire/session.h"
#include "app/operatorui.h"
#include "app/viewmodel.h"
#include "files/recording.h"
#include "files/replayreader.h"
#include "files/transfersession.h"

namespace app {

struct FormState;

/// What File > Export Recording… writes.
using ExportFormat = acquire::ConversionFormat;
/// The format an output name asks for: ".nc", ".nc4" or ".cdf" (any case) is NetCDF,
/// anything else CSV.
ExportFormat ExportFormatFor(const std::string& path);

class FilesPage : public acquire::Sink {
 public:
  /// What the page asks of the window around it.
  struct Host {
    std::function<void(const std::string& caption, const std::string& text)> warn;  ///< a warning box
    std::function<void()> loadDeviceFile;  ///< the operator picks a device file
    std::function<void()> stopData;        ///< "Stop Data" (or the replay's pause)
  };
  FilesPage(ViewModel& view, OperatorUi& ui, acquire::Session& session, FormState& state, Host host);
  ~FilesPage() override;

  // ---- recordings
  void BTRecordRawClick();
  void BTRecordEngrClick();
  void BTRecordCsvClick();
  void BTStopRecordClick();
  bool StartRawRecording(const std::string& path);
  /// Starts engineering-units recording into `path` without a dialog.
  bool StartEngrRecording(const std::string& path);
  /// Stops engineering-units recording; false when the file could not be completed.
  bool StopEngrRecording();
  /// Starts the CSV recording into `path` without a dialog.
  bool StartCsvRecording(const std::string& path);
  bool RecordRaw() const { return m_recording.on(files::Recording::Stream::Raw); }
  bool RecordEngr() const { return m_recording.on(files::Recording::Stream::Engr); }
  bool RecordCsv() const { return m_recording.on(files::Recording::Stream::Csv); }
  long RawFileBytes() const { return m_recording.bytes(files::Recording::Stream::Raw); }
  long EngrFileBytes() const { return m_recording.bytes(files::Recording::Stream::Engr); }
  long CsvFileBytes() const { return m_recording.bytes(files::Recording::Stream::Csv); }
  /// A sample from the session: into every recording that is on.
  void sample(const acquire::SampleRecord& record) override;
  /// The corrections a sample had to leave out: told once per engineering-units recording
  /// (and per device file).
  void noteCorrectionsSkipped(int skipped);
  void forgetCorrectionWarnings() { m_correctionWarned = 0; }

  // ---- replay and the sample rate
  void ReplayRawFileClick();
  void RealTimeDataClick();
  bool StartReplay(const std::string& path);
  /// The replay file while replaying and running; nothing while paused or not replaying.
  files::ReplayReader* replaySource();
  void MeasureSampleRate();

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
  bool TransferActive() const { return m_transfer.active(); }
  int TransferIdleTicks() const { return m_transfer.idleTicks(); }
  int TransferStatus() const { return static_cast<int>(m_transfer.status()); }
  long ReceiveFileBytes() const { return m_transfer.bytes(); }
  /// The port's bytes to the transfer file, per 55 ms tick while a transfer runs.
  void transferStep();
  /// The transfer's silence watchdog, per 55 ms tick.
  void transferWatchdog();
  /// The transfer's progress bar and elapsed time, with the 1 s status refresh.
  void updateTransferProgress();

  /// Closes every file cleanly (the window is closing).
  void closeAll();

 private:
  /// The save dialog of a file the page writes; nothing when the operator cancelled.
  std::optional<std::string> saveAs(const char* title, const char* suffix, const char* filter);
  void recordingFailed(files::Recording::Stream stream);
  void WriteEngrLine();
  void WriteCsvLine();
  void endExport();

  ViewModel& m_view;
  OperatorUi& m_ui;
  acquire::Session& m_session;
  FormState& m_s;
  std::function<void(const std::string&, const std::string&)> m_warn;
  std::function<void()> m_loadDeviceFile;
  std::function<void()> m_stop;

  files::Recording m_recording;
  std::optional<files::QcRun> m_csvQc;  ///< the checks the CSV recording's columns are for
  std::unique_ptr<files::ReplayReader> m_replay;
  files::TransferSession m_transfer;
  std::unique_ptr<acquire::ConversionJob> m_export;
  std::vector<std::string> m_exportWarnings;  ///< "line N: caption: text" of the running export
  std::chrono::steady_clock::time_point m_transferStart{};
  long m_transferExpected = 0;
  int m_rateWindowTicks = 5;
  int m_ratePreviousTick = 1;
  int m_correctionWarned = 0;  ///< measure::CorrectionSkipped bits already reported
};

}  // namespace app
