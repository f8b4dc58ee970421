#include "chart/history.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace chart {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

/// A finite double as the nearest float, huge values held at the float's limits.
float toFloat(double y) {
  constexpr double kMax = std::numeric_limits<float>::max();
  return static_cast<float>(std::clamp(y, -kMax, kMax));
}

}  // namespace

/// One channel's values in one chunk, with their summaries: the lowest and highest value
/// of every kFine and kCoarse entries and of the chunk, each with where it is (the first
/// of equal values), so that finding an extreme's point needs no search.
struct History::Block {
  static constexpr size_t kFines = kChunk / kFine, kCoarses = kChunk / kCoarse;
  struct Span {
    float lo = kInf, hi = -kInf;
  };
  float values[kChunk];
  // The summaries lie together, lows beside highs, so that a column's worth of them is a
  // few cache lines; where each extreme is comes apart, read only for the winner.
  Span fine[kFines];
  Span coarse[kCoarses];
  Span whole;
  uint8_t fineAt[kFines];  ///< offsets within the fine unit: low in bits 0..3, high in 4..7
  uint8_t coarseLoAt[kCoarses], coarseHiAt[kCoarses];  ///< offsets within the coarse unit
  uint16_t loAt = 0, hiAt = 0;                          ///< offsets within the chunk

  Block() {
    std::fill(std::begin(values), std::end(values), kNaN);
    std::fill(std::begin(fineAt), std::end(fineAt), uint8_t(0));
    std::fill(std::begin(coarseLoAt), std::end(coarseLoAt), uint8_t(0));
    std::fill(std::begin(coarseHiAt), std::end(coarseHiAt), uint8_t(0));
  }
  /// Values are set in the order of their offsets, so a strictly lower (higher) value is
  /// the one to remember.
  void set(size_t at, float v) {
    values[at] = v;
    const size_t f = at / kFine, c = at / kCoarse;
    if (v < fine[f].lo) fine[f].lo = v, fineAt[f] = uint8_t((fineAt[f] & 0xf0) | (at % kFine));
    if (v > fine[f].hi) fine[f].hi = v, fineAt[f] = uint8_t((fineAt[f] & 0x0f) | ((at % kFine) << 4));
    if (v < coarse[c].lo) coarse[c].lo = v, coarseLoAt[c] = uint8_t(at % kCoarse);
    if (v > coarse[c].hi) coarse[c].hi = v, coarseHiAt[c] = uint8_t(at % kCoarse);
    if (v < whole.lo) whole.lo = v, loAt = uint16_t(at);
    if (v > whole.hi) whole.hi = v, hiAt = uint16_t(at);
  }
  /// Where the low (high) of the unit of `length` entries starting at `at` is.
  size_t extremeAt(size_t at, size_t length, bool low) const {
    if (length == kChunk) return low ? loAt : hiAt;
    if (length == kCoarse) return at + (low ? coarseLoAt[at / kCoarse] : coarseHiAt[at / kCoarse]);
    if (length == kFine) return at + (low ? fineAt[at / kFine] & 0x0f : fineAt[at / kFine] >> 4);
    return at;
  }
};

struct History::Chunk {
  double x[kChunk];
  double time[kChunk];
  std::vector<std::unique_ptr<Block>> blocks;  ///< per channel; null: no value here

  const Block* block(int channel) const {
    return size_t(channel) < blocks.size() ? blocks[size_t(channel)].get() : nullptr;
  }
};

History::History() = default;
History::~History() = default;

void History::setChannelCount(int channels) {
  channels = std::max(0, channels);
  const bool fewer = channels < m_channels;
  m_channels = channels;
  if (fewer) {
    clear();
    return;
  }
  // New channels have no value anywhere yet; the blocks of a chunk grow when used.
  m_counts.resize(size_t(m_channels), 0);
  m_filled.resize(size_t(m_channels), false);
}

void History::clear() {
  m_chunks.clear();
  m_firstChunk = 0;
  m_front = m_end = 0;
  m_runStarts.clear();
  m_timeRunStarts.clear();
  m_breakNext = false;
  m_counts.assign(size_t(m_channels), 0);
  m_filled.assign(size_t(m_channels), false);
  m_lastX = 0;
}

History::Chunk& History::chunkOf(int64_t index) const {
  return *m_chunks[size_t(index / int64_t(kChunk) - m_firstChunk)];
}

