// The QARTOD checks: each test's edges on hand-worked series, the aggregates, and the
// streaming checker against whole series and brute-force flat-line windows.
#include "qc/checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/testfiles.h"

using namespace qc;
using T = qc::Test;  // gtest's own Test hides ours inside TEST bodies

namespace {

constexpr double M = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Pass, Not evaluated, Suspect, Fail, Missing.
char letter(Flag f) { return "?PNSF????M"[static_cast<int>(f)]; }

std::vector<double> ticks(size_t n, double step) {
  std::vector<double> t(n);
  for (size_t i = 0; i < n; ++i) t[i] = static_cast<double>(i) * step;
  return t;
}

StreamConfig gross(std::optional<double> lo, std::optional<double> hi) { StreamConfig c; c.grossRange = GrossRange{0, 10, lo, hi}; return c; }
StreamConfig spike(std::optional<double> suspect, std::optional<double> fail, SpikeMethod method = SpikeMethod::Average) {
  StreamConfig c;
  c.spike = Spike{suspect, fail, method};
  return c;
}
StreamConfig rate(double threshold, std::optional<double> fail = {}) { StreamConfig c; c.rateOfChange = RateOfChange{threshold, fail}; return c; }
constexpr SpikeMethod kDifferential = SpikeMethod::Differential;
StreamConfig flat(double tolerance, double suspect, double fail) { StreamConfig c; c.flatLine = FlatLine{tolerance, suspect, fail}; return c; }

// pushBlock() into one Flags per sample; every aggregate it gives is the worst of the
// sample's tests as they stand (the last one's spike flag still to come).
void pushBlockInto(StreamChecker& checker, const double* ts, const double* vs, size_t n, Flags* out,
                   std::optional<Flag>& before) {
  std::vector<uint8_t> bytes((1 + kTestCount) * n);
  const FlagColumns columns = FlagColumns::at(bytes.data(), n);
  checker.pushBlock(ts, vs, n, columns, before);
  for (size_t k = 0; k < n; ++k) {
    out[k] = columns.flags(k, checker.run());
    ASSERT_EQ(static_cast<Flag>(columns.aggregate[k]), out[k].aggregate()) << "sample " << k << " of a block";
  }
}

struct SeriesCase {
  const char* name;
  StreamConfig config;
  T test;
  std::vector<double> seconds, values;
  std::string expected;
};

class Series : public ::testing::TestWithParam<SeriesCase> {};

TEST_P(Series, Flags) {
  const SeriesCase& c = GetParam();
  std::string got;
  for (const Flags& f : checkSeries(c.config, c.seconds, c.values)) got += letter(f[c.test]);
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Hand, Series,
    ::testing::Values(
        SeriesCase{"GrossEndsInclusive", gross(2, 8), T::GrossRange, ticks(8, 1), {-1, 0, 2, 8, 10, 11, M, inf}, "FSPPSFMM"},
        SeriesCase{"GrossFailSpanOnly", gross({}, {}), T::GrossRange, ticks(3, 1), {0, 10, -0.5}, "PPF"},
        // Neighbours of a spike of h differ by h/2: 4 just meets the fail threshold.
        SeriesCase{"SpikeThresholdsMet", spike(2, 4), T::Spike, ticks(13, 1), {0, 2, 0, 0, -3, 0, 0, 4, 0, 0, 5, 0, 0},
                   "NPPPSPPSPSFSN"},
        SeriesCase{"SpikeFailOnly", spike({}, 4), T::Spike, ticks(6, 1), {0, 3, 0, 0, 6, 0}, "NPPPFN"},
        SeriesCase{"SpikeSuspectOnly", spike(1, {}), T::Spike, ticks(3, 1), {0, 9, 0}, "NSN"},
        SeriesCase{"SpikeNotConfigured", rate(1), T::Spike, ticks(3, 1), {0, 9, 0}, "NNN"},
        SeriesCase{"SpikeNextToMissing", spike(1, 2), T::Spike, ticks(8, 1), {M, 1, 1, M, 1, 1, 1, M}, "MMMMMPMM"},
        SeriesCase{"SpikeEndsBesideMissing", spike(1, 2), T::Spike, ticks(3, 1), {1, M, 1}, "NMN"},
        SeriesCase{"SpikeNeighboursOverflow", spike(1, 2), T::Spike, ticks(3, 1), {1.5e308, 0, 1.5e308}, "NMN"},
        // The smaller step when the steps turn back; a step of 0 or a steady climb is no spike
        // (the average method fails the 0 between 0 and 10: 5 from their mean).
        SeriesCase{"SpikeDifferential", spike(2, 4, kDifferential), T::Spike, ticks(11, 1),
                   {0, 3, 0, 1, 2, 5, 0, 0, 10, 10, 10}, "NSPPPSPPPPN"},
        SeriesCase{"SpikeDifferentialFail", spike({}, 4, kDifferential), T::Spike, ticks(4, 1), {0, -5, 5, 5}, "NFPN"},
        SeriesCase{"SpikeDifferentialOverflow", spike(1, 2, kDifferential), T::Spike, ticks(3, 1), {-1.7e308, 1.7e308, -1.7e308},
                   "NMN"},
        SeriesCase{"RateIrregularEqualBackwards", rate(1), T::RateOfChange, {0, 1, 3, 3, 4, 2, 3, 5, 6},
                   {0, 1, 3, 9, 9, 9, 12, M, 20}, "PPPNPNSMP"},
        SeriesCase{"RateFailThreshold", rate(1, 3), T::RateOfChange, ticks(6, 1), {0, 1, 3, 7, 4, 4.5}, "PPSFSP"},
        SeriesCase{"RateWithoutTime", rate(1), T::RateOfChange, {M, 1, 2, 3}, {0, 5, 5, 9}, "NNPS"},
        // 1 Hz: the suspect window (2 s) is 3 samples long, the fail window (4 s) 5.
        SeriesCase{"FlatSuspectThenFail", flat(0.5, 2, 4), T::FlatLine, ticks(11, 1), {5, 5, 5, 5, 5, 6, 6, 6, 6.4, 6, 7},
                   "PPSSFPPSSFP"},
        SeriesCase{"FlatToleranceStrict", flat(0.5, 2, 100), T::FlatLine, ticks(5, 1), {1, 1.5, 1, 1.25, 1.25}, "PPPPS"},
        // 2 s steps: 5 s reaches 2 samples back; 7.9 s, cut to 7, reaches 3.
        SeriesCase{"FlatTwoSecondSteps", flat(0.5, 5, 7.9), T::FlatLine, ticks(8, 2), {1, 1, 1, 1, 2, 2, 2, 2}, "PPSFPPSF"},
        SeriesCase{"FlatCutToWholeSeconds", flat(0.5, 1.9, 100), T::FlatLine, ticks(6, 0.5), {1, 1, 1, 2, 2, 2}, "PPSPPS"},
        // Tenths of a second carry rounding (1.1 - 1 < 0.1); 1 s still holds 11 samples.
        SeriesCase{"FlatTenthsRounded", flat(0.5, 1, 100), T::FlatLine, ticks(12, 0.1), {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
                   "PPPPPPPPPPPP"},
        SeriesCase{"FlatMissingLeftOut", flat(0.5, 2, 100), T::FlatLine, ticks(8, 1), {1, M, 1, 1, M, M, M, 2}, "PMSSMMMS"},
        // Samples sharing a time stamp reach back as far as the first of them.
        SeriesCase{"FlatEqualTimes", flat(0.5, 1, 100), T::FlatLine, {0, 0, 1, 1, 2, 2}, {1, 1, 1, 1, 1, 1}, "PPSSSS"},
        SeriesCase{"FlatEqualTimesYoung", flat(0.5, 2, 100), T::FlatLine, {0, 1, 2, 2, 2, 3}, {1, 1, 1, 1, 1, 1}, "PPSSSS"},
        // After a gap longer than the window, a sample alone in its window is not flat; the
        // next one, with it in its window, is.
        SeriesCase{"FlatAfterGap", flat(0.5, 2, 100), T::FlatLine, {0, 1, 2, 3, 10, 11, 12}, {1, 1, 1, 1, 1, 1, 1}, "PPSSPSS"},
        SeriesCase{"FlatBackwardsStartsAnew", flat(0.5, 2, 100), T::FlatLine, {0, 1, 2, 3, 1, 2, 3}, {1, 1, 1, 1, 1, 1, 1},
                   "PPSSPPS"},
        SeriesCase{"FlatNoTimeStartsAnew", flat(0.5, 2, 100), T::FlatLine, {0, 1, 2, M, 4, 5, 6}, {1, 1, 1, 1, 1, 1, 1},
                   "PPSNPPS"},
        // A tolerance of 0 (ioos_qc's default) or NaN admits no run: nothing is flat, and
        // nothing hangs.
        SeriesCase{"FlatToleranceZero", flat(0, 1, 2), T::FlatLine, ticks(6, 1), {1, 1, 1, 1, M, 1}, "PPPPMP"},
        SeriesCase{"FlatToleranceNaN", flat(M, 1, 2), T::FlatLine, ticks(4, 1), {1, 1, 1, 1}, "PPPP"},
        // ioos_qc passes a series shorter than three; the first two of a longer one pass too.
        SeriesCase{"FlatShorterThanThree", flat(0.5, 1, 100), T::FlatLine, ticks(2, 1), {1, 1}, "PP"},
        SeriesCase{"FlatThirdSampleFirst", flat(0.5, 1, 100), T::FlatLine, ticks(4, 1), {1, 1, 1, 1}, "PPSS"},
        SeriesCase{"FlatShorterThanThreeMissing", flat(0.5, 1, 100), T::FlatLine, ticks(2, 1), {1, M}, "PM"}),
    [](const auto& info) { return testsupport::testNameOf(info.param.name); });

// ioos_qc's default tolerance (0, when the configuration gives none) admits no run: the
// checks end, and nothing is flat.
TEST(StreamChecker, FlatWithoutToleranceEnds) {
  const ConfigResult read = parseConfig("streams: {s: {qartod: {flat_line_test: {suspect_threshold: 1, fail_threshold: 2}}}}");
  ASSERT_TRUE(read.config) << read.error;
  for (const Flags& f : checkSeries(read.config->streams[0], ticks(50, 0.5), std::vector<double>(50, 1.0)))
    ASSERT_EQ(f[T::FlatLine], Flag::Pass);
}

// Windows of 1e300 s and a tolerance as wide: a steady climb keeps a bounded number of
// candidates, and nothing is ever evaluated.
TEST(StreamChecker, HugeWindowsKeepBoundedMemory) {
  detail::FlatRun run;
  for (int i = 0; i < 100000; ++i) run.push(i, i * 1e-3, 1e300);
  EXPECT_LE(run.kept(), 2 * detail::FlatRun::kMaxCandidates);
  StreamChecker checker(flat(1e300, 1e300, 1e300));
  for (int i = 0; i < 100000; ++i) ASSERT_EQ(checker.push(i, i * 1e-3).now[T::FlatLine], Flag::Pass) << i;
}

TEST(Flags, WorseAndAggregates) {
  const std::vector<Flag> order{Flag::Missing, Flag::NotEvaluated, Flag::Pass, Flag::Suspect, Flag::Fail};
  for (size_t i = 0; i < order.size(); ++i)
    for (size_t j = i; j < order.size(); ++j)
      EXPECT_TRUE(worse(order[i], order[j]) == order[j] && worse(order[j], order[i]) == order[j]) << i << " " << j;

  const auto P = Flag::Pass, N = Flag::NotEvaluated, S = Flag::Suspect, F = Flag::Fail, X = Flag::Missing;
  struct Row { std::array<Flag, 4> test; uint8_t run; Flag all, live; };
  for (const Row& r : {Row{{F, F, F, F}, 0b0000, N, N},     // nothing configured
                       Row{{P, F, S, N}, 0b1111, F, S},     // the spike counts in the full aggregate only
                       Row{{P, S, F, F}, 0b0011, S, P},     // unrun tests do not count
                       Row{{N, F, N, N}, 0b0010, F, N},     // only the spike run
                       Row{{X, X, X, X}, 0b1111, X, X},     // a missing value
                       Row{{X, N, X, X}, 0b1111, N, X}}) {  // not evaluated beats missing
    const Flags f{r.test, r.run};
    EXPECT_EQ(f.aggregate(), r.all) << int(r.run);
    EXPECT_EQ(f.liveAggregate(), r.live) << int(r.run);
  }
}

// A long drifting series with runs, jumps, missing values, and repeated and irregular
// times: pushed one by one, and in blocks of any length, it flags as checkSeries does, and
// its flat line matches a brute-force scan of each window (the windows' buffers wrap and
// grow many times).
TEST(StreamChecker, RandomSeriesAsWholeSeriesAndBruteForce) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pick(0, 99);
  std::vector<double> ts, vs;
  for (double t = 0, v = 0; ts.size() < 5000;) {
    const int p = pick(rng);
    t += p < 3 ? 0.0 : p == 3 ? 12.0 : 0.5 * (1 + pick(rng) % 3);  // now and then a gap
    v += p < 5 ? 3.0 * (pick(rng) - 50) / 50 : 0.001 * (pick(rng) % 3 - 1);
    ts.push_back(t);
    vs.push_back(p == 99 ? M : v);
  }
  StreamConfig config = flat(0.02, 10, 30.5);
  config.grossRange = GrossRange{-3, 3, -2, 2};
  config.spike = Spike{0.5, 1.5, SpikeMethod::Average};
  config.rateOfChange = RateOfChange{0.4, {}};
  const std::vector<Flags> series = checkSeries(config, ts, vs);
  StreamChecker checker(config);
  std::vector<Flags> pushed;
  for (size_t n = 0; n < vs.size(); ++n) {
    const StreamChecker::Step step = checker.push(ts[n], vs[n]);
    pushed.push_back(step.now);
    if (n > 0) pushed[n - 1][T::Spike] = step.previousSpike.value();

    Flag flat = std::isnan(vs[n]) ? Flag::Missing : Flag::Pass;
    double before = ts[0];  // the newest time before this one
    for (size_t j = 0; j < n; ++j)
      if (ts[j] < ts[n]) before = ts[j];
    for (const auto& [seconds, flag] : {std::pair{10.0, Flag::Suspect}, std::pair{30.0, Flag::Fail}}) {
      if (flat == Flag::Missing || n < 2 || (ts[n] - ts[0]) + (ts[n] - before) <= seconds) continue;
      if (ts[n - 1] < ts[n] - seconds) continue;  // alone in its window
      double lo = inf, hi = -inf;
      for (size_t j = 0; j <= n; ++j)
        if (ts[j] >= ts[n] - seconds && !std::isnan(vs[j])) lo = std::min(lo, vs[j]), hi = std::max(hi, vs[j]);
      if (hi - lo < 0.02) flat = flag;
    }
    ASSERT_EQ(step.now[T::FlatLine], flat) << "sample " << n;
  }
  pushed.back()[T::Spike] = checker.finish().value();
  for (size_t n = 0; n < series.size(); ++n) ASSERT_EQ(pushed[n].test, series[n].test) << "sample " << n;

  // In blocks of 1 to 700 samples, each block's first spike flag completing the last block's.
  StreamChecker blocks(config);
  std::vector<Flags> blocked(vs.size());
  for (size_t at = 0, n = 0; at < vs.size(); at += n) {
    n = std::min<size_t>(vs.size() - at, 1 + static_cast<size_t>(pick(rng)) * 7);
    std::optional<Flag> before;
    pushBlockInto(blocks, &ts[at], &vs[at], n, &blocked[at], before);
    ASSERT_EQ(before.has_value(), at > 0);
    if (before) blocked[at - 1][T::Spike] = *before;
  }
  blocked.back()[T::Spike] = blocks.finish().value();
  for (size_t n = 0; n < series.size(); ++n) ASSERT_EQ(blocked[n].test, series[n].test) << "sample " << n;
  for (const T t : kTests)  // each test flags somewhere, so the comparison means something
    EXPECT_TRUE(std::any_of(series.begin(), series.end(), [t](const Flags& f) { return f[t] >= Flag::Suspect; })) << testName(t);
}

// Blocks are checked test by test in vector code, with missing values found by masks: on a
// series full of what those must catch (NaN and infinite values, neighbours whose sum
// overflows, samples without a time, repeated times), in blocks of any length, each
// method of the spike test flags as pushing the samples one by one does.
TEST(StreamChecker, BlocksFlagOddSamplesAsOneByOne) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> pick(0, 99);
  std::vector<double> ts, vs;
  for (double t = 0, v = 0; ts.size() < 3000;) {
    const int p = pick(rng);
    t += p < 5 ? 0.0 : 1.0;
    v = p < 30 ? v + (pick(rng) - 50) : v;
    const double odd[] = {M, inf, -inf, 1e308, -1e308, v};
    ts.push_back(p == 97 ? M : t);
    vs.push_back(p >= 90 ? odd[p - 90 < 6 ? p - 90 : 5] : v);
  }
  for (const SpikeMethod method : {SpikeMethod::Average, kDifferential}) {
    StreamConfig config = flat(0.5, 3, 6);
    config.grossRange = GrossRange{-60, 60, -30, 30};
    config.spike = Spike{20.0, 40.0, method};
    config.rateOfChange = RateOfChange{10, 30.0};
    StreamChecker one(config), blocks(config);
    std::vector<Flags> pushed, blocked(vs.size());
    for (size_t n = 0; n < vs.size(); ++n) {
      const StreamChecker::Step step = one.push(ts[n], vs[n]);
      pushed.push_back(step.now);
      if (n > 0) pushed[n - 1][T::Spike] = step.previousSpike.value();
    }
    for (size_t at = 0, n = 0; at < vs.size(); at += n) {
      n = std::min<size_t>(vs.size() - at, 1 + static_cast<size_t>(pick(rng)) * 7);
      std::optional<Flag> before;
      pushBlockInto(blocks, &ts[at], &vs[at], n, &blocked[at], before);
      if (before) blocked[at - 1][T::Spike] = *before;
    }
    for (size_t n = 0; n + 1 < vs.size(); ++n)
      ASSERT_EQ(blocked[n].test, pushed[n].test) << "sample " << n << " method " << int(method);
  }
}

