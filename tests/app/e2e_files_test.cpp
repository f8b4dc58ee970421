// Recording and memory transfer end to end: the main form on the virtual meter
// (`maru sim` on its own pseudo-terminal), checked against `maru convert` and against
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

#include "formaccess.h"
#include "formfixture.h"

using testsupport::FormFixture;
using testsupport::readFile;

namespace {

/// `maru sim` with the given options; stopped (SIGTERM to its own process) when the
/// object goes away.
class SimProcess {
 public:
  explicit SimProcess(const QStringList& options) {
    m_process.setProgram(QString::fromUtf8(MARU_TOOL));
    m_process.setArguments(QStringList{"sim"} + options);
    m_process.start();
    if (!m_process.waitForStarted(5000)) return;
    while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) {
    }
    m_path = QString::fromUtf8(m_process.readLine()).trimmed().toStdString();
  }
  ~SimProcess() {
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
      m_process.kill();
      m_process.waitForFinished(3000);
    }
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  const std::string& path() const { return m_path; }

 private:
  QProcess m_process;
  std::string m_path;
};

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

class EndToEnd : public FormFixture {
 protected:
  void configure(app::MainFormOptions& options) override {
    if (!m_simPath.empty()) options.ports.bind(2, m_simPath);
  }
  /// A new form whose host-port item 2 is the virtual meter, opened at 38400 baud.
  void connectTo(const SimProcess& sim) {
    ASSERT_FALSE(sim.path().empty()) << "maru sim did not start";
    m_simPath = sim.path();
    makeForm();
    tick();  // start-up defaults
    choosePort(2, 3);
    ASSERT_EQ(form->shared().OpenPortNumber, 2);
    testsupport::editState(*form).SetupRequestTicks = 0;
  }
  bool tickUntil(const std::function<bool()>& done, int limit, int settleMs) {
    for (int i = 0; i < limit && !done(); ++i) tick(settleMs);
    return done();
  }

  std::string m_simPath;
};

const QString kStart = "05/14/24 11:02:00";

TEST_F(EndToEnd, RawFileHoldsTheAcceptedLinesAndEngrFileEqualsConvertOfIt) {
  const std::string dev = std::string(MARU_SOURCE_DIR) + "/examples/flcd.dev";
  SimProcess sim({"--dev", QString::fromStdString(dev), "--baud", "38400", "--rate", "20", "--seed", "5",
                  "--fault-columns", "--start-time", kStart});
  connectTo(sim);
  loadExample("flcd.dev");
  // Some lines first, so that the running sample count is past its start.
  ASSERT_TRUE(tickUntil([&] { return form->shared().Sample.SampleCounter >= 5; }, 400, 10));

  const std::string raw = dir.file("live.raw"), eng = dir.file("live.eng");
  ui.files.push_back(raw);
  form->click("BTRecordRaw");
  ui.files.push_back(eng);
  form->click("BTRecordEngr");
  ASSERT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Raw) && form->files().recordings().on(acquire::Recordings::Stream::Engr));
  const long countAtStart = static_cast<long>(form->shared().Sample.SampleCounter);
  const uint64_t memoAtStart = form->view().memoTotal();
  ASSERT_TRUE(tickUntil([&] { return form->shared().Sample.SampleCounter >= countAtStart + 20; }, 400, 10));
  form->setup().BTGetSetupClick();  // the meter's menu arrives among the data lines
  ASSERT_TRUE(tickUntil([&] { return form->shared().Sample.SampleCounter >= countAtStart + 45; }, 400, 10));
  form->click("BTStopRecord");
  const uint64_t listed = form->view().memoTotal() - memoAtStart;
  ASSERT_LE(listed, form->view().memoLines().size());

  // Every line listed while recording: those with the device file's seven fields are
  // data; replies and the meter's wrong-column lines must not be in the raw file.
  std::string expected;
  size_t dataLines = 0, otherLines = 0;
  const auto& memo = form->view().memoLines();
  for (size_t i = memo.size() - listed; i < memo.size(); ++i) {
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
  EXPECT_EQ(form->files().recordings().bytes(acquire::Recordings::Stream::Raw), static_cast<long>(expected.size()));

  // The same raw file converted headless gives the same file, except that its Count
  // starts at 0 where the program's continues its running count.
  const std::string converted = dir.file("converted.eng");
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

TEST_F(EndToEnd, TransferOfAPartlyFilledMemoryIsByteIdentical) {
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
  connectTo(sim);
  const std::string path = dir.file("memory.raw");
  ui.files.push_back(path);
  form->click("BTGetData");
  ASSERT_TRUE(form->session().transfer().active());
  // 55 ms ticks as in the program; the line needs about 6.3 s.
  ASSERT_TRUE(tickUntil([&] { return !form->session().transfer().active(); }, 600, 55));
  EXPECT_EQ(static_cast<int>(form->session().transfer().status()), 2);
  EXPECT_TRUE(ui.boxes.empty());
  const std::string file = readFile(path);
  // The CR LF after the marker is in the file when it came in the marker's read.
  ASSERT_GE(file.size(), static_cast<size_t>(memoryBytes) + 3);
  ASSERT_LE(file.size(), oracle.size());
  EXPECT_EQ(file, oracle.substr(0, file.size()));
  EXPECT_EQ(form->session().transfer().progress().current, static_cast<long>(file.size()));
  EXPECT_EQ(form->view().memoTotal(), 0u);  // nothing went to the line receiver
}

}  // namespace
