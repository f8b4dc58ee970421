#include "files/netcdfwriter.h"

#include <hdf5.h>
#include <netcdf.h>
#include <udunits2.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>
#include <set>
#include <string_view>

#include "files/qcrun.h"
#include "measure/boundedfile.h"
#include "measure/cformat.h"
#include "measure/kindtable.h"

namespace files {

std::string readWholeFile(const std::string& path) {
  std::string text, error;
  measure::readBoundedFile(path, text, error);
  return text;
}

static_assert(kNetcdfFill == NC_FILL_DOUBLE);

namespace {

constexpr size_t kBlockRecords = 4096;  // records buffered per write
constexpr size_t kChunkRecords = 4096;  // records per chunk at most: one block
constexpr size_t kMinChunkRecords = 64;
// A flag is one byte: its chunks hold more records, as many as fill the cache below (a
// chunk of 4,096 flags cost a system call and an index entry per 4 KiB written).
constexpr size_t kFlagChunkRecords = 65536;
// Per variable: a written chunk is never read again, so the library's cache (megabytes per
// variable by default, kept full as the file grows) only needs to hold the chunk at hand.
constexpr size_t kChunkCacheBytes = 64 * 1024;
constexpr size_t kResolutionSteps = 1000;  // steps looked at for time_coverage_resolution
// The depths a meter may be given (metres, positive down): a little above the surface (a
// meter in a tank on a ship) to the deepest ocean.
constexpr double kMinDepth = -100, kMaxDepth = 11000;
// The table every standard name the writer uses is in.
constexpr const char* kStandardNameVocabulary = "CF Standard Name Table v83";
constexpr const char* kStandardNameTable = "https://cfconventions.org/Data/cf-standard-names/83/build/cf-standard-name-table.html";

int configuredFields(const measure::DeviceConfig& config) {
  return std::clamp(config.DataFieldCount, 0, measure::kMaxColumns);
}

// Descriptive names of the engineering columns, by the column's machine name.
struct LongName {
  const char* name;
  const char* text;  // "%d": the wavelength
};
constexpr LongName kLongNames[] = {
    {"beta_%d_per_m_per_sr", "volume scattering function at %d nm"},
    {"betap_%d_per_m_per_sr", "particulate volume scattering function at %d nm"},
    {"bbp_%d_per_m", "particulate backscattering coefficient at %d nm"},
    {"bb_%d_per_m", "total backscattering coefficient at %d nm"},
    {"chl_ug_per_l", "chlorophyll a concentration from fluorescence"},
    {"cdom_ppb", "CDOM concentration from fluorescence"},
    {"uranine_ppb", "uranine concentration from fluorescence"},
    {"phycocyanin_ppb", "phycocyanin concentration from fluorescence"},
    {"phycoerythrin_ppb", "phycoerythrin concentration from fluorescence"},
    {"rhodamine_ppb", "rhodamine concentration from fluorescence"},
    {"lss_ntu", "turbidity from light scattering"},
    {"ntu", "turbidity"},
    {"itemp_degc", "temperature inside the meter"},
    {"xtemp_degc", "water temperature"},
    {"pres_dbar", "water pressure"},
    {"iengr", "engineering value computed by the meter"},
};

std::string longNameOf(const measure::EngColumn& column, const measure::DeviceConfig& config, int kind) {
  for (const LongName& entry : kLongNames)
    if (std::strcmp(entry.name, column.name) == 0) return measure::kindLabel(entry.text, config, kind);
  return measure::kindLabel(column.header, config, kind);
}

// A name not yet taken: `base`, else `base_2`, `base_3`, …
std::string uniqueName(std::set<std::string>& taken, const std::string& base) {
  std::string name = base;
  for (int n = 2; taken.count(name); ++n) name = base + "_" + std::to_string(n);
  taken.insert(name);
  return name;
}

// The raw-counts name of a counted field: "counts_470" for a backscatter signal,
// "counts_ref_470" for its reference, "counts_<kind>" otherwise.
std::string countsBaseName(const measure::DeviceConfig& config, int field) {
  const int kind = config.ColumnKind[static_cast<size_t>(field)];
  const measure::KindInfo& row = measure::kindInfo(kind);
  const int wavelength = config.KindWavelength[static_cast<size_t>(kind)];
  if (row.role == measure::Role::Signal && row.conversion == measure::Conversion::Backscatter && wavelength > 0)
    return "counts_" + std::to_string(wavelength);
  if (kind >= measure::KindLambdaRefFirst && kind <= measure::KindLambdaRefLast) {
    // Named after the signal it monitors, when one is configured.
    const int fields = configuredFields(config);
    for (int c = 0; c < fields; ++c) {
      const int signal = config.ColumnKind[static_cast<size_t>(c)];
      const int w = measure::isValidKind(signal) ? config.KindWavelength[static_cast<size_t>(signal)] : 0;
      if (measure::kindInfo(signal).referenceKind == kind && w > 0) return "counts_ref_" + std::to_string(w);
    }
    return "counts_ref_field" + std::to_string(field + 1);
  }
  return std::string("counts_") + (row.name ? row.name : "field");
}

// A field whose counts are kept as received: a channel of "counts". A field the meter sends
// in engineering units already ("7.37") is no count; its value's variable holds it as sent.
bool counted(int kind) {
  return measure::isValidKind(kind) && measure::kindInfo(kind).capture != measure::Capture::None &&
         measure::kindInfo(kind).conversion != measure::Conversion::Passthrough;
}

bool fluorescent(const std::string& kindName) {
  for (const char* name : {"chl", "cdom", "uranine", "phycocyanin", "phycoerythrin", "rhodamine"})
    if (kindName == name) return true;
  return false;
}

// Calls `take(row, name)` for the kind of each configured field that has one.
template <typename Take>
void forEachFieldKind(const measure::DeviceConfig& config, Take take) {
  const int fields = configuredFields(config);
  for (int c = 0; c < fields; ++c) {
    const int kind = config.ColumnKind[static_cast<size_t>(c)];
    if (!measure::isValidKind(kind)) continue;
    const measure::KindInfo& row = measure::kindInfo(kind);
    take(row, std::string(row.name ? row.name : ""));
  }
}

// What kind of meter the configured fields make, without a maker's name.
std::string instrumentKind(const measure::DeviceConfig& config) {
  bool backscatter = false, fluorescence = false, turbidity = false;
  forEachFieldKind(config, [&](const measure::KindInfo& row, const std::string& name) {
    backscatter |= row.conversion == measure::Conversion::Backscatter;
    fluorescence |= fluorescent(name);
    turbidity |= name == "ntu" || name == "lss";
  });
  std::vector<std::string> parts;
  if (backscatter) parts.emplace_back("backscattering meter");
  if (fluorescence) parts.emplace_back("fluorometer");
  if (turbidity) parts.emplace_back("turbidity meter");
  if (parts.empty()) return "in-water optical meter";
  std::string text = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) text += (i + 1 == parts.size() ? " and " : ", ") + parts[i];
  return text;
}

// An ISO 8601 duration of whole seconds: "PT39S", "P1DT2H3M4S", "PT0S".
std::string isoDuration(double seconds) {
  long long left = static_cast<long long>(std::llround(std::max(0.0, seconds)));
  const long long days = left / 86400, hours = left / 3600 % 24, minutes = left / 60 % 60, secs = left % 60;
  std::string text = "P";
  if (days) text += std::to_string(days) + "D";
  if (hours || minutes || secs || !days) {
    text += "T";
    if (hours) text += std::to_string(hours) + "H";
    if (minutes) text += std::to_string(minutes) + "M";
    if (secs || (!hours && !minutes)) text += std::to_string(secs) + "S";
  }
  return text;
}

// A step between records as an ISO 8601 duration, to the millisecond below a second.
std::string isoStep(double seconds) {
  if (seconds >= 1.0 || seconds <= 0.0) return isoDuration(seconds);
  return "PT" + measure::cformat("%.3g", seconds) + "S";
}

// A number the device file gave, read in single precision, as the decimal it was written
// as (1.1, not 1.10000002384186).
double asWritten(double singlePrecision) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, static_cast<float>(singlePrecision)).ptr;
  double value = singlePrecision;
  std::from_chars(text, end, value);
  return value;
}

// The variable attributes whose value is a number, written with the variable's type.
bool numericVariableAttribute(const std::string& name) {
  static const std::set<std::string> kNumeric = {"valid_min", "valid_max", "actual_min", "actual_max", "accuracy",
                                                 "precision", "resolution"};
  return kNumeric.count(name) > 0;
}

// `text` as a finite number, the whole of it (the C locale's form).
std::optional<double> finiteNumber(const std::string& text) {
  double x = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, x);
  if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(x)) return std::nullopt;
  return x;
}

std::string attributeNameProblem(const std::string& key);

bool numericAttribute(const std::string& key) { return key.rfind("geospatial_", 0) == 0 && key != "geospatial_bounds" &&
                                                       key.find("_units") == std::string::npos &&
                                                       key.find("_positive") == std::string::npos &&
                                                       key.find("_resolution") == std::string::npos; }

// Whether UDUNITS-2 reads `units` (its own unit database, loaded once; UTF-8, so "µg/l").
bool udunitsAccepts(const std::string& units) {
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  static ut_system* const system = [] {
    ut_set_error_message_handler(ut_ignore);
    return ut_read_xml(nullptr);
  }();
  if (system == nullptr || units.empty() || units.front() == ' ' || units.back() == ' ') return false;
  ut_unit* unit = ut_parse(system, units.c_str(), UT_UTF8);
  ut_free(unit);
  return unit != nullptr;
}

// The value of the user's attribute `key`, if given.
const std::string* userValue(const std::vector<std::pair<std::string, std::string>>& attributes,
                             const std::string& key) {
  for (const auto& [k, v] : attributes)
    if (k == key) return &v;
  return nullptr;
}

// The user's attribute `key` as a finite number (the checks before have refused any other).
std::optional<double> userNumber(const std::vector<std::pair<std::string, std::string>>& attributes,
                                 const std::string& key) {
  const std::string* text = userValue(attributes, key);
  return text ? finiteNumber(*text) : std::nullopt;
}

