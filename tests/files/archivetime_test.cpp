// Meter clock readings as archive time stamps: zones, calendar checks, what is unknown.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "files/archivetime.h"
#include "support/testfiles.h"

namespace {

using files::UtcOffset;

struct ZoneCase {
  const char* text;
  std::optional<int> minutes;  // nothing: rejected
};

class Zones : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(Zones, ParseAsTheOptionTakesThem) {
  const ZoneCase& c = GetParam();
  const std::optional<UtcOffset> got = files::parseUtcOffset(c.text);
  ASSERT_EQ(got.has_value(), c.minutes.has_value()) << c.text;
  if (got) {
    EXPECT_EQ(got->minutes, *c.minutes) << c.text;
    // Written back the way it was read (UTC spelled "UTC").
    const std::string text = c.text;
    if (*c.minutes != 0) {
      EXPECT_EQ(got->text(), text);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Zones,
    ::testing::Values(ZoneCase{"UTC", 0}, ZoneCase{"Z", 0}, ZoneCase{"+00:00", 0}, ZoneCase{"+02:00", 120},
                      ZoneCase{"-03:30", -210}, ZoneCase{"+05:45", 345}, ZoneCase{"+14:00", 840},
                      ZoneCase{"-14:00", -840}, ZoneCase{"+14:01", std::nullopt}, ZoneCase{"+02:60", std::nullopt},
                      ZoneCase{"+2", std::nullopt}, ZoneCase{"02:00", std::nullopt},
                      ZoneCase{"+0200", std::nullopt}, ZoneCase{"+02:00 ", std::nullopt},
                      ZoneCase{"", std::nullopt}, ZoneCase{"CET", std::nullopt}, ZoneCase{"+a2:00", std::nullopt}),
    // Signs and blanks spelled out: "+02:00", "02:00" and "+02:00 " are different cases.
    [](const auto& info) {
      std::string text;
      for (const char* p = info.param.text; *p; ++p) {
        if (*p == '+') text += " plus ";
        else if (*p == '-') text += " minus ";
        else if (*p == ' ') text += " blank ";
        else text += *p;
      }
      return testsupport::testNameOf(text);
    });

measure::MeterClock clockAt(int month, int day, int year, int hour, int minute, int second) {
  measure::MeterClock c;
  c.MeterMonth = month;
  c.MeterDay = day;
  c.MeterYear = year;
  c.MeterHour = hour;
  c.MeterMinute = minute;
  c.MeterSecond = second;
  return c;
}

struct StampCase {
  measure::MeterClock clock;
  bool timeKnown;
  int zoneMinutes;
  std::optional<double> epoch;  // nothing: no time stamp
  const char* iso;
};

class Stamps : public ::testing::TestWithParam<StampCase> {};

TEST_P(Stamps, EpochSecondsAndIsoTextAgree) {
  const StampCase& c = GetParam();
  const files::MeterClockKnowledge known;
  const bool dateKnown = known.dateKnown(c.clock);
  UtcOffset zone;
  zone.minutes = c.zoneMinutes;
  const std::optional<double> epoch = files::meterEpochSeconds(c.clock, dateKnown, c.timeKnown, zone);
  ASSERT_EQ(epoch.has_value(), c.epoch.has_value());
  if (epoch) {
    EXPECT_EQ(*epoch, *c.epoch);
  }
  EXPECT_EQ(files::meterIsoTime(c.clock, dateKnown, c.timeKnown, zone), c.iso);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Stamps,
    ::testing::Values(
        // 2024-05-14T10:21:00Z is 1715682060.
        StampCase{clockAt(5, 14, 24, 10, 21, 0), true, 0, 1715682060.0, "2024-05-14T10:21:00Z"},
        StampCase{clockAt(5, 14, 24, 10, 21, 0), true, 120, 1715682060.0 - 7200, "2024-05-14T10:21:00+02:00"},
        StampCase{clockAt(5, 14, 24, 10, 21, 0), true, -210, 1715682060.0 + 12600, "2024-05-14T10:21:00-03:30"},
        // Past midnight into the day before, in UTC.
        StampCase{clockAt(1, 1, 0, 0, 30, 0), true, 60, 946684800.0 + 1800 - 3600, "2000-01-01T00:30:00+01:00"},
        StampCase{clockAt(2, 29, 24, 23, 59, 59), true, 0, 1709251199.0, "2024-02-29T23:59:59Z"},
        StampCase{clockAt(12, 31, 99, 12, 0, 0), true, 0, 4102401600.0, "2099-12-31T12:00:00Z"},
        // Unknown or impossible readings give no stamp, never a guess.
        StampCase{clockAt(99, 0, 0, 10, 21, 0), true, 0, std::nullopt, ""},
        StampCase{clockAt(5, 14, 24, 10, 21, 0), false, 0, std::nullopt, ""},
        StampCase{clockAt(2, 29, 23, 10, 0, 0), true, 0, std::nullopt, ""},
        StampCase{clockAt(4, 31, 24, 10, 0, 0), true, 0, std::nullopt, ""},
        StampCase{clockAt(13, 1, 24, 10, 0, 0), true, 0, std::nullopt, ""},
        StampCase{clockAt(0, 1, 24, 10, 0, 0), true, 0, std::nullopt, ""},
        StampCase{clockAt(5, 0, 24, 10, 0, 0), true, 0, std::nullopt, ""},
        StampCase{clockAt(5, 14, 24, 24, 0, 0), true, 0, std::nullopt, ""},
        StampCase{clockAt(5, 14, 24, 10, 60, 0), true, 0, std::nullopt, ""},
        StampCase{clockAt(5, 14, 24, 10, 0, 60), true, 0, std::nullopt, ""},
        StampCase{clockAt(5, 14, 124, 10, 0, 0), true, 0, std::nullopt, ""}),
    // Named by the reading as the meter gives it (MM/DD/YY hh:mm:ss), the zone, and whether
    // the time is known.
    [](const auto& info) {
      const StampCase& c = info.param;
      char reading[96];
      std::snprintf(reading, sizeof reading, "%02d/%02d/%02d %02d:%02d:%02d", c.clock.MeterMonth, c.clock.MeterDay,
                    c.clock.MeterYear, c.clock.MeterHour, c.clock.MeterMinute, c.clock.MeterSecond);
      std::string name = reading;
      if (c.zoneMinutes == 0) name += " UTC";
      else name += (c.zoneMinutes > 0 ? " plus " : " minus ") + std::to_string(std::abs(c.zoneMinutes)) + " min";
      if (!c.timeKnown) name += " time unknown";
      return testsupport::testNameOf(name);
    });

TEST(MeterClockKnowledge, TimeIsKnownOnceALineOrAClkReplyGaveIt) {
  files::MeterClockKnowledge known;
  EXPECT_FALSE(known.timeKnown());
  known.noteDataLine("1103\t4094\t560");
  EXPECT_FALSE(known.timeKnown());
  known.noteReply("DAT 05/14/24", true);
  EXPECT_FALSE(known.timeKnown());
  known.noteReply("CLK 10:00:00", false);  // not taken by the parser
  EXPECT_FALSE(known.timeKnown());
  known.noteReply("clk 10:00:00", true);
  EXPECT_TRUE(known.timeKnown());

  files::MeterClockKnowledge fromLine;
  fromLine.noteDataLine("05/14/24\t10:21:00\t4130");
  EXPECT_TRUE(fromLine.timeKnown());
}

TEST(IsoUtc, WholeSecondsRoundedDown) {
  EXPECT_EQ(files::isoUtc(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(files::isoUtc(1715682060.9), "2024-05-14T10:21:00Z");
  EXPECT_EQ(files::isoUtc(-0.5), "1969-12-31T23:59:59Z");
}

}  // namespace
