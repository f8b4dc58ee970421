#include "qc/checks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
  m_size = Size::Empty;
  m_min.clear();
  m_max.clear();
  m_brokenAt = -std::numeric_limits<double>::infinity();
}

}  // namespace detail

// --- one stream, sample by sample -----------------------------------------------------

StreamChecker::StreamChecker(const StreamConfig& config) : m_config(config) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  if (const auto& g = m_config.grossRange) {
    m_run |= bit(Test::GrossRange);
    m_grossFailMin = g->failMin;
    m_grossFailMax = g->failMax;
    const bool suspect = g->suspectMin && g->suspectMax;
    m_grossSuspectMin = suspect ? *g->suspectMin : -inf;
    m_grossSuspectMax = suspect ? *g->suspectMax : inf;
  }
  if (const auto& s = m_config.spike) {
    m_run |= bit(Test::Spike);
    m_spikeSuspect = s->suspect ? *s->suspect : inf;
    m_spikeFail = s->fail ? *s->fail : inf;
    m_spikeAverage = s->method == SpikeMethod::Average;
  }
  if (const auto& r = m_config.rateOfChange) {
    m_run |= bit(Test::RateOfChange);
    m_rateThreshold = r->threshold;
    m_rateFail = r->fail ? *r->fail : inf;
  }
  if (const auto& f = m_config.flatLine) {
    m_run |= bit(Test::FlatLine);
    m_flatTolerance = f->tolerance;
    m_flatSuspectSeconds = std::floor(f->suspectSeconds);
    m_flatFailSeconds = std::floor(f->failSeconds);
    m_flatLongerSeconds = std::max(m_flatFailSeconds, m_flatSuspectSeconds);
  }
}

// A value is finite here (checked before): it lies outside an infinite limit never.
inline Flag StreamChecker::grossRange(double value) const {
  if (isMissing(value)) return Flag::Missing;
  if (value < m_grossFailMin || value > m_grossFailMax) return Flag::Fail;
  if (value < m_grossSuspectMin || value > m_grossSuspectMax) return Flag::Suspect;
  return Flag::Pass;
}

inline Flag StreamChecker::rateOfChange(double seconds, double value, double prevSeconds, double prevValue,
                                        long long count) const {
  if (isMissing(value)) return Flag::Missing;
  if (!std::isfinite(seconds)) return Flag::NotEvaluated;
  if (count == 0) return Flag::Pass;
  const double dt = seconds - prevSeconds;
  if (!(dt > 0)) return Flag::NotEvaluated;  // equal times, backwards, or no previous time
  if (isMissing(prevValue)) return Flag::Pass;
  const double rate = std::fabs(value - prevValue) / dt;
  if (rate > m_rateFail) return Flag::Fail;
  return rate > m_rateThreshold ? Flag::Suspect : Flag::Pass;
}

inline Flag StreamChecker::flatLine(FlatSeries& series, double seconds, double value, long long count) {
  const bool missing = isMissing(value);
  if (!std::isfinite(seconds)) {
    series.started = false;
    return missing ? Flag::Missing : Flag::NotEvaluated;
  }
  const bool hasPrevious = series.started && seconds >= series.lastSeconds;
  const double previousAt = series.lastSeconds;
  if (!hasPrevious) {
    series.started = true;
    series.firstSeconds = series.lastSeconds = series.beforeLastSeconds = seconds;
    m_flatRun.clear();
  } else if (seconds > series.lastSeconds) {
    series.beforeLastSeconds = series.lastSeconds;
    series.lastSeconds = seconds;
  }
  // How far the series reaches back, counting the step to this time once more: samples
  // sharing one time stamp all reach as far as the first of them.
  const double reach = (seconds - series.firstSeconds) + (seconds - series.beforeLastSeconds);

  // A window is flat when the run of values within tolerance reaches back over all of it
  // and it holds another sample (a missing one too) besides this one.
  if (missing) return Flag::Missing;
  const double tolerance = m_flatTolerance;
  if (!(tolerance > 0)) return Flag::Pass;  // no two values are less than 0 apart
  m_flatRun.push(seconds, value, tolerance);
  m_flatRun.dropBefore(seconds - m_flatLongerSeconds - kTimeSlack);
  // A whole series of fewer than three samples is never flat; the first two of any series
  // pass, so a series that ends there agrees.
  if (!hasPrevious || count < 2) return Flag::Pass;
  // A window is flat only when the run broke before the previous sample: not so when this
  // value or the one before broke it (the usual case).
  if (!(m_flatRun.brokenAt() < previousAt)) return Flag::Pass;
  auto flat = [&](double windowSeconds) {
    const double start = seconds - windowSeconds - kTimeSlack;
    return reach > windowSeconds + kTimeSlack && m_flatRun.brokenAt() < start && previousAt >= start;
  };
  return flat(m_flatFailSeconds) ? Flag::Fail : flat(m_flatSuspectSeconds) ? Flag::Suspect : Flag::Pass;
}

