// Raw and engineering-units recording, replay of a raw file with the sample-rate
// measurement, and the transfer of the meter's memory.
#include "app/mainform.h"

#include <algorithm>

#include "files/engrformat.h"
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



// ---- Raw recording

void MainForm::BTRecordRawClick() {
  FileDialogSpec def;
  def.title = "Record Raw Data";
  def.defaultSuffix = "raw";
  def.filter = kRawFilter;
  def.confirmOverwrite = true;
  const auto path = m_ui.saveFile(def);
  if (!path) return;
  StartRawRecording(*path);
}

bool MainForm::StartRawRecording(const std::string& path) {
  // The new file is opened before the old one is closed, so a failed open leaves a
  // running recording as it was; a successful one ends the old file cleanly.
  auto file = std::make_unique<files::LineRecorder>();
  if (!file->open(path)) return false;
  m_rawFile = std::move(file);
  m_view.setText("LBRawFileName", "Raw File Name:  " + path);
  RecordRaw = true;
  RawFileBytes = 0;
  return true;
}

void MainForm::BTStopRecordClick() {
  if (RecordRaw) {
    RecordRaw = false;
    if (m_rawFile) m_rawFile->close();
  }
  if (RecordEngr) {
    RecordEngr = false;
    if (m_engrFile) m_engrFile->close();
  }
}

void MainForm::recordingFailed(bool raw) {
  // A write that did not reach the disk is not counted; recording of that file stops
  // and the operator hears of it once.
  std::string path;
  if (raw) {
    RecordRaw = false;
    if (m_rawFile) {
      path = m_rawFile->path();
      m_rawFile->close();
    }
  } else {
    RecordEngr = false;
    if (m_engrFile) {
      path = m_engrFile->path();
      m_engrFile->close();
    }
  }
  ShowWarningBox("Recording Stopped", std::string("The ") + (raw ? "raw" : "engineering units") + " file '" + path +
                                          "' could not be written (disk full or file gone). Recording to it has stopped.");
}

// ---- Engineering-units recording

void MainForm::BTRecordEngrClick() {
  if (Config.DataFieldCount == 0) LoadDeviceFileClick();
  FileDialogSpec def;
  def.title = "Open Engr Units Record File";
  def.defaultSuffix = "eng";
  def.filter = "Engineering Units|*.eng|All Files|*.*";
  def.confirmOverwrite = true;
  const auto path = m_ui.saveFile(def);
  if (!path) return;
  StartEngrRecording(*path);
}

bool MainForm::StartEngrRecording(const std::string& path, bool bulk) {
  m_correctionWarned = measure::CorrectionNone;
  auto file = std::make_unique<files::LineRecorder>();
  if (path == "-")
    file->attach(stdout, "-");
  else if (!file->open(path)) {
    m_view.setText("LBEngrFileName", "Engr Units File: ");
    return false;
  }
  file->setFlushEachWrite(!bulk);
  m_engrFile = std::move(file);
  m_view.setText("LBEngrFileName", "Engr Units File:  " + path);
  RecordEngr = true;
  EngrFileBytes = 0;
  const std::string header = files::EngrHeader(Config);
  if (m_engrFile->write(header))
    EngrFileBytes += static_cast<long>(header.size());
  else
    recordingFailed(false);
  return RecordEngr;
}

bool MainForm::StopEngrRecording() {
  const bool wasRecording = RecordEngr;
  RecordEngr = false;
  if (!m_engrFile) return wasRecording;
  return m_engrFile->close() && wasRecording;
}

void MainForm::WriteEngrLine() {
  if (!RecordEngr || !m_engrFile) return;
  const std::string line = files::EngrLine(Config, Sample, Clock, Eng);
  if (m_engrFile->write(line))
    EngrFileBytes += static_cast<long>(line.size());
  else
    recordingFailed(false);
}

// ---- Replay

void MainForm::ReplayRawFileClick() {
  FileDialogSpec def;
  def.title = "Open Replay File";
  def.defaultSuffix = "raw";
  def.filter = kRawFilter;
  const auto path = m_ui.openFile(def);
  if (!path) return;
  StartReplay(*path);
}

bool MainForm::StartReplay(const std::string& path) {
  auto reader = std::make_unique<files::ReplayReader>();
  if (!reader->open(path)) return false;
  m_replay = std::move(reader);  // an earlier replay file is closed here
  ReplayRunning = false;
  ReplayMode = true;
  m_view.setChecked("RealTimeData1", false);
  m_view.setChecked("ReplayRawFile1", true);
  m_view.setText("BTStopData", "Stop Replay");
  m_view.setText("BTStartData", "Start Replay");
  m_view.timer55IntervalMs = 220;
  return true;
}

void MainForm::RealTimeDataClick() {
  ReplayRunning = false;
  ReplayMode = false;
  if (m_replay) m_replay->close();
  m_view.setChecked("RealTimeData1", true);
  m_view.setChecked("ReplayRawFile1", false);
  m_view.setText("BTStopData", "Stop Data");
  m_view.setText("BTStartData", "Start Data");
  m_view.timer55IntervalMs = 55;
}

