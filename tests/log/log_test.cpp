// maru log over real virtual meters: the daily files (names, formats, rollover, appending),
// a pulled and replugged cable, warnings, signals, a bad device file, and the commands it
// sends. Each meter here is deterministic (seed, rate, start time), so what it sent is
// known line for line from a second meter with the same settings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <QDir>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "log/logharness.h"
#include "support/ptypeer.h"
#include "support/testfiles.h"

using namespace logtest;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string kCsvHeader = "host_time_utc,meter_time_utc,count,chl_ug_per_l,cdom_ppb,itemp_degc,xtemp_degc,pres_dbar";

QProcessEnvironment clockAt(const std::string& utc) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("MARU_LOG_CLOCK_START", q(utc));
  return env;
}

QStringList logArgs(const std::string& port, const std::string& out, const QStringList& extra = {}) {
  return QStringList{"log", "--port", q(port), "--dev", q(example("flcd.dev")), "--out", q(out)} + extra;
}

// A meter that hangs up after `lines` whole lines at `rate`: lines go out at 1/rate, 2/rate,
// ... and the hang-up comes half a period after the last one.
QStringList pluggedMeter(int seed, double rate, int lines, const std::string& link,
                         const std::string& startTime = "12/08/26 04:44:00") {
  return meterArgs(seed, rate, startTime) +
         QStringList{"--link", q(link), "--hangup-after", QString::number((lines + 0.5) / rate, 'f', 3)};
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The .eng and .csv of one day agree with its .raw: one header each, a row per raw line
// that fits the device file (the others are in .raw alone), and every CSV value is the
// .eng column without its padding.
void expectFilesAgree(const std::string& base) {
  SCOPED_TRACE(base);
  std::vector<std::string> raw = fileLines(base + ".raw");
  std::erase_if(raw, [](const std::string& line) { return std::count(line.begin(), line.end(), '\t') != 6; });
  const std::vector<std::string> eng = fileLines(base + ".eng");
  const std::vector<std::string> csv = fileLines(base + ".csv");
  ASSERT_EQ(eng.size(), raw.size() + 1);
  ASSERT_EQ(csv.size(), raw.size() + 1);
  EXPECT_EQ(eng[0], "Count\tDate\tTime\tCHL(ug/l)\tCDOM(raw)\tiTemp(C)\txTemp(C)\tPres(dbar)");
  EXPECT_EQ(csv[0], kCsvHeader);
  const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
  for (size_t i = 1; i < csv.size(); ++i) {
    const std::vector<std::string> row = split(csv[i], ',');
    const std::vector<std::string> columns = split(eng[i], '\t');
    ASSERT_EQ(row.size(), 8u) << csv[i];
    ASSERT_EQ(columns.size(), 8u) << eng[i];
    EXPECT_TRUE(std::regex_match(row[0], time)) << row[0];
    if (i > 1) {
      EXPECT_LE(split(csv[i - 1], ',')[0], row[0]);
    }
    // The meter's time and count as the .eng line has them.
    const std::string& d = columns[1];  // MMDDYY
    const std::string& t = columns[2];  // HHMMSS
    EXPECT_EQ(row[1], "20" + d.substr(4, 2) + "-" + d.substr(0, 2) + "-" + d.substr(2, 2) + "T" + t.substr(0, 2) +
                          ":" + t.substr(2, 2) + ":" + t.substr(4, 2) + ".000Z")
        << csv[i] << " / " << eng[i];
    for (size_t c = 2; c < row.size(); ++c) {
      const std::string padded = columns[c == 2 ? 0 : c];
      EXPECT_EQ(row[c], padded.substr(padded.find_first_not_of(' '))) << i << ": " << csv[i] << " / " << eng[i];
    }
  }
}

TEST(Log, DailyFilesRollOverAtUtcMidnight) {
  TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out");
  ReferenceMeter reference(meterArgs(31, 5));
  auto meter = startMaru(pluggedMeter(31, 5, 15, link));
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(link); }, 5000));
  // The logger's clock reaches the new year about 1.4 s after it starts.
  auto logger = startMaru(logArgs(link, out), clockAt("2026-12-31T23:59:58.600Z"));
  ASSERT_TRUE(meter->waitFinished(15000));
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000)) << logger->err();
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0) << logger->err();

  const std::string day1 = out + "/20261231", day2 = out + "/20270101";
  const std::vector<std::string> first = fileLines(day1 + ".raw"), second = fileLines(day2 + ".raw");
  EXPECT_FALSE(first.empty());
  EXPECT_FALSE(second.empty());
  // Every line once, in order, byte for byte, across the two days (from the one the
  // port met on).
  EXPECT_TRUE(areTailsOf(concat(first, second), {reference.lines(15)}));
  expectFilesAgree(day1);
  expectFilesAgree(day2);
  for (const std::string& row : fileLines(day1 + ".csv")) {
    if (row != kCsvHeader) {
      EXPECT_EQ(row.substr(0, 18), "2026-12-31T23:59:5") << row;
    }
  }
  for (const std::string& row : fileLines(day2 + ".csv")) {
    if (row != kCsvHeader) {
      EXPECT_EQ(row.substr(0, 18), "2027-01-01T00:00:0") << row;
    }
  }
  // The first day's engineering units are what the converter makes of its raw file.
  QProcess convert;
  convert.start(QString(MARU_TOOL), {"convert", "--dev", q(example("flcd.dev")), q(day1 + ".raw")});
  ASSERT_TRUE(convert.waitForFinished(10000));
  EXPECT_EQ(convert.readAllStandardOutput().toStdString(), readFile(day1 + ".eng"));
  // Only these six files.
  EXPECT_EQ(QDir(q(out)).entryList(QDir::Files).size(), 6) << QDir(q(out)).entryList(QDir::Files).join(' ').toStdString();
}

