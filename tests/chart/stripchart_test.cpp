// The real strip chart, offscreen: drawing, legend, tracking, thinning, history and the
// properties file.
#include "chart/stripchart.h"

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTest>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QScatterSeries>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QTemporaryDir>
#include <QToolBar>
#include <QValueAxis>

#include <cmath>
#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>
#include <limits>

#include <gtest/gtest.h>

namespace {

using chart::StripChart;
using chart::TrackingStyle;

class StripChartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chart.resize(900, 500);
    chart.show();
    QApplication::processEvents();
  }
  void redraw() {
    chart.redrawNow();
    QApplication::processEvents();
  }
  StripChart chart;
};

int countPixels(const QImage& image, const QRect& area, QColor colour) {
  int n = 0;
  QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (image.pixelColor(x, y).rgb() == colour.rgb()) ++n;
  return n;
}

TEST(StripChartColour, BgrValuesBecomeRgb) {
  struct Case { uint32_t bgr; QColor rgb; } cases[] = {
      {0x0000FF, QColor(255, 0, 0)},   {0x008000, QColor(0, 128, 0)},
      {0xFF0000, QColor(0, 0, 255)},   {0x800080, QColor(128, 0, 128)},
      {0x123456, QColor(0x56, 0x34, 0x12)}, {0xFF123456, QColor(0x56, 0x34, 0x12)},
  };
  for (const Case& c : cases) EXPECT_EQ(StripChart::colourFromBgr(c.bgr), c.rgb) << std::hex << c.bgr;
}

TEST_F(StripChartTest, DrawsChannelsInTheirColoursAndShowsTitlesInTheLegend) {
  const uint32_t colours[] = {0x0000FF, 0x00FF00, 0xFF00FF};
  const char* titles[] = {"CHL: 1234 Counts", "bbp 470: 0.0123", "iTemp: 21.5 C"};
  for (int c = 0; c < 3; ++c) {
    ASSERT_EQ(chart.AddChannel(), c);
    chart.SetChannelColor(c, colours[c]);
    chart.SetChannelTitle(c, titles[c]);
  }
  for (int i = 1; i <= 80; ++i) {
    chart.AddXY(0, i, 10);
    chart.AddXY(1, i, 50);
    chart.AddXY(2, i, 30 + 15 * std::sin(i / 5.0));
  }
  chart.SetTitleText("Test Meter");
  redraw();

  QImage image = chart.chartView()->viewport()->grab().toImage();
  QRect plot = chart.chartView()->mapFromScene(chart.chart()->plotArea()).boundingRect();
  ASSERT_GT(plot.width(), 100);
  for (int c = 0; c < 3; ++c) {
    QColor rgb = StripChart::colourFromBgr(colours[c]);
    EXPECT_GT(countPixels(image, plot, rgb), 50) << "channel " << c << " not drawn";
    EXPECT_EQ(chart.channelColor(c), rgb);
  }
  EXPECT_EQ(countPixels(image, plot, QColor(0, 0, 255)), 0) << "a colour no channel has";

  const auto markers = chart.chart()->legend()->markers();
  ASSERT_EQ(markers.size(), 3);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(markers[c]->label().toStdString(), titles[c]);
  EXPECT_EQ(chart.chart()->legend()->alignment(), Qt::AlignRight);
  // The legend is wide enough for the longest title: nothing is cut.
  QFontMetrics metrics(chart.chart()->legend()->font());
  EXPECT_GE(chart.chart()->legend()->geometry().width(), metrics.horizontalAdvance(titles[0]));
  EXPECT_EQ(chart.TitleText(), "Test Meter");
  EXPECT_TRUE(chart.chart()->titleFont().bold());
}

TEST_F(StripChartTest, TitlesReachTheLegendAtTheNextRedrawOnly) {
  chart.AddChannel();
  chart.SetChannelTitle(0, "CHL:");
  redraw();
  chart.SetChannelTitle(0, "CHL: 17 Counts");
  EXPECT_EQ(chart.ChannelTitle(0), "CHL: 17 Counts");
  EXPECT_EQ(chart.series(0)->name(), "CHL:");
  EXPECT_TRUE(chart.redrawPending());
  redraw();
  EXPECT_EQ(chart.series(0)->name(), "CHL: 17 Counts");
}

