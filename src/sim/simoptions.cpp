#include "sim/simoptions.h"

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

const char* simUsage() {
  return "usage: maru sim [options]\n"
         "\n"
         "Plays a virtual meter on a new pseudo-terminal. The first line of output is the\n"
         "device path to open (e.g. /dev/pts/7); the meter then runs until it gets SIGTERM,\n"
         "SIGINT or SIGHUP (or its parent ends). Like a real meter it streams data lines from\n"
         "power-on and answers the setup commands; output is paced at the baud rate\n"
         "(10 bits a byte).\n"
         "\n"
         "options:\n"
         "  --dev FILE            data-line columns from this device file (default: date,\n"
         "                        time, three backscatter signals with references, iTemp)\n"
         "  --baud N              line speed, default 19200 (4800, 9600, 19200, 38400, ...)\n"
         "  --rate HZ             fixed data-line rate (default: 30 / averaging, at most 8)\n"
         "  --seed N              noise seed, default 1; the same seed gives the same bytes\n"
         "  --start-time 'MM/DD/YY HH:MM:SS'\n"
         "                        meter clock at start (default: the host's local time)\n"
         "  --stopped             do not stream at power-on; wait for \"$run\"\n"
         "  --memory PAGES        logged memory at start, in pages of 264 bytes (0-4095)\n"
         "  --memory-bytes N      logged memory at start, in bytes (0-1081080)\n"
         "  --link PATH           also name the pseudo-terminal PATH: a symbolic link to it,\n"
         "                        removed when the meter ends (a stop signal, a hang-up or an\n"
         "                        error; SIGKILL leaves it). A symbolic link already at PATH\n"
         "                        is replaced; anything else there is refused (exit status 2)\n"
         "\n"
         "faults, for tests of the receiving side:\n"
         "  --fault-long-line     now and then a line longer than 250 characters\n"
         "  --fault-garbage       now and then random bytes (NUL, 0xFF, ...) before a line\n"
         "  --fault-columns       now and then a line with a wrong number of fields\n"
         "  --fault-no-etx        a memory dump ends without \"etx\"\n"
         "  --hangup-after SECS   close the line after SECS seconds (a hang-up), then exit\n"
         "\n"
         "Commands the meter understands (any case, \"=\" or a blank before the value):\n"
         "  $run  !!!!!  $mnu  $par  $sto  $rls  $REC 0|1  $AVE n  $PKT n  $SET n\n"
         "  $INT hhmmss  $CLK hhmmss  $DAT mmddyy  $emc  $get  $mvs 0|1  $01n n  $01f n\n"
         "  $11n n  $11f n  $swp  $one  $hex PAGE (1-4095)  $ASV 1|2|4  $ugl n  $off n  $cal 0|1\n";
}

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

bool parseSimArgs(const std::vector<std::string>& args, SimOptions& o, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    const auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    const auto bad = [&]() {
      error = "bad value for " + name + ": '" + value + "'";
      return false;
    };
    const auto flag = [&](bool& target) {
      if (hasValue) {
        error = "option " + name + " takes no value";
        return false;
      }
      target = true;
      return true;
    };

    if (name == "--help" || name == "-h") {
      o.help = true;
    } else if (name == "--dev") {
      if (!takeValue()) return false;
      if (value.empty()) return bad();
      o.deviceFile = value;
    } else if (name == "--baud") {
      if (!takeValue()) return false;
      if (!parseInteger(value, 50, 4'000'000, o.model.baud)) return bad();
    } else if (name == "--rate") {
      if (!takeValue()) return false;
      if (!parseSeconds(value, 0.001, 1000.0, o.model.rateHz)) return bad();
    } else if (name == "--seed") {
      if (!takeValue()) return false;
      if (!parseInteger<uint32_t>(value, 0, UINT32_MAX, o.model.seed)) return bad();
    } else if (name == "--start-time") {
      if (!takeValue()) return false;
      if (!parseStartTime(value, o.model.clockStart)) return bad();
      o.startTimeGiven = true;
    } else if (name == "--stopped") {
      bool stopped = false;
      if (!flag(stopped)) return false;
      o.model.runAtPowerOn = false;
    } else if (name == "--memory") {
      if (!takeValue()) return false;
      int pages = 0;
      if (!parseInteger(value, 0, MeterModel::kPages, pages)) return bad();
      o.model.memoryBytes = static_cast<size_t>(pages) * MeterModel::kPageBytes;
    } else if (name == "--memory-bytes") {
      if (!takeValue()) return false;
      if (!parseInteger<size_t>(value, 0, MeterModel::kMemoryBytes, o.model.memoryBytes)) return bad();
    } else if (name == "--fault-long-line") {
      if (!flag(o.model.faults.longLine)) return false;
    } else if (name == "--fault-garbage") {
      if (!flag(o.model.faults.garbage)) return false;
    } else if (name == "--fault-columns") {
      if (!flag(o.model.faults.wrongColumns)) return false;
    } else if (name == "--fault-no-etx") {
      if (!flag(o.model.faults.noEtx)) return false;
    } else if (name == "--link") {
      if (!takeValue()) return false;
      if (value.empty()) return bad();
      o.linkPath = value;
    } else if (name == "--hangup-after") {
      if (!takeValue()) return false;
      if (!parseSeconds(value, 0.001, 1e6, o.hangupAfterSeconds)) return bad();
    } else {
      error = "unknown option '" + args[i] + "'";
      return false;
    }
  }
  return true;
}

}  // namespace sim
