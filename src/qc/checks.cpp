#include "qc/checks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace qc {

namespace {

// Slack on comparisons of times, in seconds: a window of whole seconds still holds the
// sample at its start when both times carry rounding (epoch seconds keep about 0.2 µs).
constexpr double kTimeSlack = 1e-6;

bool isMissing(double value) { return !std::isfinite(value); }

uint8_t bit(Test t) { return static_cast<uint8_t>(1U << static_cast<int>(t)); }

}  // namespace

// --- the flat line's window ---------------------------------------------------------

namespace detail {

void FlatRun::Queue::grow() {
  // Into a buffer twice the size, each entry at its position's new place.
  std::vector<Entry> grown(m_buf.empty() ? 16 : 2 * m_buf.size());
  for (size_t i = m_first; i < m_end; ++i) grown[i & (grown.size() - 1)] = at(i);
  m_buf.swap(grown);
  m_mask = m_buf.size() - 1;
}

void FlatRun::breakAt(const Entry& oldest) {
  const uint64_t start = oldest.index + 1;
  m_brokenAt = oldest.seconds;
  while (!m_min.empty() && m_min.front().index < start) m_min.popFront();
  while (!m_max.empty() && m_max.front().index < start) m_max.popFront();
}

void FlatRun::pushInRun(double seconds, double value, uint64_t index, double tolerance) {
  // A value hides every older one that is not less (greater) than it: they leave the run
  // before it does and can never be its least (greatest) again.
  while (!m_min.empty() && m_min.back().value >= value) m_min.popBack();
  while (!m_max.empty() && m_max.back().value <= value) m_max.popBack();
  // A queue full of candidates (a long steady drift within tolerance): the run is taken to
  // break at its oldest one. It only ever shortens the run, so a window may pass that holds
  // a longer drift, and nothing is flagged that is not flat.
  if (m_min.size() == kMaxCandidates) breakAt(m_min.front());
  if (m_max.size() == kMaxCandidates) breakAt(m_max.front());
  m_min.pushBack({seconds, value, index});
  m_max.pushBack({seconds, value, index});
  // Too wide: the run starts after the older of its two extremes, which broke it.
  while (!m_min.empty() && !m_max.empty() && !(m_max.front().value - m_min.front().value < tolerance))
    breakAt(m_min.front().index < m_max.front().index ? m_min.front() : m_max.front());
}

void FlatRun::clear() {
  m_min.clear();
  m_max.clear();
  m_brokenAt = -std::numeric_limits<double>::infinity();
}

}  // namespace detail

// --- one stream, sample by sample -----------------------------------------------------

StreamChecker::StreamChecker(const StreamConfig& config) : m_config(config) {
  if (m_config.grossRange) m_run |= bit(Test::GrossRange);
  if (m_config.spike) m_run |= bit(Test::Spike);
  if (m_config.rateOfChange) m_run |= bit(Test::RateOfChange);
  if (m_config.flatLine) {
    m_run |= bit(Test::FlatLine);
    m_flatSuspectSeconds = std::floor(m_config.flatLine->suspectSeconds);
    m_flatFailSeconds = std::floor(m_config.flatLine->failSeconds);
    m_flatLongerSeconds = std::max(m_flatFailSeconds, m_flatSuspectSeconds);
  }
}

Flag StreamChecker::grossRange(double value) const {
  const GrossRange& g = *m_config.grossRange;
  if (isMissing(value)) return Flag::Missing;
  if (value < g.failMin || value > g.failMax) return Flag::Fail;
  if (g.suspectMin && g.suspectMax && (value < *g.suspectMin || value > *g.suspectMax)) return Flag::Suspect;
  return Flag::Pass;
}

Flag StreamChecker::rateOfChange(double seconds, double value) const {
  if (isMissing(value)) return Flag::Missing;
  if (!std::isfinite(seconds)) return Flag::NotEvaluated;
  if (m_count == 0) return Flag::Pass;
  const double dt = seconds - m_prevSeconds;
  if (!(dt > 0)) return Flag::NotEvaluated;  // equal times, backwards, or no previous time
  if (isMissing(m_prevValue)) return Flag::Pass;
  const double rate = std::fabs(value - m_prevValue) / dt;
  const RateOfChange& r = *m_config.rateOfChange;
  if (r.fail && rate > *r.fail) return Flag::Fail;
  return rate > r.threshold ? Flag::Suspect : Flag::Pass;
}