TEST_F(StripChartTest, LegendShowsUnitsAndLeavesOutHiddenChannels) {
  struct Case { const char* title; const char* units; const char* legend; } cases[] = {
      {"bbp 470: 0.0123", "1/m", "bbp 470: 0.0123 [1/m]"},
      {"CHL: 1234 Counts", "counts", "CHL: 1234 Counts"},  // already says it
      {"iTemp: 21.5 C", "C", "iTemp: 21.5 C"},
      {"CDOM:   12 ppb", "counts", "CDOM:   12 ppb [counts]"},
      {"NTU: 3.20", "", "NTU: 3.20"},
  };
  for (const Case& c : cases) {
    const int n = chart.AddChannel();
    chart.SetChannelTitle(n, c.title);
    chart.SetChannelUnits(n, c.units);
    chart.AddXY(n, 1, n);
  }
  chart.SetChannelInLegend(2, false);
  chart.SetXAxisTitle("Sample");
  chart.SetYAxisTitle("no units");
  redraw();
  const auto markers = chart.chart()->legend()->markers();
  ASSERT_EQ(markers.size(), qsizetype(std::size(cases)));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(markers[qsizetype(i)]->label().toStdString(), cases[i].legend);
    EXPECT_EQ(chart.ChannelTitle(int(i)), cases[i].title) << "the title itself is kept";
    EXPECT_EQ(markers[qsizetype(i)]->isVisible(), i != 2);
  }
  EXPECT_GT(chart.series(2)->count(), 0) << "a channel out of the legend is still drawn";
  chart.SetChannelInLegend(2, true);
  redraw();
  EXPECT_TRUE(chart.chart()->legend()->markers(chart.series(2)).front()->isVisible());
  // The titles stay with the axes when the X axis changes to times and back.
  for (const bool times : {true, false}) {
    chart.SetXAxisTimeLabels(times);
    EXPECT_EQ(chart.xAxis()->titleText(), "Sample");
  }
  redraw();
  // One Y axis per unit, titled with it: the first on the left, the others on the right.
  struct Axis { int channel; const char* title; Qt::Alignment side; };
  for (const Axis& a : {Axis{0, "1/m", Qt::AlignLeft}, Axis{1, "counts", Qt::AlignRight}, Axis{2, "C", Qt::AlignRight},
                        Axis{4, "", Qt::AlignRight}}) {
    ASSERT_NE(chart.yAxisOf(a.channel), nullptr) << a.channel;
    EXPECT_EQ(chart.yAxisOf(a.channel)->titleText().toStdString(), a.title);
    EXPECT_EQ(chart.yAxisOf(a.channel)->alignment(), a.side);
    EXPECT_TRUE(chart.series(a.channel)->attachedAxes().contains(chart.yAxisOf(a.channel)));
  }
  EXPECT_EQ(chart.yAxisOf(3), chart.yAxisOf(1)) << "the same units share an axis";
  EXPECT_EQ(chart.yAxisCount(), 4);
  // Hidden channels take no axis; the channels without units then lead on the left.
  for (int c : {0, 1, 2, 3}) chart.SetChannelShown(c, false);
  redraw();
  EXPECT_EQ(chart.yAxisCount(), 1);
  EXPECT_EQ(chart.yAxis()->titleText(), "no units");
  EXPECT_EQ(chart.series(0)->count(), 0) << "a hidden channel is not drawn";
  EXPECT_EQ(chart.pointCount(0), 1u) << "but keeps its points";
}

