// The acquisition session over real pseudo-terminals, without a window: samples to every
// sink with both times, replies to none, commands with their line end, a lost port looked
// for once a second (the adapter by its identity where it is now, else the same path), and
// the losses it tells of; the port at each baud rate, and lines framed as they come in.
#include "acquire/session.h"

#include "acquire/meterzone.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <time.h>

#include <filesystem>
#include <random>
#include <tuple>
#include <memory>
#include <string>
#include <vector>

#include "support/ptypeer.h"
#include "support/quietline.h"
#include "support/testfiles.h"

namespace {

using testsupport::pumpEvents;
using testsupport::PtyPeer;

struct Heard : acquire::Listener, acquire::Sink {
  std::vector<std::string> lines, warnings, samples, meterTimes;
  int lost = 0, back = 0;
  std::vector<int> loadedColumns;  ///< DataFieldCount of each device file heard loaded
  void deviceFileLoaded(const measure::DeviceConfig& config) override { loadedColumns.push_back(config.DataFieldCount); }
  void line(const meterlink::Line& line) override { lines.emplace_back(line.text); }
  void warning(const std::string& caption, const std::string& text) override {
    warnings.push_back(caption + ": " + text);
  }
  void portLost(const std::string&) override { ++lost; }
  void portBack(std::chrono::seconds) override { ++back; }
  void sample(const acquire::SampleRecord& r) override {
    samples.emplace_back(r.raw);
    meterTimes.push_back(r.times.meterEpochSeconds ? files::isoUtc(*r.times.meterEpochSeconds) : "");
    EXPECT_TRUE(r.times.host.has_value());
  }
};

// A session on the FLCD device file (date, time and five counts).
struct Rig {
  explicit Rig(acquire::SessionOptions options = {}) : session(state, heard, std::move(options)) {
    EXPECT_EQ(session.loadDeviceFile(testsupport::example("flcd.dev")), acquire::Session::Load::Loaded);
    session.setRules(true, false, false);
    session.addSink(&heard);
  }
  // Turns the event loop and receives until `done` or about two seconds passed.
  bool receiveUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i) {
      pumpEvents(5);
      while (session.receive(nullptr, 4096) > 0) {
      }
    }
    return done();
  }
  meterlink::MeterState state;
  Heard heard;
  acquire::Session session;
};

// The one door for a device file: a load is heard once it is in force; a failed one is
// not, leaves no device file in force, and tells what it must.
TEST(Session, ADeviceFileLoadIsHeardAndAFailureToldAsAsked) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("bad.dev"), "Broken\nColumns=2\nCHL=x\n");
  struct Case {
    std::string path;
    acquire::Session::Tell tell;
    acquire::Session::Load result;
    std::string lastWarning;  // "" for none
  };
  const std::string missing = dir.file("none.dev"), bad = dir.file("bad.dev");
  for (const Case& c : {Case{missing, acquire::Session::Tell::Everything, acquire::Session::Load::NotOpened,
                             "Device File Error: Could not open device file '" + missing + "': No such file or directory"},
                        Case{missing, acquire::Session::Tell::ParserOnly, acquire::Session::Load::NotOpened, ""},
                        Case{bad, acquire::Session::Tell::Everything, acquire::Session::Load::Invalid,
                             "Device File Error: Missing or Invalid device file '" + bad + "'"}}) {
    Rig rig;  // flcd.dev loaded
    ASSERT_EQ(rig.heard.loadedColumns, std::vector<int>{7});
    rig.heard.warnings.clear();
    EXPECT_EQ(rig.session.loadDeviceFile(c.path, c.tell), c.result) << c.path;
    EXPECT_EQ(rig.heard.loadedColumns.size(), 1u);
    EXPECT_EQ(rig.session.deviceFilePath(), "");
    EXPECT_EQ(rig.heard.warnings.empty() ? "" : rig.heard.warnings.back(), c.lastWarning);
  }
}

// A file that is no device file at all (a recording, a binary file) is refused by name and
// reason, and the device file in force stays in force.
TEST(Session, AFileThatIsNoDeviceFileLeavesTheOneInForce) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("image.dev"), std::string("\x89PNG\r\n\x1a\n\0\0", 10));
  for (const std::string& path : {testsupport::example("bb3.raw"), dir.file("image.dev")}) {
    Rig rig;  // flcd.dev loaded
    rig.heard.warnings.clear();
    EXPECT_EQ(rig.session.loadDeviceFile(path), acquire::Session::Load::Invalid);
    ASSERT_EQ(rig.heard.warnings.size(), 1u);
    EXPECT_EQ(rig.heard.warnings[0].rfind("Device File Error: '" + path + "' is not a device file: it ", 0), 0u)
        << rig.heard.warnings[0];
    EXPECT_EQ(rig.session.deviceFilePath(), testsupport::example("flcd.dev"));
    EXPECT_EQ(rig.state.config.DataFieldCount, 7);
    EXPECT_EQ(rig.heard.loadedColumns, std::vector<int>{7});
  }
}

