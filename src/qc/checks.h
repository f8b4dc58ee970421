#pragma once
// The QARTOD tests on one stream of samples, taken one at a time as they arrive, with the
// meaning the IOOS reference implementation (ioos_qc, qartod module 2.x) gives them:
//
// - gross range: outside the fail span fails, else outside the suspect span is suspect;
//   the spans' ends pass.
// - spike: a measure above the suspect (fail) threshold; a threshold exactly met passes,
//   and with one threshold configured only that one applies. The measure: |value - mean of
//   its two neighbours| (method average), or (differential) the smaller of |value - the
//   one before| and |the one after - value| when the two steps go opposite ways, else 0.
//   The first and last samples are not evaluated (missing when their own value is); any
//   other sample next to a missing one is missing, as is one whose measure overflows. It needs the next sample, so push() gives it for the sample before.
// - rate of change: |value - previous value| / seconds between them above the threshold
//   is suspect, above the fail threshold (when given) fail; the first sample, and one after a missing value, pass. Two samples with
//   the same time (a meter clock that counts whole seconds), or a time going backwards,
//   give no rate: not evaluated.
// - flat line: the values within a trailing window of T seconds ending at this sample
//   (T the suspect or fail threshold, cut to whole seconds as ioos_qc does) all lie less
//   than the tolerance apart (max - min < tolerance), and the window holds another sample
//   besides this one (so a sample after a gap longer than T passes). A sample is
//   evaluated once the series reaches back far enough: (t_now - t_first) + (t_now -
//   t_before) > T, t_before the newest time before t_now, which on a regular series is
//   ioos_qc's "count = T / interval samples before it"; samples sharing a time stamp are
//   alike. Earlier samples pass, and so do the first two samples of the stream (ioos_qc
//   passes a whole series shorter than three). Missing values in the window are left out;
//   a window of missing values only passes. A sample flat over the fail window fails, one
//   flat over the suspect window only is suspect. Times are compared with a microsecond
//   of slack, so a window of whole seconds holds the samples at its very start although
//   their times carry rounding. A time going backwards starts the series anew there.
//   A tolerance of 0 or NaN flags nothing.
//
// A missing value (NaN or infinite) is Missing in every test. A sample without a time
// (NaN, or any time not finite) is not evaluated by the time-based tests (rate of change,
// flat line) unless its value is missing; the next sample has no rate either, and the
// flat line starts anew after it.
//
// Every push() takes constant time (amortised) and the memory is bounded, however long the
// flat-line windows.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "qc/config.h"
#include "qc/flags.h"

namespace qc {

namespace detail {

/// The run of values, up to the newest, that all lie less than a tolerance apart, known by
/// where it broke: the time of the newest value it could not hold. A window ending at the
/// newest value is flat when that time lies before the window. Two monotonic queues on
/// growable ring buffers hold the run's least and greatest candidates; O(1) amortised per
/// value, and values older than the longest window asked about can be dropped, which
/// keeps them short even for a run that lasts for days.
class FlatRun {
 public:
  /// Candidates kept per queue at most: a run of steadily drifting values longer than
  /// this is taken to break at its oldest candidate, which bounds the memory whatever the
  /// windows' length (two queues of 16384 entries, 768 KiB).
  static constexpr size_t kMaxCandidates = 16384;