TEST(StripChartTime, LabelsCarryTheDateWhenTheViewSpansMoreThanADay) {
  const double t = 1765152000.0 + 13 * 3600 + 5 * 60 + 7;  // 2025-12-08 13:05:07
  EXPECT_EQ(StripChart::timeLabelText(t, 60, 3600), "13:05:07");
  EXPECT_EQ(StripChart::timeLabelText(t, 21600, 3 * 86400), "12-08 13:05");
  EXPECT_EQ(StripChart::timeLabelText(t, 172800, 7 * 86400), "2025-12-08");
}

TEST_F(StripChartTest, BadChannelIndexesAndNonFinitePointsAreIgnored) {
  chart.AddChannel();
  chart.AddXY(-1, 1, 1);
  chart.AddXY(1, 1, 1);
  chart.SetChannelTitle(5, "x");
  chart.SetChannelColor(-3, 0xFFFFFF);
  chart.AddXY(0, std::nan(""), 1);
  chart.AddXY(0, 1, std::numeric_limits<double>::infinity());
  chart.AddXY(0, 2, 3);
  EXPECT_EQ(chart.ChannelCount(), 1);
  EXPECT_EQ(chart.pointCount(0), 1u);
  EXPECT_EQ(chart.ChannelTitle(5), "");
}

TEST_F(StripChartTest, ClearAllDataKeepsChannelsAndTitles) {
  chart.AddChannel();
  chart.AddChannel();
  chart.SetChannelTitle(1, "NTU: 3.20");
  for (int i = 0; i < 10; ++i) chart.AddXY(1, i, i);
  redraw();
  ASSERT_GT(chart.series(1)->count(), 0);
  chart.ClearAllData();
  redraw();
  EXPECT_EQ(chart.ChannelCount(), 2);
  EXPECT_EQ(chart.ChannelTitle(1), "NTU: 3.20");
  EXPECT_EQ(chart.pointCount(1), 0u);
  EXPECT_EQ(chart.series(1)->count(), 0);
  chart.RemoveAllChannels();
  EXPECT_EQ(chart.ChannelCount(), 0);
  EXPECT_TRUE(chart.chart()->series().isEmpty());
}

TEST_F(StripChartTest, ScrollsOverTheNewestHundredAndFitsY) {
  chart.AddChannel();
  EXPECT_EQ(chart.xTrackingStyle(), TrackingStyle::ScrollSmooth);
  chart.SetYAxisTrackingStyle(0, TrackingStyle::ScaleMinMax);
  for (int i = 1; i <= 50; ++i) chart.AddXY(0, i, i);
  redraw();
  EXPECT_DOUBLE_EQ(chart.xAxis()->min(), 0);  // fewer than a span: the axis stays put
  EXPECT_DOUBLE_EQ(chart.xAxis()->max(), 100);
  for (int i = 51; i <= 500; ++i) chart.AddXY(0, i, i);
  redraw();
  EXPECT_DOUBLE_EQ(chart.xAxis()->min(), 400);
  EXPECT_DOUBLE_EQ(chart.xAxis()->max(), 500);
  EXPECT_DOUBLE_EQ(chart.yAxis()->min(), 400);
  EXPECT_DOUBLE_EQ(chart.yAxis()->max(), 500);
  // Only the points in view (and one beyond the left edge) are handed to Qt Charts.
  EXPECT_EQ(chart.series(0)->count(), 102);
}

TEST_F(StripChartTest, ExpandCollapseFollowsTheDataInView) {
  chart.AddChannel();
  chart.SetYAxisTrackingStyle(0, TrackingStyle::ExpandCollapse);
  for (int i = 1; i <= 200; ++i) chart.AddXY(0, i, i <= 150 ? 1000.0 + (i % 2) * 100 : 10.0 + (i % 2));
  // Points 101..200 are in view: 10..1100 must fit.
  redraw();
  EXPECT_LE(chart.yAxis()->min(), 10);
  EXPECT_GE(chart.yAxis()->max(), 1100);
  for (int i = 201; i <= 400; ++i) chart.AddXY(0, i, 10.0 + (i % 2));
  redraw();  // only 10..11 in view now: the axis collapses onto it
  EXPECT_LE(chart.yAxis()->min(), 10);
  EXPECT_GE(chart.yAxis()->max(), 11);
  EXPECT_LT(chart.yAxis()->max() - chart.yAxis()->min(), 5);
}