// The change in a value for one count of its field: the slope of its conversion from the
// device file. Every conversion is linear in the counts, so the slope is one number: the
// scale; for the backscatter chain, Betap is Beta less a constant (the water's) and bbp is
// Betap times 2 x 3.1415 x X (as the conversion computes it), bb is bbp plus a constant.
// The reference and temperature corrections, when on, divide the counts by a factor near 1
// and so the step by the same factor; the attribute gives the step without them. A value
// the meter sends itself steps by its own scale (iengrscale), when the device file gives it.
std::optional<double> countStep(const measure::DeviceConfig& config, int kind, int engColumn) {
  const measure::KindInfo& row = measure::kindInfo(kind);
  const double scale = asWritten(config.KindScale[static_cast<size_t>(kind)]);
  switch (row.conversion) {
    case measure::Conversion::DarkThenScale:
    case measure::Conversion::ScaleThenOffset: return std::abs(scale);
    case measure::Conversion::Backscatter:
      return engColumn < 2 ? std::abs(scale) : std::abs(2.0 * 3.1415 * asWritten(config.XFactor) * scale);
    case measure::Conversion::Passthrough:
      if (config.IEngrScale > 0.0f) return asWritten(config.IEngrScale);
      return std::nullopt;
    case measure::Conversion::None: break;
  }
  return std::nullopt;
}

// How a value was made from the counts, in a few words, for its "source".
std::string valueSource(int kind, int engColumn, const std::string& channel) {
  const measure::KindInfo& row = measure::kindInfo(kind);
  const std::string counts = "counts of channel " + channel;
  const std::string beta = counts + " less the dark counts, times the scale, from the device file";
  switch (row.conversion) {
    case measure::Conversion::DarkThenScale: return beta;
    case measure::Conversion::ScaleThenOffset: return counts + " times the scale, plus the offset, from the device file";
    case measure::Conversion::Passthrough: return "the value the meter computed and sent, as received";
    case measure::Conversion::Backscatter:
      switch (engColumn) {
        case 0: return beta;
        case 1: return "volume scattering function (" + beta + ") less that of pure water at the file's salinity";
        case 2: return "particulate volume scattering function at the file's scattering angle, times 2 pi x_factor";
        default: return "particulate backscattering coefficient plus that of pure water at the file's salinity";
      }
    case measure::Conversion::None: break;
  }
  return "as computed from the device file";
}

// GCMD science keywords of what the configured fields measure, in field order, each once.
std::string gcmdKeywords(const measure::DeviceConfig& config) {
  std::vector<std::string> keywords;
  auto add = [&](const char* k) {
    if (std::find(keywords.begin(), keywords.end(), k) == keywords.end()) keywords.emplace_back(k);
  };
  forEachFieldKind(config, [&](const measure::KindInfo& row, const std::string& name) {
    if (row.conversion == measure::Conversion::Backscatter) add("EARTH SCIENCE > OCEANS > OCEAN OPTICS > SCATTERING");
    if (name == "chl") add("EARTH SCIENCE > OCEANS > OCEAN CHEMISTRY > CHLOROPHYLL");
    if (fluorescent(name)) add("EARTH SCIENCE > OCEANS > OCEAN OPTICS > FLUORESCENCE");
    if (name == "cdom") add("EARTH SCIENCE > OCEANS > OCEAN OPTICS > GELBSTOFF");
    if (name == "ntu" || name == "lss") add("EARTH SCIENCE > OCEANS > OCEAN OPTICS > TURBIDITY");
    if (name == "xtemp") add("EARTH SCIENCE > OCEANS > OCEAN TEMPERATURE > WATER TEMPERATURE");
    if (name == "pres") add("EARTH SCIENCE > OCEANS > OCEAN PRESSURE > WATER PRESSURE");
  });
  std::string text;
  for (const std::string& k : keywords) text += (text.empty() ? "" : ", ") + k;
  return text;
}

bool hasBackscatter(const measure::DeviceConfig& config) {
  const int fields = configuredFields(config);
  for (int c = 0; c < fields; ++c) {
    const int kind = config.ColumnKind[static_cast<size_t>(c)];
    if (measure::isValidKind(kind) && measure::kindInfo(kind).conversion == measure::Conversion::Backscatter)
      return true;
  }
  return false;
}

// Whether the meter stamps its lines: a date and a time field.
bool hasClock(const measure::DeviceConfig& config) {
  bool date = false, time = false;
  const int fields = configuredFields(config);
  for (int c = 0; c < fields; ++c) {
    date |= config.ColumnKind[static_cast<size_t>(c)] == measure::KindDate;
    time |= config.ColumnKind[static_cast<size_t>(c)] == measure::KindTime;
  }
  return date && time;
}

// A random (version 4) UUID, for the file's "uuid".
std::string randomUuid() {
  std::array<unsigned char, 16> bytes{};
  if (std::FILE* f = std::fopen("/dev/urandom", "rb")) {
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.fill(0);
    std::fclose(f);
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += measure::cformat("%02x", bytes[i]);
  }
  return text;
}

std::string nowIsoUtc() {
  using namespace std::chrono;
  return isoUtc(static_cast<double>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count()));
}

}  // namespace

struct NetcdfWriter::Column {
  int varid = -1;
  int kind = 0;
  int field = -1;                                ///< raw field, or -1
  const measure::EngColumn* eng = nullptr;       ///< engineering column, or null
  int channel = -1;                              ///< row of "counts", or -1 for its own variable
  std::vector<double> buffer;
};

std::vector<NetcdfVariable> netcdfVariables(const measure::DeviceConfig& config) {
  std::vector<NetcdfVariable> vars;
  std::set<std::string> taken{"time",    "obs",     "meter_time", "scattering_angle", "counts",
                              "channel", "counts_channel", "crs"};
  const int fields = configuredFields(config);

  // Raw-counts names first, so each engineering column can name its own.
  std::vector<std::string> countsName(static_cast<size_t>(fields));
  std::set<std::string> countsTaken = taken;
  for (int c = 0; c < fields; ++c)
    if (counted(config.ColumnKind[static_cast<size_t>(c)]))
      countsName[static_cast<size_t>(c)] = uniqueName(countsTaken, countsBaseName(config, c));
  auto countsOfKind = [&](int kind) -> std::string {
    for (int c = 0; c < fields; ++c)
      if (config.ColumnKind[static_cast<size_t>(c)] == kind && !countsName[static_cast<size_t>(c)].empty())
        return countsName[static_cast<size_t>(c)];
    return {};
  };
  taken = countsTaken;

  for (int c = 0; c < fields; ++c) {
    const int kind = config.ColumnKind[static_cast<size_t>(c)];
    const measure::KindInfo& row = measure::kindInfo(kind);
    // The counts a value came from (its own, its reference's) are channels of "counts".
    const bool fromCounts = !countsName[static_cast<size_t>(c)].empty() ||
                            (row.referenceKind != measure::KindNone && !countsOfKind(row.referenceKind).empty());
    const std::string ancillary = fromCounts ? "counts" : "";
    for (int i = 0; i < row.engCount; ++i) {
      const measure::EngColumn& column = row.eng[static_cast<size_t>(i)];
      NetcdfVariable v;
      v.name = uniqueName(taken, measure::engColumnName(column, config, kind));
      v.units = column.udunits;
      if (v.units.empty()) v.units = config.IEngrUnits.empty() ? "1" : config.IEngrUnits;
      v.longName = longNameOf(column, config, kind);
      v.standardName = column.standardName;
      v.ancillaryVariables = ancillary;
      v.kind = kind;
      v.engColumn = i;
      v.wavelength = config.KindWavelength[static_cast<size_t>(kind)];
      v.scattering = v.units == "m-1 sr-1";
      vars.push_back(std::move(v));
    }
  }
  for (int c = 0; c < fields; ++c) {
    if (countsName[static_cast<size_t>(c)].empty()) continue;
    const int kind = config.ColumnKind[static_cast<size_t>(c)];
    NetcdfVariable v;
    v.name = countsName[static_cast<size_t>(c)];
    v.units = "1";
    const measure::KindInfo& row = measure::kindInfo(kind);
    std::string what = row.name ? row.name : "field";
    const int wavelength = config.KindWavelength[static_cast<size_t>(kind)];
    if (wavelength > 0) what += " " + std::to_string(wavelength) + " nm";
    constexpr std::string_view kRefPrefix = "counts_ref_";
    if (v.name.starts_with(kRefPrefix) && v.name.find("field") == std::string::npos)
      what += ", reference of the " + v.name.substr(kRefPrefix.size()) + " nm signal";
    v.longName = "raw counts of data field " + std::to_string(c + 1) + " (" + what + "), as received";
    v.channel = v.name.substr(std::string_view("counts_").size());
    v.kind = kind;
    v.field = c;
    // A reference is at the wavelength of the signal it monitors.
    v.wavelength = wavelength;
    if (v.name.starts_with(kRefPrefix) && v.name.find("field") == std::string::npos)
      v.wavelength = std::atoi(v.name.c_str() + kRefPrefix.size());
    vars.push_back(std::move(v));
  }
  return vars;
}

// The flag variables of one stream: the aggregate, then one per configured test.
struct NetcdfWriter::QcVariables {
  int aggregate = -1;
  std::array<int, qc::kTestCount> test{-1, -1, -1, -1};
  uint8_t run = 0;  ///< the tests configured, as qc::Flags::run holds them
  // Flag bytes column by column, as the variables hold them: the aggregate's, then each
  // test's (in the order of qc::kTests).
  using Columns = std::array<std::vector<signed char>, 1 + qc::kTestCount>;
  /// The flags in for records not yet flushed.
  Columns pending;
  /// The flags of the records flushed that are not yet in the file, written a chunk at a
  /// time when records come in order.
  Columns bytes;

  void push(const qc::Flags& flags) {
    pending[0].push_back(static_cast<signed char>(flags.aggregate()));
    for (size_t t = 0; t < qc::kTestCount; ++t) pending[1 + t].push_back(static_cast<signed char>(flags.test[t]));
  }
};

std::string userAttributeProblem(const std::string& key) {
  static const std::set<std::string> kComputed = {
      "Conventions", "history", "date_created", "date_modified", "time_coverage_start", "time_coverage_end",
      "time_coverage_duration", "time_coverage_resolution", "device_file", "qc_configuration",
      // the settings the values were computed with, and the file's structure
      "salinity", "scattering_angle_deg", "x_factor", "water", "meter_time_zone", "time_source", "featureType",
      "cdm_data_type", "cdm_timeseries_variables", "ncei_template_version", "uuid", "standard_name_vocabulary"};
  if (kComputed.count(key)) return "'" + key + "' is written by the program from the data";
  return attributeNameProblem(key);
}

