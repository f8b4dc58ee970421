// The logger's day files on a day that already has files: appended to only under the very
// headers this run writes, else the next set of the day (the earlier one left byte for
// byte), and a symbolic link in a day file's place is refused, its target untouched.
#include "acquire/dailyfiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "files/csvformat.h"
#include "files/engrformat.h"
#include "files/qcrun.h"
#include "measure/devicefile.h"
#include "qc/config.h"
#include "support/qcexample.h"
#include "support/testfiles.h"

namespace {

using namespace std::chrono;
using testsupport::readFile;
using testsupport::writeFile;

const system_clock::time_point kNoon = sys_days{2026y / 12 / 8} + 12h;

// What an earlier run left in one set: its three files under a layout's headers, or as a
// run that died early left them.
enum class Left { Flcd, FlcdChecked, Ntu, Empty, HeaderCutShort };

struct Layouts {
  meterlink::MeterState flcd, ntu;
  std::optional<files::QcRun> qc;
  Layouts() {
    EXPECT_TRUE(measure::LoadDeviceFileAtStart(testsupport::example("flcd.dev"), flcd.config, nullptr));
    EXPECT_TRUE(measure::LoadDeviceFileAtStart(testsupport::example("ntu.dev"), ntu.config, nullptr));
    std::string error;
    qc = files::QcRun::bind(*qc::parseConfig(testsupport::kFlcdQcYaml).config, flcd.config, error);
    EXPECT_TRUE(qc) << error;
  }
  std::map<std::string, std::string> files(Left left) const {
    const std::string eng = files::EngrHeader(flcd.config), csv = files::CsvHeader(flcd.config);
    const auto set = [](const std::string& e, const std::string& c) {
      return std::map<std::string, std::string>{{".raw", "earlier\r\n"}, {".eng", e + "1\r\n"}, {".csv", c + "1\r\n"}};
    };
    switch (left) {
      case Left::Flcd: return set(eng, csv);
      case Left::FlcdChecked: return set(eng, files::CsvHeader(flcd.config, *qc));
      case Left::Ntu: return set(files::EngrHeader(ntu.config), files::CsvHeader(ntu.config));
      case Left::Empty: return {{".raw", ""}, {".eng", ""}, {".csv", ""}};
      case Left::HeaderCutShort: return {{".raw", ""}, {".eng", eng}, {".csv", csv.substr(0, 12)}};
    }
    return {};
  }
};

struct SetCase {
  const char* what;
  std::vector<std::pair<std::string, Left>> earlier;  // set name, what it holds
  bool checked;                                        // this run has --qc
  std::string expectedSet;
  std::vector<std::string> namedAsDiffering;
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.what; }

class DailyLogFilesSets : public ::testing::TestWithParam<SetCase> {};

TEST_P(DailyLogFilesSets, AppendOnlyUnderTheSameHeaders) {
  const SetCase& c = GetParam();
  testsupport::TempDir dir;
  Layouts layouts;
  std::map<std::string, std::string> planted;  // path -> bytes
  for (const auto& [set, left] : c.earlier)
    for (const auto& [ext, text] : layouts.files(left)) planted[dir.file(set + ext)] = text;
  for (const auto& [path, text] : planted) writeFile(path, text);

  std::vector<std::string> warnings;
  acquire::DailyLogFiles files(dir.path(), layouts.flcd.config,
                               [&](const std::string& caption, const std::string& text) {
                                 warnings.push_back(caption + ": " + text);
                               });
  if (c.checked) files.setQc(&*layouts.qc);
  std::string error;
  ASSERT_TRUE(files.open(kNoon, error)) << error;
  EXPECT_EQ(files.base(), c.expectedSet);
  files.write(kNoon, std::nullopt, "new line", layouts.flcd);
  files.close();

  ASSERT_EQ(warnings.size(), c.namedAsDiffering.size()) << ::testing::PrintToString(warnings);
  for (size_t i = 0; i < warnings.size(); ++i) {
    EXPECT_EQ(warnings[i].rfind("Columns Differ: '" + dir.file(c.namedAsDiffering[i]) + "' has other columns", 0), 0u)
        << warnings[i];
  }
  const std::map<std::string, std::string> headers = {
      {".raw", ""},
      {".eng", files::EngrHeader(layouts.flcd.config)},
      {".csv", c.checked ? files::CsvHeader(layouts.flcd.config, *layouts.qc) : files::CsvHeader(layouts.flcd.config)}};
  for (const auto& [ext, header] : headers) {
    const std::string path = dir.file(c.expectedSet + ext);
    SCOPED_TRACE(path);
    // What was there under the same header, or a new header: then one more row.
    const auto before = planted.find(path);
    const std::string kept = before != planted.end() && before->second.size() > header.size() ? before->second : header;
    const std::string now = readFile(path);
    ASSERT_EQ(now.substr(0, kept.size()), kept);
    const std::string row = now.substr(kept.size());
    EXPECT_TRUE(!row.empty() && row.find("\r\n") == row.size() - 2) << row;
  }
  // Every other set exactly as it was.
  for (const auto& [path, text] : planted) {
    if (std::filesystem::path(path).stem() != c.expectedSet) {
      EXPECT_EQ(readFile(path), text) << path;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DailyLogFilesSets,
    ::testing::Values(
        SetCase{"SameLayoutAppends", {{"20261208", Left::Flcd}}, false, "20261208", {}},
        SetCase{"AnotherDeviceFile", {{"20261208", Left::Ntu}}, false, "20261208_2", {"20261208.eng"}},
        SetCase{"OtherChecks", {{"20261208", Left::Flcd}}, true, "20261208_2", {"20261208.csv"}},
        SetCase{"TheNextSetDiffersToo",
                {{"20261208", Left::Ntu}, {"20261208_2", Left::FlcdChecked}},
                false,
                "20261208_3",
                {"20261208.eng", "20261208_2.csv"}},
        SetCase{"TheNextSetMatches", {{"20261208", Left::Ntu}, {"20261208_2", Left::Flcd}}, false, "20261208_2",
                {"20261208.eng"}},
        SetCase{"EmptyFilesAreNew", {{"20261208", Left::Empty}}, false, "20261208", {}},
        SetCase{"AHeaderCutShortIsNew", {{"20261208", Left::HeaderCutShort}}, false, "20261208", {}}),
    [](const ::testing::TestParamInfo<SetCase>& info) { return std::string(info.param.what); });

TEST(DailyLogFiles, ADayFileThatIsALinkIsRefusedAndItsTargetLeftAlone) {
  testsupport::TempDir dir;
  Layouts layouts;
  const std::string target = dir.file("elsewhere.txt"), foreign = "someone else's\nlast line without its end";
  writeFile(target, foreign);
  std::filesystem::create_symlink(target, dir.file("20261208.csv"));
  acquire::DailyLogFiles files(dir.path(), layouts.flcd.config, nullptr);
  std::string error;
  EXPECT_FALSE(files.open(kNoon, error));
  EXPECT_EQ(error, "cannot open '" + dir.file("20261208.csv") +
                       "': it is a symbolic link, which the logger does not follow");
  files.write(kNoon, std::nullopt, "new line", layouts.flcd);
  files.close();
  EXPECT_EQ(readFile(target), foreign);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("20261208.csv")));
}

}  // namespace
