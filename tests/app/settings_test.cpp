// The settings of the last run: "last.rbs" written at exit through the menu and
// restored by the first one-second tick of a new form in the same working directory.
#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "app/fakechart.h"
#include "app/windowsettings.h"
#include "formaccess.h"
#include "formfixture.h"

using testsupport::FormFixture;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

class Settings : public FormFixture {
 protected:
  void SetUp() override { startForm(); }

  /// A new main form on the test's working directory, as at a program start, with a
  /// chart that records where it saved and loaded its properties.
  void startForm() {
    form.reset();
    fake = std::make_unique<apptest::FakeChart>();
    makeForm();
  }
  chart::PlotChart& formChart() override { return *fake; }
  /// The first ticks after a start: the 55 ms set-up, then the one-second restore.
  void startTicks() {
    tick();
    form->Timer1SecondTimer();
  }
  std::string settingsFile() const { return readFile(dir.file("last.rbs")); }
  bool settingsExist() const { return std::filesystem::exists(dir.file("last.rbs")); }
  void copyExample(const std::string& name) {
    std::filesystem::copy_file(testsupport::example(name), dir.file(name));
  }
  /// Nothing restored: the start state of the window.
  void expectStartState() {
    EXPECT_TRUE(form->shared().DeviceFilePath.empty());
    EXPECT_EQ(form->shared().OpenPortNumber, 0);
    EXPECT_EQ(form->view().itemIndex("CBHostPort"), -1);
    EXPECT_EQ(form->shared().BaudIndex, 2);
    EXPECT_FALSE(form->shared().PowerUser);
    EXPECT_EQ(form->shared().Plot.PlotType, 0);
    EXPECT_EQ(form->view().activePage, 0);
    EXPECT_TRUE(form->view().visible("PMeterType"));
    EXPECT_EQ(form->view().text("LBDeviceFile"), "Device File:");
    EXPECT_FALSE(form->shared().ChannelSetupPending);
    EXPECT_TRUE(fake->loadedFrom.empty());
  }

  std::unique_ptr<apptest::FakeChart> fake;
};

