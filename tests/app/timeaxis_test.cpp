// The plot page's X axis choice: the sample count or the host's time of day.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>

#include "app/fakechart.h"
#include "app/plotpage.h"
#include "measure/kinds.h"

namespace {

using apptest::FakeChart;

class TimeAxisPage : public ::testing::Test {
 protected:
  void SetUp() override {
    config.ColumnKind.fill(0);
    config.ColumnKind[0] = measure::KindChl;
    config.ColumnKind[1] = measure::KindCdom;
    config.DataFieldCount = 2;
    page.ResetKindCounters();
    page.UpdatePlotOptions(config.DataFieldCount);
    page.BuildPlotChannels(config.DataFieldCount);
    page.setHostSeconds([this] { return hostSeconds; });
  }
  void sampleAt(double seconds) {
    hostSeconds = seconds;
    sample.ElapsedSample += 1;
    sample.KindCounts[measure::KindChl] = 100 + sample.ElapsedSample;
    sample.KindCounts[measure::KindCdom] = 200 + sample.ElapsedSample;
    page.ShowSampleValues(config.DataFieldCount, 0);
  }
  void choose(int item) {
    view.setItemIndex("XAxisCB", item);
    page.XAxisCBChange();
  }

  FakeChart chart;
  app::ViewModel view;
  measure::DeviceConfig config;
  measure::SampleState sample;
  measure::EngValues eng;
  measure::Statistics stats;
  app::PlotChoices choices;
  bool powerUser = false;
  double hostSeconds = 0;
  app::PlotPage page{chart, view, config, sample, eng, stats, choices, powerUser};
};

TEST_F(TimeAxisPage, PointsTakeTheHostTimeWhileTheTimeAxisIsChosen) {
  ASSERT_EQ(chart.ChannelCount(), 2);
  sampleAt(1000.5);
  EXPECT_EQ(chart.channels[0].points.back().first, 1.0);  // the sample count by default
  EXPECT_FALSE(chart.timeLabels);

  const int clears = chart.clearCalls;
  choose(1);
  EXPECT_TRUE(chart.timeLabels);
  EXPECT_EQ(choices.XAxisChoice, 1);
  EXPECT_EQ(chart.clearCalls, clears + 1);  // the earlier points meant counts
  EXPECT_TRUE(chart.channels[0].points.empty());
  sampleAt(36000.25);
  sampleAt(36001.75);
  for (int c = 0; c < 2; ++c) {
    ASSERT_EQ(chart.channels[size_t(c)].points.size(), 2u);
    EXPECT_EQ(chart.channels[size_t(c)].points[0].first, 36000.25);
    EXPECT_EQ(chart.channels[size_t(c)].points[1].first, 36001.75);
  }
  EXPECT_EQ(chart.channels[0].points[1].second, 103.0);  // y as before

  choose(0);
  EXPECT_FALSE(chart.timeLabels);
  sampleAt(36003.0);
  EXPECT_EQ(chart.channels[0].points.back().first, 4.0);

  choose(5);  // not an item: nothing changes
  EXPECT_EQ(choices.XAxisChoice, 0);
}

TEST(LocalSeconds, ModuloADayIsTheLocalTimeOfDayWithItsMilliseconds) {
  using namespace std::chrono;
  for (const long long utc : {0LL, 1715681000LL, 1735689599LL, 1782900000LL}) {
    const auto t = system_clock::time_point(seconds(utc)) + milliseconds(375);
    const std::time_t whole = static_cast<std::time_t>(utc);
    std::tm local{};
    localtime_r(&whole, &local);
    const double ofDay = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + 0.375;
    double got = std::fmod(app::LocalSeconds(t), 86400.0);
    if (got < 0) got += 86400.0;
    EXPECT_DOUBLE_EQ(got, ofDay) << utc;
  }
}

}  // namespace