TEST(Log, ARestartAppendsAndWritesHeadersOnlyIntoNewFiles) {
  TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out");
  std::filesystem::create_directories(out);
  const std::string base = out + "/20260601";
  // From an earlier run with the same device file: a raw and an .eng file with lines; an
  // empty .csv (that run died before its header).
  const std::string engHeader = "Count\tDate\tTime\tCHL(ug/l)\tCDOM(raw)\tiTemp(C)\txTemp(C)\tPres(dbar)";
  writeFile(base + ".raw", "earlier line\r\n");
  writeFile(base + ".eng", engHeader + "\r\nearlier row\r\n");
  writeFile(base + ".csv", "");
  ReferenceMeter reference1(meterArgs(41, 5)), reference2(meterArgs(42, 5));

  for (const int seed : {41, 42}) {
    auto logger = startMaru(logArgs(link, out), clockAt("2026-06-01T12:00:00.000Z"));
    auto meter = startMaru(pluggedMeter(seed, 5, 10, link));
    ASSERT_TRUE(meter->waitFinished(15000));
    ASSERT_TRUE(logger->waitForErr("Port Lost", 5000)) << logger->err();
    logger->signal(SIGTERM);
    ASSERT_TRUE(logger->waitFinished());
    EXPECT_EQ(logger->exitCode(), 0);
  }
  std::vector<std::string> raw = fileLines(base + ".raw");
  ASSERT_FALSE(raw.empty());
  EXPECT_EQ(raw.front(), "earlier line");
  raw.erase(raw.begin());
  EXPECT_TRUE(areTailsOf(raw, {reference1.lines(10), reference2.lines(10)}));
  const std::vector<std::string> eng = fileLines(base + ".eng");
  ASSERT_EQ(eng.size(), raw.size() + 2);
  EXPECT_EQ(eng[0], engHeader);
  EXPECT_EQ(eng[1], "earlier row");
  for (size_t i = 2; i < eng.size(); ++i) EXPECT_EQ(eng[i].rfind("Count", 0), std::string::npos) << eng[i];
  const std::vector<std::string> csv = fileLines(base + ".csv");
  ASSERT_EQ(csv.size(), raw.size() + 1);
  EXPECT_EQ(csv[0], kCsvHeader);
  for (size_t i = 1; i < csv.size(); ++i) EXPECT_EQ(csv[i].rfind("2026-06-01T12:00:0", 0), 0u) << csv[i];
}

