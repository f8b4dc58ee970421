// Engineering-units file: header names, value formats, and independence of the locale.
#include "files/engrformat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "measure/cformat.h"
#include "measure/datalinedecoder.h"
#include "measure/devicefile.h"
#include "measure/kindtable.h"
#include "support/ptypeer.h"
#include "support/testfiles.h"

using namespace measure;

namespace {

DeviceConfig columns(std::vector<int> kinds) {
  DeviceConfig config;
  for (size_t i = 0; i < kinds.size(); ++i) config.ColumnKind[i] = kinds[i];
  config.DataFieldCount = static_cast<int>(kinds.size());
  config.ExpectedColumns = config.DataFieldCount;
  return config;
}

TEST(EngrFormat, BackscatterAndChlorophyll) {
  DeviceConfig config = columns({KindDate, KindTime, 7, KindChl});
  config.KindWavelength[7] = 470;
  EXPECT_EQ(files::EngrHeader(config),
            "Count\tDate\tTime\tBeta(470)\tBetap(470)\tbbp(470)\tbb(470))\tCHL(ug/l)\r\n");

  SampleState sample;
  sample.ElapsedSample = 12.6;
  MeterClock clock;
  clock.MeterMonth = 7;
  clock.MeterDay = 1;
  clock.MeterYear = 3;
  clock.MeterHour = 12;
  clock.MeterMinute = 5;
  clock.MeterSecond = 9;
  EngValues values;
  values.KindBeta[7] = 0.0021;
  values.KindBetap[7] = 0.00196;
  values.KindBbp[7] = 0.013545;
  values.KindBb[7] = -0.0000004;
  values.ChlValue = 3.14159;
  EXPECT_EQ(files::EngrLine(config, sample, clock, values),
            "13\t070103\t120509\t0.002100\t0.001960\t0.013545\t-0.000000\t3.1416\r\n");
}

TEST(EngrFormat, NarrowWavelengthIsPadded) {
  DeviceConfig config = columns({9});
  config.KindWavelength[9] = 90;
  EXPECT_EQ(files::EngrHeader(config),
            "Count\tDate\tTime\tBeta( 90)\tBetap( 90)\tbbp( 90)\tbb( 90))\r\n");
}

struct KindCase {
  int kind;
  const char* header;
  double EngValues::*member;
  double value;
  const char* text;
};

class OneColumn : public ::testing::TestWithParam<KindCase> {};

TEST_P(OneColumn, HeaderAndValue) {
  const KindCase& c = GetParam();
  DeviceConfig config = columns({KindDate, c.kind, KindTime});
  config.IEngrUnits = "ug/l";
  EXPECT_EQ(files::EngrHeader(config), std::string("Count\tDate\tTime") + c.header + "\r\n");

  SampleState sample;
  sample.ElapsedSample = 4;
  MeterClock clock;  // no date learned yet: month 99
  EngValues values;
  if (c.member) values.*c.member = c.value;
  EXPECT_EQ(files::EngrLine(config, sample, clock, values),
            std::string("4\t990000\t000000") + c.text + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, OneColumn,
    ::testing::Values(
        KindCase{KindChl, "\tCHL(ug/l)", &EngValues::ChlValue, 12.34567, "\t12.3457"},
        KindCase{KindIEngr, "\tiEngr(ug/l)", &EngValues::IEngrValue, 7.31, "\t7.3100"},
        KindCase{KindPhycocyanin, "\tpcyan(raw)", &EngValues::PhycocyaninValue, 1, "\t1.0000"},
        KindCase{KindPhycoerythrin, "\tperyth(raw)", &EngValues::PhycoerythrinValue, 2, "\t2.0000"},
        KindCase{KindUranine, "\tur(raw)", &EngValues::UranineValue, 3, "\t3.0000"},
        KindCase{KindRhodamine, "\trhod(raw)", &EngValues::RhodamineValue, 4, "\t4.0000"},
        KindCase{KindCdom, "\tCDOM(raw)", &EngValues::CdomValue, 94.93449, "\t94.9345"},
        KindCase{KindLss, "\tNTU", &EngValues::LssValue, 0.5, "\t0.5000"},
        KindCase{KindNtu, "\tNTU", &EngValues::NtuValue, -0.25, "\t-0.2500"},
        KindCase{KindITemp, "\tiTemp(C)", &EngValues::ITempValue, 7.5, "\t7.5000"},
        KindCase{KindXTemp, "\txTemp(C)", &EngValues::XTempValue, 19.13, "\t19.1300"},
        KindCase{KindPres, "\tPres(dbar)", &EngValues::PresValue, 10.2, "\t 10.2"},
        KindCase{KindPres, "\tPres(dbar)", &EngValues::PresValue, 123.45, "\t123.5"},
        // Dates, times, references and unused fields add nothing to either line.
        KindCase{KindChlRef, "", nullptr, 0, ""}, KindCase{16, "", nullptr, 0, ""},
        KindCase{KindRefOrUnused, "", nullptr, 0, ""}, KindCase{KindNone, "", nullptr, 0, ""}),
    // The kind's short name and the value written, which tells the two pressure cases apart.
    [](const auto& info) {
      const char* kind = kindInfo(info.param.kind).name;
      return testsupport::testNameOf(std::string(kind ? kind : "none") + info.param.text);
    });

TEST(EngrFormat, NoConfiguration) {
  DeviceConfig config;
  SampleState sample;
  MeterClock clock;
  EngValues values;
  EXPECT_EQ(files::EngrHeader(config), "Count\tDate\tTime\r\n");
  EXPECT_EQ(files::EngrLine(config, sample, clock, values), "0\t990000\t000000\r\n");
}

// The count prints as "%1.0lf" whatever it holds: whole numbers the quick way, the rest
// (halves, negative zero, huge or not finite values) as printf does.
TEST(EngrFormat, CountPrintsLikePrintf) {
  DeviceConfig config;
  SampleState sample;
  MeterClock clock;
  EngValues values;
  for (const double count : {0.0, 7.0, 12345678.0, 999999999999999.0, 1e15, 1e20, 2.5, 3.5, -0.0, -3.0, -0.4,
                             std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    sample.ElapsedSample = count;
    const std::string line = files::EngrLine(config, sample, clock, values);
    EXPECT_EQ(line.substr(0, line.find('\t')), cformat("%1.0lf", count)) << count;
  }
}

// Converts an example recording the way the receive loop does, without corrections.
std::string convertExample(const std::string& name) {
  const std::string base = testsupport::example(name);
  DeviceConfig config;
  SampleState sample;
  MeterClock clock;
  EngValues values;
  std::vector<std::string> warnings;
  auto warn = [&](const std::string& c, const std::string& t) { warnings.push_back(c + t); };
  if (!LoadDeviceFile(base + ".dev", config, warn)) return "device file failed";
  DataLineDecoder decoder(config, sample, clock, warn, [] { return HostTime{}; });
  std::string out = files::EngrHeader(config);
  std::istringstream raw(testsupport::readFile(base + ".raw"));
  std::string line;
  int rejected = 0;
  while (std::getline(raw, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!decoder.ParseDataLine(line, true)) {
      ++rejected;
      continue;
    }
    CorrectCounts(config, sample, false, false);
    ConvertToEngineering(config, sample, values);
    out += files::EngrLine(config, sample, clock, values);
  }
  if (rejected || !warnings.empty()) return "rejected lines";
  return out;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    result.push_back(text.substr(start, end - start));
  return result;
}

struct ExampleCase {
  const char* name;
  const char* header;
  const char* firstLine;
};

class Example : public ::testing::TestWithParam<ExampleCase> {};

TEST_P(Example, ConvertsEveryLine) {
  const std::string eng = convertExample(GetParam().name);
  const std::vector<std::string> all = lines(eng);
  ASSERT_EQ(all.size(), 41u) << eng;
  EXPECT_EQ(all[0], GetParam().header);
  EXPECT_EQ(all[1], GetParam().firstLine);
  const auto tabs = [](const std::string& s) { return std::count(s.begin(), s.end(), '\t'); };
  for (const std::string& l : all) EXPECT_EQ(tabs(l), tabs(all[0])) << l;
}

INSTANTIATE_TEST_SUITE_P(
    Files, Example,
    ::testing::Values(
        ExampleCase{"flcd",
                    "Count\tDate\tTime\tCHL(ug/l)\tCDOM(raw)\tiTemp(C)\txTemp(C)\tPres(dbar)",
                    // (1033-48)*0.0073, (1099-50)*0.0905, 560*0.125-50, 3913*0.01-20,
                    // 1052*0.01-10 (scales are single precision)
                    "0\t051424\t110200\t7.1905\t94.9345\t20.0000\t19.1300\t  0.5"},
        ExampleCase{"ntu", "Count\tDate\tTime\tNTU\tiTemp(C)",
                    // no clock: the sample count and month 99; (1103-47)*0.0048
                    "1\t990000\t000000\t5.0688\t20.0000"},
        ExampleCase{"flasv", "Count\tDate\tTime\tCHL(ug/l)\tiEngr(ug/l)\tiTemp(C)",
                    "0\t051424\t134000\t7.3657\t7.3700\t20.0000"},
        ExampleCase{"bb3",
                    "Count\tDate\tTime"
                    "\tBeta(470)\tBetap(470)\tbbp(470)\tbb(470))"
                    "\tBeta(532)\tBetap(532)\tbbp(532)\tbb(532))"
                    "\tBeta(650)\tBetap(650)\tbbp(650)\tbb(650))\tiTemp(C)",
                    // salinity 35, 117 degrees, X 1.1, sea water; 559*0.125-50
                    "0\t051424\t102100"
                    "\t0.002037\t0.001765\t0.012201\t0.014106"
                    "\t0.002088\t0.001929\t0.013330\t0.014456"
                    "\t0.001288\t0.001221\t0.008440\t0.008922\t19.8750"}),
    [](const auto& info) { return std::string(info.param.name); });

// A desktop with a decimal comma must not change a byte of what is read or written.
TEST(EngrFormat, LocaleDoesNotChangeTheFile) {
  const std::vector<std::string> names = {"bb3", "flcd", "ntu", "flasv"};
  std::vector<std::string> reference;
  for (const auto& n : names) reference.push_back(convertExample(n));

  const std::string previous = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 not installed";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  const std::string localised = probe;
  std::vector<std::string> converted;
  for (const auto& n : names) converted.push_back(convertExample(n));
  std::setlocale(LC_ALL, previous.c_str());

  ASSERT_EQ(localised, "1,5");  // the locale really uses a decimal comma
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(converted[i], reference[i]) << names[i];
}

}  // namespace