  /// Takes a (finite) value; `seconds` never less than the previous one's since clear();
  /// `tolerance` above 0.
  void push(double seconds, double value, double tolerance) {
    const uint64_t index = m_next++;
    if (m_size == Size::Empty || !(std::fabs(value - m_lastValue) < tolerance)) {
      // The value breaks the run at the one before it at least (the usual case with a
      // small tolerance): the run is this value alone, kept outside the queues.
      if (m_size != Size::Empty) m_brokenAt = m_lastAt;
      m_size = Size::One;
      m_lastIndex = index;
    } else {
      if (m_size == Size::One) {
        m_min.clear();
        m_max.clear();
        m_min.pushBack({m_lastAt, m_lastValue, m_lastIndex});
        m_max.pushBack({m_lastAt, m_lastValue, m_lastIndex});
        m_size = Size::Queued;
      }
      pushInRun(seconds, value, index, tolerance);
    }
    m_lastValue = value;
    m_lastAt = seconds;
  }
  /// The state push() leaves after a value that broke the run at the one before it:
  /// `value` at `seconds`, the run broken at `brokenAt`.
  void restartAt(double brokenAt, double seconds, double value) {
    m_size = Size::One;
    m_brokenAt = brokenAt;
    m_lastIndex = m_next++;
    m_lastValue = value;
    m_lastAt = seconds;
  }
  /// Forgets the values taken before `seconds`; what they broke is still known.
  void dropBefore(double seconds) {
    if (m_size != Size::Queued) return;  // the newest value is never dropped
    while (!m_min.empty() && m_min.front().seconds < seconds) m_min.popFront();
    while (!m_max.empty() && m_max.front().seconds < seconds) m_max.popFront();
  }
  void clear();
  /// When the run last broke: the newest value not in it (minus infinity: never).
  double brokenAt() const { return m_brokenAt; }
  /// Entries held in the two queues.
  size_t kept() const { return m_size == Size::Queued ? m_min.size() + m_max.size() : m_size == Size::One ? 2 : 0; }

 private:
  struct Entry {
    double seconds, value;
    uint64_t index;
  };
  // Entries by absolute position: first .. end - 1, the oldest first.
  class Queue {
   public:
    bool empty() const { return m_first == m_end; }
    size_t size() const { return m_end - m_first; }
    const Entry& front() const { return at(m_first); }
    const Entry& back() const { return at(m_end - 1); }
    void pushBack(const Entry& e) {
      if (m_end - m_first == m_buf.size()) grow();
      m_buf[m_end & m_mask] = e;
      ++m_end;
    }
    void popBack() { --m_end; }
    void popFront() { ++m_first; }
    void clear() { m_first = m_end = 0; }

   private:
    void grow();
    const Entry& at(size_t i) const { return m_buf[i & m_mask]; }
    std::vector<Entry> m_buf;  ///< capacity a power of two (or none yet)
    size_t m_mask = 0;         ///< the capacity less one
    size_t m_first = 0, m_end = 0;
  };
  /// The run starts after `oldest`, which broke it.
  void breakAt(const Entry& oldest);
  /// push() of a value within tolerance of the one before.
  void pushInRun(double seconds, double value, uint64_t index, double tolerance);

  // A run of one value (the usual case) is only the newest value; a longer one is in the
  // queues.
  enum class Size : uint8_t { Empty, One, Queued };
  Size m_size = Size::Empty;
  Queue m_min;  ///< values increasing from the front: the front is the least
  Queue m_max;  ///< values decreasing from the front: the front is the greatest
  uint64_t m_next = 0;
  uint64_t m_lastIndex = 0;
  double m_brokenAt = -std::numeric_limits<double>::infinity();
  double m_lastValue = 0, m_lastAt = 0;  ///< the newest value taken, and when (run not empty)
};

}  // namespace detail

/// Where StreamChecker::pushBlock() writes a block's flags, column by column as files hold
/// them: sample k's flag for test t at `test[t][k]`, and the worst of the tests run at
/// `aggregate[k]` (each a Flag's number). A test not configured gets NotEvaluated.
struct FlagColumns {
  std::array<uint8_t*, kTestCount> test{};
  uint8_t* aggregate = nullptr;

  /// The columns from `first` on: the aggregate, then each test in the order of kTests,
  /// `stride` bytes apart.
  static FlagColumns at(uint8_t* first, size_t stride) {
    FlagColumns c;
    c.aggregate = first;
    for (size_t t = 0; t < kTestCount; ++t) c.test[t] = first + (1 + t) * stride;
    return c;
  }
  /// Sample k's flags, `run` the tests configured.
  Flags flags(size_t k, uint8_t run) const {
    Flags f;
    for (size_t t = 0; t < kTestCount; ++t) f.test[t] = static_cast<Flag>(test[t][k]);
    f.run = run;
    return f;
  }
};

class StreamChecker {
 public:
  explicit StreamChecker(const StreamConfig& config);

