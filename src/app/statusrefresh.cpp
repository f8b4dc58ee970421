// The periodic refresh: the meter and host clock labels after a sample; the 500 ms tick shows the meter's setup as last reported and the
// device file's ranges; the 1 s tick shows the host clock, rights, byte counts, recording, silence and transfer state.
#include "app/mainform.h"

#include <filesystem>

#include "measure/cformat.h"

namespace app {

using measure::cformat;

namespace {

// "812 B", "12.5 K", "3.2 M", "1.1 G": a file's size at a glance.
std::string sizeText(long bytes) {
  if (bytes < 1024) return cformat("%ld B", bytes);
  double size = static_cast<double>(bytes) / 1024.0;
  const char* unit = "K";
  for (const char* larger : {"M", "G", "T"}) {
    if (size < 1024.0) break;
    size /= 1024.0;
    unit = larger;
  }
  return cformat("%.1f %s", size, unit);
}

}  // namespace

void MainForm::drawClockLabels() {
  if (Clock.MeterMonth == 99) {
    m_view.setText("LBMARUDandT", cformat("MARU:  %1.0lf", Sample.SampleCounter));
  } else {
    m_view.setText("LBMARUDandT", cformat("MARU:   %02d/%02d/%02d  %02d:%02d:%02d", Clock.MeterMonth,
                                          Clock.MeterDay, Clock.MeterYear, Clock.MeterHour, Clock.MeterMinute,
                                          Clock.MeterSecond));
  }
  drawHostClock();
}

void MainForm::drawHostClock() {
  if (!m_options.hostClock) return;
  const measure::HostTime now = m_options.hostClock();
  m_view.setText("LBHostDandT", cformat("Host:  %02d/%02d/%02d  %02d:%02d:%02d", now.month, now.day, now.year,
                                        now.hour, now.minute, now.second));
}

void MainForm::showRecordingIndicator() {
  using Stream = acquire::Recordings::Stream;
  const acquire::Recordings& rec = m_files->recordings();
  if (!rec.anyOn()) {
    m_recordingSince.reset();
    m_view.setText("LBRecording", "Not recording");
    m_view.setColour("LBRecording", kColourDefault);
    return;
  }
  const auto now = m_options.steadyClock();
  if (!m_recordingSince) m_recordingSince = now;
  const long long elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - *m_recordingSince).count();
  std::string text = cformat("RECORDING  %02lld:%02lld:%02lld", elapsed / 3600, elapsed / 60 % 60, elapsed % 60);
  const char* separator = "  ";
  for (const Stream stream : {Stream::Raw, Stream::Engr, Stream::Csv}) {
    if (!rec.on(stream)) continue;
    text += separator + std::filesystem::path(rec.path(stream)).filename().string() + " " + sizeText(rec.bytes(stream));
    separator = ", ";
  }
  m_view.setText("LBRecording", text);
  m_view.setColour("LBRecording", kColourRed);
}

void MainForm::watchSilence(bool on) {
  m_silenceWatched = on;
  m_silenceCounting = false;
  showDataSilence();
}

void MainForm::showDataSilence() {
  // Watched: an open port (or one being looked for again) in real-time mode that was opened
  // or told to start and not stopped since; a transfer's bytes are no lines.
  const bool watching = m_silenceWatched && !m_session.replaying() && !m_session.transfer().active() &&
                        (OpenPortNumber != 0 || m_session.reconnecting());
  const auto now = m_options.steadyClock();
  if (watching && !m_silenceCounting) m_lastLineAt = now;  // the count starts with the watch
  m_silenceCounting = watching;
  const long long silent = std::chrono::duration_cast<std::chrono::seconds>(now - m_lastLineAt).count();
  const bool show = watching && silent >= m_settings.noDataSeconds;
  m_view.setText("LBNoData", show ? cformat("No data for %lld s", silent) : std::string());
  m_view.setVisible("LBNoData", show);
}

