// The fast number text must give exactly what the printf/scanf conversions give.
#include "measure/numbertext.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "measure/cformat.h"

using namespace measure;

namespace {

TEST(NumberText, ReadsLikePercentLf) {
  std::mt19937 rng(99u);
  const char alphabet[] = "0123456789-.";
  std::vector<std::string> fields = {"",   "-",     ".",      "-.",  "5.",    "-.5",  "1.2.3",
                                     "12-4", "--1", "0-", "-0",  "007",   "1..2", ".5-",
                                     std::string(223, '9'), "0." + std::string(220, '0') + "1"};
  for (int i = 0; i < 20000; ++i) {
    std::string f;
    const size_t length = 1 + rng() % 24;
    for (size_t j = 0; j < length; ++j) f += alphabet[rng() % (sizeof alphabet - 1)];
    fields.push_back(f);
  }
  for (const std::string& f : fields) {
    double expected = 0.0, got = 0.0;
    const bool scanned = cscan(f.c_str(), "%lf", &expected) == 1;
    ASSERT_EQ(readLeadingNumber(f, got), scanned) << "'" << f << "'";
    if (!scanned) continue;
    // Bit for bit, the sign of zero included.
    ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << "'" << f << "'";
  }
}

TEST(NumberText, ReadsTriplesLikeScanf) {
  std::mt19937 rng(17u);
  std::vector<std::string> fields = {"12:30:05", "1:2:3:4", "-1:-2:-3", "12:30:", ":1:2", "1::2",
                                     "1:2:3.5", "07/15/03", "1/2/x", "-/-/-", "1/2/3/"};
  const char alphabet[] = "0123456789-./:";
  for (int i = 0; i < 20000; ++i) {
    std::string f;
    const size_t length = 1 + rng() % 9;  // numbers stay within int
    for (size_t j = 0; j < length; ++j) f += alphabet[rng() % (sizeof alphabet - 1)];
    fields.push_back(f);
  }
  for (const std::string& f : fields) {
    for (const char* format : {"%d:%d:%d", "%d/%d/%d"}) {
      int expected[3] = {0, 0, 0}, got[3] = {0, 0, 0};
      const bool scanned = cscan(f.c_str(), format, &expected[0], &expected[1], &expected[2]) == 3;
      ASSERT_EQ(readIntTriple(f, format[2], got), scanned) << f << " " << format;
      if (!scanned) continue;
      for (int n = 0; n < 3; ++n) ASSERT_EQ(got[n], expected[n]) << f;
    }
  }
  int big[3];
  ASSERT_TRUE(readIntTriple("99999999999999999999:1:-99999999999", ':', big));
  EXPECT_EQ(big[0], std::numeric_limits<int>::max());
  EXPECT_EQ(big[2], std::numeric_limits<int>::min());
}

TEST(NumberText, FormatsLikePrintf) {
  std::mt19937_64 rng(5u);
  std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 12.5, 12.6, 0.125, 0.375,
                                10.25, 10.2, 7.5, 1e-7, -1e-7, 5e-7, 123456789.125, 1e300,
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(),
                                -std::numeric_limits<double>::quiet_NaN()};
  std::uniform_real_distribution<double> wide(-1e6, 1e6);
  for (int i = 0; i < 5000; ++i) {
    values.push_back(wide(rng));
    values.push_back(std::ldexp(static_cast<double>(rng() % 100000), -static_cast<int>(rng() % 20)));
    values.push_back(std::ldexp(wide(rng), -30));
  }
  // The files' formats, then every precision with and without padding.
  std::vector<std::array<int, 2>> formats = {{1, 0}, {8, 6}, {6, 4}, {5, 1}};
  for (int precision = 0; precision <= 9; ++precision) {
    formats.push_back({0, precision});
    formats.push_back({14, precision});
  }
  for (double v : values) {
    for (const auto& wp : formats) {
      std::string got;
      appendFixed(got, v, wp[0], wp[1]);
      ASSERT_EQ(got, cformat("%*.*lf", wp[0], wp[1], v)) << v;
    }
  }
  for (int v : {0, 5, 9, 10, 99, 100, -1, -10, 123456}) {
    std::string got;
    appendTwoDigits(got, v);
    EXPECT_EQ(got, cformat("%02d", v));
  }
}

}  // namespace
