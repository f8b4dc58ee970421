// maru convert against the live pipeline: the same bytes arriving on a pseudo-terminal, taken
// by the session into its engineering-units recording, give the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "acquire/recordings.h"
#include "acquire/session.h"
#include "support/ptypeer.h"
#include "support/quietline.h"
#include "support/simprocess.h"
#include "support/testfiles.h"

namespace {

using testsupport::example;
using testsupport::readFile;
using testsupport::runMaru;
using testsupport::ToolRun;
using testsupport::writeFile;

struct Quiet : acquire::Listener {
  void warning(const std::string&, const std::string&) override {}
};

// What a live session records: the device file loaded, engineering recording started, then
// the raw file's bytes arrive from the meter, 64 at a time.
std::string record(const std::string& dev, const std::string& rawBytes) {
  testsupport::TempDir dir;
  testsupport::PtyPeer peer;
  meterlink::MeterState state;
  Quiet heard;
  acquire::Session session(state, heard);
  acquire::Recordings recordings(heard);
  EXPECT_EQ(session.loadDeviceFile(dev), acquire::Session::Load::Loaded);
  session.setRules(true, false, false);
  session.addSink(&recordings);
  EXPECT_EQ(session.openPort(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  testsupport::letLineBeSeenQuiet(session);
  const std::string out = dir.file("live.eng");
  EXPECT_TRUE(recordings.start(acquire::Recordings::Stream::Engr, out));
  // Without the last unended piece: the converter never takes it either.
  const auto lastLf = rawBytes.rfind('\n');
  const std::string complete = lastLf == std::string::npos ? "" : rawBytes.substr(0, lastLf + 1);
  for (size_t at = 0; at < complete.size(); at += 64) {
    peer.send(complete.substr(at, 64));
    testsupport::pumpEvents(2);
    session.drainPort(std::chrono::milliseconds(50));
  }
  for (int i = 0; i < 20; ++i) {
    testsupport::pumpEvents(2);
    session.drainPort(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(recordings.stop(acquire::Recordings::Stream::Engr));
  return readFile(out);
}

class SameAsLive : public ::testing::TestWithParam<const char*> {};

TEST_P(SameAsLive, ConvertWritesWhatTheSessionRecords) {
  testsupport::TempDir dir;
  const std::string dev = example(std::string(GetParam()) + ".dev");
  const std::string raw = example(std::string(GetParam()) + ".raw");
  const std::string converted = dir.file("converted.eng");
  const ToolRun r = runMaru({"convert", "--dev", QString::fromStdString(dev), QString::fromStdString(raw), "-o",
                             QString::fromStdString(converted)});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string got = readFile(converted);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got, record(dev, readFile(raw)));
  EXPECT_GT(std::count(got.begin(), got.end(), '\n'), 5);
}

INSTANTIATE_TEST_SUITE_P(Examples, SameAsLive, ::testing::Values("bb3", "flcd", "ntu", "flasv"),
                         [](const auto& info) { return std::string(info.param); });

TEST(SameAsLive, RepliesMismatchesAndAnUnendedLastLineBehaveAsLive) {
  // A meter without a clock column: a "DAT"/"CLK" reply dates the lines after it; lines
  // with the wrong column count are not data; the last line has no line end.
  std::string raw = "1103\t4094\t560\r\nDAT 07/01/03\r\nCLK 12:05:09\r\n1112\t4095\t561\r\n";
  for (int i = 0; i < 7; ++i) raw += "1\t2\r\n";
  raw += "1141\t4095\t562\r\n1150\t4095\t563";
  testsupport::TempDir dir;
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
