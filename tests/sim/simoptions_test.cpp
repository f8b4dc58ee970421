// Command-line options of `maru sim`.
#include "sim/simoptions.h"

#include <gtest/gtest.h>

namespace {

TEST(SimOptions, ReadsEveryOptionInBothForms) {
  sim::SimOptions o;
  std::string error;
  ASSERT_TRUE(sim::parseSimArgs({"--dev", "a.dev", "--baud=9600", "--rate", "2.5", "--seed=42", "--memory", "10",
                                 "--start-time", "12/31/24 23:59:58", "--stopped", "--fault-long-line",
                                 "--fault-garbage", "--fault-columns", "--fault-no-etx", "--hangup-after=1.5"},
                                o, error))
      << error;
  EXPECT_EQ(o.deviceFile, "a.dev");
  EXPECT_EQ(o.model.baud, 9600);
  EXPECT_DOUBLE_EQ(o.model.rateHz, 2.5);
  EXPECT_EQ(o.model.seed, 42u);
  EXPECT_EQ(o.model.memoryBytes, 2640u);
  EXPECT_TRUE(o.startTimeGiven);
  EXPECT_EQ(o.model.clockStart, (sim::CivilTime{2024, 12, 31, 23, 59, 58}));
  EXPECT_FALSE(o.model.runAtPowerOn);
  EXPECT_TRUE(o.model.faults.longLine && o.model.faults.garbage && o.model.faults.wrongColumns &&
              o.model.faults.noEtx);
  EXPECT_DOUBLE_EQ(o.hangupAfterSeconds, 1.5);
}

TEST(SimOptions, RefusesBadValues) {
  const std::vector<std::vector<std::string>> bad = {
      {"--baud", "0"},          {"--baud", "12345"},      {"--rate", "0"},          {"--rate", "nan"},
      {"--seed", "-1"},         {"--memory", "4096"},     {"--memory-bytes", "1081081"},
      {"--start-time", "02/30/24 10:00:00"},              {"--start-time", "2/3/24 10:00:00"},
      {"--hangup-after", "x"},  {"--stopped=1"},          {"--dev"},
      {"run"},
  };
  for (const auto& args : bad) {
    sim::SimOptions o;
    std::string error;
    EXPECT_FALSE(sim::parseSimArgs(args, o, error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimOptions, LastOfARepeatedOptionCountsAndHelpIsAFlag) {
  sim::SimOptions o;
  std::string error;
  ASSERT_TRUE(sim::parseSimArgs({"--baud", "9600", "--baud=4800", "--memory-bytes", "264", "--link", "/tmp/m"}, o,
                                error))
      << error;
  EXPECT_EQ(o.model.baud, 4800);
  EXPECT_EQ(o.model.memoryBytes, 264u);
  EXPECT_EQ(o.linkPath, "/tmp/m");
  EXPECT_FALSE(o.help);
  EXPECT_TRUE(o.model.runAtPowerOn);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"--seed", "3", "-h"}}) {
    sim::SimOptions h;
    EXPECT_TRUE(sim::parseSimArgs(args, h, error)) << error;
    EXPECT_TRUE(h.help);
  }
  // The help tells every option, with the usage line first for the manual page.
  const std::string usage = sim::simUsage();
  EXPECT_EQ(usage.rfind("Usage: maru sim [OPTIONS]\n", 0), 0u) << usage;
  for (const char* name : {"--dev FILE", "--baud N", "--rate HZ", "--seed N", "--start-time", "--stopped", "--memory PAGES",
                           "--memory-bytes N", "--link PATH", "--fault-long-line", "--fault-garbage", "--fault-columns",
                           "--fault-no-etx", "--hangup-after SECS", "$hex PAGE"})
    EXPECT_NE(usage.find(name), std::string::npos) << name;
}

TEST(CivilTime, RoundTripsAcrossMonthYearAndLeapDay) {
  for (const sim::CivilTime t : {sim::CivilTime{2024, 2, 29, 23, 59, 59}, sim::CivilTime{1999, 12, 31, 0, 0, 0},
                                 sim::CivilTime{2003, 7, 1, 12, 5, 30}}) {
    EXPECT_EQ(sim::fromSeconds(sim::toSeconds(t)), t);
  }
  EXPECT_EQ(sim::fromSeconds(sim::toSeconds({2024, 2, 28, 23, 59, 59}) + 1), (sim::CivilTime{2024, 2, 29, 0, 0, 0}));
  EXPECT_EQ(sim::fromSeconds(sim::toSeconds({2025, 12, 31, 23, 59, 59}) + 1), (sim::CivilTime{2026, 1, 1, 0, 0, 0}));
  EXPECT_EQ(sim::toSeconds({1970, 1, 1, 0, 0, 0}), 0);
}

}  // namespace
