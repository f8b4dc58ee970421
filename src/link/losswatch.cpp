#include "link/losswatch.h"

#include <cmath>
#include <cstdio>

namespace meterlink {

namespace {

// The meter's clock shows whole seconds: a line may read one second later than the
// interval alone would say.
constexpr double kClockResolution = 1.0;
// The interval is judged only once the clock has run this long since the start.
constexpr double kLearnSeconds = 3.0;

}  // namespace

std::string LossWatch::sample(std::optional<double> meterSeconds) {
  std::string ranTogether = m_unfit <= kRunTogether ? m_ranTogether : std::string();
  m_unfit = 0;
  m_ranTogether.clear();
  if (!meterSeconds) return ranTogether;
  const double now = *meterSeconds;
  if (!m_last || now < *m_last) {
    // The first line, or the meter's clock was set back: start measuring afresh.
    m_first = m_last = now;
    m_lines = 1;
    return ranTogether;
  }
  const double gap = now - *m_last;
  const double span = *m_last - *m_first;
  std::string warning;
  if (span >= kLearnSeconds && m_lines >= 2) {
    const double interval = span / static_cast<double>(m_lines - 1);
    if (gap > interval + kClockResolution) {
      const double lost = std::floor(gap / interval) - 1;
      char text[200];
      std::snprintf(text, sizeof text,
                    "the meter's clock jumped %.0f s between two lines that come about %.3g s apart: about %.0f "
                    "lines were lost on the way (the host fell behind, or the line dropped bytes)",
                    gap, interval, lost > 1 ? lost : 1);
      warning = text;
      // The interval is measured again from here, without the gap.
      m_first = now;
      m_lines = 0;
    }
  }
  m_last = now;
  ++m_lines;
  if (warning.empty()) return ranTogether;
  return ranTogether.empty() ? warning : ranTogether + "; " + warning;
}

void LossWatch::refused(int fields, int expectedColumns) {
  if (fields <= 0 || expectedColumns <= 0) return;
  ++m_unfit;
  if (fields > expectedColumns && m_ranTogether.empty())
    m_ranTogether = "a line of " + std::to_string(fields) + " fields where " + std::to_string(expectedColumns) +
                    " are expected was refused: lines ran together because a line end was lost";
}

void LossWatch::restart() {
  m_unfit = 0;
  m_ranTogether.clear();
  m_first.reset();
  m_last.reset();
  m_lines = 0;
}

}  // namespace meterlink
