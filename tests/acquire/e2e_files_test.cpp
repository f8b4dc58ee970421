// Recording and memory transfer end to end, without a window: a session on the virtual
// meter (`maru sim` on its own pseudo-terminal), checked against `maru convert` and against
// what the meter sends to a plain reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "acquire/recordings.h"
#include "acquire/session.h"
#include "support/ptypeer.h"
#include "support/simprocess.h"
#include "support/testfiles.h"

using testsupport::readFile;
using testsupport::SimProcess;

namespace {

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    if (at == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
}

/// Sends "$get" on the meter's line as a plain reader and returns every byte up to and
/// including "etx\r\n" (or what came within `timeoutMs`).
std::string dumpWithPlainReader(const std::string& path, int timeoutMs) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return {};
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  const std::string command = "$get\r\n";
  std::string got;
  if (::write(fd, command.data(), command.size()) == static_cast<ssize_t>(command.size())) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < end) {
      if (got.size() >= 5 && got.compare(got.size() - 5, 5, "etx\r\n") == 0) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return got;
}

struct Heard : acquire::Listener {
  std::vector<std::string> lines, warnings;
  void line(const meterlink::Line& line) override { lines.emplace_back(line.text); }
  void warning(const std::string& caption, const std::string& text) override { warnings.push_back(caption + ": " + text); }
};

// A session on the virtual meter at 38400 baud, taking its input on 55 ms ticks as the window does.
struct EndToEnd {
  explicit EndToEnd(const SimProcess& sim) : session(state, heard), recordings(heard) {
    EXPECT_FALSE(sim.path().empty()) << "maru sim did not start";
    EXPECT_EQ(session.openPort(sim.path(), 38400), meterlink::SerialPort::OpenResult::Ok);
    session.addSink(&recordings);
  }
  bool tickUntil(const std::function<bool()>& done, int limit, int settleMs) {
    for (int i = 0; i < limit && !done(); ++i) {
      testsupport::pumpEvents(settleMs);
      session.takeInput(std::chrono::milliseconds(25));
    }
    return done();
  }
  meterlink::MeterState state;
  Heard heard;
  acquire::Session session;
  acquire::Recordings recordings;
  testsupport::TempDir dir;
};

const QString kStart = "05/14/24 11:02:00";

