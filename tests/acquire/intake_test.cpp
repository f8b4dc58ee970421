// What the session takes each receive tick, without a window: a replayed raw file at its
// pace (one 98-character read a tick, rewound and paused at its end), the meter's memory
// into a transfer file while one runs (over a real pseudo-terminal), and the sample rate
// over the ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "acquire/recordings.h"
#include "acquire/session.h"
#include "files/openfiles.h"
#include "measure/cformat.h"
#include "support/ptypeer.h"
#include "support/testfiles.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;
using Event = acquire::MemoryTransfer::Event;
using Status = acquire::MemoryTransfer::Status;
constexpr std::chrono::milliseconds kBudget{25};

struct Heard : acquire::Listener {
  std::vector<std::string> lines;
  void line(const meterlink::Line& line) override { lines.emplace_back(line.text); }
  void warning(const std::string&, const std::string&) override {}
};

struct Rig {
  Rig() : session(state, heard) {}
  size_t tick() { return session.takeInput(kBudget); }
  meterlink::MeterState state;
  Heard heard;
  acquire::Session session;
  testsupport::TempDir dir;
};

std::string numberedLines(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) text += std::to_string(i) + "\t" + std::to_string(i * 10) + "\r\n";
  return text;
}

// ---------------------------------------------------------------- replay

TEST(Replay, OneLineATickThenNothingThenARewindThatPauses) {
  Rig rig;
  const std::string path = rig.dir.file("r.raw");
  writeFile(path, numberedLines(10));
  EXPECT_FALSE(rig.session.replay(rig.dir.file("missing.raw")));
  EXPECT_FALSE(rig.session.replaying());
  ASSERT_TRUE(rig.session.replay(path));
  EXPECT_EQ(rig.tick(), 0u);  // paused until resumed
  rig.session.resume();
  for (int i = 1; i <= 10; ++i) {
    EXPECT_EQ(rig.tick(), std::to_string(i * 10).size() + std::to_string(i).size() + 3);
    ASSERT_EQ(rig.heard.lines.size(), static_cast<size_t>(i));
    EXPECT_EQ(rig.heard.lines.back(), std::to_string(i) + "\t" + std::to_string(i * 10));
  }
  EXPECT_EQ(rig.tick(), 0u);  // end of file: nothing read
  EXPECT_TRUE(rig.session.replayRunning());
  EXPECT_EQ(rig.tick(), 0u);  // rewinds and pauses
  EXPECT_FALSE(rig.session.replayRunning());
  EXPECT_EQ(rig.tick(), 0u);
  rig.session.resume();
  rig.tick();
  EXPECT_EQ(rig.heard.lines.back(), "1\t10");
}

TEST(Replay, ALongLineTakesTwoTicksAndPauseHoldsThePlace) {
  Rig rig;
  const std::string path = rig.dir.file("r.raw");
  std::string line;
  for (int i = 0; line.size() < 150; ++i) line += std::to_string(i % 10);
  writeFile(path, line + "\r\n1\t2\r\n3\t4\r\n5\t6");
  ASSERT_TRUE(rig.session.replay(path));
  rig.session.resume();
  EXPECT_EQ(rig.tick(), 98u);
  EXPECT_TRUE(rig.heard.lines.empty());
  rig.tick();
  EXPECT_EQ(rig.heard.lines, std::vector<std::string>{line});
  rig.tick();
  rig.session.pause();
  EXPECT_EQ(rig.tick(), 0u);
  rig.session.resume();
  rig.tick();
  EXPECT_EQ(rig.heard.lines.back(), "3\t4");
  // A last line without its line end is joined to the first after the rewind.
  while (rig.session.replayRunning()) rig.tick();
  rig.session.resume();
  rig.tick();
  rig.tick();
  EXPECT_EQ(rig.heard.lines.back(), "5\t6" + line);
}

