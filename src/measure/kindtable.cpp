#include "measure/kindtable.h"

#include <cctype>
#include <cmath>
#include <string_view>

#include "measure/cformat.h"

namespace measure {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF, kFuchsia = 0xFF00FF, kRed = 0x0000FF, kGreen = 0x008000,
                   kPurple = 0x800080, kGrey = 0x808080, kSilver = 0xC0C0C0;

constexpr NumberFormat kEngFormat{6, 4};        // "%6.4lf"
constexpr NumberFormat kBackscatterFormat{8, 6};  // "%8.6lf"

// A device-file line "KEY=column" for a field whose value is only stored.
constexpr KindInfo storedField(const char* name, const char* key, Capture capture, Role role,
                               uint8_t compareLength = 0) {
  KindInfo row;
  row.name = name;
  row.deviceKeys[0] = {key, compareLength};
  row.deviceLine = DeviceLine::Column;
  row.capture = capture;
  row.role = role;
  return row;
}

// A fluorescence or turbidity signal: "KEY=column scale offset", dark counts subtracted,
// one .eng column.
constexpr KindInfo opticalSignal(const char* name, const char* key, int reference, EngColumn column,
                                 PlotLook plot) {
  KindInfo row;
  row.name = name;
  row.deviceKeys[0] = {key, 0};
  row.deviceLine = DeviceLine::Measure;
  row.capture = Capture::Counts;
  row.role = Role::Signal;
  row.referenceKind = reference;
  row.conversion = Conversion::DarkThenScale;
  row.eng[0] = column;
  row.engCount = 1;
  row.plot = plot;
  return row;
}

// A temperature or pressure: "KEY=column scale offset", scaled then offset.
constexpr KindInfo auxiliary(const char* name, const char* key, double SampleState::*copy,
                             EngColumn column, PlotLook plot, TypicalValue typical) {
  KindInfo row;
  row.name = name;
  row.deviceKeys[0] = {key, 0};
  row.deviceLine = DeviceLine::Measure;
  row.capture = Capture::Counts;
  row.countsCopy = copy;
  row.role = Role::Auxiliary;
  row.conversion = Conversion::ScaleThenOffset;
  row.eng[0] = column;
  row.engCount = 1;
  row.plot = plot;
  row.typical = typical;
  return row;
}

constexpr EngColumn scalarColumn(const char* header, NumberFormat format, double EngValues::*value,
                                 const char* plotTitle, const char* units, const char* udunits,
                                 const char* name, const char* standardName = "") {
  return EngColumn{.header = header, .format = format, .value = value, .plotTitle = plotTitle, .units = units,
                   .udunits = udunits, .name = name, .standardName = standardName};
}

constexpr EngColumn backscatterColumn(const char* header, std::array<double, kMaxColumns> EngValues::*values,
                                      const char* plotTitle, const char* units, const char* udunits,
                                      const char* name, const char* standardName = "") {
  return EngColumn{.header = header, .format = kBackscatterFormat, .perKind = values, .plotTitle = plotTitle,
                   .units = units, .udunits = udunits, .name = name, .standardName = standardName};
}

constexpr PlotLook look(const char* channel, uint32_t colour, const char* rawName, bool plotsValue,
                        PlotGate gate = PlotGate::None) {
  return PlotLook{channel, ColourRule::Fixed, colour, rawName, plotsValue, gate};
}

constexpr std::array<KindInfo, kMaxColumns> makeTable() {
  std::array<KindInfo, kMaxColumns> t{};

  t[KindDate] = storedField("date", "Date=", Capture::None, Role::Clock);
  t[KindTime] = storedField("time", "Time=", Capture::None, Role::Clock);

  // Backscatter signals: the kind follows the field ("Lambda=" column 2..10), each signal
  // but the first has its reference in the field to its left (kind + 8).
  for (int k = KindLambdaFirst; k <= KindLambdaLast; ++k) {
    KindInfo& row = t[static_cast<size_t>(k)];
    row.name = "lambda";
    row.deviceKeys[0] = {"Lambda=", 0};
    row.deviceLine = DeviceLine::Lambda;
    row.capture = Capture::Counts;
    row.role = Role::Signal;
    if (k > KindLambdaFirst) {
      row.referenceKind = k + (KindLambdaRefFirst - KindLambdaFirst) - 1;
      row.driftCorrected = true;
    }
    row.conversion = Conversion::Backscatter;
    // The last name really ends in two closing parentheses; stored files have it so.
    row.eng = {
        backscatterColumn("Beta(%3d)", &EngValues::KindBeta, "Beta %3d : %6.4lf", "1/(m sr)",
                          "m-1 sr-1", "beta_%d_per_m_per_sr",
                          "volume_scattering_function_of_radiative_flux_in_sea_water"),
        backscatterColumn("Betap(%3d)", &EngValues::KindBetap, "Betap %3d: %6.4lf", "1/(m sr)",
                          "m-1 sr-1", "betap_%d_per_m_per_sr"),
        backscatterColumn("bbp(%3d)", &EngValues::KindBbp, "bbp %3d: %6.4lf", "1/m", "m-1",
                          "bbp_%d_per_m"),
        backscatterColumn("bb(%3d))", &EngValues::KindBb, "bb %3d: %6.4lf", "1/m", "m-1", "bb_%d_per_m",
                          "volume_backwards_scattering_coefficient_of_radiative_flux_in_sea_water"),
    };
    row.engCount = 4;
    row.plot = PlotLook{"%3d nm", ColourRule::Wavelength, 0, "%3d nm", true, PlotGate::None};
  }
  for (int k = KindLambdaRefFirst; k <= KindLambdaRefLast; ++k) {
    KindInfo& row = t[static_cast<size_t>(k)];
    row.name = "lambda_ref";
    row.deviceKeys[0] = {"Lambdaref=", 0};
    row.deviceLine = DeviceLine::LambdaRef;
    row.capture = Capture::Reference;
    row.role = Role::Reference;
  }

  // Fluorometers. The pigments and dyes are headed "(raw)" in the file, show ppb on the
  // plot page and plot their counts.
  t[KindChl] = opticalSignal(
      "chl", "CHL=", KindChlRef,
      scalarColumn("CHL(ug/l)", kEngFormat, &EngValues::ChlValue, "CHL: %4.2lf ug/l", "ug/l", "ug L-1",
                   "chl_ug_per_l", "mass_concentration_of_chlorophyll_a_in_sea_water"),
      look("CHL:", kFuchsia, "CHL", true));
  t[KindCdom] = opticalSignal(
      "cdom", "CDOM=", KindCdomRef,
      scalarColumn("CDOM(raw)", kEngFormat, &EngValues::CdomValue, "CDOM: %4.0lf ppb", "ppb", "1e-9",
                   "cdom_ppb",
                   "concentration_of_colored_dissolved_organic_matter_in_sea_water_expressed_as_equivalent_mass_"
                   "fraction_of_quinine_sulfate_dihydrate"),
      look("CDOM:", kPurple, "CDOM", false));
  t[KindUranine] = opticalSignal(
      "uranine", "URANINE=", KindUranineRef,
      scalarColumn("ur(raw)", kEngFormat, &EngValues::UranineValue, "UR: %4.0lf ppb", "ppb", "1e-9",
                   "uranine_ppb"),
      look("ur:", kPurple, "ur", false));
  t[KindPhycocyanin] = opticalSignal(
      "phycocyanin", "PHYCOCYANINE=", KindPhycocyaninRef,
      scalarColumn("pcyan(raw)", kEngFormat, &EngValues::PhycocyaninValue, "PC: %4.0lf ppb", "ppb",
                   "1e-9", "phycocyanin_ppb"),
      look("pcyanine:", kRed, "pcyan", false));
  t[KindPhycoerythrin] = opticalSignal(
      "phycoerythrin", "PHYCOERYTHRIN=", KindPhycoerythrinRef,
      scalarColumn("peryth(raw)", kEngFormat, &EngValues::PhycoerythrinValue, "PE: %4.0lf ppb", "ppb",
                   "1e-9", "phycoerythrin_ppb"),
      look("perythrin:", kGreen, "peryth", false));
  t[KindRhodamine] = opticalSignal(
      "rhodamine", "RHODAMINE=", KindRhodamineRef,
      scalarColumn("rhod(raw)", kEngFormat, &EngValues::RhodamineValue, "RHD: %4.0lf ppb", "ppb",
                   "1e-9", "rhodamine_ppb"),
      look("rhodamine:", kPurple, "rhd", false));

  // "CHLREF=" is told apart over "CHLRE" only.
  t[KindChlRef] = storedField("chl_ref", "CHLREF=", Capture::Reference, Role::Reference, 5);
  t[KindCdomRef] = storedField("cdom_ref", "CDOMREF=", Capture::Reference, Role::Reference);
  t[KindUranineRef] = storedField("uranine_ref", "URANINEREF=", Capture::Reference, Role::Reference);
  t[KindPhycocyaninRef] =
      storedField("phycocyanin_ref", "PHYCOCYANINEREF=", Capture::Reference, Role::Reference);
  t[KindPhycoerythrinRef] =
      storedField("phycoerythrin_ref", "PHYCOERYTHRINREF=", Capture::Reference, Role::Reference);
  t[KindRhodamineRef] = storedField("rhodamine_ref", "RHODAMINEREF=", Capture::Reference, Role::Reference);

  // Turbidity. The light-scattering column is headed "NTU" too.
  t[KindLss] = opticalSignal("lss", "LSS=", KindLssRef,
                             scalarColumn("NTU", kEngFormat, &EngValues::LssValue, "LSS: %4.2lf NTU",
                                          "NTU", "1", "lss_ntu"),
                             look("LSS:", kWhite, "LSS", true));
  t[KindLssRef] = storedField("lss_ref", "LSSREF=", Capture::Reference, Role::Reference);
  t[KindNtu] = opticalSignal("ntu", "NTU=", KindNtuRef,
                             scalarColumn("NTU", kEngFormat, &EngValues::NtuValue, "NTU: %4.2lf", "NTU",
                                          "1", "ntu", "sea_water_turbidity"),
                             look("NTU:", kWhite, "NTU", true));
  t[KindNtuRef] = storedField("ntu_ref", "NTUREF=", Capture::Reference, Role::Reference);

  // Temperatures and pressure; each plots only when its option box says so.
  t[KindITemp] = auxiliary("itemp", "iTemp=", &SampleState::ITempCounts,
                           scalarColumn("iTemp(C)", kEngFormat, &EngValues::ITempValue, "iTemp: %3.1lf C",
                                        "C", "degree_Celsius", "itemp_degc"),
                           look("iTemp:", kGrey, "iTemp", true, PlotGate::ITemp), {20.0, -2.0, 2.0, 540.0, 0.3});
  t[KindXTemp] = auxiliary("xtemp", "xTemp=", &SampleState::XTempCounts,
                           scalarColumn("xTemp(C)", kEngFormat, &EngValues::XTempValue, "xTemp: %3.1lf C",
                                        "C", "degree_Celsius", "xtemp_degc", "sea_water_temperature"),
                           look("xTemp:", kSilver, "xTemp", true, PlotGate::XTemp), {15.0, -3.0, 3.0, 510.0, 0.3});
  t[KindPres] = auxiliary("pres", "PRES=", &SampleState::PresCounts,
                          scalarColumn("Pres(dbar)", NumberFormat{5, 1}, &EngValues::PresValue,
                                       "Pres: %3.1lf dbar", "dbar", "dbar", "pres_dbar", "sea_water_pressure"),
                          look("Pres:", kWhite, "Pres", true, PlotGate::Pres), {10.0, 0.0, 5.0, 820.0, 1.0});

  // A reference the host does not use, or an unused field.
  t[KindRefOrUnused] = storedField("ref_or_unused", "REF=", Capture::None, Role::Reference);
  t[KindRefOrUnused].deviceKeys[1] = {"N/U=", 0};

  // The meter's own engineering value, in the units the device file names.
  KindInfo& iEngr = t[KindIEngr];
  iEngr = storedField("iengr", "IENGR=", Capture::Counts, Role::MeterValue);
  iEngr.conversion = Conversion::Passthrough;
  iEngr.eng[0] = scalarColumn("iEngr(%s)", kEngFormat, &EngValues::IEngrValue, "iENGR: %4.2lf %s", "", "",
                              "iengr");
  iEngr.engCount = 1;
  iEngr.plot = look("iEngr:", kWhite, "iEngr", true);

  return t;
}

int wavelengthOf(const DeviceConfig& config, int kind) {
  return isValidKind(kind) ? config.KindWavelength[static_cast<size_t>(kind)] : 0;
}

}  // namespace