double History::xAt(int64_t index) const {
  const Chunk& chunk = chunkOf(index);
  const size_t at = size_t(index % int64_t(kChunk));
  return m_useTime ? chunk.time[at] : chunk.x[at];
}

void History::breakRun() { m_breakNext = true; }

void History::setUseTime(bool on) { m_useTime = on; }

float History::valueAt(int channel, int64_t index) const {
  const Block* b = chunkOf(index).block(channel);
  return b ? b->values[size_t(index % int64_t(kChunk))] : kNaN;
}

bool History::add(int channel, double x, double y, double time) {
  if (channel < 0 || channel >= m_channels || !std::isfinite(x) || !std::isfinite(y)) return false;
  if (empty() || m_breakNext || x != m_lastX || m_filled[size_t(channel)]) openEntry(x, std::isfinite(time) ? time : x);
  Chunk& chunk = chunkOf(m_end - 1);
  if (chunk.blocks.size() <= size_t(channel)) chunk.blocks.resize(size_t(m_channels));
  auto& block = chunk.blocks[size_t(channel)];
  if (!block) block = std::make_unique<Block>();
  block->set(size_t((m_end - 1) % int64_t(kChunk)), toFloat(y));
  m_filled[size_t(channel)] = true;
  ++m_counts[size_t(channel)];
  return true;
}

void History::openEntry(double x, double time) {
  if (!empty() && (m_breakNext || x < m_lastX)) m_runStarts.push_back(m_end);
  if (!empty() && (m_breakNext || time < m_lastTime)) m_timeRunStarts.push_back(m_end);
  m_breakNext = false;
  if (m_end == (m_firstChunk + int64_t(m_chunks.size())) * int64_t(kChunk)) {
    auto chunk = std::make_unique<Chunk>();
    chunk->blocks.resize(size_t(m_channels));
    m_chunks.push_back(std::move(chunk));
  }
  chunkOf(m_end).x[size_t(m_end % int64_t(kChunk))] = x;
  chunkOf(m_end).time[size_t(m_end % int64_t(kChunk))] = time;
  ++m_end;
  m_lastX = x;
  m_lastTime = time;
  std::fill(m_filled.begin(), m_filled.end(), false);
  while (size() > m_limit) dropOldest();
}

void History::dropOldest() {
  for (int c = 0; c < m_channels; ++c)
    if (!std::isnan(valueAt(c, m_front))) --m_counts[size_t(c)];
  ++m_front;
  if (m_front % int64_t(kChunk) == 0) {
    m_chunks.erase(m_chunks.begin());  // a few thousand pointers at most, once per chunk
    ++m_firstChunk;
  }
  for (auto* starts : {&m_runStarts, &m_timeRunStarts})
    while (!starts->empty() && starts->front() <= m_front) starts->pop_front();
}

size_t History::pointCount(int channel) const {
  return channel >= 0 && channel < m_channels ? m_counts[size_t(channel)] : 0;
}

void History::setLimit(size_t entries) {
  m_limit = std::max<size_t>(entries, 2);
  while (size() > m_limit) dropOldest();
}

size_t History::runCount() const {
  return empty() ? 0 : (m_useTime ? m_timeRunStarts : m_runStarts).size() + 1;
}

std::vector<History::Run> History::runs() const {
  std::vector<Run> out;
  if (empty()) return out;
  int64_t begin = m_front;
  for (int64_t start : m_useTime ? m_timeRunStarts : m_runStarts) {
    out.push_back({begin, start});
    begin = start;
  }
  out.push_back({begin, m_end});
  return out;
}

bool History::xExtent(double& lo, double& hi) const {
  if (empty()) return false;
  lo = std::numeric_limits<double>::infinity();
  hi = -lo;
  for (const Run& run : runs()) {
    lo = std::min(lo, xAt(run.begin));
    hi = std::max(hi, xAt(run.end - 1));
  }
  return true;
}

