#pragma once
// Fast, locale-independent number text for the per-line hot path. Each function gives
// exactly what the printf/scanf conversion it names would give in the C locale.
#include <string>
#include <string_view>

namespace measure {

/// Like sscanf("%lf") over a data-line field made only of digits, '-' and '.': reads the
/// longest leading number (so "1.2.3" gives 1.2, "12-4" gives 12). False when the field
/// does not start with a number ("", "-", ".", "-.").
bool readLeadingNumber(std::string_view field, double& value);

/// Like sscanf("%d<sep>%d<sep>%d") == 3 over a data-line field (digits, '-', '.', '/', ':'):
/// three integers with `separator` between them; what follows the third is ignored.
/// Numbers beyond the int range saturate.
bool readIntTriple(std::string_view field, char separator, int (&out)[3]);

/// Appends what "%<width>.<precision>lf" prints (precision 0..17, width up to 64; NaN
/// and infinities too).
void appendFixed(std::string& out, double value, int width, int precision);

/// The most characters "%.<precision>lf" prints for a double, precision 0..17.
constexpr size_t kMaxFixedChars = 384;
/// Writes what "%<width>.<precision>lf" prints at `at` (room for max(width,
/// kMaxFixedChars) characters) and returns the end.
char* writeFixed(char* at, double value, int width, int precision);

/// Appends what "%02d" prints.
void appendTwoDigits(std::string& out, int value);

}  // namespace measure