TEST_F(StripChartTest, PausedOrZoomedViewStaysWhileDataArrives) {
  chart.AddChannel();
  for (int i = 1; i <= 300; ++i) chart.AddXY(0, i, i);
  redraw();
  ASSERT_DOUBLE_EQ(chart.xAxis()->max(), 300);

  chart.toolBar()->findChild<QAction*>("ChartTracking")->trigger();  // pause
  EXPECT_FALSE(chart.isTracking());
  for (int i = 301; i <= 400; ++i) chart.AddXY(0, i, i);
  redraw();
  EXPECT_DOUBLE_EQ(chart.xAxis()->max(), 300);

  chart.toolBar()->findChild<QAction*>("ChartTracking")->trigger();  // resume
  redraw();
  EXPECT_DOUBLE_EQ(chart.xAxis()->max(), 400);

  chart.toolBar()->findChild<QAction*>("ChartZoomIn")->trigger();
  EXPECT_FALSE(chart.isTracking());
  EXPECT_DOUBLE_EQ(chart.xAxis()->max() - chart.xAxis()->min(), 50);
  chart.AddXY(0, 401, 401);
  redraw();
  EXPECT_DOUBLE_EQ(chart.xAxis()->max(), 375);

  chart.setTracking(true);
  redraw();
  chart.chart()->zoomIn();  // the rubber band and the wheel go through the axes too
  EXPECT_FALSE(chart.isTracking());
}

TEST_F(StripChartTest, DraggingInPanModeMovesTheViewAndPausesTracking) {
  chart.AddChannel();
  for (int i = 1; i <= 300; ++i) chart.AddXY(0, i, i % 10);
  redraw();
  chart.toolBar()->findChild<QAction*>("ChartPan")->trigger();
  QWidget* viewport = chart.chartView()->viewport();
  const QRect plot = chart.chartView()->mapFromScene(chart.chart()->plotArea()).boundingRect();
  const QPoint from = plot.center(), to = from + QPoint(plot.width() / 4, 0);
  QTest::mousePress(viewport, Qt::LeftButton, {}, from);
  QTest::mouseMove(viewport, to);
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
  EXPECT_FALSE(chart.isTracking());
  EXPECT_NEAR(chart.xAxis()->max(), 275, 1.5);  // dragged right by a quarter of 100
  EXPECT_NEAR(chart.xAxis()->max() - chart.xAxis()->min(), 100, 1e-9);
}

TEST_F(StripChartTest, PropertyEditorAppliesWhatTheOperatorChose) {
  chart.openPropertyEditor();
  auto* dialog = chart.findChild<QDialog*>("StripChartProperties");
  ASSERT_NE(dialog, nullptr);
  dialog->findChild<QLineEdit*>("title")->setText("Edited");
  dialog->findChild<QDoubleSpinBox*>("xSpan")->setValue(40);
  dialog->findChild<QCheckBox*>("dataCursor")->setChecked(true);
  dialog->accept();
  EXPECT_EQ(chart.TitleText(), "Edited");
  EXPECT_DOUBLE_EQ(chart.xSpan(), 40);
  EXPECT_TRUE(chart.dataCursorVisible());
}

TEST_F(StripChartTest, DenseDataIsThinnedPerPixelButKeepsSpikes) {
  chart.AddChannel();
  chart.SetXAxisTrackingStyle(0, TrackingStyle::ScaleMinMax);
  for (int i = 0; i < 50000; ++i) chart.AddXY(0, i, i == 31337 ? 5000.0 : (i % 7));
  redraw();
  int columns = int(chart.chart()->plotArea().width());
  ASSERT_GT(columns, 100);
  const QList<QPointF> pts = chart.series(0)->points();
  EXPECT_LE(pts.size(), 2 * chart.chartView()->width() + 8);  // at most two per pixel column
  EXPECT_GT(pts.size(), columns);
  bool spike = false;
  for (const QPointF& p : pts) spike = spike || (p.y() == 5000.0 && p.x() == 31337);
  EXPECT_TRUE(spike);
  for (int i = 1; i < pts.size(); ++i) ASSERT_LE(pts[i - 1].x(), pts[i].x()) << "order kept";
  EXPECT_DOUBLE_EQ(chart.yAxis()->max(), 5000);
}