const std::string kLine1 = "12/08/26\t04:44:05\t223\t1384\t560\t3205\t2065";
const std::string kLine2 = "12/08/26\t04:44:06\t224\t1385\t560\t3205\t2065";

TEST(Session, SamplesGoToEverySinkRepliesToNoneAndCommandsCarryTheirLineEnd) {
  PtyPeer peer;
  Rig rig;
  Heard second;
  rig.session.addSink(&second);
  ASSERT_EQ(rig.session.openPort(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  testsupport::letLineBeSeenQuiet(rig.session);
  peer.send(kLine1 + "\r\nAVE 30\r\n" + kLine2 + "\r\n");
  ASSERT_TRUE(rig.receiveUntil([&] { return rig.heard.lines.size() == 3; }));
  EXPECT_EQ(rig.heard.samples, (std::vector<std::string>{kLine1, kLine2}));
  EXPECT_EQ(second.samples, rig.heard.samples);
  EXPECT_EQ(rig.heard.meterTimes, (std::vector<std::string>{"2026-12-08T04:44:05Z", "2026-12-08T04:44:06Z"}));
  EXPECT_EQ(rig.state.meter.MeterAverage, 30u);  // the reply reached the meter's state

  rig.session.removeSink(&second);
  ASSERT_TRUE(rig.session.send(meterlink::cmd::kRun));
  ASSERT_TRUE(rig.session.sendBytes(meterlink::cmd::kStop));
  EXPECT_EQ(peer.receiveBytes(11), "$run\r\n!!!!!");
}

// The meter's clock is read in the zone it keeps, set at any time for the samples after it;
// a named zone follows summer time.
TEST(Session, MeterTimesAreReadInTheZoneSetForTheSamplesAfterIt) {
  Rig rig;
  struct Case {
    const char* zone;
    const char* clock;  // the meter's date and time fields
    const char* utc;
  };
  rig.session.dispatchLine("07/01/26\t12:00:00\t223\t1384\t560\t3205\t2065");
  EXPECT_EQ(rig.heard.meterTimes.back(), "2026-07-01T12:00:00Z");  // UTC until told otherwise
  for (const Case& c : {Case{"Europe/Oslo", "01/15/26\t12:00:00", "2026-01-15T11:00:00Z"},
                        Case{"Europe/Oslo", "07/01/26\t12:00:00", "2026-07-01T10:00:00Z"},
                        Case{"+05:30", "07/01/26\t00:10:00", "2026-06-30T18:40:00Z"}}) {
    rig.session.setMeterTimeZone(*acquire::parseMeterZone(c.zone));
    rig.session.dispatchLine(std::string(c.clock) + "\t223\t1384\t560\t3205\t2065");
    EXPECT_EQ(rig.heard.meterTimes.back(), c.utc) << c.zone << " " << c.clock;
  }
}

TEST(Session, ALostPortIsLookedForWhereItsAdapterIsNowElseAtItsPath) {
  testsupport::TempDir dir;
  const std::string link = dir.file("by-id");
  struct Case {
    const char* what;
    bool followSerial;  // the adapter comes back under another name
  };
  for (const Case& c : {Case{"same path", false}, Case{"adapter by serial number", true}}) {
    SCOPED_TRACE(c.what);
    auto peer = std::make_unique<PtyPeer>();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(peer->slavePath(), link);
    std::vector<meterlink::SerialAdapter> present(1);
    present[0].path = peer->slavePath();
    present[0].serialNumber = c.followSerial ? "A1B2" : "";
    acquire::SessionOptions options;
    options.listAdapters = [&] { return present; };
    Rig rig(options);
    const std::string opened = c.followSerial ? peer->slavePath() : link;
    ASSERT_EQ(rig.session.openPort(opened, 19200), meterlink::SerialPort::OpenResult::Ok);

    peer->hangUp();
    ASSERT_TRUE(rig.receiveUntil([&] { return rig.heard.lost == 1; }));
    EXPECT_TRUE(rig.session.reconnecting());
    rig.session.everySecond();  // not back yet
    EXPECT_EQ(rig.heard.back, 0);

    auto replugged = std::make_unique<PtyPeer>();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(replugged->slavePath(), link);
    present[0].path = replugged->slavePath();  // a new device name for the same adapter
    rig.session.everySecond();
    EXPECT_EQ(rig.heard.back, 1);
    EXPECT_TRUE(rig.session.portOpen());
    EXPECT_FALSE(rig.session.reconnecting());
    testsupport::letLineBeSeenQuiet(rig.session);
    replugged->send(kLine1 + "\r\n");
    EXPECT_TRUE(rig.receiveUntil([&] { return rig.heard.samples.size() == 1; }));
  }
}

TEST(Session, ClosingEndsTheSearchForALostPort) {
  auto peer = std::make_unique<PtyPeer>();
  Rig rig;
  ASSERT_EQ(rig.session.openPort(peer->slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  peer->hangUp();
  ASSERT_TRUE(rig.receiveUntil([&] { return rig.heard.lost == 1; }));
  rig.session.closePort();
  EXPECT_FALSE(rig.session.reconnecting());
}

TEST(Session, LinesLostAreToldWhenAskedFor) {
  for (const bool watch : {false, true}) {
    acquire::SessionOptions options;
    options.watchLosses = watch;
    Rig rig(options);
    // A second a line for a while, then five seconds missing, then two lines run together
    // (told with the next line that fits).
    for (int s = 0; s < 6; ++s) rig.session.dispatchLine("12/08/26\t04:44:0" + std::to_string(s) + "\t1\t2\t3\t4\t5");
    rig.session.dispatchLine("12/08/26\t04:44:11\t1\t2\t3\t4\t5");
    rig.session.dispatchLine("12/08/26\t04:44:12\t1\t2\t3\t4\t512/08/26\t04:44:13\t1\t2\t3\t4\t5");
    rig.session.dispatchLine("12/08/26\t04:44:14\t1\t2\t3\t4\t5");
    int told = 0;
    for (const std::string& w : rig.heard.warnings) told += w.rfind("Lines Lost: ", 0) == 0;
    EXPECT_EQ(told, watch ? 2 : 0);
  }
}


// Replies change the meter's state only while a device file is in force; the meter's clock
// learned from them carries the host's time of learning it.
TEST(Session, RepliesFillTheMetersSetupOnlyWithADeviceFileInForce) {
  const char* replies[] = {"ave 30", "AVERAGE 40", "PKT 4", "SET2", "INT 001500", "INT", "REC 1", "ASV 4",
                           "CLK 12:05:30", "DAT 07/01/03"};
  for (const bool inForce : {false, true}) {
    acquire::SessionOptions options;
    options.hostClock = [] {
      measure::HostTime t;
      t.year = 26;
      t.minute = 5;
      return t;
    };
    Rig rig(options);
    rig.session.setRules(inForce, false, false);
    for (const char* reply : replies) rig.session.dispatchLine(reply);
    EXPECT_EQ(rig.heard.lines.size(), std::size(replies));
    if (!inForce) {
      EXPECT_EQ(rig.state.meter, meterlink::MeterSetup{});
      EXPECT_EQ(rig.heard.samples.size(), std::size(replies)) << "every line is data";
      continue;
    }
    const meterlink::MeterSetup& m = rig.state.meter;
    EXPECT_EQ(m.MeterAverage, 30u);
    EXPECT_EQ(m.MeterSamples, 4u);
    EXPECT_EQ(m.MeterCycles, 2u);
    EXPECT_EQ(m.MeterInterval, "001500");
    EXPECT_EQ(m.MeterLogging, 1u);
    EXPECT_EQ(m.MeterAnalogRange, 4u);
    const measure::MeterClock& c = rig.state.clock;
    EXPECT_EQ(std::tuple(c.MeterHour, c.MeterSecond, c.MeterMonth, c.MeterYear), std::tuple(12, 30, 7, 3));
    EXPECT_EQ(std::tuple(c.HostMinute, c.HostYear), std::tuple(5, 26));
  }
}

// ---------------------------------------------------------------- the port and framing

TEST(Session, OpensThePortAtEachRateEightNOne) {
  for (const auto& [baud, speed] : {std::pair{4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400}}) {
    PtyPeer peer;
    Rig rig;
    ASSERT_EQ(rig.session.openPort(peer.slavePath(), baud), meterlink::SerialPort::OpenResult::Ok) << baud;
    EXPECT_EQ(rig.session.portBaud(), baud);
    termios t{};
    ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed) << baud;
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  }
}

TEST(Session, LinesAreFramedAcrossReadsByTheirLineFeedAndAnOverlongOneWarnsOnce) {
  std::string overlong;
  for (int i = 0; i < 300; ++i) overlong.push_back(static_cast<char>('a' + i % 26));
  struct Case {
    const char* what;
    std::vector<std::string> chunks;  // sent one receive apart
    std::vector<std::string> lines, warnings;
  };
  for (const Case& c : {Case{"over three reads", {"a", "bc\r", "\n"}, {"abc"}, {}},
                        Case{"bare carriage returns", {"12\r34\r"}, {}, {}},
                        Case{"overlong", {overlong + "\n"}, {overlong.substr(250)},
                             {"Input Buffer Overflow: Check Baud Rate"}}}) {
    SCOPED_TRACE(c.what);
    PtyPeer peer;
    Rig rig;
    ASSERT_EQ(rig.session.openPort(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
    testsupport::letLineBeSeenQuiet(rig.session);
    rig.heard.warnings.clear();
    for (const std::string& chunk : c.chunks) {
      EXPECT_TRUE(rig.heard.lines.empty());
      peer.send(chunk);
      pumpEvents(20);
      rig.session.drainPort(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(rig.heard.lines, c.lines);
    EXPECT_EQ(rig.heard.warnings, c.warnings);
  }
}

TEST(Session, RandomBytesNeverGiveALineOverTheLimit) {
  PtyPeer peer;
  Rig rig;
  ASSERT_EQ(rig.session.openPort(peer.slavePath(), 38400), meterlink::SerialPort::OpenResult::Ok);
  std::mt19937 rng(1234);
  for (int round = 0; round < 20; ++round) {
    std::string bytes;
    const int n = 200 + static_cast<int>(rng() % 800);
    for (int i = 0; i < n; ++i) {
      const unsigned r = rng() % 100;
      bytes.push_back(r < 5 ? '\n' : r < 10 ? '\0' : r < 15 ? '\xff' : static_cast<char>(rng() & 0xFF));
    }
    if (round % 5 == 0) bytes += std::string(1000, 'k');  // a long run without a line feed
    peer.send(bytes);
    pumpEvents(20);
    rig.session.drainPort(std::chrono::milliseconds(100));
  }
  EXPECT_GT(rig.heard.lines.size(), 20u);
  for (const auto& line : rig.heard.lines) EXPECT_LE(line.size(), 250u);
}

// The port is closed at the first error, so the driver cannot report it again and again.
TEST(Session, AHangUpIsToldOnceAndCommandsThenGoNowhere) {
  PtyPeer peer;
  Rig rig;
  ASSERT_EQ(rig.session.openPort(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  peer.hangUp();
  for (int i = 0; i < 36; ++i) {  // about two seconds of 55 ms ticks
    pumpEvents(55);
    rig.session.takeInput(std::chrono::milliseconds(25));
  }
  EXPECT_EQ(rig.heard.lost, 1);
  EXPECT_FALSE(rig.session.portOpen());
  EXPECT_FALSE(rig.session.send(meterlink::cmd::kRun));
}

}  // namespace

TEST(Session, DrainingThePortTakesEveryLineItHolds) {
  PtyPeer peer;
  Rig rig;
  ASSERT_EQ(rig.session.openPort(peer.slavePath(), 38400), meterlink::SerialPort::OpenResult::Ok);
  testsupport::letLineBeSeenQuiet(rig.session);
  std::string burst;
  for (int i = 0; i < 60; ++i) burst += kLine1 + "\r\n";
  peer.send(burst);
  for (int i = 0; i < 400 && rig.session.portBytesWaiting() < burst.size(); ++i)
    pumpEvents(5);
  EXPECT_EQ(rig.session.drainPort(std::chrono::seconds(5)), burst.size());
  EXPECT_EQ(rig.heard.samples.size(), 60u);
}

// The meter answers a command at once: were the command sent right after the open, its
// answer would be dropped as the line the open cut.
TEST(Session, CommandsAfterAnOpenWaitUntilItSettledSoTheAnswerIsKept) {
  PtyPeer peer;
  Rig rig;
  ASSERT_EQ(rig.session.openPort(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  ASSERT_TRUE(rig.session.send(meterlink::cmd::kRun));
  EXPECT_EQ(peer.receive(20, 20), "");  // held while the open settles
  std::string sent;
  ASSERT_TRUE(rig.receiveUntil([&] {
    sent += peer.receive(5, 5);
    return sent == "$run\r\n";
  }));
  peer.send(kLine1 + "\r\n");
  ASSERT_TRUE(rig.receiveUntil([&] { return rig.heard.samples.size() == 1; }));
  EXPECT_EQ(rig.heard.samples.front(), kLine1);
}
