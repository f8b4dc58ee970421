#pragma once
// One row per measurement kind: how the device file names it, how the decoder stores its
// field, how its counts become engineering values, and how the engineering-units file,
// the plot page and the virtual meter show it. Adding a sensor is adding a row.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/kinds.h"
#include "measure/sample.h"

namespace measure {

/// How a column line of the device file gives the kind.
enum class DeviceLine : uint8_t {
  None,       ///< no device-file line gives this kind
  Column,     ///< "KEY=column": the field only (scale 1, offset 0)
  Measure,    ///< "KEY=column scale offset"
  Lambda,     ///< "Lambda=column scale offset wavelength colour"; the kind is 5 + column
  LambdaRef,  ///< "Lambdaref=column scale offset"; the kind is 14 + column
};

/// A device-file keyword; compared without regard to case over `compareLength`
/// characters (0: the whole text).
struct DeviceKey {
  const char* text = nullptr;
  uint8_t compareLength = 0;
};

/// How the decoder stores a data-line field of the kind.
enum class Capture : uint8_t {
  None,       ///< not stored (dates, times, unused fields)
  Counts,     ///< the kind's KindCounts entry
  Reference,  ///< KindCounts too; the first reading after a load becomes KindRefValue
};

/// How counts c become the engineering value, with the kind's scale s and offset o.
enum class Conversion : uint8_t {
  None,
  DarkThenScale,    ///< (c - o) x s: fluorescence and turbidity subtract the dark counts
  ScaleThenOffset,  ///< c x s + o: temperatures and pressure
  Passthrough,      ///< c: the meter sent engineering units already
  Backscatter,      ///< Beta = (c - o) x s, then the water terms give Betap, bbp and bb
};

/// What a name or title pattern takes, by its printf conversions in order: "CHL(ug/l)"
/// nothing, "Beta(%3d)" the wavelength, "iEngr(%s)" the device file's units,
/// "CHL: %4.2lf ug/l" the value, "Beta %3d : %6.4lf" both, "iENGR: %4.2lf %s" the value
/// and the units.
enum class PatternArgs : uint8_t { None, Wavelength, Units, Value, WavelengthValue, ValueUnits, Invalid };

/// What the meter puts into the field (the virtual meter makes plausible values by it).
enum class Role : uint8_t { None, Clock, Signal, Reference, Auxiliary, MeterValue };

enum class ColourRule : uint8_t {
  None,
  Fixed,       ///< PlotLook::colour
  Wavelength,  ///< the device file's colour for the kind (KindColour)
};

/// The plot option box whose choice decides whether the kind is drawn.
enum class PlotGate : uint8_t { None, ITemp, XTemp, Pres };

/// "%<width>.<precision>lf".
struct NumberFormat {
  int width = 0;
  int precision = 0;
};

/// One column of the engineering-units file (and of tables made from it). Exactly one of
/// `value` and `perKind` is set.
struct EngColumn {
  const char* header = nullptr;  ///< .eng header name (None, Wavelength or Units pattern)
  NumberFormat format;           ///< .eng number format
  double EngValues::*value = nullptr;                             ///< single-valued kinds
  std::array<double, kMaxColumns> EngValues::*perKind = nullptr;  ///< entry per kind
  const char* plotTitle = nullptr;  ///< engineering-units plot title (a pattern with the value)
  const char* units = "";    ///< as the operator reads them; "": the device file's IEngrUnits
  const char* udunits = "";  ///< UDUNITS-2 unit string; "" when unknown
  const char* name = "";     ///< machine-friendly column name with units; "%d": wavelength
  const char* standardName = "";  ///< CF standard_name; "" where CF has none
};

/// How the plot page shows the kind.
struct PlotLook {
  const char* channel = nullptr;  ///< first channel title (None or Wavelength pattern); null: no channel
  ColourRule colourRule = ColourRule::None;
  uint32_t colour = 0;            ///< 0x00BBGGRR, for ColourRule::Fixed
  const char* rawName = nullptr;  ///< name in raw-data titles (None or Wavelength); null: none
  bool plotsValue = false;        ///< engineering-units plot draws the value (else the counts)
  PlotGate gate = PlotGate::None;
};

/// Plausible engineering values the virtual meter makes for an auxiliary kind:
/// centre + uniform(low, high), sent as the counts that scale and offset turn into it.
struct TypicalValue {
  double centre = 0, low = 0, high = 0;
  double fallbackCounts = 0;  ///< when scale and offset cannot give it
  double noise = 0;           ///< counts
};

struct KindInfo {
  const char* name = nullptr;  ///< short identifier ("chl", "lambda_ref"); null: unused code
  std::array<DeviceKey, 2> deviceKeys{};  ///< device-file keywords giving the kind
  DeviceLine deviceLine = DeviceLine::None;
  Capture capture = Capture::None;
  double SampleState::*countsCopy = nullptr;  ///< a second place the decoder stores the field
  Role role = Role::None;
  int referenceKind = KindNone;  ///< the field that monitors the signal's source, if any
  bool driftCorrected = false;   ///< counts divided by the reference drift and temperature term
  Conversion conversion = Conversion::None;
  std::array<EngColumn, 4> eng{};  ///< .eng columns, `engCount` of them
  int engCount = 0;
  PlotLook plot;
  TypicalValue typical;