TEST_F(StripChartTest, HistoryKeepsSamplesUpToItsLimitAndDropsTheOldest) {
  chart.AddChannel();
  chart.AddChannel();
  chart.SetXAxisTrackingStyle(0, TrackingStyle::ScaleMinMax);
  EXPECT_GE(chart.historyCap(), size_t(7 * 86400 * 10));  // a week at 10 samples a second
  chart.setHistoryCap(1000);
  // Both channels of a sample share one entry: 1050 samples, 1000 kept of each channel.
  for (int i = 0; i < 1050; ++i) {
    chart.AddXY(0, i, 1.0);
    chart.AddXY(1, i, 2.0);
  }
  EXPECT_EQ(chart.pointCount(0), 1000u);
  EXPECT_EQ(chart.pointCount(1), 1000u);
  redraw();
  EXPECT_DOUBLE_EQ(chart.xAxis()->min(), 50);  // the oldest kept sample
  chart.setHistoryCap(10);
  EXPECT_EQ(chart.pointCount(0), 10u);
}

TEST_F(StripChartTest, EditButtonOfToolbarZeroCanBeHidden) {
  EXPECT_TRUE(chart.editButtonVisible());
  chart.SetToolBarShowEditButton(1, false);
  EXPECT_TRUE(chart.editButtonVisible());
  chart.SetToolBarShowEditButton(0, false);
  EXPECT_FALSE(chart.editButtonVisible());
  EXPECT_FALSE(chart.dataCursorVisible());
}

TEST_F(StripChartTest, PropertiesRoundTripThroughAReadableFile) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("maruiocomp.rbs").toStdString();
  chart.AddChannel();
  chart.AddChannel();
  chart.SetChannelColor(0, 0x0000FF);
  chart.SetChannelColor(1, 0x808080);
  chart.SetChannelTitle(1, "iTemp:");
  chart.SetTitleText("Meter Ä 7");
  chart.SetXAxisTrackingStyle(0, TrackingStyle::ScrollPage);
  chart.SetYAxisTrackingStyle(0, TrackingStyle::ExpandCollapse);
  chart.setXSpan(250);
  chart.SetToolBarShowEditButton(0, false);
  chart.setBackgroundColor(QColor(10, 20, 30));
  chart.chart()->legend()->setAlignment(Qt::AlignBottom);
  chart.setDataCursorVisible(true);
  ASSERT_TRUE(chart.SaveProperties(path));

  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(file.readAll());
  EXPECT_TRUE(text.contains("[XAxis0]"));
  EXPECT_TRUE(text.contains("TrackingStyle=ScrollPage"));
  EXPECT_TRUE(text.contains("Title=Meter Ä 7"));

  StripChart other;
  other.AddChannel();
  other.AddChannel();
  ASSERT_TRUE(other.LoadProperties(path));
  EXPECT_EQ(other.TitleText(), "Meter Ä 7");
  EXPECT_EQ(other.xTrackingStyle(), TrackingStyle::ScrollPage);
  EXPECT_EQ(other.yTrackingStyle(), TrackingStyle::ExpandCollapse);
  EXPECT_DOUBLE_EQ(other.xSpan(), 250);
  EXPECT_FALSE(other.editButtonVisible());
  EXPECT_EQ(other.backgroundColor(), QColor(10, 20, 30));
  EXPECT_EQ(other.chart()->legend()->alignment(), Qt::AlignBottom);
  EXPECT_TRUE(other.dataCursorVisible());
  EXPECT_EQ(other.channelColor(0), QColor(255, 0, 0));
  EXPECT_EQ(other.channelColor(1), QColor(128, 128, 128));
  EXPECT_EQ(other.ChannelTitle(1), "iTemp:");
  EXPECT_EQ(other.pointCount(0), 0u);
}

