// Comma-separated values: column names with units, the .eng file's numbers without its
// padding, and the host's UTC time stamp.
#include "files/csvformat.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "files/engrformat.h"
#include "measure/kinds.h"

using namespace measure;

namespace {

DeviceConfig columns(const std::vector<int>& kinds) {
  DeviceConfig config;
  for (size_t i = 0; i < kinds.size(); ++i) config.ColumnKind[i] = kinds[i];
  config.DataFieldCount = static_cast<int>(kinds.size());
  config.ExpectedColumns = config.DataFieldCount;
  return config;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
    parts.push_back(text.substr(start, end - start));
  parts.push_back(text.substr(start));
  return parts;
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

struct NamesCase {
  const char* label;
  std::vector<int> kinds;
  std::vector<std::string> names;
};

class CsvNames : public ::testing::TestWithParam<NamesCase> {};

TEST_P(CsvNames, OnePerEngColumnInOrder) {
  DeviceConfig config = columns(GetParam().kinds);
  config.KindWavelength[7] = 470;
  config.KindWavelength[8] = 532;
  config.KindWavelength[9] = 470;  // the same wavelength as kind 7
  EXPECT_EQ(files::CsvColumnNames(config), GetParam().names);
  // As many as the .eng header has columns after Count, Date and Time.
  EXPECT_EQ(split(files::EngrHeader(config), '\t').size(), GetParam().names.size() + 3);
}

INSTANTIATE_TEST_SUITE_P(
    Configs, CsvNames,
    ::testing::Values(
        NamesCase{"none", {}, {}},
        NamesCase{"fluorometer",
                  {KindDate, KindTime, KindChl, KindCdom, KindITemp, KindXTemp, KindPres},
                  {"chl_ug_per_l", "cdom_ppb", "itemp_degc", "xtemp_degc", "pres_dbar"}},
        NamesCase{"backscatter",
                  {KindDate, KindTime, 7, 8, KindITemp},
                  {"beta_470_per_m_per_sr", "betap_470_per_m_per_sr", "bbp_470_per_m", "bb_470_per_m",
                   "beta_532_per_m_per_sr", "betap_532_per_m_per_sr", "bbp_532_per_m", "bb_532_per_m",
                   "itemp_degc"}},
        NamesCase{"references and unused fields add nothing",
                  {KindChlRef, KindRefOrUnused, KindNtu, KindNone},
                  {"ntu"}},
        // Two fields that would give one name stay apart.
        NamesCase{"repeated names",
                  {KindChl, KindChl, 7, 9, KindChl},
                  {"chl_ug_per_l", "chl_ug_per_l_2", "beta_470_per_m_per_sr", "betap_470_per_m_per_sr",
                   "bbp_470_per_m", "bb_470_per_m", "beta_470_per_m_per_sr_2", "betap_470_per_m_per_sr_2",
                   "bbp_470_per_m_2", "bb_470_per_m_2", "chl_ug_per_l_3"}}),
    [](const auto& info) {
      std::string name = info.param.label;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// Every value is the .eng file's text for it, without the width's blanks.
TEST(CsvValues, SameNumbersAsTheEngFileUnpadded) {
  DeviceConfig config = columns({KindDate, KindTime, 7, KindChl, KindNtu, KindITemp, KindPres, KindIEngr});
  config.KindWavelength[7] = 470;
  SampleState sample;
  MeterClock clock;
  struct ValuesCase {
    double beta, chl, ntu, itemp, pres, iengr;
    const char* csv;
  };
  const ValuesCase cases[] = {
      {0.0021, 3.14159, 0.5, 20.0, 0.5, 7.37,
       ",0.002100,0.000000,0.000000,0.000000,3.1416,0.5000,20.0000,0.5,7.3700"},
      {-0.0000004, -0.25, 1234567.891, -2.5, 123.45, 0,
       ",-0.000000,0.000000,0.000000,0.000000,-0.2500,1234567.8910,-2.5000,123.5,0.0000"},
      {1e-9, 0.00005, 99999.99995, 0.125, 10.25, -7,
       ",0.000000,0.000000,0.000000,0.000000,0.0001,99999.9999,0.1250,10.2,-7.0000"},
  };
  for (const ValuesCase& c : cases) {
    EngValues values;
    values.KindBeta[7] = c.beta;
    values.ChlValue = c.chl;
    values.NtuValue = c.ntu;
    values.ITempValue = c.itemp;
    values.PresValue = c.pres;
    values.IEngrValue = c.iengr;
    std::string csv = "kept";
    files::appendCsvValues(csv, config, sample, clock, values);
    EXPECT_EQ(csv, std::string("kept") + c.csv);

    std::string eng = files::EngrLine(config, sample, clock, values);
    eng.resize(eng.size() - 2);  // CR LF
    const std::vector<std::string> engColumns = split(eng, '\t');
    const std::vector<std::string> csvColumns = split(csv, ',');
    ASSERT_EQ(engColumns.size(), csvColumns.size() + 2);  // Count, Date, Time against "kept"
    for (size_t i = 1; i < csvColumns.size(); ++i) EXPECT_EQ(csvColumns[i], trimmed(engColumns[i + 2])) << i;
  }
}

TEST(IsoUtcMillis, CivilDatesAndMilliseconds) {
  using namespace std::chrono;
  struct TimeCase {
    long long millis;  // since 1970-01-01T00:00:00Z
    const char* text;
  };
  const TimeCase cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {1796705043123LL, "2026-12-08T04:44:03.123Z"},
      {1709251199999LL, "2024-02-29T23:59:59.999Z"},  // a leap day's last millisecond
      {1709251200000LL, "2024-03-01T00:00:00.000Z"},
      {951782400000LL, "2000-02-29T00:00:00.000Z"},   // a 400-year leap day
      {4107542400000LL, "2100-03-01T00:00:00.000Z"},  // 2100 is no leap year
      {1798761599999LL, "2026-12-31T23:59:59.999Z"},
      {-1, "1969-12-31T23:59:59.999Z"},
      {-86400000LL * 365, "1969-01-01T00:00:00.000Z"},
      {7258118400000LL - 1, "2199-12-31T23:59:59.999Z"},  // within a nanosecond clock's range
  };
  for (const TimeCase& c : cases)
    EXPECT_EQ(files::IsoUtcMillis(system_clock::time_point(milliseconds(c.millis))), c.text) << c.millis;
  // Finer parts are dropped toward the past, on both sides of 1970.
  EXPECT_EQ(files::IsoUtcMillis(system_clock::time_point(milliseconds(1796705043123LL) + microseconds(999))),
            "2026-12-08T04:44:03.123Z");
  EXPECT_EQ(files::IsoUtcMillis(system_clock::time_point(microseconds(-1))), "1969-12-31T23:59:59.999Z");
}

}  // namespace

// One header and one row layout for every CSV: a time that is not known is an empty
// field, never a made-up one, and the row stays as wide as the header.
TEST(CsvRow, BothTimesWhereKnownEmptyWhereNot) {
  const DeviceConfig config = columns({KindDate, KindTime, KindChl});
  EXPECT_EQ(files::CsvHeader(config), "host_time_utc,meter_time_utc,count,chl_ug_per_l\r\n");
  SampleState sample;
  sample.ElapsedSample = 41;
  MeterClock clock;
  EngValues values;
  values.ChlValue = 1.5;
  using std::chrono::milliseconds;
  const auto received = std::chrono::system_clock::time_point(milliseconds(1796705043123LL));
  struct RowCase {
    files::SampleTimes times;
    const char* row;
  };
  const RowCase cases[] = {
      {{received, 1796705041.0}, "2026-12-08T04:44:03.123Z,2026-12-08T04:44:01.000Z,41,1.5000\r\n"},
      {{received, std::nullopt}, "2026-12-08T04:44:03.123Z,,41,1.5000\r\n"},
      {{std::nullopt, 1796705041.0}, ",2026-12-08T04:44:01.000Z,41,1.5000\r\n"},
      {{std::nullopt, std::nullopt}, ",,41,1.5000\r\n"},
  };
  for (const RowCase& c : cases) {
    std::string row;
    files::appendCsvRow(row, c.times, config, sample, clock, values);
    EXPECT_EQ(row, c.row);
  }
}