constinit const std::array<KindInfo, kMaxColumns> kKindTable = makeTable();

PatternArgs patternArgs(const char* pattern) {
  if (pattern == nullptr) return PatternArgs::None;
  // The conversion letters in order, e.g. "d", "f", "df", "fs".
  char letters[4] = {};
  int n = 0;
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;  // flags
    while ((*p >= '0' && *p <= '9') || *p == '.') ++p;                           // width, precision
    if (*p == 'l') ++p;
    char letter = 0;
    if (*p == 'd') letter = 'd';
    else if (*p == 'f') letter = 'f';
    else if (*p == 's') letter = 's';
    if (letter == 0 || n == 3) return PatternArgs::Invalid;
    letters[n++] = letter;
  }
  const std::string_view got(letters, static_cast<size_t>(n));
  if (got.empty()) return PatternArgs::None;
  if (got == "d") return PatternArgs::Wavelength;
  if (got == "s") return PatternArgs::Units;
  if (got == "f") return PatternArgs::Value;
  if (got == "df") return PatternArgs::WavelengthValue;
  if (got == "fs") return PatternArgs::ValueUnits;
  return PatternArgs::Invalid;
}

std::string kindLabel(const char* pattern, const DeviceConfig& config, int kind) {
  if (pattern == nullptr) return {};
  switch (patternArgs(pattern)) {
    case PatternArgs::Wavelength: return cformat(pattern, wavelengthOf(config, kind));
    case PatternArgs::Units: return cformat(pattern, config.IEngrUnits.c_str());
    default: return pattern;
  }
}