// A right-hand axis titled in the editor keeps its title and range in the file, and gets
// them back once a channel of its units is drawn again.
TEST_F(StripChartTest, RightHandAxesKeepTheirTitlesAndRangesByUnits) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("maruiocomp.rbs").toStdString();
  chart.AddChannel(), chart.AddChannel();
  chart.SetChannelUnits(0, "1/m"), chart.SetChannelUnits(1, "C");
  for (int i = 1; i <= 20; ++i) chart.AddXY(0, i, 0.01 * i), chart.AddXY(1, i, 10 + i);
  redraw();
  chart.openPropertyEditor();
  auto* dialog = chart.findChild<QDialog*>("StripChartProperties");
  auto* edit = dialog ? dialog->findChild<QLineEdit*>("axisTitle:C") : nullptr;
  ASSERT_NE(edit, nullptr);
  edit->setText("Water temperature (C)");
  dialog->accept();
  EXPECT_EQ(chart.yAxisOf(1)->titleText(), "Water temperature (C)");
  const double lo = chart.yAxisOf(1)->min(), hi = chart.yAxisOf(1)->max();
  ASSERT_TRUE(chart.SaveProperties(path));

  StripChart other;
  other.resize(600, 400);
  ASSERT_TRUE(other.LoadProperties(path));
  other.setTracking(false);
  other.AddChannel(), other.AddChannel();
  other.SetChannelUnits(0, "1/m"), other.SetChannelUnits(1, "C");
  other.AddXY(0, 1, 0.5), other.AddXY(1, 1, 99);
  other.redrawNow();
  ASSERT_NE(other.yAxisOf(1), nullptr);
  EXPECT_EQ(other.yAxisOf(1)->titleText(), "Water temperature (C)");
  EXPECT_DOUBLE_EQ(other.yAxisOf(1)->min(), lo);
  EXPECT_DOUBLE_EQ(other.yAxisOf(1)->max(), hi);
}

TEST_F(StripChartTest, LoadingKeepsSettingsTheFileDoesNotHoldSensibly) {
  QTemporaryDir dir;
  EXPECT_FALSE(chart.LoadProperties(dir.filePath("missing.rbs").toStdString()));
  EXPECT_FALSE(chart.LoadProperties(dir.path().toStdString()));
  EXPECT_FALSE(chart.SaveProperties(dir.path().toStdString()));  // a folder, not a file

  const QString path = dir.filePath("odd.rbs");
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  // HistoryCap: the few hours' limit files of earlier versions hold; not taken over.
  f.write("[XAxis0]\nTrackingStyle=Sideways\nSpan=-5\n[Chart]\nBackgroundColor=notacolour\nHistoryCap=100000\n"
          "[Channels]\nCount=9\n[Channel0]\nColor=#00ff00\n");
  f.close();
  chart.AddChannel();
  ASSERT_TRUE(chart.LoadProperties(path.toStdString()));
  EXPECT_EQ(chart.xTrackingStyle(), TrackingStyle::ScrollSmooth);
  EXPECT_DOUBLE_EQ(chart.xSpan(), 100);
  EXPECT_EQ(chart.backgroundColor(), QColor(0x20, 0x20, 0x20));
  EXPECT_EQ(chart.historyCap(), StripChart::kDefaultHistoryCap);
  EXPECT_EQ(chart.channelColor(0), QColor(0, 255, 0));
  EXPECT_EQ(chart.ChannelCount(), 1);
}

TEST_F(StripChartTest, SavesThePictureAsPng) {
  QTemporaryDir dir;
  chart.AddChannel();
  chart.AddXY(0, 1, 1);
  const QString path = dir.filePath("plot.png");
  ASSERT_TRUE(chart.saveImage(path));
  QImage image(path);
  EXPECT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 100);
}

}  // namespace