TEST_F(Settings, ChoicesSurviveARestartAndThePortReopens) {
  copyExample("bb3.dev");
  startTicks();
  choosePort(1, 3);
  ASSERT_TRUE(form->openDeviceFile(dir.file("bb3.dev"), dir.file("bb3.dev")));
  testsupport::editState(*form).PowerUser = true;
  auto choose = [&](const char* box, int item) {
    form->view().setItemIndex(box, item);
    ASSERT_TRUE(form->changed(box));
  };
  choose("StdDevCB", 2);
  choose("PlotTypeCB", 1);
  choose("BBPlotCB", 2);
  choose("iTempCB", 1);
  choose("PresCB", 1);
  testsupport::editState(*form).RefCorrectionOn = true;  // no control: only the file sets these
  ASSERT_EQ(form->shared().Plot.StdDevWindow, 15);

  ASSERT_TRUE(form->click("Exit1"));
  EXPECT_EQ(quitCode, 0);
  EXPECT_EQ(settingsFile(), "1 3 1 15 1 2 1 0 1 1 0\nbb3.dev\n");
  EXPECT_EQ(fake->savedTo, std::vector<std::string>{dir.file("maruiocomp.rbs")});
  EXPECT_FALSE(testsupport::formSession(*form).portOpen());

  startForm();
  writeFile(dir.file("maruiocomp.rbs"), "[chart]\n");  // what the real chart would have saved
  tick();
  EXPECT_EQ(form->shared().OpenPortNumber, 0);
  form->Timer1SecondTimer();
  EXPECT_EQ(form->shared().DeviceFilePath, "bb3.dev");
  EXPECT_EQ(form->view().text("LBDeviceFile"), "Device File:  bb3.dev");
  EXPECT_EQ(form->shared().Config.DataFieldCount, 9);
  EXPECT_EQ(form->view().itemIndex("CBHostPort"), 1);
  EXPECT_EQ(form->view().itemIndex("CBBaudRate"), 3);
  EXPECT_EQ(form->shared().OpenPortNumber, 1);
  EXPECT_EQ(form->shared().BaudIndex, 3);
  termios t{};
  ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_TRUE(form->shared().PowerUser);
  EXPECT_EQ(form->shared().Plot.StdDevWindow, 15);
  EXPECT_EQ(form->view().itemIndex("StdDevCB"), 2);
  EXPECT_EQ(form->shared().Plot.PlotType, 1);
  EXPECT_EQ(form->view().itemIndex("PlotTypeCB"), 1);
  EXPECT_EQ(form->shared().Plot.BBPlotChoice, 2);
  EXPECT_EQ(form->view().itemIndex("BBPlotCB"), 2);
  EXPECT_EQ(form->shared().Plot.ITempPlotChoice, 1);
  EXPECT_EQ(form->view().itemIndex("iTempCB"), 1);
  EXPECT_EQ(form->shared().Plot.XTempPlotChoice, 0);
  EXPECT_EQ(form->shared().Plot.PresPlotChoice, 1);
  EXPECT_EQ(form->view().itemIndex("PresCB"), 1);
  EXPECT_TRUE(form->shared().RefCorrectionOn);
  EXPECT_FALSE(form->shared().TempCorrectionOn);
  EXPECT_EQ(form->view().activePage, 4);
  EXPECT_FALSE(form->view().visible("PMeterType"));
  EXPECT_FALSE(form->view().visible("PCOMPort"));
  EXPECT_EQ(fake->loadedFrom, std::vector<std::string>{dir.file("maruiocomp.rbs")});
  // The reloaded device file gets its option boxes now and its channels on the next tick.
  EXPECT_TRUE(form->view().visible("PlotTypeCB"));
  EXPECT_TRUE(form->view().visible("BBPlotCB"));
  EXPECT_TRUE(form->shared().ChannelSetupPending);
  EXPECT_TRUE(ui.boxes.empty());

  for (int i = 1; i <= 9; ++i) {
    tick();
    ASSERT_EQ(peer.receive(5, 5), "") << "tick " << i;
  }
  EXPECT_FALSE(form->shared().ChannelSetupPending);
  EXPECT_EQ(fake->ChannelCount(), 4);  // three backscatter signals and the internal temperature
  tick();
  EXPECT_EQ(peer.receive(), "$mnu\r\n");

  // Only the first one-second tick restores.
  writeFile(dir.file("last.rbs"), "0 0 0 0 0 0 0 0 0 0 0\nbb3.dev\n");
  form->Timer1SecondTimer();
  EXPECT_EQ(form->shared().OpenPortNumber, 1);
  EXPECT_EQ(form->view().itemIndex("CBHostPort"), 1);
}

TEST_F(Settings, DeviceFileFromAnotherFolderIsLookedForByNameInTheWorkingDirectory) {
  startTicks();
  choosePort(1);
  const std::string elsewhere = loadExample("flcd.dev");
  ASSERT_NE(elsewhere, dir.file("flcd.dev"));
  form->click("Exit1");
  EXPECT_EQ(settingsFile(), "1 2 0 0 0 0 0 0 0 0 0\nflcd.dev\n");

  startForm();
  startTicks();
  expectStartState();  // not in the working directory: nothing at all is restored
  EXPECT_TRUE(ui.boxes.empty());

  copyExample("flcd.dev");
  startForm();
  startTicks();
  EXPECT_EQ(form->shared().DeviceFilePath, "flcd.dev");
  EXPECT_EQ(form->shared().OpenPortNumber, 1);
}

TEST_F(Settings, ExitWithoutADeviceFileOrWithoutAHostChoiceWritesNothing) {
  startTicks();
  choosePort(1);
  form->click("Exit1");
  EXPECT_EQ(quitCode, 0);
  EXPECT_FALSE(settingsExist());
  EXPECT_TRUE(fake->savedTo.empty());

  startForm();
  startTicks();
  loadExample("ntu.dev");
  ASSERT_EQ(form->view().itemIndex("CBHostPort"), -1);  // never chosen
  quitCode = -1;
  form->click("Exit1");
  EXPECT_EQ(quitCode, 0);
  EXPECT_FALSE(settingsExist());
  EXPECT_TRUE(fake->savedTo.empty());
}