TEST(Log, OneLoggerPerFolderAndAKilledOneDoesNotBlock) {
  TempDir dir;
  const std::string out = dir.file("out");
  const QStringList args = logArgs(dir.file("no-meter"), out);
  auto first = startMaru(args);
  ASSERT_TRUE(first->waitForErr("Port Unavailable", 5000)) << first->err();
  auto second = startMaru(args);
  ASSERT_TRUE(second->waitFinished());
  EXPECT_EQ(second->exitCode(), 1);
  EXPECT_NE(second->err().find("PID " + std::to_string(first->pid()) + " (maru) holds"), std::string::npos)
      << second->err();
  // Killed outright, it leaves the lock file but not the lock.
  first->signal(SIGKILL);
  ASSERT_TRUE(first->waitFinished());
  auto third = startMaru(args);
  ASSERT_TRUE(third->waitForErr("Port Unavailable", 5000)) << third->err();
  EXPECT_TRUE(third->running());
}

TEST(Log, APulledCableIsWaitedForAndNothingIsLostOrDoubled) {
  TempDir dir;
  const std::string link = dir.file("by-id-link"), out = dir.file("out");
  ReferenceMeter reference1(meterArgs(51, 5)), reference2(meterArgs(52, 5, "12/08/26 05:00:00"));
  auto logger = startMaru(logArgs(link, out, {"--start"}), clockAt("2026-12-08T10:00:00.000Z"));
  ASSERT_TRUE(logger->waitForErr("Port Unavailable", 5000)) << logger->err();

  auto meter1 = startMaru(pluggedMeter(51, 5, 10, link));
  ASSERT_TRUE(meter1->waitFinished(15000));
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000)) << logger->err();
  // The logger waits for the same path; a new meter is plugged in there.
  auto meter2 = startMaru(pluggedMeter(52, 5, 10, link, "12/08/26 05:00:00"));
  ASSERT_TRUE(logger->waitForErr("Port Back", 5000)) << logger->err();
  ASSERT_TRUE(meter2->waitFinished(15000));
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000, 2)) << logger->err();
  EXPECT_TRUE(logger->running());
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0);

  const std::string day = out + "/20261208";
  // Each meter from the line the reopened port met on: none lost after it, none twice.
  EXPECT_TRUE(areTailsOf(fileLines(day + ".raw"), {reference1.lines(10), reference2.lines(10)}));
  expectFilesAgree(day);
  // One line for each loss and each return, no more.
  EXPECT_EQ(countOf(logger->err(), "Port Lost"), 2) << logger->err();
  EXPECT_EQ(countOf(logger->err(), "Port Back"), 1) << logger->err();
  EXPECT_EQ(countOf(logger->err(), "Port Unavailable"), 1) << logger->err();
}

TEST(Log, WarningsAreOneLineEachAndLoggingGoesOn) {
  TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out");
  // Over-long lines (the overflow warning), lines with a field too many or too few, and
  // line noise, each now and then.
  auto meter = startMaru(meterArgs(61, 20) +
                         QStringList{"--link", q(link), "--fault-long-line", "--fault-columns", "--fault-garbage"});
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(link); }, 5000));
  auto logger = startMaru(logArgs(link, out), clockAt("2026-12-08T10:00:00.000Z"));
  const std::string raw = out + "/20261208.raw";
  ASSERT_TRUE(logger->waitForErr("Input Buffer Overflow: Check Baud Rate", 15000)) << logger->err();
  const size_t atWarning = fileLines(raw).size();
  EXPECT_TRUE(waitUntil([&] { return fileLines(raw).size() >= atWarning + 20; }, 10000));
  EXPECT_TRUE(logger->running());
  logger->signal(SIGINT);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0);
  expectFilesAgree(out + "/20261208");
  // Every stderr line is "caption: text".
  const std::regex message(R"([A-Za-z][A-Za-z -]*: .+)");
  for (const std::string& line : testsupport::splitLines(logger->err()))
    EXPECT_TRUE(std::regex_match(line, message)) << line;
}

