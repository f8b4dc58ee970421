// maru convert against the checked engineering-units files kept next to each example
// recording: every byte of the written file, its length and its CR LF line ends included.
#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "support/ptypeer.h"
#include "support/testfiles.h"

namespace {

using testsupport::readFile;

using testsupport::example;

// Line `index` (0-based) of `bytes`, with its line end; "" past the end.
std::string lineAt(const std::string& bytes, size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) {
    start = bytes.find('\n', start);
    if (start == std::string::npos) return "";
    ++start;
  }
  if (start >= bytes.size()) return "";
  const size_t end = bytes.find('\n', start);
  return bytes.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
}

// Control characters spelled out, so a lost CR or a tab for a blank shows.
std::string visible(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// Where two files part: line number (1-based), both lines, both sizes.
std::string firstDifference(const std::string& expected, const std::string& got) {
  const auto mismatch = std::mismatch(expected.begin(), expected.end(), got.begin(), got.end());
  const size_t at = static_cast<size_t>(mismatch.first - expected.begin());
  const size_t line = static_cast<size_t>(std::count(expected.begin(), expected.begin() + at, '\n'));
  std::ostringstream s;
  s << "files differ at byte " << at << ", line " << line + 1 << " (expected " << expected.size() << " bytes, got "
    << got.size() << ")\n  expected: " << visible(lineAt(expected, line)) << "\n  got:      " << visible(lineAt(got, line));
  return s.str();
}

class GoldenFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenFiles, ConvertWritesTheCheckedFile) {
  const std::string name = GetParam();
  const std::string golden = readFile(example(name + ".eng"));
  const std::string raw = readFile(example(name + ".raw"));
  ASSERT_FALSE(golden.empty()) << "missing " << example(name + ".eng");
  // Header plus one line per recorded line, every one ended by CR LF: a checkout that
  // rewrote the line ends, or a truncated file, shows here rather than as a diff.
  const auto lines = std::count(golden.begin(), golden.end(), '\n');
  EXPECT_EQ(lines, std::count(raw.begin(), raw.end(), '\n') + 1) << name << ".eng: one line per recorded line";
  EXPECT_EQ(std::count(golden.begin(), golden.end(), '\r'), lines) << name << ".eng lost its CR LF line ends";

  testsupport::TempDir dir;
  const std::string out = dir.file(name + ".eng");
  QProcess p;
  p.start(QString(MARU_TOOL), {"convert", "--dev", QString::fromStdString(example(name + ".dev")),
                               QString::fromStdString(example(name + ".raw")), "-o", QString::fromStdString(out)});
  ASSERT_TRUE(p.waitForFinished(60000)) << "maru convert did not finish";
  ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  EXPECT_TRUE(p.readAllStandardError().isEmpty());

  const std::string got = readFile(out);
  EXPECT_EQ(got.size(), golden.size());
  EXPECT_TRUE(got == golden) << name << ": " << firstDifference(golden, got);
}

INSTANTIATE_TEST_SUITE_P(Examples, GoldenFiles, ::testing::Values("bb3", "flcd", "ntu", "flasv"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
