#include "app/qcview.h"

#include <utility>

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

// The tests of `flags` that fired, the failed first: "FAIL: gross_range_test; SUSPECT:
// spike_test" (empty when none did).
std::string firedTests(const qc::Flags& flags) {
  std::string text;
  for (const qc::Flag level : {qc::Flag::Fail, qc::Flag::Suspect}) {
    std::string names;
    for (const qc::Test test : qc::kTests)
      if (flags.has(test) && flags[test] == level)
        names += (names.empty() ? "" : ", ") + std::string(qc::testName(test));
    if (!names.empty()) text += (text.empty() ? "" : "; ") + upper(qc::flagText(level)) + ": " + names;
  }
  return text;
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
  // A running recording keeps the checks of its header: the next one gets these.
  if (m_recording && m_recording()) {
    m_held = std::move(read.config);
    m_heldPath = path;
    showCounts();
    return true;
  }
  apply(std::move(*read.config), path);
  return true;
}

void QcView::applyHeld() {
  if (!m_held) return;
  qc::Config config = std::move(*m_held);
  const std::string path = std::exchange(m_heldPath, std::string());
  m_held.reset();
  // The device file may have changed since it was loaded.
  std::string why;
  if (!files::QcRun::bind(config, m_session.state().config, why)) {
    m_warn("QC Configuration", path + ": " + why + "\nThe checks in force stay.");
    showCounts();
    return;
  }
  apply(std::move(config), path);
}

void QcView::apply(qc::Config config, const std::string& path) {
  // What was held is older than what applies now.
  m_held.reset();
  m_heldPath.clear();
  m_session.setQc(std::move(config));
  m_path = path;
  m_suspect = m_failed = 0;
  m_lastFlag = qc::Flag::NotEvaluated;
  m_view.setText("PQcValues", "QC: " + path + " (waiting for data)");
  m_view.setColour("PQcValues", kColourButtonFace);
  showCounts();
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
  std::string text = measure::cformat("QC: %lld suspect, %lld failed samples %s", m_suspect, m_failed,
                                     recording ? "in this recording" : "since loaded");
  if (m_held) text += "; " + m_heldPath + " applies from the next recording";
  m_view.setText("LBQcCounts", text);
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
  // Its mark names every test that fired on it, the live ones as they were then.
  qc::Flag spikeWorst = qc::Flag::Missing;
  m_before.resize(run->streams().size());
  for (size_t i = 0; i < run->streams().size(); ++i) {
    const auto& spike = run->previousSpike()[i];
    if (!spike) continue;
    spikeWorst = qc::worse(spikeWorst, *spike);
    if (*spike == qc::Flag::Suspect || *spike == qc::Flag::Fail) {
      qc::Flags fired = m_before[i];
      fired.run = static_cast<uint8_t>(fired.run | 1U << static_cast<int>(qc::Test::Spike));
      fired[qc::Test::Spike] = *spike;
      m_plot.MarkFlagged(run->streams()[i].dataField, 1, static_cast<int>(*spike), firedTests(fired));
    }
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
    qc::Flags live = run->now()[i];
    live.run = static_cast<uint8_t>(live.run & ~(1U << static_cast<int>(qc::Test::Spike)));
    if (flag == qc::Flag::Suspect || flag == qc::Flag::Fail)
      m_plot.MarkFlagged(stream.dataField, 0, static_cast<int>(flag), firedTests(live));
    m_before[i] = live;
  }
  m_view.setText("PQcValues", text);
  m_view.setColour("PQcValues", colourOf(worst));
  m_lastFlag = worst;
  count(worst, +1);
  showCounts();
}

}  // namespace app
