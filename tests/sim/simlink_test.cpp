// `maru sim --link PATH`: a stable name for the meter's pseudo-terminal, made before the
// path is announced and gone when the meter ends, however it ends.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>
#include <QProcess>
#include <csignal>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "link/serialport.h"
#include "support/ptypeer.h"
#include "support/quietline.h"

namespace {

using testsupport::pumpEvents;

// `maru sim` as a child process: its pty path (first output line), its pid and its end.
class Sim {
 public:
  explicit Sim(const QStringList& args) {
    m_process.start(QStringLiteral(MARU_TOOL), QStringList{"sim"} + args);
    if (!m_process.waitForStarted(5000)) return;
    QByteArray out;
    while (!out.contains('\n') && m_process.waitForReadyRead(5000)) out += m_process.readAllStandardOutput();
    if (out.indexOf('\n') > 0) m_path = out.left(out.indexOf('\n')).trimmed().toStdString();
  }
  ~Sim() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.kill();
    m_process.waitForFinished(3000);
  }
  const std::string& path() const { return m_path; }
  void signal(int number) { ::kill(static_cast<pid_t>(m_process.processId()), number); }
  /// Exit status after it ended by itself or by a signal it handles; -1 when it did not end.
  int waitForExit(int ms) {
    // (waitForFinished is false for a process that already ended.)
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(ms)) return -1;
    if (m_process.exitStatus() != QProcess::NormalExit) return -1;
    return m_process.exitCode();
  }
  std::string errorText() { return m_process.readAllStandardError().toStdString(); }

 private:
  QProcess m_process;
  std::string m_path;
};

std::string linkTarget(const std::string& path) {
  char buffer[4096];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Opens `name` with the program's serial port and asks for the menu: true when the
// meter's setup replies come back through it.
bool menuThrough(const std::string& name) {
  meterlink::SerialPort port;
  if (port.open(name, 38400) != meterlink::SerialPort::OpenResult::Ok) return false;
  port.write("$mnu\r\n", 6);
  std::string got;
  QElapsedTimer clock;
  clock.start();
  char buf[4096];
  while (clock.elapsed() < 5000 && got.find("\nCLK ") == std::string::npos) {
    pumpEvents(5);
    for (size_t n; (n = port.read(buf, sizeof buf)) > 0;) got.append(buf, n);
  }
  return got.find("\nCLK ") != std::string::npos;
}

struct EndCase {
  const char* name;
  int signal;  // 0: the meter hangs up by itself (--hangup-after)
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class SimLinkEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(SimLinkEnds, TheLinkLeadsToTheMeterAndGoesWithIt) {
  testsupport::TempDir dir;
  const std::string name = dir.file("meter");
  QStringList args{"--baud", "38400", "--link", QString::fromStdString(name)};
  if (GetParam().signal == 0) args << "--hangup-after" << "2";
  Sim sim(args);
  ASSERT_FALSE(sim.path().empty());
  EXPECT_EQ(linkTarget(name), sim.path());
  EXPECT_TRUE(menuThrough(name));

  if (GetParam().signal != 0) sim.signal(GetParam().signal);
  EXPECT_EQ(sim.waitForExit(5000), 0);
  EXPECT_FALSE(exists(name));
}

INSTANTIATE_TEST_SUITE_P(Endings, SimLinkEnds,
                         ::testing::Values(EndCase{"Term", SIGTERM}, EndCase{"Int", SIGINT}, EndCase{"Hup", SIGHUP},
                                           EndCase{"HangUp", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SimHangUp, EverythingDueBeforeTheCableIsPulledGoesOutHoweverLateTheMeterWakes) {
  // Stopped right after start and woken well past its hang-up time, the meter still
  // sends the lines of its first second, then hangs up: tests can count on them.
  Sim sim({"--dev", QString::fromStdString(std::string(MARU_SOURCE_DIR) + "/examples/ntu.dev"), "--rate", "10",
           "--hangup-after", "1"});
  ASSERT_FALSE(sim.path().empty());
  sim.signal(SIGSTOP);
  meterlink::SerialPort port;
  ASSERT_EQ(port.open(sim.path(), 19200), meterlink::SerialPort::OpenResult::Ok);
  testsupport::letLineBeSeenQuiet(port);  // stopped: not in the middle of a line
  bool lost = false;
  port.setLostHandler([&lost](const std::string&) { lost = true; });
  pumpEvents(1500);
  sim.signal(SIGCONT);
  std::string got;
  char buf[4096];
  QElapsedTimer clock;
  clock.start();
  while (!lost && clock.elapsed() < 5000) {
    pumpEvents(5);
    for (size_t n; (n = port.read(buf, sizeof buf)) > 0;) got.append(buf, n);
  }
  EXPECT_TRUE(lost);
  EXPECT_GE(std::count(got.begin(), got.end(), '\n'), 9) << got;
  EXPECT_EQ(sim.waitForExit(5000), 0);
}

TEST(SimLink, AnythingElseAtThePathIsRefusedAndLeftAlone) {
  testsupport::TempDir dir;
  const std::string file = dir.file("settings.txt");
  testsupport::writeFile(file, "keep me\n");
  const std::string folder = dir.file("folder");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  for (const std::string& name : {file, folder}) {
    Sim sim({"--link", QString::fromStdString(name)});
    EXPECT_EQ(sim.waitForExit(5000), 2) << name;
    EXPECT_NE(sim.errorText().find(name + " exists and is not a symbolic link"), std::string::npos) << name;
  }
  EXPECT_EQ(testsupport::readFile(file), "keep me\n");
  struct stat st {};
  EXPECT_TRUE(::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

TEST(SimLink, ASecondMeterTakesTheNameAfterTheFirstHungUp) {
  testsupport::TempDir dir;
  const std::string name = dir.file("meter");
  Sim first({"--baud", "38400", "--link", QString::fromStdString(name), "--hangup-after", "1"});
  ASSERT_FALSE(first.path().empty());
  EXPECT_EQ(first.waitForExit(5000), 0);
  EXPECT_FALSE(exists(name));

  Sim second({"--baud", "38400", "--link", QString::fromStdString(name)});
  ASSERT_FALSE(second.path().empty());
  EXPECT_EQ(linkTarget(name), second.path());
  EXPECT_TRUE(menuThrough(name));
}

TEST(SimLink, OldLinksAreReplacedAndAnEarlierMeterLeavesALaterMetersLink) {
  testsupport::TempDir dir;
  const std::string name = dir.file("meter");
  ASSERT_EQ(::symlink("/dev/pts/no-such-meter", name.c_str()), 0);  // left by a killed meter
  Sim first({"--link", QString::fromStdString(name)});
  ASSERT_FALSE(first.path().empty());
  EXPECT_EQ(linkTarget(name), first.path());
  Sim second({"--link", QString::fromStdString(name)});
  ASSERT_FALSE(second.path().empty());
  ASSERT_NE(first.path(), second.path());
  EXPECT_EQ(linkTarget(name), second.path());
  first.signal(SIGTERM);
  EXPECT_EQ(first.waitForExit(5000), 0);
  EXPECT_EQ(linkTarget(name), second.path());
  second.signal(SIGTERM);
  EXPECT_EQ(second.waitForExit(5000), 0);
  EXPECT_FALSE(exists(name));
}

}  // namespace