namespace {

/// The chart's line series that hold points, with their first and last X.
std::vector<std::pair<double, double>> drawnRuns(StripChart& chart) {
  std::vector<std::pair<double, double>> runs;
  for (QAbstractSeries* s : chart.chart()->series()) {
    auto* line = qobject_cast<QLineSeries*>(s);
    if (line && line->type() == QAbstractSeries::SeriesTypeLine && line->count() > 0)
      runs.emplace_back(line->at(0).x(), line->at(line->count() - 1).x());
  }
  std::sort(runs.begin(), runs.end());
  return runs;
}

}  // namespace

TEST_F(StripChartTest, SwitchingTheXAxisRedrawsTheSamePointsAtTheirTimes) {
  chart.AddChannel();
  for (int i = 1; i <= 300; ++i) {
    chart.SetPointTime(50000.0 + 2 * i);
    chart.AddXY(0, i, i % 7);
  }
  chart.showAll();
  EXPECT_EQ(drawnRuns(chart), (std::vector<std::pair<double, double>>{{1, 300}}));
  chart.SetXAxisTimeLabels(true);
  chart.showAll();
  EXPECT_EQ(drawnRuns(chart), (std::vector<std::pair<double, double>>{{50002, 50600}}));
  EXPECT_EQ(chart.xAxis()->min(), 50002);
  EXPECT_EQ(chart.xAxis()->max(), 50600);
  chart.SetXAxisTimeLabels(false);
  chart.showAll();
  EXPECT_EQ(drawnRuns(chart), (std::vector<std::pair<double, double>>{{1, 300}}));
  EXPECT_EQ(chart.pointCount(0), 300u);
}

TEST_F(StripChartTest, ABreakOrARestartOfTheCountDrawsTheRunsApart) {
  chart.AddChannel();
  chart.SetChannelTitle(0, "CHL");
  for (int i = 1; i <= 50; ++i) chart.AddXY(0, i, 1);
  chart.BreakLine();
  for (int i = 60; i <= 90; ++i) chart.AddXY(0, i, 2);
  for (int i = 1; i <= 20; ++i) chart.AddXY(0, i, 3);  // the count started again
  chart.showAll();
  EXPECT_EQ(drawnRuns(chart), (std::vector<std::pair<double, double>>{{1, 20}, {1, 50}, {60, 90}}));
  redraw();
  int legendEntries = 0;
  for (QLegendMarker* m : chart.chart()->legend()->markers()) legendEntries += m->isVisible();
  EXPECT_EQ(legendEntries, 1) << "one legend entry per channel";
  chart.ClearAllData();
  chart.AddXY(0, 1, 1);
  chart.AddXY(0, 2, 1);
  chart.showAll();
  EXPECT_EQ(drawnRuns(chart), (std::vector<std::pair<double, double>>{{1, 2}})) << "the pieces are emptied";
}

TEST_F(StripChartTest, AChannelIsDrawnThroughItsTransformAndHiddenKeepsItsPoints) {
  chart.AddChannel();
  for (int i = 1; i <= 10; ++i) chart.AddXY(0, i, i);
  chart.SetChannelTransform(0, -2, 100);
  chart.showAll();
  ASSERT_EQ(chart.series(0)->count(), 10);
  EXPECT_EQ(chart.series(0)->at(9), QPointF(10, 80));
  EXPECT_LE(chart.yAxis()->min(), 80);
  EXPECT_GE(chart.yAxis()->max(), 98);
  chart.SetChannelShown(0, false);
  redraw();
  EXPECT_EQ(chart.series(0)->count(), 0);
  chart.SetChannelShown(0, true);
  redraw();
  EXPECT_EQ(chart.series(0)->count(), 10) << "shown again, all of them";
}