namespace {

// `format` filled in as `args` (what the title pattern it comes from takes) asks.
std::string fillTitle(PatternArgs args, const char* format, const DeviceConfig& config, int kind, double value) {
  switch (args) {
    case PatternArgs::Value: return cformat(format, value);
    case PatternArgs::WavelengthValue: return cformat(format, wavelengthOf(config, kind), value);
    case PatternArgs::ValueUnits: return cformat(format, value, config.IEngrUnits.c_str());
    default: return format;
  }
}

// The significant digits a formatted number shows: from its first non-zero digit to the
// end of its mantissa ("0.0012" 2, "0.50" 2, "1234" 4, "8.5e-05" 2, "0.0000" 0).
int significantDigits(std::string_view text) {
  const size_t first = text.find_first_of("123456789");
  if (first == std::string_view::npos) return 0;
  int n = 0;
  for (size_t i = first; i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.'); ++i)
    if (text[i] != '.') ++n;
  return n;
}

}  // namespace

std::string kindTitle(const char* pattern, const DeviceConfig& config, int kind, double value) {
  if (pattern == nullptr) return {};
  return fillTitle(patternArgs(pattern), pattern, config, kind, value);
}

std::string readoutPattern(const char* pattern, double value) {
  if (pattern == nullptr) return {};
  const std::string_view text(pattern);
  // The first "%...f" conversion, as patternArgs reads conversions.
  size_t start = std::string_view::npos, end = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    const size_t at = i++;
    if (i < text.size() && text[i] == '%') continue;
    while (i < text.size() && std::string_view("-+ #0123456789.l").find(text[i]) != std::string_view::npos) ++i;
    if (i < text.size() && text[i] == 'f') {
      start = at;
      end = i + 1;
      break;
    }
  }
  if (start == std::string_view::npos || value == 0.0 || !std::isfinite(value)) return pattern;
  const std::string conversion(text.substr(start, end - start));
  const std::string fixed = cformat(conversion.c_str(), value);
  if (significantDigits(fixed) >= 3) return pattern;
  const std::string general = cformat("%.3g", value);
  double shown = 0, exact = 0;
  if (cscan(fixed.c_str(), "%lf", &shown) == 1 && cscan(general.c_str(), "%lf", &exact) == 1 && shown == exact)
    return pattern;
  return std::string(text.substr(0, start)) + "%.3g" + std::string(text.substr(end));
}

std::string kindReadout(const char* pattern, const DeviceConfig& config, int kind, double value) {
  if (pattern == nullptr) return {};
  return fillTitle(patternArgs(pattern), readoutPattern(pattern, value).c_str(), config, kind, value);
}

std::string engColumnName(const EngColumn& column, const DeviceConfig& config, int kind) {
  return kindLabel(column.name, config, kind);
}

}  // namespace measure
