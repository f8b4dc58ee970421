// File > Export Recording... through the main form: the window's export equals
// `maru convert --format csv` byte for byte and `--format netcdf` value for value, it runs
// a slice per tick with its progress shown, Cancel leaves no file, and a failure names
// the input line.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <netcdf.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "formaccess.h"
#include "formfixture.h"
#include "support/testfiles.h"

using testsupport::FormFixture;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

using testsupport::example;

bool exists(const std::string& path) { return std::filesystem::exists(path); }

int runMaru(const QStringList& args, std::string* err = nullptr) {
  QProcess p;
  p.start(QString(MARU_TOOL), args);
  if (!p.waitForFinished(120000)) return -1;
  if (err) *err = p.readAllStandardError().toStdString();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

std::string convert(const std::string& format, const std::string& dev, const std::string& raw,
                    const std::string& out, const std::string& zone = "UTC") {
  std::string err;
  const int status = runMaru({"convert", "--dev", QString::fromStdString(dev), "--format",
                              QString::fromStdString(format), "--meter-tz", QString::fromStdString(zone),
                              QString::fromStdString(raw), "-o", QString::fromStdString(out)},
                             &err);
  EXPECT_EQ(status, 0) << err;
  return err;
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
    EXPECT_EQ(nc_inq_var(nc, v, name, nullptr, &dims, dimIds, nullptr), NC_NOERR);
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

class ExportForm : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    tick();
    testsupport::editState(*form).SetupRequestTicks = 0;
  }
  /// Export Recording... with the operator choosing `raw` and then `out`.
  void exportVia(const std::string& raw, const std::string& out) {
    ui.files.push_back(raw);
    ui.files.push_back(out);
    ASSERT_TRUE(form->click("ExportRecording1"));
  }
  /// Ticks until the export ended; the number of ticks it took.
  int tickUntilDone(int limit = 2000) {
    int n = 0;
    while (form->files().ExportRunning() && n < limit) {
      form->Timer55msTimer();
      ++n;
    }
    EXPECT_FALSE(form->files().ExportRunning());
    return n;
  }
  /// A raw file of `copies` times an example's bytes (complete lines only).
  std::string bigRaw(const std::string& name, int copies) {
    std::string bytes = readFile(example(name));
    bytes.resize(bytes.rfind('\n') + 1);
    std::string all;
    for (int i = 0; i < copies; ++i) all += bytes;
    const std::string path = dir.file("big.raw");
    writeFile(path, all);
    return path;
  }
};

class ExportCsvParity : public ExportForm, public ::testing::WithParamInterface<const char*> {};

