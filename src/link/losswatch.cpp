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
  if (!meterSeconds) return {};
  const double now = *meterSeconds;
  if (!m_last || now < *m_last) {
    // The first line, or the meter's clock was set back: start measuring afresh.
    m_first = m_last = now;
    m_lines = 1;
    return {};
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
  return warning;
}

std::string LossWatch::refused(std::string_view line, int expectedColumns) {
  if (expectedColumns <= 0 || line.empty()) return {};
  int fields = 1;
  for (const char c : line) {
    if (c == '\t') ++fields;
    else if ((c < '0' || c > '9') && c != '.' && c != '-' && c != '/' && c != ':') return {};
  }
  if (fields <= expectedColumns) return {};
  return "a line of " + std::to_string(fields) + " fields where " + std::to_string(expectedColumns) +
         " are expected was refused: lines ran together because a line end was lost";
}

void LossWatch::restart() {
  m_first.reset();
  m_last.reset();
  m_lines = 0;
}

}  // namespace meterlink
