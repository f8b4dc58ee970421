// The files the window writes and reads: raw, engineering-units and CSV recordings (a
// sink of the session: every accepted sample), replay of a raw file with the sample-rate
// measurement, Export Recording…, and the transfer of the meter's memory.
#include "app/filespage.h"

#include "acquire/meterzone.h"
#include "app/mainform.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "files/csvformat.h"
#include "files/engrformat.h"
#include "files/netcdfwriter.h"
#include "measure/cformat.h"

namespace app {

using measure::cformat;

namespace {
const char* kRawFilter = "Raw Files (*.raw)|*.raw|All Files (*.*)|*.*";

// The time since "Receive Data" in whole seconds and the bytes received; shown while a
// transfer runs and once more when it ends.
void showElapsed(ViewModel& view, std::chrono::steady_clock::time_point start, long bytes) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  view.setText("LBTransferElapsed",
               cformat("Elapsed: %lld s   Received: %ld bytes", static_cast<long long>(elapsed.count()), bytes));
}
}  // namespace

FilesPage::FilesPage(ViewModel& view, OperatorUi& ui, acquire::Session& session, FormState& state, Host host)
    : m_view(view),
      m_ui(ui),
      m_session(session),
      m_s(state),
      m_warn(std::move(host.warn)),
      m_loadDeviceFile(std::move(host.loadDeviceFile)),
      m_stop(std::move(host.stopData)) {}

FilesPage::~FilesPage() = default;

void FilesPage::closeAll() {
  // Whatever was recorded is already on disk line by line; close the files properly.
  m_recording.stop(files::Recording::Stream::Raw);
  m_recording.stop(files::Recording::Stream::Engr);
  m_recording.stop(files::Recording::Stream::Csv);
  if (m_replay) m_replay->close();
  m_transfer.close();
}

void FilesPage::sample(const acquire::SampleRecord& record) {
  WriteEngrLine();
  WriteCsvLine();
  if (!m_recording.writeRawLine(record.raw)) recordingFailed(files::Recording::Stream::Raw);
}

void FilesPage::noteCorrectionsSkipped(int skipped) {
  // Once per engineering-units recording (and per device file): the samples concerned
  // are converted without that correction, so the files never hold inf or nan.
  const int fresh = skipped & ~m_correctionWarned;
  if (fresh == measure::CorrectionNone) return;
  m_correctionWarned |= fresh;
  for (const int flag : {measure::CorrectionReference, measure::CorrectionTemperature})
    if (fresh & flag) m_warn("Correction Skipped", measure::CorrectionSkippedText(flag));
}

files::ReplayReader* FilesPage::replaySource() {
  return m_s.ReplayMode && m_s.ReplayRunning && m_replay && m_replay->isOpen() ? m_replay.get() : nullptr;
}

std::optional<std::string> FilesPage::saveAs(const char* title, const char* suffix, const char* filter) {
  FileDialogSpec def;
  def.title = title;
  def.defaultSuffix = suffix;
  def.filter = filter;
  def.confirmOverwrite = true;
  return m_ui.saveFile(def);
}

// ---- Raw recording

void FilesPage::BTRecordRawClick() {
  const auto path = saveAs("Record Raw Data", "raw", kRawFilter);
  if (!path) return;
  StartRawRecording(*path);
}

bool FilesPage::StartRawRecording(const std::string& path) {
  // A failed open leaves a running recording as it was.
  if (!m_recording.start(files::Recording::Stream::Raw, path)) return false;
  m_view.setText("LBRawFileName", "Raw File Name:  " + path);
  return true;
}

void FilesPage::BTStopRecordClick() {
  m_recording.stop(files::Recording::Stream::Raw);
  m_recording.stop(files::Recording::Stream::Engr);
  m_recording.stop(files::Recording::Stream::Csv);
}

void FilesPage::recordingFailed(files::Recording::Stream stream) {
  // The write was not counted and the recording of that file has ended; the operator
  // hears of it once.
  using Stream = files::Recording::Stream;
  const char* what = stream == Stream::Raw ? "raw" : stream == Stream::Engr ? "engineering units" : "CSV";
  m_warn("Recording Stopped", std::string("The ") + what + " file '" + m_recording.path(stream) +
                                          "' could not be written (disk full or file gone). Recording to it has stopped.");
}

// ---- Engineering-units recording

void FilesPage::BTRecordEngrClick() {
  if (m_s.Config.DataFieldCount == 0) m_loadDeviceFile();
  const auto path = saveAs("Open Engr Units Record File", "eng", "Engineering Units|*.eng|All Files|*.*");
  if (!path) return;
  StartEngrRecording(*path);
}

