// The logger's daily NetCDF archive, made from the day's .raw and .csv as the daily files
// wrote them: every CSV row a record along strictly increasing receive times (also after
// the host clock stepped back or one file lost rows), and a remake that fails on a full
// disk leaves the record alone, ends the program cleanly, and succeeds once there is room.
#include "acquire/dailynetcdf.h"

#include <gtest/gtest.h>
#include <netcdf.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <numeric>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "acquire/dailyfiles.h"
#include "files/netcdfwriter.h"
#include "link/linedispatch.h"
#include "measure/devicefile.h"
#include "support/ncattributes.h"
#include "support/testfiles.h"

namespace {

using namespace std::chrono;
using testsupport::readFile;
using testsupport::splitLines;
using testsupport::writeFile;

std::vector<double> readDoubles(const std::string& path, const char* name) {
  int ncid = -1, varid = -1, dim = -1;
  size_t length = 0;
  std::vector<double> values;
  if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) return {};
  // "counts_chl": the channel "chl" of the raw counts.
  if (std::string_view(name).starts_with("counts_")) values = testsupport::ncCountsChannel(ncid, name + 7);
  else if (nc_inq_varid(ncid, name, &varid) == NC_NOERR && nc_inq_vardimid(ncid, varid, &dim) == NC_NOERR &&
      nc_inq_dimlen(ncid, dim, &length) == NC_NOERR) {
    values.resize(length);
    if (length) nc_get_var_double(ncid, varid, values.data());
  }
  nc_close(ncid);
  return values;
}

const system_clock::time_point kStart = sys_days{2026y / 12 / 8} + 4h + 44min;

// Writes `count` lines through the daily files (as the logger does), the i-th received at
// `received(i)`; the CHL counts are 100 + i. Returns the set "DIR/20261208".
template <typename Received>
std::string logDay(const std::string& dir, int count, Received received, const std::optional<qc::Config>& qc = {}) {
  meterlink::MeterState state;
  EXPECT_TRUE(measure::LoadDeviceFileAtStart(testsupport::example("flcd.dev"), state.config, nullptr));
  std::optional<files::QcRun> run;
  std::string why;
  if (qc) run = files::QcRun::bind(*qc, state.config, why);
  acquire::DailyLogFiles files(dir, state.config, nullptr);
  files.setQc(run ? &*run : nullptr);
  std::string error;
  EXPECT_TRUE(files.open(received(0), error)) << error;
  meterlink::LineDispatch dispatch(state, nullptr, nullptr);
  dispatch.deviceFileInForce = true;
  int i = 0;
  dispatch.setLineHandler([&](const meterlink::Line& line) {
    if (line.kind != meterlink::Line::Kind::Sample) return;
    if (run) run->push(std::nullopt, state.sample, state.eng);
    files.write(received(i), 1.8e9 + i, line.text, state, run ? &*run : nullptr);
    ++i;
  });
  for (int n = 0; n < count; ++n) {
    char line[80];
    std::snprintf(line, sizeof line, "12/08/26\t04:%02d:%02d\t%d\t1384\t560\t3205\t2065\r\n", 44 + n / 60, n % 60,
                  100 + n);
    dispatch.feed(line, std::strlen(line));
  }
  files.close();
  return dir + "/20261208";
}

acquire::DailyNetcdf::Settings settingsFor(const std::optional<qc::Config>& qc = {}) {
  acquire::DailyNetcdf::Settings settings;
  EXPECT_TRUE(measure::LoadDeviceFileAtStart(testsupport::example("flcd.dev"), settings.config, nullptr));
  settings.qc = qc;
  settings.retryAfter = {};
  return settings;
}

void runAll(acquire::DailyNetcdf& archive) {
  for (int slices = 0; archive.work(512) && slices < 100000; ++slices) {
  }
}

// Drops the `index`-th line (0-based, after any header) of a file.
void dropLine(const std::string& path, size_t index) {
  std::vector<std::string> lines = splitLines(readFile(path));
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(index));
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  writeFile(path, text);
}

