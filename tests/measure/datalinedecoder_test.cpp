// Data-line decoder: field rules, mismatch warnings, kinds' counts, clocks and counters.
#include "measure/datalinedecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace measure;

namespace {

struct Decoder {
  DeviceConfig config;
  SampleState sample;
  MeterClock clock;
  std::vector<std::string> boxes;  // "caption|text"
  HostTime now{24, 3, 9, 14, 45, 30};
  DataLineDecoder decoder{config, sample, clock,
                          [this](const std::string& c, const std::string& t) {
                            boxes.push_back(c + "|" + t);
                          },
                          [this] { return now; }};

  // Columns 1..n with the given kinds.
  void configure(std::vector<int> kinds) {
    config.resetTables();
    for (size_t i = 0; i < kinds.size(); ++i) config.ColumnKind[i] = kinds[i];
    config.DataFieldCount = static_cast<int>(kinds.size());
    config.ExpectedColumns = static_cast<int>(kinds.size());
  }
};

// --- splitting -----------------------------------------------------------------------

struct SplitCase {
  const char* name;
  std::string line;
  int fields;
  std::vector<double> values;
};

class Split : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Split, Fields) {
  Decoder d;
  d.sample.SampleValues.fill(555.0);
  const SplitCase& c = GetParam();
  EXPECT_EQ(d.decoder.SplitFields(c.line), c.fields);
  for (size_t i = 0; i < c.values.size(); ++i)
    EXPECT_DOUBLE_EQ(d.sample.SampleValues[i], c.values[i]) << "field " << i;
  if (c.fields == 0) {
    EXPECT_DOUBLE_EQ(d.sample.SampleValues[0], 555.0);  // a rejected line stores nothing
  }
}

const std::string k60Fields = [] {
  std::string s = "1";
  for (int i = 2; i <= 60; ++i) s += "\t" + std::to_string(i);
  return s;
}();

INSTANTIATE_TEST_SUITE_P(
    Rules, Split,
    ::testing::Values(
        SplitCase{"DateTimeNumbers", "07/15/03\t12:30:05\t700\t4130", 4, {-2.0, -1.0, 700, 4130}},
        SplitCase{"Single", "42", 1, {42}},
        SplitCase{"NegativeAndFraction", "-3.25\t.5\t7.", 3, {-3.25, 0.5, 7.0}},
        SplitCase{"TwoDotsReadsTheFirstNumber", "1.2.3", 1, {1.2}},
        SplitCase{"DashInsideReadsTheFirstNumber", "12-4", 1, {12}},
        SplitCase{"TimeWithFraction", "12:30:05.5", 1, {-1.0}},
        SplitCase{"TwoColonsWinOverSlashes", "1:2:3/4", 1, {-1.0}},
        SplitCase{"DateWithOneColon", "1/2/3:", 1, {-2.0}},
        SplitCase{"Sixty", k60Fields, 60, {1, 2, 3}},
        SplitCase{"LongestField", std::string(223, '7'), 1, {}},
        SplitCase{"TrailingTab", "700\t4130\t", 0, {}},
        SplitCase{"LeadingTab", "\t700", 0, {}},
        SplitCase{"Empty", "", 0, {}},
        SplitCase{"OneColon", "12:30", 0, {}},
        SplitCase{"OneSlash", "1/2", 0, {}},
        SplitCase{"ThreeSlashes", "1/2/3/4", 0, {}},
        SplitCase{"TwoColonsNotATime", "::5", 0, {}},
        SplitCase{"TwoColonsTwoSlashesNotATime", "/:/:", 0, {}},
        SplitCase{"DateNotNumbers", "-/-/-", 0, {}},
        SplitCase{"LoneMinus", "-", 0, {}},
        SplitCase{"LoneDot", "5\t.", 0, {}},
        SplitCase{"Blank", "700 4130", 0, {}},
        SplitCase{"Plus", "+700", 0, {}},
        SplitCase{"Letter", "7e3", 0, {}},
        SplitCase{"CarriageReturn", "700\r", 0, {}},
        SplitCase{"Reply", "Ave 10", 0, {}},
        SplitCase{"SixtyOne", k60Fields + "\t61", 0, {}},
        SplitCase{"FieldTooLong", std::string(224, '7'), 0, {}},
        SplitCase{"FieldTooLongLater", "1\t" + std::string(300, '1'), 0, {}}),
    [](const auto& info) { return info.param.name; });