TEST(Log, SighupReopensTheFilesAndSigtermEndsCleanly) {
  TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out");
  ReferenceMeter reference(meterArgs(71, 5));
  auto meter = startMaru(pluggedMeter(71, 5, 20, link));
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(link); }, 5000));
  auto logger = startMaru(logArgs(link, out), clockAt("2026-12-08T10:00:00.000Z"));
  const std::string base = out + "/20261208";
  ASSERT_TRUE(waitUntil([&] { return fileLines(base + ".raw").size() >= 5; }, 10000));
  // As logrotate does: rename, then SIGHUP.
  for (const char* ext : {".raw", ".eng", ".csv"}) std::filesystem::rename(base + ext, base + ext + ".1");
  logger->signal(SIGHUP);
  ASSERT_TRUE(logger->waitForErr("Files Reopened", 5000)) << logger->err();
  ASSERT_TRUE(meter->waitFinished(15000));
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000));
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0);

  EXPECT_TRUE(areTailsOf(concat(fileLines(base + ".raw.1"), fileLines(base + ".raw")), {reference.lines(20)}));
  EXPECT_FALSE(fileLines(base + ".raw").empty());
  expectFilesAgree(base);
  EXPECT_EQ(fileLines(base + ".eng.1").size(), fileLines(base + ".raw.1").size() + 1);
  EXPECT_EQ(fileLines(base + ".csv.1").size(), fileLines(base + ".raw.1").size() + 1);
}

// Under systemd stderr is the journal (JOURNAL_STREAM names it): each line carries its
// priority before the same text; a stderr that JOURNAL_STREAM does not name gets none.
TEST(Log, LinesCarryTheirPriorityOnlyIntoTheJournal) {
  TempDir dir;
  const struct {
    const char* name;
    QStringList args;
    std::vector<std::string> lines;  // the start of each line
  } cases[] = {
      {"waiting for the port", logArgs(dir.file("none"), dir.file("out")), {"<6>Logging: ", "<4>Port Unavailable: "}},
      {"folder not made", logArgs(dir.file("none"), dir.file("file/out")), {"<3>maru log: cannot make the folder"}},
      {"bad argument", logArgs(dir.file("none"), dir.file("out"), {"--baud", "1"}), {"<3>maru log: ", "<3>"}},
  };
  writeFile(dir.file("file"), "");
  for (const auto& c : cases) {
    for (const bool journal : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (journal ? " (journal)" : " (a file)"));
      const std::string errPath = dir.file("err");
      writeFile(errPath, "");
      struct stat st {};
      ASSERT_EQ(::stat(errPath.c_str(), &st), 0);
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert("JOURNAL_STREAM", QString::number(st.st_dev) + ":" + QString::number(st.st_ino + (journal ? 0 : 1)));
      QProcess p;
      p.setProcessEnvironment(env);
      p.setStandardErrorFile(q(errPath));
      p.start(QString(MARU_TOOL), c.args);
      ASSERT_TRUE(p.waitForStarted());
      ASSERT_TRUE(waitUntil([&] { return countOf(readFile(errPath), "\n") >= static_cast<int>(c.lines.size()); }, 10000))
          << readFile(errPath);
      if (p.processId() > 0) ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
      ASSERT_TRUE(p.waitForFinished(10000));
      const std::vector<std::string> lines = testsupport::splitLines(readFile(errPath));
      ASSERT_EQ(lines.size(), c.lines.size()) << readFile(errPath);
      for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& want = c.lines[i];
        const std::string text = want.substr(3);  // without "<N>"
        EXPECT_EQ(lines[i].rfind(journal ? want : text, 0), 0u) << lines[i];
      }
    }
  }
}

struct BadDeviceCase {
  const char* name;
  const char* text;  // nullptr: no such file
};

class LogBadDeviceFile : public ::testing::TestWithParam<BadDeviceCase> {};