Flag StreamChecker::flatLine(double seconds, double value) {
  const bool missing = isMissing(value);
  if (!std::isfinite(seconds)) {
    m_flatStarted = false;
    return missing ? Flag::Missing : Flag::NotEvaluated;
  }
  const bool hasPrevious = m_flatStarted && seconds >= m_flatLastSeconds;
  const double previousAt = m_flatLastSeconds;
  if (!hasPrevious) {
    m_flatStarted = true;
    m_flatFirstSeconds = m_flatLastSeconds = m_flatBeforeLastSeconds = seconds;
    m_flatRun.clear();
  } else if (seconds > m_flatLastSeconds) {
    m_flatBeforeLastSeconds = m_flatLastSeconds;
    m_flatLastSeconds = seconds;
  }
  // How far the series reaches back, counting the step to this time once more: samples
  // sharing one time stamp all reach as far as the first of them.
  const double reach = (seconds - m_flatFirstSeconds) + (seconds - m_flatBeforeLastSeconds);

  // A window is flat when the run of values within tolerance reaches back over all of it
  // and it holds another sample (a missing one too) besides this one.
  if (missing) return Flag::Missing;
  const double tolerance = m_config.flatLine->tolerance;
  if (!(tolerance > 0)) return Flag::Pass;  // no two values are less than 0 apart
  m_flatRun.push(seconds, value, tolerance);
  m_flatRun.dropBefore(seconds - m_flatLongerSeconds - kTimeSlack);
  // A whole series of fewer than three samples is never flat; the first two of any series
  // pass, so a series that ends there agrees.
  if (!hasPrevious || m_count < 2) return Flag::Pass;
  auto flat = [&](double windowSeconds) {
    const double start = seconds - windowSeconds - kTimeSlack;
    return reach > windowSeconds + kTimeSlack && m_flatRun.brokenAt() < start && previousAt >= start;
  };
  return flat(m_flatFailSeconds) ? Flag::Fail : flat(m_flatSuspectSeconds) ? Flag::Suspect : Flag::Pass;
}

// The spike flag of the previous sample, `next` being the one after it.
Flag StreamChecker::spikeOfPrevious(double next) const {
  if (isMissing(m_prevValue)) return Flag::Missing;
  if (m_count < 2) return Flag::NotEvaluated;  // the first sample
  if (isMissing(m_prevPrevValue) || isMissing(next)) return Flag::Missing;
  const Spike& s = *m_config.spike;
  double diff = 0;
  if (s.method == SpikeMethod::Average) {
    diff = std::fabs(m_prevValue - (m_prevPrevValue + next) / 2);
  } else {
    // Only a value its neighbours both lie on one side of stands out: by its smaller step.
    const double before = m_prevValue - m_prevPrevValue, after = next - m_prevValue;
    if (before * after < 0) diff = std::min(std::fabs(before), std::fabs(after));
  }
  if (isMissing(diff)) return Flag::Missing;  // the neighbours' sum or both steps overflowed
  if (s.fail && diff > *s.fail) return Flag::Fail;
  if (s.suspect && diff > *s.suspect) return Flag::Suspect;
  return Flag::Pass;
}

StreamChecker::Step StreamChecker::push(double seconds, double value) {
  Step step;
  push(seconds, value, step.now, step.previousSpike);
  return step;
}

void StreamChecker::push(double seconds, double value, Flags& now, std::optional<Flag>& previousSpike) {
  now.run = m_run;
  now.test = {Flag::NotEvaluated, Flag::NotEvaluated, Flag::NotEvaluated, Flag::NotEvaluated};
  if (m_config.grossRange) now[Test::GrossRange] = grossRange(value);
  if (m_config.rateOfChange) now[Test::RateOfChange] = rateOfChange(seconds, value);
  if (m_config.flatLine) now[Test::FlatLine] = flatLine(seconds, value);
  if (m_config.spike && m_count > 0)
    previousSpike = spikeOfPrevious(value);
  else
    previousSpike.reset();

  m_prevPrevValue = m_prevValue;
  m_prevValue = value;
  m_prevSeconds = seconds;
  ++m_count;
}

std::optional<Flag> StreamChecker::finish() {
  if (!m_config.spike || m_count == 0) return std::nullopt;
  return isMissing(m_prevValue) ? Flag::Missing : Flag::NotEvaluated;
}

// --- a whole series -------------------------------------------------------------------

std::vector<Flags> checkSeries(const StreamConfig& config, const std::vector<double>& seconds,
                               const std::vector<double>& values) {
  if (seconds.size() != values.size())
    throw std::invalid_argument("qc::checkSeries: seconds and values differ in length");
  StreamChecker checker(config);
  std::vector<Flags> flags(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const StreamChecker::Step step = checker.push(seconds[i], values[i]);
    flags[i] = step.now;
    if (step.previousSpike) flags[i - 1][Test::Spike] = *step.previousSpike;
  }
  if (const std::optional<Flag> last = checker.finish()) flags.back()[Test::Spike] = *last;
  return flags;
}

}  // namespace qc