bool FilesPage::StartEngrRecording(const std::string& path) {
  using Stream = files::Recording::Stream;
  m_correctionWarned = measure::CorrectionNone;
  if (!m_recording.start(Stream::Engr, path, files::EngrHeader(m_s.Config))) {
    m_view.setText("LBEngrFileName", "Engr Units File: ");
    return false;
  }
  m_view.setText("LBEngrFileName", "Engr Units File:  " + path);
  if (!RecordEngr()) recordingFailed(Stream::Engr);  // the header did not reach the file
  return RecordEngr();
}

bool FilesPage::StopEngrRecording() { return m_recording.stop(files::Recording::Stream::Engr); }

void FilesPage::WriteEngrLine() {
  if (!RecordEngr()) return;
  if (!m_recording.writeEngr(files::EngrLine(m_s.Config, m_s.Sample, m_s.Clock, m_s.Eng)))
    recordingFailed(files::Recording::Stream::Engr);
}

// ---- CSV recording: the host's UTC receive time, the meter's time, the count and the engineering values

void FilesPage::BTRecordCsvClick() {
  if (m_s.Config.DataFieldCount == 0) m_loadDeviceFile();
  const auto path = saveAs("Record CSV (UTC)", "csv", "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*");
  if (!path) return;
  StartCsvRecording(*path);
}

bool FilesPage::StartCsvRecording(const std::string& path) {
  using Stream = files::Recording::Stream;
  // A failed open leaves a running CSV recording as it was.
  // The flag columns are those of the checks in force at the start, for the whole file.
  const files::QcRun* qc = m_session.qc();
  if (!m_recording.start(Stream::Csv, path, qc ? files::CsvHeader(m_s.Config, *qc) : files::CsvHeader(m_s.Config)))
    return false;
  m_csvQc.reset();
  if (qc) m_csvQc.emplace(*qc);
  m_view.setText("LBCsvFileName", "CSV File:  " + path);
  if (!RecordCsv()) recordingFailed(Stream::Csv);  // the header did not reach the file
  return RecordCsv();
}

void FilesPage::WriteCsvLine() {
  if (!RecordCsv()) return;
  std::string row;
  // The meter's clock is read as UTC here; maru convert and Export take its zone.
  if (m_csvQc) {
    // A sample checked otherwise than when the file began is not evaluated in it.
    const files::QcRun* qc = m_session.qc();
    const bool same = qc && qc->config().text == m_csvQc->config().text;
    std::vector<qc::Flag> flags(m_csvQc->streams().size(), qc::Flag::NotEvaluated);
    for (size_t i = 0; same && i < flags.size(); ++i) flags[i] = qc->now()[i].liveAggregate();
    files::appendCsvRow(row, m_session.lastSampleTimes(), m_s.Config, m_s.Sample, m_s.Clock, m_s.Eng, *m_csvQc,
                        flags);
  } else {
    files::appendCsvRow(row, m_session.lastSampleTimes(), m_s.Config, m_s.Sample, m_s.Clock, m_s.Eng);
  }
  if (!m_recording.writeCsv(row)) recordingFailed(files::Recording::Stream::Csv);
}

// ---- Export Recording...: a raw file into CSV or NetCDF, a slice per tick

ExportFormat ExportFormatFor(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".nc" || ext == ".nc4" || ext == ".cdf" ? ExportFormat::Netcdf : ExportFormat::Csv;
}

namespace {
/// Input bytes converted per 55 ms tick: a few milliseconds of work.
constexpr size_t kExportSliceBytes = 1 << 16;
}  // namespace

void FilesPage::ExportRecordingClick() {
  if (m_s.Config.DataFieldCount == 0) m_loadDeviceFile();
  if (m_s.Config.DataFieldCount == 0 || m_s.DeviceFilePath.empty()) return;
  FileDialogSpec in;
  in.title = "Export Recording: Raw File";
  in.defaultSuffix = "raw";
  in.filter = kRawFilter;
  const auto input = m_ui.openFile(in);
  if (!input) return;
  FileDialogSpec out;
  out.title = "Export Recording As";
  out.defaultSuffix = "csv";
  out.filter = "CSV, UTC times (*.csv)|*.csv|NetCDF-4, CF (*.nc)|*.nc";
  out.confirmOverwrite = true;
  const auto output = m_ui.saveFile(out);
  if (!output) return;
  StartExport(*input, *output, ExportFormatFor(*output));
}