std::string userVariableAttributeProblem(const std::string& name, const std::string& value) {
  if (const std::string problem = attributeNameProblem(name); !problem.empty()) return problem;
  // What makes a variable's structure or the meaning of its values: never the user's, on
  // any variable (some the program adds only once the records are in, such as the time in
  // "coordinates").
  static const std::set<std::string> kStructural = {
      "units", "missing_value", "scale_factor", "add_offset", "coordinates", "ancillary_variables", "axis",
      "positive", "calendar", "cf_role", "standard_name", "standard_name_url", "flag_values", "flag_masks",
      "flag_meanings", "grid_mapping", "bounds", "cell_methods", "cell_measures", "coverage_content_type",
      "instance_dimension", "sample_dimension", "compress", "formula_terms", "climatology", "platform",
      "instrument"};
  if (kStructural.count(name))
    return "'" + name + "' is the program's (it makes the variable's structure or the meaning of its values)";
  if (name == "valid_range" || name == "actual_range")
    return "'" + name + "' takes two numbers: give " + name.substr(0, name.find('_')) + "_min and _max instead";
  if (numericVariableAttribute(name) && !finiteNumber(value))
    return "'" + name + "' must be a finite number, not '" + value + "'";
  return {};
}

bool variableNameMatches(const std::string& pattern, const std::string& name) {
  // Only '*', and the same on every system (fnmatch is POSIX, and would also take '?', '['
  // and the backslash in names). Greedy with one step back: after a '*', a mismatch retries one
  // character further on.
  size_t p = 0, n = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

namespace {

std::string attributeNameProblem(const std::string& key) {
  const auto ok = [](char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           (!first && ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == '@'));
  };
  constexpr size_t kMaxName = 256;  // NC_MAX_NAME
  if (key.size() > kMaxName)
    return "'" + key.substr(0, 20) + "…' is not an attribute name (" + std::to_string(key.size()) +
           " characters; at most " + std::to_string(kMaxName) + ")";
  if (!key.empty() && key[0] == '_')
    return "'" + key + "' is not an attribute name (a first '_' marks the NetCDF library's own)";
  bool good = !key.empty();
  for (size_t i = 0; good && i < key.size(); ++i) good = ok(key[i], i == 0);
  return good ? std::string() : "'" + key + "' is not an attribute name (letters, digits, '_', '.', '-', '+', '@'; not a digit first)";
}

}  // namespace

std::string userAttributeValueProblem(const std::string& key, const std::string& value) {
  struct Range {
    const char* key;
    double low, high;
  };
  constexpr double kAny = std::numeric_limits<double>::max();
  static const Range kRanges[] = {
      {"geospatial_lat", -90, 90},         {"geospatial_lat_min", -90, 90},   {"geospatial_lat_max", -90, 90},
      {"geospatial_lon", -180, 360},       {"geospatial_lon_min", -180, 360}, {"geospatial_lon_max", -180, 360},
      {"geospatial_vertical_min", -kAny, kAny}, {"geospatial_vertical_max", -kAny, kAny},
      {"geospatial_vertical", kMinDepth, kMaxDepth}};
  for (const Range& r : kRanges) {
    if (key != r.key) continue;
    const std::optional<double> number = finiteNumber(value);
    if (!number) return "'" + key + "' must be a finite number, not '" + value + "'";
    if (*number < r.low || *number > r.high)
      return "'" + key + "' must be within " + measure::cformat("%g", r.low) + ".." + measure::cformat("%g", r.high) +
             ", not " + value;
  }
  return {};
}

NetcdfWriter::NetcdfWriter() = default;

NetcdfWriter::~NetcdfWriter() { abandon(); }

bool NetcdfWriter::isOpen() const { return m_ncid >= 0; }

namespace {

// HDF5 tells a full disk only as its own "HDF error": say what the operator can act on.
std::string fullDiskNote(const std::string& file) {
  constexpr std::uintmax_t kNearlyFull = 1 << 20;
  std::error_code error;
  const std::filesystem::space_info space = std::filesystem::space(std::filesystem::path(file).parent_path(), error);
  if (error || space.available >= kNearlyFull) return {};
  return " (the disk is full: " + std::to_string(space.available / 1024) + " KiB free)";
}

}  // namespace

bool NetcdfWriter::fail(const std::string& what, int status) {
  m_error = what + (status == NC_NOERR ? std::string() : std::string(": ") + nc_strerror(status));
  if (status != NC_NOERR && !m_temporary.empty()) m_error += fullDiskNote(m_temporary);
  abandon();
  return false;
}

void NetcdfWriter::abandon() {
  // Aborted, not closed: closing writes what the library holds, which fails again on a full
  // disk and then leaves the file open in HDF5 (whose exit handler later crashes on it).
  // A file defined in memory is closed: an abort removes whatever file has its name.
  if (m_ncid >= 0) m_inMemory ? nc_close(m_ncid) : nc_abort(m_ncid);
  m_ncid = -1;
  m_inMemory = false;
  if (!m_temporary.empty()) std::remove(m_temporary.c_str());
  m_temporary.clear();
  m_columns.clear();
  m_qc.clear();
  m_times.clear();
  m_meterTimes.clear();
  m_meterTimeVar = -1;
  m_countsVar = -1;
}

bool NetcdfWriter::open(const std::string& path, const measure::DeviceConfig& config,
                        const NetcdfProvenance& provenance) {
  return open(path, config, provenance, nullptr);
}

bool NetcdfWriter::open(const std::string& path, const measure::DeviceConfig& config,
                        const NetcdfProvenance& provenance, const QcRun& qc) {
  return open(path, config, provenance, &qc);
}