TEST(EndToEnd, RawFileHoldsTheAcceptedLinesAndEngrFileEqualsConvertOfIt) {
  const std::string dev = std::string(MARU_SOURCE_DIR) + "/examples/flcd.dev";
  SimProcess sim({"--dev", QString::fromStdString(dev), "--baud", "38400", "--rate", "20", "--seed", "5",
                  "--fault-columns", "--start-time", kStart});
  EndToEnd rig(sim);
  ASSERT_EQ(rig.session.loadDeviceFile(dev), acquire::Session::Load::Loaded);
  rig.session.setRules(true, false, false);
  const auto& counter = rig.state.sample.SampleCounter;
  // Some lines first, so that the running sample count is past its start.
  ASSERT_TRUE(rig.tickUntil([&] { return counter >= 5; }, 400, 10));

  const std::string raw = rig.dir.file("live.raw"), eng = rig.dir.file("live.eng");
  ASSERT_TRUE(rig.recordings.start(acquire::Recordings::Stream::Raw, raw));
  ASSERT_TRUE(rig.recordings.start(acquire::Recordings::Stream::Engr, eng));
  const long countAtStart = static_cast<long>(counter);
  const size_t linesAtStart = rig.heard.lines.size();
  ASSERT_TRUE(rig.tickUntil([&] { return counter >= countAtStart + 20; }, 400, 10));
  rig.session.send(meterlink::cmd::kMenu);  // the meter's menu arrives among the data lines
  ASSERT_TRUE(rig.tickUntil([&] { return counter >= countAtStart + 45; }, 400, 10));
  rig.recordings.stopAll();

  // Every line listed while recording: those with the device file's seven fields are
  // data; replies and the meter's wrong-column lines must not be in the raw file.
  std::string expected;
  size_t dataLines = 0, otherLines = 0;
  const auto& memo = rig.heard.lines;
  for (size_t i = linesAtStart; i < memo.size(); ++i) {
    if (split(memo[i], "\t").size() == 7) {
      expected += memo[i] + "\r\n";
      ++dataLines;
    } else {
      ++otherLines;
    }
  }
  ASSERT_GE(dataLines, 45u);
  ASSERT_GE(otherLines, 1u) << "no reply or faulty line came while recording";
  EXPECT_EQ(readFile(raw), expected);
  EXPECT_EQ(rig.recordings.bytes(acquire::Recordings::Stream::Raw), static_cast<long>(expected.size()));

  // The same raw file converted headless gives the same file, except that its Count
  // starts at 0 where the program's continues its running count.
  const std::string converted = rig.dir.file("converted.eng");
  ASSERT_EQ(QProcess::execute(QString::fromUtf8(MARU_TOOL),
                              {"convert", "--dev", QString::fromStdString(dev), QString::fromStdString(raw), "-o",
                               QString::fromStdString(converted)}),
            0);
  const std::vector<std::string> live = split(readFile(eng), "\r\n");
  const std::vector<std::string> conv = split(readFile(converted), "\r\n");
  ASSERT_EQ(live.size(), dataLines + 2);  // header, the lines, and nothing after the last CR LF
  ASSERT_EQ(conv.size(), live.size());
  EXPECT_EQ(live.front(), conv.front());
  EXPECT_EQ(live.back(), "");
  EXPECT_EQ(conv.back(), "");
  for (size_t i = 1; i + 1 < live.size(); ++i) {
    std::vector<std::string> a = split(live[i], "\t"), b = split(conv[i], "\t");
    ASSERT_EQ(a.size(), 8u) << live[i];
    ASSERT_EQ(b.size(), 8u) << conv[i];
    EXPECT_EQ(a[0], std::to_string(countAtStart + static_cast<long>(i) - 1)) << "line " << i;
    EXPECT_EQ(b[0], std::to_string(i - 1)) << "line " << i;
    a.erase(a.begin());
    b.erase(b.begin());
    EXPECT_EQ(a, b) << "line " << i;
  }
}

TEST(EndToEnd, TransferOfAPartlyFilledMemoryIsByteIdentical) {
  const int memoryBytes = 24000;
  const QStringList meter{"--stopped", "--seed", "3", "--start-time", kStart, "--memory-bytes",
                          QString::number(memoryBytes)};
  // What this meter's memory holds, read from a twin at a faster line.
  std::string oracle;
  {
    SimProcess twin(meter + QStringList{"--baud", "460800"});
    ASSERT_FALSE(twin.path().empty());
    oracle = dumpWithPlainReader(twin.path(), 10000);
  }
  ASSERT_EQ(oracle.size(), static_cast<size_t>(memoryBytes) + 5);
  ASSERT_EQ(oracle.substr(oracle.size() - 5), "etx\r\n");

  SimProcess sim(meter + QStringList{"--baud", "38400"});
  EndToEnd rig(sim);
  const std::string path = rig.dir.file("memory.raw");
  rig.tickUntil([] { return false; }, 2, 30);  // the line seen quiet: "$get" goes out at once
  ASSERT_TRUE(rig.session.startTransfer(path));
  ASSERT_TRUE(rig.session.transfer().active());
  // 55 ms ticks as in the program; the line needs about 6.3 s.
  ASSERT_TRUE(rig.tickUntil([&] { return !rig.session.transfer().active(); }, 600, 55));
  EXPECT_EQ(rig.session.transfer().status(), acquire::MemoryTransfer::Status::Complete);
  EXPECT_TRUE(rig.heard.warnings.empty());
  const std::string file = readFile(path);
  // The CR LF after the marker is in the file when it came in the marker's read.
  ASSERT_GE(file.size(), static_cast<size_t>(memoryBytes) + 3);
  ASSERT_LE(file.size(), oracle.size());
  EXPECT_EQ(file, oracle.substr(0, file.size()));
  EXPECT_EQ(rig.session.transfer().progress().current, static_cast<long>(file.size()));
  EXPECT_TRUE(rig.heard.lines.empty());  // nothing went to the framer
}

}  // namespace
