// What tells the operator the state at a glance: the recording indicator, the no-data
// notice, the running host clock, and the File menu's recent device files.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "formaccess.h"
#include "formfixture.h"

using testsupport::FormFixture;

namespace {

class VisibleState : public FormFixture {
 protected:
  void configure(app::MainFormOptions& options) override {
    options.steadyClock = [this] { return std::chrono::steady_clock::time_point(elapsed); };
    options.hostClock = [this] { return hostNow; };
  }
  void SetUp() override {
    FormFixture::SetUp();
    tick();
    form->Timer1SecondTimer();
  }
  /// Lets `seconds` pass, then runs the one-second refresh.
  void pass(int seconds) {
    elapsed += std::chrono::seconds(seconds);
    form->Timer1SecondTimer();
  }
  const std::string& text(const char* name) const { return form->view().text(name); }
  bool visible(const char* name) const { return form->view().visible(name); }

  std::chrono::steady_clock::duration elapsed = std::chrono::hours(1);
  measure::HostTime hostNow = testsupport::fixedHostTime();
};

TEST_F(VisibleState, RecordingIndicatorNamesTheFilesTheirSizeAndTime) {
  ASSERT_TRUE(form->files().StartRecording(acquire::Recordings::Stream::Raw, dir.file("r.raw")));
  tick();
  EXPECT_EQ(form->view().get("LBRecording").colour, app::kColourRed);
  testsupport::dispatchLine(*form, std::string(2045, '7'));  // 2047 bytes with CR LF
  loadExample("ntu.dev");
  ASSERT_TRUE(form->files().StartRecording(acquire::Recordings::Stream::Csv, dir.file("c.csv")));
  pass(3725);
  const long csv = form->files().recordings().bytes(acquire::Recordings::Stream::Csv);
  EXPECT_EQ(text("LBRecording"), "RECORDING  01:02:05  r.raw 2.0 K, c.csv " + std::to_string(csv) + " B");
  form->click("BTStopRecord");
  tick();  // gone at once
  EXPECT_EQ(text("LBRecording"), "Not recording");
  EXPECT_EQ(form->view().get("LBRecording").colour, app::kColourDefault);
}

// Counted from the open or Start Data; cleared by a line, Stop Data and closing the port.
TEST_F(VisibleState, NoDataNoticeAfterTheSetSilence) {
  choosePort(1);
  pass(9);
  EXPECT_FALSE(visible("LBNoData"));
  pass(3);
  EXPECT_EQ(text("LBNoData"), "No data for 12 s");
  peer.send("AVE 30\r\n");
  ticks(3);
  EXPECT_FALSE(visible("LBNoData"));
  for (const std::string end : {"Stop Data", "close"}) {
    form->click("BTStartData");
    pass(10);
    EXPECT_TRUE(visible("LBNoData")) << end;
    if (end == "close") form->ClosePort();
    else form->click("BTStopData");
    EXPECT_FALSE(visible("LBNoData")) << end;
    pass(60);
    EXPECT_FALSE(visible("LBNoData")) << end;
  }
}

TEST_F(VisibleState, NoDataSecondsAreCheckedAndSavedAtOnce) {
  struct Case { const char* typed; int kept; };
  const Case cases[] = {{" 30 ", 30}, {"0", 30}, {"86401", 30}, {"1e3", 30}, {"", 30}, {"86400", 86400}, {"30", 30}};
  for (const Case& c : cases) {
    form->view().setText("EDNoDataSeconds", c.typed);
    form->click("BTNoDataSeconds");
    EXPECT_EQ(app::WindowSettings::load(dir.path()).noDataSeconds, c.kept) << c.typed;
    EXPECT_EQ(text("EDNoDataSeconds"), std::to_string(c.kept)) << c.typed;
  }
  EXPECT_EQ(ui.countBoxes("Invalid Value"), 4u);
  choosePort(1);
  pass(29);
  EXPECT_FALSE(visible("LBNoData"));
  pass(1);
  EXPECT_EQ(text("LBNoData"), "No data for 30 s");
}

TEST_F(VisibleState, HostClockRunsOnAfterStopData) {
  loadExample("ntu.dev");
  choosePort(1);
  form->click("BTStartData");
  peer.send("VER 2.10\r\nCLK 12:05:30\r\nDAT 07/01/03\r\n");
  ticks(2);
  form->click("BTStopData");
  hostNow.minute = 6;
  hostNow.second = 12;
  pass(65);
  EXPECT_EQ(text("LBHostDandT"), "Host:  02/03/26  09:06:12");
  form->Timer500msTimer();
  EXPECT_EQ(text("LBMARUDandT"), "MARU:   07/01/03  12:05:30");
}

TEST_F(VisibleState, RecentDeviceFilesAreNotedListedAndLoadedAgain) {
  const std::string bb = dir.file("bb3.dev");
  const std::string fl = testsupport::example("flasv.dev");
  std::filesystem::copy_file(testsupport::example("bb3.dev"), bb);
  for (const std::string& path : {bb, fl, bb}) ASSERT_TRUE(form->openDeviceFile(path, path));
  const auto items = form->recentDeviceFiles();
  ASSERT_EQ(items.size(), 2u);  // once each, the latest first
  EXPECT_EQ(items[0].click, "RecentDeviceFile1");
  EXPECT_EQ(items[0].caption, "1 bb3.dev");
  EXPECT_EQ(items[1].path, fl);
  EXPECT_EQ(app::WindowSettings::load(dir.path()).recentDeviceFiles, (std::vector<std::string>{bb, fl}));

  ASSERT_TRUE(form->click("RecentDeviceFile2"));
  EXPECT_EQ(text("LBDeviceFile"), "Device File:  " + fl);
  // A file gone since: the usual box, out of the list, and the file in force stays.
  std::filesystem::remove(bb);
  form->click("RecentDeviceFile2");
  ASSERT_EQ(ui.countBoxes("Device File Error"), 1u);
  EXPECT_NE(ui.boxes.back().text.find(bb), std::string::npos);
  EXPECT_EQ(form->shared().DeviceFilePath, fl);
  EXPECT_EQ(app::WindowSettings::load(dir.path()).recentDeviceFiles, (std::vector<std::string>{fl}));
}

}  // namespace
