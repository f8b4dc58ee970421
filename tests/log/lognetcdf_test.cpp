// maru log --netcdf over a real virtual meter: the day's NetCDF file is made from the
// day's record, so a logger killed mid-day and started again (with its clock stepping
// back) still ends with one file holding every CSV row along strictly increasing times.
#include <gtest/gtest.h>
#include <netcdf.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "acquire/logclock.h"
#include "log/logharness.h"
#include "support/testfiles.h"

using namespace logtest;

namespace {

std::vector<double> readTimes(const std::string& path) {
  int ncid = -1, varid = -1, dim = -1;
  size_t length = 0;
  std::vector<double> values;
  if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) return {};
  if (nc_inq_varid(ncid, "time", &varid) == NC_NOERR && nc_inq_vardimid(ncid, varid, &dim) == NC_NOERR &&
      nc_inq_dimlen(ncid, dim, &length) == NC_NOERR) {
    values.resize(length);
    if (length) nc_get_var_double(ncid, varid, values.data());
  }
  nc_close(ncid);
  return values;
}

std::string readHistory(const std::string& path) {
  int ncid = -1;
  size_t length = 0;
  std::string text;
  if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) return {};
  if (nc_inq_attlen(ncid, NC_GLOBAL, "history", &length) == NC_NOERR) {
    text.resize(length);
    if (nc_get_att_text(ncid, NC_GLOBAL, "history", text.data()) != NC_NOERR) text.clear();
  }
  nc_close(ncid);
  return text;
}

TEST(LogNetcdf, AKilledDayAndAClockStepEndWithEveryCsvRowInOneFile) {
  testsupport::TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out"), set = out + "/20261208";
  auto meter = startMaru(meterArgs(41, 20) + QStringList{"--link", q(link)});
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(link); }, 5000));
  // The pseudo-terminal itself, so the history shows a port's device path.
  const std::string port = std::filesystem::read_symlink(link);
  const QStringList args{"log", "--port", q(port), "--dev", q(example("flcd.dev")), "--out", q(out), "--netcdf"};
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("MARU_LOG_CLOCK_START", "2026-12-08T10:00:00.000Z");
  {
    auto logger = startMaru(args, env);
    ASSERT_TRUE(waitUntil([&] { return fileLines(set + ".csv").size() > 40; }, 10000)) << logger->err();
    logger->signal(SIGKILL);
    ASSERT_TRUE(logger->waitFinished());
  }
  EXPECT_FALSE(std::filesystem::exists(set + ".nc"));
  const size_t before = fileLines(set + ".csv").size();
  // Started again later, its clock then steps back into the times of the first run.
  env.insert("MARU_LOG_CLOCK_START", "2026-12-08T10:00:30.000Z");
  env.insert("MARU_LOG_CLOCK_STEP", "-30@1.5");
  auto logger = startMaru(args, env);
  ASSERT_TRUE(logger->waitForErr("Clock Stepped: the host clock went back by 30.0 s", 10000)) << logger->err();
  ASSERT_TRUE(waitUntil([&] { return fileLines(set + ".csv").size() > before + 40; }, 10000)) << logger->err();
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0) << logger->err();
  EXPECT_NE(logger->err().find("NetCDF Made: '" + set + ".nc'"), std::string::npos) << logger->err();

  std::vector<double> rows;
  for (const std::string& row : fileLines(set + ".csv"))
    if (const auto at = acquire::parseUtcTime(row.substr(0, row.find(','))))
      rows.push_back(std::chrono::duration<double>(at->time_since_epoch()).count());
  ASSERT_GT(rows.size(), 80u);
  EXPECT_FALSE(std::is_sorted(rows.begin(), rows.end())) << "the clock went back";
  std::stable_sort(rows.begin(), rows.end());
  const std::vector<double> times = readTimes(set + ".nc");
  ASSERT_EQ(times.size(), rows.size());
  for (size_t r = 0; r < times.size(); ++r) {
    EXPECT_NEAR(times[r], rows[r], 1e-3) << r;
    if (r > 0) {
      EXPECT_LT(times[r - 1], times[r]) << r;
    }
  }
  EXPECT_NE(readHistory(set + ".nc").find("--port " + port + " "), std::string::npos) << readHistory(set + ".nc");
  // One file for the day, and nothing half made beside it (the folder's lock aside).
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(out))
    if (entry.path().filename() != ".maru-log.lock") names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"20261208.csv", "20261208.eng", "20261208.nc", "20261208.raw"}));
}

}  // namespace

// A disk too small for the day's NetCDF: the remake fails, the logger says so and ends
// cleanly (the storage library once crashed at exit on such a file), the record stays.
TEST(LogNetcdf, ADiskTooSmallForTheArchiveKeepsTheRecordAndEndsCleanly) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  testsupport::TempDir dir;
  const std::string disk = dir.file("disk"), link = dir.file("meter"), out = disk + "/out";
  std::filesystem::create_directories(disk);
  QProcess mount;
  // Room for the day's few rows, not for the NetCDF file (about 100 kB even for 20 records).
  mount.start("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", q(disk)});
  if (!mount.waitForFinished(10000) || mount.exitCode() != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  auto meter = startMaru(meterArgs(41, 20) + QStringList{"--link", q(link)});
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(link); }, 5000));
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MARU_LOG_CLOCK_START", "2026-12-08T10:00:00.000Z");
    auto logger =
        startMaru({"log", "--port", q(link), "--dev", q(example("flcd.dev")), "--out", q(out), "--netcdf"}, env);
    ASSERT_TRUE(waitUntil([&] { return fileLines(out + "/20261208.csv").size() > 20; }, 10000)) << logger->err();
    logger->signal(SIGTERM);
    ASSERT_TRUE(logger->waitFinished());
    EXPECT_EQ(logger->exitCode(), 0) << logger->err();
    EXPECT_NE(logger->err().find("NetCDF Not Made"), std::string::npos) << logger->err();
    EXPECT_NE(logger->err().find("the disk is full"), std::string::npos) << logger->err();
  }
  for (const char* ext : {".raw", ".csv"}) EXPECT_FALSE(fileLines(out + "/20261208" + ext).empty()) << ext;
  QProcess::execute("umount", {q(disk)});
}