// Lines of the characters data fields are made of, read field by field with the C
// library as the reference: whatever shortcut the decoder takes for common fields must
// read exactly as the general rules do.
TEST(DataLine, SplitsLikeScanfFieldByField) {
  std::mt19937 rng(11u);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto digits = [&](int most) {
    std::string text;
    for (int n = pick(most + 1); n > 0; --n) text += static_cast<char>('0' + pick(10));
    return text;
  };
  auto field = [&]() -> std::string {
    switch (pick(6)) {
      case 0: return (pick(3) == 0 ? "-" : "") + digits(20);  // counts, some beyond 15 digits
      case 1: return digits(3) + "/" + digits(10) + "/" + digits(3);
      case 2: return digits(3) + ":" + digits(3) + ":" + digits(10) + (pick(4) == 0 ? ".5" : "");
      case 3: return digits(4) + "." + digits(4);
      default: {
        std::string text;
        for (int n = pick(12); n > 0; --n) text += "0123456789-./:"[pick(14)];
        return text;
      }
    }
  };
  // What one field gives under the rules; nullopt when it makes the line no data.
  struct Read {
    double value;
    char shape;  // 'n', 'd' (date) or 't' (time)
    int parts[3];
  };
  auto reference = [](const std::string& text) -> std::optional<Read> {
    if (text.empty() || text.find_first_not_of("0123456789-./:") != std::string::npos) return std::nullopt;
    const auto slashes = std::count(text.begin(), text.end(), '/');
    const auto colons = std::count(text.begin(), text.end(), ':');
    Read read{0.0, 'n', {0, 0, 0}};
    char a = 0, b = 0;
    if (slashes == 0 && colons == 0) {
      if (std::sscanf(text.c_str(), "%lf", &read.value) != 1) return std::nullopt;
    } else if (colons == 2 || slashes == 2) {
      read.shape = colons == 2 ? 't' : 'd';
      const char separator = colons == 2 ? ':' : '/';
      // No number here has more than 10 digits; those of 10 are read as the decoder
      // saturates them.
      long long n[3];
      if (std::sscanf(text.c_str(), "%lld%c%lld%c%lld", &n[0], &a, &n[1], &b, &n[2]) != 5 || a != separator ||
          b != separator)
        return std::nullopt;
      for (int i = 0; i < 3; ++i)
        read.parts[i] = static_cast<int>(std::clamp<long long>(n[i], INT_MIN, INT_MAX));
    } else {
      return std::nullopt;
    }
    return read;
  };

  for (int round = 0; round < 20000; ++round) {
    std::vector<std::string> fields(static_cast<size_t>(1 + pick(6)));
    for (std::string& f : fields) f = field();
    std::string line = fields[0];
    for (size_t i = 1; i < fields.size(); ++i) line += "\t" + fields[i];

    std::vector<Read> expected;
    for (const std::string& f : fields)
      if (const auto read = reference(f)) expected.push_back(*read);
    const bool isData = expected.size() == fields.size();

    Decoder d;
    d.clock.MeterMonth = d.clock.MeterHour = 77;
    ASSERT_EQ(d.decoder.SplitFields(line), isData ? static_cast<int>(fields.size()) : 0) << line;
    if (!isData) continue;
    d.decoder.ParseDataLine(line, false);
    std::vector<int> date, time;  // the last date and time of the line count
    for (size_t i = 0; i < expected.size(); ++i) {
      const Read& e = expected[i];
      const double value = e.shape == 'n' ? e.value : e.shape == 'd' ? -2.0 : -1.0;
      // Bit for bit: -0 stays -0.
      ASSERT_EQ(std::bit_cast<uint64_t>(d.sample.SampleValues[i]), std::bit_cast<uint64_t>(value))
          << line << " field " << i;
      if (e.shape != 'n') (e.shape == 'd' ? date : time).assign(e.parts, e.parts + 3);
    }
    if (!date.empty()) {
      EXPECT_EQ(std::vector<int>({d.clock.MeterMonth, d.clock.MeterDay, d.clock.MeterYear}), date) << line;
    }
    if (!time.empty()) {
      EXPECT_EQ(std::vector<int>({d.clock.MeterHour, d.clock.MeterMinute, d.clock.MeterSecond}), time) << line;
    }
  }
}

