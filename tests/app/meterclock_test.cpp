// The meter clock zone in the window, with the computer in Oslo: "Set Date/Time PC" sets the
// meter to the computer's local time and the zone to the computer's, so the meter's times
// in Record CSV and in Export are true UTC; the zone is shown, saved and restored; an entry
// that is no zone is refused with the field named.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "formaccess.h"
#include "formfixture.h"

using testsupport::FormFixture;
using testsupport::readFile;

namespace {

// "2026-12-09T05:40:01.234Z" as seconds since the epoch.
double isoSeconds(const std::string& text) {
  std::tm t{};
  double second = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%lfZ", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                  &second) != 6)
    return -1;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  return static_cast<double>(timegm(&t)) + second;
}

double nowSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The second field (meter_time_utc) of the last row of a CSV file.
std::string lastMeterTime(const std::string& csv) {
  const size_t rowStart = csv.rfind("\r\n", csv.size() - 3) + 2;
  const size_t first = csv.find(',', rowStart) + 1;
  return csv.substr(first, csv.find(',', first) - first);
}

class MeterClockForm : public FormFixture {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) m_oldTz = tz;
    setenv("TZ", "Europe/Oslo", 1);
    tzset();
    FormFixture::SetUp();
    choosePort(1);
    tick();
    testsupport::editState(*form).SetupRequestTicks = 0;
    loadExample("flcd.dev");
  }
  void TearDown() override {
    form.reset();
    if (m_oldTz) setenv("TZ", m_oldTz->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  // The meter sets the computer's local time as its clock.
  void configure(app::MainFormOptions& options) override { options.hostClock = measure::LocalHostTime; }
  std::optional<std::string> m_oldTz;
};

TEST_F(MeterClockForm, SetFromTheComputerTheMetersTimesAreTrueUtcInRecordingsAndExport) {
  const std::string csv = dir.file("live.csv"), raw = dir.file("live.raw"), exported = dir.file("export.csv");
  ui.files = {raw, csv};
  form->click("BTRecordRaw");
  form->click("BTRecordCsv");
  const double before = nowSeconds();
  ASSERT_TRUE(form->click("BTSetDandTPC"));
  const double after = nowSeconds();
  // The meter keeps what it was sent: "$CLK HHMMSS" then "$DAT MMDDYY", and says so in its data.
  const std::string sent = peer.receiveBytes(26);
  ASSERT_EQ(sent.substr(0, 5), "$CLK ") << sent;
  auto pairs = [&](size_t at, char between) {
    return sent.substr(at, 2) + between + sent.substr(at + 2, 2) + between + sent.substr(at + 4, 2);
  };
  peer.send(pairs(18, '/') + "\t" + pairs(5, ':') + "\t1033\t1099\t560\t3913\t1052\r\n");
  for (int i = 0; i < 50 && form->shared().Sample.SampleCounter == 0; ++i) tick(5);

  EXPECT_EQ(form->view().text("EDExportZone"), "Europe/Oslo");
  EXPECT_EQ(app::WindowSettings::load(dir.path()).meterClockZone, "Europe/Oslo");
  // The clock keeps whole seconds: its reading is the second the button was pressed in.
  const double live = isoSeconds(lastMeterTime(readFile(csv)));
  EXPECT_GT(live, before - 1.0) << readFile(csv);
  EXPECT_LE(live, after) << readFile(csv);

  form->click("BTStopRecord");
  ui.files = {raw, exported};
  form->click("ExportRecording1");
  for (int i = 0; i < 20 && form->files().ExportRunning(); ++i) form->Timer55msTimer();
  EXPECT_EQ(lastMeterTime(readFile(exported)), lastMeterTime(readFile(csv)));
}

TEST_F(MeterClockForm, AnEntryIsAppliedSavedAndRestoredAndANonZoneIsRefused) {
  form->view().setText("EDExportZone", " +05:30");
  ASSERT_TRUE(form->changed("EDExportZone"));
  EXPECT_EQ(form->session().meterTimeZone().text(), "+05:30");

  form->view().setText("EDExportZone", "CET");
  form->changed("EDExportZone");
  ASSERT_EQ(ui.countBoxes("Meter Clock Zone"), 1u);
  EXPECT_NE(ui.boxes.back().text.find("Meter clock zone: 'CET' is not UTC, +HH:MM, -HH:MM or a time zone"),
            std::string::npos)
      << ui.boxes.back().text;
  EXPECT_EQ(form->view().text("EDExportZone"), "+05:30");
  EXPECT_EQ(form->session().meterTimeZone().text(), "+05:30");

  makeForm();  // the next start
  EXPECT_EQ(form->view().text("EDExportZone"), "+05:30");
  EXPECT_EQ(form->session().meterTimeZone().text(), "+05:30");
}

}  // namespace
