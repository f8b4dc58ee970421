// The plot page's X axis choice: the sample count or the host's time of day.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <vector>

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

TEST_F(TimeAxisPage, EveryPointKeepsItsCountAndHostTimeAcrossSwitches) {
  ASSERT_EQ(chart.ChannelCount(), 2);
  sampleAt(36000.25);
  choose(1);
  EXPECT_TRUE(chart.timeLabels);
  EXPECT_EQ(choices.XAxisChoice, 1);
  sampleAt(36001.75);
  choose(0);
  EXPECT_FALSE(chart.timeLabels);
  sampleAt(36003.0);
  EXPECT_EQ(chart.clearCalls, 0) << "a switch redraws the points kept";
  for (int c = 0; c < 2; ++c) {
    const auto& ch = chart.channels[size_t(c)];
    ASSERT_EQ(ch.points.size(), 3u);
    EXPECT_EQ(ch.points[1].first, 2.0) << "X is the sample count";
    EXPECT_EQ(ch.times, (std::vector<double>{36000.25, 36001.75, 36003.0}));
  }
  EXPECT_EQ(chart.channels[0].points[1].second, 102.0);
  choose(5);  // not an item: nothing changes
  EXPECT_EQ(choices.XAxisChoice, 0);
}

TEST_F(TimeAxisPage, APauseOfSeveralIntervalsOrABreakStartsANewLine) {
  for (int i = 0; i < 20; ++i) sampleAt(100 + 0.5 * i);  // 2 Hz, with the interval learnt
  sampleAt(111.5);                                       // 2 s late: within a few intervals
  EXPECT_EQ(chart.lineBreaks, 0);
  sampleAt(116.0);  // 4.5 s: a gap
  EXPECT_EQ(chart.lineBreaks, 1);
  sampleAt(116.5);
  page.BreakLine();  // a replay or a new connection
  sampleAt(116.5);
  EXPECT_EQ(chart.lineBreaks, 2);
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
