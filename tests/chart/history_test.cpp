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
  for (const int columns : {7, 300, 997}) {
    History history;
    history.setChannelCount(2);
    std::vector<Point> all;  // channel 1, as stored (float)
    double x = 1000;
    for (int i = 0; i < 60000; ++i, x += step(random)) {
      history.add(0, x, value(random));
      if (i % 3 != 0) {  // channel 1 skips every third sample
        const Point p{x, double(float(value(random)))};
        history.add(1, p.x, p.y);
        all.push_back(p);
      }
    }
    // A view that cuts into the data at both ends.
    const double lo = all[1234].x + 0.01, hi = all[39000].x - 0.01;
    std::vector<Point> drawn;
    double yLo = 1e9, yHi = -1e9;
    history.visible(1, lo, hi, columns, drawn, yLo, yHi);
    const double width = (hi - lo) / columns;
    double bruteLo = 1e9, bruteHi = -1e9;
    for (int j = 0; j < columns; ++j) {
      const double from = lo + width * j, to = lo + width * (j + 1);
      const Point* low = nullptr;
      const Point* high = nullptr;
      for (const Point& p : all) {
        if (p.x < from || (j + 1 < columns ? p.x >= to : p.x > hi)) continue;
        if (!low || p.y < low->y) low = &p;
        if (!high || p.y > high->y) high = &p;
      }
      if (!low) continue;
      EXPECT_TRUE(contains(drawn, *low)) << "column " << j << " of " << columns;
      EXPECT_TRUE(contains(drawn, *high)) << "column " << j << " of " << columns;
      bruteLo = std::min(bruteLo, low->y), bruteHi = std::max(bruteHi, high->y);
      const History::Extremes e = history.extremes(1, from, to);
      ASSERT_TRUE(e.found);
      EXPECT_EQ(e.low.y, low->y);
      EXPECT_EQ(e.high.y, high->y);
    }
    EXPECT_EQ(yLo, bruteLo);
    EXPECT_EQ(yHi, bruteHi);
    EXPECT_LE(drawn.size(), size_t(2 * columns + 2));
    EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end(), [](Point a, Point b) { return a.x < b.x; }));
    // One point beyond each edge, so the line reaches the border.
    EXPECT_LT(drawn.front().x, lo);
    EXPECT_GT(drawn.back().x, hi);
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
