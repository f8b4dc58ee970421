// Memory transfer from the virtual meter through the acquisition session, at the window's
// 55 ms tick, against the time the serial line itself needs for the same bytes.
//   bench_transfer [--bytes N] [--baud B] [--seed S]
// N is the meter's logged memory (default the full 1,081,080 bytes), B the line speed
// (default 38400). The line's time is the bytes received x 10 bits / B. Prints both
// times and their ratio; exits 1 when the file differs from the meter's memory plus
// "etx" or the transfer did not complete, 0 otherwise.
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "acquire/session.h"
#include "link/meterprotocol.h"
#include "sim/metermodel.h"
#include "sim/simoptions.h"

namespace {

using Clock = std::chrono::steady_clock;

// The session's warnings on the console.
struct ConsoleListener : acquire::Listener {
  void warning(const std::string& caption, const std::string& text) override {
    std::fprintf(stderr, "warning: %s: %s\n", caption.c_str(), text.c_str());
  }
};

bool knownBaud(int baud) { return baud == 4800 || baud == 9600 || baud == 19200 || baud == 38400; }

std::string readWhole(const std::string& path) {
  std::string bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  long bytes = 1081080;
  int baud = 38400;
  std::string seed = "1";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--bytes" && i + 1 < argc)
      bytes = std::strtol(argv[++i], nullptr, 10);
    else if (a == "--baud" && i + 1 < argc)
      baud = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
    else if (a == "--seed" && i + 1 < argc)
      seed = argv[++i];
    else {
      std::fprintf(stderr, "usage: bench_transfer [--bytes N] [--baud 4800|9600|19200|38400] [--seed S]\n");
      return 2;
    }
  }
  if (!knownBaud(baud) || bytes < 0 || bytes > 1081080) {
    std::fprintf(stderr, "bench_transfer: bytes 0..1081080, baud 4800, 9600, 19200 or 38400\n");
    return 2;
  }

  // The meter's options; the same ones give the expected memory without a pty.
  const std::vector<std::string> simArgs{"--stopped", "--baud", std::to_string(baud), "--seed", seed,
                                         "--start-time", "05/14/24 11:02:00", "--memory-bytes", std::to_string(bytes)};
  sim::SimOptions simOptions;
  std::string error;
  if (!sim::parseSimArgs(simArgs, simOptions, error)) {
    std::fprintf(stderr, "bench_transfer: %s\n", error.c_str());
    return 2;
  }
  const std::string expected = sim::MeterModel(simOptions.model).memory() + "etx";

  QStringList simArguments{"sim"};
  for (const auto& a : simArgs) simArguments << QString::fromStdString(a);
  QProcess meter;
  meter.start(QString::fromUtf8(MARU_TOOL), simArguments);
  if (!meter.waitForStarted(5000)) {
    std::fprintf(stderr, "bench_transfer: cannot start %s\n", MARU_TOOL);
    return 1;
  }
  while (!meter.canReadLine() && meter.waitForReadyRead(5000)) {
  }
  const std::string ptyPath = QString::fromUtf8(meter.readLine()).trimmed().toStdString();
  if (ptyPath.empty()) {
    std::fprintf(stderr, "bench_transfer: maru sim printed no device path\n");
    return 1;
  }

  const std::string workDir = QDir::tempPath().toStdString();
  const std::string out = workDir + "/bench_transfer_" + std::to_string(QCoreApplication::applicationPid()) + ".raw";
  meterlink::MeterState state;
  ConsoleListener listener;
  acquire::Session session(state, listener);
  // The device file that matches the meter's columns, so that its replies (memory use
  // among them) are understood.
  state.config.setStartupDefaults();
  const std::string dev = std::string(MARU_SOURCE_DIR) + "/examples/bb3.dev";
  if (session.loadDeviceFile(dev) != acquire::Session::Load::Loaded) return 1;
  session.setRules(true, false, false);
  if (session.openPort(ptyPath, baud) != meterlink::SerialPort::OpenResult::Ok) return 1;
  session.send(meterlink::cmd::kMenu);

  // The window's timers. The transfer starts once the meter told its memory use (the
  // progress's maximum), or after 3 s.
  Clock::time_point opened = Clock::now(), started{}, firstByte{}, finished{};
  bool asked = false;
  int lastPercent = -1;
  QTimer tick55, tick1s;
  QObject::connect(&tick1s, &QTimer::timeout, [&] { session.everySecond(); });
  QObject::connect(&tick55, &QTimer::timeout, [&] {
    session.takeInput(std::chrono::milliseconds(25));
    const auto now = Clock::now();
    if (!asked) {
      if (state.meter.MeterMemoryUsed >= 0 || now - opened > std::chrono::seconds(3)) {
        asked = true;
        started = Clock::now();
        if (!session.startTransfer(out)) QCoreApplication::exit(1);
      }
      return;
    }
    if (firstByte == Clock::time_point{} && session.transfer().progress().current > 0) firstByte = now;
    const int percent = session.transfer().percent();
    if (percent / 10 != lastPercent / 10) {
      std::fprintf(stderr, "  %3d %%  %ld bytes  %.1f s\n", percent, session.transfer().progress().current, seconds(now - started));
      lastPercent = percent;
    }
    if (!session.transfer().active()) {
      finished = now;
      QCoreApplication::quit();
    }
  });
  tick55.start(55);
  tick1s.start(1000);
  QCoreApplication::exec();
  tick55.stop();
  tick1s.stop();
  meter.terminate();
  meter.waitForFinished(3000);

  const std::string file = readWhole(out);
  std::remove(out.c_str());
  const bool complete = session.transfer().status() == acquire::MemoryTransfer::Status::Complete;
  // The CR LF after the marker is in the file only when it came in the marker's read.
  const bool identical = file.compare(0, expected.size(), expected) == 0 &&
                         (file.size() == expected.size() || file.substr(expected.size()) == "\r" ||
                          file.substr(expected.size()) == "\r\n");
  const double transferSeconds = seconds(finished - started);
  const double lineSeconds = static_cast<double>(file.size()) * 10.0 / baud;
  const double ratio = lineSeconds > 0 ? transferSeconds / lineSeconds : 0.0;
  std::printf("meter memory        %ld bytes at %d baud\n", bytes, baud);
  std::printf("received            %zu bytes, status %d (%s), file %s\n", file.size(), static_cast<int>(session.transfer().status()),
              complete ? "Complete" : "not complete", identical ? "identical to memory + etx" : "DIFFERS");
  std::printf("line time           %.3f s  (bytes x 10 bits / baud)\n", lineSeconds);
  std::printf("transfer time       %.3f s  (Receive Data to the end marker)\n", transferSeconds);
  std::printf("first byte after    %.3f s\n", seconds(firstByte - started));
  std::printf("ratio               %.4f  (target <= 1.05: %s)\n", ratio, ratio <= 1.05 ? "met" : "NOT met");
  return complete && identical ? 0 : 1;
}