// The spike flag of `value` between `before` and `next`, `count` samples before `value`.
inline Flag StreamChecker::spikeOf(double before, double value, double next, long long count) const {
  if (isMissing(value)) return Flag::Missing;
  if (count == 0) return Flag::NotEvaluated;  // the first sample
  if (isMissing(before) || isMissing(next)) return Flag::Missing;
  double diff = 0;
  if (m_spikeAverage) {
    diff = std::fabs(value - (before + next) / 2);
  } else {
    // Only a value its neighbours both lie on one side of stands out: by its smaller step.
    const double down = value - before, up = next - value;
    if (down * up < 0) diff = std::min(std::fabs(down), std::fabs(up));
  }
  if (isMissing(diff)) return Flag::Missing;  // the neighbours' sum or both steps overflowed
  if (diff > m_spikeFail) return Flag::Fail;
  if (diff > m_spikeSuspect) return Flag::Suspect;
  return Flag::Pass;
}

inline Flag StreamChecker::step(double seconds, double value, Flags& now) {
  now.run = m_run;
  now.test = {Flag::NotEvaluated, Flag::NotEvaluated, Flag::NotEvaluated, Flag::NotEvaluated};
  if (m_run & bit(Test::GrossRange)) now[Test::GrossRange] = grossRange(value);
  if (m_run & bit(Test::RateOfChange))
    now[Test::RateOfChange] = rateOfChange(seconds, value, m_prevSeconds, m_prevValue, m_count);
  if (m_run & bit(Test::FlatLine)) now[Test::FlatLine] = flatLine(m_flatSeries, seconds, value, m_count);
  const Flag previousSpike = (m_run & bit(Test::Spike)) && m_count > 0
                                 ? spikeOf(m_prevPrevValue, m_prevValue, value, m_count - 1)
                                 : Flag{0};
  m_prevPrevValue = m_prevValue;
  m_prevValue = value;
  m_prevSeconds = seconds;
  ++m_count;
  return previousSpike;
}

StreamChecker::Step StreamChecker::push(double seconds, double value) {
  Step step;
  push(seconds, value, step.now, step.previousSpike);
  return step;
}

void StreamChecker::push(double seconds, double value, Flags& now, std::optional<Flag>& previousSpike) {
  const Flag spike = step(seconds, value, now);
  if (spike != Flag{0})
    previousSpike = spike;
  else
    previousSpike.reset();
}

// --- a block, test by test ---------------------------------------------------------
//
// Each test's flags for a run of samples go straight into its byte column, in plain loops
// over the doubles with the limits in locals and nothing that may alias, which the
// compiler turns into vector code; a missing value is found by a mask, not a branch (for a
// finite value the comparisons are the ones the sample-by-sample checks make, so the flags
// are the same). The aggregate follows from the columns, run by run while they are in cache.