  /// The single engineering value (Conversion other than None and Backscatter).
  double EngValues::*result() const { return eng[0].value; }
};

/// The table, indexed by kind code; codes without a kind have an empty row.
extern const std::array<KindInfo, kMaxColumns> kKindTable;

/// The row of `kind`; the empty row for codes outside 0..59.
inline const KindInfo& kindInfo(int kind) {
  return kKindTable[static_cast<size_t>(isValidKind(kind) ? kind : KindNone)];
}

/// Calls f(column, kind) for every engineering-units column of `config` in the order the
/// .eng file has them: the configured fields in turn, each with its kind's columns (dates,
/// times, references and unused fields have none).
template <typename F>
void forEachEngColumn(const DeviceConfig& config, F&& f) {
  const int fields = std::clamp(config.DataFieldCount, 0, kMaxColumns);
  for (int c = 0; c < fields; ++c) {
    const int kind = config.ColumnKind[static_cast<size_t>(c)];
    const KindInfo& row = kindInfo(kind);
    for (int i = 0; i < row.engCount; ++i) f(row.eng[static_cast<size_t>(i)], kind);
  }
}

/// The value a column holds for `kind`.
inline double engValue(const EngValues& values, const EngColumn& column, int kind) {
  return column.value ? values.*column.value : (values.*column.perKind)[static_cast<size_t>(kind)];
}

/// What `pattern` takes; Invalid for conversions other than one integer, one double and
/// one text in the orders above.
PatternArgs patternArgs(const char* pattern);

/// A name pattern of `kind`'s row filled in with the kind's wavelength or the device
/// file's IEngrUnits, as it asks. A pattern that takes a value comes back as it is.
std::string kindLabel(const char* pattern, const DeviceConfig& config, int kind);

/// A title pattern of `kind`'s row with `value` (and the wavelength or units it asks
/// for) filled in. A pattern that takes no value comes back as it is.
std::string kindTitle(const char* pattern, const DeviceConfig& config, int kind, double value);

/// `pattern` made fit for a live read-out of `value`: the pattern itself, unless its value
/// conversion (the first "%...f") shows fewer than three significant digits of a non-zero
/// finite value and "%.3g" reads as a different number; then that conversion becomes
/// "%.3g" ("%6.4lf" shows 0.000085 as "0.0001", "%.3g" as "8.5e-05"). The text around it
/// and the other conversions stay, so it takes the same arguments as `pattern`. A value
/// the fixed format shows fully ("%4.0lf" of 7, "%4.2lf" of 0.5) keeps it.
std::string readoutPattern(const char* pattern, double value);

/// kindTitle with the value written as readoutPattern says: plot titles keep the digits of
/// small values. The engineering-units file keeps its fixed formats (kindTitle's).
std::string kindReadout(const char* pattern, const DeviceConfig& config, int kind, double value);

/// A column's machine-friendly name with the kind's wavelength filled in ("bbp_470_per_m").
std::string engColumnName(const EngColumn& column, const DeviceConfig& config, int kind);

}  // namespace measure
