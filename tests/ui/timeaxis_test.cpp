// The plot page's time axis in the running window over a pseudo-terminal: the X axis
// choice, points at the host's time of day, HH:MM:SS labels, and tracking; and the
// window's places for Record CSV (UTC) and the export's progress.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCategoryAxis>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineSeries>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QValueAxis>

#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "app/formaccess.h"
#include "support/ptypeer.h"
#include "support/quietline.h"
#include "ui/application.h"

namespace {

using testsupport::PtyPeer;
using testsupport::TempDir;

// 2026-02-03T09:05:07Z, 2 s more at every reading.
std::chrono::system_clock::time_point startTime() {
  using namespace std::chrono;
  return sys_days{year{2026} / 2 / 3} + hours{9} + minutes{5} + seconds{7};
}

double localTimeOfDay(std::chrono::system_clock::time_point t) {
  const std::time_t whole = std::chrono::system_clock::to_time_t(t);
  std::tm local{};
  localtime_r(&whole, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
}

class TimeAxisWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    app::MainFormOptions options;
    options.workingDir = dir.path();
    options.ports.bind(1, peer.slavePath());
    options.quit = [](int) {};
    options.utcClock = [this] {
      const auto t = now;
      now += std::chrono::seconds(2);
      return t;
    };
    program = ui::makeApplication(std::move(options));
    program->start();
    form().view().setItemIndex("CBBaudRate", 2);
    form().view().setItemIndex("CBHostPort", 1);
    form().CBHostPortChange();
    testsupport::letLineBeSeenQuiet(testsupport::formSession(form()));
    ASSERT_TRUE(waitFor([this] { return form().shared().TickCount > 0; }));
    testsupport::editState(form()).SetupRequestTicks = 0;
    const std::string dev = std::string(MARU_SOURCE_DIR) + "/examples/ntu.dev";
    ASSERT_TRUE(form().openDeviceFile(dev, dev));
    chart = qobject_cast<chart::StripChart*>(program->window->control("iPlot1"));
    ASSERT_NE(chart, nullptr);
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w)) box->close();
    program.reset();
  }
  app::MainForm& form() { return *program->form; }
  static bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QTest::qWait(10);
    return done();
  }
  void chooseXAxis(int item) {
    auto* box = qobject_cast<QComboBox*>(program->window->control("XAxisCB"));
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(box->isVisibleTo(program->window.get()));
    box->setCurrentIndex(item);
    emit box->activated(item);  // as the operator's choice arrives
  }
  /// The meter sends `n` lines; waits until channel 0 holds `points` points.
  void meterSends(int n, size_t points) {
    std::string lines;
    for (int i = 0; i < n; ++i) lines += std::to_string(1100 + i) + "\t4094\t560\r\n";
    peer.send(lines);
    ASSERT_TRUE(waitFor([&] { return chart->pointCount(0) >= points; })) << chart->pointCount(0);
    chart->redrawNow();
  }

  TempDir dir;
  PtyPeer peer;
  std::unique_ptr<ui::Application> program;
  chart::StripChart* chart = nullptr;
  std::chrono::system_clock::time_point now = startTime();
};