namespace {

constexpr uint8_t kPass = static_cast<uint8_t>(Flag::Pass);
constexpr uint8_t kNotEvaluated = static_cast<uint8_t>(Flag::NotEvaluated);
constexpr uint8_t kSuspect = static_cast<uint8_t>(Flag::Suspect);
constexpr uint8_t kFail = static_cast<uint8_t>(Flag::Fail);
constexpr uint8_t kMissing = static_cast<uint8_t>(Flag::Missing);
constexpr double kLargest = std::numeric_limits<double>::max();

// Samples per run: what a test's pass over the block takes at a time.
constexpr size_t kRun = 256;

// The loops below are built twice where the platform picks a function's build when the
// program loads (x86-64 ELF): for AVX2, four doubles at a time, and for any x86-64, two.
// On the benchmark's conversion of a million lines the checks went from about 0.11 s to
// 0.07 s. The flags are the same: the loops only compare, subtract, divide and take
// absolute values (no fused multiply-add is asked for).
#if defined(__x86_64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(__SANITIZE_ADDRESS__)
#define MARU_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define MARU_VECTOR_CLONES
#endif

MARU_VECTOR_CLONES void grossRangeRun(const double* __restrict values, size_t n, double failMin, double failMax,
                   double suspectMin, double suspectMax, uint8_t* __restrict out) {
  for (size_t k = 0; k < n; ++k) {
    const double v = values[k];
    uint8_t f = (v < suspectMin) | (v > suspectMax) ? kSuspect : kPass;
    f = (v < failMin) | (v > failMax) ? kFail : f;
    out[k] = std::fabs(v) <= kLargest ? f : kMissing;
  }
}

// Samples 1 .. n - 1 of `values`, each after the one before it.
MARU_VECTOR_CLONES void rateOfChangeRun(const double* __restrict seconds, const double* __restrict values, size_t n,
                     double threshold, double fail, uint8_t* __restrict out) {
  for (size_t k = 1; k < n; ++k) {
    const double v = values[k], before = values[k - 1], at = seconds[k];
    const double dt = at - seconds[k - 1];
    const double rate = std::fabs(v - before) / dt;
    uint8_t f = rate > threshold ? kSuspect : kPass;
    f = rate > fail ? kFail : f;
    f = std::fabs(before) <= kLargest ? f : kPass;
    f = (std::fabs(at) <= kLargest) & (dt > 0) ? f : kNotEvaluated;
    out[k - 1] = std::fabs(v) <= kLargest ? f : kMissing;
  }
}

// Samples 1 .. n - 2 of `values`, each between its two neighbours.
MARU_VECTOR_CLONES void spikeRun(const double* __restrict values, size_t n, bool average, double suspect, double fail,
              uint8_t* __restrict out) {
  if (average) {
    for (size_t k = 1; k + 1 < n; ++k) {
      // Any missing value among the three makes the measure missing too.
      const double diff = std::fabs(values[k] - (values[k - 1] + values[k + 1]) / 2);
      uint8_t f = diff > suspect ? kSuspect : kPass;
      f = diff > fail ? kFail : f;
      out[k - 1] = diff <= kLargest ? f : kMissing;
    }
    return;
  }
  for (size_t k = 1; k + 1 < n; ++k) {
    const double before = values[k - 1], v = values[k], next = values[k + 1];
    const double down = v - before, up = next - v;
    const double smaller = std::fabs(up) < std::fabs(down) ? std::fabs(up) : std::fabs(down);
    const double diff = down * up < 0 ? smaller : 0.0;
    uint8_t f = diff > suspect ? kSuspect : kPass;
    f = diff > fail ? kFail : f;
    f = std::fabs(before) <= kLargest ? f : kMissing;
    f = std::fabs(next) <= kLargest ? f : kMissing;
    f = diff <= kLargest ? f : kMissing;
    out[k - 1] = std::fabs(v) <= kLargest ? f : kMissing;
  }
}

// What finiteIncreasingSteps() gives each sample: its value lies the tolerance or more
// from the one before, or less; or its value or time is not finite, or its time not after
// the one before. (Not 0 and 1: a choice between those is made a branch, which stops the
// loop being vector code.)
constexpr uint8_t kStepBreaks = 1, kStepHolds = 4, kStepOdd = 2;

// Whether every value and time of a run of samples is finite and the times increase, and
// for k in 1 .. n - 1 the step from sample k - 1 to k (`steps[k]`).
MARU_VECTOR_CLONES bool finiteIncreasingSteps(const double* __restrict seconds, const double* __restrict values, size_t n,
                           double tolerance, uint8_t* __restrict steps) {
  uint8_t seen = (std::fabs(values[0]) <= kLargest) & (std::fabs(seconds[0]) <= kLargest) ? kStepHolds : kStepOdd;
  uint8_t* __restrict out = steps + 1;
  for (size_t k = 1; k < n; ++k) {
    const double v = values[k], before = values[k - 1], at = seconds[k];
    uint8_t f = std::fabs(v - before) < tolerance ? kStepHolds : kStepBreaks;
    f = (std::fabs(at) <= kLargest) & (at > seconds[k - 1]) ? f : kStepOdd;
    out[k - 1] = std::fabs(v) <= kLargest ? f : kStepOdd;
  }
  for (size_t k = 1; k < n; ++k) seen |= steps[k];
  return !(seen & kStepOdd);
}

// The worst of the tests in `run`, in vector code: each flag's badness (missing 0, not
// evaluated 1, pass 2, suspect 3, fail 4) is its number with 1 and 2 swapped and 9 made 0,
// and the same swap maps the greatest back.
MARU_VECTOR_CLONES void aggregateRun(const FlagColumns& columns, uint8_t run, size_t from, size_t n) {
  uint8_t* __restrict out = columns.aggregate + from;
  if (run == 0) {
    std::memset(out, kNotEvaluated, n);
    return;
  }
  auto badness = [](uint8_t f) -> uint8_t { return f == kMissing ? 0 : f == kPass ? 2 : f == kNotEvaluated ? 1 : f; };
  std::memset(out, 0, n);
  for (size_t t = 0; t < kTestCount; ++t) {
    if (!((run >> t) & 1U)) continue;
    const uint8_t* __restrict flags = columns.test[t] + from;
    for (size_t k = 0; k < n; ++k) {
      const uint8_t b = badness(flags[k]);
      out[k] = b > out[k] ? b : out[k];
    }
  }
  for (size_t k = 0; k < n; ++k) {
    const uint8_t b = out[k];
    out[k] = b == 0 ? kMissing : b == 2 ? kPass : b == 1 ? kNotEvaluated : b;
  }
}

}  // namespace

