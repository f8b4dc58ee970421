// The files page: the dialogs and labels of the recordings, replay and the sample rate,
// Export Recording… and the transfer of the meter's memory; the work is the engine's.
#include "app/filespage.h"

#include "acquire/meterzone.h"
#include "app/mainform.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "measure/cformat.h"

namespace app {

using measure::cformat;
using Stream = acquire::Recordings::Stream;

namespace {
const char* kRawFilter = "Raw Files (*.raw)|*.raw|All Files (*.*)|*.*";
}  // namespace

FilesPage::FilesPage(ViewModel& view, OperatorUi& ui, acquire::Session& session, acquire::Listener& listener,
                     FormState& state, Host host)
    : m_view(view), m_ui(ui), m_session(session), m_s(state), m_host(std::move(host)), m_recordings(listener) {
  m_session.addSink(&m_recordings);
  m_session.transfer().setHandler([this](acquire::MemoryTransfer::Event event, auto) { transferEvent(event); });
}

FilesPage::~FilesPage() {
  m_session.transfer().setHandler(nullptr);
  m_session.removeSink(&m_recordings);
}

std::optional<std::string> FilesPage::saveAs(const char* title, const char* suffix, const char* filter) {
  FileDialogSpec def;
  def.title = title;
  def.defaultSuffix = suffix;
  def.filter = filter;
  def.confirmOverwrite = true;
  return m_ui.saveFile(def);
}

// ---- Recordings

void FilesPage::BTRecordRawClick() {
  if (const auto path = saveAs("Record Raw Data", "raw", kRawFilter)) StartRecording(Stream::Raw, *path);
}

void FilesPage::BTRecordEngrClick() {
  if (m_s.Config.DataFieldCount == 0) m_host.loadDeviceFile();
  if (const auto path = saveAs("Open Engr Units Record File", "eng", "Engineering Units|*.eng|All Files|*.*"))
    StartRecording(Stream::Engr, *path);
}

void FilesPage::BTRecordCsvClick() {
  if (m_s.Config.DataFieldCount == 0) m_host.loadDeviceFile();
  if (const auto path = saveAs("Record CSV (UTC)", "csv", "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*"))
    StartRecording(Stream::Csv, *path);
}

bool FilesPage::StartRecording(Stream stream, const std::string& path) {
  // A failed open leaves a running recording as it was (the engineering-units label is
  // emptied then).
  static const char* const kLabel[] = {"LBRawFileName", "LBEngrFileName", "LBCsvFileName"};
  static const char* const kCaption[] = {"Raw File Name:  ", "Engr Units File:  ", "CSV File:  "};
  const int i = static_cast<int>(stream);
  const bool opened = m_recordings.start(stream, path) || m_recordings.path(stream) == path;
  if (opened)
    m_view.setText(kLabel[i], kCaption[i] + path);
  else if (stream == Stream::Engr)
    m_view.setText(kLabel[i], "Engr Units File: ");
  return m_recordings.on(stream) && m_recordings.path(stream) == path;
}

// ---- Export Recording...: a raw file into CSV or NetCDF, a slice per tick

namespace {
/// Input bytes converted per 55 ms tick: a few milliseconds of work.
constexpr size_t kExportSliceBytes = 1 << 16;
}  // namespace

void FilesPage::ExportRecordingClick() {
  if (m_s.Config.DataFieldCount == 0) m_host.loadDeviceFile();
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
  StartExport(*input, *output, acquire::exportFormatFor(*output));
}

bool FilesPage::StartExport(const std::string& rawPath, const std::string& outPath, ExportFormat format) {
  if (m_export) {
    m_host.warn("Export Recording", "An export is running; cancel it or let it finish first.");
    return false;
  }
  // The zone the meter's clock was set to, as maru convert --meter-tz takes it.
  const std::string zone = m_view.text("EDExportZone").substr(0, 100);
  const std::optional<files::UtcOffset> offset = acquire::parseMeterZone(zone);
  if (!offset) {
    m_host.warn("Export Failed", "The meter clock zone '" + zone + "' is not UTC, +HH:MM, -HH:MM or a zone such as Europe/Oslo.");
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
    m_host.warn("Export Failed", job->error());
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
      m_host.warn("Export Recording", text);
    }
  } else {
    m_view.setText("LBExportStatus", "Export failed: nothing was written to '" + output + "'");
    m_host.warn("Export Failed", m_export->error() + "\nThe partial file was removed.");
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

// ---- Replay and the sample rate

void FilesPage::ReplayRawFileClick() {
  FileDialogSpec def;
  def.title = "Open Replay File";
  def.defaultSuffix = "raw";
  def.filter = kRawFilter;
  if (const auto path = m_ui.openFile(def)) StartReplay(*path);
}

bool FilesPage::StartReplay(const std::string& path) {
  if (!m_session.replay(path)) return false;
  m_view.setChecked("RealTimeData1", false);
  m_view.setChecked("ReplayRawFile1", true);
  m_view.setText("BTStopData", "Stop Replay");
  m_view.setText("BTStartData", "Start Replay");
  m_view.timer55IntervalMs = 220;
  return true;
}

void FilesPage::RealTimeDataClick() {
  m_session.stopReplay();
  m_view.setChecked("RealTimeData1", true);
  m_view.setChecked("ReplayRawFile1", false);
  m_view.setText("BTStopData", "Stop Data");
  m_view.setText("BTStartData", "Start Data");
  m_view.timer55IntervalMs = 55;
}

void FilesPage::showSampleRate() {
  if (m_session.rate().measurements() == m_rateShown) return;
  m_rateShown = m_session.rate().measurements();
  const std::string text =
      m_session.replaying() ? std::string("Replay") : cformat("Sample Rate: %4.2f Hz", m_session.rate().hz());
  m_view.setText("LBHz1", text);
  m_view.setText("LBHz2", text);
}

// ---- Memory transfer

void FilesPage::BTGetDataClick() {
  const auto path = saveAs("Retrieve Meter's Internal Data", "raw", kRawFilter);
  // The new file first: when it cannot be made, a running transfer goes on untouched.
  if (!path || !m_session.startTransfer(*path)) return;
  m_view.setText("LBReceiveFile", "Receive File:  " + *path);
  m_view.setText("LBReceiveStatus", "Receive File Status:  In Progress");
  m_view.setText("LBReceiveFileSize", "Receive File Size: 0 K");
  updateTransferProgress();
}

void FilesPage::BitBtnCancelClick() {
  // Only a running transfer can be cancelled; the outcome of a finished one stays shown.
  const bool cancelling = m_session.transfer().active();
  m_session.transfer().cancel();
  m_host.stopData();
  // In replay mode Stop only pauses the replay; the meter must still be told to stop its dump.
  if (cancelling && m_session.replaying()) m_session.sendBytes(meterlink::cmd::kStop);
}

void FilesPage::transferEvent(acquire::MemoryTransfer::Event event) {
  using Event = acquire::MemoryTransfer::Event;
  updateTransferProgress();
  const auto& t = m_session.transfer();
  // The time since "Receive Data" and the bytes, shown while it runs and once more at its end.
  if (!t.active())
    m_view.setText("LBTransferElapsed", cformat("Elapsed: %lld s   Received: %ld bytes",
                                                static_cast<long long>(t.elapsed().count()), t.progress().current));
  if (event == Event::WriteFailed)
    m_host.warn("Warning", "Data Transfer Failed: the receive file could not be written (disk full or file gone).");
  if (event == Event::Silence) m_host.warn("Warning", "Data Transfer Terminated Before Completion");
}

void FilesPage::updateTransferProgress() {
  // Percent of the memory the meter last reported in use; a complete transfer shows 100
  // whatever that report said. Without a report the bar shows that work goes on.
  const auto& t = m_session.transfer();
  const auto [current, maximum] = t.progress();
  int percent = 0;
  if (t.status() == acquire::MemoryTransfer::Status::Complete)
    percent = 100;
  else if (maximum > 0)
    percent = static_cast<int>(std::min<long>(100, current * 100 / maximum));
  else if (t.active())
    percent = kProgressBusy;
  m_view.setItemIndex("PBTransfer", percent);
  if (t.active())
    m_view.setText("LBTransferElapsed", cformat("Elapsed: %lld s   Received: %ld bytes",
                                                static_cast<long long>(t.elapsed().count()), current));
}

}  // namespace app