bool NetcdfWriter::open(const std::string& path, const measure::DeviceConfig& config,
                        const NetcdfProvenance& provenance, const QcRun* qc) {
  abandon();
  m_error.clear();
  m_path = path;
  m_config = config;
  m_records = m_written = 0;
  m_flagsApart = false;
  m_flagsFrom = 0;
  m_places.clear();
  m_warnings.clear();

  if (!provenance.inMemory) {
    // A unique name beside the target, so the rename stays on one file system.
    std::string temporary = path + ".part-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return fail("cannot create '" + path + "': " + std::strerror(errno), NC_NOERR);
    ::close(fd);
    // The name is ours now; the library creates the file anew, with the usual permissions.
    std::remove(temporary.c_str());
    m_temporary = temporary;
  }

  // A file whose writing failed on a full disk stays in HDF5's table of open files even
  // after nc_abort(), and HDF5's own exit handler then crashes flushing it: the program
  // closes every file it wrote itself, so that handler is kept off (before HDF5 starts).
  static const bool noExitHandler = [] { return H5dont_atexit() >= 0; }();
  (void)noExitHandler;
  m_inMemory = provenance.inMemory;
  int status = m_inMemory ? nc_create("in-memory.nc", NC_NETCDF4 | NC_DISKLESS, &m_ncid)
                          : nc_create(m_temporary.c_str(), NC_NETCDF4 | NC_NOCLOBBER, &m_ncid);
  if (status != NC_NOERR) {
    m_ncid = -1;
    return fail("cannot create '" + path + "'", status);
  }

  auto text = [&](int varid, const char* name, const std::string& value) {
    return status = nc_put_att_text(m_ncid, varid, name, value.size(), value.c_str());
  };
  auto number = [&](int varid, const char* name, double value) {
    return status = nc_put_att_double(m_ncid, varid, name, NC_DOUBLE, 1, &value);
  };
  const double fill = kNetcdfFill;
  // A short file gets short chunks, not mostly the unused part of one chunk per variable
  // (40 records took 0.76 MB in chunks of 4,096); smaller chunks cost a long file time.
  const size_t chunk = provenance.expectedRecords == 0
                           ? kChunkRecords
                           : std::clamp(std::bit_ceil(provenance.expectedRecords), kMinChunkRecords, kChunkRecords);
  const size_t flagChunk = provenance.expectedRecords == 0
                               ? kFlagChunkRecords
                               : std::clamp(std::bit_ceil(provenance.expectedRecords), kMinChunkRecords, kFlagChunkRecords);
  m_flagChunkRecords = flagChunk;

  // Along "time", a coordinate variable, when every record should have a time: the host's
  // receive time (the logger), or the meter's own (a conversion of a meter that stamps its
  // lines; finish() lays the file out along "obs" again when a record had no time or one
  // not after the one before). Else along "obs", the meter's readings an auxiliary
  // coordinate that may hold fill values.
  m_hostTimes = provenance.hostTimes;
  m_timeAxis = m_hostTimes || hasClock(config);
  m_timeBroken = false;
  m_userAttributes = provenance.attributes;
  m_anyTime = false;
  m_steps.clear();
  int timeDim = -1;
  if ((status = nc_def_dim(m_ncid, m_timeAxis ? "time" : "obs", NC_UNLIMITED, &timeDim)) != NC_NOERR)
    return fail("cannot define the record dimension", status);
  auto defineDouble = [&](const std::string& name, int& varid, bool mayBeMissing = true) {
    if ((status = nc_def_var(m_ncid, name.c_str(), NC_DOUBLE, 1, &timeDim, &varid)) != NC_NOERR) return false;
    if ((status = nc_def_var_chunking(m_ncid, varid, NC_CHUNKED, &chunk)) != NC_NOERR) return false;
    if (provenance.deflateLevel > 0 &&
        (status = nc_def_var_deflate(m_ncid, varid, 1, 1, provenance.deflateLevel)) != NC_NOERR)
      return false;
    // Chunks are written whole, once: a cache beyond one block only grows with the file.
    if ((status = nc_set_var_chunk_cache(m_ncid, varid, kChunkCacheBytes, 31, 1.0f)) != NC_NOERR) return false;
    if (!mayBeMissing) return (status = nc_def_var_fill(m_ncid, varid, 1, nullptr)) == NC_NOERR;
    return (status = nc_def_var_fill(m_ncid, varid, 0, &fill)) == NC_NOERR && !number(varid, "missing_value", fill);
  };
  auto timeAttributes = [&](int varid, const std::string& longName, bool axis) {
    return text(varid, "standard_name", "time") || text(varid, "long_name", longName) ||
           text(varid, "units", "seconds since 1970-01-01T00:00:00Z") || text(varid, "calendar", "standard") ||
           (axis && text(varid, "axis", "T")) ||
           text(varid, "coverage_content_type", axis ? "coordinate" : "auxiliaryInformation");
  };
  if (m_hostTimes) {
    if (!defineDouble("time", m_timeVar, false) || timeAttributes(m_timeVar, "time the host received the sample", true))
      return fail("cannot define the variable 'time'", status);
    if (!provenance.timeComment.empty() && text(m_timeVar, "comment", provenance.timeComment))
      return fail("cannot define the variable 'time'", status);
    if (!defineDouble("meter_time", m_meterTimeVar) ||
        timeAttributes(m_meterTimeVar, "time of the sample by the meter's clock", false))
      return fail("cannot define the variable 'meter_time'", status);
  } else if (!defineDouble("time", m_timeVar, !m_timeAxis) ||
             timeAttributes(m_timeVar, "time of the sample by the meter's clock", true)) {
    return fail("cannot define the variable 'time'", status);
  }

  // Where the meter was (a station: a CF timeSeries) when the user gives a latitude and a
  // longitude; the platform and the meter as container variables.
  const std::optional<double> latitude = userNumber(m_userAttributes, "geospatial_lat");
  const std::optional<double> longitude = userNumber(m_userAttributes, "geospatial_lon");
  const std::optional<double> depth = userNumber(m_userAttributes, "geospatial_vertical");
  m_station = latitude && longitude;
  const std::string serial = measure::serialFromTitle(config.MeterTitle);
  const std::string kind = instrumentKind(config);
  const std::string* platformName = userValue(m_userAttributes, "platform_name");
  std::string positionNames;  // for "coordinates"
  std::vector<std::pair<int, double>> scalars;
  int stationVar = -1;
  std::string stationId;
  if (m_station) {
    auto defineScalar = [&](const char* name, nc_type type, int& varid) {
      return (status = nc_def_var(m_ncid, name, type, 0, nullptr, &varid)) == NC_NOERR;
    };
    auto position = [&](const char* name, const char* standardName, const char* longName, const char* units,
                        const char* axis, double low, double high, double value) {
      int varid = -1;
      if (!defineScalar(name, NC_DOUBLE, varid) || text(varid, "standard_name", standardName) ||
          text(varid, "long_name", longName) || text(varid, "units", units) || text(varid, "axis", axis) ||
          number(varid, "valid_min", low) || number(varid, "valid_max", high) ||
          text(varid, "coverage_content_type", "coordinate") ||
          text(varid, "comment", "where the meter was, as given to the program") ||
          (std::strcmp(axis, "Z") == 0 && text(varid, "positive", "down")))
        return fail(std::string("cannot define the variable '") + name + "'", status);
      scalars.emplace_back(varid, value);
      positionNames += std::string(" ") + name;
      return true;
    };
    if (!position("lat", "latitude", "latitude of the meter", "degrees_north", "Y", -90, 90, *latitude) ||
        !position("lon", "longitude", "longitude of the meter", "degrees_east", "X", -180, 360, *longitude) ||
        (depth && !position("depth", "depth", "depth of the meter below the surface", "m", "Z", kMinDepth, kMaxDepth,
                            *depth)))
      return false;
    stationId = (platformName ? *platformName + "_" : std::string()) +
                (serial.empty() ? std::string(config.MeterTitle) : serial);
    // One time series: its identifier along a dimension of one, as archives index stations.
    int seriesDim = -1;
    if ((status = nc_def_dim(m_ncid, "timeseries", 1, &seriesDim)) != NC_NOERR ||
        (status = nc_def_var(m_ncid, "station", NC_STRING, 1, &seriesDim, &stationVar)) != NC_NOERR ||
        text(stationVar, "cf_role", "timeseries_id") ||
        text(stationVar, "long_name", "station: the platform and the meter's serial number") ||
        text(stationVar, "coverage_content_type", "referenceInformation"))
      return fail("cannot define the variable 'station'", status);
    positionNames += " station";
    int platformVar = -1, instrumentVar = -1;
    const std::string platformLong = platformName ? *platformName : "the platform the meter was on";
    if (!defineScalar("platform", NC_INT, platformVar) || text(platformVar, "long_name", platformLong) ||
        (platformName && text(platformVar, "short_name", *platformName)) ||
        text(platformVar, "coverage_content_type", "referenceInformation") ||
        text(platformVar, "comment", "container variable: the attributes describe the platform"))
      return fail("cannot define the variable 'platform'", status);
    if (!defineScalar("instrument", NC_INT, instrumentVar) ||
        text(instrumentVar, "long_name", kind + (serial.empty() ? "" : " " + serial)) ||
        text(instrumentVar, "make_model", kind) || (!serial.empty() && text(instrumentVar, "serial_number", serial)) ||
        text(instrumentVar, "coverage_content_type", "referenceInformation") ||
        text(instrumentVar, "comment", std::string("container variable; the meter's title line: ") + config.MeterTitle))
      return fail("cannot define the variable 'instrument'", status);
  }

  std::vector<NetcdfVariable> variables = netcdfVariables(config);
  // Each checked variable lists its flag variables beside its raw counts.
  std::vector<std::string> qcVariable;  // per stream: the checked variable's name
  if (qc) {
    for (size_t i = 0; i < qc->streams().size(); ++i) {
      const QcStream& stream = qc->streams()[i];
      auto v = stream.engColumn >= 0 ? variables.begin() + stream.engColumn
                                     : std::find_if(variables.begin(), variables.end(),
                                                    [&](const NetcdfVariable& c) { return c.field == stream.field; });
      qcVariable.push_back(v->name);
      std::string flags = v->name + "_qc";
      for (const qc::Test test : qc::kTests)
        if (qc->config().streams[i].runs(test)) flags += " " + v->name + "_qartod_" + std::string(qc::testName(test));
      v->ancillaryVariables += (v->ancillaryVariables.empty() ? "" : " ") + flags;
    }
  }
  // Scalar coordinates: the wavelength of each wavelength-specific variable, the angle of
  // the volume scattering functions.
  std::map<int, std::string> wavelengthName;
  bool scattering = false;
  for (const NetcdfVariable& v : variables) {
    if (v.wavelength > 0) wavelengthName[v.wavelength] = "radiation_wavelength_" + std::to_string(v.wavelength);
    scattering |= v.scattering;
  }
  auto defineScalar = [&](const std::string& name, const char* standardName, const std::string& longName,
                          const char* units, double value) {
    int varid = -1;
    if ((status = nc_def_var(m_ncid, name.c_str(), NC_DOUBLE, 0, nullptr, &varid)) != NC_NOERR ||
        text(varid, "standard_name", standardName) || text(varid, "long_name", longName) || text(varid, "units", units) ||
        text(varid, "coverage_content_type", "coordinate"))
      return false;
    scalars.emplace_back(varid, value);
    return true;
  };
  for (const auto& [nm, name] : wavelengthName)
    if (!defineScalar(name, "radiation_wavelength", "wavelength the meter measures at", "nm", nm))
      return fail("cannot define the variable '" + name + "'", status);
  if (scattering && !defineScalar("scattering_angle", "scattering_angle",
                                  "angle of the meter's volume scattering measurement", "degree", config.ThetaDegrees))
    return fail("cannot define the variable 'scattering_angle'", status);

  // The position's datum, for the values' grid_mapping.
  if (m_station) {
    int crs = -1;
    if ((status = nc_def_var(m_ncid, "crs", NC_INT, 0, nullptr, &crs)) != NC_NOERR ||
        text(crs, "grid_mapping_name", "latitude_longitude") || text(crs, "long_name", "WGS 84") ||
        number(crs, "semi_major_axis", 6378137.0) || number(crs, "inverse_flattening", 298.257223563) ||
        number(crs, "longitude_of_prime_meridian", 0.0) || text(crs, "epsg_code", "EPSG:4326") ||
        text(crs, "coverage_content_type", "referenceInformation"))
      return fail("cannot define the variable 'crs'", status);
  }

  // The raw counts: one integer variable along the records and the channels, each channel
  // labelled by the counts_<label> stream name's label.
  std::vector<const NetcdfVariable*> channels;
  for (const NetcdfVariable& v : variables)
    if (v.field >= 0) channels.push_back(&v);
  m_countsVar = -1;
  m_channels = channels.size();
  int channelDim = -1, channelVar = -1;
  if (!channels.empty()) {
    std::string ancillary, comment;
    for (const NetcdfVariable* v : channels) {
      if (!v->ancillaryVariables.empty()) ancillary += (ancillary.empty() ? "" : " ") + v->ancillaryVariables;
      comment += (comment.empty() ? "the data line's field of each channel: " : ", ") + v->channel + " " +
                 std::to_string(v->field + 1);
    }
    std::string coordinates = "counts_channel" + positionNames;
    const size_t chunks[2] = {chunk, channels.size()};
    const int intFill = NC_FILL_INT;
    // A chunk holds every channel: the cache must hold one to write it without reading back.
    const size_t cache = std::max(kChunkCacheBytes, chunk * channels.size() * sizeof(int));
    if ((status = nc_def_dim(m_ncid, "channel", channels.size(), &channelDim)) != NC_NOERR ||
        (status = nc_def_var(m_ncid, "counts_channel", NC_STRING, 1, &channelDim, &channelVar)) != NC_NOERR ||
        text(channelVar, "long_name", "channel of the raw counts") ||
        text(channelVar, "coverage_content_type", "coordinate"))
      return fail("cannot define the variable 'counts_channel'", status);
    const int countsDims[2] = {timeDim, channelDim};
    if ((status = nc_def_var(m_ncid, "counts", NC_INT, 2, countsDims, &m_countsVar)) != NC_NOERR ||
        (status = nc_def_var_chunking(m_ncid, m_countsVar, NC_CHUNKED, chunks)) != NC_NOERR ||
        (provenance.deflateLevel > 0 &&
         (status = nc_def_var_deflate(m_ncid, m_countsVar, 1, 1, provenance.deflateLevel)) != NC_NOERR) ||
        (status = nc_set_var_chunk_cache(m_ncid, m_countsVar, cache, 31, 1.0f)) != NC_NOERR ||
        (status = nc_def_var_fill(m_ncid, m_countsVar, 0, &intFill)) != NC_NOERR ||
        (status = nc_put_att_int(m_ncid, m_countsVar, "missing_value", NC_INT, 1, &intFill)) != NC_NOERR ||
        text(m_countsVar, "long_name", "raw counts of each channel, as received") || text(m_countsVar, "units", "1") ||
        number(m_countsVar, "resolution", 1.0) || text(m_countsVar, "cell_methods", "time: point") ||
        text(m_countsVar, "source", "the data line's fields as the meter sent them") ||
        text(m_countsVar, "comment", comment) || text(m_countsVar, "coordinates", coordinates) ||
        (!ancillary.empty() && text(m_countsVar, "ancillary_variables", ancillary)) ||
        text(m_countsVar, "coverage_content_type", "auxiliaryInformation") ||
        (m_station && (text(m_countsVar, "grid_mapping", "crs") || text(m_countsVar, "platform", "platform") ||
                       text(m_countsVar, "instrument", "instrument"))))
      return fail("cannot define the variable 'counts'", status);
  }

  for (const NetcdfVariable& v : variables) {
    Column column;
    column.kind = v.kind;
    column.field = v.field;
    if (v.field >= 0) {
      column.varid = m_countsVar;
      column.channel = static_cast<int>(std::find(channels.begin(), channels.end(), &v) - channels.begin());
      column.buffer.reserve(kBlockRecords);
      m_columns.push_back(std::move(column));
      continue;
    }
    // A coordinate variable needs no naming; the meter's time beside the host's may be
    // missing, so it is ancillary, not a coordinate (which would make the value missing).
    // Along "obs", "time" is named once some record has one (putCoverage()).
    std::string coordinates;
    if (v.wavelength > 0) coordinates += " " + wavelengthName[v.wavelength];
    if (v.scattering) coordinates += " scattering_angle";
    coordinates += positionNames;
    if (!coordinates.empty() && coordinates.front() == ' ') coordinates.erase(0, 1);
    std::string ancillary = v.ancillaryVariables;
    if (m_hostTimes) ancillary += (ancillary.empty() ? "" : " ") + std::string("meter_time");
    // Units UDUNITS does not know (a device file's "RFU") stay in the long name.
    const bool knownUnits = udunitsAccepts(v.units);
    const std::string longName = knownUnits ? v.longName : v.longName + " (in " + v.units + ")";
    const bool auxiliary = v.kind == measure::KindITemp;
    // The channel of the value's own counts, as "counts_channel" labels it.
    std::string channel = "field " + std::to_string(v.field + 1);
    for (const NetcdfVariable* c : channels)
      if (c->kind == v.kind) channel = c->channel;
    const std::optional<double> step = countStep(config, v.kind, v.engColumn);
    column.eng = &measure::kindInfo(v.kind).eng[static_cast<size_t>(v.engColumn)];
    if (!defineDouble(v.name, column.varid) || text(column.varid, "long_name", longName) ||
        (knownUnits && text(column.varid, "units", v.units)) ||
        (!v.standardName.empty() && (text(column.varid, "standard_name", v.standardName) ||
                                     text(column.varid, "standard_name_url", kStandardNameTable))) ||
        (step && number(column.varid, "resolution", *step)) || text(column.varid, "cell_methods", "time: point") ||
        text(column.varid, "source", valueSource(v.kind, v.engColumn, channel)) ||
        (!ancillary.empty() && text(column.varid, "ancillary_variables", ancillary)) ||
        (!coordinates.empty() && text(column.varid, "coordinates", coordinates)) ||
        text(column.varid, "coverage_content_type", auxiliary ? "auxiliaryInformation" : "physicalMeasurement") ||
        (m_station && (text(column.varid, "grid_mapping", "crs") || text(column.varid, "platform", "platform") ||
                       text(column.varid, "instrument", "instrument"))))
      return fail("cannot define the variable '" + v.name + "'", status);
    column.buffer.reserve(kBlockRecords);
    m_columns.push_back(std::move(column));
  }

  // The flag variables: int8, with the flag scheme in their attributes.
  auto defineFlag = [&](const std::string& name, const std::string& standardName, const std::string& longName,
                        int& varid) {
    static const signed char kValues[] = {1, 2, 3, 4, 9};
    const signed char fill = -127;
    if ((status = nc_def_var(m_ncid, name.c_str(), NC_BYTE, 1, &timeDim, &varid)) != NC_NOERR ||
        (status = nc_def_var_chunking(m_ncid, varid, NC_CHUNKED, &flagChunk)) != NC_NOERR ||
        (provenance.deflateLevel > 0 &&
         (status = nc_def_var_deflate(m_ncid, varid, 1, 1, provenance.deflateLevel)) != NC_NOERR) ||
        (status = nc_set_var_chunk_cache(m_ncid, varid, kChunkCacheBytes, 31, 1.0f)) != NC_NOERR ||
        (status = nc_def_var_fill(m_ncid, varid, 0, &fill)) != NC_NOERR)
      return false;
    return !(text(varid, "standard_name", standardName) || text(varid, "long_name", longName) ||
             (status = nc_put_att_schar(m_ncid, varid, "flag_values", NC_BYTE, 5, kValues)) ||
             text(varid, "flag_meanings", "PASS NOT_EVALUATED SUSPECT FAIL MISSING") ||
             (status = nc_put_att_schar(m_ncid, varid, "valid_min", NC_BYTE, 1, &kValues[0])) ||
             (status = nc_put_att_schar(m_ncid, varid, "valid_max", NC_BYTE, 1, &kValues[4])) ||
             text(varid, "coverage_content_type", "qualityInformation") ||
             text(varid, "references", "https://ioos.noaa.gov/project/qartod/"));
  };
  for (size_t i = 0; qc && i < qc->streams().size(); ++i) {
    QcVariables flags;
    const std::string& name = qcVariable[i];
    if (!defineFlag(name + "_qc", "aggregate_quality_flag", "aggregate quality flag of " + name, flags.aggregate))
      return fail("cannot define the variable '" + name + "_qc'", status);
    for (const qc::Test test : qc::kTests) {
      if (!qc->config().streams[i].runs(test)) continue;
      flags.run |= static_cast<uint8_t>(1U << static_cast<int>(test));
      const std::string testName(qc::testName(test));
      int& varid = flags.test[static_cast<size_t>(test)];
      if (!defineFlag(name + "_qartod_" + testName, testName + "_quality_flag",
                      testName.substr(0, testName.size() - 5) + " test quality flag of " + name, varid))
        return fail("cannot define the variable '" + name + "_qartod_" + testName + "'", status);
    }
    for (auto& column : flags.pending) column.reserve(2 * kBlockRecords);
    for (auto& column : flags.bytes) column.reserve(flagChunk + 2 * kBlockRecords);
    m_qc.push_back(std::move(flags));
  }
  if (qc && text(NC_GLOBAL, "qc_configuration", qc->config().text))
    return fail("cannot write the global attributes", status);

  // Discovery metadata (ACDD 1.3): what the program knows, then what the user gives.
  const std::string title = config.MeterTitle;
  const std::string created = provenance.dateCreated.empty() ? nowIsoUtc() : provenance.dateCreated;
  std::string instrument = kind + (serial.empty() ? std::string() : ", serial number " + serial);
  std::string wavelengths;
  for (auto it = wavelengthName.begin(); it != wavelengthName.end(); ++it)
    wavelengths += (it == wavelengthName.begin() ? "" : std::next(it) == wavelengthName.end() ? " and " : ", ") +
                   std::to_string(it->first);
  const std::string summary = "Measurements of a " + kind + (serial.empty() ? "" : " (serial number " + serial + ")") +
                              (wavelengths.empty() ? "" : " at " + wavelengths + " nm") +
                              ", in engineering units with the raw counts they came from, " +
                              (m_hostTimes ? "logged from its serial line by " : "converted from its raw serial output by ") +
                              provenance.program + ".";
  const std::string keywords = gcmdKeywords(config);
  // The IOOS profile's own attributes, which only the user can give.
  bool ioos = m_station;
  for (const char* key : {"creator_country", "creator_email", "creator_institution", "creator_sector", "creator_url",
                          "infoUrl", "license", "naming_authority", "platform", "platform_vocabulary",
                          "publisher_country", "publisher_email", "publisher_institution", "publisher_url"})
    ioos = ioos && userValue(m_userAttributes, key) != nullptr;
  // Nothing here is newer than CF-1.8, so the file names that version too: checkers that know CF only up
  // to 1.8 look for their own version in the list.
  if (text(NC_GLOBAL, "Conventions", ioos ? "CF-1.10, CF-1.8, ACDD-1.3, IOOS-1.2" : "CF-1.10, CF-1.8, ACDD-1.3") || text(NC_GLOBAL, "title", title) ||
      text(NC_GLOBAL, "summary", summary) || text(NC_GLOBAL, "instrument", instrument) ||
      text(NC_GLOBAL, "source", "in-water optical meter, recorded over its serial line") ||
      text(NC_GLOBAL, "standard_name_vocabulary", kStandardNameVocabulary) ||
      (!keywords.empty() && (text(NC_GLOBAL, "keywords", keywords) ||
                             text(NC_GLOBAL, "keywords_vocabulary", "GCMD:GCMD Science Keywords"))) ||
      text(NC_GLOBAL, "uuid", randomUuid()) ||
      (m_station && (text(NC_GLOBAL, "featureType", "timeSeries") || text(NC_GLOBAL, "cdm_data_type", "Station") ||
                     text(NC_GLOBAL, "geospatial_bounds",
                          "POINT (" + measure::cformat("%.9g", *latitude) + " " + measure::cformat("%.9g", *longitude) + ")") ||
                     text(NC_GLOBAL, "geospatial_bounds_crs", "EPSG:4326") ||
                     (depth && text(NC_GLOBAL, "geospatial_bounds_vertical_crs", "EPSG:5831")) ||
                     text(NC_GLOBAL, "cdm_timeseries_variables", "station") ||
                     text(NC_GLOBAL, "ncei_template_version", "NCEI_NetCDF_TimeSeries_Orthogonal_Template_v2.0"))) ||
      text(NC_GLOBAL, "device_file", provenance.deviceFileText) ||
      // The backscatter settings only where they made values.
      (hasBackscatter(config) && (number(NC_GLOBAL, "salinity", asWritten(config.Salinity)) ||
                                  number(NC_GLOBAL, "scattering_angle_deg", config.ThetaDegrees) ||
                                  number(NC_GLOBAL, "x_factor", asWritten(config.XFactor)) ||
                                  text(NC_GLOBAL, "water", config.SeaWater ? "sea" : "fresh"))) ||
      text(NC_GLOBAL, "meter_time_zone", provenance.meterTimeZone.text()) ||
      text(NC_GLOBAL, "history", created + " " + provenance.history) || text(NC_GLOBAL, "date_created", created) ||
      text(NC_GLOBAL, "date_modified", created))
    return fail("cannot write the global attributes", status);
  m_timeSource = provenance.timeSource;
  for (const auto& [key, value] : m_userAttributes) {
    if (const std::string problem = userAttributeProblem(key); !problem.empty()) return fail(problem, NC_NOERR);
    if (const std::string problem = userAttributeValueProblem(key, value); !problem.empty())
      return fail(problem, NC_NOERR);
    const std::optional<double> read = numericAttribute(key) ? finiteNumber(value) : std::nullopt;
    const bool numeric = read.has_value();
    const double parsed = read.value_or(0.0);
    // A single position gives the pair of extents.
    const bool pair = key == "geospatial_lat" || key == "geospatial_lon" || key == "geospatial_vertical";
    if (pair && numeric) {
      const char* units = key == "geospatial_lat" ? "degrees_north" : key == "geospatial_lon" ? "degrees_east" : "m";
      if (number(NC_GLOBAL, (key + "_min").c_str(), parsed) || number(NC_GLOBAL, (key + "_max").c_str(), parsed) ||
          text(NC_GLOBAL, (key + "_units").c_str(), units) ||
          (key == "geospatial_vertical" && text(NC_GLOBAL, "geospatial_vertical_positive", "down")))
        return fail("cannot write the global attribute '" + key + "'", status);
    } else if (numeric ? number(NC_GLOBAL, key.c_str(), parsed) : text(NC_GLOBAL, key.c_str(), value)) {
      return fail("cannot write the global attribute '" + key + "'", status);
    }
  }

  if (!putUserVariableAttributes(provenance.variableAttributes)) return false;
  if ((status = nc_enddef(m_ncid)) != NC_NOERR) return fail("cannot write the file's definitions", status);
  for (const auto& [varid, value] : scalars)
    if ((status = nc_put_var_double(m_ncid, varid, &value)) != NC_NOERR)
      return fail("cannot write the scalar coordinates", status);
  if (channelVar >= 0) {
    std::vector<const char*> labels;
    for (const NetcdfVariable* v : channels) labels.push_back(v->channel.c_str());
    if ((status = nc_put_var_string(m_ncid, channelVar, labels.data())) != NC_NOERR)
      return fail("cannot write the variable 'counts_channel'", status);
  }
  if (stationVar >= 0) {
    const char* id = stationId.c_str();
    if ((status = nc_put_var_string(m_ncid, stationVar, &id)) != NC_NOERR)
      return fail("cannot write the variable 'station'", status);
  }
  m_times.reserve(kBlockRecords);
  return true;
}