void MainForm::Timer500msTimer() {
  if (m_inTick500) return;
  m_inTick500 = true;
  if (Meter.MeterVersionSeen) {
    m_view.setText("LBAVE", cformat("Average: %1u", Meter.MeterAverage));
    m_view.setText("LBNS", cformat("Number of Sample: %1u", Meter.MeterSamples));
    m_view.setText("LBNC", cformat("Number of Cycles: %1u", Meter.MeterCycles));
    m_view.setText("LBCI", "Cycle Interval: " + Meter.MeterInterval);
    const bool logging = Meter.MeterLogging != 0;
    m_view.setText("LBLog", logging ? "Logging: ON" : "Logging: OFF");
    m_view.setText("BTLogging", logging ? "Turn Logging OFF" : "Turn Logging ON");
    const bool engr = Meter.MeterEngrOutput != 0;
    m_view.setText("LBCal", engr ? "Engr Output: ON" : "Engr Output: OFF");
    m_view.setText("BTCal", engr ? "Turn Engr Output OFF" : "Turn Engr Output ON");
    // Memory: 4095 pages of 264 bytes; percentages in single precision as the meter shows them.
    // 64-bit arithmetic, so that any page count the meter reports stays in range.
    using meterlink::kMemoryPageBytes, meterlink::kMemoryPages, meterlink::kMemoryBytes;
    const long long used = Meter.MeterMemoryUsed;
    const float pageShare = 1.0f / static_cast<float>(kMemoryPages);
    const float usedPercent = static_cast<float>(used) * pageShare * 100.0f;
    const float freePercent = static_cast<float>(kMemoryPages - used) * pageShare * 100.0f;
    const long long usedK = used * kMemoryPageBytes / 1024;
    const long long freeK = (kMemoryBytes - used * kMemoryPageBytes) / 1024;
    m_view.setText("LBStorageUsed", cformat("Used:  %1lld K  %4.1f %%", usedK, static_cast<double>(usedPercent)));
    m_view.setText("LBStorageFree", cformat("Free:  %1lld K  %4.1f %%", freeK, static_cast<double>(freePercent)));
    drawClockLabels();
  }
  if (Meter.MeterPh1OnTimeKnown) m_view.setText("LBph1onTime", cformat("%1d", Meter.MeterPh1OnTime));
  if (Meter.MeterPh1OffTimeKnown) m_view.setText("LBph1offTime", cformat("%1d", Meter.MeterPh1OffTime));
  if (Meter.MeterPh11OnTimeKnown) m_view.setText("LBph11onTime", cformat("%1d", Meter.MeterPh11OnTime));
  if (Meter.MeterPh11OffTimeKnown) m_view.setText("LBph11offTime", cformat("%1d", Meter.MeterPh11OffTime));
  if (Meter.MeterEngrOffsetFresh) {
    Meter.MeterEngrOffsetFresh = false;
    m_view.setText("LBugloffset", cformat("%1d", Meter.MeterEngrOffset));
  }
  if (Meter.MeterEngrScaleFresh) {
    Meter.MeterEngrScaleFresh = false;
    const float scale = static_cast<float>(static_cast<uint32_t>(Meter.MeterEngrScale)) * 0.0001f;
    m_view.setText("LBuglscale", cformat("%6.4f", static_cast<double>(scale)));
  }
  if (Config.Asv2Range > 0) {
    m_view.setVisible("TSFLSetup", true);
    const char* units = Config.IEngrUnits.c_str();
    m_view.setText("LBHiRes", cformat("ASV1:  Hi Resolution   0.0-%3.1f %s", static_cast<double>(Config.Asv1Range), units));
    m_view.setText("LBStdRes", cformat("ASV2:  Std Resolution  0.0-%3.1f %s", static_cast<double>(Config.Asv2Range), units));
    m_view.setText("LBWideRange", cformat("ASV4:  Wide Range:     0.0-%3.1f %s", static_cast<double>(Config.Asv4Range), units));
    m_view.setVisible("HRArrow", Meter.MeterAnalogRange == 1);
    m_view.setVisible("SRArrow", Meter.MeterAnalogRange == 2);
    m_view.setVisible("WRArrow", Meter.MeterAnalogRange == 4);
  }
  if (Config.IEngrScale > 0) {
    m_view.setText("LBDFuglscale", cformat("%6.4f", static_cast<double>(Config.IEngrScale)));
    m_view.setText("LBDFugloffset", cformat("%1.0f", static_cast<double>(Config.IEngrOffset)));
  }
  m_inTick500 = false;
}

