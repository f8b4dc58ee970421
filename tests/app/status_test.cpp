// The periodic refresh: what the 500 ms and one-second ticks copy into the labels.
#include <gtest/gtest.h>

#include <string>

#include "formaccess.h"
#include "formfixture.h"

using testsupport::FormFixture;

namespace {

class Status : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    tick();  // the first 55 ms tick sets up the window
    form->Timer1SecondTimer();  // the one-time restore finds no settings file
  }
  const std::string& text(const char* name) const { return form->view().text(name); }
  bool visible(const char* name) const { return form->view().visible(name); }
  void reply(const std::string& line) { testsupport::dispatchLine(*form, line); }
};

// ---- 500 ms: memory use

TEST_F(Status, MemoryUsedAndFreeInKilobytesAndPercent) {
  struct Case { int pages; const char* used; const char* free; };
  const Case cases[] = {{-1, "Used:  0 K  -0.0 %", "Free:  1056 K  100.0 %"},
                        {0, "Used:  0 K   0.0 %", "Free:  1055 K  100.0 %"},
                        {1, "Used:  0 K   0.0 %", "Free:  1055 K  100.0 %"},
                        {2048, "Used:  528 K  50.0 %", "Free:  527 K  50.0 %"},
                        {4095, "Used:  1055 K  100.0 %", "Free:  0 K   0.0 %"},
                        {2147483647, "Used:  553648127 K  52441608.0 %", "Free:  -553647072 K  -52441508.0 %"}};
  testsupport::editState(*form).Meter.MeterVersionSeen = true;
  for (const Case& c : cases) {
    testsupport::editState(*form).Meter.MeterMemoryUsed = c.pages;
    form->Timer500msTimer();
    EXPECT_EQ(text("LBStorageUsed"), c.used) << c.pages;
    EXPECT_EQ(text("LBStorageFree"), c.free) << c.pages;
  }
}

// ---- 500 ms: the setup labels

TEST_F(Status, SetupLabelsKeepTheirDesignCaptionsUntilTheMeterAnswers) {
  loadExample("ntu.dev");
  for (const char* line : {"AVE 30", "PKT 4", "SET 2", "INT 001500", "REC 1", "CAL 1", "MEM 10"}) reply(line);
  form->Timer500msTimer();
  EXPECT_EQ(text("LBAVE"), "Avg:");
  EXPECT_EQ(text("LBNS"), "Number of Samples:");
  EXPECT_EQ(text("LBNC"), "Number of Cycles:");
  EXPECT_EQ(text("LBCI"), "Cycle Interval:");
  EXPECT_EQ(text("LBLog"), "Logging:");
  EXPECT_EQ(text("BTLogging"), "Turn Logging On");
  EXPECT_EQ(text("LBCal"), ":");
  EXPECT_EQ(text("BTCal"), "Turn Engr Output ON");
  EXPECT_EQ(text("LBStorageUsed"), "Used:  ");
  EXPECT_EQ(text("LBMARUDandT"), "MARU:  MM/DD/YY HH:MM:SS");

  reply("VER 2.10");
  form->Timer500msTimer();
  EXPECT_EQ(text("LBAVE"), "Average: 30");
  EXPECT_EQ(text("LBNS"), "Number of Sample: 4");
  EXPECT_EQ(text("LBNC"), "Number of Cycles: 2");
  EXPECT_EQ(text("LBCI"), "Cycle Interval: 001500");
  EXPECT_EQ(text("LBLog"), "Logging: ON");
  EXPECT_EQ(text("BTLogging"), "Turn Logging OFF");
  EXPECT_EQ(text("LBCal"), "Engr Output: ON");
  EXPECT_EQ(text("BTCal"), "Turn Engr Output OFF");
  EXPECT_EQ(text("LBStorageUsed"), "Used:  2 K   0.2 %");
  // No date known yet: the running sample count stands in for it.
  EXPECT_EQ(text("LBMARUDandT"), "MARU:  0");
  EXPECT_EQ(text("LBHostDandT"), "Host:  02/03/26  09:05:07");  // the host's clock runs whatever the meter tells

  for (const char* line : {"REC 0", "CAL 0", "CLK 12:05:30", "DAT 07/01/03"}) reply(line);
  form->Timer500msTimer();
  EXPECT_EQ(text("LBLog"), "Logging: OFF");
  EXPECT_EQ(text("BTLogging"), "Turn Logging ON");
  EXPECT_EQ(text("LBCal"), "Engr Output: OFF");
  EXPECT_EQ(text("BTCal"), "Turn Engr Output ON");
  EXPECT_EQ(text("LBMARUDandT"), "MARU:   07/01/03  12:05:30");
  EXPECT_EQ(text("LBHostDandT"), "Host:  02/03/26  09:05:07");
}