TEST_P(LogBadDeviceFile, ExitsWithStatus2AndTheMessage) {
  TempDir dir;
  const std::string dev = dir.file("meter.dev"), out = dir.file("out");
  if (GetParam().text) writeFile(dev, GetParam().text);
  QProcess p;
  p.start(QString(MARU_TOOL), {"log", "--port", "/dev/null", "--dev", q(dev), "--out", q(out)});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 2);
  const std::string err = p.readAllStandardError().toStdString();
  EXPECT_NE(err.find("Device File Error: "), std::string::npos) << err;
  EXPECT_NE(err.find(dev), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

INSTANTIATE_TEST_SUITE_P(Cases, LogBadDeviceFile,
                         ::testing::Values(BadDeviceCase{"missing", nullptr}, BadDeviceCase{"empty", ""},
                                           BadDeviceCase{"no_columns", "A meter\nColumns=0\n"},
                                           BadDeviceCase{"unknown_line", "A meter\nColumns=2\nCHL=1\nnonsense\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A tmpfs of `bytes` at `folder` while it lives: a disk that fills. Mounting needs root
// (CI has it); elsewhere the test that needs one is skipped.
class SmallDisk {
 public:
  SmallDisk(const std::string& folder, size_t bytes) : m_folder(folder) {
    std::filesystem::create_directories(folder);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    m_mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!m_mounted) m_why = std::strerror(errno);
  }
  ~SmallDisk() {
    if (m_mounted) ::umount2(m_folder.c_str(), MNT_DETACH);
  }
  bool mounted() const { return m_mounted; }
  const std::string& why() const { return m_why; }
  /// Fills what room is left with `name`.
  void fill(const std::string& name) {
    const int fd = ::open((m_folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }

 private:
  std::string m_folder, m_why;
  bool m_mounted = false;
};

// A disk that fills while a meter streams: each file keeps whole rows only, nothing is
// said to resume while the disk is still full, the MQTT state says why the recording
// stopped, and rows come again once there is room.
TEST(Log, AFullDiskLeavesWholeRowsAndResumesOnlyWhenARowIsWritten) {
  TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out"), base = out + "/20261208";
  SmallDisk disk(out, 256 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << "needs to mount a small tmpfs (root): " << disk.why();
  Broker broker;
  ASSERT_TRUE(broker.up());
  const std::string prefix = "site/disk/FLCD-1123";
  Subscriber states(broker, prefix + "/#");
  auto meter = startMaru(meterArgs(73, 20) + QStringList{"--link", q(link)});
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(link); }, 5000));
  auto logger = startMaru(logArgs(link, out, {"--mqtt", q("127.0.0.1:" + std::to_string(broker.port())),
                                              "--topic", "site", "--platform", "disk"}),
                          clockAt("2026-12-08T10:00:00.000Z"));
  ASSERT_TRUE(waitUntil([&] { return fileLines(base + ".csv").size() > 20; }, 10000));

  disk.fill("filler");
  ASSERT_TRUE(logger->waitForErr("Recording Stopped", 10000)) << logger->err();
  EXPECT_NE(logger->err().find(std::strerror(ENOSPC)), std::string::npos) << logger->err();
  ASSERT_TRUE(waitUntil([&] {
    const auto s = states.on(prefix + "/state");
    return !s.empty() && s.back().payload == "recording_stopped";
  }, 5000));
  EXPECT_NE(states.on(prefix + "/status").back().payload.find(std::strerror(ENOSPC)), std::string::npos);
  // Still full: rows keep failing, and nothing claims otherwise.
  testsupport::pumpEvents(2500);
  EXPECT_EQ(countOf(logger->err(), "Recording Resumed"), 0) << logger->err();
  const size_t rowsWhileFull = fileLines(base + ".csv").size();

  std::filesystem::remove(out + "/filler");
  ASSERT_TRUE(logger->waitForErr("Recording Resumed", 5000)) << logger->err();
  ASSERT_TRUE(waitUntil([&] { return fileLines(base + ".csv").size() > rowsWhileFull + 20; }, 10000));
  EXPECT_TRUE(waitUntil([&] { return states.on(prefix + "/state").back().payload == "online"; }, 5000));
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0);

  // Whole rows only: no row glued onto the part of another, in any of the three files.
  const std::regex rawLine(R"(\d\d/\d\d/\d\d\t\d\d:\d\d:\d\d(\t\d+){5})");
  for (const std::string& line : fileLines(base + ".raw")) EXPECT_TRUE(std::regex_match(line, rawLine)) << line;
  const std::vector<std::string> eng = fileLines(base + ".eng");
  for (size_t i = 1; i < eng.size(); ++i) EXPECT_EQ(split(eng[i], '\t').size(), 8u) << eng[i];
  const std::vector<std::string> csv = fileLines(base + ".csv");
  EXPECT_EQ(csv[0], kCsvHeader);
  const std::regex csvRow(R"((\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,){2}\d+(,[-0-9.]+){5})");
  for (size_t i = 1; i < csv.size(); ++i) EXPECT_TRUE(std::regex_match(csv[i], csvRow)) << csv[i];
}

// The pty's ends stay with the test: a child holding the master would keep the line up
// after the test hangs it up.
void keepFromChildren(const testsupport::PtyPeer& peer) {
  ::fcntl(peer.masterFd(), F_SETFD, FD_CLOEXEC);
  ::fcntl(peer.slaveFd(), F_SETFD, FD_CLOEXEC);
}

// With the meter played by the test: the commands on (re)opening, the no-data alarm and a
// mismatch warning.
TEST(Log, CommandsOnEachOpenAndTheNoDataAlarm) {
  TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out");
  auto peer = std::make_unique<testsupport::PtyPeer>();
  keepFromChildren(*peer);
  std::filesystem::create_symlink(peer->slavePath(), link);
  const std::string wire = dir.file("wire.log");
  auto logger = startMaru(
      logArgs(link, out, {"--start", "--set-clock-utc", "--no-data-alarm", "1", "--wire-log", q(wire)}),
      clockAt("2026-12-08T04:44:03.000Z"));
  std::string sent = peer->receive(5000, 200);
  EXPECT_TRUE(std::regex_match(sent, std::regex("\\$CLK 04440[3-9]\r\n\\$DAT 120826\r\n\\$run\r\n"))) << sent;

  ASSERT_TRUE(logger->waitForErr("No Data: ", 5000)) << logger->err();
  const std::string line = "12/08/26\t04:44:05\t223\t1384\t560\t3205\t2065";
  peer->send(line + "\r\n");
  ASSERT_TRUE(logger->waitForErr("Data Resumed: ", 5000)) << logger->err();
  EXPECT_LT(logger->err().find("No Data: "), logger->err().find("Data Resumed: "));

  // Another meter's lines, with more columns than the device file's: each still goes
  // into .raw as received, one warning names both counts, and none tells of lost line
  // ends. The next line that fits is logged in full.
  const std::string other = "12/08/26\t04:44:06\t1\t2\t3\t4\t5\t6";
  for (int i = 0; i < 12; ++i) peer->send(other + "\r\n");
  ASSERT_TRUE(logger->waitForErr("Possible Mis-Match between Device File and Meter: ", 5000)) << logger->err();
  const std::string next = "12/08/26\t04:44:07\t224\t1385\t560\t3205\t2065";
  peer->send(next + "\r\n");
  EXPECT_TRUE(waitUntil([&] { return fileLines(out + "/20261208.raw").size() == 14; }, 5000));
  std::string raw = line + "\r\n";
  for (int i = 0; i < 12; ++i) raw += other + "\r\n";
  EXPECT_EQ(readFile(out + "/20261208.raw"), raw + next + "\r\n");
  EXPECT_EQ(fileLines(out + "/20261208.csv").size(), 3u);  // the header and the two that fit
  EXPECT_EQ(countOf(logger->err(), "Mis-Match"), 1) << logger->err();
  EXPECT_NE(logger->err().find("Columns found 8 != Columns Expected 7"), std::string::npos) << logger->err();
  EXPECT_EQ(countOf(logger->err(), "Lines Lost"), 0) << logger->err();

  // Unplugged: the link now leads to another meter, which gets the same commands.
  peer->hangUp();
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000)) << logger->err();
  auto replugged = std::make_unique<testsupport::PtyPeer>();
  keepFromChildren(*replugged);
  std::filesystem::remove(link);
  std::filesystem::create_symlink(replugged->slavePath(), link);
  sent = replugged->receive(5000, 200);
  EXPECT_TRUE(std::regex_match(sent, std::regex("\\$CLK 0444[0-5][0-9]\r\n\\$DAT 120826\r\n\\$run\r\n"))) << sent;
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0);
  // The wire log has both openings' commands, stamped with the host's time.
  const std::string log = readFile(wire);
  EXPECT_EQ(countOf(log, " > $run"), 2) << log;
  EXPECT_EQ(countOf(log, " > $DAT 120826"), 2) << log;
}

}  // namespace