// The user's variable attributes, after everything the program defines. A variable named
// whole may not get what the program wrote on it (refused); a pattern leaves those alone. A
// name that matches no variable is told.
bool NetcdfWriter::putUserVariableAttributes(const std::vector<UserVariableAttribute>& attributes) {
  int count = 0;
  nc_inq_nvars(m_ncid, &count);
  std::vector<std::string> names;
  for (int v = 0; v < count; ++v) {
    char name[NC_MAX_NAME + 1] = {};
    nc_inq_varname(m_ncid, v, name);
    names.emplace_back(name);
  }
  // Who gave each attribute the user wrote: a variable's own name first, then the patterns.
  std::map<std::pair<int, std::string>, const UserVariableAttribute*> given;
  std::set<std::string> matched;
  for (const bool patterns : {false, true}) {
    for (const UserVariableAttribute& a : attributes) {
      if ((a.variable.find('*') != std::string::npos) != patterns) continue;
      for (int v = 0; v < count; ++v) {
        if (!variableNameMatches(a.variable, names[static_cast<size_t>(v)])) continue;
        matched.insert(a.variable);
        const std::string what = a.origin + ": variable '" + names[static_cast<size_t>(v)] + "': '" + a.name + "'";
        if (const auto earlier = given.find({v, a.name}); earlier != given.end()) {
          if (!patterns || earlier->second->variable.find('*') == std::string::npos) continue;  // its own name wins
          return fail(what + " is also given by '" + earlier->second->variable + "' (" + earlier->second->origin + ")",
                      NC_NOERR);
        }
        if (nc_inq_attid(m_ncid, v, a.name.c_str(), nullptr) == NC_NOERR) {
          // A pattern ("*": {references: ...}) leaves the program's own value where it wrote one.
          if (patterns) continue;
          return fail(what + " is written by the program", NC_NOERR);
        }
        if (const std::string why = userVariableAttributeProblem(a.name, a.value); !why.empty())
          return fail(a.origin + ": variable '" + names[static_cast<size_t>(v)] + "': " + why, NC_NOERR);
        int status = NC_NOERR;
        const std::optional<double> number =
            numericVariableAttribute(a.name) ? finiteNumber(a.value) : std::optional<double>();
        if (number) {
          // In the variable's own type, as CF asks of valid_min and valid_max.
          nc_type type = NC_DOUBLE;
          nc_inq_vartype(m_ncid, v, &type);
          const bool whole = type == NC_BYTE || type == NC_SHORT || type == NC_INT || type == NC_INT64 ||
                             type == NC_UBYTE || type == NC_USHORT || type == NC_UINT || type == NC_UINT64;
          if (type != NC_FLOAT && !whole) type = NC_DOUBLE;
          if (whole && *number != std::trunc(*number))
            return fail(what + " must be a whole number, as the variable's values are", NC_NOERR);
          status = nc_put_att_double(m_ncid, v, a.name.c_str(), type, 1, &*number);
          if (status == NC_ERANGE) return fail(what + " is out of the range of the variable's type", NC_NOERR);
        } else {
          status = nc_put_att_text(m_ncid, v, a.name.c_str(), a.value.size(), a.value.c_str());
        }
        if (status != NC_NOERR) return fail("cannot write " + what, status);
        given[{v, a.name}] = &a;
      }
    }
  }
  // A name no variable has is likely a slip; a pattern may be meant for other meters' files.
  for (const UserVariableAttribute& a : attributes)
    if (a.variable.find('*') == std::string::npos && matched.insert(a.variable).second)  // once per name
      m_warnings.push_back(a.origin + ": no variable '" + a.variable + "' in this file; its attributes are left out");
  return true;
}

