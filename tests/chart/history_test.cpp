// The chart's history: what a view draws against a brute-force reading of the points,
// a one-sample spike in a week at every zoom, and the stored points' edge cases.
#include "chart/history.h"

#include <QApplication>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "chart/stripchart.h"

namespace {

using chart::History;
using chart::Point;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool contains(const std::vector<Point>& points, Point p) {
  return std::find(points.begin(), points.end(), p) != points.end();
}

TEST(ChartHistory, EachColumnShowsItsLowestAndHighestPointAsBruteForceFindsThem) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(-50, 50);
  std::uniform_real_distribution<double> step(0.05, 0.15);
  // 7 columns hold thousands of samples each, 300 a couple of hundred, 997 a few dozen:
  // edges on coarse units, on fine units, and exact.
  for (const int columns : {7, 300, 997}) {
    History history;
    history.setChannelCount(2);
    struct Stored {
      int64_t index;
      Point p;
    };
    std::vector<Stored> all;  // channel 1, as stored (float), with its entry
    double x = 1000;
    for (int i = 0; i < 60000; ++i, x += step(random)) {
      history.add(0, x, value(random));
      if (i % 3 != 0) {  // channel 1 skips every third sample
        const Point p{x, double(float(value(random)))};
        history.add(1, p.x, p.y);
        all.push_back({i, p});
      }
    }
    // A view that cuts into the data at both ends.
    const double lo = all[1234].p.x + 0.01, hi = all[39000].p.x - 0.01;
    const History::View view = history.view(lo, hi, columns);
    ASSERT_EQ(view.parts.size(), 1u);
    const std::vector<int64_t>& edges = view.parts[0].edges;
    ASSERT_EQ(edges.size(), size_t(columns) + 1);
    std::vector<Point> drawn;
    double yLo = 1e9, yHi = -1e9;
    history.visible(view, 1, drawn, yLo, yHi);
    double bruteLo = 1e9, bruteHi = -1e9;
    const double width = (hi - lo) / columns;
    for (int j = 0; j < columns; ++j) {
      const Point* low = nullptr;
      const Point* high = nullptr;
      for (const Stored& s : all) {
        if (s.index < edges[size_t(j)] || s.index >= edges[size_t(j) + 1]) continue;
        if (!low || s.p.y < low->y) low = &s.p;
        if (!high || s.p.y > high->y) high = &s.p;
        // An edge moved to a summary unit stays within half a unit (in X) of the exact one.
        EXPECT_GE(s.p.x, lo + width * j - 128 * 0.15) << "column " << j;
        EXPECT_LT(s.p.x, lo + width * (j + 1) + 128 * 0.15) << "column " << j;
      }
      if (!low) continue;
      EXPECT_TRUE(contains(drawn, *low)) << "column " << j << " of " << columns;
      EXPECT_TRUE(contains(drawn, *high)) << "column " << j << " of " << columns;
      bruteLo = std::min(bruteLo, low->y), bruteHi = std::max(bruteHi, high->y);
    }
    EXPECT_EQ(yLo, bruteLo);
    EXPECT_EQ(yHi, bruteHi);
    EXPECT_LE(drawn.size(), size_t(2 * columns + 2));
    EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end(), [](Point a, Point b) { return a.x < b.x; }));
    // One point beyond each edge, so the line reaches the border.
    EXPECT_LT(drawn.front().x, lo);
    EXPECT_GT(drawn.back().x, hi);
    // The extremes of any stretch, against brute force.
    for (int k = 0; k < 50; ++k) {
      const double from = std::uniform_real_distribution<double>(lo, hi)(random);
      const double to = from + std::uniform_real_distribution<double>(0, 2000)(random);
      float bLo = 1e9f, bHi = -1e9f;
      for (const Stored& s : all)
        if (s.p.x >= from && s.p.x < to) bLo = std::min(bLo, float(s.p.y)), bHi = std::max(bHi, float(s.p.y));
      const History::Extremes e = history.extremes(1, from, to);
      ASSERT_EQ(e.found, bLo <= bHi);
      if (!e.found) continue;
      EXPECT_EQ(e.low.y, bLo);
      EXPECT_EQ(e.high.y, bHi);
    }
  }
}

