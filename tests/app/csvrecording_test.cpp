// Record CSV (UTC) through the main form, the test playing the meter on a pseudo-terminal:
// the rows carry the host's UTC receive time from the form's clock, the count and the
// same values as the engineering-units file; start, stop and failure as for the others.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "files/openfiles.h"
#include "formaccess.h"
#include "formfixture.h"

using testsupport::FormFixture;
using testsupport::readFile;

namespace {

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, by)) parts.push_back(part);
  return parts;
}

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b);
}

// 2026-02-03T09:05:07.250Z, then 1.5 s later on every reading.
std::chrono::system_clock::time_point startTime() {
  using namespace std::chrono;
  return sys_days{year{2026} / 2 / 3} + hours{9} + minutes{5} + seconds{7} + milliseconds{250};
}

class CsvForm : public FormFixture {
 protected:
  void configure(app::MainFormOptions& options) override {
    options.utcClock = [this] {
      const auto t = m_now;
      m_now += std::chrono::milliseconds(1500);
      return t;
    };
  }
  void SetUp() override {
    FormFixture::SetUp();
    choosePort(1);
    tick();
    testsupport::editState(*form).SetupRequestTicks = 0;
  }
  void meterSends(const std::string& bytes) {
    const unsigned long target = form->shared().TotalBytesRead + bytes.size();
    peer.send(bytes);
    for (int i = 0; i < 50 && form->shared().TotalBytesRead < target; ++i) tick(5);
    ASSERT_GE(form->shared().TotalBytesRead, target) << "not delivered: " << bytes;
  }
  void click(const std::string& button, const std::string& path) {
    ui.files.push_back(path);
    form->click(button);
  }
  std::string status() {
    form->Timer1SecondTimer();
    return form->view().text("LBRecordStatus");
  }
  std::chrono::system_clock::time_point m_now = startTime();
};

TEST_F(CsvForm, RowsCarryTheHostAndMeterTimesTheCountAndTheEngineeringFileValues) {
  loadExample("flcd.dev");
  const std::string csv = dir.file("a.csv"), eng = dir.file("a.eng");
  click("BTRecordCsv", csv);
  ASSERT_EQ(ui.dialogSpecs.size(), 1u);
  EXPECT_EQ(ui.dialogSpecs[0].title, "Record CSV (UTC)");
  EXPECT_EQ(ui.dialogSpecs[0].defaultSuffix, "csv");
  EXPECT_TRUE(ui.dialogSpecs[0].confirmOverwrite);
  ASSERT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Csv));
  EXPECT_EQ(form->view().text("LBCsvFileName"), "CSV File:  " + csv);
  click("BTRecordEngr", eng);
  ASSERT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Engr));

  const std::string header =
      "host_time_utc,meter_time_utc,count,chl_ug_per_l,cdom_ppb,itemp_degc,xtemp_degc,pres_dbar\r\n";
  meterSends("05/14/24\t11:02:00\t1033\t1099\t560\t3913\t1052\r\n");
  meterSends("VER MARU 1.0\r\n");  // a reply: no row
  meterSends("05/14/24\t11:02:01\t1040\t1101\t561\t3915\t1060\r\n");
  const std::string text = readFile(csv);  // on disk while still recording
  ASSERT_EQ(text.substr(0, header.size()), header);
  const auto rows = split(text.substr(header.size()), '\n');
  ASSERT_EQ(rows.size(), 2u) << text;
  // The host's clock is read once per data line, on arrival; the meter's is its line's.
  EXPECT_EQ(rows[0].substr(0, 52), "2026-02-03T09:05:07.250Z,2024-05-14T11:02:00.000Z,0,");
  EXPECT_EQ(rows[1].substr(0, 52), "2026-02-03T09:05:08.750Z,2024-05-14T11:02:01.000Z,1,");
  EXPECT_EQ(rows[0], "2026-02-03T09:05:07.250Z,2024-05-14T11:02:00.000Z,0,7.1905,94.9345,20.0000,19.1300,0.5\r");

  // Value for value what the engineering-units file holds (its date and time aside).
  const auto engLines = split(readFile(eng), '\n');
  ASSERT_EQ(engLines.size(), 3u);
  for (size_t r = 0; r < rows.size(); ++r) {
    auto csvFields = split(rows[r].substr(0, rows[r].size() - 1), ',');
    auto engFields = split(engLines[r + 1].substr(0, engLines[r + 1].size() - 1), '\t');
    ASSERT_EQ(csvFields.size(), engFields.size()) << rows[r];
    EXPECT_EQ(csvFields[2], engFields[0]);  // the count
    for (size_t i = 3; i < csvFields.size(); ++i) EXPECT_EQ(csvFields[i], trim(engFields[i])) << "row " << r;
  }
  form->Timer1SecondTimer();
  EXPECT_EQ(form->view().text("LBCsvFileSize"), "CSV File Size: 0 K");
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Csv), static_cast<long>(text.size()));
}