// In blocks, a run of samples with finite values at increasing times takes the flat line's
// short way: the samples that step the tolerance or more from the one before pass at once,
// and the rest go through the window. Over runs of small steps long enough to be flat, jumps,
// equal values and gaps longer than the window, every sample flags as when pushed one by one.
TEST(StreamChecker, BlocksOfOrderedSamplesFlagTheFlatLineAsOneByOne) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> pick(0, 999);
  for (const int jumps : {990, 500, 20}) {  // per thousand samples
    std::vector<double> ts, vs;
    for (double t = 1e9, v = 0; ts.size() < 20000;) {
      const int p = pick(rng);
      t += p == 0 ? 40.0 : 0.25 * (1 + pick(rng) % 4);
      v += p < jumps ? (p % 2 ? 1 : -1) * (0.1 + 0.01 * (pick(rng) % 50)) : p % 3 ? 0.0 : 0.001;
      ts.push_back(t);
      vs.push_back(v);
    }
    StreamConfig config = flat(0.1, 5, 12);
    StreamChecker one(config), blocks(config);
    std::vector<Flags> blocked(vs.size());
    for (size_t at = 0, n = 0; at < vs.size(); at += n) {
      n = std::min<size_t>(vs.size() - at, 1 + static_cast<size_t>(pick(rng)));
      std::optional<Flag> before;
      pushBlockInto(blocks, &ts[at], &vs[at], n, &blocked[at], before);
    }
    std::array<int, 10> seen{};
    for (size_t n = 0; n < vs.size(); ++n) {
      const Flag flag = one.push(ts[n], vs[n]).now[T::FlatLine];
      ASSERT_EQ(blocked[n][T::FlatLine], flag) << "sample " << n << ", jumps " << jumps;
      ++seen[static_cast<size_t>(flag)];
    }
    if (jumps < 990) {  // runs of small steps long enough to be flat
      EXPECT_GT(seen[static_cast<size_t>(Flag::Fail)], 0) << jumps;
      EXPECT_GT(seen[static_cast<size_t>(Flag::Suspect)], 0) << jumps;
    }
    EXPECT_GT(seen[static_cast<size_t>(Flag::Pass)], 0) << jumps;
  }
}

}  // namespace
