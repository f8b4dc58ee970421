#pragma once
// Command-line options of `maru sim`.
#include <string>
#include <vector>

#include "sim/metermodel.h"

namespace sim {

struct SimOptions {
  std::string deviceFile;          ///< empty: the built-in column set
  MeterModelOptions model;
  bool startTimeGiven = false;     ///< false: the meter clock starts at the host's local time
  double hangupAfterSeconds = 0;   ///< > 0: close the line after that long
  std::string linkPath;            ///< non-empty: a symbolic link to the pty made there
  bool help = false;
};

/// Parses the arguments that follow "sim" ("--opt value" or "--opt=value"; given twice,
/// the last one counts). False with `error` set on an unknown option, a missing or bad
/// value, or a value given to a flag. `-h`/`--help` sets `help`.
bool parseSimArgs(const std::vector<std::string>& args, SimOptions& options, std::string& error);

/// The text of `maru sim --help`.
const char* simUsage();

/// "MM/DD/YY HH:MM:SS" (years 2000-2099); false when it does not read as a valid time.
bool parseStartTime(const std::string& text, CivilTime& out);

}  // namespace sim