TEST_F(Settings, ExitWithSelectHostPortChosenStillSaves) {
  startTicks();
  loadExample("ntu.dev");
  choosePort(0, 0);
  form->click("Exit1");
  EXPECT_EQ(settingsFile(), "0 0 0 0 0 0 0 0 0 0 0\nntu.dev\n");
  EXPECT_EQ(fake->savedTo.size(), 1u);

  copyExample("ntu.dev");
  startForm();
  startTicks();
  EXPECT_EQ(form->shared().DeviceFilePath, "ntu.dev");
  EXPECT_EQ(form->view().itemIndex("CBHostPort"), 0);
  EXPECT_EQ(form->shared().BaudIndex, 0);
  EXPECT_EQ(form->shared().OpenPortNumber, 0);
  EXPECT_TRUE(form->view().visible("PCOMPort"));
  EXPECT_TRUE(fake->loadedFrom.empty());  // no chart file in the folder
}

TEST_F(Settings, SecondLineIsTheNameWithoutDriveOrFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"/home/op/meters/bb3.dev", "bb3.dev"}, {"C:\\MARU\\Dev\\FL.DEV", "FL.DEV"}, {"D:ntu.dev", "ntu.dev"},
      {"flcd.dev", "flcd.dev"}};
  startTicks();
  choosePort(0);
  for (const auto& [path, name] : cases) {
    testsupport::editState(*form).DeviceFilePath = path;
    form->SaveSettings();
    EXPECT_EQ(settingsFile(), std::string("0 2 0 0 0 0 0 0 0 0 0\n") + name + "\n") << path;
  }
}

TEST_F(Settings, SettingsFileThatCannotBeCreatedStopsTheSaveQuietly) {
  std::filesystem::create_directory(dir.file("last.rbs"));
  startTicks();
  choosePort(1);
  loadExample("ntu.dev");
  form->click("Exit1");
  EXPECT_EQ(quitCode, 0);
  EXPECT_TRUE(fake->savedTo.empty());  // not even the chart's file
  EXPECT_TRUE(ui.boxes.empty());
}

// ---- Files that restore nothing, or restore with a quirk

struct RestoreCase {
  const char* name;
  const char* settings;  ///< contents of last.rbs ("" = no file)
  bool restores;
};

std::ostream& operator<<(std::ostream& os, const RestoreCase& c) { return os << c.name; }