TEST_P(ExportCsvParity, EqualsMaruConvertByteForByte) {
  const std::string name = GetParam();
  const std::string dev = loadExample(name + ".dev");
  const std::string raw = example(name + ".raw");
  const std::string out = dir.file("window.csv");
  // The zone of the meter's clock, as maru convert --meter-tz takes it.
  const std::string zone = name == "bb3" ? "+02:00" : name == "flcd" ? "-03:30" : "UTC";
  form->view().setText("EDExportZone", zone);
  exportVia(raw, out);
  ASSERT_EQ(ui.dialogSpecs.size(), 2u);
  EXPECT_EQ(ui.dialogSpecs[1].defaultSuffix, "csv");
  EXPECT_TRUE(ui.dialogSpecs[1].confirmOverwrite);
  ASSERT_TRUE(form->files().ExportRunning());
  EXPECT_TRUE(form->view().visible("PBExport"));
  EXPECT_TRUE(form->view().visible("BTExportCancel"));
  EXPECT_FALSE(form->view().get("ExportRecording1").enabled);
  tickUntilDone();
  EXPECT_EQ(form->view().itemIndex("PBExport"), 100);
  EXPECT_FALSE(form->view().visible("PBExport"));
  EXPECT_TRUE(form->view().get("ExportRecording1").enabled);
  EXPECT_EQ(form->shared().Sample.SampleCounter, 0);  // the live state saw none of it

  const std::string tool = dir.file("tool.csv");
  convert("csv", dev, raw, tool, zone);
  const std::string expected = readFile(tool);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(readFile(out), expected);
  EXPECT_NE(form->view().text("LBExportStatus").find("Exported "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Examples, ExportCsvParity, ::testing::Values("bb3", "flasv", "flcd", "ntu"),
                         [](const auto& info) { return std::string(info.param); });

class ExportNetcdfParity : public ExportForm, public ::testing::WithParamInterface<const char*> {};

TEST_P(ExportNetcdfParity, EqualsMaruConvertValueForValue) {
  const std::string name = GetParam();
  const std::string dev = loadExample(name + ".dev");
  const std::string raw = example(name + ".raw");
  const std::string out = dir.file("window.nc");
  exportVia(raw, out);
  tickUntilDone();
  ASSERT_TRUE(exists(out));
  EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;

  const std::string tool = dir.file("tool.nc");
  convert("netcdf", dev, raw, tool);
  const auto got = readVariables(out);
  const auto expected = readVariables(tool);
  ASSERT_FALSE(expected.empty());
  ASSERT_TRUE(expected.count("time"));
  // Every engineering line of the example is one record.
  const size_t engLines = testsupport::splitLines(readFile(example(name + ".eng"))).size() - 1;
  EXPECT_EQ(expected.at("time").size(), engLines);
  ASSERT_EQ(got.size(), expected.size());
  for (const auto& [variable, values] : expected) {
    ASSERT_TRUE(got.count(variable)) << variable;
    EXPECT_EQ(got.at(variable), values) << variable;
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExportNetcdfParity, ::testing::Values("bb3", "flcd"),
                         [](const auto& info) { return std::string(info.param); });

class ExportCancel : public ExportForm, public ::testing::WithParamInterface<const char*> {};

TEST_P(ExportCancel, RunsInSlicesAndCancelLeavesNoFile) {
  loadExample("ntu.dev");
  const std::string raw = bigRaw("ntu.raw", 600);
  ASSERT_GT(std::filesystem::file_size(raw), 4u * (1u << 16));
  const std::string out = dir.file(std::string("cancelled.") + GetParam());
  testsupport::writeFile(out, "an earlier export\n");  // the file the export is to replace
  exportVia(raw, out);
  ASSERT_TRUE(form->files().ExportRunning());
  form->Timer55msTimer();
  form->Timer55msTimer();
  ASSERT_TRUE(form->files().ExportRunning()) << "one slice per tick";
  const int percent = form->view().itemIndex("PBExport");
  EXPECT_GT(percent, 0);
  EXPECT_LT(percent, 100);
  form->click("BTExportCancel");
  EXPECT_FALSE(form->files().ExportRunning());
  EXPECT_EQ(testsupport::readFile(out), "an earlier export\n");  // left as it was
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "big.raw" || entry.path() == out) << "no temporary file left: " << name;
  }
  EXPECT_FALSE(form->view().visible("PBExport"));
  EXPECT_FALSE(form->view().visible("BTExportCancel"));
  EXPECT_NE(form->view().text("LBExportStatus").find("cancelled"), std::string::npos);
  EXPECT_TRUE(ui.boxes.empty());
  // A new export after the cancel runs to its end.
  exportVia(raw, out);
  tickUntilDone();
  EXPECT_TRUE(exists(out));
  EXPECT_NE(testsupport::readFile(out), "an earlier export\n");
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportCancel, ::testing::Values("csv", "nc"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(ExportForm, UnwritableOutputGivesABoxNamingTheLine) {
  loadExample("ntu.dev");
  const std::string raw = dir.file("three.raw");
  writeFile(raw, "1103\t4094\t560\r\nVER MARU 1.0\r\n1112\t4095\t560\r\n");
  exportVia(raw, "/dev/full");
  ASSERT_TRUE(form->files().ExportRunning());
  tickUntilDone();
  ASSERT_EQ(ui.countBoxes("Export Failed"), 1u);
  EXPECT_NE(ui.boxes[0].text.find("Line 3 of '" + raw + "'"), std::string::npos) << ui.boxes[0].text;
  EXPECT_NE(ui.boxes[0].text.find("could not be"), std::string::npos) << ui.boxes[0].text;
  EXPECT_NE(form->view().text("LBExportStatus").find("failed"), std::string::npos);
}

TEST_F(ExportForm, OutputThatCannotBeMadeOrAMissingInputIsABoxAndNoExport) {
  loadExample("ntu.dev");
  exportVia(dir.file("missing.raw"), dir.file("out.csv"));
  EXPECT_FALSE(form->files().ExportRunning());
  exportVia(example("ntu.raw"), dir.file("no-such-folder/out.nc"));
  EXPECT_FALSE(form->files().ExportRunning());
  ASSERT_EQ(ui.countBoxes("Export Failed"), 2u);
  EXPECT_NE(ui.boxes[0].text.find("missing.raw"), std::string::npos);
  EXPECT_NE(ui.boxes[1].text.find("no-such-folder/out.nc"), std::string::npos);
  // A zone that is none: nothing starts.
  form->view().setText("EDExportZone", "CET");
  exportVia(example("ntu.raw"), dir.file("out.csv"));
  EXPECT_FALSE(form->files().ExportRunning());
  ASSERT_EQ(ui.countBoxes("Export Failed"), 3u);
  EXPECT_NE(ui.boxes[2].text.find("'CET' is not UTC, +HH:MM, -HH:MM or a zone such as Europe/Oslo"), std::string::npos) << ui.boxes[2].text;
  EXPECT_FALSE(exists(dir.file("out.csv")));
}

TEST_F(ExportForm, LinesTheConversionWarnsAboutAreNamedWhenItEnds) {
  loadExample("ntu.dev");
  const std::string raw = dir.file("long.raw");
  writeFile(raw, "1103\t4094\t560\r\n" + std::string(300, '7') + "\r\n1112\t4095\t560\r\n");
  const std::string out = dir.file("long.csv");
  exportVia(raw, out);
  tickUntilDone();
  ASSERT_EQ(ui.countBoxes("Export Recording"), 1u);
  EXPECT_NE(ui.boxes[0].text.find("line 2: Input Buffer Overflow"), std::string::npos) << ui.boxes[0].text;
  // The export is complete all the same, as maru convert's is.
  const std::string tool = dir.file("tool.csv");
  const std::string err = convert("csv", example("ntu.dev"), raw, tool);
  EXPECT_NE(err.find("Input Buffer Overflow"), std::string::npos);
  EXPECT_EQ(readFile(out), readFile(tool));
}

}  // namespace
