// `maru sim` as a separate process, driven through the program's own serial layer over
// the pseudo-terminal it creates.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <string>
#include <vector>

#include "link/meterprotocol.h"
#include "link/serialport.h"
#include "sim/metermodel.h"
#include "sim/simoptions.h"
#include "support/ptypeer.h"
#include "support/simprocess.h"
#include "support/testfiles.h"

namespace {

using testsupport::pumpEvents;

using testsupport::example;

std::vector<std::string> completeLines(const std::string& bytes) { return testsupport::splitLines(bytes); }

// The program's serial port on the simulator's pseudo-terminal, read as the receive
// loop does: non-blocking reads while the event loop turns.
class SimLink {
 public:
  explicit SimLink(const QStringList& args, int baud = 38400) : m_sim(args) {
    if (m_sim.path().empty()) return;
    m_port.setLostHandler([this](const std::string& why) { m_lost = why.empty() ? "lost" : why; });
    m_opened = m_port.open(m_sim.path(), baud) == meterlink::SerialPort::OpenResult::Ok;
    if (m_opened) waitOutTheOpen();
  }
  /// What the port takes in its first moments after an open, when it cannot yet know
  /// whether the meter was in the middle of a line (read and dropped).
  void waitOutTheOpen() { readFor(static_cast<int>(2 * meterlink::SerialPort::kQuietAfterOpen.count())); }
  bool ok() const { return m_opened; }
  meterlink::SerialPort& port() { return m_port; }
  const std::string& lost() const { return m_lost; }
  testsupport::SimProcess& sim() { return m_sim; }

  void send(const std::string& bytes) { m_port.write(bytes.data(), bytes.size()); }
  void command(const std::string& text) { send(text + "\r\n"); }

  /// Everything that arrives within `ms`.
  std::string readFor(int ms) {
    return readUntil([](const std::string&) { return false; }, ms);
  }
  /// Reads until `done(received)` or `ms` passed.
  template <typename Done>
  std::string readUntil(Done done, int ms) {
    std::string got;
    QElapsedTimer clock;
    clock.start();
    char buf[4096];
    while (clock.elapsed() < ms && !done(got)) {
      pumpEvents(5);
      for (size_t n; (n = m_port.read(buf, sizeof buf)) > 0;) got.append(buf, n);
    }
    return got;
  }