  struct Step {
    /// This sample's flags: gross range, rate of change and flat line are final; the spike
    /// entry is NotEvaluated until the next sample (see previousSpike).
    Flags now;
    /// The previous sample's spike flag, now that this one is known (none for the first
    /// sample, or when no spike test is configured).
    std::optional<Flag> previousSpike;
  };
  /// Takes the next sample: `seconds` on any fixed epoch, increasing (equal allowed), NaN
  /// when the sample has no time; `value` NaN or infinite when missing.
  Step push(double seconds, double value);
  /// The same, written into `now` and `previousSpike`.
  void push(double seconds, double value, Flags& now, std::optional<Flag>& previousSpike);
  /// push() of `n` samples in turn (a conversion's path, test by test over the block):
  /// `out` gets sample k's flags at k, its spike flag completed by sample k + 1 when that
  /// is in the block (the last sample's spike flag, and so its aggregate, wait for the
  /// next block or finish()); `previousSpike` gets the spike flag of the sample before
  /// the block.
  void pushBlock(const double* seconds, const double* values, size_t n, const FlagColumns& out,
                 std::optional<Flag>& previousSpike);
  /// The last sample's spike flag once the series has ended (none without a spike test
  /// or a sample). Changes nothing.
  std::optional<Flag> finish();

  const StreamConfig& config() const { return m_config; }
  /// The tests configured, as Flags::run holds them.
  uint8_t run() const { return m_run; }

 private:
  /// push() into `now`; returns the previous sample's spike flag, or Flag{0}
  /// when it has none (no spike test, or no sample before).
  Flag step(double seconds, double value, Flags& now);
  // Each test of one sample, given the samples before it (`count` of them).
  Flag grossRange(double value) const;
  Flag rateOfChange(double seconds, double value, double prevSeconds, double prevValue, long long count) const;
  // The flat line's series since it last started (anew).
  struct FlatSeries {
    bool started = false;
    double firstSeconds = 0;
    double lastSeconds = 0;        ///< the newest sample's time
    double beforeLastSeconds = 0;  ///< the newest time before it (the first time while there is none)
  };
  /// `series` is the member's, or a block's local copy: as far as the compiler knows, a store
  /// to a member may change the block's doubles, so the member's fields stayed in memory.
  Flag flatLine(FlatSeries& series, double seconds, double value, long long count);
  /// flatLine() of a run of samples into `out`.
  void flatLineRun(FlatSeries& series, const double* seconds, const double* values, size_t n, long long count,
                   uint8_t* out);
  Flag spikeOf(double before, double value, double next, long long count) const;

  StreamConfig m_config;
  uint8_t m_run = 0;
  // The parameters as the checks read them: a limit not configured is one no value passes
  // (an infinity), which flags the same.
  double m_grossFailMin = 0, m_grossFailMax = 0;
  double m_grossSuspectMin = 0, m_grossSuspectMax = 0;
  double m_rateThreshold = 0, m_rateFail = 0;
  double m_spikeSuspect = 0, m_spikeFail = 0;
  bool m_spikeAverage = true;
  double m_flatTolerance = 0;
  double m_flatSuspectSeconds = 0, m_flatFailSeconds = 0;  ///< cut to whole seconds
  double m_flatLongerSeconds = 0;                          ///< the longer of the two

  // The samples before this one.
  long long m_count = 0;
  double m_prevSeconds = 0, m_prevValue = 0, m_prevPrevValue = 0;

  FlatSeries m_flatSeries;
  detail::FlatRun m_flatRun;
};

/// Every flag of a whole series at once, as an archive holds them: per sample, with the
/// spike test filled in. `seconds` and `values` have the same length (else
/// std::invalid_argument).
std::vector<Flags> checkSeries(const StreamConfig& config, const std::vector<double>& seconds,
                               const std::vector<double>& values);

}  // namespace qc