class Restore : public Settings, public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(Restore, RestoresOnlyAWellFormedFileNamingAReadableDeviceFile) {
  copyExample("ntu.dev");
  writeFile(dir.file("bad.dev"), "Broken\nColumns=2\nCHL=x\n");
  std::filesystem::create_directory(dir.file("folder.dev"));
  if (GetParam().settings[0]) writeFile(dir.file("last.rbs"), GetParam().settings);
  startTicks();
  if (!GetParam().restores) {
    expectStartState();
    // A device file that fails to parse gives its own messages and no other.
    for (const auto& box : ui.boxes) EXPECT_EQ(box.caption, "MARU Device File Error") << box.text;
    ticks(12);  // the start-up request goes nowhere
    EXPECT_EQ(peer.receive(100), "");
    return;
  }
  EXPECT_EQ(form->shared().DeviceFilePath, "ntu.dev");
  EXPECT_EQ(form->shared().OpenPortNumber, 1);
  EXPECT_TRUE(form->shared().ChannelSetupPending);
  EXPECT_TRUE(ui.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, Restore,
    ::testing::Values(RestoreCase{"NoFile", "", false},
                      RestoreCase{"TenNumbers", "1 2 0 0 0 0 0 0 0 0\nntu.dev\n", false},
                      RestoreCase{"TenNumbersThenName", "1 2 0 0 0 0 0 0 0 0 ntu.dev\nntu.dev\n", false},
                      RestoreCase{"NoSecondLine", "1 2 0 0 0 0 0 0 0 0 0\n", false},
                      RestoreCase{"EmptyName", "1 2 0 0 0 0 0 0 0 0 0\n\n", false},
                      RestoreCase{"FolderName", "1 2 0 0 0 0 0 0 0 0 0\nfolder.dev\n", false},
                      RestoreCase{"MissingDevice", "1 2 0 0 0 0 0 0 0 0 0\nnone.dev\n", false},
                      RestoreCase{"DeviceFailsToParse", "1 2 1 0 1 0 0 0 0 0 0\nbad.dev\n", false},
                      RestoreCase{"NumberTooLarge", "1 2 0 0 0 0 0 0 0 0 99999999999\nntu.dev\n", false},
                      RestoreCase{"CrLfLines", "1 2 0 0 0 0 0 0 0 0 0\r\nntu.dev\r\n", true},
                      RestoreCase{"AnyWhiteSpace", "\t1  2\t0 0 0 0 +0 0 0 0\t0\nntu.dev\n", true},
                      RestoreCase{"ThreeLines", "1 2 0 0 0 0 0 0 0 0 0\nntu.dev\nmore\n", true}),
    [](const ::testing::TestParamInfo<RestoreCase>& info) { return std::string(info.param.name); });

// The four windows the box offers set its item; any other (without power-user rights, which
// would read the box back) sets the value and leaves the box.
TEST_F(Settings, StatisticsChoicesMapOntoTheBoxItems) {
  copyExample("ntu.dev");
  struct Case { int power, window, before, item; };
  for (const Case& c : {Case{1, 0, 3, 0}, Case{1, 1, 0, 1}, Case{1, 15, 1, 2}, Case{1, 60, 2, 3}, Case{0, 7, 1, 1}}) {
    writeFile(dir.file("last.rbs"),
              "1 2 " + std::to_string(c.power) + " " + std::to_string(c.window) + " 0 0 0 0 0 0 0\nntu.dev\n");
    startForm();
    tick();
    form->view().setItemIndex("StdDevCB", c.before);
    form->Timer1SecondTimer();
    EXPECT_EQ(form->shared().DeviceFilePath, "ntu.dev");
    EXPECT_EQ(form->view().itemIndex("StdDevCB"), c.item) << c.window;
    EXPECT_EQ(form->shared().Plot.StdDevWindow, c.window);
  }
}

TEST_F(Settings, CorrectionSwitchesComeOnlyFromTheFile) {
  copyExample("bb3.dev");
  writeFile(dir.file("last.rbs"), "1 2 0 0 0 0 0 0 0 0 1\nbb3.dev\n");
  startTicks();
  EXPECT_FALSE(form->shared().RefCorrectionOn);
  EXPECT_TRUE(form->shared().TempCorrectionOn);
  choosePort(1);
  form->click("Exit1");
  EXPECT_EQ(settingsFile(), "1 2 0 0 0 0 0 0 0 0 1\nbb3.dev\n");
}

// The window's own settings come back at the next start; a damaged value keeps its default.
TEST(WindowSettingsFile, KeepsWhatWasSetAndRefusesDamagedValues) {
  testsupport::TempDir dir;
  app::WindowSettings set;
  set.meterClockZone = "Europe/Oslo";
  set.noDataSeconds = 30;
  for (int i = 0; i < app::WindowSettings::kRecentFiles + 2; ++i) set.noteDeviceFile("m" + std::to_string(i) + ".dev");
  set.noteDeviceFile("m3.dev");
  ASSERT_TRUE(set.save(dir.path()));
  const app::WindowSettings back = app::WindowSettings::load(dir.path());
  EXPECT_EQ(back.meterClockZone, "Europe/Oslo");
  EXPECT_EQ(back.noDataSeconds, 30);
  ASSERT_EQ(back.recentDeviceFiles.size(), size_t(app::WindowSettings::kRecentFiles));
  EXPECT_EQ(back.recentDeviceFiles.front(), "m3.dev");
  EXPECT_EQ(back.recentDeviceFiles[1], "m9.dev");
  EXPECT_EQ(std::count(back.recentDeviceFiles.begin(), back.recentDeviceFiles.end(), "m3.dev"), 1);

  writeFile(dir.file("maruview.ini"), "[General]\nmeter_clock_zone=Mars/Olympus\nno_data_seconds=0\n");
  const app::WindowSettings damaged = app::WindowSettings::load(dir.path());
  EXPECT_EQ(damaged.meterClockZone, "UTC");
  EXPECT_EQ(damaged.noDataSeconds, 10);
}

}  // namespace