 private:
  testsupport::SimProcess m_sim;
  meterlink::SerialPort m_port;
  bool m_opened = false;
  std::string m_lost;
};

bool hasLine(const std::string& bytes, const std::string& prefix) {
  for (const std::string& line : completeLines(bytes))
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

TEST(MaruSim, MenuBringsTheSetupRepliesAndSurvivesAReopen) {
  SimLink link({"--baud", "38400", "--start-time", "07/01/03 12:05:30"});
  ASSERT_TRUE(link.ok());
  for (int round = 0; round < 2; ++round) {
    link.command("$mnu");
    const std::string got = link.readUntil([](const std::string& s) { return hasLine(s, "CLK "); }, 5000);
    meterlink::MeterSetup setup;
    measure::MeterClock clock;
    for (const std::string& line : completeLines(got))
      meterlink::ParseMeterReply(line, setup, clock, measure::HostTime{});
    EXPECT_TRUE(setup.MeterVersionSeen) << got;
    EXPECT_EQ(setup.MeterAverage, 30u);
    EXPECT_EQ(setup.MeterMemoryUsed, 0);
    EXPECT_EQ(clock.MeterMonth, 7);
    EXPECT_EQ(clock.MeterHour, 12);
    // The program may close the port and open it again: the meter is still there.
    link.port().close();
    ASSERT_EQ(link.port().open(link.sim().path(), 38400), meterlink::SerialPort::OpenResult::Ok);
    link.waitOutTheOpen();
  }
}

TEST(MaruSim, RunBringsLinesWithTheDeviceFilesColumnsAndStopEndsThem) {
  // flcd.dev: Columns=7.
  SimLink link({"--dev", QString::fromStdString(example("flcd.dev")), "--stopped", "--rate", "8", "--baud",
                "4800"});
  ASSERT_TRUE(link.ok());
  EXPECT_EQ(link.readFor(400), "");  // stopped at power-on: silent
  link.command("$run");
  const std::string running = link.readFor(1500);
  const std::vector<std::string> lines = completeLines(running);
  ASSERT_GE(lines.size(), 6u) << running;
  for (const std::string& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 6) << line;

  link.send("!!!!!");
  const std::string after = link.readFor(1000);
  // The line on the wire when the stop came (and at worst one that began as it
  // arrived) is finished; then the meter is silent.
  EXPECT_LE(std::count(after.begin(), after.end(), '\n'), 2) << after;
  EXPECT_EQ(link.readFor(600), "");
}

TEST(MaruSim, GetDeliversTheLoggedBytesThenEtx) {
  const QStringList args{"--stopped", "--memory-bytes", "20000", "--seed", "5", "--start-time", "02/03/26 09:05:07",
                         "--baud", "38400"};
  SimLink link(args);
  ASSERT_TRUE(link.ok());
  link.command("$get");
  const std::string got = link.readUntil(
      [](const std::string& s) { return s.size() >= 5 && s.compare(s.size() - 5, 5, "etx\r\n") == 0; }, 20000);

  // The same options give the same memory in a model made here.
  std::vector<std::string> argv;
  for (const QString& a : args) argv.push_back(a.toStdString());
  sim::SimOptions options;
  std::string error;
  ASSERT_TRUE(sim::parseSimArgs(argv, options, error)) << error;
  const sim::MeterModel twin(options.model);
  ASSERT_EQ(twin.memory().size(), 20000u);
  EXPECT_EQ(got.size(), 20005u);
  EXPECT_TRUE(got == twin.memory() + "etx\r\n");
}

TEST(MaruSim, HangUpIsSeenAsALostPort) {
  SimLink link({"--hangup-after", "1"});
  ASSERT_TRUE(link.ok());
  link.readUntil([&](const std::string&) { return !link.lost().empty(); }, 5000);
  EXPECT_FALSE(link.lost().empty());
  EXPECT_FALSE(link.port().isOpen());
  QElapsedTimer clock;
  clock.start();
  while (link.sim().running() && clock.elapsed() < 3000) pumpEvents(20);
  EXPECT_FALSE(link.sim().running());  // the meter process is gone too
}

TEST(MaruSim, PacedAtTheBaudRate) {
  // A long dump keeps the line busy: 9600 baud carries at most 960 bytes a second.
  SimLink link({"--stopped", "--memory-bytes", "60000", "--baud", "9600"}, 9600);
  ASSERT_TRUE(link.ok());
  link.command("$get");
  std::string got = link.readUntil([](const std::string& s) { return !s.empty(); }, 3000);
  ASSERT_FALSE(got.empty());
  QElapsedTimer clock;
  clock.start();
  got += link.readFor(3000);
  const double seconds = clock.elapsed() / 1000.0;
  const double rate = got.size() / seconds;
  EXPECT_LE(rate, 1000.0) << got.size() << " bytes in " << seconds << " s";
  EXPECT_GE(rate, 500.0) << got.size() << " bytes in " << seconds << " s";
}

TEST(MaruSim, EndsCleanlyOnTerminate) {
  QProcess p;
  p.start(QString(MARU_TOOL), {"sim", "--stopped"});
  ASSERT_TRUE(p.waitForStarted(5000));
  ASSERT_TRUE(p.waitForReadyRead(5000));
  EXPECT_TRUE(p.readLine().startsWith("/dev/"));
  p.terminate();
  ASSERT_TRUE(p.waitForFinished(5000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 0);
}

TEST(MaruSim, RejectsBadOptionsAndDeviceFiles) {
  struct Case {
    QStringList args;
    int code;
  };
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("bad.dev"), "Bad meter\nColumns=2\nCHL=3 0.01\n");
  const std::vector<Case> cases = {
      {{"--help"}, 0},
      {{"--baud"}, 2},
      {{"--baud", "fast"}, 2},
      {{"--memory", "4096"}, 2},
      {{"--start-time", "13/01/03 12:00:00"}, 2},
      {{"--dev", QString::fromStdString(dir.file("missing.dev"))}, 2},
      {{"--dev", QString::fromStdString(dir.file("bad.dev"))}, 2},
      {{"--frobnicate"}, 2},
  };
  for (const Case& c : cases) {
    QProcess p;
    p.start(QString(MARU_TOOL), QStringList{"sim"} + c.args);
    ASSERT_TRUE(p.waitForFinished(10000)) << c.args.join(' ').toStdString();
    EXPECT_EQ(p.exitCode(), c.code) << c.args.join(' ').toStdString();
    if (c.code == 0) {
      EXPECT_TRUE(p.readAllStandardOutput().contains("--hangup-after"));
    } else {
      EXPECT_TRUE(p.readAllStandardOutput().isEmpty());  // no device path on failure
      EXPECT_FALSE(p.readAllStandardError().isEmpty());
    }
  }
}

}  // namespace
