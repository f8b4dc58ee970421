// The meter clock's zone as operators name it: fixed offsets, and named zones whose offset
// follows summer time (the clock's reading of a date in each season, as UTC).
#include "acquire/meterzone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "support/testfiles.h"

namespace {

struct ZoneCase {
  const char* text;
  int month, day, hour;  // the meter's wall clock in 2024
  const char* utc;       // what it reads as; "" when the zone is refused
};

class MeterZone : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(MeterZone, ReadsTheMeterClockInItsZone) {
  const ZoneCase& c = GetParam();
  const auto zone = acquire::parseMeterZone(c.text);
  ASSERT_EQ(zone.has_value(), *c.utc != '\0');
  if (!zone) return;
  measure::MeterClock clock;
  clock.MeterYear = 24;
  clock.MeterMonth = c.month;
  clock.MeterDay = c.day;
  clock.MeterHour = c.hour;
  const auto seconds = files::meterEpochSeconds(clock, true, true, *zone);
  ASSERT_TRUE(seconds.has_value());
  EXPECT_EQ(files::isoUtc(*seconds), c.utc);
  EXPECT_EQ(zone->text(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, MeterZone,
    ::testing::Values(ZoneCase{"UTC", 7, 1, 12, "2024-07-01T12:00:00Z"},
                      ZoneCase{"+02:00", 1, 15, 12, "2024-01-15T10:00:00Z"},
                      ZoneCase{"Europe/Oslo", 1, 15, 12, "2024-01-15T11:00:00Z"},   // winter, +01:00
                      ZoneCase{"Europe/Oslo", 7, 1, 12, "2024-07-01T10:00:00Z"},    // summer, +02:00
                      ZoneCase{"America/St_Johns", 7, 1, 12, "2024-07-01T14:30:00Z"},  // -02:30
                      ZoneCase{"Mars/Olympus", 7, 1, 12, ""}, ZoneCase{"+2", 7, 1, 12, ""}),
    [](const auto& info) { return testsupport::testNameOf(std::string(info.param.text), info.index); });

}  // namespace

// The computer's zone, as "Set Date/Time PC" gives it to the meter clock: a named zone by its
// name, UTC as "UTC", a rule without a name by its offset now.
TEST(ComputerMeterZone, NamesTheZoneTheComputersClockKeeps) {
  std::string old;
  const bool hadTz = std::getenv("TZ") != nullptr;
  if (hadTz) old = std::getenv("TZ");
  for (const auto& [tz, zone] : {std::pair{"Europe/Oslo", "Europe/Oslo"}, std::pair{"Etc/UTC", "UTC"},
                                 std::pair{"UTC0", "UTC"}, std::pair{"XST-5:30", "+05:30"}}) {
    setenv("TZ", tz, 1);
    tzset();
    EXPECT_EQ(acquire::computerMeterZone(), zone) << tz;
  }
  if (hadTz) setenv("TZ", old.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}
