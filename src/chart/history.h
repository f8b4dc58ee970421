#pragma once
// Every point of a chart's channels for a whole deployment, in compact storage, with
// the lowest and highest value of any stretch found in a few steps.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

namespace chart {

/// One point of a channel.
struct Point {
  double x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

/// The points of all channels of a chart on one shared X base.
///
/// Points come in as (channel, x, y). The channels of one sample share their X: a point
/// whose X equals the newest entry's and whose channel has no value there yet fills that
/// entry; any other point opens a new entry. So each entry costs one X and one value per
/// channel, whatever the number of channels that report at it; a channel without a value
/// at an entry holds NaN there, and is simply not drawn there.
///
/// Storage comes in chunks of kChunk entries: X and a second X, the entry's time, as
/// double (exact: sample counts and times compare as given), values as float, each channel's block allocated only once the
/// channel has a value in the chunk.
/// Beside the values each block keeps the lowest and highest value (and where it is) of
/// every kFine and kCoarse entries and of the whole chunk, so the extremes of any stretch
/// cost at most about 2 x 3 x 16 steps, and appending costs O(1): nothing is ever moved
/// or copied.
///
/// X normally only grows. Where it goes down (the count started again, the clock was set
/// back) a new run begins; each run is searched on its own and drawn after the ones
/// before it.
///
/// At most limit() entries are kept; beyond it the oldest are dropped.
class History {
 public:
  static constexpr size_t kChunk = 4096;
  static constexpr size_t kFine = 16;
  static constexpr size_t kCoarse = 256;
  /// Eight days at 10 samples a second.
  static constexpr size_t kDefaultLimit = 8 * 86400 * 10;

  History();
  ~History();
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  /// Sets the number of channels: more keeps the points, fewer drops them all.
  void setChannelCount(int channels);
  int channelCount() const { return m_channels; }
  /// Drops every point; the channels stay.
  void clear();
  /// Adds a point; false (and nothing kept) for a channel out of range or a non-finite
  /// X or Y. `time` is the entry's second X (kept when the point opens an entry; NaN: X
  /// itself), the one drawn against while useTime() is on.
  bool add(int channel, double x, double y, double time = std::numeric_limits<double>::quiet_NaN());
  /// The next point opens a new entry that starts a run of its own (a gap, a replay): the
  /// line is not drawn across.
  void breakRun();
  /// Whether searches and views go by each entry's time instead of its X. Runs start
  /// where the chosen one goes down and at every break.
  void setUseTime(bool on);
  bool useTime() const { return m_useTime; }

  /// Entries kept (samples, over all channels).
  size_t size() const { return size_t(m_end - m_front); }
  bool empty() const { return m_end == m_front; }
  /// Points kept of one channel.
  size_t pointCount(int channel) const;
  size_t limit() const { return m_limit; }
  /// At least 2; drops the oldest entries beyond it.
  void setLimit(size_t entries);
  /// Number of runs of growing X kept (1 unless X went down).
  size_t runCount() const;

  /// The smallest and largest X kept; false when empty.
  bool xExtent(double& lo, double& hi) const;

  /// [begin, end) of absolute entry indexes, X growing.
  struct Run {
    int64_t begin, end;
  };
  /// The X range [xLo, xHi] cut into pixel columns, found once for all channels: per run,
  /// the entries in range [a, b) and, when there are more than two per column, where each
  /// column starts (column j holds the X in [xLo + j w, xLo + (j + 1) w), the last one
  /// xHi too; where a column holds 64 samples or more its inner edges are moved to the
  /// nearest multiple of kFine, from 1024 on of kCoarse). Valid until the next add.
  struct View {
    struct Part {
      Run run;
      int64_t a = 0, b = 0;
      std::vector<int64_t> edges;  ///< columns + 1 entries; empty: every point is shown
    };
    std::vector<Part> parts;
  };
  View view(double xLo, double xHi, int columns) const;

  /// What `channel` shows of a view, appended to `out` run by run: all its points when they
  /// are at most two per column, else, for each column, its lowest and its highest point
  /// in the order they came. One point beyond each edge is added (when there is one
  /// nearby) so the line runs to the border. yLo / yHi are widened by the values in range.
  /// `runStarts`, when given, gets the index in `out` where each run's points begin.
  void visible(const View& view, int channel, std::vector<Point>& out, double& yLo, double& yHi,
               std::vector<size_t>* runStarts = nullptr) const;
  /// The point of `channel` nearest to `x` (in the X in use) within `reach` of it;
  /// false when there is none.
  bool nearest(int channel, double x, double reach, Point& found) const;
  /// The same for one channel alone.
  void visible(int channel, double xLo, double xHi, int columns, std::vector<Point>& out, double& yLo,
               double& yHi) const {
    visible(view(xLo, xHi, columns), channel, out, yLo, yHi);
  }

  /// The lowest and highest point of `channel` with X in [xLo, xHi) within each run;
  /// `found` false when the channel has no point there. For tests and tools.
  struct Extremes {
    bool found = false;
    Point low, high;
  };
  Extremes extremes(int channel, double xLo, double xHi) const;

  /// Bytes held by the stored points (chunks and their summaries).
  size_t bytesUsed() const;

 private:
  struct Block;
  struct Chunk;
  /// The lowest / highest value of a stretch and where it is.
  struct Extreme {
    float lo, hi;
    int64_t loAt = -1, hiAt = -1;
  };

  Chunk& chunkOf(int64_t index) const;
  /// The X in use (the entry's X or its time).
  double xAt(int64_t index) const;
  /// NaN when the channel has no value at `index`.
  float valueAt(int channel, int64_t index) const;
  void openEntry(double x, double time);
  void dropOldest();
  std::vector<Run> runs() const;
  /// First index in [run.begin, run.end) whose X is >= x (strict: > x).
  int64_t lowerBound(const Run& run, double x, bool strict) const;
  /// The same, starting near where evenly spaced X would put it and widening from there:
  /// few steps, all close together in memory.
  int64_t seek(const Run& run, double x) const;
  Extreme extreme(int channel, int64_t begin, int64_t end) const;

  int m_channels = 0;
  size_t m_limit = kDefaultLimit;
  /// A vector, not a deque: finding an entry's chunk is one index, and it is done for
  /// every point drawn.
  std::vector<std::unique_ptr<Chunk>> m_chunks;
  int64_t m_firstChunk = 0;           ///< absolute number of m_chunks.front()
  int64_t m_front = 0, m_end = 0;     ///< live entries [m_front, m_end), absolute
  std::deque<int64_t> m_runStarts;    ///< indexes where X went down or a break was asked, ascending
  std::deque<int64_t> m_timeRunStarts;  ///< the same for the time
  bool m_useTime = false;
  bool m_breakNext = false;
  double m_lastTime = 0;
  std::vector<size_t> m_counts;       ///< points per channel
  std::vector<bool> m_filled;         ///< per channel: has a value at the newest entry
  double m_lastX = 0;
};

}  // namespace chart
