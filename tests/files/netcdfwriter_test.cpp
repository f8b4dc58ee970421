// The NetCDF writer on real files, read back through the NetCDF C library: records across
// write blocks, fill values, unique names, and no file left behind by a failure.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "files/netcdfwriter.h"
#include "measure/devicefile.h"
#include "support/ncattributes.h"
#include "support/testfiles.h"

namespace {

using testsupport::TempDir;

measure::DeviceConfig configFrom(const TempDir& dir, const std::string& text) {
  const std::string path = dir.file("meter.dev");
  testsupport::writeFile(path, text);
  measure::DeviceConfig config;
  config.setStartupDefaults();
  std::string warnings;
  EXPECT_TRUE(measure::LoadDeviceFile(path, config, [&](const std::string& c, const std::string& t) {
    warnings += c + ": " + t + "\n";
  })) << warnings;
  return config;
}

// Two chlorophyll fields with references: names must stay unique, each value names its counts.
const char* kTwoChl =
    "Twin fluorometer\nColumns=6\nDate=1\nTime=2\nCHL=3 0.0073 48\nCHLREF=4\nCHL=5 0.01 40\niTemp=6 0.125 -50.0\n";

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

std::vector<double> readVar(int ncid, const std::string& name, size_t count) {
  int varid = -1;
  EXPECT_EQ(nc_inq_varid(ncid, name.c_str(), &varid), NC_NOERR) << name;
  std::vector<double> values(count);
  if (varid >= 0) {
    EXPECT_EQ(nc_get_var_double(ncid, varid, values.data()), NC_NOERR) << name;
  }
  return values;
}


TEST(NetcdfVariables, NamesAreUniqueAndValuesNameTheirCounts) {
  TempDir dir;
  const std::vector<files::NetcdfVariable> vars = files::netcdfVariables(configFrom(dir, kTwoChl));
  std::vector<std::string> names;
  for (const auto& v : vars) names.push_back(v.name);
  const std::vector<std::string> expected = {"chl_ug_per_l", "chl_ug_per_l_2", "itemp_degc", "counts_chl",
                                             "counts_chl_ref", "counts_chl_2", "counts_itemp"};
  EXPECT_EQ(names, expected);
  for (const auto& v : vars) {
    EXPECT_FALSE(v.units.empty()) << v.name;
    if (v.field >= 0) {
      EXPECT_EQ(v.units, "1");
      EXPECT_TRUE(v.ancillaryVariables.empty());
      EXPECT_EQ("counts_" + v.channel, v.name);
    } else {
      EXPECT_EQ(v.ancillaryVariables, "counts") << v.name;
    }
  }
  EXPECT_EQ(vars[0].standardName, "mass_concentration_of_chlorophyll_a_in_sea_water");
}

TEST(NetcdfWriter, RecordsAcrossBlocksReadBackWithFillForUnknownTimes) {
  TempDir dir;
  const measure::DeviceConfig config = configFrom(dir, kTwoChl);
  const std::string path = dir.file("out.nc");
  files::NetcdfWriter writer;
  files::NetcdfProvenance provenance;
  provenance.deviceFileText = kTwoChl;
  provenance.history = "test run";
  provenance.meterTimeZone.minutes = -90;
  ASSERT_TRUE(writer.open(path, config, provenance)) << writer.error();
  EXPECT_TRUE(filesIn(dir.path()).size() == 2) << "the temporary file beside the device file";

  constexpr size_t kRecords = 9000;  // more than two write blocks
  for (size_t i = 0; i < kRecords; ++i) {
    measure::SampleState sample;
    measure::EngValues eng;
    for (size_t f = 0; f < 6; ++f) sample.SampleValues[f] = static_cast<double>(i * 10 + f);
    eng.ChlValue = static_cast<double>(i) / 8;
    eng.ITempValue = -static_cast<double>(i);
    const std::optional<double> time = i % 7 == 3 ? std::nullopt : std::optional<double>(1.7e9 + i);
    ASSERT_TRUE(writer.write(time, sample, eng)) << writer.error();
  }
  EXPECT_EQ(writer.records(), static_cast<long long>(kRecords));
  ASSERT_TRUE(writer.finish()) << writer.error();
  EXPECT_EQ(filesIn(dir.path()).size(), 2u) << "no temporary file stays";

  int ncid = -1;
  ASSERT_EQ(nc_open(path.c_str(), NC_NOWRITE, &ncid), NC_NOERR);
  int format = 0;
  nc_inq_format(ncid, &format);
  EXPECT_EQ(format, NC_FORMAT_NETCDF4);
  int dim = -1;
  size_t length = 0;
  ASSERT_EQ(nc_inq_dimid(ncid, "obs", &dim), NC_NOERR) << "a conversion's records lie along obs";
  nc_inq_dimlen(ncid, dim, &length);
  ASSERT_EQ(length, kRecords);
  const auto time = readVar(ncid, "time", kRecords);
  const auto chl = readVar(ncid, "chl_ug_per_l", kRecords);
  const auto chl2 = readVar(ncid, "chl_ug_per_l_2", kRecords);
  const auto itemp = readVar(ncid, "itemp_degc", kRecords);
  const auto counts = testsupport::ncCountsChannel(ncid, "chl_2");
  const auto ref = testsupport::ncCountsChannel(ncid, "chl_ref");
  ASSERT_EQ(counts.size(), kRecords);
  ASSERT_EQ(ref.size(), kRecords);
  for (size_t i = 0; i < kRecords; ++i) {
    ASSERT_EQ(time[i], i % 7 == 3 ? files::kNetcdfFill : 1.7e9 + i) << i;
    ASSERT_EQ(chl[i], static_cast<double>(i) / 8) << i;
    ASSERT_EQ(chl2[i], static_cast<double>(i) / 8) << i;
    ASSERT_EQ(itemp[i], -static_cast<double>(i)) << i;
    ASSERT_EQ(counts[i], static_cast<double>(i * 10 + 4)) << i;  // field 5
    ASSERT_EQ(ref[i], static_cast<double>(i * 10 + 3)) << i;     // field 4
  }
  EXPECT_EQ(testsupport::ncTextAttribute(ncid, NC_GLOBAL, "device_file"), kTwoChl);
  EXPECT_EQ(testsupport::ncTextAttribute(ncid, NC_GLOBAL, "meter_time_zone"), "-01:30");
  EXPECT_EQ(testsupport::ncTextAttribute(ncid, NC_GLOBAL, "title"), "Twin fluorometer");
  EXPECT_NE(testsupport::ncTextAttribute(ncid, NC_GLOBAL, "history").find("test run"), std::string::npos);
  nc_close(ncid);
}

// A device file's units go into "units" only where UDUNITS reads them; others stay readable
// in the long name. A meter without backscatter carries none of its settings.
TEST(NetcdfWriter, UnitsOnlyWhereUdunitsReadsThem) {
  struct Case {
    const char* units;
    bool kept;
  };
  for (const Case& c : {Case{"ug/l", true}, Case{"RFU", false}, Case{"ug/L QSDE", false}}) {
    SCOPED_TRACE(c.units);
    TempDir dir;
    const measure::DeviceConfig config =
        configFrom(dir, std::string("Analog fluorometer\nColumns=2\niengrunits=") + c.units + "\nIENGR=1\nCHL=2 0.0073 48\n");
    const std::string path = dir.file("out.nc");
    files::NetcdfWriter writer;
    ASSERT_TRUE(writer.open(path, config, {})) << writer.error();
    ASSERT_TRUE(writer.finish()) << writer.error();
    int ncid = -1, varid = -1;
    ASSERT_EQ(nc_open(path.c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    ASSERT_EQ(nc_inq_varid(ncid, "iengr", &varid), NC_NOERR);
    EXPECT_EQ(nc_inq_attid(ncid, varid, "units", nullptr) == NC_NOERR, c.kept);
    if (c.kept) {
      EXPECT_EQ(testsupport::ncTextAttribute(ncid, varid, "units"), c.units);
    }
    EXPECT_EQ(testsupport::ncTextAttribute(ncid, varid, "long_name").find(c.units) != std::string::npos, !c.kept);
    EXPECT_NE(nc_inq_attid(ncid, NC_GLOBAL, "salinity", nullptr), NC_NOERR);
    nc_close(ncid);
  }
}

TEST(NetcdfWriter, FailuresLeaveNoFile) {
  TempDir dir;
  const measure::DeviceConfig config = configFrom(dir, kTwoChl);
  measure::SampleState sample;
  measure::EngValues eng;

  // A folder that is not there.
  files::NetcdfWriter missing;
  EXPECT_FALSE(missing.open(dir.file("none/out.nc"), config, {}));
  EXPECT_NE(missing.error().find(dir.file("none/out.nc")), std::string::npos) << missing.error();
  EXPECT_FALSE(missing.write(0.0, sample, eng));
  EXPECT_FALSE(missing.finish());

  // Given up half way, explicitly or by going away: an older file at the path stays as it was.
  const std::string kept = dir.file("kept.nc");
  testsupport::writeFile(kept, "older");
  {
    files::NetcdfWriter writer;
    ASSERT_TRUE(writer.open(kept, config, {}));
    ASSERT_TRUE(writer.write(1.0, sample, eng));
    EXPECT_EQ(testsupport::readFile(kept), "older");
  }
  files::NetcdfWriter abandoned;
  ASSERT_TRUE(abandoned.open(dir.file("gone.nc"), config, {}));
  ASSERT_TRUE(abandoned.write(1.0, sample, eng));
  abandoned.abandon();
  EXPECT_FALSE(abandoned.finish());
  EXPECT_EQ(testsupport::readFile(kept), "older");
  auto names = filesIn(dir.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"kept.nc", "meter.dev"}));
}

}  // namespace