int64_t History::lowerBound(const Run& run, double x, bool strict) const {
  int64_t lo = run.begin, hi = run.end;
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    const double v = xAt(mid);
    if (strict ? v <= x : v < x) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

History::Extreme History::extreme(int channel, int64_t begin, int64_t end) const {
  Extreme e{kInf, -kInf};
  // The unit that holds the best low / high so far: its block, chunk, offset and length.
  struct Unit {
    const Block* block = nullptr;
    int64_t chunkStart = 0;
    size_t at = 0, length = 0;
  } low, high;
  int64_t i = begin;
  while (i < end) {
    const int64_t chunkStart = i - i % int64_t(kChunk);
    const size_t stop = size_t(std::min(end, chunkStart + int64_t(kChunk)) - chunkStart);
    size_t at = size_t(i - chunkStart);
    i = chunkStart + int64_t(stop);
    const Block* b = chunkOf(chunkStart).block(channel);
    if (!b) continue;
    // Strict comparisons: of equal values the first one is kept. NaN compares false.
    auto take = [&](float l, float h, size_t length) {
      if (l < e.lo) e.lo = l, low = {b, chunkStart, at, length};
      if (h > e.hi) e.hi = h, high = {b, chunkStart, at, length};
    };
    auto raw = [&](size_t to) {
      for (; at < to; ++at) take(b->values[at], b->values[at], 1);
    };
    auto fines = [&](size_t to) {
      for (; at + kFine <= to; at += kFine) take(b->fine[at / kFine].lo, b->fine[at / kFine].hi, kFine);
    };
    if (at == 0 && stop == kChunk) {
      take(b->whole.lo, b->whole.hi, kChunk);
      continue;
    }
    // Up the levels to the first coarse boundary, across, and down again to the end.
    raw(std::min(stop, (at + kFine - 1) / kFine * kFine));
    fines(std::min(stop, (at + kCoarse - 1) / kCoarse * kCoarse));
    for (; at + kCoarse <= stop; at += kCoarse) take(b->coarse[at / kCoarse].lo, b->coarse[at / kCoarse].hi, kCoarse);
    fines(stop);
    raw(stop);
  }
  if (low.block) e.loAt = low.chunkStart + int64_t(low.block->extremeAt(low.at, low.length, true));
  if (high.block) e.hiAt = high.chunkStart + int64_t(high.block->extremeAt(high.at, high.length, false));
  return e;
}

History::Extremes History::extremes(int channel, double xLo, double xHi) const {
  Extremes out;
  if (channel < 0 || channel >= m_channels) return out;
  for (const Run& run : runs()) {
    const Extreme e = extreme(channel, lowerBound(run, xLo, false), lowerBound(run, xHi, false));
    if (e.loAt < 0) continue;
    if (!out.found || e.lo < out.low.y) out.low = {xAt(e.loAt), e.lo};
    if (!out.found || e.hi > out.high.y) out.high = {xAt(e.hiAt), e.hi};
    out.found = true;
  }
  return out;
}

int64_t History::seek(const Run& run, double x) const {
  if (run.begin >= run.end) return run.begin;
  const double x0 = xAt(run.begin), x1 = xAt(run.end - 1);
  if (!(x > x0)) return run.begin;
  if (x > x1) return run.end;
  const double guess = double(run.end - 1 - run.begin) * (x - x0) / (x1 - x0);
  int64_t at = run.begin + std::clamp<int64_t>(int64_t(guess), 0, run.end - 1 - run.begin);
  // Widen a bracket [lo, hi) around the guess until xAt(lo) < x <= xAt(hi), then halve it.
  int64_t lo = at, hi = at, step = 1;
  if (xAt(at) < x) {
    while (hi < run.end && xAt(hi) < x) lo = hi, hi = std::min(run.end, hi + step), step *= 2;
  } else {
    while (lo > run.begin && !(xAt(lo) < x)) hi = lo, lo = std::max(run.begin, lo - step), step *= 2;
    if (!(xAt(lo) < x)) return lo;
  }
  return lowerBound({lo + 1, hi}, x, false);
}

History::View History::view(double xLo, double xHi, int columns) const {
  View v;
  if (!(xHi >= xLo)) return v;
  columns = std::max(columns, 1);
  for (const Run& run : runs()) {
    View::Part part{run, lowerBound(run, xLo, false), lowerBound(run, xHi, true), {}};
    if (part.b - part.a > 2 * int64_t(columns)) {
      // Column j holds the X in [xLo + j w, xLo + (j + 1) w); the last one takes xHi too.
      const double width = (xHi - xLo) / double(columns);
      part.edges.reserve(size_t(columns) + 1);
      part.edges.push_back(part.a);
      for (int j = 1; j < columns; ++j)
        part.edges.push_back(std::max(part.edges.back(), seek({part.edges.back(), part.b}, xLo + width * j)));
      part.edges.push_back(part.b);
      // Where a column holds hundreds of samples its edges move to the nearest summary unit
      // (by at most half a unit, a fraction of a pixel): a column is then read from the
      // summaries alone, a few cache lines instead of a few dozen.
      const int64_t perColumn = (part.b - part.a) / columns;
      const int64_t unit = perColumn >= 4 * int64_t(kCoarse) ? int64_t(kCoarse)
                           : perColumn >= 4 * int64_t(kFine) ? int64_t(kFine)
                                                             : 1;
      for (size_t j = 1; unit > 1 && j + 1 < part.edges.size(); ++j) {
        const int64_t snapped = (part.edges[j] + unit / 2) / unit * unit;
        part.edges[j] = std::clamp(snapped, part.edges[j - 1], part.b);
      }
    }
    v.parts.push_back(std::move(part));
  }
  return v;
}

void History::visible(const View& view, int channel, std::vector<Point>& out, double& yLo, double& yHi,
                      std::vector<size_t>* runStarts) const {
  if (channel < 0 || channel >= m_channels) return;
  auto push = [&](int64_t i, float v, bool inView) {
    out.push_back({xAt(i), v});
    if (inView) yLo = std::min(yLo, double(v)), yHi = std::max(yHi, double(v));
  };
  // The nearest value within a chunk's length of `from`, going back (step -1) or on.
  auto nearest = [&](const Run& run, int64_t from, int step) -> int64_t {
    for (int64_t i = from, n = 0; i >= run.begin && i < run.end && n < int64_t(kChunk); i += step, ++n)
      if (!std::isnan(valueAt(channel, i))) return i;
    return -1;
  };
  for (const View::Part& part : view.parts) {
    const int64_t a = part.a, b = part.b;
    const int64_t before = a > part.run.begin ? nearest(part.run, a - 1, -1) : -1;
    const int64_t after = b < part.run.end ? nearest(part.run, b, +1) : -1;
    if (a == b && (before < 0 || after < 0)) continue;  // nothing in view, no line across it
    if (runStarts) runStarts->push_back(out.size());
    if (before >= 0) push(before, valueAt(channel, before), false);
    if (part.edges.empty()) {
      for (int64_t i = a; i < b; ++i) {
        const float v = valueAt(channel, i);
        if (!std::isnan(v)) push(i, v, true);
      }
    } else {
      for (size_t j = 0; j + 1 < part.edges.size(); ++j) {
        if (part.edges[j] == part.edges[j + 1]) continue;
        const Extreme e = extreme(channel, part.edges[j], part.edges[j + 1]);
        if (e.loAt < 0) continue;
        const bool lowFirst = e.loAt <= e.hiAt;
        push(lowFirst ? e.loAt : e.hiAt, lowFirst ? e.lo : e.hi, true);
        if (e.loAt != e.hiAt) push(lowFirst ? e.hiAt : e.loAt, lowFirst ? e.hi : e.lo, true);
      }
    }
    if (after >= 0) push(after, valueAt(channel, after), false);
  }
}

bool History::nearest(int channel, double x, double reach, Point& found) const {
  if (channel < 0 || channel >= m_channels || !std::isfinite(x)) return false;
  bool any = false;
  for (const Run& run : runs()) {
    const int64_t at = lowerBound(run, x, false);
    // The nearest value on each side, looked for within a chunk's length.
    for (int step : {-1, +1}) {
      for (int64_t i = step < 0 ? at - 1 : at, n = 0; i >= run.begin && i < run.end && n < int64_t(kChunk);
           i += step, ++n) {
        const double d = std::fabs(xAt(i) - x);
        if (d > reach) break;
        const float v = valueAt(channel, i);
        if (std::isnan(v)) continue;
        if (!any || d < std::fabs(found.x - x)) found = {xAt(i), v};
        any = true;
        break;
      }
    }
  }
  return any;
}

size_t History::bytesUsed() const {
  size_t bytes = 0;
  for (const auto& chunk : m_chunks) {
    bytes += sizeof(Chunk) + chunk->blocks.capacity() * sizeof(void*);
    for (const auto& block : chunk->blocks)
      if (block) bytes += sizeof(Block);
  }
  return bytes;
}

}  // namespace chart