TEST(Replay, ThePortIsNotReadWhileReplayingAndStopReplayClosesTheFile) {
  testsupport::PtyPeer peer;
  Rig rig;
  ASSERT_EQ(rig.session.openPort(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  std::this_thread::sleep_for(meterlink::SerialPort::kQuietAfterOpen + std::chrono::milliseconds(5));
  rig.tick();
  const std::string path = rig.dir.file("r.raw");
  writeFile(path, numberedLines(2));
  const int before = filestest::openDescriptorCount();
  ASSERT_TRUE(rig.session.replay(path));
  EXPECT_EQ(filestest::openDescriptorCount(), before + 1);
  ASSERT_TRUE(rig.session.replay(path));  // a second replay closes the first file
  EXPECT_EQ(filestest::openDescriptorCount(), before + 1);
  peer.send("9\t9\r\n");
  for (int i = 0; i < 5; ++i) {
    testsupport::pumpEvents(10);
    rig.tick();
  }
  EXPECT_TRUE(rig.heard.lines.empty());
  rig.session.stopReplay();
  EXPECT_EQ(filestest::openDescriptorCount(), before);
  rig.tick();
  EXPECT_EQ(rig.heard.lines, std::vector<std::string>{"9\t9"});
}

TEST(Replay, TheReplayedSamplesReachTheRecordings) {
  Rig rig;
  ASSERT_EQ(rig.session.loadDeviceFile(testsupport::example("ntu.dev")), acquire::Session::Load::Loaded);
  rig.session.setRules(true, false, false);
  acquire::Recordings recordings(rig.heard);
  rig.session.addSink(&recordings);
  const std::string path = rig.dir.file("r.raw"), copy = rig.dir.file("copy.raw");
  writeFile(path, "1103\t4094\t560\r\nVER X\r\n1112\t4095\t560\n");
  ASSERT_TRUE(recordings.start(acquire::Recordings::Stream::Raw, copy));
  ASSERT_TRUE(rig.session.replay(path));
  rig.session.resume();
  while (rig.session.replayRunning()) rig.tick();
  EXPECT_EQ(readFile(copy), "1103\t4094\t560\r\n1112\t4095\t560\r\n");
  rig.session.removeSink(&recordings);
}

// ---------------------------------------------------------------- sample rate

TEST(RateMeter, AWindowOfFiveSamplesThenOneOfTenSecondsWorth) {
  acquire::RateMeter rate;
  // A sample every fourth tick: 4.55 Hz over five samples; the next window is 45 samples.
  auto samples = [&](int count, int ticksApart) {
    int measured = 0;
    for (int s = 0; s < count; ++s) {
      for (int t = 0; t < ticksApart; ++t) rate.tick();
      measured += rate.sample();
    }
    return measured;
  };
  rate.restart();
  EXPECT_EQ(samples(1, 1), 0);  // restarts the measurement
  EXPECT_EQ(samples(4, 4), 0);
  EXPECT_EQ(samples(1, 4), 1);
  EXPECT_EQ(measure::cformat("%4.2f", rate.hz()), "4.55");  // 20 ticks x 0.055 s / 5
  EXPECT_EQ(samples(44, 2), 0);
  EXPECT_EQ(samples(1, 2), 1);
  EXPECT_EQ(measure::cformat("%4.2f", rate.hz()), "9.09");  // 90 ticks x 0.055 s / 45
  EXPECT_EQ(rate.measurements(), 2);
  rate.restart();
  EXPECT_EQ(rate.pending(), -1);
}

// ---------------------------------------------------------------- memory transfer

struct TransferRig : Rig {
  TransferRig() {
    EXPECT_EQ(session.openPort(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
    std::this_thread::sleep_for(meterlink::SerialPort::kQuietAfterOpen + std::chrono::milliseconds(5));
    tick();  // seen quiet: commands go out at once
    session.transfer().setHandler([this](Event e, acquire::MemoryTransfer::Progress p) {
      events.push_back(e);
      progress = p;
    });
  }
  bool start(const std::string& name) { return session.startTransfer(dir.file(name)); }
  /// The meter dumps `bytes`; ticks until the transfer took them or ended.
  void dumps(const std::string& bytes) {
    const long target = session.transfer().progress().current + static_cast<long>(bytes.size());
    peer.send(bytes);
    for (int i = 0; i < 100 && session.transfer().active() && session.transfer().progress().current < target; ++i) {
      testsupport::pumpEvents(5);
      tick();
    }
  }
  int ticksUntilEnd(int limit) {
    for (int i = 1; i <= limit; ++i) {
      tick();
      if (!session.transfer().active()) return i;
    }
    return -1;
  }
  int count(Event e) const { return static_cast<int>(std::count(events.begin(), events.end(), e)); }
  testsupport::PtyPeer peer;
  std::vector<Event> events;
  acquire::MemoryTransfer::Progress progress;
};

struct MarkerCase {
  const char* name;
  std::vector<std::string> reads;
};

class TransferMarker : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(TransferMarker, EndsCompleteWithEveryByteOfTheLastReadAndNoneFramed) {
  TransferRig rig;
  ASSERT_TRUE(rig.start("m.raw"));
  EXPECT_EQ(rig.peer.receive(), "$get\r\n");
  EXPECT_EQ(rig.session.transfer().idleTicks(), 20);
  std::string all;
  for (const std::string& read : GetParam().reads) {
    EXPECT_TRUE(rig.session.transfer().active());
    rig.dumps(read);
    all += read;
  }
  EXPECT_EQ(rig.session.transfer().status(), Status::Complete);
  EXPECT_EQ(rig.count(Event::Complete), 1);
  EXPECT_EQ(readFile(rig.dir.file("m.raw")), all);
  EXPECT_EQ(rig.progress.current, static_cast<long>(all.size()));
  EXPECT_EQ(rig.session.transfer().percent(), 100);
  EXPECT_TRUE(rig.heard.lines.empty());  // the transfer's bytes bypass the framer
  rig.peer.send("1\t2\r\n");  // afterwards the framer has the port again
  for (int i = 0; i < 50 && rig.heard.lines.empty(); ++i) {
    testsupport::pumpEvents(5);
    rig.tick();
  }
  EXPECT_EQ(rig.heard.lines, std::vector<std::string>{"1\t2"});
  EXPECT_EQ(readFile(rig.dir.file("m.raw")), all);
}

INSTANTIATE_TEST_SUITE_P(
    Data, TransferMarker,
    ::testing::Values(MarkerCase{"SplitAcrossReads", {"05/14/24\t11:02:00\t1033\r\ne", "tx\r\n"}},
                      MarkerCase{"UpperCase", {"1\t2\r\nETX"}}, MarkerCase{"MixedCase", {"1\t2\r\nEtx"}},
                      MarkerCase{"BytesAfterTheMarker", {"1\t2\r\netx\r\nmore"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct SilenceCase {
  const char* name;
  std::string data;  // sent once right after "$get"; empty = nothing at all
  bool cancel;
  int ticksToEnd;  // after the last data (or after "$get")
  Status outcome;
};

class TransferSilence : public ::testing::TestWithParam<SilenceCase> {};

TEST_P(TransferSilence, EndsAfterItsQuietTicksWarningOnlyWhenNotCancelled) {
  TransferRig rig;
  ASSERT_TRUE(rig.start("m.raw"));
  if (!GetParam().data.empty()) rig.dumps(GetParam().data);
  if (GetParam().cancel) rig.session.transfer().cancel();
  EXPECT_EQ(rig.ticksUntilEnd(30), GetParam().ticksToEnd);
  EXPECT_EQ(rig.session.transfer().status(), GetParam().outcome);
  EXPECT_EQ(rig.count(Event::Silence), GetParam().cancel ? 0 : 1);
  rig.ticksUntilEnd(25);
  EXPECT_EQ(rig.count(Event::Silence), GetParam().cancel ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Data, TransferSilence,
                         ::testing::Values(SilenceCase{"NothingAfterGet", "", false, 21, Status::Incomplete},
                                           SilenceCase{"SilenceAfterData", "page one\r\n", false, 20, Status::Incomplete},
                                           SilenceCase{"Cancelled", "page one\r\n", true, 20, Status::Cancelled}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Transfer, ACancelledTransferStaysCancelledWhenTheMarkerComes) {
  TransferRig rig;
  ASSERT_TRUE(rig.start("m.raw"));
  rig.session.transfer().cancel();
  rig.dumps("page\r\netx\r\n");
  EXPECT_FALSE(rig.session.transfer().active());
  EXPECT_EQ(rig.session.transfer().status(), Status::Cancelled);
}

TEST(Transfer, ProgressIsAgainstTheMemoryTheMeterReported) {
  TransferRig rig;
  rig.state.meter.MeterMemoryUsed = 2;  // 528 bytes
  ASSERT_TRUE(rig.start("m.raw"));
  EXPECT_EQ(rig.progress.maximum, 528);
  rig.dumps(std::string(264, 'a'));
  EXPECT_EQ(rig.session.transfer().percent(), 50);
  rig.dumps(std::string(100, 'b') + "etx\r\n");
  EXPECT_EQ(rig.session.transfer().percent(), 100);  // complete, though short of the report
  rig.state.meter.MeterMemoryUsed = -1;  // not known
  ASSERT_TRUE(rig.start("n.raw"));
  rig.dumps(std::string(300, 'c'));
  EXPECT_EQ(rig.progress.maximum, 0);
  EXPECT_EQ(rig.progress.current, 300);
  EXPECT_EQ(rig.session.transfer().percent(), -1);
}

TEST(Transfer, AFileThatCannotBeMadeLeavesTheRunningTransferGoing) {
  TransferRig rig;
  const int before = filestest::openDescriptorCount();
  ASSERT_TRUE(rig.start("m.raw"));
  ASSERT_EQ(rig.peer.receive(), "$get\r\n");
  rig.dumps("abc");
  EXPECT_FALSE(rig.session.startTransfer(rig.dir.file("no-such-folder/n.raw")));
  EXPECT_EQ(rig.peer.receive(200), "");  // no second "$get"
  rig.dumps("def");
  ASSERT_TRUE(rig.start("second.raw"));  // a new transfer ends the old one and closes its file
  EXPECT_EQ(filestest::openDescriptorCount(), before + 1);
  rig.dumps("etx");
  EXPECT_EQ(readFile(rig.dir.file("m.raw")), "abcdef");
  EXPECT_EQ(readFile(rig.dir.file("second.raw")), "etx");
  EXPECT_EQ(rig.session.transfer().status(), Status::Complete);
}

TEST(Transfer, AFileThatCannotBeWrittenEndsItIncompleteWithOneEvent) {
  TransferRig rig;
  ASSERT_TRUE(rig.session.startTransfer("/dev/full"));
  rig.dumps("memory page\r\n");
  EXPECT_EQ(rig.session.transfer().status(), Status::Incomplete);
  EXPECT_EQ(rig.progress.current, 0);
  rig.ticksUntilEnd(25);
  EXPECT_EQ(rig.count(Event::WriteFailed), 1);
  EXPECT_EQ(rig.count(Event::Silence), 0);
}

}  // namespace
