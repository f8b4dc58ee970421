// maru convert against the window's pipeline: the same lines fed to a main form over a
// pseudo-terminal, with engineering-units recording on, give the same file.
#include <gtest/gtest.h>

#include <string>

#include "app/formfixture.h"
#include "support/simprocess.h"
#include "support/testfiles.h"

namespace {

using testsupport::readFile;
using testsupport::runMaru;
using testsupport::ToolRun;
using testsupport::writeFile;

using testsupport::example;

// The program itself: device file loaded, engineering recording started, then the raw
// file's bytes arrive from the meter.
class ProgramPipeline : public testsupport::FormFixture {
 protected:
  std::string record(const std::string& dev, const std::string& rawBytes) {
    tick();  // the first tick's start-up defaults
    EXPECT_TRUE(form->openDeviceFile(dev, dev));
    choosePort(1);
    const std::string out = dir.file("program.eng");
    EXPECT_TRUE(form->files().StartRecording(acquire::Recordings::Stream::Engr, out));
    // Drop the last unterminated piece: the converter never takes it either.
    const auto lastLf = rawBytes.rfind('\n');
    const std::string complete = lastLf == std::string::npos ? "" : rawBytes.substr(0, lastLf + 1);
    for (size_t at = 0; at < complete.size(); at += 64) {
      peer.send(complete.substr(at, 64));
      tick(2);
      tick(2);
    }
    for (int i = 0; i < 40; ++i) tick(2);
    EXPECT_TRUE(form->files().recordings().stop(acquire::Recordings::Stream::Engr));
    return readFile(out);
  }
};

class SameAsProgram : public ProgramPipeline, public ::testing::WithParamInterface<const char*> {};

TEST_P(SameAsProgram, ConvertWritesWhatTheProgramRecords) {
  const std::string dev = example(std::string(GetParam()) + ".dev");
  const std::string raw = example(std::string(GetParam()) + ".raw");
  const std::string converted = dir.file("converted.eng");
  const ToolRun r = runMaru({"convert", "--dev", QString::fromStdString(dev), QString::fromStdString(raw), "-o",
                         QString::fromStdString(converted)});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string expected = record(dev, readFile(raw));
  const std::string got = readFile(converted);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got, expected);
  EXPECT_GT(std::count(got.begin(), got.end(), '\n'), 5);
}

INSTANTIATE_TEST_SUITE_P(Examples, SameAsProgram, ::testing::Values("bb3", "flcd", "ntu", "flasv"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(ProgramPipeline, RepliesMismatchesAndAnUnendedLastLineBehaveAsInTheProgram) {
  // A meter without a clock column: a "DAT"/"CLK" reply dates the lines after it; lines
  // with the wrong column count are not data; the last line has no line end.
  std::string raw = "1103\t4094\t560\r\n";
  raw += "DAT 07/01/03\r\nCLK 12:05:09\r\n";
  raw += "1112\t4095\t561\r\n";
  for (int i = 0; i < 7; ++i) raw += "1\t2\r\n";
  raw += "1141\t4095\t562\r\n";
  raw += "1150\t4095\t563";
  const std::string input = dir.file("mixed.raw");
  writeFile(input, raw);
  const ToolRun r = runMaru({"convert", "--dev", QString::fromStdString(example("ntu.dev")), QString::fromStdString(input)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, record(example("ntu.dev"), raw));
  // Header plus three accepted lines, the last two dated by the replies.
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4);
  EXPECT_NE(r.out.find("\t070103\t120509\t"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Possible Mis-Match between Device File and Meter: Execution Error - Columns found 2 != "
                       "Columns Expected 3"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

}  // namespace