bool NetcdfWriter::write(std::optional<double> time, const measure::SampleState& sample,
                         const measure::EngValues& values) {
  // With quality flags, a record written without them gets them from writeFlags().
  if (!m_qc.empty()) m_flagsApart = true;
  return writeRecord(time, sample, values);
}

bool NetcdfWriter::writeRecord(std::optional<double> time, const measure::SampleState& sample,
                               const measure::EngValues& values) {
  return takeRecord(time, [&](const Column& column) {
    return column.eng ? measure::engValue(values, *column.eng, column.kind)
                      : sample.SampleValues[static_cast<size_t>(column.field)];
  });
}

std::vector<const double*> NetcdfWriter::valueSources(const measure::SampleState& sample,
                                                      const measure::EngValues& values) const {
  std::vector<const double*> sources;
  for (const Column& column : m_columns) {
    const measure::EngColumn* eng = column.eng;
    sources.push_back(!eng          ? &sample.SampleValues[static_cast<size_t>(column.field)]
                      : eng->value ? &(values.*eng->value)
                                   : &(values.*eng->perKind)[static_cast<size_t>(column.kind)]);
  }
  return sources;
}

bool NetcdfWriter::openToWrite() {
  if (m_ncid >= 0) return true;
  if (m_error.empty()) m_error = "the NetCDF file is not open";
  return false;
}

bool NetcdfWriter::writeColumns(const double* seconds, const double* columns, size_t n, size_t stride) {
  if (!openToWrite()) return false;
  if (!m_qc.empty()) m_flagsApart = true;
  for (size_t k = 0; k < n; ++k) noteTime(std::isnan(seconds[k]) ? std::nullopt : std::optional<double>(seconds[k]));
  for (size_t j = 0; j < m_columns.size(); ++j) {
    std::vector<double>& buffer = m_columns[j].buffer;
    buffer.insert(buffer.end(), columns + j * stride, columns + j * stride + n);
  }
  m_records += static_cast<long long>(n);
  // Flags given apart: the blocks go out as their flags come in (writeFlags()).
  return m_flagsApart || m_times.size() < kBlockRecords || flush(true);
}

void NetcdfWriter::noteTime(std::optional<double> time) {
  m_times.push_back(time ? *time : kNetcdfFill);
  // A coordinate variable holds no fill value and only grows.
  if (!m_hostTimes && (!time || !std::isfinite(*time) || (m_anyTime && *time <= m_lastTime))) m_timeBroken = true;
  if (time && std::isfinite(*time)) {
    if (m_anyTime && m_steps.size() < kResolutionSteps && *time > m_lastTime) m_steps.push_back(*time - m_lastTime);
    if (!m_anyTime) m_firstTime = *time;
    m_lastTime = m_anyTime ? std::max(m_lastTime, *time) : *time;
    m_firstTime = std::min(m_firstTime, *time);
    m_anyTime = true;
  }
}

template <typename ValueOf>
bool NetcdfWriter::takeRecord(std::optional<double> time, ValueOf valueOf) {
  if (!openToWrite()) return false;
  noteTime(time);
  for (Column& column : m_columns) column.buffer.push_back(valueOf(column));
  ++m_records;
  // Flags given apart: the block goes out when its flags are in (writeFlags()).
  return m_times.size() < kBlockRecords || m_flagsApart || flush(m_qc.empty());
}

bool NetcdfWriter::write(std::optional<double> time, const measure::SampleState& sample,
                         const measure::EngValues& values, const std::vector<qc::Flags>& flags) {
  for (size_t i = 0; i < m_qc.size() && i < flags.size(); ++i) m_qc[i].push(flags[i]);
  return writeRecord(time, sample, values);
}

bool NetcdfWriter::write(const SampleTimes& times, const measure::SampleState& sample,
                         const measure::EngValues& values, const std::vector<qc::Flags>* flags) {
  if (!m_hostTimes) {
    return flags ? write(times.meterEpochSeconds, sample, values, *flags)
                 : write(times.meterEpochSeconds, sample, values);
  }
  std::optional<double> host;
  if (times.host) host = std::chrono::duration<double>(times.host->time_since_epoch()).count();
  else if (m_anyTime) host = m_lastTime;  // a coordinate has no gaps
  else host = times.meterEpochSeconds;
  m_meterTimes.push_back(times.meterEpochSeconds ? *times.meterEpochSeconds : kNetcdfFill);
  if (flags)
    for (size_t i = 0; i < m_qc.size() && i < flags->size(); ++i) m_qc[i].push((*flags)[i]);
  return writeRecord(host ? host : std::optional<double>(0.0), sample, values);
}

