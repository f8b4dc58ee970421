#pragma once
// Device-file (*.dev) parser.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "measure/deviceconfig.h"

namespace measure {

/// Called with (caption, text) for every message the parser would show the operator.
using WarningSink = std::function<void(const std::string& caption, const std::string& text)>;

/// Parses an open device file into `config`. Returns true on success.
/// On failure `config.DataFieldCount` is 0 and the messages of the parser itself
/// ("Invalid Line '%s' in *.dev file", "More Data Fields (%d) than Columns (%d) in *.dev",
/// both captioned "MARU Device File Error") went to `warn`. The caller shows
/// "Missing or Invalid device file '%s'" itself. Reads lines of at most 98 characters.
/// A file without a title line fails without a message; a column (or "Columns=") above 60
/// fails without a message; a column or "Columns=" below 1 fails as an invalid line.
bool ParseDeviceFile(std::FILE* file, DeviceConfig& config, const WarningSink& warn);

/// Every keyword the parser knows, as far as it is compared ("CHLRE" for "CHLREF=").
/// Compared without regard to case; none is the start of another.
std::vector<std::string> DeviceFileKeywords();

/// Opens `path` for reading; nullptr with the cause in `why` ("is a directory", "No such
/// file or directory", ...) when it cannot be read as a file.
std::FILE* OpenDeviceFile(const std::string& path, std::string& why);

/// Convenience: opens `path` ("r") and parses it. `opened` tells whether the open worked,
/// `why` why it did not.
bool LoadDeviceFile(const std::string& path, DeviceConfig& config, const WarningSink& warn,
                    bool* opened = nullptr, std::string* why = nullptr);

/// The device file as the program loads it right after start: the first tick's defaults
/// (DeviceConfig::setStartupDefaults), then the file. Every message goes to `warn`; a
/// file that cannot be opened or read is reported under the caption "Device File Error",
/// with the cause ("Could not open device file 'x.dev': No such file or directory").
bool LoadDeviceFileAtStart(const std::string& path, DeviceConfig& config, const WarningSink& warn);

}  // namespace measure
