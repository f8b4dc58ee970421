// End to end on the virtual meter: the program's own serial layer, receive loop,
// decoder, plot page and setup pages against `maru sim` over its pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/mainform.h"
#include "nullchart.h"
#include "scriptedui.h"
#include "support/ptypeer.h"
#include "support/simprocess.h"
#include "support/testfiles.h"

namespace {

using testsupport::pumpEvents;

using testsupport::example;

class OnVirtualMeter : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(example("bb3.dev"), dir.file("bb3.dev"));
    sim = std::make_unique<testsupport::SimProcess>(
        QStringList{"--dev", QString::fromStdString(example("bb3.dev")), "--baud", "38400", "--seed", "7", "--rate", "8"});
    ASSERT_FALSE(sim->path().empty()) << "maru sim did not start";
    makeForm();
  }
  void makeForm() {
    form.reset();
    chart = std::make_unique<app::NullChart>();
    app::MainFormOptions options;
    options.ports.bind(1, sim->path());
    options.workingDir = dir.path();
    options.quit = [this](int code) { quitCode = code; };
    form = std::make_unique<app::MainForm>(ui, *chart, options);
  }
  /// Runs the receive tick every 55 ms, with the slower refresh ticks in step.
  void run(int ms) {
    for (int t = 0; t < ms; t += 55) {
      pumpEvents(55);
      form->Timer55msTimer();
      if ((t / 55) % 9 == 0) form->Timer500msTimer();
      if ((t / 55) % 18 == 0) form->Timer1SecondTimer();
    }
  }
  template <typename Pred>
  bool runUntil(Pred done, int maxMs) {
    for (int t = 0; t < maxMs; t += 55) {
      if (done()) return true;
      run(55);
    }
    return done();
  }
  /// The first receive tick, bb3.dev loaded (under `name`), then host port 1 at 38400 baud.
  void loadAndConnect(const std::string& name) {
    form->Timer55msTimer();
    ASSERT_TRUE(form->openDeviceFile(dir.file("bb3.dev"), name));
    form->view().setItemIndex("CBBaudRate", 3);
    form->view().setItemIndex("CBHostPort", 1);
    form->changed("CBHostPort");
    ASSERT_EQ(form->shared().OpenPortNumber, 1);
  }

  testsupport::TempDir dir;
  std::unique_ptr<testsupport::SimProcess> sim;
  testsupport::ScriptedUi ui;
  std::unique_ptr<app::NullChart> chart;
  std::unique_ptr<app::MainForm> form;
  int quitCode = -1;
};

TEST_F(OnVirtualMeter, EveryAcceptedLineAddsAPointToEachPlottedChannel) {
  loadAndConnect("bb3.dev");
  ASSERT_TRUE(runUntil([&] { return form->shared().Sample.SampleCounter >= 6; }, 8000));
  run(300);
  // Three backscatter channels and the internal temperature; temperature is kept but
  // not shown until the operator asks for it, and its title still follows the value.
  ASSERT_EQ(chart->ChannelCount(), 4);
  const long lines = static_cast<long>(form->shared().Sample.SampleCounter);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(chart->Points(c), lines) << "channel " << c;
  EXPECT_FALSE(chart->Shown(3));
  EXPECT_EQ(chart->ChannelTitle(0).find("470 nm: "), 0u) << chart->ChannelTitle(0);
  EXPECT_NE(chart->ChannelTitle(3).find("iTemp: "), std::string::npos);
  EXPECT_EQ(chart->TitleText(), form->shared().Config.MeterTitle);
  EXPECT_TRUE(ui.boxes.empty()) << ui.boxes.front().caption << ": " << ui.boxes.front().text;

  // Asking for the temperature shows it, with the points kept from the start.
  form->view().setItemIndex("iTempCB", 1);
  form->changed("iTempCB");
  EXPECT_TRUE(chart->Shown(3));
  const long before = static_cast<long>(form->shared().Sample.SampleCounter);
  ASSERT_TRUE(runUntil([&] { return form->shared().Sample.SampleCounter >= before + 3; }, 6000));
  EXPECT_EQ(chart->Points(3), static_cast<long>(form->shared().Sample.SampleCounter));
  EXPECT_EQ(chart->Points(0), chart->Points(3));
}

