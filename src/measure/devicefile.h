#pragma once
// Device-file (*.dev) parser.
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "measure/deviceconfig.h"

namespace measure {

/// Called with (caption, text) for every message the parser would show the operator.
using WarningSink = std::function<void(const std::string& caption, const std::string& text)>;

/// Parses the text of a device file into `config`. Returns true on success.
/// On failure `config.DataFieldCount` is 0 and the messages of the parser itself
/// ("Invalid Line '%s' in *.dev file", "More Data Fields (%d) than Columns (%d) in *.dev",
/// both captioned "MARU Device File Error") went to `warn`. The caller shows
/// "Missing or Invalid device file '%s'" itself. Reads lines of at most 98 characters.
/// A file without a title line fails without a message; a column (or "Columns=") above 60
/// fails without a message; a column or "Columns=" below 1 fails as an invalid line.
bool ParseDeviceText(std::string_view text, DeviceConfig& config, const WarningSink& warn);

/// ParseDeviceText on the rest of an open file; a file over kInputFileLimit (measure/boundedfile.h)
/// fails without a message.
bool ParseDeviceFile(std::FILE* file, DeviceConfig& config, const WarningSink& warn);

/// Every keyword the parser knows, as far as it is compared ("CHLRE" for "CHLREF=").
/// Compared without regard to case; none is the start of another.
std::vector<std::string> DeviceFileKeywords();

/// Why `text` is no device file at all ("" when it may be one): binary data, or no column
/// (a recording, some other text). Such a file changes no configuration.
std::string NotADeviceFile(std::string_view text);

/// Convenience: reads `path` whole (kInputFileLimit at most) and parses it. `opened` tells
/// whether the open worked; `readError` is "" when the file was read, else why not (one
/// line naming the file: it could not be opened or read, is over the limit, or is not a
/// device file (NotADeviceFile); `config` is untouched then).
bool LoadDeviceFile(const std::string& path, DeviceConfig& config, const WarningSink& warn,
                    bool* opened = nullptr, std::string* readError = nullptr, bool* notDeviceFile = nullptr);

/// The device file as the program loads it right after start: the first tick's defaults
/// (DeviceConfig::setStartupDefaults), then the file. Every message goes to `warn`; a
/// file that cannot be opened or read, or is over the size limit, is reported under the
/// caption "Device File Error" (the reading error alone: one line).
/// `notDeviceFile` tells whether the file was refused as no device file at all.
bool LoadDeviceFileAtStart(const std::string& path, DeviceConfig& config, const WarningSink& warn,
                           bool* notDeviceFile = nullptr);

}  // namespace measure