TEST(DataLine, FourFieldExample) {
  Decoder d;
  d.configure({KindDate, KindTime, 9, KindChl});
  ASSERT_EQ(d.decoder.ParseDataLine("07/15/03\t12:30:05\t700\t4130", true), 1);
  EXPECT_DOUBLE_EQ(d.sample.SampleValues[0], -2.0);
  EXPECT_DOUBLE_EQ(d.sample.SampleValues[1], -1.0);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[9], 700);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[KindChl], 4130);
  EXPECT_EQ(d.clock.MeterMonth, 7);
  EXPECT_EQ(d.clock.MeterDay, 15);
  EXPECT_EQ(d.clock.MeterYear, 3);
  EXPECT_EQ(d.clock.MeterHour, 12);
  EXPECT_EQ(d.clock.MeterMinute, 30);
  EXPECT_EQ(d.clock.MeterSecond, 5);
  EXPECT_EQ(d.clock.HostYear, 24);
  EXPECT_EQ(d.clock.HostMonth, 3);
  EXPECT_EQ(d.clock.HostDay, 9);
  EXPECT_EQ(d.clock.HostHour, 14);
  EXPECT_EQ(d.clock.HostMinute, 45);
  EXPECT_EQ(d.clock.HostSecond, 30);
}

TEST(DataLine, ClockPartsOnlyFromAcceptedLinesAndOnlyThoseTheLineHas) {
  Decoder d;
  d.configure({KindTime, KindChl});
  // A "DAT" reply set the date earlier; a line without a date keeps it.
  d.clock.MeterMonth = 5;
  d.clock.MeterDay = 6;
  d.clock.MeterYear = 24;
  ASSERT_EQ(d.decoder.ParseDataLine("08:09:10\t300", true), 1);
  EXPECT_EQ(d.clock.MeterMonth, 5);
  EXPECT_EQ(d.clock.MeterDay, 6);
  EXPECT_EQ(d.clock.MeterHour, 8);
  EXPECT_EQ(d.clock.MeterSecond, 10);

  // A mismatching line (three fields) with a date and time changes nothing.
  EXPECT_EQ(d.decoder.ParseDataLine("01/02/03\t04:05:06\t1", true), 0);
  EXPECT_EQ(d.clock.MeterMonth, 5);
  EXPECT_EQ(d.clock.MeterHour, 8);
  // Neither does a line that is not data.
  EXPECT_EQ(d.decoder.ParseDataLine("01/02/03\t04:05:06 x", true), 0);
  EXPECT_EQ(d.clock.MeterHour, 8);
  EXPECT_EQ(d.clock.HostHour, 14);

  // Without a device file a rejected line is still taken, but it brings no clock parts.
  d.clock.HostHour = 0;
  EXPECT_EQ(d.decoder.ParseDataLine("01/02/03\t04:05:06 x", false), 1);
  EXPECT_EQ(d.clock.MeterMonth, 5);
  EXPECT_EQ(d.clock.MeterHour, 8);
  EXPECT_EQ(d.clock.HostHour, 14);
}

TEST(DataLine, MismatchBoxOnTheSixthInARow) {
  Decoder d;
  d.configure({KindChl, KindCdom, KindITemp, KindPres});
  const std::string box =
      "Possible Mis-Match between Device File and Meter|"
      "Execution Error - Columns found 3 != Columns Expected 4";
  for (int run = 0; run < 2; ++run) {
    d.boxes.clear();
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(d.decoder.ParseDataLine("1\t2\t3", true), 0);
    EXPECT_EQ(d.sample.MismatchCount, 5);
    EXPECT_TRUE(d.boxes.empty());
    // Lines that are not data neither count nor reset the run.
    EXPECT_EQ(d.decoder.ParseDataLine("Ave 10", true), 0);
    EXPECT_EQ(d.sample.MismatchCount, 5);
    EXPECT_EQ(d.decoder.ParseDataLine("1\t2\t3", true), 0);
    EXPECT_EQ(d.boxes, std::vector<std::string>{box});
    for (int i = 0; i < 4; ++i) EXPECT_EQ(d.decoder.ParseDataLine("1\t2\t3", true), 0);
    EXPECT_EQ(d.boxes.size(), 1u);
    // A matching line ends the run; the next run warns again.
    EXPECT_EQ(d.decoder.ParseDataLine("1\t2\t3\t4", true), 1);
    EXPECT_EQ(d.sample.MismatchCount, 0);
  }
}

TEST(DataLine, NonNumericLineIsNoDataEvenWithoutColumnCount) {
  Decoder d;
  d.configure({});  // a title-only device file: no fields, no "Columns=" line
  ASSERT_EQ(d.config.ExpectedColumns, 0);
  EXPECT_EQ(d.decoder.ParseDataLine("Ave 10", true), 0);
  EXPECT_EQ(d.decoder.ParseDataLine("", true), 0);
  EXPECT_DOUBLE_EQ(d.sample.SampleCounter, 0);
  EXPECT_EQ(d.sample.MismatchCount, 0);
}

