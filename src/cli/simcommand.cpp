// `maru sim`: a virtual meter on a new pseudo-terminal.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "measure/deviceconfig.h"
#include "measure/devicefile.h"
#include "sim/metermodel.h"
#include "sim/pathlink.h"
#include "sim/ptymeter.h"
#include "sim/helpformatter.h"
#include "sim/simoptions.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) { g_stop = 1; }

void installSignals() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: poll() returns at once and the loop sees the flag
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

sim::CivilTime localNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59)};
}

}  // namespace

int simMain(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  sim::SimOptions options;
  std::string error;
  if (!sim::parseSimArgs(args, options, error)) {
    std::fputs(sim::badArgumentText("maru sim", error).c_str(), stderr);
    return 2;
  }
  if (options.help) {
    std::fputs(sim::simUsage(), stdout);
    return 0;
  }

  if (!options.deviceFile.empty()) {
    measure::DeviceConfig config;
    std::string messages;
    bool opened = false;
    std::string readError;
    const bool ok = measure::LoadDeviceFile(
        options.deviceFile, config,
        [&](const std::string& caption, const std::string& text) { messages += caption + ": " + text + "\n"; },
        &opened, &readError);
    if (!opened) {
      std::fprintf(stderr, "maru sim: cannot open device file '%s'\n", options.deviceFile.c_str());
      return 2;
    }
    if (!readError.empty()) {
      std::fprintf(stderr, "maru sim: %s\n", readError.c_str());
      return 2;
    }
    if (!ok || config.DataFieldCount <= 0) {
      std::fprintf(stderr, "maru sim: invalid device file '%s'\n%s", options.deviceFile.c_str(),
                   messages.empty() ? "it describes no columns\n" : messages.c_str());
      return 2;
    }
    options.model.columns = sim::columnsFromConfig(config);
    options.model.scattering = sim::scatteringFromConfig(config);
  }
  if (!options.startTimeGiven) options.model.clockStart = localNow();

#if defined(__linux__)
  // A demo meter started by the program must not outlive it.
  const pid_t parent = getppid();
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) return 0;
#endif
  installSignals();

  sim::MeterModel model(options.model);
  sim::PtyMeter pty(model);
  if (!pty.open(error)) {
    std::fprintf(stderr, "maru sim: %s\n", error.c_str());
    return 1;
  }
  // The stable name, made before the path is announced and removed on the way out
  // (after a stop signal, a hang-up or an error alike, since all of them return here).
  sim::PathLink link;
  if (!options.linkPath.empty()) {
    const auto made = link.create(options.linkPath, pty.slavePath(), error);
    if (made != sim::PathLink::Result::Ok) {
      std::fprintf(stderr, "maru sim: %s\n", error.c_str());
      return made == sim::PathLink::Result::Occupied ? 2 : 1;
    }
  }
  std::printf("%s\n", pty.slavePath().c_str());
  std::fflush(stdout);
  return pty.run(g_stop, options.hangupAfterSeconds);
}
