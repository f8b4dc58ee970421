// Quality control where the acquisition layer runs it: a conversion's CSV and NetCDF files
// carry final flags (a spike's one sample late, also across the NetCDF writer's blocks),
// and a live session over a pseudo-terminal gives each record its flags and the daily CSV
// its flag columns.
#include <gtest/gtest.h>
#include <netcdf.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "acquire/conversion.h"
#include "acquire/dailyfiles.h"
#include "acquire/session.h"
#include "measure/devicefile.h"
#include "support/ncattributes.h"
#include "support/ptypeer.h"
#include "support/qcexample.h"
#include "support/quietline.h"
#include "support/testfiles.h"

namespace {

using acquire::ConversionFormat;
using testsupport::readFile;

const std::string kQcYaml = testsupport::kFlcdQcYaml;

// One FLCD line a second from 04:00:00; sample `spikeAt` is the spike.
std::string flcdLine(size_t i, size_t spikeAt) {
  char line[64];
  std::snprintf(line, sizeof line, "12/08/26\t%02zu:%02zu:%02zu\t%d\t1384\t560\t3205\t2065\r\n", 4 + i / 3600,
                i / 60 % 60, i % 60, i == spikeAt ? 3048 : 1048);
  return line;
}

// Each check's flag for sample i of n (n 0: the series goes on), the spike at s.
int grossRange(size_t i, size_t s, size_t) { return i == s ? 3 : 1; }
int rateOfChange(size_t i, size_t s, size_t) { return i == s || i == s + 1 ? 3 : 1; }
int spike(size_t i, size_t s, size_t n) { return i == 0 || i + 1 == n ? 2 : i == s ? 4 : 1; }
int flatLine(size_t i, size_t, size_t) { return i < 3 ? 1 : i < 5 ? 3 : 4; }
int chlAggregate(size_t i, size_t s, size_t n) { return i == s ? 4 : rateOfChange(i, s, n); }

qc::Config qcConfig() {
  qc::ConfigResult read = qc::parseConfig(kQcYaml);
  EXPECT_TRUE(read.config) << read.error;
  return read.config.value_or(qc::Config{});
}

std::string digits(std::initializer_list<int> flags) {
  std::string text;
  for (const int f : flags) text += std::to_string(f);
  return text;
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> parts(1);
  for (const char c : line) {
    if (c == ',') parts.emplace_back();
    else parts.back().push_back(c);
  }
  return parts;
}

// Past the NetCDF writer's first block of 4096 records, the spike its last record.
class QcConversion : public ::testing::Test {
 protected:
  static constexpr size_t kSamples = 4100, kSpikeAt = 4095;
  void convert(ConversionFormat format, const std::string& output, bool withQc,
               std::vector<std::array<long long, 10>>* flagCounts = nullptr) {
    acquire::ConversionJob::Request request;
    request.format = format;
    request.input = dir.file("cast.raw");
    request.output = dir.file(output);
    ASSERT_TRUE(measure::LoadDeviceFileAtStart(testsupport::example("flcd.dev"), request.config,
                                                 [](const std::string&, const std::string&) {}));
    if (withQc) request.qc = qcConfig();
    acquire::ConversionJob job(std::move(request), nullptr);
    ASSERT_TRUE(job.start()) << job.error();
    while (job.step(size_t{1} << 20) == acquire::ConversionJob::Status::Running) {
    }
    ASSERT_EQ(job.status(), acquire::ConversionJob::Status::Done) << job.error();
    if (flagCounts) *flagCounts = job.flagCounts();
  }
  testsupport::TempDir dir;
};

// Also a file of several output blocks (1 MiB each), written while blocks are being checked.
TEST_F(QcConversion, CsvHasEachFlagColumnInPlaceWithFinalFlagsAndTheEngFileStaysTheSame) {
  for (const auto& [samples, spikeAt] : {std::pair<size_t, size_t>{kSamples, kSpikeAt}, {70000, 65535}}) {
    SCOPED_TRACE(samples);
    std::string raw;
    for (size_t i = 0; i < samples; ++i) raw += flcdLine(i, spikeAt);
    testsupport::writeFile(dir.file("cast.raw"), raw);
    std::vector<std::array<long long, 10>> csvCounts, engCounts;
    convert(ConversionFormat::Csv, "cast.csv", true, &csvCounts);
    const std::vector<std::string> lines = testsupport::splitLines(readFile(dir.file("cast.csv")));
    ASSERT_EQ(lines.size(), samples + 1);
    EXPECT_EQ(lines[0], "host_time_utc,meter_time_utc,count,chl_ug_per_l,chl_ug_per_l_qc,cdom_ppb,itemp_degc,"
                        "xtemp_degc,pres_dbar,counts_cdom_qc");
    std::vector<std::string> got, expected;
    for (size_t i = 0; i < samples; ++i) {
      const std::vector<std::string> row = split(lines[i + 1]);
      ASSERT_EQ(row.size(), 10u) << lines[i + 1];
      got.push_back(row[4] + row[9]);
      expected.push_back(digits({chlAggregate(i, spikeAt, 0), flatLine(i, 0, 0)}));
    }
    EXPECT_EQ(got, expected);

    convert(ConversionFormat::Eng, "plain.eng", false);
    convert(ConversionFormat::Eng, "qc.eng", true, &engCounts);
    EXPECT_EQ(readFile(dir.file("qc.eng")), readFile(dir.file("plain.eng")));
    // The .eng conversion counts the flags the CSV holds.
    std::array<long long, 10> chl{};
    for (const std::string& flags : got) ++chl[static_cast<size_t>(flags[0] - '0')];
    ASSERT_EQ(engCounts.size(), 2u);
    EXPECT_EQ(engCounts[0], chl);
    EXPECT_EQ(engCounts, csvCounts);
  }
}


// Also a file of exactly one writer block, whose flags all come after its records, and one
// past a whole chunk of the flag variables (65,536 records), the spike its last record.
TEST_F(QcConversion, NetcdfHasEveryFlagVariableListedByItsDataWithTheFinalFlags) {
  for (const auto& [samples, spikeAt] :
       {std::pair<size_t, size_t>{kSamples, kSpikeAt}, {4096, 4094}, {70000, 65535}}) {
    SCOPED_TRACE(samples);
    std::string raw;
    for (size_t i = 0; i < samples; ++i) raw += flcdLine(i, spikeAt);
    testsupport::writeFile(dir.file("cast.raw"), raw);
    convert(ConversionFormat::Netcdf, "cast.nc", true);
    int ncid = -1, varid = -1;
    ASSERT_EQ(nc_open(dir.file("cast.nc").c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    EXPECT_EQ(testsupport::ncTextAttribute(ncid, NC_GLOBAL, "qc_configuration"), kQcYaml);
    ASSERT_EQ(nc_inq_varid(ncid, "chl_ug_per_l", &varid), NC_NOERR);
    EXPECT_EQ(testsupport::ncTextAttribute(ncid, varid, "ancillary_variables"),
              "counts chl_ug_per_l_qc chl_ug_per_l_qartod_gross_range_test chl_ug_per_l_qartod_spike_test "
              "chl_ug_per_l_qartod_rate_of_change_test");
    ASSERT_EQ(nc_inq_varid(ncid, "counts", &varid), NC_NOERR);
    EXPECT_EQ(testsupport::ncTextAttribute(ncid, varid, "ancillary_variables"), "counts_cdom_qc counts_cdom_qartod_flat_line_test");

    const struct {
      const char *name, *standardName;
      int (*flag)(size_t i, size_t s, size_t n);
    } variables[] = {
        {"chl_ug_per_l_qc", "aggregate_quality_flag", chlAggregate},
        {"chl_ug_per_l_qartod_gross_range_test", "gross_range_test_quality_flag", grossRange},
        {"chl_ug_per_l_qartod_spike_test", "spike_test_quality_flag", spike},
        {"chl_ug_per_l_qartod_rate_of_change_test", "rate_of_change_test_quality_flag", rateOfChange},
        {"counts_cdom_qc", "aggregate_quality_flag", flatLine},
        {"counts_cdom_qartod_flat_line_test", "flat_line_test_quality_flag", flatLine},
    };
    for (const auto& v : variables) {
      SCOPED_TRACE(v.name);
      nc_type type = NC_NAT;
      ASSERT_EQ(nc_inq_varid(ncid, v.name, &varid), NC_NOERR);
      ASSERT_EQ(nc_inq_vartype(ncid, varid, &type), NC_NOERR);
      EXPECT_EQ(type, NC_BYTE);
      EXPECT_EQ(testsupport::ncTextAttribute(ncid, varid, "standard_name"), v.standardName);
      EXPECT_EQ(testsupport::ncTextAttribute(ncid, varid, "flag_meanings"), "PASS NOT_EVALUATED SUSPECT FAIL MISSING");
      size_t count = 0;
      ASSERT_TRUE(nc_inq_attlen(ncid, varid, "flag_values", &count) == NC_NOERR && count == 5u);
      std::vector<signed char> values(count), flags(samples);
      EXPECT_EQ(nc_get_att_schar(ncid, varid, "flag_values", values.data()), NC_NOERR);
      EXPECT_EQ(values, (std::vector<signed char>{1, 2, 3, 4, 9}));
      ASSERT_EQ(nc_get_var_schar(ncid, varid, flags.data()), NC_NOERR);
      std::vector<int> got(flags.begin(), flags.end()), expected;
      for (size_t i = 0; i < samples; ++i) expected.push_back(v.flag(i, spikeAt, samples));
      EXPECT_EQ(got, expected);
    }
    nc_close(ncid);
  }
}

// A full disk (a file size limit here) while blocks wait to be checked and written: the
// conversion fails, naming the line, and leaves no file; nothing is printed (the failure is
// the caller's to tell) and the program ends normally.
TEST_F(QcConversion, ANetcdfFileThatCannotBeWrittenFailsTheConversionAndLeavesNoFile) {
  std::string raw;
  for (size_t i = 0; i < 140000; ++i) raw += flcdLine(i, 100);
  testsupport::writeFile(dir.file("cast.raw"), raw);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Exit codes: 0 as it should be; 3 it did not fail; 4 no cause given.
    std::signal(SIGXFSZ, SIG_IGN);
    if (!std::freopen(dir.file("stderr.txt").c_str(), "w", stderr)) std::_Exit(6);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{3 << 20, limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    acquire::ConversionJob::Request request;
    request.format = ConversionFormat::Netcdf;
    request.input = dir.file("cast.raw");
    request.output = dir.file("cast.nc");
    if (!measure::LoadDeviceFileAtStart(testsupport::example("flcd.dev"), request.config,
                                        [](const std::string&, const std::string&) {}))
      std::_Exit(5);
    request.qc = qcConfig();
    acquire::ConversionJob job(std::move(request), nullptr);
    if (job.start())
      while (job.step(size_t{1} << 16) == acquire::ConversionJob::Status::Running) {
      }
    if (job.status() != acquire::ConversionJob::Status::Failed) std::_Exit(3);
    if (job.error().rfind("Line ", 0) != 0) std::_Exit(4);
    std::exit(0);  // the library's exit handlers run
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"cast.raw", "stderr.txt"}));
  EXPECT_EQ(readFile(dir.file("stderr.txt")), "");
}

// Each record's flags of chl_ug_per_l and counts_cdom; no warning.
struct Heard : acquire::Listener, acquire::Sink {
  std::vector<std::string> flags;  ///< gross range, rate of change, spike, the spike before, flat line
  void warning(const std::string& caption, const std::string& text) override { ADD_FAILURE() << caption << text; }
  void sample(const acquire::SampleRecord& record) override {
    const qc::Flags &chl = record.qc->now()[0], &cdom = record.qc->now()[1];
    flags.push_back(digits({int(chl[qc::Test::GrossRange]), int(chl[qc::Test::RateOfChange]), int(chl[qc::Test::Spike]),
                            int(record.qc->previousSpike()[0].value_or(qc::Flag(0))), int(cdom[qc::Test::FlatLine])}));
  }
};

TEST(QcSession, EachRecordHasItsLiveFlagsTheSpikeComesWithTheNextAndTheDailyCsvHasThem) {
  constexpr size_t kSamples = 7, kSpikeAt = 3;
  testsupport::TempDir dir;
  testsupport::PtyPeer peer;
  meterlink::MeterState state;
  Heard heard;
  acquire::SessionOptions options;
  const auto received = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + std::chrono::hours{5};
  options.utcClock = [&] { return received; };
  acquire::Session session(state, heard, options);
  ASSERT_EQ(session.loadDeviceFile(testsupport::example("flcd.dev")), acquire::Session::Load::Loaded);
  session.setRules(true, false, false);
  ASSERT_EQ(session.setQc(qcConfig()), "");
  acquire::DailyLogFiles files(dir.path(), state.config, nullptr);
  files.setQc(session.qc());
  std::string error;
  ASSERT_TRUE(files.open(received, error)) << error;
  session.addSink(&heard);
  session.addSink(&files);
  ASSERT_EQ(session.openPort(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  testsupport::letLineBeSeenQuiet(session);
  for (size_t i = 0; i < kSamples; ++i) peer.send(flcdLine(i, kSpikeAt));
  for (int i = 0; i < 400 && heard.flags.size() < kSamples; ++i) {
    testsupport::pumpEvents(5);
    while (session.receive(nullptr, 4096) > 0) {
    }
  }
  files.close();

  std::vector<std::string> expected, csvFlags, csvExpected;
  const std::vector<std::string> csv = testsupport::splitLines(readFile(dir.file("20261208.csv")));
  ASSERT_EQ(csv.size(), kSamples + 1);
  EXPECT_EQ(csv[0].substr(csv[0].rfind(",pres")), ",pres_dbar,counts_cdom_qc");
  for (size_t i = 0; i < kSamples; ++i) {
    expected.push_back(digits({grossRange(i, kSpikeAt, 0), rateOfChange(i, kSpikeAt, 0), 2,
                               i == 0 ? 0 : spike(i - 1, kSpikeAt, 0), flatLine(i, 0, 0)}));
    // The daily CSV has the live aggregates: the spike test left out.
    const std::vector<std::string> row = split(csv[i + 1]);
    csvFlags.push_back(row.size() == 10 ? row[4] + row[9] : csv[i + 1]);
    csvExpected.push_back(digits({rateOfChange(i, kSpikeAt, 0), flatLine(i, 0, 0)}));
  }
  EXPECT_EQ(heard.flags, expected);
  EXPECT_EQ(csvFlags, csvExpected);
}

}  // namespace