TEST_F(Status, TimingValuesAreShownOnceKnownAndStay) {
  loadExample("ntu.dev");
  form->Timer500msTimer();
  EXPECT_EQ(text("LBph1onTime"), ":");
  for (const char* line : {"01N 7", "01F 8", "11N 9", "11F -3"}) reply(line);
  for (int i = 0; i < 2; ++i) {
    form->Timer500msTimer();
    EXPECT_EQ(text("LBph1onTime"), "7");
    EXPECT_EQ(text("LBph1offTime"), "8");
    EXPECT_EQ(text("LBph11onTime"), "9");
    EXPECT_EQ(text("LBph11offTime"), "-3");
  }
  EXPECT_TRUE(form->shared().Meter.MeterPh11OffTimeKnown);
}

TEST_F(Status, EngineeringScaleAndOffsetAreShownOncePerReply) {
  loadExample("flasv.dev");
  reply("UGL 73");
  reply("OFF 12");
  form->Timer500msTimer();
  EXPECT_EQ(text("LBuglscale"), "0.0073");
  EXPECT_EQ(text("LBugloffset"), "12");
  EXPECT_FALSE(form->shared().Meter.MeterEngrScaleFresh);
  EXPECT_FALSE(form->shared().Meter.MeterEngrOffsetFresh);
  // A value that arrived without its fresh flag is not drawn.
  testsupport::editState(*form).Meter.MeterEngrScale = 200;
  testsupport::editState(*form).Meter.MeterEngrOffset = 99;
  form->Timer500msTimer();
  EXPECT_EQ(text("LBuglscale"), "0.0073");
  EXPECT_EQ(text("LBugloffset"), "12");
  // The scale is read as an unsigned 32-bit count of 0.0001 units.
  reply("UGL -1");
  form->Timer500msTimer();
  EXPECT_EQ(text("LBuglscale"), "429496.7188");
}

// ---- 500 ms: FL-Setup from the device file

// Only a device file with analog ranges shows the FL-Setup page and its ranges.
TEST_F(Status, FlSetupPageAndRangesFollowTheDeviceFile) {
  ASSERT_FALSE(visible("TSFLSetup"));
  loadExample("ntu.dev");
  for (int i = 0; i < 3; ++i) form->Timer500msTimer();
  EXPECT_FALSE(visible("TSFLSetup"));
  EXPECT_EQ(text("LBHiRes"), "ASV1:  Hi Resolution   0-30 Engr Units");
  EXPECT_EQ(text("LBDFuglscale"), ":");
  loadExample("flasv.dev");
  form->Timer500msTimer();
  EXPECT_TRUE(visible("TSFLSetup"));
  EXPECT_EQ(text("LBHiRes"), "ASV1:  Hi Resolution   0.0-5.0 ug/l");
  EXPECT_EQ(text("LBStdRes"), "ASV2:  Std Resolution  0.0-2.5 ug/l");
  EXPECT_EQ(text("LBWideRange"), "ASV4:  Wide Range:     0.0-1.2 ug/l");
  EXPECT_EQ(text("LBDFuglscale"), "0.0073");
  EXPECT_EQ(text("LBDFugloffset"), "48");
}

