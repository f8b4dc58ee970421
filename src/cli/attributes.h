#pragma once
// Attributes a user gives an archive file: global ones from --attr KEY=VALUE (repeatable)
// and --attrs FILE (a YAML map of KEY: VALUE), the file first and each --attr over it; the
// variables' from the file's "variables:" map (VARIABLE or PATTERN: {KEY: VALUE, ...}).
#include <string>
#include <utility>
#include <vector>

#include "files/netcdfwriter.h"

namespace CLI {
class App;
}

namespace cli {

using Attributes = std::vector<std::pair<std::string, std::string>>;
using VariableAttributes = std::vector<files::UserVariableAttribute>;

/// The attributes of `file` ("" for none; measure::kInputFileLimit at most) and then of
/// `pairs`, a pair replacing the file's value of its key; false with `error` set (naming
/// the pair, or the file and its line) when one cannot be used: a name NetCDF refuses, a
/// key twice in the file or twice in `pairs`, a geospatial value that is not a number in
/// range (files::userAttributeValueProblem). The file's variable attributes go to
/// `variables`, each checked alone (files::userVariableAttributeProblem); what the program
/// writes on a variable is found when the file is defined (files::NetcdfWriter).
bool readAttributes(const std::vector<std::string>& pairs, const std::string& file, Attributes& out,
                    VariableAttributes& variables, std::string& error);

/// The attributes of the text of an attributes file, named `file` in errors, added to
/// `out` and (its "variables:" map) to `variables`.
bool parseAttributes(const std::string& text, const std::string& file, Attributes& out,
                     VariableAttributes& variables, std::string& error);

/// A path as history keeps it: without the folders, which say nothing on another machine
/// and may say too much about this one.
std::string withoutFolders(const std::string& word);

/// Word `i` of a command line as history keeps it: withoutFolders(), except a time zone's
/// name (the value of --meter-tz) and a port under /dev, which stay as given
/// ("Europe/Oslo", "/dev/ttyUSB0").
std::string historyWord(int argc, char** argv, int i);

/// The options --lat, --lon, --depth and (with `platform`; maru log has its own, which
/// also names the MQTT topics) --platform of an archive file, each checked as it is read
/// (exit 2) and added to `pairs` as the --attr it stands for: geospatial_lat,
/// geospatial_lon, geospatial_vertical (metres, positive down) and platform_name.
void addPositionOptions(CLI::App& app, std::vector<std::string>& pairs, bool platform = true);

}  // namespace cli
