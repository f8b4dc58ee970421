// The plot page against a recording chart: channels, titles and points per sample,
// option boxes and their handlers, and the X axis (the sample count or the host's time of day).
#include "app/plotpage.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/fakechart.h"
#include "measure/engunits.h"
#include "measure/kinds.h"
#include "measure/kindtable.h"

namespace {

using apptest::FakeChart;
using namespace measure;

class PlotPageTest : public ::testing::Test {
 protected:
  /// Columns 0.. of the device file, by kind.
  void columns(std::initializer_list<int> kinds) {
    config.ColumnKind.fill(0);
    int c = 0;
    for (int k : kinds) config.ColumnKind[size_t(c++)] = k;
    config.DataFieldCount = c;
  }
  /// What a device-file load and the next receive tick do.
  void load(std::initializer_list<int> kinds) {
    columns(kinds);
    page.ResetKindCounters();
    page.UpdatePlotOptions(config.DataFieldCount);
    page.BuildPlotChannels(config.DataFieldCount);
  }
  void sampleOnce(int plotType) {
    sample.ElapsedSample += 1;
    page.ShowSampleValues(config.DataFieldCount, plotType);
  }
  const apptest::FakeChannel& channel(int c) { return chart.channels.at(size_t(c)); }

  FakeChart chart;
  app::ViewModel view;
  DeviceConfig config;
  SampleState sample;
  EngValues eng;
  Statistics stats;
  app::PlotChoices choices;
  bool powerUser = false;
  app::PlotPage page{chart, view, config, sample, eng, stats, choices, powerUser};
};

TEST_F(PlotPageTest, DateTimeTwoBackscatterAndChlGiveThreeChannels) {
  config.KindWavelength[7] = 470;
  config.KindWavelength[8] = 532;
  config.KindColour[7] = 0x00FF0000;
  config.KindColour[8] = 0x0000FF00;
  load({KindDate, KindTime, 7, 8, KindChl});
  ASSERT_EQ(chart.ChannelCount(), 3);
  EXPECT_EQ(chart.removeAllCalls, 1);
  const std::array<int, 5> expected{0, 0, 0, 1, 2};
  for (size_t c = 0; c < expected.size(); ++c) EXPECT_EQ(page.ColumnChannel()[c], expected[c]) << c;
  EXPECT_EQ(channel(0).title, "470 nm");
  EXPECT_EQ(channel(0).colour, 0x00FF0000u);
  EXPECT_EQ(channel(1).title, "532 nm");
  EXPECT_EQ(channel(2).title, "CHL:");
  EXPECT_EQ(channel(2).colour, 0xFF00FFu);

  sample.KindCounts[KindDate] = -2.0;
  sample.KindCounts[KindTime] = -1.0;
  sample.KindCounts[7] = 812;
  sample.ElapsedSample = 41;
  sampleOnce(0);
  // Date and time share channel 0 with the 470 nm column but put nothing on it.
  ASSERT_EQ(channel(0).points.size(), 1u);
  EXPECT_EQ(channel(0).points[0], std::make_pair(42.0, 812.0));
  EXPECT_EQ(channel(0).title, "470 nm: 812 Counts");
  EXPECT_EQ(chart.badChannelCalls, 0);
}

TEST_F(PlotPageTest, ChannelColourAndFirstTitleOfEveryKind) {
  struct Look { uint32_t colour; const char* title; };
  const std::map<int, Look> looks = {
      {52, {0xFFFFFF, "iEngr:"}},   {25, {0xFF00FF, "CHL:"}},       {28, {0x0000FF, "pcyanine:"}},
      {29, {0x008000, "perythrin:"}}, {27, {0x800080, "ur:"}},      {30, {0x800080, "rhodamine:"}},
      {26, {0x800080, "CDOM:"}},    {37, {0xFFFFFF, "LSS:"}},       {53, {0xFFFFFF, "NTU:"}},
      {39, {0x808080, "iTemp:"}},   {40, {0xC0C0C0, "xTemp:"}},     {41, {0xFFFFFF, "Pres:"}},
  };
  for (int k = 0; k < kMaxColumns; ++k) {
    config.KindColour[size_t(k)] = 0x123400u + uint32_t(k);
    config.KindWavelength[size_t(k)] = 400 + k;
    load({k});
    SCOPED_TRACE(k);
    if (isLambda(k)) {
      ASSERT_EQ(chart.ChannelCount(), 1);
      EXPECT_EQ(channel(0).colour, 0x123400u + uint32_t(k));
      EXPECT_EQ(channel(0).title, std::to_string(400 + k) + " nm");
    } else if (auto it = looks.find(k); it != looks.end()) {
      ASSERT_EQ(chart.ChannelCount(), 1);
      EXPECT_EQ(channel(0).colour, it->second.colour);
      EXPECT_EQ(channel(0).title, it->second.title);
    } else {
      EXPECT_EQ(chart.ChannelCount(), 0);
    }
  }
}

TEST_F(PlotPageTest, AllSixtyPositionsAreWalkedAndZeroColumnsLeaveNoChannels) {
  columns({KindChl});
  config.ColumnKind[59] = KindNtu;  // beyond DataFieldCount, still given a channel
  page.BuildPlotChannels(1);
  ASSERT_EQ(chart.ChannelCount(), 2);
  EXPECT_EQ(page.ColumnChannel()[59], 1);
  page.BuildPlotChannels(0);
  EXPECT_EQ(chart.ChannelCount(), 0);
  EXPECT_EQ(page.ColumnChannel()[59], 0);
  EXPECT_EQ(chart.removeAllCalls, 2);
}

TEST_F(PlotPageTest, RawTitlesWithoutPowerUserAreCounts) {
  config.KindWavelength[9] = 70;
  config.IEngrUnits = "ug/l";
  load({9, KindChl, KindCdom, KindUranine, KindPhycocyanin, KindPhycoerythrin, KindRhodamine,
        KindLss, KindNtu, KindITemp, KindXTemp, KindPres, KindIEngr});
  for (int k : {9, 25, 26, 27, 28, 29, 30, 37, 53, 39, 40, 41, 52}) sample.KindCounts[size_t(k)] = 1234.25 + k;
  choices.StdDevWindow = 15;  // no effect without power-user rights
  sampleOnce(0);
  const char* expected[] = {" 70 nm: 1243 Counts", "CHL: 1259 Counts",  "CDOM: 1260 Counts",
                            "ur: 1261 Counts",     "pcyan: 1262 Counts", "peryth: 1263 Counts",
                            "rhd: 1264 Counts",    "LSS: 1271 Counts",   "NTU: 1287 Counts",
                            "iTemp: 1273 Counts",  "xTemp: 1274 Counts", "Pres: 1275 Counts",
                            "iEngr: 1286.25 ug/l"};
  ASSERT_EQ(chart.ChannelCount(), 13);
  for (int c = 0; c < 13; ++c) EXPECT_EQ(channel(c).title, expected[c]) << c;
  // Every channel keeps its counts; temperatures and pressure not chosen are not shown.
  for (int c = 0; c < 13; ++c) {
    EXPECT_EQ(channel(c).shown, c < 9 || c == 12) << c;
    ASSERT_EQ(channel(c).points.size(), 1u) << c;
    EXPECT_EQ(channel(c).points[0].second, sample.KindCounts[size_t(config.ColumnKind[size_t(c)])]);
    EXPECT_EQ(channel(c).drawnY(), channel(c).points[0].second) << "counts drawn as they are";
  }
}

TEST_F(PlotPageTest, PowerUserTitlesShowTheChosenStatistic) {
  powerUser = true;
  config.IEngrUnits = "mg";
  load({KindChl, KindIEngr});
  const double low = 100.0, high = 100.0 + 12.34 * std::sqrt(2.0);
  struct Case { int window; const char* chl; const char* iengr; };
  const Case cases[] = {
      {0, "CHL: 117 Counts", "iEngr: 117.45 mg"},
      {1, "CHL: 108.73 Mean", "iEngr: 108.73 Mean"},
      {15, "CHL: 12.34 stddev", "iEngr: 12.34 stddev"},
      {60, "CHL: 12.34 stddev", "iEngr: 12.34 stddev"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.window);
    Statistics fresh;
    stats = fresh;
    choices.StdDevWindow = c.window;
    sample.KindCounts[KindChl] = sample.KindCounts[KindIEngr] = low;
    sampleOnce(0);
    sample.KindCounts[KindChl] = sample.KindCounts[KindIEngr] = high;
    sampleOnce(0);
    EXPECT_EQ(channel(0).title, c.chl);
    EXPECT_EQ(channel(1).title, c.iengr);
    EXPECT_DOUBLE_EQ(channel(0).points.back().second, high);  // the counts, not the statistic
  }
  // A window the box cannot give (restored from an old settings file): titles stay.
  choices.StdDevWindow = 7;
  sample.KindCounts[KindChl] = 5;
  sampleOnce(0);
  EXPECT_EQ(channel(0).title, "CHL: 12.34 stddev");
  EXPECT_DOUBLE_EQ(channel(0).points.back().second, 5);
}

TEST_F(PlotPageTest, EngineeringTitlesAndValues) {
  config.KindWavelength[7] = 470;
  config.IEngrUnits = "NTU";
  load({7, KindChl, KindCdom, KindUranine, KindPhycocyanin, KindPhycoerythrin, KindRhodamine,
        KindLss, KindNtu, KindIEngr});
  for (int k = 0; k < kMaxColumns; ++k) sample.KindCounts[size_t(k)] = 500 + k;
  eng.KindBeta[7] = 0.00123;
  eng.KindBetap[7] = 0.0456;
  eng.KindBbp[7] = 0.0123;
  eng.KindBb[7] = 1.5;
  struct Other { int channel; double EngValues::*field; double value; const char* title; };
  const Other others[] = {
      {1, &EngValues::ChlValue, 3.456, "CHL: 3.46 ug/l"},  {2, &EngValues::CdomValue, 41.6, "CDOM: 41.6 ppb"},
      {3, &EngValues::UranineValue, 7, "UR:    7 ppb"},     {4, &EngValues::PhycocyaninValue, 8, "PC:    8 ppb"},
      {5, &EngValues::PhycoerythrinValue, 9, "PE:    9 ppb"}, {6, &EngValues::RhodamineValue, 1234.4, "RHD: 1234 ppb"},
      {7, &EngValues::LssValue, 0.5, "LSS: 0.50 NTU"},      {8, &EngValues::NtuValue, 12.346, "NTU: 12.35"},
      {9, &EngValues::IEngrValue, 2.5, "iENGR: 2.50 NTU"},
  };
  for (const Other& o : others) eng.*o.field = o.value;
  powerUser = true;
  choices.StdDevWindow = 60;  // no effect on engineering titles

  struct Bb { int choice; const char* title; };
  const Bb bbCases[] = {{0, "Beta 470 : 0.00123"}, {1, "Betap 470: 0.0456"}, {2, "bbp 470: 0.0123"},
                        {3, "bb 470: 1.5000"},     {4, "Invalid 470: 507.000000 "}};
  for (const Bb& b : bbCases) {
    choices.BBPlotChoice = b.choice;
    sampleOnce(1);
    EXPECT_EQ(channel(0).title, b.title);
    EXPECT_DOUBLE_EQ(channel(0).points.back().second, 507) << "the counts are kept";
  }
  for (const Other& o : others) EXPECT_EQ(channel(o.channel).title, o.title);
}

TEST_F(PlotPageTest, EngineeringUnitsAreDrawnAsTheConversionOfTheKeptCounts) {
  config.KindWavelength[7] = 532;
  config.XFactor = 1.1f;
  for (int k : {7, int(KindChl), int(KindCdom), int(KindNtu), int(KindITemp), int(KindPres)}) {
    config.KindScale[size_t(k)] = 0.37f + 0.01f * float(k);
    config.KindOffset[size_t(k)] = 48;
  }
  choices.PlotType = 1;
  choices.ITempPlotChoice = choices.PresPlotChoice = 1;
  load({7, KindChl, KindCdom, KindNtu, KindITemp, KindPres});
  for (int k : {7, int(KindChl), int(KindCdom), int(KindNtu), int(KindITemp), int(KindPres)})
    sample.KindCounts[size_t(k)] = 1000 + 3 * k;
  ConvertToEngineering(config, sample, eng);
  sampleOnce(1);
  for (int choice : {0, 1, 2, 3}) {
    view.setItemIndex("BBPlotCB", choice);
    page.BBPlotCBChange();
    EXPECT_NEAR(channel(0).drawnY(), engValue(eng, kindInfo(7).eng[size_t(choice)], 7), 1e-9) << choice;
  }
  const double values[] = {eng.ChlValue, 1000 + 3.0 * int(KindCdom), eng.NtuValue, eng.ITempValue, eng.PresValue};
  for (int c = 1; c < 6; ++c) EXPECT_NEAR(channel(c).drawnY(), values[c - 1], 1e-9) << c;
}

TEST_F(PlotPageTest, LiveValuesKeepThreeSignificantDigits) {
  config.KindWavelength[8] = 532;
  config.IEngrUnits = "mg";
  load({8, KindChl, KindCdom, KindLss, KindIEngr});
  choices.BBPlotChoice = 2;
  struct Case { int column, type; double value; const char* title; };
  const Case cases[] = {
      {0, 1, 0.000085, "bbp 532: 8.5e-05"}, {0, 1, 0.00123, "bbp 532: 0.00123"}, {0, 1, 0.0123, "bbp 532: 0.0123"},
      {0, 1, 0.0, "bbp 532: 0.0000"},       {0, 1, -0.00004, "bbp 532: -4e-05"},  {0, 1, INFINITY, "bbp 532:    inf"},
      {2, 1, 3.4, "CDOM: 3.4 ppb"},         {2, 1, 7.0, "CDOM:    7 ppb"},      {3, 1, 0.5, "LSS: 0.50 NTU"},
      {4, 0, 0.0042, "iEngr: 0.0042 mg"},   {1, 0, 0.4, "CHL: 0 Counts"},
  };
  for (const Case& c : cases) {
    const int k = config.ColumnKind[size_t(c.column)];
    const EngColumn& column = kindInfo(k).eng[isLambda(k) ? 2 : 0];
    (column.value ? eng.*column.value : (eng.*column.perKind)[size_t(k)]) = sample.KindCounts[size_t(k)] = c.value;
    sampleOnce(c.type);
    EXPECT_EQ(channel(c.column).title, c.title) << c.value;
  }
  stats = Statistics{};  // the spread of whole counts keeps its digits too
  powerUser = true;
  choices.StdDevWindow = 15;
  for (double counts : {100.0, 101.0}) {
    sample.KindCounts[KindChl] = counts;
    sampleOnce(0);
  }
  EXPECT_EQ(channel(1).title, "CHL: 0.707 stddev");
}

TEST_F(PlotPageTest, ChannelUnitsAreThoseOfWhatEachChannelPlots) {
  config.IEngrUnits = "mg/m3";
  choices.PlotType = 1;
  load({7, KindChl, KindCdom, KindUranine, KindPhycocyanin, KindPhycoerythrin, KindRhodamine, KindLss, KindNtu,
        KindITemp, KindXTemp, KindPres, KindIEngr});
  const char* engr[] = {"1/(m sr)", "ug/l", "counts", "counts", "counts", "counts", "counts",
                        "NTU",      "NTU",  "C",      "C",      "dbar",   "mg/m3"};
  for (int c = 0; c < 13; ++c) EXPECT_EQ(channel(c).units, engr[c]) << c;
  const char* backscatter[] = {"1/(m sr)", "1/(m sr)", "1/m", "1/m", "counts"};
  for (int choice : {2, 0, 3, 1, 4}) {
    view.setItemIndex("BBPlotCB", choice);
    page.BBPlotCBChange();
    EXPECT_EQ(channel(0).units, backscatter[choice]) << choice;
  }
  view.setItemIndex("PlotTypeCB", 0);
  page.PlotTypeCBChange();
  for (int c = 0; c < 13; ++c) EXPECT_EQ(channel(c).units, "counts") << c;
}

TEST_F(PlotPageTest, AxisTitlesAndLegendFollowTheChoices) {
  // The units of the shown channels, each once (the chart gives each its own Y axis).
  auto shownUnits = [this] {
    std::string out;
    std::vector<std::string> seen;
    for (const auto& ch : chart.channels)
      if (ch.shown && std::find(seen.begin(), seen.end(), ch.units) == seen.end()) {
        seen.push_back(ch.units);
        out += (out.empty() ? "" : ", ") + ch.units;
      }
    return out;
  };
  load({7, KindChl, KindITemp, KindXTemp, KindPres});
  EXPECT_EQ(shownUnits() + "|" + chart.xTitle, "counts|Sample");
  const std::map<std::string, void (app::PlotPage::*)()> handlers = {
      {"PlotTypeCB", &app::PlotPage::PlotTypeCBChange}, {"BBPlotCB", &app::PlotPage::BBPlotCBChange},
      {"iTempCB", &app::PlotPage::iTempCBChange},       {"xTempCB", &app::PlotPage::xTempCBChange},
      {"PresCB", &app::PlotPage::PresCBChange},         {"XAxisCB", &app::PlotPage::XAxisCBChange},
  };
  // After each choice: Y title, X title, and the legend entries of iTemp, xTemp and Pres.
  struct Step { const char* box; int index; const char* axes; const char* legend; };
  const Step steps[] = {
      {"PlotTypeCB", 1, "1/(m sr), ug/l|Sample", "---"},    {"BBPlotCB", 2, "1/m, ug/l|Sample", "---"},
      {"PresCB", 1, "1/m, ug/l, dbar|Sample", "--P"},       {"iTempCB", 1, "1/m, ug/l, C, dbar|Sample", "I-P"},
      {"xTempCB", 1, "1/m, ug/l, C, dbar|Sample", "IXP"},   {"BBPlotCB", 4, "counts, ug/l, C, dbar|Sample", "IXP"},
      {"XAxisCB", 1, "counts, ug/l, C, dbar|Time (host, local)", "IXP"},
      {"iTempCB", 0, "counts, ug/l, C, dbar|Time (host, local)", "-XP"},
      {"PlotTypeCB", 0, "counts|Time (host, local)", "-XP"}, {"XAxisCB", 0, "counts|Sample", "-XP"},
  };
  for (const Step& s : steps) {
    view.setItemIndex(s.box, s.index);
    (page.*handlers.at(s.box))();
    std::string legend;
    for (int c = 2; c < 5; ++c) legend += channel(c).inLegend ? "IXP"[c - 2] : '-';
    EXPECT_EQ(shownUnits() + "|" + chart.xTitle, s.axes) << s.box << s.index;
    EXPECT_EQ(legend, s.legend) << s.box << s.index;
  }
  sample.KindCounts[KindITemp] = 321;
  sampleOnce(0);
  EXPECT_EQ(channel(2).title, "iTemp: 321 Counts") << "titled while out of the legend";
  load({KindITemp});
  EXPECT_EQ(shownUnits(), "") << "no channel is shown";
}

TEST_F(PlotPageTest, TemperatureAndPressureAreTitledButPlottedOnlyWhenChosen) {
  load({KindITemp, KindXTemp, KindPres});
  for (int k : {39, 40, 41}) sample.KindCounts[size_t(k)] = 100;
  eng.ITempValue = 21.56;
  eng.XTempValue = -1.24;
  eng.PresValue = 10;
  for (int type : {0, 1}) {
    sampleOnce(type);
    for (int c = 0; c < 3; ++c) EXPECT_FALSE(channel(c).shown) << type << c;
  }
  EXPECT_EQ(channel(0).title, "iTemp: 21.6 C");
  EXPECT_EQ(channel(1).title, "xTemp: -1.24 C");
  EXPECT_EQ(channel(2).title, "Pres: 10.0 dbar");

  // "Plot Pressure" shows the pressure kept from the first sample on.
  view.setItemIndex("PresCB", 1);
  page.PresCBChange();
  EXPECT_EQ(chart.clearCalls, 0);
  EXPECT_TRUE(channel(2).shown);
  EXPECT_FALSE(channel(0).shown);
  EXPECT_EQ(channel(2).points.size(), 2u);
}

TEST_F(PlotPageTest, MarkerValuesAreTitledButNotPlotted) {
  load({KindChl, KindNtu});
  struct Case { int type; double value; bool plotted; };
  for (const Case& c : {Case{0, 99990.0, false}, Case{0, 99989.5, true}, Case{1, 99999.0, false},
                        Case{1, 99990.0, false}, Case{1, -5.0, true}, Case{0, std::nan(""), false}}) {
    chart.ClearAllData();
    sample.KindCounts[KindChl] = c.value;
    eng.ChlValue = c.value;
    sampleOnce(c.type);
    EXPECT_EQ(channel(0).points.size(), c.plotted ? 1u : 0u) << c.type << " " << c.value;
    EXPECT_EQ(channel(0).titleSets, chart.clearCalls + 1) << "title set every sample";
  }
}

TEST_F(PlotPageTest, StatisticsAreFedForEveryColumnWhateverThePlotType) {
  load({KindDate, KindTime, 16, KindChl, KindRefOrUnused});
  sample.ElapsedSample = 6;
  for (int type : {0, 1, 2, -1}) page.ShowSampleValues(config.DataFieldCount, type);
  for (int k : {int(KindDate), int(KindTime), 16, int(KindChl), int(KindRefOrUnused)}) EXPECT_EQ(stats.Count(k), 4) << k;
  // Types 2 and -1 do not title; the counts are kept whatever the type.
  EXPECT_EQ(channel(0).points.size(), 4u);
  EXPECT_EQ(channel(0).titleSets, 3);  // the first title and two samples
  for (const auto& p : channel(0).points) EXPECT_EQ(p.first, 6.0);

  page.ShowSampleValues(0, 0);
  EXPECT_EQ(stats.Count(KindChl), 4);
  EXPECT_EQ(chart.totalPoints(), 4u);
}

TEST_F(PlotPageTest, OptionBoxesFollowTheDeviceFile) {
  struct Case {
    std::vector<int> kinds;
    int plotType;
    bool plotTypeCB, iTemp, xTemp, pres, bb;
  };
  const Case cases[] = {
      {{KindDate, KindTime}, 1, false, false, false, false, false},
      {{KindChl}, 1, true, false, false, false, false},
      {{7, KindITemp}, 0, true, true, false, false, false},
      {{7, KindITemp}, 1, true, true, false, false, true},
      {{KindXTemp, KindPres}, 1, true, false, true, true, false},
      {{16, 31, KindRefOrUnused}, 1, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    config.ColumnKind.fill(0);
    for (size_t i = 0; i < c.kinds.size(); ++i) config.ColumnKind[i] = c.kinds[i];
    view.setItemIndex("PlotTypeCB", c.plotType);
    page.ResetKindCounters();
    page.UpdatePlotOptions(int(c.kinds.size()));
    SCOPED_TRACE(c.kinds.front());
    EXPECT_EQ(view.visible("PlotTypeCB"), c.plotTypeCB);
    EXPECT_EQ(view.visible("iTempCB"), c.iTemp);
    EXPECT_EQ(view.visible("xTempCB"), c.xTemp);
    EXPECT_EQ(view.visible("PresCB"), c.pres);
    EXPECT_EQ(view.visible("BBPlotCB"), c.bb);
  }
}

TEST_F(PlotPageTest, KindCountersLastUntilTheNextLoadAndTheChartTitleIsSetOnce) {
  columns({KindITemp});
  page.UpdatePlotOptions(1);
  page.UpdatePlotOptions(1);  // a load and the tick after it both count
  columns({KindChl});
  page.UpdatePlotOptions(1);
  EXPECT_TRUE(view.visible("iTempCB"));
  page.ResetKindCounters();
  page.UpdatePlotOptions(1);
  EXPECT_FALSE(view.visible("iTempCB"));
  EXPECT_TRUE(view.visible("PlotTypeCB"));
  // The chart title, set only when it differs, and the FL-Setup page.
  config.MeterTitle = "MARU CHL 0042";
  const int titleSets = chart.titleSets;
  page.UpdatePlotOptions(1);
  EXPECT_EQ(chart.title, "MARU CHL 0042");
  page.UpdatePlotOptions(1);
  EXPECT_EQ(chart.titleSets, titleSets + 1);
  EXPECT_FALSE(view.visible("TSFLSetup"));

  view.setVisible("TSFLSetup", true);
  config.Asv2Range = 2.5f;
  page.UpdatePlotOptions(1);
  EXPECT_TRUE(view.visible("TSFLSetup"));
}

TEST_F(PlotPageTest, EveryOptionChangeStoresTheChoiceAndKeepsThePoints) {
  struct Case {
    const char* box;
    void (app::PlotPage::*handler)();
    int app::PlotChoices::*field;
  };
  const Case cases[] = {
      {"PlotTypeCB", &app::PlotPage::PlotTypeCBChange, &app::PlotChoices::PlotType},
      {"BBPlotCB", &app::PlotPage::BBPlotCBChange, &app::PlotChoices::BBPlotChoice},
      {"iTempCB", &app::PlotPage::iTempCBChange, &app::PlotChoices::ITempPlotChoice},
      {"xTempCB", &app::PlotPage::xTempCBChange, &app::PlotChoices::XTempPlotChoice},
      {"PresCB", &app::PlotPage::PresCBChange, &app::PlotChoices::PresPlotChoice},
  };
  load({KindChl});
  for (const Case& c : cases) {
    sample.KindCounts[KindChl] = 3;
    sampleOnce(0);
    const size_t points = chart.totalPoints();
    ASSERT_GT(points, 0u);
    view.setItemIndex(c.box, 1);
    (page.*c.handler)();
    EXPECT_EQ(choices.*(c.field), 1) << c.box;
    EXPECT_EQ(chart.totalPoints(), points) << c.box;
    EXPECT_EQ(channel(0).title, "CHL: 3 Counts") << "titles stay";
  }
  view.setItemIndex("XAxisCB", 1);
  page.XAxisCBChange();
  EXPECT_EQ(chart.clearCalls, 0);
}

TEST_F(PlotPageTest, PlotTypeChangeShowsBackscatterChoiceOnlyForEngineeringUnits) {
  for (bool backscatter : {false, true}) {
    load({backscatter ? 7 : KindChl});
    for (int index : {1, 0, 1}) {
      view.setItemIndex("PlotTypeCB", index);
      page.PlotTypeCBChange();
      EXPECT_EQ(view.visible("BBPlotCB"), backscatter && index == 1) << backscatter << index;
      EXPECT_EQ(page.HasBackscatter(), backscatter);
    }
  }
}

TEST_F(PlotPageTest, StdDevChoiceNeedsPowerUser) {
  load({KindChl});
  sampleOnce(0);
  view.setItemIndex("StdDevCB", 3);
  page.StdDevCBChange();
  EXPECT_EQ(choices.StdDevWindow, 0);
  EXPECT_EQ(chart.totalPoints(), 1u);

  powerUser = true;  // an item the box does not have keeps the last window
  const std::pair<int, int> cases[] = {{0, 0}, {1, 1}, {2, 15}, {3, 60}, {-1, 60}, {4, 60}};
  for (const auto& [index, window] : cases) {
    view.setItemIndex("StdDevCB", index);
    page.StdDevCBChange();
    EXPECT_EQ(choices.StdDevWindow, window) << index;
  }
  EXPECT_EQ(chart.totalPoints(), 1u);
}

TEST_F(PlotPageTest, PrepareChartSetsUpTheFirstTick) {
  chart.AddChannel();
  config.MeterTitle = "MARU Sensor";
  page.PrepareChart();
  EXPECT_EQ(chart.ChannelCount(), 0);
  EXPECT_EQ(chart.yAxis, 0);
  EXPECT_EQ(chart.yStyle, chart::TrackingStyle::ExpandCollapse);
  EXPECT_EQ(chart.xAxis, 0);
  EXPECT_EQ(chart.xStyle, chart::TrackingStyle::ScrollSmooth);
  EXPECT_EQ(chart.toolBar, 0);
  EXPECT_FALSE(chart.editButton);
  EXPECT_EQ(chart.title, "MARU Sensor");
}

// ---- The X axis

class TimeAxisPage : public PlotPageTest {
 protected:
  void SetUp() override {
    load({KindChl, KindCdom});
    page.setHostSeconds([this] { return hostSeconds; });
  }
  void sampleAt(double seconds) {
    hostSeconds = seconds;
    sample.KindCounts[KindChl] = 101 + sample.ElapsedSample;
    sample.KindCounts[KindCdom] = 201 + sample.ElapsedSample;
    sampleOnce(0);
  }
  void choose(int item) {
    view.setItemIndex("XAxisCB", item);
    page.XAxisCBChange();
  }
  double hostSeconds = 0;
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