bool NetcdfWriter::writeMissing(const SampleTimes& times) {
  if (m_ncid < 0) return write(times, {}, {});
  measure::SampleState sample;
  sample.SampleValues.fill(kNetcdfFill);
  const size_t first = m_columns.size() > 0 ? m_columns[0].buffer.size() : 0;
  std::vector<qc::Flags> flags(m_qc.size());
  for (qc::Flags& f : flags) {
    for (const qc::Test test : qc::kTests) f[test] = qc::Flag::Missing;
    f.run = (1U << qc::kTestCount) - 1;
  }
  if (!write(times, sample, {}, m_qc.empty() ? nullptr : &flags)) return false;
  // The engineering columns too: no value, not what empty values convert to.
  for (Column& column : m_columns)
    if (column.buffer.size() > first) column.buffer.back() = kNetcdfFill;
  return true;
}

void NetcdfWriter::setLastSpike(const std::vector<std::optional<qc::Flag>>& spike) {
  for (size_t i = 0; i < m_qc.size() && i < spike.size(); ++i) {
    QcVariables::Columns& pending = m_qc[i].pending;
    if (!spike[i] || pending[0].empty()) continue;
    pending[1 + static_cast<size_t>(qc::Test::Spike)].back() = static_cast<signed char>(*spike[i]);
    qc::Flags flags;
    for (size_t t = 0; t < qc::kTestCount; ++t) flags.test[t] = static_cast<qc::Flag>(pending[1 + t].back());
    flags.run = m_qc[i].run;
    pending[0].back() = static_cast<signed char>(flags.aggregate());
  }
}

size_t NetcdfWriter::flagsIn(const QcVariables& flags) const {
  if (!flagsStraightOut()) return flags.pending[0].size();
  return m_flagsFrom + flags.bytes[0].size() - static_cast<size_t>(m_written);
}

bool NetcdfWriter::writeFlags(const uint8_t* flags, size_t n, size_t stride) {
  m_flagsApart = true;
  // In order, the flags need not wait for their records: they go with the bytes that are
  // written a chunk at a time (one copy of them fewer).
  for (size_t i = 0; i < m_qc.size(); ++i) {
    QcVariables::Columns& to = flagsStraightOut() ? m_qc[i].bytes : m_qc[i].pending;
    for (size_t c = 0; c < to.size(); ++c) {
      const auto* column = reinterpret_cast<const signed char*>(flags + (i * to.size() + c) * stride);
      to[c].insert(to[c].end(), column, column + n);
    }
  }
  // Whole blocks, as records without flags go out.
  while (!m_qc.empty() && flagsIn(m_qc[0]) >= kBlockRecords && m_times.size() >= kBlockRecords)
    if (!flush(false)) return false;
  return true;
}

bool NetcdfWriter::flush(bool all) {
  size_t count = m_times.size();
  if (m_flagsApart) {
    // The records whose flags are in, a block at a time until the end.
    for (const QcVariables& flags : m_qc) count = std::min(count, flagsIn(flags));
    if (!all) count = std::min(count, kBlockRecords);
  } else if (!all) {
    // With quality flags the last record waits for its spike flag, which comes with the next.
    count -= std::min<size_t>(count, 1);
  }
  if (count == 0 && (!all || m_qc.empty() || m_qc[0].bytes[0].empty())) return true;
  const size_t first = static_cast<size_t>(m_written);
  // Runs of records bound for consecutive places: one run when the records come in order.
  struct Run {
    size_t from, to, count;
  };
  std::vector<Run> runs;
  for (size_t r = 0; r < count; ++r) {
    const size_t place = m_places.empty() ? first + r : first + r < m_places.size() ? m_places[first + r] : first + r;
    if (!runs.empty() && runs.back().to + runs.back().count == place && runs.back().from + runs.back().count == r)
      ++runs.back().count;
    else
      runs.push_back({r, place, 1});
  }
  const auto failed = [&](int status) {
    return fail("cannot write records " + std::to_string(first + 1) + " to " + std::to_string(first + count) + " of '" +
                    m_path + "'",
                status);
  };
  const auto putDoubles = [&](int varid, const std::vector<double>& values) {
    int status = NC_NOERR;
    for (const Run& run : runs)
      if (status == NC_NOERR) status = nc_put_vara_double(m_ncid, varid, &run.to, &run.count, values.data() + run.from);
    return status;
  };
  int status = putDoubles(m_timeVar, m_times);
  if (status == NC_NOERR && m_meterTimeVar >= 0) status = putDoubles(m_meterTimeVar, m_meterTimes);
  if (status != NC_NOERR) return failed(status);
  // The counts, record by record, every channel of a record together. A field that is no
  // whole number in the int range (not a count) is the fill value.
  if (m_countsVar >= 0) {
    m_countCells.assign(count * m_channels, NC_FILL_INT);
    for (const Column& column : m_columns) {
      if (column.channel < 0) continue;
      for (size_t r = 0; r < count; ++r) {
        const double c = column.buffer[r];
        if (c == std::trunc(c) && c >= std::numeric_limits<int>::min() + 1.0 && c <= std::numeric_limits<int>::max())
          m_countCells[r * m_channels + static_cast<size_t>(column.channel)] = static_cast<int>(c);
      }
    }
    for (const Run& run : runs) {
      const size_t start[2] = {run.to, 0}, extent[2] = {run.count, m_channels};
      if ((status = nc_put_vara_int(m_ncid, m_countsVar, start, extent, m_countCells.data() + run.from * m_channels)) !=
          NC_NOERR)
        return failed(status);
    }
  }
  for (Column& column : m_columns) {
    if (column.channel < 0 && (status = putDoubles(column.varid, column.buffer)) != NC_NOERR) return failed(status);
    column.buffer.erase(column.buffer.begin(), column.buffer.begin() + static_cast<std::ptrdiff_t>(count));
  }
  // The flags as bytes, one pass per stream. In order they wait for a whole chunk of the
  // flag variables (a put per 4,096 records and 70 variables cost more than the checks).
  const bool inOrder = m_places.empty();
  for (QcVariables& flags : m_qc) {
    if (flagsStraightOut()) break;  // already with the bytes
    for (auto& bytes : flags.bytes) {
      if (!inOrder) bytes.clear();
      bytes.reserve(inOrder ? m_flagChunkRecords + kBlockRecords : count);
    }
    for (size_t v = 0; v < flags.bytes.size(); ++v) {
      std::vector<signed char>& pending = flags.pending[v];
      flags.bytes[v].insert(flags.bytes[v].end(), pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(count));
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(count));
    }
    for (size_t v = 0; !inOrder && v < flags.bytes.size(); ++v) {
      const int varid = v == 0 ? flags.aggregate : flags.test[v - 1];
      for (const Run& run : runs)
        if (varid >= 0 && status == NC_NOERR)
          status = nc_put_vara_schar(m_ncid, varid, &run.to, &run.count, flags.bytes[v].data() + run.from);
    }
    if (status != NC_NOERR) return failed(status);
  }
  if (inOrder && !m_qc.empty() && (all || m_qc[0].bytes[0].size() >= m_flagChunkRecords)) {
    size_t n = m_qc[0].bytes[0].size();
    // Whole chunks until the end: the bytes that came straight in need not end at one.
    if (!all && flagsStraightOut()) n -= n % m_flagChunkRecords;
    for (QcVariables& flags : m_qc)
      for (size_t v = 0; v < flags.bytes.size(); ++v) {
        const int varid = v == 0 ? flags.aggregate : flags.test[v - 1];
        if (varid >= 0 && status == NC_NOERR && n > 0)
          status = nc_put_vara_schar(m_ncid, varid, &m_flagsFrom, &n, flags.bytes[v].data());
        flags.bytes[v].erase(flags.bytes[v].begin(), flags.bytes[v].begin() + static_cast<std::ptrdiff_t>(n));
      }
    if (status != NC_NOERR) return failed(status);
    m_flagsFrom += n;
  }
  m_times.erase(m_times.begin(), m_times.begin() + static_cast<std::ptrdiff_t>(count));
  if (m_meterTimeVar >= 0)
    m_meterTimes.erase(m_meterTimes.begin(), m_meterTimes.begin() + static_cast<std::ptrdiff_t>(count));
  m_written += static_cast<long long>(count);
  return true;
}

// What the records covered, known at the end: time_coverage_*, and an id made of the
// meter's serial number (or title) and the first time. The user's own id stays.
bool NetcdfWriter::putCoverage() {
  int status = nc_redef(m_ncid);
  auto text = [&](const char* name, const std::string& value) {
    return status == NC_NOERR && (status = nc_put_att_text(m_ncid, NC_GLOBAL, name, value.size(), value.c_str())) == NC_NOERR;
  };
  std::string serial = measure::serialFromTitle(m_config.MeterTitle);
  if (serial.empty())
    for (const char c : m_config.MeterTitle)
      serial += (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ? c : '_';
  std::string stamp;
  bool ok = status == NC_NOERR;
  if (m_anyTime) {
    std::vector<double> steps = m_steps;
    std::sort(steps.begin(), steps.end());
    stamp = isoUtc(m_firstTime);
    ok = text("time_coverage_start", stamp) && text("time_coverage_end", isoUtc(m_lastTime)) &&
         text("time_coverage_duration", isoDuration(m_lastTime - m_firstTime)) &&
         (steps.empty() || text("time_coverage_resolution", isoStep(steps[steps.size() / 2])));
    stamp.erase(std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c == '-' || c == ':'; }), stamp.end());
  }
  // Unique: the meter and its first time, or (no time at all) the file's uuid.
  if (stamp.empty()) {
    char uuid[40] = {};
    size_t length = 0;
    if (nc_inq_attlen(m_ncid, NC_GLOBAL, "uuid", &length) == NC_NOERR && length < sizeof uuid &&
        nc_get_att_text(m_ncid, NC_GLOBAL, "uuid", uuid) == NC_NOERR)
      stamp = uuid;
  }
  // Along "obs", the meter's time is a coordinate of every value once some record has one.
  for (size_t c = 0; ok && !m_timeAxis && m_anyTime && c < m_columns.size(); ++c) {
    if (m_columns[c].channel > 0) continue;  // "counts" once
    size_t length = 0;
    std::string coordinates = "time";
    if (nc_inq_attlen(m_ncid, m_columns[c].varid, "coordinates", &length) == NC_NOERR) {
      std::string old(length, ' ');
      nc_get_att_text(m_ncid, m_columns[c].varid, "coordinates", old.data());
      coordinates += " " + old;
    }
    ok = (status = nc_put_att_text(m_ncid, m_columns[c].varid, "coordinates", coordinates.size(), coordinates.c_str())) ==
         NC_NOERR;
  }
  // The values are at instants of time ("time: point"); records with no time at all lie
  // along "obs" (now, or once relaid), which then stands for the instants.
  constexpr std::string_view kObsPoint = "obs: point";
  const bool timeless = !m_hostTimes && !m_anyTime && (!m_timeAxis || m_timeBroken);
  for (size_t c = 0; ok && timeless && c < m_columns.size(); ++c)
    if (m_columns[c].channel <= 0)
      ok = (status = nc_put_att_text(m_ncid, m_columns[c].varid, "cell_methods", kObsPoint.size(), kObsPoint.data())) == NC_NOERR;
  if (ok && userValue(m_userAttributes, "id") == nullptr) ok = text("id", serial + (stamp.empty() ? "" : "_" + stamp));
  if (ok)
    ok = text("time_source", m_hostTimes || m_anyTime ? m_timeSource
                                                      : std::string("none: no record has a time; records in the order received"));
  if (ok) status = nc_enddef(m_ncid);
  if (!ok || status != NC_NOERR) return fail("cannot write the time coverage of '" + m_path + "'", status);
  return true;
}

