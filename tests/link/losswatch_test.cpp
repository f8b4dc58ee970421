// Lines lost between the meter and the program: a jump of the meter's clock while lines
// keep coming, and lines that ran together.
#include "link/losswatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The warnings for lines read at these meter times (whole seconds, as the clock shows).
std::vector<std::string> warningsFor(const std::vector<double>& times) {
  meterlink::LossWatch watch;
  std::vector<std::string> warnings;
  for (const double t : times)
    if (std::string w = watch.sample(t); !w.empty()) warnings.push_back(w);
  return warnings;
}

// `perSecond` lines in each second from `from` to `to`, seconds as the meter's clock shows them.
std::vector<double> steady(int from, int to, int perSecond) {
  std::vector<double> times;
  for (int s = from; s <= to; ++s)
    for (int i = 0; i < perSecond; ++i) times.push_back(s);
  return times;
}

std::vector<double> operator+(std::vector<double> a, const std::vector<double>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(LossWatch, AJumpOfTheMeterClockBeyondItsIntervalIsOneWarning) {
  const struct {
    const char* what;
    std::vector<double> times;
    size_t warnings;
    const char* text;
  } cases[] = {
      {"8 Hz without a gap", steady(0, 20, 8), 0, ""},
      {"8 Hz with 3 s missing", steady(0, 10, 8) + steady(14, 20, 8), 1, "jumped 4 s"},
      {"1 Hz without a gap", steady(0, 20, 1), 0, ""},
      // One second more than usual is within the clock's resolution.
      {"1 Hz, one line missing", steady(0, 10, 1) + steady(12, 20, 1), 0, ""},
      {"1 Hz, four lines missing", steady(0, 10, 1) + steady(15, 20, 1), 1, "about 4 lines"},
      {"two gaps", steady(0, 10, 4) + steady(13, 20, 4) + steady(25, 30, 4), 2, "jumped 3 s"},
      {"a gap before the interval is known", steady(0, 1, 8) + steady(5, 10, 8), 0, ""},
      {"the clock set back", steady(100, 110, 4) + steady(0, 10, 4), 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> warnings = warningsFor(c.times);
    ASSERT_EQ(warnings.size(), c.warnings);
    if (!warnings.empty()) {
      EXPECT_NE(warnings[0].find(c.text), std::string::npos) << warnings[0];
    }
  }
}

TEST(LossWatch, NoGapIsMeasuredAcrossARestartOrWithoutAClock) {
  meterlink::LossWatch watch;
  for (const double t : steady(0, 10, 2)) EXPECT_EQ(watch.sample(t), "");
  watch.restart();
  EXPECT_EQ(watch.sample(600.0), "");
  EXPECT_EQ(watch.sample(std::nullopt), "");
}

TEST(LossWatch, OnlyAShortRunOfOverlongLinesIsTakenForLinesThatRanTogether) {
  struct Case {
    const char* name;
    std::vector<int> refused;  // the fields of each refused line before the next accepted one
    int expected;
    bool told;
  } cases[] = {
      {"two four-field lines whose line end was lost", {7}, 4, true},
      {"too few fields: not a merge", {3}, 4, false},
      {"no device file: no expectation", {5}, 0, false},
      {"another meter's lines: a long run", {7, 7, 7, 7, 7, 7}, 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    meterlink::LossWatch watch;
    for (const int fields : c.refused) watch.refused(fields, c.expected);
    const std::string told = watch.sample(std::nullopt);
    EXPECT_EQ(told.find(std::to_string(c.refused[0]) + " fields") != std::string::npos, c.told) << told;
    EXPECT_EQ(watch.sample(std::nullopt), "");  // told once
  }
}

}  // namespace
