// The logger's daily NetCDF archive: one file per UTC day of receipt, complete (renamed
// into place) when the day is over, its time coordinate the host's receive time with the
// meter's reading beside it; a restarted day gets a file of its own.
#include "acquire/dailynetcdf.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "files/netcdfwriter.h"
#include "measure/devicefile.h"
#include "support/testfiles.h"

namespace {

using namespace std::chrono;

std::vector<double> readDoubles(int ncid, const char* name) {
  int varid = -1, dim = -1;
  size_t length = 0;
  if (nc_inq_varid(ncid, name, &varid) != NC_NOERR || nc_inq_vardimid(ncid, varid, &dim) != NC_NOERR ||
      nc_inq_dimlen(ncid, dim, &length) != NC_NOERR)
    return {};
  std::vector<double> values(length);
  if (length) nc_get_var_double(ncid, varid, values.data());
  return values;
}

TEST(DailyNetcdf, OneCompleteFilePerDayAlongTheReceiveTime) {
  testsupport::TempDir dir;
  meterlink::MeterState state;
  ASSERT_TRUE(measure::LoadDeviceFileAtStart(testsupport::example("flcd.dev"), state.config, nullptr));
  const system_clock::time_point lateOnDay1 = sys_days{2026y / 12 / 7} + 23h + 59min + 58s;
  {
    acquire::DailyNetcdf archive(dir.path(), state.config, {}, nullptr);
    // Three samples a second apart across midnight; the second has no meter time.
    for (int i = 0; i < 3; ++i) {
      const files::SampleTimes times{lateOnDay1 + seconds(i) + 250ms,
                                     i == 1 ? std::nullopt : std::optional<double>(1.7e9 + i)};
      state.sample.SampleValues[2] = 100 + i;
      archive.sample(acquire::SampleRecord{"line", state, times});
      if (i == 2) {
        EXPECT_TRUE(std::filesystem::exists(dir.file("20261207.nc"))) << "the day is complete at its end";
        EXPECT_FALSE(std::filesystem::exists(dir.file("20261208.nc")));
      }
    }
  }
  int ncid = -1;
  ASSERT_EQ(nc_open(dir.file("20261207.nc").c_str(), NC_NOWRITE, &ncid), NC_NOERR);
  const double day1Start = duration<double>((lateOnDay1 + 250ms).time_since_epoch()).count();
  EXPECT_EQ(readDoubles(ncid, "time"), (std::vector<double>{day1Start, day1Start + 1}));
  EXPECT_EQ(readDoubles(ncid, "meter_time"), (std::vector<double>{1.7e9, files::kNetcdfFill}));
  int timeVar = -1, dims = 0, dim = -1;
  char dimName[NC_MAX_NAME + 1] = {};
  nc_inq_varid(ncid, "time", &timeVar);
  nc_inq_var(ncid, timeVar, nullptr, nullptr, &dims, &dim, nullptr);
  nc_inq_dimname(ncid, dim, dimName);
  EXPECT_STREQ(dimName, "time") << "the receive time is the coordinate";
  EXPECT_NE(nc_inq_att(ncid, timeVar, "_FillValue", nullptr, nullptr), NC_NOERR) << "a coordinate has no fill";
  nc_close(ncid);
  ASSERT_EQ(nc_open(dir.file("20261208.nc").c_str(), NC_NOWRITE, &ncid), NC_NOERR);
  EXPECT_EQ(readDoubles(ncid, "counts_chl"), (std::vector<double>{102}));
  nc_close(ncid);

  // The logger starts again the same day: the day's first file stays as it was.
  {
    acquire::DailyNetcdf archive(dir.path(), state.config, {}, nullptr);
    archive.sample(acquire::SampleRecord{"line", state, files::SampleTimes{lateOnDay1 + 5s, std::nullopt}});
    EXPECT_EQ(archive.path(), dir.file("20261208_2.nc"));
  }
  EXPECT_TRUE(std::filesystem::exists(dir.file("20261208_2.nc")));
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 3u) << "no temporary file stays";
}

}  // namespace