bool FilesPage::StartExport(const std::string& rawPath, const std::string& outPath, ExportFormat format) {
  if (m_export) {
    m_warn("Export Recording", "An export is running; cancel it or let it finish first.");
    return false;
  }
  // The zone the meter's clock was set to, as maru convert --meter-tz takes it.
  const std::string zone = m_view.text("EDExportZone").substr(0, 100);
  const std::optional<files::UtcOffset> offset = acquire::parseMeterZone(zone);
  if (!offset) {
    m_warn("Export Failed", "The meter clock zone '" + zone + "' is not UTC, +HH:MM, -HH:MM or a zone such as Europe/Oslo.");
    return false;
  }
  acquire::ConversionJob::Request request;
  request.format = format;
  request.input = rawPath;
  request.output = outPath;
  request.config = m_s.Config;
  // The checks in force flag the export too (their spike flags complete, as in maru convert).
  if (m_session.qc()) request.qc = m_session.qc()->config();
  request.refCorrection = m_s.RefCorrectionOn;
  request.tempCorrection = m_s.TempCorrectionOn;
  request.deviceFileText = files::readWholeFile(m_s.DeviceFilePath);
  request.meterTimeZone = *offset;
  // Names without their folders: a file's history says nothing about this machine.
  request.history = "maruview Export Recording: '" + std::filesystem::path(rawPath).filename().string() + "' with '" +
                    std::filesystem::path(m_s.DeviceFilePath).filename().string() + "'";
  m_exportWarnings.clear();
  // What maru convert would print on stderr, each with the input line it concerns.
  auto job = std::make_unique<acquire::ConversionJob>(
      std::move(request), [this](long line, const std::string& caption, const std::string& text) {
        std::string oneLine = text;
        for (char& c : oneLine)
          if (c == '\n' || c == '\r') c = ' ';
        m_exportWarnings.push_back("line " + std::to_string(line) + ": " + caption + ": " + oneLine);
      });
  if (!job->start()) {
    m_warn("Export Failed", job->error());
    return false;
  }
  m_export = std::move(job);
  m_view.setText("LBExportStatus", "Exporting '" + rawPath + "' to '" + outPath + "'");
  m_view.setVisible("LBExportStatus", true);
  m_view.setItemIndex("PBExport", 0);
  m_view.setVisible("PBExport", true);
  m_view.setVisible("BTExportCancel", true);
  m_view.setEnabled("ExportRecording1", false);
  return true;
}

void FilesPage::exportStep() {
  if (!m_export) return;
  const auto status = m_export->step(kExportSliceBytes);
  m_view.setItemIndex("PBExport", m_export->percent());
  if (status == acquire::ConversionJob::Status::Running) return;
  const std::string output = m_export->request().output;
  if (status == acquire::ConversionJob::Status::Done) {
    m_view.setText("LBExportStatus", cformat("Exported %lld samples to '", m_export->samples()) + output + "'");
    const auto& warnings = m_exportWarnings;
    if (!warnings.empty()) {
      // The export is complete, as maru convert's would be; the lines in question are named.
      std::string text = "The export is complete. Lines to check in '" + m_export->request().input + "':";
      const size_t shown = std::min<size_t>(warnings.size(), 5);
      for (size_t i = 0; i < shown; ++i) text += "\n" + warnings[i];
      if (warnings.size() > shown) text += cformat("\n... and %zu more", warnings.size() - shown);
      m_warn("Export Recording", text);
    }
  } else {
    m_view.setText("LBExportStatus", "Export failed: nothing was written to '" + output + "'");
    m_warn("Export Failed", m_export->error() + "\nThe partial file was removed.");
  }
  endExport();
}

void FilesPage::BTExportCancelClick() {
  if (!m_export) return;
  m_export->cancel();
  m_view.setText("LBExportStatus", "Export cancelled: nothing was written to '" + m_export->request().output + "'");
  endExport();
}

void FilesPage::endExport() {
  m_export.reset();
  m_view.setVisible("PBExport", false);
  m_view.setVisible("BTExportCancel", false);
  m_view.setEnabled("ExportRecording1", true);
}

// ---- Replay

void FilesPage::ReplayRawFileClick() {
  FileDialogSpec def;
  def.title = "Open Replay File";
  def.defaultSuffix = "raw";
  def.filter = kRawFilter;
  const auto path = m_ui.openFile(def);
  if (!path) return;
  StartReplay(*path);
}

bool FilesPage::StartReplay(const std::string& path) {
  auto reader = std::make_unique<files::ReplayReader>();
  if (!reader->open(path)) return false;
  m_replay = std::move(reader);  // an earlier replay file is closed here
  m_s.ReplayRunning = false;
  m_s.ReplayMode = true;
  m_view.setChecked("RealTimeData1", false);
  m_view.setChecked("ReplayRawFile1", true);
  m_view.setText("BTStopData", "Stop Replay");
  m_view.setText("BTStartData", "Start Replay");
  m_view.timer55IntervalMs = 220;
  return true;
}