TEST_F(OnVirtualMeter, SetupChangesAreMarkedUntilStoredAndTheSetupFillsThePage) {
  loadAndConnect("bb3.dev");
  // The setup request ten ticks after the port change brings the meter's version.
  ASSERT_TRUE(runUntil([&] { return form->shared().Meter.MeterVersionSeen; }, 5000));
  EXPECT_NE(form->view().windowCaption.find("MARU: VER"), std::string::npos) << form->view().windowCaption;

  form->view().setText("MEAverage", "12");
  form->click("BTAverage");
  EXPECT_TRUE(form->view().visible("PStore"));
  EXPECT_EQ(form->view().text("PStore"), "Setup Not Stored");
  ASSERT_TRUE(runUntil([&] { return form->shared().Meter.MeterAverage == 12; }, 5000));
  EXPECT_TRUE(form->view().visible("PStore"));

  form->click("BTStoreToFlash1");
  ASSERT_TRUE(runUntil([&] { return !form->view().visible("PStore"); }, 5000));

  form->view().setText("MEPacket", "4");
  form->click("BTPacket");
  ASSERT_TRUE(runUntil([&] { return form->shared().Meter.MeterSamples == 4; }, 5000));
  form->click("BTGetSetup1");
  run(1500);
  EXPECT_EQ(form->view().text("LBAVE"), "Average: 12");
  EXPECT_EQ(form->view().text("LBNS"), "Number of Sample: 4");
  EXPECT_EQ(form->view().text("LBNC").rfind("Number of Cycles: ", 0), 0u);
  EXPECT_EQ(form->view().text("LBCI").rfind("Cycle Interval: ", 0), 0u);
  EXPECT_NE(form->view().text("LBCI"), "Cycle Interval: hhmmss");
  EXPECT_EQ(form->view().text("LBStorageUsed").rfind("Used:  ", 0), 0u);
  EXPECT_NE(form->view().text("LBMARUDandT").find('/'), std::string::npos);
}

TEST_F(OnVirtualMeter, AReturningOperatorGetsLiveDataWithTheSameChoices) {
  loadAndConnect(dir.file("bb3.dev"));
  form->Timer1SecondTimer();  // nothing saved yet: nothing restored
  form->view().setItemIndex("PlotTypeCB", 1);
  form->changed("PlotTypeCB");
  form->view().setItemIndex("BBPlotCB", 2);
  form->changed("BBPlotCB");
  ui.files.push_back(dir.file("session.raw"));
  form->click("BTRecordRaw");
  ASSERT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  ASSERT_TRUE(runUntil([&] { return form->shared().Sample.SampleCounter >= 3; }, 6000));
  form->click("Exit1");
  EXPECT_EQ(quitCode, 0);
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  const std::string saved = testsupport::readFile(dir.file("last.rbs"));
  EXPECT_EQ(saved, "1 3 0 0 1 2 0 0 0 0 0\nbb3.dev\n");
  EXPECT_FALSE(testsupport::readFile(dir.file("session.raw")).empty());

  // Start again in the same directory: no operator action.
  ui.boxes.clear();
  makeForm();
  form->Timer55msTimer();
  run(1100);
  EXPECT_EQ(form->shared().DeviceFilePath, "bb3.dev");
  EXPECT_EQ(form->shared().OpenPortNumber, 1);
  EXPECT_EQ(form->shared().Plot.PlotType, 1);
  EXPECT_EQ(form->shared().Plot.BBPlotChoice, 2);
  EXPECT_EQ(form->view().itemIndex("PlotTypeCB"), 1);
  EXPECT_EQ(form->view().activePage, 4);
  ASSERT_TRUE(runUntil([&] { return form->shared().Sample.SampleCounter >= 3; }, 6000));
  ASSERT_EQ(chart->ChannelCount(), 4);
  EXPECT_GT(chart->Points(0), 0);
  EXPECT_EQ(chart->ChannelTitle(0).rfind("bbp 470: ", 0), 0u) << chart->ChannelTitle(0);
  EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