void MainForm::MeasureSampleRate() {
  if (RateSampleCount < 0) {
    m_rateWindowTicks = 5;
    TickCount = 1;
    m_ratePreviousTick = 1;
  }
  ++RateSampleCount;
  if (RateSampleCount < m_rateWindowTicks) return;
  const float period = static_cast<float>(TickCount - m_ratePreviousTick) * 0.055f / static_cast<float>(m_rateWindowTicks);
  m_ratePreviousTick = TickCount;
  SampleRateHz = period > 0.005f ? 1.0f / period : 0.01f;
  m_rateWindowTicks = SampleRateHz > 5.5f ? 10 : static_cast<int>(SampleRateHz * 10.0f);
  if (m_rateWindowTicks < 5) m_rateWindowTicks = 5;
  RateSampleCount = 0;
  const std::string text = ReplayMode ? std::string("Replay") : cformat("Sample Rate: %4.2f Hz", SampleRateHz);
  m_view.setText("LBHz1", text);
  m_view.setText("LBHz2", text);
}

// ---- Memory transfer

void MainForm::BTGetDataClick() {
  FileDialogSpec def;
  def.title = "Retrieve Meter's Internal Data";
  def.defaultSuffix = "raw";
  def.filter = kRawFilter;
  def.confirmOverwrite = true;
  const auto path = m_ui.saveFile(def);
  if (!path) return;
  // The new file first: when it cannot be made, a running transfer goes on untouched.
  if (!m_transfer.open(*path)) return;
  if (TransferActive) {
    // The transfer still running was cut short: its file was closed with what it
    // received, and it counts as incomplete until the new one starts.
    TransferActive = false;
    TransferIdleTicks = 0;
    if (TransferStatus != 4) TransferStatus = 3;
    showElapsed(m_view, m_transferStart, ReceiveFileBytes);
  }
  TransferActive = true;
  TransferStatus = 1;
  ReceiveFileBytes = 0;
  m_view.setText("LBReceiveFile", "Receive File:  " + *path);
  m_view.setText("LBReceiveStatus", "Receive File Status:  In Progress");
  m_view.setText("LBReceiveFileSize", "Receive File Size: 0 K");
  m_transferStart = std::chrono::steady_clock::now();
  m_transferExpected = Meter.MeterMemoryUsed > 0 ? static_cast<long>(Meter.MeterMemoryUsed) * 264 : 0;
  updateTransferProgress();
  SendMeterCommand("$get");
  TransferIdleTicks = 20;
}

void MainForm::BitBtnCancelClick() {
  // Only a running transfer can be cancelled; the outcome of a finished one stays shown.
  const bool cancelling = TransferActive;
  if (cancelling) TransferStatus = 4;
  BTStopClick();
  // In replay mode Stop only pauses the replay; the meter must still be told to stop
  // its dump.
  if (cancelling && ReplayMode) WritePort("!!!!!", 5);
}

void MainForm::transferStep() {
  char buffer[499];
  size_t count = sizeof buffer;
  ReadPort(buffer, count);
  if (count == 0) return;
  TransferIdleTicks = 20;
  const files::TransferReader::Result result = m_transfer.take(std::string_view(buffer, count));
  ReceiveFileBytes = m_transfer.bytes();
  if (!result.written) {
    transferFailed();
    return;
  }
  if (result.endMarker) {
    if (TransferStatus != 4) TransferStatus = 2;
    TransferActive = false;
    TransferIdleTicks = 0;
    showElapsed(m_view, m_transferStart, ReceiveFileBytes);
  }
  updateTransferProgress();
}

void MainForm::transferFailed() {
  // The file could not take the bytes: the transfer ends Incomplete, and the operator
  // is told once.
  m_transfer.close();
  TransferActive = false;
  TransferIdleTicks = 0;
  TransferStatus = 3;
  showElapsed(m_view, m_transferStart, ReceiveFileBytes);
  ShowWarningBox("Warning", "Data Transfer Failed: the receive file could not be written (disk full or file gone).");
}

void MainForm::transferWatchdog() {
  if (TransferIdleTicks != 0) {
    --TransferIdleTicks;
    return;
  }
  if (!TransferActive) return;
  m_transfer.close();
  TransferActive = false;
  showElapsed(m_view, m_transferStart, ReceiveFileBytes);
  if (TransferStatus != 4) {
    TransferStatus = 3;
    ShowWarningBox("Warning", "Data Transfer Terminated Before Completion");
  }
}

void MainForm::updateTransferProgress() {
  // Percent of the memory the meter last reported in use (pages of 264 bytes); a
  // complete transfer shows 100 whatever that report said. Without a report there is
  // nothing to measure against: the bar shows that work goes on, and the label the bytes.
  int percent = 0;
  if (TransferStatus == 2)
    percent = 100;
  else if (m_transferExpected > 0)
    percent = static_cast<int>(std::min<long>(100, ReceiveFileBytes * 100 / m_transferExpected));
  else if (TransferActive)
    percent = kProgressBusy;
  m_view.setItemIndex("PBTransfer", percent);
  if (TransferActive) showElapsed(m_view, m_transferStart, ReceiveFileBytes);
}

}  // namespace app