// The MQTT feed at a glance: whether the broker has it, and what still waits for it.
void MainForm::showFeedState() {
  const acquire::Feeds::MqttStatus mqtt = m_feeds ? m_feeds->mqttStatus() : acquire::Feeds::MqttStatus{};
  m_view.setVisible("LBFeed", mqtt.on);
  if (!mqtt.on) return;
  std::string text = cformat("MQTT: %s, %s, %lld published, backlog %lld", mqtt.state.c_str(),
                             mqtt.connected ? "connected" : "not connected", mqtt.published, mqtt.backlog);
  if (mqtt.dropped > 0) text += cformat(", %lld dropped", mqtt.dropped);
  m_view.setText("LBFeed", text);
  m_view.setColour("LBFeed", mqtt.connected ? kColourButtonFace : kColourYellow);
}

void MainForm::Timer1SecondTimer() {
  if (m_inTick1s) return;
  m_inTick1s = true;
  if (m_firstSecondPending) {
    m_firstSecondPending = false;
    restoreHostPorts();
    RestoreSettings();
  }
  m_session.everySecond();
  drawHostClock();
  showRecordingIndicator();
  showDataSilence();
  showFeedState();
  if (PowerUser) {
    m_view.setText("PowerUserPanel", "Power User");
    m_view.setColour("PowerUserPanel", kColourRed);
  } else {
    m_view.setText("PowerUserPanel", "Normal User");
    m_view.setColour("PowerUserPanel", kColourButtonFace);
  }
  m_view.setVisible("StdDevCB", PowerUser && Plot.PlotType == 0);
  const acquire::Recordings& rec = m_files->recordings();
  m_view.setText("LBTotalIn", cformat("Bytes Read: %lu", TotalBytesRead));
  m_view.setText("LBRawFileSize", cformat("Raw File Size: %ld K", rec.bytes(acquire::Recordings::Stream::Raw) / 1024));
  m_view.setText("LBEngrFileSize", cformat("Engr Units File Size: %ld K", rec.bytes(acquire::Recordings::Stream::Engr) / 1024));
  m_view.setText("LBCsvFileSize", cformat("CSV File Size: %ld K", rec.bytes(acquire::Recordings::Stream::Csv) / 1024));
  static const char* kRecording[8] = {"Recording:  OFF",
                                      "Recording:  Raw",
                                      "Recording:  Engr Units",
                                      "Recording:  Raw + Engr Units",
                                      "Recording:  CSV",
                                      "Recording:  Raw + CSV",
                                      "Recording:  Engr Units + CSV",
                                      "Recording:  Raw + Engr Units + CSV"};
  using Stream = acquire::Recordings::Stream;
  m_view.setText("LBRecordStatus",
                 kRecording[(rec.on(Stream::Raw) ? 1 : 0) + (rec.on(Stream::Engr) ? 2 : 0) + (rec.on(Stream::Csv) ? 4 : 0)]);
  m_view.setText("LBReceiveFileSize", cformat("Receive File Size: %ld K", m_session.transfer().progress().current / 1024));
  static const char* kReceive[5] = {"Receive File Status:  ", "Receive File Status:  In Progress",
                                    "Receive File Status:  Complete", "Receive File Status:  Incomplete",
                                    "Receive File Status:  Cancelled"};
  m_view.setText("LBReceiveStatus", kReceive[static_cast<int>(m_session.transfer().status())]);
  m_files->updateTransferProgress();
  m_inTick1s = false;
  finishStartup();
}

}  // namespace app
