#pragma once
// The zone a meter's clock was set to, as an operator names it: "UTC", "+HH:MM" / "-HH:MM",
// or a zone of the IANA database ("Europe/Oslo"), whose offset follows summer time.
#include <optional>
#include <string>

#include "files/archivetime.h"

namespace acquire {

/// Nothing when `text` is none of those.
std::optional<files::UtcOffset> parseMeterZone(const std::string& text);

/// The error text for a zone parseMeterZone does not take.
std::string meterZoneProblem(const std::string& text);

/// The zone this computer's clock keeps, as parseMeterZone takes it: "UTC" for UTC, its
/// IANA name when it has one, else its offset now ("+HH:MM"). A meter set from the
/// computer's local time keeps this zone.
std::string computerMeterZone();

}  // namespace acquire
