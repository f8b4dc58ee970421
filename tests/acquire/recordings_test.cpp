// The operator's recordings as a sink of the session, without a window: raw, engineering
// units and CSV from each record, failures told once as recordingStopped, a file whose
// columns change continued in NAME_2, NAME_3 …, and skipped corrections told once per
// engineering-units recording.
#include "acquire/recordings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "files/openfiles.h"
#include "support/qcexample.h"
#include "support/testfiles.h"

namespace {

using Stream = acquire::Recordings::Stream;
using testsupport::readFile;

struct Heard : acquire::Listener {
  std::vector<std::string> warnings, stopped;
  void warning(const std::string& caption, const std::string& text) override {
    warnings.push_back(caption + ": " + text);
  }
  void recordingStopped(Stream, const std::string& why) override { stopped.push_back(why); }
};

// 2026-02-03T09:05:07.250Z, then 1.5 s later on every sample.
acquire::SessionOptions steppingClock() {
  acquire::SessionOptions options;
  options.utcClock = [t = std::chrono::sys_days{std::chrono::year{2026} / 2 / 3} + std::chrono::hours{9} +
                          std::chrono::minutes{5} + std::chrono::milliseconds{7250}]() mutable {
    const auto now = t;
    t += std::chrono::milliseconds(1500);
    return now;
  };
  return options;
}

struct Rig {
  explicit Rig(const char* device) : session(state, heard, steppingClock()), recordings(heard) {
    load(device);
    session.setRules(true, false, false);
    session.addSink(&recordings);
  }
  void load(const char* device) {
    EXPECT_EQ(session.loadDeviceFile(testsupport::example(device)), acquire::Session::Load::Loaded);
  }
  void lines(std::initializer_list<const char*> lines) {
    for (const char* l : lines) session.dispatchLine(l);
  }
  std::string file(const std::string& name) { return dir.file(name); }
  meterlink::MeterState state;
  Heard heard;
  acquire::Session session;
  acquire::Recordings recordings;
  testsupport::TempDir dir;
};

long lineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

const char* kFlcd1 = "05/14/24\t11:02:00\t1033\t1099\t560\t3913\t1052";
const char* kFlcd2 = "05/14/24\t11:02:01\t1040\t1101\t561\t3915\t1060";
const std::string kFlcdEngHeader = "Count\tDate\tTime\tCHL(ug/l)\tCDOM(raw)\tiTemp(C)\txTemp(C)\tPres(dbar)\r\n";
const std::string kFlcdCsvHeader =
    "host_time_utc,meter_time_utc,count,chl_ug_per_l,cdom_ppb,itemp_degc,xtemp_degc,pres_dbar\r\n";

TEST(Recordings, EachFileTakesTheAcceptedSamplesFromTheRecordAlone) {
  Rig rig("flcd.dev");
  const std::string raw = rig.file("a.raw"), eng = rig.file("a.eng"), csv = rig.file("a.csv");
  ASSERT_TRUE(rig.recordings.start(Stream::Raw, raw));
  ASSERT_TRUE(rig.recordings.start(Stream::Engr, eng));
  ASSERT_TRUE(rig.recordings.start(Stream::Csv, csv));
  EXPECT_EQ(readFile(eng), kFlcdEngHeader);  // on disk at once
  rig.lines({kFlcd1, "VER MARU 1.0", "1\t2", kFlcd2});  // a reply and a line that does not fit: no rows
  EXPECT_EQ(readFile(raw), std::string(kFlcd1) + "\r\n" + kFlcd2 + "\r\n");
  // CHL (1033-48) x 0.0073, CDOM (1099-50) x 0.0905, iTemp 560 x 0.125 - 50, xTemp 3913 x
  // 0.01 - 20, pressure 1052 x 0.01 - 10 as "%5.1lf".
  const std::string engText = readFile(eng);
  EXPECT_EQ(engText.rfind(kFlcdEngHeader + "0\t051424\t110200\t7.1905\t94.9345\t20.0000\t19.1300\t  0.5\r\n1\t", 0), 0u)
      << engText;
  // The host's clock is read once per sample, on arrival; the meter's is its line's.
  const std::string csvText = readFile(csv);
  EXPECT_EQ(csvText.rfind(kFlcdCsvHeader +
                              "2026-02-03T09:05:07.250Z,2024-05-14T11:02:00.000Z,0,7.1905,94.9345,20.0000,19.1300,0.5\r\n"
                              "2026-02-03T09:05:10.250Z,2024-05-14T11:02:01.000Z,1,",  // 08.750: the unfit line's
                          0),
            0u)
      << csvText;
  EXPECT_EQ(rig.recordings.bytes(Stream::Csv), static_cast<long>(csvText.size()));
  EXPECT_EQ(rig.recordings.bytes(Stream::Engr), static_cast<long>(engText.size()));

  rig.recordings.stopAll();
  EXPECT_FALSE(rig.recordings.anyOn());
  rig.lines({kFlcd1});
  EXPECT_EQ(readFile(csv), csvText);
  EXPECT_EQ(rig.recordings.path(Stream::Raw), raw);  // kept after the stop
  EXPECT_TRUE(rig.heard.warnings.empty());
}

const char* const kStreamNames[] = {"Raw", "Engr", "Csv"};

class EveryStream : public ::testing::TestWithParam<Stream> {};

TEST_P(EveryStream, AFailedOpenLeavesTheRunningFileGoingAndANewOneClosesTheOld) {
  Rig rig("ntu.dev");
  const std::string a = rig.file("a"), b = rig.file("b");
  const int before = filestest::openDescriptorCount();
  ASSERT_TRUE(rig.recordings.start(GetParam(), a));
  EXPECT_FALSE(rig.recordings.start(GetParam(), rig.file("no-such-folder/x")));
  EXPECT_TRUE(rig.recordings.on(GetParam()));
  rig.lines({"1103\t4094\t560"});
  const std::string first = readFile(a);
  EXPECT_EQ(lineCount(first), GetParam() == Stream::Raw ? 1 : 2) << first;

  ASSERT_TRUE(rig.recordings.start(GetParam(), b));
  EXPECT_EQ(filestest::openDescriptorCount(), before + 1);  // the old one was closed
  rig.lines({"1112\t4095\t560"});
  EXPECT_EQ(readFile(a), first);
  EXPECT_EQ(lineCount(readFile(b)), GetParam() == Stream::Raw ? 1 : 2);
  rig.session.removeSink(&rig.recordings);  // end(): every file closed
  EXPECT_FALSE(rig.recordings.anyOn());
  EXPECT_EQ(filestest::openDescriptorCount(), before);
  EXPECT_TRUE(rig.heard.stopped.empty());
}

TEST_P(EveryStream, AFileThatCannotBeWrittenStopsThatRecordingAloneToldOnce) {
  Rig rig("ntu.dev");
  const std::string other = rig.file("other");
  const Stream otherStream = GetParam() == Stream::Raw ? Stream::Csv : Stream::Raw;
  ASSERT_TRUE(rig.recordings.start(otherStream, other));
  const bool header = GetParam() != Stream::Raw;  // a header that does not reach the file ends it at once
  EXPECT_EQ(rig.recordings.start(GetParam(), "/dev/full"), !header);
  rig.lines({"1103\t4094\t560", "1112\t4095\t560"});
  EXPECT_FALSE(rig.recordings.on(GetParam()));
  EXPECT_EQ(rig.recordings.bytes(GetParam()), 0);
  ASSERT_EQ(rig.heard.stopped.size(), 1u);
  EXPECT_NE(rig.heard.stopped[0].find("'/dev/full' could not be written"), std::string::npos);
  EXPECT_TRUE(rig.recordings.on(otherStream));
  EXPECT_EQ(lineCount(readFile(other)), otherStream == Stream::Raw ? 2 : 3);
}

INSTANTIATE_TEST_SUITE_P(Streams, EveryStream, ::testing::Values(Stream::Raw, Stream::Engr, Stream::Csv),
                         [](const auto& info) { return std::string(kStreamNames[info.index]); });

TEST(Recordings, AFileRemovedWhileRecordingStopsItWithOneNotice) {
  Rig rig("ntu.dev");
  const std::string path = rig.file("removed.raw");
  ASSERT_TRUE(rig.recordings.start(Stream::Raw, path));
  rig.lines({"1103\t4094\t560"});
  ASSERT_EQ(std::remove(path.c_str()), 0);
  rig.lines({"1112\t4095\t560", "1141\t4095\t560"});
  EXPECT_FALSE(rig.recordings.on(Stream::Raw));
  EXPECT_EQ(rig.recordings.bytes(Stream::Raw), 15);  // 13 characters and CR LF
  EXPECT_EQ(rig.heard.stopped.size(), 1u);
}

TEST(Recordings, ColumnsThatChangeContinueInTheNextFileNeverUnderTheOldHeader) {
  Rig rig("flcd.dev");
  const std::string raw = rig.file("a.raw"), eng = rig.file("a.eng"), csv = rig.file("a.csv");
  testsupport::writeFile(rig.file("a_2.csv"), "someone else's\n");  // taken: skipped
  for (const auto& [stream, path] : {std::pair{Stream::Raw, raw}, {Stream::Engr, eng}, {Stream::Csv, csv}})
    ASSERT_TRUE(rig.recordings.start(stream, path));
  rig.lines({kFlcd1});

  // Checks loaded mid-recording: the CSV gets their flag columns in a new file; .eng stays.
  qc::ConfigResult read = qc::parseConfig(testsupport::kFlcdQcYaml);
  ASSERT_TRUE(read.config);
  ASSERT_EQ(rig.session.setQc(read.config), "");
  EXPECT_EQ(rig.recordings.path(Stream::Csv), rig.file("a_3.csv"));
  EXPECT_EQ(rig.recordings.path(Stream::Engr), eng);
  rig.lines({kFlcd2});
  const std::string qcCsv = readFile(rig.file("a_3.csv"));
  EXPECT_EQ(qcCsv.rfind("host_time_utc,meter_time_utc,count,chl_ug_per_l,chl_ug_per_l_qc,", 0), 0u) << qcCsv;
  EXPECT_EQ(lineCount(qcCsv), 2);           // header and one row
  EXPECT_EQ(lineCount(readFile(csv)), 2);  // the old file is complete

  // Another device file: both continue; the raw file never changes its layout.
  rig.load("ntu.dev");
  EXPECT_EQ(rig.recordings.path(Stream::Engr), rig.file("a_2.eng"));
  EXPECT_EQ(rig.recordings.path(Stream::Csv), rig.file("a_4.csv"));
  rig.lines({"1103\t4094\t560"});
  EXPECT_EQ(readFile(rig.file("a_2.eng")).rfind("Count\t", 0), 0u);
  EXPECT_EQ(readFile(raw), std::string(kFlcd1) + "\r\n" + kFlcd2 + "\r\n1103\t4094\t560\r\n");
  EXPECT_EQ(readFile(rig.file("a_2.csv")), "someone else's\n");

  // The same columns again: nothing new.
  rig.load("ntu.dev");
  EXPECT_EQ(rig.recordings.path(Stream::Csv), rig.file("a_4.csv"));
  std::vector<std::string> differ;
  for (const std::string& w : rig.heard.warnings)
    if (w.rfind("Columns Differ: ", 0) == 0) differ.push_back(w);
  ASSERT_EQ(differ.size(), 3u);
  EXPECT_NE(differ[0].find("'" + rig.file("a_3.csv") + "'"), std::string::npos) << differ[0];
}

// Idle: before a recording starts while none runs, after the operator stopped the last;
// never when the session ends the recordings (its sinks may be going then).
TEST(Recordings, IdleIsToldWhenNoRecordingRunsAndNotAtTheEnd) {
  Rig rig("ntu.dev");
  int idle = 0;
  rig.recordings.setIdle([&] { ++idle; });
  for (const char* name : {"a.raw", "b.raw"}) {
    ASSERT_TRUE(rig.recordings.start(Stream::Raw, rig.file(name)));
    EXPECT_EQ(idle, 1) << name;
  }
  rig.recordings.stopAll();
  ASSERT_TRUE(rig.recordings.start(Stream::Raw, rig.file("c.raw")));
  rig.session.removeSink(&rig.recordings);
  EXPECT_EQ(idle, 3);
}

TEST(Recordings, ACorrectionThatWouldDivideByZeroIsToldOncePerRecording) {
  Rig rig("bb3.dev");
  rig.session.setRules(true, true, true);  // the references' first reading is 0, and so is the temperature
  const char* line = "05/14/24\t10:21:00\t0\t1175\t0\t1317\t0\t979\t0";
  ASSERT_TRUE(rig.recordings.start(Stream::Engr, rig.file("a.eng")));
  rig.lines({line, line, line});
  EXPECT_EQ(rig.heard.warnings.size(), 2u);  // one for each correction
  const std::string text = readFile(rig.file("a.eng"));
  EXPECT_EQ(text.find("inf"), std::string::npos) << text;
  EXPECT_EQ(text.find("nan"), std::string::npos) << text;
  ASSERT_TRUE(rig.recordings.start(Stream::Engr, rig.file("b.eng")));
  rig.lines({line});
  EXPECT_EQ(rig.heard.warnings.size(), 4u);  // told again for the new recording
  EXPECT_EQ(rig.heard.warnings[0].rfind("Correction Skipped: ", 0), 0u);
}

}  // namespace