TEST_F(Status, OnlyTheArrowOfTheMetersRangeIsShown) {
  struct Case { unsigned range; bool hr, sr, wr; };
  loadExample("flasv.dev");
  for (const Case& c : {Case{1, true, false, false}, Case{2, false, true, false}, Case{4, false, false, true},
                        Case{3, false, false, false}, Case{0, false, false, false}}) {
    // Start from every arrow shown, so that hiding is checked too.
    for (const char* a : {"HRArrow", "SRArrow", "WRArrow"}) form->view().setVisible(a, true);
    testsupport::editState(*form).Meter.MeterAnalogRange = c.range;
    form->Timer500msTimer();
    EXPECT_EQ(visible("HRArrow"), c.hr) << c.range;
    EXPECT_EQ(visible("SRArrow"), c.sr) << c.range;
    EXPECT_EQ(visible("WRArrow"), c.wr) << c.range;
  }
}

// ---- One second: rights and counters (the recording and transfer labels: csvrecording_test,
// files_test)

TEST_F(Status, PowerUserPanelAndTheStatisticsBox) {
  struct Case {
    bool powerUser;
    int plotType;
    const char* caption;
    int64_t colour;
    bool stdDev;
  };
  const Case cases[] = {{false, 0, "Normal User", app::kColourButtonFace, false},
                        {true, 0, "Power User", app::kColourRed, true},
                        {true, 1, "Power User", app::kColourRed, false},
                        {false, 1, "Normal User", app::kColourButtonFace, false}};
  for (const Case& c : cases) {
    testsupport::editState(*form).PowerUser = c.powerUser;
    testsupport::editState(*form).Plot.PlotType = c.plotType;
    form->Timer1SecondTimer();
    EXPECT_EQ(text("PowerUserPanel"), c.caption);
    EXPECT_EQ(form->view().get("PowerUserPanel").colour, c.colour);
    EXPECT_EQ(visible("StdDevCB"), c.stdDev) << c.powerUser << " " << c.plotType;
  }
}

TEST_F(Status, ByteCountsAndFileSizesInKilobytes) {
  choosePort(1);  // what the port gives is counted
  peer.send("AVE 30\r\n12\r\n");
  ticks(3);
  form->Timer1SecondTimer();
  EXPECT_EQ(text("LBTotalIn"), "Bytes Read: 12");
  testsupport::editState(*form).TotalBytesRead = 4294967295UL;
  ASSERT_TRUE(form->files().StartRecording(acquire::Recordings::Stream::Raw, dir.file("r.raw")));
  ASSERT_TRUE(form->files().StartRecording(acquire::Recordings::Stream::Engr, dir.file("e.eng")));  // the header alone
  testsupport::dispatchLine(*form, std::string(2045, '7'));                  // 2047 bytes with CR LF
  form->Timer1SecondTimer();
  EXPECT_EQ(text("LBTotalIn"), "Bytes Read: 4294967295");
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Raw), 2047);
  EXPECT_EQ(text("LBRawFileSize"), "Raw File Size: 1 K");
  EXPECT_LT(form->files().recordings().bytes(acquire::Recordings::Stream::Engr), 1024);
  EXPECT_EQ(text("LBEngrFileSize"), "Engr Units File Size: 0 K");
  EXPECT_EQ(text("LBReceiveFileSize"), "Receive File Size: 0 K");
}

TEST_F(Status, RefreshesChangeNoStateButTheFreshFlags) {
  loadExample("flasv.dev");
  for (const char* line : {"VER 1", "01N 7", "MEM 12", "ASV 4"}) reply(line);
  const meterlink::MeterSetup meter = form->shared().Meter;
  const int page = form->view().activePage;
  form->Timer500msTimer();
  form->Timer1SecondTimer();
  EXPECT_EQ(form->shared().Meter, meter);
  EXPECT_EQ(form->view().activePage, page);
  EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