TEST(ChartHistory, StoresGapsMissingValuesAndRestartsOfTheCount) {
  History history;
  history.setChannelCount(2);
  // A gap of a day between two stretches, a channel without values in between, values
  // that are not finite (ignored), then the count starting again from 1.
  for (int i = 0; i < 100; ++i) history.add(0, i, i);
  for (int i = 0; i < 100; ++i) {
    history.add(0, 86400 + i, -i);
    if (i % 10 == 0) history.add(1, 86400 + i, 5);
  }
  EXPECT_FALSE(history.add(0, kNaN, 1));
  EXPECT_FALSE(history.add(0, 1e9, std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(history.add(2, 1, 1));
  EXPECT_EQ(history.size(), 200u);
  EXPECT_EQ(history.pointCount(1), 10u);
  EXPECT_EQ(history.runCount(), 1u);
  for (int i = 1; i <= 50; ++i) history.add(0, i, 1000 + i);
  EXPECT_EQ(history.runCount(), 2u);
  double lo = 0, hi = 0;
  ASSERT_TRUE(history.xExtent(lo, hi));
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 86499);

  // In the gap only the line across it is drawn: the last point before, the first after.
  std::vector<Point> drawn;
  double yLo = 1e9, yHi = -1e9;
  history.visible(0, 200, 80000, 500, drawn, yLo, yHi);
  EXPECT_EQ(drawn, (std::vector<Point>{{99, 99}, {86400, 0}}));
  EXPECT_EQ(yLo, 1e9) << "nothing in view";
  // Both runs show where they overlap the view, each in its order.
  drawn.clear();
  history.visible(0, 10, 20, 500, drawn, yLo, yHi);
  EXPECT_TRUE(contains(drawn, {10, 10}) && contains(drawn, {20, 1020}));
  EXPECT_EQ(yLo, 10);
  EXPECT_EQ(yHi, 1020);
  // The sparse channel draws its own points only.
  drawn.clear();
  history.visible(1, 86400, 86499, 500, drawn, yLo, yHi);
  EXPECT_EQ(drawn.size(), 10u);

  // Dropping the oldest entries keeps the counts and the runs right.
  history.setLimit(60);
  EXPECT_EQ(history.size(), 60u);
  EXPECT_EQ(history.pointCount(1), 1u);  // x 86490 is among the newest 60
  EXPECT_EQ(history.runCount(), 2u);
  history.setLimit(50);
  EXPECT_EQ(history.runCount(), 1u);
  ASSERT_TRUE(history.xExtent(lo, hi));
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 50);
}

TEST(ChartHistory, HugeValuesAreKeptAtTheFloatLimitsAndDoublesKeepTheirX) {
  History history;
  history.setChannelCount(1);
  history.add(0, 1.7e9 + 0.125, 1e300);
  history.add(0, 1.7e9 + 0.250, -1e300);
  std::vector<Point> drawn;
  double yLo = 0, yHi = 0;
  history.visible(0, 1.7e9, 1.7e9 + 1, 100, drawn, yLo, yHi);
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[0].x, 1.7e9 + 0.125);
  EXPECT_EQ(drawn[0].y, double(std::numeric_limits<float>::max()));
  EXPECT_EQ(drawn[1].y, -double(std::numeric_limits<float>::max()));
}

// Through the real chart: a spike of one sample in a week at 10 Hz is among the points
// drawn at every zoom from the whole week down to a minute, wherever it lies in the view.
TEST(ChartHistoryWeek, AOneSampleSpikeIsDrawnAtEveryZoom) {
  chart::StripChart strip;
  strip.resize(900, 500);
  strip.show();
  QApplication::processEvents();
  strip.AddChannel();
  const long samples = 7L * 86400 * 10;
  const long spikeAt = 4321987;
  for (long i = 0; i < samples; ++i)
    strip.AddXY(0, double(i), i == spikeAt ? 900.0 : 100.0 + double(i % 13));
  strip.showAll();
  strip.redrawNow();
  auto spikeDrawn = [&] {
    for (const QPointF& p : strip.series(0)->points())
      if (p == QPointF(double(spikeAt), 900.0)) return true;
    return false;
  };
  EXPECT_TRUE(spikeDrawn()) << "whole week";
  EXPECT_GE(strip.yAxis()->max(), 900.0);
  for (double span = samples / 3.0; span >= 600; span /= 3.7) {
    for (const double where : {0.01, 0.5, 0.97}) {
      const double lo = spikeAt - where * span;
      strip.xAxis()->setRange(lo, lo + span);
      strip.redrawNow();
      EXPECT_TRUE(spikeDrawn()) << "span " << span << " at " << where;
      EXPECT_LE(strip.series(0)->count(), 2 * 900 + 4);
    }
  }
}

}  // namespace

TEST(ChartHistory, TimeIsASecondXWithRunsOfItsOwn) {
  History history;
  history.setChannelCount(1);
  // Counts 1..10 one second apart, a break (a replay), counts 11..15 at earlier times.
  for (int i = 1; i <= 10; ++i) history.add(0, i, i, 1000 + i);
  history.breakRun();
  for (int i = 11; i <= 15; ++i) history.add(0, i, i, 500 + i);
  EXPECT_EQ(history.runCount(), 2u) << "the break starts a run though the count goes on";
  history.setUseTime(true);
  EXPECT_EQ(history.runCount(), 2u);
  double lo = 0, hi = 0;
  ASSERT_TRUE(history.xExtent(lo, hi));
  EXPECT_EQ(lo, 511);
  EXPECT_EQ(hi, 1010);
  std::vector<Point> drawn;
  std::vector<size_t> runStarts;
  double yLo = 1e9, yHi = -1e9;
  history.visible(history.view(0, 2000, 100), 0, drawn, yLo, yHi, &runStarts);
  EXPECT_EQ(runStarts, (std::vector<size_t>{0, 10}));
  EXPECT_EQ(drawn.front(), (Point{1001, 1}));
  EXPECT_EQ(drawn[10], (Point{511, 11}));
  Point near;
  ASSERT_TRUE(history.nearest(0, 1004.4, 1, near));
  EXPECT_EQ(near, (Point{1004, 4}));
  EXPECT_FALSE(history.nearest(0, 800, 10, near)) << "nothing within reach";
  history.setUseTime(false);
  ASSERT_TRUE(history.nearest(0, 12.2, 1, near));
  EXPECT_EQ(near, (Point{12, 12}));
  // Without a time an entry's time is its X.
  history.add(0, 16, 16);
  history.setUseTime(true);
  ASSERT_TRUE(history.xExtent(lo, hi));
  EXPECT_EQ(lo, 16);
}
