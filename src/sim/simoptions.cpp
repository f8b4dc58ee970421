#include "sim/simoptions.h"

#include <algorithm>

#include "sim/helpformatter.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace sim {

namespace {

template <typename T>
bool parseInteger(const std::string& text, T lo, T hi, T& out) {
  T v{};
  const char* end = text.data() + text.size();
  auto r = std::from_chars(text.data(), end, v);
  if (text.empty() || r.ec != std::errc() || r.ptr != end || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool parseSeconds(const std::string& text, double lo, double hi, double& out) {
  double v = 0;
  const char* end = text.data() + text.size();
  auto r = std::from_chars(text.data(), end, v);
  if (text.empty() || r.ec != std::errc() || r.ptr != end || !std::isfinite(v) || v < lo || v > hi)
    return false;
  out = v;
  return true;
}

}  // namespace

bool parseStartTime(const std::string& text, CivilTime& out) {
  // MM/DD/YY HH:MM:SS, exactly.
  if (text.size() != 17 || text[2] != '/' || text[5] != '/' || text[8] != ' ' || text[11] != ':' ||
      text[14] != ':')
    return false;
  int n[6];
  for (int i = 0; i < 6; ++i) {
    const char a = text[static_cast<size_t>(i * 3)], b = text[static_cast<size_t>(i * 3 + 1)];
    if (a < '0' || a > '9' || b < '0' || b > '9') return false;
    n[i] = (a - '0') * 10 + (b - '0');
  }
  const CivilTime t{2000 + n[2], n[0], n[1], n[3], n[4], n[5]};
  if (!isValid(t)) return false;
  out = t;
  return true;
}

namespace {

// An option whose value is read with one of the strict readers above; CLI11 reports a
// value they refuse as "--name: bad value '...'".
template <typename Read>
CLI::Option* addValue(CLI::App& app, const std::string& name, const std::string& typeName, Read read,
                      const std::string& help) {
  return app
      .add_option_function<std::string>(
          name,
          [name, read](const std::string& value) {
            if (!read(value)) throw CLI::ValidationError(name, "bad value '" + value + "'");
          },
          help)
      ->type_name(typeName);
}

// The options of `maru sim`, bound to `o`. The help text is generated from this one table.
void defineOptions(CLI::App& app, SimOptions& o) {
  app.description(
      "Plays a virtual meter on a new pseudo-terminal. The first line of output is the\n"
      "device path to open (e.g. /dev/pts/7); the meter then runs until it gets SIGTERM,\n"
      "SIGINT or SIGHUP (or its parent ends). Like a real meter it streams data lines from\n"
      "power-on and answers the setup commands; output is paced at the baud rate\n"
      "(10 bits a byte).");
  app.formatter(std::make_shared<sim::HelpFormatter>());
  app.set_help_flag("-h,--help", "print this help and exit");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

  addValue(app, "--dev", "FILE", [&o](const std::string& v) { return !v.empty() && (o.deviceFile = v, true); },
           "data-line columns from this device file (default: date,\n"
           "time, three backscatter signals with references, iTemp)");
  addValue(app, "--baud", "N",
           [&o](const std::string& v) {
             // Only the speeds a serial line has (the termios rates).
             static const int kRates[] = {50,     75,     110,     134,     150,     200,     300,     600,
                                          1200,   1800,   2400,    4800,    9600,    19200,   38400,   57600,
                                          115200, 230400, 460800,  500000,  576000,  921600,  1000000, 1152000,
                                          1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
             int rate = 0;
             return parseInteger(v, 50, 4'000'000, rate) && std::find(std::begin(kRates), std::end(kRates), rate) !=
                                                                   std::end(kRates) && (o.model.baud = rate, true);
           },
           "line speed, one of the serial rates: 4800, 9600, 19200 (default), 38400, 57600,\n"
           "115200, ... (50 to 4000000)");
  addValue(app, "--rate", "HZ", [&o](const std::string& v) { return parseSeconds(v, 0.001, 1000.0, o.model.rateHz); },
           "fixed data-line rate (default: 30 / averaging, at most 8)");
  addValue(app, "--seed", "N",
           [&o](const std::string& v) { return parseInteger<uint32_t>(v, 0, UINT32_MAX, o.model.seed); },
           "noise seed, default 1; the same seed gives the same bytes");
  addValue(app, "--start-time", "'MM/DD/YY HH:MM:SS'",
           [&o](const std::string& v) { return parseStartTime(v, o.model.clockStart) && (o.startTimeGiven = true); },
           "meter clock at start (default: the host's local time)");
  app.add_flag_callback("--stopped", [&o] { o.model.runAtPowerOn = false; },
                        "do not stream at power-on; wait for \"$run\"")
      ->disable_flag_override();
  addValue(app, "--memory", "PAGES",
           [&o](const std::string& v) {
             int pages = 0;
             if (!parseInteger(v, 0, MeterModel::kPages, pages)) return false;
             o.model.memoryBytes = static_cast<size_t>(pages) * MeterModel::kPageBytes;
             return true;
           },
           "logged memory at start, in pages of 264 bytes (0-4095)");
  addValue(app, "--memory-bytes", "N",
           [&o](const std::string& v) {
             return parseInteger<size_t>(v, 0, MeterModel::kMemoryBytes, o.model.memoryBytes);
           },
           "logged memory at start, in bytes (0-1081080)");
  addValue(app, "--link", "PATH", [&o](const std::string& v) { return !v.empty() && (o.linkPath = v, true); },
           "also name the pseudo-terminal PATH: a symbolic link to it,\n"
           "removed when the meter ends (a stop signal, a hang-up or an\n"
           "error; SIGKILL leaves it). A symbolic link already at PATH\n"
           "is replaced; anything else there is refused (exit status 2)");

  const std::string faults = "Faults, for tests of the receiving side";
  const auto fault = [&](const char* name, bool& target, const char* help) {
    app.add_flag(name, target, help)->disable_flag_override()->group(faults);
  };
  fault("--fault-long-line", o.model.faults.longLine, "now and then a line longer than 250 characters");
  fault("--fault-garbage", o.model.faults.garbage, "now and then random bytes (NUL, 0xFF, ...) before a line");
  fault("--fault-columns", o.model.faults.wrongColumns, "now and then a line with a wrong number of fields");
  fault("--fault-no-etx", o.model.faults.noEtx, "a memory dump ends without \"etx\"");
  addValue(app, "--hangup-after", "SECS",
           [&o](const std::string& v) { return parseSeconds(v, 0.001, 1e6, o.hangupAfterSeconds); },
           "close the line after SECS seconds (a hang-up), then exit")
      ->group(faults);

  app.footer(
      "Commands the meter understands (any case, \"=\" or a blank before the value):\n"
      "  $run  !!!!!  $mnu  $par  $sto  $rls  $REC 0|1  $AVE n  $PKT n  $SET n\n"
      "  $INT hhmmss  $CLK hhmmss  $DAT mmddyy  $emc  $get  $mvs 0|1  $01n n  $01f n\n"
      "  $11n n  $11f n  $swp  $one  $hex PAGE (1-4095)  $ASV 1|2|4  $ugl n  $off n  $cal 0|1\n"
      "\n"
      "Exit status: 0 after a stop signal or a hang-up; 1 when no pseudo-terminal could be\n"
      "had; 2 bad arguments, a device file that does not load, or --link refused.");
}

}  // namespace

const char* simUsage() {
  static const std::string text = [] {
    CLI::App app{"", "maru sim"};
    SimOptions scratch;
    defineOptions(app, scratch);
    return app.help();
  }();
  return text.c_str();
}

bool parseSimArgs(const std::vector<std::string>& args, SimOptions& o, std::string& error) {
  CLI::App app{"", "maru sim"};
  defineOptions(app, o);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    o.help = true;
    return true;
  } catch (const CLI::ParseError& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace sim