struct Variant {
  const char* name;
  int stepBackAt;     // the host clock goes back 30 s before this line (-1: never)
  int rawLineLost;    // this line is missing from .raw (-1: none)
  int csvRowLost;     // this row is missing from .csv (-1: none)
};

class Remake : public ::testing::TestWithParam<Variant> {};

TEST_P(Remake, EveryCsvRowIsARecordAlongStrictlyIncreasingReceiveTimes) {
  const Variant v = GetParam();
  testsupport::TempDir dir;
  constexpr int kLines = 5000;  // more than one block of the writer
  const auto received = [&](int i) {
    return kStart + milliseconds(100 * i) - (v.stepBackAt >= 0 && i >= v.stepBackAt ? 30s : 0s);
  };
  const std::string set = logDay(dir.path(), kLines, received);
  std::vector<double> rowTime;  // per CSV row
  std::vector<double> rowCounts;
  for (int i = 0; i < kLines; ++i) {
    if (i == v.csvRowLost) continue;
    rowTime.push_back(duration<double>(received(i).time_since_epoch()).count());
    rowCounts.push_back(i == v.rawLineLost ? NC_FILL_INT : 100 + i);  // the counts are int
  }
  if (v.rawLineLost >= 0) dropLine(set + ".raw", static_cast<size_t>(v.rawLineLost));
  if (v.csvRowLost >= 0) dropLine(set + ".csv", static_cast<size_t>(v.csvRowLost) + 1);

  std::vector<std::string> told;
  acquire::DailyNetcdf archive(dir.path(), settingsFor(), [&](const std::string& c, const std::string& t) {
    told.push_back(c + ": " + t);
  });
  archive.catchUp(dir.file("20261209"));
  runAll(archive);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].rfind("NetCDF Made: '" + set + ".nc': " + std::to_string(rowTime.size()) + " rows", 0), 0u)
      << told[0];

  const std::vector<double> time = readDoubles(set + ".nc", "time"), counts = readDoubles(set + ".nc", "counts_chl");
  ASSERT_EQ(time.size(), rowTime.size());
  ASSERT_EQ(counts.size(), rowTime.size());
  for (size_t r = 1; r < time.size(); ++r) ASSERT_LT(time[r - 1], time[r]) << r;
  // Each record is its row: in the order of the receive times, with the counts of its line.
  std::vector<size_t> order(rowTime.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return rowTime[a] < rowTime[b]; });
  for (size_t r = 0; r < order.size(); ++r) {
    ASSERT_NEAR(time[r], rowTime[order[r]], 2e-4) << r;
    ASSERT_EQ(counts[r], rowCounts[order[r]]) << r;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, Remake,
                         ::testing::Values(Variant{"InOrder", -1, -1, -1}, Variant{"ClockBack30s", 2000, -1, -1},
                                           Variant{"RawLineLost", -1, 1234, -1}, Variant{"CsvRowLost", -1, -1, 4321}),
                         [](const auto& info) { return std::string(info.param.name); });

