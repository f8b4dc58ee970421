#include "app/qcview.h"

#include "measure/cformat.h"

namespace app {

namespace {

constexpr int64_t kColourPass = 0x90EE90;     // light green
constexpr int64_t kColourSuspect = 0x00A5FF;  // orange
constexpr int64_t kColourFail = 0x3C3CFF;     // red

int64_t colourOf(qc::Flag flag) {
  switch (flag) {
    case qc::Flag::Pass: return kColourPass;
    case qc::Flag::Suspect: return kColourSuspect;
    case qc::Flag::Fail: return kColourFail;
    default: return kColourButtonFace;
  }
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return out;
}

}  // namespace

QcView::QcView(ViewModel& view, OperatorUi& ui, acquire::Session& session, PlotPage& plot,
               std::function<bool()> recording, Warn warn)
    : m_view(view),
      m_ui(ui),
      m_session(session),
      m_plot(plot),
      m_recording(std::move(recording)),
      m_warn(std::move(warn)) {}

void QcView::LoadQcConfigurationClick() {
  FileDialogSpec def;
  def.title = "Load QC Configuration";
  def.defaultSuffix = "yml";
  def.filter = "QC Configuration (*.yml *.yaml)|*.yml;*.yaml|All files (*.*)|*.*";
  if (const auto path = m_ui.openFile(def)) load(*path);
}

bool QcView::load(const std::string& path) {
  // Streams are columns of a device file: without one, the file waits for it.
  if (m_session.state().config.DataFieldCount <= 0) {
    m_pendingPath = path;
    m_view.setText("PQcValues", "QC: " + path + " (waiting for a device file)");
    return true;
  }
  m_pendingPath.clear();
  qc::ConfigResult read = qc::loadConfig(path);
  std::string why = read.error;
  if (read.config && !files::QcRun::bind(*read.config, m_session.state().config, why)) why = path + ": " + why;
  if (!why.empty()) {
    m_warn("QC Configuration", why);
    return false;
  }
  m_session.setQc(std::move(read.config));
  m_path = path;
  m_suspect = m_failed = 0;
  m_lastFlag = qc::Flag::NotEvaluated;
  m_view.setText("PQcValues", "QC: " + path + " (waiting for data)");
  m_view.setColour("PQcValues", kColourButtonFace);
  showCounts();
  return true;
}

void QcView::deviceFileLoaded() {
  if (!m_pendingPath.empty()) {
    load(std::string(m_pendingPath));
    return;
  }
  // The session bound the checks to the new columns already, and said why not if they
  // do not fit.
  if (m_session.qcConfig() && !m_session.qc()) {
    m_view.setText("PQcValues", "QC: off (" + m_path + " does not fit this device file)");
    m_view.setColour("PQcValues", kColourButtonFace);
  }
}

void QcView::count(qc::Flag flag, int by) {
  if (flag == qc::Flag::Suspect) m_suspect += by;
  if (flag == qc::Flag::Fail) m_failed += by;
}

void QcView::showCounts() {
  const bool recording = m_recording && m_recording();
  m_view.setText("LBQcCounts", measure::cformat("QC: %lld suspect, %lld failed samples %s", m_suspect, m_failed,
                                                recording ? "in this recording" : "since loaded"));
}

void QcView::sample(const acquire::SampleRecord& record) {
  const files::QcRun* run = record.qc;
  if (!run) return;
  // A new recording counts from its first sample.
  const bool recording = m_recording && m_recording();
  const bool started = recording && !m_wasRecording;
  if (started) {
    m_suspect = m_failed = 0;
    m_lastFlag = qc::Flag::NotEvaluated;
  }
  m_wasRecording = recording;

  // The spike flags of the sample before, now known: its mark, and its count if worse.
  qc::Flag spikeWorst = qc::Flag::Missing;
  for (size_t i = 0; i < run->streams().size(); ++i) {
    const auto& spike = run->previousSpike()[i];
    if (!spike) continue;
    spikeWorst = qc::worse(spikeWorst, *spike);
    if (*spike == qc::Flag::Suspect || *spike == qc::Flag::Fail)
      m_plot.MarkFlagged(run->streams()[i].dataField, 1, static_cast<int>(*spike));
  }
  // (The sample before a recording's first is not the recording's.)
  if (const qc::Flag before = qc::worse(m_lastFlag, spikeWorst); !started && before != m_lastFlag) {
    count(m_lastFlag, -1);
    count(before, +1);
  }

  // This sample: each stream's value and flag, in words and colour.
  std::string text = "QC:";
  qc::Flag worst = qc::Flag::Missing;
  for (size_t i = 0; i < run->streams().size(); ++i) {
    const files::QcStream& stream = run->streams()[i];
    const qc::Flag flag = run->now()[i].liveAggregate();
    worst = qc::worse(worst, flag);
    const double value = run->valueOf(i, record.state.sample, record.state.eng);
    text += measure::cformat("  %s %.4g %s", stream.name.c_str(), value, upper(qc::flagText(flag)).c_str());
    if (flag == qc::Flag::Suspect || flag == qc::Flag::Fail) m_plot.MarkFlagged(stream.dataField, 0, static_cast<int>(flag));
  }
  m_view.setText("PQcValues", text);
  m_view.setColour("PQcValues", colourOf(worst));
  m_lastFlag = worst;
  count(worst, +1);
  showCounts();
}

}  // namespace app
