// Record CSV (UTC) through the main form, the test playing the meter on a pseudo-terminal:
// the rows carry the host's UTC receive time from the form's clock, the count and the
// same values as the engineering-units file; start, stop and failure as for the others.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "files/openfiles.h"
#include "formaccess.h"
#include "formfixture.h"

using testsupport::FormFixture;
using testsupport::readFile;

namespace {

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

TEST_F(CsvForm, RecordCsvAsksWithItsSaveDialogAndShowsTheFileName) {
  loadExample("flcd.dev");
  const std::string csv = dir.file("a.csv");
  click("BTRecordCsv", csv);
  ASSERT_EQ(ui.dialogSpecs.size(), 1u);
  EXPECT_EQ(ui.dialogSpecs[0].title, "Record CSV (UTC)");
  EXPECT_EQ(ui.dialogSpecs[0].defaultSuffix, "csv");
  EXPECT_TRUE(ui.dialogSpecs[0].confirmOverwrite);
  ASSERT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Csv));
  EXPECT_EQ(form->view().text("LBCsvFileName"), "CSV File:  " + csv);
  // The form's clock stamps the rows.
  meterSends("05/14/24\t11:02:00\t1033\t1099\t560\t3913\t1052\r\n");
  EXPECT_NE(readFile(csv).find("\r\n2026-02-03T09:05:07.250Z,2024-05-14T11:02:00.000Z,0,"), std::string::npos);
  form->Timer1SecondTimer();
  EXPECT_EQ(form->view().text("LBCsvFileSize"), "CSV File Size: 0 K");
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

}  // namespace