TEST_F(TimeAxisWindow, HostTimeAxisPlotsTimesOfDayLabelsThemAndTracksTheNewest) {
  meterSends(2, 2);
  EXPECT_FALSE(chart->xAxisTimeLabels());
  EXPECT_EQ(chart->series(0)->points().back().x(), 2.0);  // the sample count

  chooseXAxis(1);
  EXPECT_TRUE(chart->xAxisTimeLabels());
  EXPECT_EQ(chart->pointCount(0), 2u) << "the points are kept";
  ASSERT_NE(qobject_cast<QCategoryAxis*>(chart->xAxis()), nullptr);

  const auto firstTime = now;
  meterSends(60, 62);  // two minutes of readings
  const QList<QPointF> points = chart->series(0)->points();
  ASSERT_FALSE(points.isEmpty());
  // Each point's X is the host's local time of day of its line (modulo a day).
  const double last = points.back().x();
  ASSERT_GE(points.size(), 2);
  EXPECT_DOUBLE_EQ(last - points[points.size() - 2].x(), 2.0);
  EXPECT_DOUBLE_EQ(std::fmod(last, 86400.0), localTimeOfDay(firstTime + std::chrono::seconds(118)));

  // Tracking as before: the newest point at the right edge, the span's width in view.
  EXPECT_DOUBLE_EQ(chart->xAxis()->max(), last);
  EXPECT_DOUBLE_EQ(chart->xAxis()->max() - chart->xAxis()->min(), chart->xSpan());

  // Labels: HH:MM:SS at round steps (30 s for a 100 s span) inside the range.
  const QStringList labels = chart->xAxisTimeLabelTexts();
  ASSERT_GE(labels.size(), 3);
  const QRegularExpression hhmmss(QStringLiteral("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$"));
  for (const QString& label : labels) {
    EXPECT_TRUE(hhmmss.match(label).hasMatch()) << label.toStdString();
    const int seconds = label.mid(6, 2).toInt();
    EXPECT_TRUE(seconds == 0 || seconds == 30) << label.toStdString();
  }
  auto* axis = qobject_cast<QCategoryAxis*>(chart->xAxis());
  for (const QString& label : labels) {
    const double at = axis->endValue(label);
    EXPECT_GE(at, chart->xAxis()->min());
    EXPECT_LE(at, chart->xAxis()->max());
    EXPECT_EQ(label, chart::StripChart::timeOfDayText(at));
  }

  // Paused tracking holds the view; resumed, it follows the newest time again.
  chart->setTracking(false);
  const double heldMax = chart->xAxis()->max();
  meterSends(10, 72);
  EXPECT_DOUBLE_EQ(chart->xAxis()->max(), heldMax);
  chart->setTracking(true);
  chart->redrawNow();
  EXPECT_DOUBLE_EQ(chart->xAxis()->max(), chart->series(0)->points().back().x());

  chooseXAxis(0);  // back to the count
  EXPECT_FALSE(chart->xAxisTimeLabels());
  EXPECT_EQ(qobject_cast<QCategoryAxis*>(chart->xAxis()), nullptr);
  EXPECT_TRUE(chart->xAxisTimeLabelTexts().isEmpty());
  meterSends(1, 73);
  EXPECT_EQ(chart->series(0)->points().back().x(), 73.0);
}

TEST(TimeOfDayText, WrapsAtMidnightAndRoundsDown) {
  EXPECT_EQ(chart::StripChart::timeOfDayText(0), "00:00:00");
  EXPECT_EQ(chart::StripChart::timeOfDayText(9 * 3600 + 5 * 60 + 7.9), "09:05:07");
  EXPECT_EQ(chart::StripChart::timeOfDayText(86399), "23:59:59");
  EXPECT_EQ(chart::StripChart::timeOfDayText(86400 + 61), "00:01:01");
  EXPECT_EQ(chart::StripChart::timeOfDayText(-1), "23:59:59");
}

TEST_F(TimeAxisWindow, RecordCsvSitsUnderRecordEngrAndTheExportShowsItsProgress) {
  auto* engr = qobject_cast<QPushButton*>(program->window->control("BTRecordEngr"));
  auto* csv = qobject_cast<QPushButton*>(program->window->control("BTRecordCsv"));
  auto* stop = qobject_cast<QPushButton*>(program->window->control("BTStopRecord"));
  ASSERT_TRUE(engr && csv && stop);
  EXPECT_EQ(csv->text(), "Record CSV (UTC)");
  EXPECT_EQ(csv->parentWidget(), engr->parentWidget());
  EXPECT_GT(csv->geometry().top(), engr->geometry().top());
  EXPECT_LT(csv->geometry().top(), stop->geometry().top());

  auto* bar = qobject_cast<QProgressBar*>(program->window->control("PBExport"));
  auto* cancel = qobject_cast<QPushButton*>(program->window->control("BTExportCancel"));
  ASSERT_TRUE(bar && cancel);
  EXPECT_FALSE(bar->isVisible());
  // A long raw file: the window shows the bar while the ticks convert it, and Cancel ends it.
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes += std::to_string(1000 + i % 900) + "\t4094\t560\r\n";
  const std::string raw = dir.file("long.raw"), out = dir.file("long.csv");
  testsupport::writeFile(raw, bytes);
  ASSERT_TRUE(form().files().StartExport(raw, out, acquire::ConversionFormat::Csv));
  ASSERT_TRUE(waitFor([&] { return bar->isVisible() && bar->value() > 0; }));
  EXPECT_TRUE(cancel->isVisible());
  cancel->click();
  EXPECT_FALSE(form().files().ExportRunning());
  EXPECT_FALSE(bar->isVisible());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(out)));
}

}  // namespace