// With every value and time finite and the times increasing, a sample whose value lies the
// tolerance or more from the one before (nearly every sample, with a small tolerance)
// starts the run of flat values anew and passes: a vector loop finds those, and only the
// others go through the window, from the state such a sample leaves (rebuilt from the
// arrays). Otherwise sample by sample.
void StreamChecker::flatLineRun(FlatSeries& series, const double* seconds, const double* values, size_t n,
                                long long count, uint8_t* out) {
  out[0] = static_cast<uint8_t>(flatLine(series, seconds[0], values[0], count));
  uint8_t steps[kRun];
  if (n < 2 || !(m_flatTolerance > 0) || !finiteIncreasingSteps(seconds, values, n, m_flatTolerance, steps)) {
    for (size_t k = 1; k < n; ++k)
      out[k] = static_cast<uint8_t>(flatLine(series, seconds[k], values[k], count + static_cast<long long>(k)));
    return;
  }
  // Sample 0 is taken; `behind` is set while the state stands before a sample that broke
  // the run.
  bool behind = false;
  const auto catchUp = [&](size_t broke) {
    series.beforeLastSeconds = seconds[broke - 1];
    series.lastSeconds = seconds[broke];
    m_flatRun.restartAt(seconds[broke - 1], seconds[broke], values[broke]);
  };
  std::memset(out + 1, kPass, n - 1);
  constexpr uint64_t kEightBreaks = 0x0101010101010101ULL * kStepBreaks;
  for (size_t k = 1; k < n;) {
    uint64_t eight = 0;
    if (k + 8 <= n) std::memcpy(&eight, steps + k, 8);
    if (eight == kEightBreaks) {
      behind = true;
      k += 8;
      continue;
    }
    if (steps[k] == kStepBreaks) {
      behind = true;
      ++k;
      continue;
    }
    if (behind) catchUp(k - 1);
    behind = false;
    out[k] = static_cast<uint8_t>(flatLine(series, seconds[k], values[k], count + static_cast<long long>(k)));
    ++k;
  }
  if (behind) catchUp(n - 1);
}