// The file again along "obs" (a conversion whose meter time had a gap or went back, so
// it cannot be the coordinate): every variable, attribute and value copied, the time
// becoming an auxiliary coordinate that may hold fill values.
bool NetcdfWriter::relayAlongObs() {
  int status = nc_close(m_ncid);
  m_ncid = -1;
  if (status != NC_NOERR) return fail("cannot complete '" + m_path + "'", status);
  int in = -1, out = -1;
  if ((status = nc_open(m_temporary.c_str(), NC_NOWRITE, &in)) != NC_NOERR)
    return fail("cannot read back '" + m_temporary + "'", status);
  const std::string target = m_temporary + "o";
  const auto failed = [&](int why) {
    if (out >= 0) nc_abort(out);
    nc_close(in);
    std::remove(target.c_str());
    return fail("cannot lay out '" + m_path + "' along obs", why);
  };
  if ((status = nc_create(target.c_str(), NC_NETCDF4 | NC_CLOBBER, &out)) != NC_NOERR) return failed(status);
  // The record dimension becomes "obs"; the others ("timeseries", "channel") stay as they are.
  int recordDim = -1, ndimsIn = 0, nvars = 0, natts = 0;
  nc_inq_unlimdim(in, &recordDim);
  nc_inq_ndims(in, &ndimsIn);
  std::vector<int> dimOut(static_cast<size_t>(ndimsIn), -1);
  for (int d = 0; d < ndimsIn; ++d) {
    char name[NC_MAX_NAME + 1] = {};
    size_t length = 0;
    nc_inq_dim(in, d, name, &length);
    if ((status = nc_def_dim(out, d == recordDim ? "obs" : name, d == recordDim ? NC_UNLIMITED : length,
                             &dimOut[static_cast<size_t>(d)])) != NC_NOERR)
      return failed(status);
  }
  nc_inq_nvars(in, &nvars);
  std::set<int> columns;
  for (const Column& c : m_columns) columns.insert(c.varid);
  const double fill = kNetcdfFill;
  for (int v = 0; v < nvars; ++v) {
    char name[NC_MAX_NAME + 1] = {};
    nc_type type = NC_NAT;
    int ndims = 0, atts = 0, varid = -1, shuffle = 0, deflate = 0, level = 0;
    int dims[NC_MAX_VAR_DIMS] = {}, outDims[NC_MAX_VAR_DIMS] = {};
    nc_inq_var(in, v, name, &type, &ndims, dims, &atts);
    for (int d = 0; d < ndims; ++d) outDims[d] = dimOut[static_cast<size_t>(dims[d])];
    const bool record = ndims > 0 && dims[0] == recordDim;
    if ((status = nc_def_var(out, name, type, ndims, outDims, &varid)) != NC_NOERR) return failed(status);
    if (record) {
      size_t chunks[NC_MAX_VAR_DIMS] = {};
      size_t cacheSize = 0, cacheElements = 0;
      float preemption = 0;
      nc_inq_var_chunking(in, v, nullptr, chunks);
      nc_get_var_chunk_cache(in, v, &cacheSize, &cacheElements, &preemption);
      nc_inq_var_deflate(in, v, &shuffle, &deflate, &level);
      if ((status = nc_def_var_chunking(out, varid, NC_CHUNKED, chunks)) != NC_NOERR ||
          (deflate && (status = nc_def_var_deflate(out, varid, shuffle, 1, level)) != NC_NOERR) ||
          (status = nc_set_var_chunk_cache(out, varid, std::max(cacheSize, kChunkCacheBytes), 31, 1.0f)) != NC_NOERR ||
          (v == m_timeVar && (status = nc_def_var_fill(out, varid, 0, &fill)) != NC_NOERR))
        return failed(status);
    }
    for (int a = 0; a < atts; ++a) {
      char att[NC_MAX_NAME + 1] = {};
      nc_inq_attname(in, v, a, att);
      if (std::strcmp(att, "_FillValue") != 0 || v != m_timeVar)
        if ((status = nc_copy_att(in, v, att, out, varid)) != NC_NOERR) return failed(status);
    }
    // The time is now an auxiliary coordinate of every value, where it is known at all.
    if (columns.count(v) && m_anyTime) {
      size_t length = 0;
      std::string coordinates = "time";
      if (nc_inq_attlen(in, v, "coordinates", &length) == NC_NOERR) {
        std::string old(length, ' ');
        nc_get_att_text(in, v, "coordinates", old.data());
        coordinates += " " + old;
      }
      if ((status = nc_put_att_text(out, varid, "coordinates", coordinates.size(), coordinates.c_str())) != NC_NOERR)
        return failed(status);
    }
  }
  nc_inq_natts(in, &natts);
  for (int a = 0; a < natts; ++a) {
    char att[NC_MAX_NAME + 1] = {};
    nc_inq_attname(in, NC_GLOBAL, a, att);
    if ((status = nc_copy_att(in, NC_GLOBAL, att, out, NC_GLOBAL)) != NC_NOERR) return failed(status);
  }
  if ((status = nc_enddef(out)) != NC_NOERR) return failed(status);
  size_t records = 0;
  nc_inq_dimlen(in, recordDim, &records);
  std::vector<double> doubles;
  std::vector<int> ints;
  std::vector<signed char> bytes;
  for (int v = 0; v < nvars && status == NC_NOERR; ++v) {
    nc_type type = NC_NAT;
    int ndims = 0, dims[NC_MAX_VAR_DIMS] = {};
    nc_inq_var(in, v, nullptr, &type, &ndims, dims, nullptr);
    if (ndims == 0 || dims[0] != recordDim) {
      // Not along the records: a scalar, the station or the channels' labels.
      size_t length = 1;
      if (ndims == 1) nc_inq_dimlen(in, dims[0], &length);
      if (type == NC_STRING) {
        std::vector<char*> text(length);
        if ((status = nc_get_var_string(in, v, text.data())) == NC_NOERR) {
          status = nc_put_var_string(out, v, const_cast<const char**>(text.data()));
          nc_free_string(length, text.data());
        }
      } else if (type == NC_DOUBLE) {
        doubles.resize(length);
        if ((status = nc_get_var_double(in, v, doubles.data())) == NC_NOERR) status = nc_put_var_double(out, v, doubles.data());
      }
      continue;
    }
    size_t width = 1;  // values per record
    if (ndims == 2) nc_inq_dimlen(in, dims[1], &width);
    for (size_t from = 0; from < records && status == NC_NOERR; from += kBlockRecords) {
      const size_t start[2] = {from, 0}, count[2] = {std::min(kBlockRecords, records - from), width};
      const size_t cells = count[0] * width;
      if (type == NC_BYTE) {
        bytes.resize(cells);
        if ((status = nc_get_vara_schar(in, v, start, count, bytes.data())) == NC_NOERR)
          status = nc_put_vara_schar(out, v, start, count, bytes.data());
      } else if (type == NC_INT) {
        ints.resize(cells);
        if ((status = nc_get_vara_int(in, v, start, count, ints.data())) == NC_NOERR)
          status = nc_put_vara_int(out, v, start, count, ints.data());
      } else {
        doubles.resize(cells);
        if ((status = nc_get_vara_double(in, v, start, count, doubles.data())) == NC_NOERR)
          status = nc_put_vara_double(out, v, start, count, doubles.data());
      }
    }
  }
  if (status != NC_NOERR) return failed(status);
  nc_close(in);
  if ((status = nc_close(out)) != NC_NOERR) {
    out = -1;
    std::remove(target.c_str());
    return fail("cannot lay out '" + m_path + "' along obs", status);
  }
  std::remove(m_temporary.c_str());
  m_temporary = target;
  // finish() closes nothing more: reopen, so its close and rename go as usual.
  if ((status = nc_open(m_temporary.c_str(), NC_WRITE, &m_ncid)) != NC_NOERR) {
    m_ncid = -1;
    return fail("cannot complete '" + m_path + "'", status);
  }
  return true;
}

void NetcdfWriter::quietOnThisThread() {
  thread_local const bool quiet = [] { return H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr) >= 0; }();
  (void)quiet;
}

bool NetcdfWriter::finish() {
  if (!openToWrite()) return false;
  if (!flush(true)) return false;
  if (!m_times.empty())
    return fail("cannot complete '" + m_path + "': " + std::to_string(m_times.size()) + " records without their flags",
                NC_NOERR);
  if (!putCoverage()) return false;
  if (m_timeAxis && m_timeBroken && !relayAlongObs()) return false;
  if (!m_places.empty() && m_places.size() != static_cast<size_t>(m_records))
    return fail("cannot complete '" + m_path + "': " + std::to_string(m_records) + " records for " +
                    std::to_string(m_places.size()) + " places",
                NC_NOERR);
  // A close that fails leaves the file open in the library: fail() aborts it.
  const int status = nc_close(m_ncid);
  if (status != NC_NOERR) return fail("cannot complete '" + m_path + "'", status);
  m_ncid = -1;
  if (std::rename(m_temporary.c_str(), m_path.c_str()) != 0)
    return fail("cannot rename '" + m_temporary + "' to '" + m_path + "': " + std::strerror(errno), NC_NOERR);
  m_temporary.clear();
  m_columns.clear();
  return true;
}

}  // namespace files
