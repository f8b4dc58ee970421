// The files page: the dialogs and labels of the recordings, replay and the sample rate,
// Export Recording… and the transfer of the meter's memory; the work is the engine's.
#include "app/filespage.h"

#include "app/mainform.h"

#include "measure/cformat.h"

namespace app {

using measure::cformat;
using Stream = acquire::Recordings::Stream;

namespace {
const char* kRawFilter = "Raw Files (*.raw)|*.raw|All Files (*.*)|*.*";
/// Input bytes an export converts per 55 ms tick: a few milliseconds of work.
constexpr size_t kExportSliceBytes = 1 << 16;

// The time since "Receive Data" and the bytes, shown while it runs and once more at its end.
void showElapsed(ViewModel& view, const acquire::MemoryTransfer& t) {
  view.setText("LBTransferElapsed", cformat("Elapsed: %lld s   Received: %ld bytes",
                                            static_cast<long long>(t.elapsed().count()), t.progress().current));
}
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

// ---- Recordings

void FilesPage::RecordClick(Stream stream) {
  static const FileDialogSpec kDialog[] = {
      {"Record Raw Data", "raw", kRawFilter, true},
      {"Open Engr Units Record File", "eng", "Engineering Units|*.eng|All Files|*.*", true},
      {"Record CSV (UTC)", "csv", "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*", true}};
  if (stream != Stream::Raw && m_s.Config.DataFieldCount == 0) m_host.loadDeviceFile();
  if (const auto path = m_ui.saveFile(kDialog[static_cast<int>(stream)])) StartRecording(stream, *path);
}

bool FilesPage::StartRecording(Stream stream, const std::string& path) {
  // A failed open leaves a running recording as it was (and empties the engineering-units label).
  static const char* const kLabel[] = {"LBRawFileName", "LBEngrFileName", "LBCsvFileName"};
  static const char* const kCaption[] = {"Raw File Name:  ", "Engr Units File:  ", "CSV File:  "};
  const int i = static_cast<int>(stream);
  if (m_recordings.start(stream, path) || m_recordings.path(stream) == path)
    m_view.setText(kLabel[i], kCaption[i] + path);
  else if (stream == Stream::Engr)
    m_view.setText(kLabel[i], "Engr Units File: ");
  return m_recordings.on(stream) && m_recordings.path(stream) == path;
}

// ---- Export Recording...: a raw file into CSV or NetCDF, a slice per tick

void FilesPage::ExportRecordingClick() {
  if (m_s.Config.DataFieldCount == 0) m_host.loadDeviceFile();
  if (m_s.Config.DataFieldCount == 0 || m_s.DeviceFilePath.empty()) return;
  const auto input = m_ui.openFile({"Export Recording: Raw File", "raw", kRawFilter});
  if (!input) return;
  const auto output = m_ui.saveFile({"Export Recording As", "csv", "CSV, UTC times (*.csv)|*.csv|NetCDF-4, CF (*.nc)|*.nc", true});
  if (output) StartExport(*input, *output, acquire::exportFormatFor(*output));
}

bool FilesPage::StartExport(const std::string& rawPath, const std::string& outPath, acquire::ConversionFormat format) {
  if (m_export) {
    m_host.warn("Export Recording", "An export is running; cancel it or let it finish first.");
    return false;
  }
  m_exportWarnings.clear();
  // What maru convert would print on stderr, each with the input line it concerns. The
  // meter's times are read in the window's meter clock zone, as live data's are.
  auto job = std::make_unique<acquire::ConversionJob>(
      acquire::exportRequest(rawPath, outPath, format, m_s.Config, m_s.DeviceFilePath, m_session.qc(),
                             m_s.RefCorrectionOn, m_s.TempCorrectionOn, m_session.meterTimeZone()),
      acquire::collectWarnings(m_exportWarnings));
  if (!job->start()) {
    m_host.warn("Export Failed", job->error());
    return false;
  }
  m_export = std::move(job);
  m_view.setText("LBExportStatus", "Exporting '" + rawPath + "' to '" + outPath + "'");
  m_view.setVisible("LBExportStatus", true);
  m_view.setItemIndex("PBExport", 0);
  showExport(true);
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
    // The export is complete, as maru convert's would be; the lines in question are named.
    if (!m_exportWarnings.empty())
      m_host.warn("Export Recording", "The export is complete. Lines to check in '" + m_export->request().input +
                                          "':" + acquire::listLines(m_exportWarnings, 5));
  } else {
    m_view.setText("LBExportStatus", "Export failed: nothing was written to '" + output + "'");
    m_host.warn("Export Failed", m_export->error() + "\nThe partial file was removed.");
  }
  showExport(false);
}

void FilesPage::BTExportCancelClick() {
  if (!m_export) return;
  m_export->cancel();
  m_view.setText("LBExportStatus", "Export cancelled: nothing was written to '" + m_export->request().output + "'");
  showExport(false);
}

void FilesPage::showExport(bool running) {
  if (!running) m_export.reset();
  m_view.setVisible("PBExport", running);
  m_view.setVisible("BTExportCancel", running);
  m_view.setEnabled("ExportRecording1", !running);
}

// ---- Replay and the sample rate

void FilesPage::ReplayRawFileClick() {
  if (const auto path = m_ui.openFile({"Open Replay File", "raw", kRawFilter})) StartReplay(*path);
}

bool FilesPage::StartReplay(const std::string& path) {
  if (!m_session.replay(path)) return false;
  showMode(true);
  return true;
}

void FilesPage::RealTimeDataClick() {
  m_session.stopReplay();
  showMode(false);
}

void FilesPage::showMode(bool replay) {
  m_view.setChecked("RealTimeData1", !replay);
  m_view.setChecked("ReplayRawFile1", replay);
  m_view.setText("BTStopData", replay ? "Stop Replay" : "Stop Data");
  m_view.setText("BTStartData", replay ? "Start Replay" : "Start Data");
  m_view.timer55IntervalMs = replay ? 220 : 55;
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
  const auto path = m_ui.saveFile({"Retrieve Meter's Internal Data", "raw", kRawFilter, true});
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
  if (!m_session.transfer().active()) showElapsed(m_view, m_session.transfer());
  if (event == Event::WriteFailed)
    m_host.warn("Warning", "Data Transfer Failed: the receive file could not be written (disk full or file gone).");
  if (event == Event::Silence) m_host.warn("Warning", "Data Transfer Terminated Before Completion");
}

void FilesPage::updateTransferProgress() {
  // Without the meter's report of its memory in use the bar shows that work goes on.
  const auto& t = m_session.transfer();
  m_view.setItemIndex("PBTransfer", t.percent() < 0 ? kProgressBusy : t.percent());
  if (t.active()) showElapsed(m_view, t);
}

}  // namespace app