void FilesPage::RealTimeDataClick() {
  m_s.ReplayRunning = false;
  m_s.ReplayMode = false;
  if (m_replay) m_replay->close();
  m_view.setChecked("RealTimeData1", true);
  m_view.setChecked("ReplayRawFile1", false);
  m_view.setText("BTStopData", "Stop Data");
  m_view.setText("BTStartData", "Start Data");
  m_view.timer55IntervalMs = 55;
}

void FilesPage::MeasureSampleRate() {
  if (m_s.RateSampleCount < 0) {
    m_rateWindowTicks = 5;
    m_s.TickCount = 1;
    m_ratePreviousTick = 1;
  }
  ++m_s.RateSampleCount;
  if (m_s.RateSampleCount < m_rateWindowTicks) return;
  const float period = static_cast<float>(m_s.TickCount - m_ratePreviousTick) * 0.055f / static_cast<float>(m_rateWindowTicks);
  m_ratePreviousTick = m_s.TickCount;
  m_s.SampleRateHz = period > 0.005f ? 1.0f / period : 0.01f;
  m_rateWindowTicks = m_s.SampleRateHz > 5.5f ? 10 : static_cast<int>(m_s.SampleRateHz * 10.0f);
  if (m_rateWindowTicks < 5) m_rateWindowTicks = 5;
  m_s.RateSampleCount = 0;
  const std::string text = m_s.ReplayMode ? std::string("Replay") : cformat("Sample Rate: %4.2f Hz", m_s.SampleRateHz);
  m_view.setText("LBHz1", text);
  m_view.setText("LBHz2", text);
}

// ---- Memory transfer

void FilesPage::BTGetDataClick() {
  const auto path = saveAs("Retrieve Meter's Internal Data", "raw", kRawFilter);
  if (!path) return;
  // The new file first: when it cannot be made, a running transfer goes on untouched.
  if (!m_transfer.start(*path)) return;
  m_view.setText("LBReceiveFile", "Receive File:  " + *path);
  m_view.setText("LBReceiveStatus", "Receive File Status:  In Progress");
  m_view.setText("LBReceiveFileSize", "Receive File Size: 0 K");
  m_transferStart = std::chrono::steady_clock::now();
  m_transferExpected = m_s.Meter.MeterMemoryUsed > 0
                           ? static_cast<long>(m_s.Meter.MeterMemoryUsed) * meterlink::kMemoryPageBytes
                           : 0;
  updateTransferProgress();
  m_session.send(meterlink::cmd::kGetData);
}

void FilesPage::BitBtnCancelClick() {
  // Only a running transfer can be cancelled; the outcome of a finished one stays shown.
  const bool cancelling = m_transfer.active();
  m_transfer.cancel();
  m_stop();
  // In replay mode Stop only pauses the replay; the meter must still be told to stop
  // its dump.
  if (cancelling && m_s.ReplayMode) m_session.sendBytes(meterlink::cmd::kStop);
}

void FilesPage::transferStep() {
  char buffer[meterlink::kTransferReadBytes];
  const size_t count = m_session.readRaw(buffer, sizeof buffer);
  if (count == 0) return;
  switch (m_transfer.take(std::string_view(buffer, count))) {
    case files::TransferSession::Event::WriteFailed:
      // The file could not take the bytes: the transfer has ended Incomplete.
      showElapsed(m_view, m_transferStart, ReceiveFileBytes());
      m_warn("Warning", "Data Transfer Failed: the receive file could not be written (disk full or file gone).");
      return;
    case files::TransferSession::Event::Complete:
      showElapsed(m_view, m_transferStart, ReceiveFileBytes());
      break;
    default:
      break;
  }
  updateTransferProgress();
}

void FilesPage::transferWatchdog() {
  const bool wasActive = m_transfer.active();
  const auto event = m_transfer.tick();
  if (wasActive && !m_transfer.active()) showElapsed(m_view, m_transferStart, ReceiveFileBytes());
  if (event == files::TransferSession::Event::Silence)
    m_warn("Warning", "Data Transfer Terminated Before Completion");
}

void FilesPage::updateTransferProgress() {
  // Percent of the memory the meter last reported in use (pages of 264 bytes); a
  // complete transfer shows 100 whatever that report said. Without a report there is
  // nothing to measure against: the bar shows that work goes on, and the label the bytes.
  int percent = 0;
  if (m_transfer.status() == files::TransferSession::Status::Complete)
    percent = 100;
  else if (m_transferExpected > 0)
    percent = static_cast<int>(std::min<long>(100, ReceiveFileBytes() * 100 / m_transferExpected));
  else if (m_transfer.active())
    percent = kProgressBusy;
  m_view.setItemIndex("PBTransfer", percent);
  if (m_transfer.active()) showElapsed(m_view, m_transferStart, ReceiveFileBytes());
}

}  // namespace app
