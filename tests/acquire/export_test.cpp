// File > Export Recording…'s conversion as the window runs it (acquire::exportRequest, a
// 64 KiB slice at a time): it equals `maru convert --format csv` byte for byte and
// `--format netcdf` value for value, Cancel leaves the earlier file and no temporary one, a
// failure names the input line, and lines it warns about are told with their number.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <netcdf.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "acquire/conversion.h"
#include "acquire/meterzone.h"
#include "acquire/session.h"
#include "support/testfiles.h"

namespace {

using acquire::ConversionFormat;
using acquire::ConversionJob;
using testsupport::example;
using testsupport::readFile;
using testsupport::writeFile;

constexpr size_t kSlice = 1 << 16;  // what the window converts per tick

std::string convertWithMaru(const std::string& format, const std::string& name, const std::string& raw,
                            const std::string& out, const std::string& zone = "UTC") {
  QProcess p;
  p.start(QString(MARU_TOOL), {"convert", "--dev", QString::fromStdString(example(name + ".dev")), "--format",
                               QString::fromStdString(format), "--meter-tz", QString::fromStdString(zone),
                               QString::fromStdString(raw), "-o", QString::fromStdString(out)});
  EXPECT_TRUE(p.waitForFinished(120000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  return p.readAllStandardError().toStdString();
}

// Every variable of a NetCDF file with its values, read through the C API.
std::map<std::string, std::vector<double>> readVariables(const std::string& path) {
  std::map<std::string, std::vector<double>> out;
  int nc = -1;
  if (nc_open(path.c_str(), NC_NOWRITE, &nc) != NC_NOERR) {
    ADD_FAILURE() << "cannot open " << path;
    return out;
  }
  int count = 0;
  EXPECT_EQ(nc_inq_nvars(nc, &count), NC_NOERR);
  for (int v = 0; v < count; ++v) {
    char name[NC_MAX_NAME + 1] = {};
    int dims = 0;
    int dimIds[NC_MAX_VAR_DIMS] = {};
    nc_type type = NC_NAT;
    EXPECT_EQ(nc_inq_var(nc, v, name, &type, &dims, dimIds, nullptr), NC_NOERR);
    if (type == NC_STRING) continue;  // labels (the counts' channels), written from the device file alone
    size_t length = 1;
    for (int d = 0; d < dims; ++d) {
      size_t n = 0;
      nc_inq_dimlen(nc, dimIds[d], &n);
      length *= n;
    }
    std::vector<double> values(length);
    if (length > 0) {
      EXPECT_EQ(nc_get_var_double(nc, v, values.data()), NC_NOERR) << name;
    }
    out[name] = std::move(values);
  }
  nc_close(nc);
  return out;
}

class Export : public ::testing::Test {
 protected:
  /// The window's job for `raw` into `out` with the example device file `name` loaded.
  std::unique_ptr<ConversionJob> job(const std::string& name, const std::string& raw, const std::string& out,
                                     const std::string& zone = "UTC") {
    measure::DeviceConfig config;
    const std::string dev = example(name + ".dev");
    EXPECT_TRUE(acquire::loadDeviceFileAtStart(dev, config, [](const std::string&, const std::string&) {}));
    const auto offset = acquire::parseMeterZone(zone);
    EXPECT_TRUE(offset.has_value()) << zone;
    return std::make_unique<ConversionJob>(acquire::exportRequest(raw, out, acquire::exportFormatFor(out), config, dev,
                                                                  nullptr, false, false, offset.value_or(files::UtcOffset{})),
                                           acquire::collectWarnings(warnings));
  }
  /// Slices until the job ended; its status.
  static ConversionJob::Status runToEnd(ConversionJob& job) {
    auto status = ConversionJob::Status::Running;
    for (int n = 0; n < 10000 && status == ConversionJob::Status::Running; ++n) status = job.step(kSlice);
    return status;
  }
  testsupport::TempDir dir;
  std::vector<std::string> warnings;
};

struct ParityCase {
  const char* name;
  const char* format;  // as maru convert takes it
  const char* zone;    // the meter clock's zone
};

class ExportParity : public Export, public ::testing::WithParamInterface<ParityCase> {};

TEST_P(ExportParity, EqualsMaruConvert) {
  const ParityCase& c = GetParam();
  const bool csv = std::string(c.format) == "csv";
  const std::string raw = example(std::string(c.name) + ".raw");
  const std::string out = dir.file(csv ? "window.csv" : "window.nc"), tool = dir.file(csv ? "tool.csv" : "tool.nc");
  auto exportJob = job(c.name, raw, out, c.zone);
  ASSERT_TRUE(exportJob->start()) << exportJob->error();
  ASSERT_EQ(runToEnd(*exportJob), ConversionJob::Status::Done) << exportJob->error();
  EXPECT_TRUE(warnings.empty()) << warnings[0];
  convertWithMaru(c.format, c.name, raw, tool, c.zone);
  if (csv) {
    ASSERT_FALSE(readFile(tool).empty());
    EXPECT_EQ(readFile(out), readFile(tool));
    return;
  }
  const auto got = readVariables(out), expected = readVariables(tool);
  ASSERT_TRUE(expected.count("time"));
  // Every engineering line of the example is one record.
  EXPECT_EQ(expected.at("time").size(),
            testsupport::splitLines(readFile(example(std::string(c.name) + ".eng"))).size() - 1);
  ASSERT_EQ(got.size(), expected.size());
  for (const auto& [variable, values] : expected) {
    ASSERT_TRUE(got.count(variable)) << variable;
    EXPECT_EQ(got.at(variable), values) << variable;
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExportParity,
                         ::testing::Values(ParityCase{"bb3", "csv", "+02:00"}, ParityCase{"flasv", "csv", "UTC"},
                                           ParityCase{"flcd", "csv", "-03:30"}, ParityCase{"ntu", "csv", "UTC"},
                                           ParityCase{"bb3", "netcdf", "UTC"}, ParityCase{"flcd", "netcdf", "UTC"}),
                         [](const auto& info) { return std::string(info.param.name) + "_" + info.param.format; });

class ExportCancel : public Export, public ::testing::WithParamInterface<const char*> {};

TEST_P(ExportCancel, RunsInSlicesAndCancelLeavesTheEarlierFileAndNoTemporaryOne) {
  std::string bytes = readFile(example("ntu.raw"));
  bytes.resize(bytes.rfind('\n') + 1);
  std::string all;
  for (int i = 0; i < 600; ++i) all += bytes;
  const std::string raw = dir.file("big.raw");
  writeFile(raw, all);
  ASSERT_GT(all.size(), 4 * kSlice);
  const std::string out = dir.file(std::string("cancelled.") + GetParam());
  writeFile(out, "an earlier export\n");
  auto exportJob = job("ntu", raw, out);
  ASSERT_TRUE(exportJob->start()) << exportJob->error();
  EXPECT_EQ(exportJob->step(kSlice), ConversionJob::Status::Running);
  EXPECT_EQ(exportJob->step(kSlice), ConversionJob::Status::Running) << "one slice a step";
  EXPECT_GT(exportJob->percent(), 0);
  EXPECT_LT(exportJob->percent(), 100);
  EXPECT_NE(exportJob->temporaryPath(), "");
  exportJob->cancel();
  EXPECT_EQ(exportJob->status(), ConversionJob::Status::Cancelled);
  EXPECT_EQ(readFile(out), "an earlier export\n");
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_TRUE(entry.path() == raw || entry.path() == out) << "left behind: " << entry.path();
  // A new export after the cancel runs to its end.
  auto again = job("ntu", raw, out);
  ASSERT_TRUE(again->start());
  EXPECT_EQ(runToEnd(*again), ConversionJob::Status::Done);
  EXPECT_NE(readFile(out), "an earlier export\n");
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportCancel, ::testing::Values("csv", "nc"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(Export, AFailedWriteNamesTheInputLineAndACauseAndAFileThatCannotStartIsNamed) {
  const std::string raw = dir.file("three.raw");
  writeFile(raw, "1103\t4094\t560\r\nVER MARU 1.0\r\n1112\t4095\t560\r\n");
  auto full = job("ntu", raw, "/dev/full");
  ASSERT_TRUE(full->start()) << full->error();
  EXPECT_EQ(runToEnd(*full), ConversionJob::Status::Failed);
  EXPECT_NE(full->error().find("Line 3 of '" + raw + "'"), std::string::npos) << full->error();
  EXPECT_NE(full->error().find("could not be"), std::string::npos) << full->error();

  struct Case {
    std::string input, output, named;
  };
  for (const Case& c : {Case{dir.file("missing.raw"), dir.file("out.csv"), "missing.raw"},
                        Case{example("ntu.raw"), dir.file("no-such-folder/out.nc"), "no-such-folder/out.nc"}}) {
    auto refused = job("ntu", c.input, c.output);
    EXPECT_FALSE(refused->start());
    EXPECT_NE(refused->error().find(c.named), std::string::npos) << refused->error();
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.csv")));
}

TEST_F(Export, LinesItWarnsAboutAreToldWithTheirNumberAndTheExportCompletes) {
  const std::string raw = dir.file("long.raw");
  writeFile(raw, "1103\t4094\t560\r\n" + std::string(300, '7') + "\r\n1112\t4095\t560\r\n");
  const std::string out = dir.file("long.csv"), tool = dir.file("tool.csv");
  auto exportJob = job("ntu", raw, out);
  ASSERT_TRUE(exportJob->start());
  EXPECT_EQ(runToEnd(*exportJob), ConversionJob::Status::Done);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("line 2: Input Buffer Overflow"), std::string::npos) << warnings[0];
  // Complete all the same, as maru convert's is.
  EXPECT_NE(convertWithMaru("csv", "ntu", raw, tool).find("Input Buffer Overflow"), std::string::npos);
  EXPECT_EQ(readFile(out), readFile(tool));
}

}  // namespace