TEST(DataLine, WithoutDeviceFileEveryLineIsTaken) {
  Decoder d;
  d.configure({});
  d.config.ExpectedColumns = 4;
  for (const char* line : {"hello", "", "1\t2", "1 2 3"})
    EXPECT_EQ(d.decoder.ParseDataLine(line, false), 1) << line;
  EXPECT_DOUBLE_EQ(d.sample.SampleCounter, 4);
  EXPECT_TRUE(d.boxes.empty());
  EXPECT_EQ(d.clock.HostMinute, 45);
}

TEST(DataLine, CountsPerKindAndReferenceCapture) {
  Decoder d;
  d.configure({KindDate, 16, 7, KindChlRef, KindITemp, KindXTemp, KindPres, KindRefOrUnused,
               KindIEngr, KindNtu, KindNtuRef});
  auto line = [](double ref, double chlref) {
    return "01/02/03\t" + std::to_string(ref) + "\t1200\t" + std::to_string(chlref) +
           "\t560\t3850\t2000\t77\t3.62\t1300\t4100";
  };
  ASSERT_EQ(d.decoder.ParseDataLine(line(12000, 4130), true), 1);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[7], 1200);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[16], 12000);
  EXPECT_DOUBLE_EQ(d.sample.ITempCounts, 560);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[KindITemp], 560);
  EXPECT_DOUBLE_EQ(d.sample.XTempCounts, 3850);
  EXPECT_DOUBLE_EQ(d.sample.PresCounts, 2000);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[KindPres], 2000);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[KindRefOrUnused], 0);  // not used: not stored
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[KindIEngr], 3.62);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[KindNtu], 1300);
  EXPECT_DOUBLE_EQ(d.config.KindRefValue[KindChlRef], 4130);
  EXPECT_DOUBLE_EQ(d.config.KindRefValue[KindNtuRef], 4100);
  // A reading above 9999 is taken but replaced by the next one.
  EXPECT_DOUBLE_EQ(d.config.KindRefValue[16], 12000);

  ASSERT_EQ(d.decoder.ParseDataLine(line(4128, 4150), true), 1);
  EXPECT_DOUBLE_EQ(d.config.KindRefValue[16], 4128);
  EXPECT_DOUBLE_EQ(d.config.KindRefValue[KindChlRef], 4130);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[KindChlRef], 4150);
  ASSERT_EQ(d.decoder.ParseDataLine(line(4140, 4150), true), 1);
  EXPECT_DOUBLE_EQ(d.config.KindRefValue[16], 4128);
  EXPECT_DOUBLE_EQ(d.sample.KindCounts[16], 4140);
}

TEST(DataLine, ElapsedSampleWithAndWithoutClock) {
  Decoder d;
  d.configure({KindNtu});
  for (int i = 1; i <= 3; ++i) {
    ASSERT_EQ(d.decoder.ParseDataLine("100", true), 1);
    EXPECT_DOUBLE_EQ(d.sample.ElapsedSample, i);  // no date: the running count
  }
  EXPECT_DOUBLE_EQ(d.sample.FirstSample, 1);

  Decoder dated;
  dated.configure({KindDate, KindNtu});
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(dated.decoder.ParseDataLine("07/01/03\t100", true), 1);
    EXPECT_DOUBLE_EQ(dated.sample.ElapsedSample, i);  // counted from the first line
  }
  EXPECT_DOUBLE_EQ(dated.sample.SampleCounter, 3);

  // A meter without a clock sends 99/99/99.
  Decoder clockless;
  clockless.configure({KindDate, KindNtu});
  clockless.sample.SampleCounter = 10;
  clockless.sample.FirstSample = 4;
  ASSERT_EQ(clockless.decoder.ParseDataLine("99/99/99\t100", true), 1);
  EXPECT_DOUBLE_EQ(clockless.sample.ElapsedSample, 11);
  EXPECT_DOUBLE_EQ(clockless.sample.FirstSample, 4);
}

TEST(DataLine, NoConfigurationOnlyAdvancesCounters) {
  Decoder d;
  d.configure({});
  d.config.ExpectedColumns = 2;
  d.sample.MismatchCount = 3;
  ASSERT_EQ(d.decoder.ParseDataLine("01/02/03\t5", true), 1);
  for (double v : d.sample.KindCounts) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(d.sample.MismatchCount, 0);
  EXPECT_EQ(d.clock.MeterMonth, 1);
  EXPECT_DOUBLE_EQ(d.sample.SampleCounter, 1);
}

TEST(DataLine, LocalHostTimeIsPlausible) {
  const HostTime t = LocalHostTime();
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_GE(t.year, 0);
  EXPECT_LE(t.year, 99);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
  EXPECT_LE(t.second, 60);
}

}  // namespace