void StreamChecker::pushBlock(const double* seconds, const double* values, size_t n, const FlagColumns& out,
                              std::optional<Flag>& previousSpike) {
  // Test by test over the block: the samples before one are in the block (or, for the
  // first, in the members), so only the flat line carries state from sample to sample.
  previousSpike.reset();
  if (n == 0) return;
  const bool gross = m_run & bit(Test::GrossRange), rate = m_run & bit(Test::RateOfChange);
  const bool flat = m_run & bit(Test::FlatLine), spike = m_run & bit(Test::Spike);
  for (const Test test : kTests)
    if (!(m_run & bit(test))) std::memset(out.test[static_cast<size_t>(test)], kNotEvaluated, n);
  FlatSeries series = m_flatSeries;
  for (size_t from = 0; from < n; from += kRun) {
    const size_t m = std::min(kRun, n - from);
    const double* t = seconds + from;
    const double* v = values + from;
    if (gross)
      grossRangeRun(v, m, m_grossFailMin, m_grossFailMax, m_grossSuspectMin, m_grossSuspectMax,
                    out.test[static_cast<size_t>(Test::GrossRange)] + from);
    if (rate) {
      uint8_t* o = out.test[static_cast<size_t>(Test::RateOfChange)] + from;
      // The block's first sample follows the one in the members; a later run's first, the
      // sample before it in the block.
      if (from == 0) {
        o[0] = static_cast<uint8_t>(rateOfChange(t[0], v[0], m_prevSeconds, m_prevValue, m_count));
        rateOfChangeRun(t, v, m, m_rateThreshold, m_rateFail, o + 1);
      } else {
        rateOfChangeRun(t - 1, v - 1, m + 1, m_rateThreshold, m_rateFail, o);
      }
    }
    if (flat)
      flatLineRun(series, t, v, m, m_count + static_cast<long long>(from),
                  out.test[static_cast<size_t>(Test::FlatLine)] + from);
    if (spike) {
      // Each sample between its neighbours, as far as the block holds them; the block's first
      // sample has its first neighbour in the members, and its last waits for the next block.
      uint8_t* o = out.test[static_cast<size_t>(Test::Spike)] + from;
      if (from == 0) {
        if (m_count > 0) previousSpike = spikeOf(m_prevPrevValue, m_prevValue, v[0], m_count - 1);
        if (n > 1) o[0] = static_cast<uint8_t>(spikeOf(m_prevValue, v[0], v[1], m_count));
        spikeRun(v, std::min(m + 1, n), m_spikeAverage, m_spikeSuspect, m_spikeFail, o + 1);
      } else {
        spikeRun(v - 1, std::min(m + 2, n - from + 1), m_spikeAverage, m_spikeSuspect, m_spikeFail, o);
      }
      if (from + m == n) o[m - 1] = kNotEvaluated;
    }
    aggregateRun(out, m_run, from, m);
  }
  m_flatSeries = series;
  m_prevPrevValue = n > 1 ? values[n - 2] : m_prevValue;
  m_prevValue = values[n - 1];
  m_prevSeconds = seconds[n - 1];
  m_count += static_cast<long long>(n);
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
  const size_t n = values.size();
  std::vector<uint8_t> bytes((1 + kTestCount) * n);
  const FlagColumns columns = FlagColumns::at(bytes.data(), n);
  std::optional<Flag> none;
  checker.pushBlock(seconds.data(), values.data(), n, columns, none);
  std::vector<Flags> flags(n);
  for (size_t k = 0; k < n; ++k) flags[k] = columns.flags(k, checker.run());
  if (const std::optional<Flag> last = checker.finish()) flags.back()[Test::Spike] = *last;
  return flags;
}

}  // namespace qc