// Values and flags of a remake are what `maru convert` makes of the raw file, the spike
// test's (which needs the next sample) included.
TEST(DailyNetcdf, ValuesAndFlagsAreTheConversions) {
  testsupport::TempDir dir;
  const qc::ConfigResult qc = qc::parseConfig(
      "streams:\n  chl_ug_per_l:\n    qartod:\n      spike_test: {suspect_threshold: 0.5, fail_threshold: 5}\n"
      "      gross_range_test: {fail_span: [0, 1000]}\n");
  ASSERT_TRUE(qc.config) << qc.error;
  const std::string set = logDay(dir.path(), 5000, [](int i) { return kStart + milliseconds(100 * i); }, qc.config);
  acquire::DailyNetcdf archive(dir.path(), settingsFor(qc.config), nullptr);
  archive.catchUp("");
  runAll(archive);
  acquire::ConversionJob::Request request;
  request.format = acquire::ConversionFormat::Netcdf;
  request.input = set + ".raw";
  request.output = dir.file("converted.nc");
  request.config = settingsFor().config;
  request.qc = qc.config;
  acquire::ConversionJob job(request, nullptr);
  ASSERT_TRUE(job.start()) << job.error();
  ASSERT_EQ(job.step(1 << 30), acquire::ConversionJob::Status::Done) << job.error();
  const auto bytes = [](const std::string& path, const char* name) {
    int ncid = -1, varid = -1;
    std::vector<signed char> flags(5000);
    if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) return std::vector<signed char>{};
    if (nc_inq_varid(ncid, name, &varid) != NC_NOERR || nc_get_var_schar(ncid, varid, flags.data()) != NC_NOERR)
      flags.clear();
    nc_close(ncid);
    return flags;
  };
  for (const char* flag : {"chl_ug_per_l_qartod_spike_test", "chl_ug_per_l_qc"}) {
    EXPECT_EQ(bytes(set + ".nc", flag), bytes(request.output, flag)) << flag;
    EXPECT_FALSE(bytes(set + ".nc", flag).empty()) << flag;
  }
  for (const char* name : {"chl_ug_per_l", "counts_chl", "xtemp_degc"})
    EXPECT_EQ(readDoubles(set + ".nc", name), readDoubles(request.output, name)) << name;
}

// A full disk (a file size limit here) makes the remake fail: the record and the earlier
// .nc stay, no temporary file is left, the program ends normally (the NetCDF library's
// exit handler finds no half-closed file), and the next try, with room, makes the file.
TEST(DailyNetcdf, AFailedRemakeKeepsTheRecordAndIsTriedAgainWithRoom) {
  testsupport::TempDir dir;
  const std::string set = logDay(dir.path(), 3000, [](int i) { return kStart + milliseconds(100 * i); });
  writeFile(set + ".nc", "earlier");
  std::filesystem::last_write_time(set + ".nc", std::filesystem::last_write_time(set + ".csv") - 1h);
  const std::string raw = readFile(set + ".raw"), csv = readFile(set + ".csv");
  const size_t rows = splitLines(csv).size() - 1;
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Exit codes: 0 all as it should be; 3 the remake did not fail; 4 the retry did not make it.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{64 * 1024, limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::string told;
    acquire::DailyNetcdf archive(dir.path(), settingsFor(),
                                 [&](const std::string& c, const std::string&) { told += c + ";"; });
    archive.catchUp("");
    runAll(archive);
    if (told != "NetCDF Not Made;") std::_Exit(3);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    archive.tick("");  // the wait is over
    runAll(archive);
    if (told != "NetCDF Not Made;NetCDF Made;") std::_Exit(4);
    archive.tick("");
    runAll(archive);
    std::exit(0);  // the library's exit handlers run
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readFile(set + ".raw"), raw);
  EXPECT_EQ(readFile(set + ".csv"), csv);
  EXPECT_EQ(readDoubles(set + ".nc", "time").size(), rows);
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 4u) << "no temporary file stays";
}

// An earlier set written under another device file or QC is named once and left alone.
TEST(DailyNetcdf, AnEarlierSetOfOtherColumnsIsNamedAndLeft) {
  testsupport::TempDir dir;
  logDay(dir.path(), 5, [](int i) { return kStart + seconds(i); });
  const qc::ConfigResult qc =
      qc::parseConfig("streams:\n  chl_ug_per_l:\n    qartod:\n      gross_range_test: {fail_span: [0, 100]}\n");
  ASSERT_TRUE(qc.config) << qc.error;
  std::vector<std::string> told;
  acquire::DailyNetcdf archive(dir.path(), settingsFor(qc.config), [&](const std::string& c, const std::string& t) {
    told.push_back(c + ": " + t);
  });
  archive.catchUp(dir.file("20261209"));
  EXPECT_FALSE(archive.busy());
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("has other columns"), std::string::npos) << told[0];
  EXPECT_FALSE(std::filesystem::exists(dir.file("20261208.nc")));
}

}  // namespace