TEST_F(CsvForm, AskesForADeviceFileFirstWhenNoneIsLoaded) {
  ui.files.push_back(std::string(MARU_SOURCE_DIR) + "/examples/ntu.dev");
  click("BTRecordCsv", dir.file("a.csv"));
  ASSERT_EQ(ui.dialogSpecs.size(), 2u);
  EXPECT_EQ(ui.dialogSpecs[0].title, "Open Device File");
  ASSERT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Csv));
  EXPECT_EQ(readFile(dir.file("a.csv")).rfind("host_time_utc,meter_time_utc,count,", 0), 0u);
}

struct StatusCase {
  bool raw, engr, csv;
  const char* text;
};

class CsvStatus : public CsvForm, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(CsvStatus, NamesEveryRecordingThatRunsAndStopRecordEndsThemAll) {
  const StatusCase& c = GetParam();
  loadExample("ntu.dev");
  if (c.raw) click("BTRecordRaw", dir.file("a.raw"));
  if (c.engr) click("BTRecordEngr", dir.file("a.eng"));
  if (c.csv) click("BTRecordCsv", dir.file("a.csv"));
  EXPECT_EQ(status(), c.text);
  form->click("BTStopRecord");
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Engr));
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Csv));
  EXPECT_EQ(status(), "Recording:  OFF");
}

INSTANTIATE_TEST_SUITE_P(Data, CsvStatus,
                         ::testing::Values(StatusCase{false, false, false, "Recording:  OFF"},
                                           StatusCase{true, false, false, "Recording:  Raw"},
                                           StatusCase{false, true, false, "Recording:  Engr Units"},
                                           StatusCase{true, true, false, "Recording:  Raw + Engr Units"},
                                           StatusCase{false, false, true, "Recording:  CSV"},
                                           StatusCase{true, false, true, "Recording:  Raw + CSV"},
                                           StatusCase{false, true, true, "Recording:  Engr Units + CSV"},
                                           StatusCase{true, true, true, "Recording:  Raw + Engr Units + CSV"}),
                         [](const auto& info) { return testsupport::testNameOf(info.param.text); });

TEST_F(CsvForm, StoppedRecordingTakesNoMoreRowsAndANewOneStartsAfresh) {
  loadExample("ntu.dev");
  const std::string a = dir.file("a.csv"), b = dir.file("b.csv");
  click("BTRecordCsv", a);
  meterSends("1103\t4094\t560\r\n");
  form->click("BTStopRecord");
  const std::string kept = readFile(a);
  meterSends("1112\t4095\t560\r\n");
  EXPECT_EQ(readFile(a), kept);
  EXPECT_EQ(split(kept, '\n').size(), 2u);  // header and one row

  const int before = filestest::openDescriptorCount();
  click("BTRecordCsv", b);
  EXPECT_EQ(filestest::openDescriptorCount(), before + 1);
  meterSends("1141\t4095\t560\r\n");
  const auto rows = split(readFile(b), '\n');
  ASSERT_EQ(rows.size(), 2u);
  // The third line (ntu counts from 1); a meter without a clock has no meter time.
  EXPECT_EQ(rows[1].substr(0, 28), "2026-02-03T09:05:10.250Z,,3,");
}

TEST_F(CsvForm, FailedOpenLeavesTheRunningRecordingGoing) {
  loadExample("ntu.dev");
  const std::string first = dir.file("first.csv");
  click("BTRecordCsv", first);
  click("BTRecordCsv", dir.file("no-such-folder/second.csv"));
  EXPECT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Csv));
  EXPECT_EQ(form->view().text("LBCsvFileName"), "CSV File:  " + first);
  meterSends("1103\t4094\t560\r\n");
  EXPECT_EQ(split(readFile(first), '\n').size(), 2u);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(CsvForm, FailedWriteStopsOnlyTheCsvRecordingWithOneBox) {
  loadExample("ntu.dev");
  const std::string raw = dir.file("a.raw");
  click("BTRecordRaw", raw);
  click("BTRecordCsv", "/dev/full");
  meterSends("1103\t4094\t560\r\n");
  meterSends("1112\t4095\t560\r\n");
  EXPECT_FALSE(form->files().recordings().on(acquire::Recordings::Stream::Csv));
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Csv), 0);
  ASSERT_EQ(ui.countBoxes("Recording Stopped"), 1u);
  EXPECT_NE(ui.boxes[0].text.find("CSV file '/dev/full' could not be written"), std::string::npos)
      << ui.boxes[0].text;
  EXPECT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Raw));  // the raw recording goes on
  EXPECT_EQ(readFile(raw), "1103\t4094\t560\r\n1112\t4095\t560\r\n");
  EXPECT_EQ(status(), "Recording:  Raw");
}

}  // namespace