TEST_F(StripChartTest, TheCursorReadsEveryShownChannelAndTheDifferenceFromAPinnedPoint) {
  const char* titles[] = {"bbp 470: 0.0123", "Temp: 21.5 C", "Pres: 3 dbar"};
  const char* units[] = {"1/m", "C", "dbar"};
  for (int c = 0; c < 3; ++c) {
    chart.AddChannel();
    chart.SetChannelTitle(c, titles[c]);
    chart.SetChannelUnits(c, units[c]);
  }
  for (int i = 1; i <= 100; ++i) {
    chart.AddXY(0, i, 0.001 * i);
    if (i <= 50) chart.AddXY(1, i, 20 + 0.1 * i);  // the temperature stops at 50
    chart.AddXY(2, i, i);
  }
  chart.SetChannelTransform(2, 0.5, 0);
  chart.SetChannelShown(2, false);
  chart.showAll();
  const StripChart::Readout at = chart.readoutAt(40.4);
  ASSERT_EQ(at.values.size(), 2u) << "hidden channels are not read";
  EXPECT_EQ(at.values[0].name, "bbp 470");
  EXPECT_NEAR(at.values[0].y, 0.040, 1e-6);
  EXPECT_EQ(at.values[0].x, 40);
  EXPECT_NEAR(at.values[1].y, 24.0, 1e-5);
  EXPECT_FALSE(chart.readoutAt(90).values[1].found) << "no temperature near";
  const StripChart::Readout d = chart.differenceBetween(10, 30);
  EXPECT_EQ(d.x, 20);
  EXPECT_NEAR(d.values[0].y, 0.020, 1e-6);
  EXPECT_NEAR(d.values[1].y, 2.0, 1e-5);
  chart.SetChannelShown(2, true);
  EXPECT_NEAR(chart.readoutAt(30).values[2].y, 15, 1e-9) << "read through the transform";

  // What pointing and a click show, in the label an operator's tools can read.
  EXPECT_EQ(chart.readoutLabel()->accessibleName(), "Cursor readout");
  chart.pointAt(30);
  EXPECT_EQ(chart.readoutLabel()->text(), "Sample 30 | bbp 470 0.03 1/m | Temp 23 C | Pres 15 dbar");
  chart.pinAt(10);
  chart.pointAt(30);
  EXPECT_TRUE(chart.readoutLabel()->text().endsWith("Difference: d 20 samples | bbp 470 +0.02 1/m | Temp +2 C | Pres +10 dbar"))
      << chart.readoutLabel()->text().toStdString();
  chart.pinAt(30);
  EXPECT_FALSE(chart.pinned());
}

TEST_F(StripChartTest, QualityMarksShowInTheLegendAndFollowTheirChannelsAxis) {
  chart.AddChannel();
  chart.AddChannel();
  chart.SetChannelUnits(0, "1/m");
  chart.SetChannelUnits(1, "C");
  for (int i = 1; i <= 20; ++i) chart.AddXY(0, i, 0.01 * i), chart.AddXY(1, i, 10 + i);
  chart.MarkPoint(1, 5, 15, 3, "SUSPECT: spike_test");
  chart.MarkPoint(0, 7, 0.07, 4);
  chart.showAll();
  EXPECT_EQ(chart.markCount(3), 1u);
  EXPECT_EQ(chart.markText(3, 5), "SUSPECT: spike_test") << "the tooltip names the test";
  EXPECT_EQ(chart.markText(4, 7), "") << "a mark without a text";
  for (QLegendMarker* m : chart.chart()->legend()->markers())
    if (m->label().startsWith("QC")) {
      EXPECT_GT(m->brush().color().alpha(), 0) << m->label().toStdString();
    }
  // The suspect mark sits where the temperature's own axis draws 15.
  const QPointF suspect = chart.chart()->mapToPosition(
      qobject_cast<QScatterSeries*>(chart.chart()->series().at(2))->at(0), chart.chart()->series().at(2));
  const QPointF point = chart.chart()->mapToPosition(QPointF(5, 15), chart.series(1));
  EXPECT_NEAR(suspect.y(), point.y(), 0.5);
}
