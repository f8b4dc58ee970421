// maru convert --format csv|netcdf on every example recording: the files read back through
// the NetCDF C library, Python's netCDF4 and csv modules, and LibreOffice, against the
// checked .eng files and the meter dates and times in the raw files; the attributes CF
// asks for; and failures that leave no file behind.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <netcdf.h>

#include <chrono>
#include <cmath>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "support/ncattributes.h"
#include "support/testfiles.h"

namespace {

using testsupport::readFile;
using testsupport::splitLines;
using testsupport::TempDir;
using testsupport::writeFile;

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun run(const QString& program, const QStringList& args, int timeoutMs = 120000) {
  QProcess p;
  p.start(program, args);
  ToolRun r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    r.err = "timed out";
    return r;
  }
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

ToolRun runMaru(const std::vector<std::string>& args) {
  QStringList list;
  for (const std::string& a : args) list << QString::fromStdString(a);
  return run(QString(MARU_TOOL), list);
}

using testsupport::example;

std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  size_t at = 0;
  for (;;) {
    const size_t end = line.find(separator, at);
    fields.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return fields;
    at = end + 1;
  }
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::vector<std::vector<std::string>> table(const std::string& path, char separator) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : splitLines(readFile(path))) rows.push_back(split(line, separator));
  return rows;
}

// The meter's reading in a raw line ("MM/DD/YY<TAB>HH:MM:SS<TAB>…") as UTC seconds and as
// ISO 8601 text with the zone; nothing for a line without both.
struct RawStamp {
  std::optional<double> epoch;
  std::string iso;
};

// The meter's time on a raw line read in a zone `offsetMinutes` east of UTC: its epoch
// seconds and the CSV's UTC text.
RawStamp rawStamp(const std::string& line, int offsetMinutes) {
  int mo = 0, d = 0, y = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  if (std::sscanf(line.c_str(), "%2d/%2d/%2d\t%2d:%2d:%2d%c", &mo, &d, &y, &h, &mi, &s, &tail) < 6) return {};
  using namespace std::chrono;
  const sys_days day{year{2000 + y} / month{static_cast<unsigned>(mo)} / std::chrono::day{static_cast<unsigned>(d)}};
  const sys_seconds utc = day + hours{h} + minutes{mi} + seconds{s} - minutes{offsetMinutes};
  const sys_days utcDay = floor<days>(utc);
  const year_month_day date{utcDay};
  const hh_mm_ss<seconds> time{utc - utcDay};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.000Z", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return {static_cast<double>(utc.time_since_epoch().count()), text};
}

// Half a unit in the last printed digit of `text`.
double halfLastDigit(const std::string& text) {
  const size_t dot = text.find('.');
  const int decimals = dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
  return 0.5 * std::pow(10.0, -decimals);
}

// A NetCDF file open for reading, closed when done.
class NcFile {
 public:
  explicit NcFile(const std::string& path) { m_status = nc_open(path.c_str(), NC_NOWRITE, &m_id); }
  ~NcFile() {
    if (m_status == NC_NOERR) nc_close(m_id);
  }
  bool ok() const { return m_status == NC_NOERR; }
  int id() const { return m_id; }
  int varid(const std::string& name) const {
    int v = -1;
    return nc_inq_varid(m_id, name.c_str(), &v) == NC_NOERR ? v : -1;
  }
  std::vector<double> doubles(const std::string& name) const {
    const int v = varid(name);
    int dims[NC_MAX_VAR_DIMS] = {}, ndims = 0;
    size_t length = 0;
    if (v < 0 || nc_inq_varndims(m_id, v, &ndims) != NC_NOERR || ndims != 1 ||
        nc_inq_vardimid(m_id, v, dims) != NC_NOERR || nc_inq_dimlen(m_id, dims[0], &length) != NC_NOERR)
      return {};
    std::vector<double> values(length);
    if (length && nc_get_var_double(m_id, v, values.data()) != NC_NOERR) return {};
    return values;
  }
  // One channel of the raw counts, by its label.
  std::vector<double> counts(const std::string& label) const { return testsupport::ncCountsChannel(m_id, label); }
  // A text attribute; nothing when missing or not text.
  std::optional<std::string> text(int varid, const char* name) const {
    nc_type type = NC_NAT;
    size_t length = 0;
    if (nc_inq_att(m_id, varid, name, &type, &length) != NC_NOERR || type != NC_CHAR) return std::nullopt;
    std::string value(length, '\0');
    nc_get_att_text(m_id, varid, name, value.data());
    return value;
  }
  std::optional<double> number(int varid, const char* name) const {
    nc_type type = NC_NAT;
    size_t length = 0;
    double value = 0;
    if (nc_inq_att(m_id, varid, name, &type, &length) != NC_NOERR || type != NC_DOUBLE || length != 1 ||
        nc_get_att_double(m_id, varid, name, &value) != NC_NOERR)
      return std::nullopt;
    return value;
  }

 private:
  int m_id = -1;
  int m_status = NC_EBADID;
};

const char* const kExamples[] = {"bb3", "flcd", "flasv", "ntu"};

struct Zone {
  const char* option;
  int minutes;
};
const Zone kZones[] = {{"UTC", 0}, {"+02:00", 120}, {"-03:30", -210}};

struct ArchiveCase {
  const char* name;
  Zone zone;
};

void PrintTo(const ArchiveCase& c, std::ostream* os) { *os << c.name << " " << c.zone.option; }

std::vector<ArchiveCase> allCases() {
  std::vector<ArchiveCase> cases;
  for (const char* name : kExamples)
    for (const Zone& zone : kZones) cases.push_back({name, zone});
  return cases;
}

class ArchiveFormats : public ::testing::TestWithParam<ArchiveCase> {
 protected:
  // Converts the example to csv and netcdf in `dir`.
  void convert(const TempDir& dir) {
    const ArchiveCase& c = GetParam();
    m_nc = dir.file(std::string(c.name) + ".nc");
    m_csv = dir.file(std::string(c.name) + ".csv");
    for (const auto& [format, out] : {std::pair{"netcdf", m_nc}, std::pair{"csv", m_csv}}) {
      const ToolRun r = runMaru({"convert", "--dev", example(std::string(c.name) + ".dev"), "--format", format,
                                 "--meter-tz", c.zone.option, example(std::string(c.name) + ".raw"), "-o", out});
      ASSERT_EQ(r.status, 0) << format << ": " << r.err;
    }
  }
  std::string m_nc, m_csv;
};

TEST_P(ArchiveFormats, NetcdfAndCsvAgreeWithTheEngFileAndTheRawClock) {
  const ArchiveCase& c = GetParam();
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(convert(dir));
  const auto eng = table(example(std::string(c.name) + ".eng"), '\t');
  const auto raw = splitLines(readFile(example(std::string(c.name) + ".raw")));
  const auto csv = table(m_csv, ',');
  ASSERT_GE(eng.size(), 2u);
  const size_t records = eng.size() - 1;
  ASSERT_EQ(csv.size(), eng.size());
  ASSERT_GE(raw.size(), records);  // every example line is a data line
  const std::vector<std::string>& names = csv[0];
  ASSERT_EQ(names.size(), eng[0].size()) << "host time, meter time and count for Count, Date and Time";
  EXPECT_EQ(names[0], "host_time_utc");
  EXPECT_EQ(names[1], "meter_time_utc");
  EXPECT_EQ(names[2], "count");

  NcFile nc(m_nc);
  ASSERT_TRUE(nc.ok());
  EXPECT_EQ(nc.text(NC_GLOBAL, "meter_time_zone"), std::string(c.zone.minutes == 0 ? "UTC" : c.zone.option));
  const std::vector<double> time = nc.doubles("time");
  ASSERT_EQ(time.size(), records);
  std::map<std::string, std::vector<double>> columns;
  for (size_t j = 3; j < names.size(); ++j) {
    columns[names[j]] = nc.doubles(names[j]);
    ASSERT_EQ(columns[names[j]].size(), records) << names[j];
  }

  for (size_t k = 0; k < records; ++k) {
    const auto& engRow = eng[k + 1];
    const auto& csvRow = csv[k + 1];
    ASSERT_EQ(csvRow.size(), names.size()) << "csv row " << k + 1;
    const RawStamp stamp = rawStamp(raw[k], c.zone.minutes);
    EXPECT_EQ(csvRow[0], "") << "a conversion has no host time";
    EXPECT_EQ(csvRow[1], stamp.iso) << "row " << k + 1 << ": " << raw[k];
    EXPECT_EQ(time[k], stamp.epoch ? *stamp.epoch : NC_FILL_DOUBLE) << "row " << k + 1 << ": " << raw[k];
    EXPECT_EQ(csvRow[2], engRow[0]);
    for (size_t j = 3; j < names.size(); ++j) {
      const std::string& printed = engRow[j];
      EXPECT_EQ(csvRow[j], trimmed(printed)) << names[j] << " row " << k + 1;
      EXPECT_NEAR(columns[names[j]][k], std::stod(printed), halfLastDigit(printed) * (1 + 1e-9))
          << names[j] << " row " << k + 1;
    }
  }

  // Each channel of the raw counts holds the data field its comment names, as received.
  const std::string comment = nc.text(nc.varid("counts"), "comment").value_or("");
  const size_t listed = comment.find(": ");
  ASSERT_NE(listed, std::string::npos) << comment;
  int channels = 0;
  for (const std::string& entry : split(comment.substr(listed + 2), ',')) {
    const std::vector<std::string> parts = split(trimmed(entry), ' ');
    ASSERT_EQ(parts.size(), 2u) << entry;
    const size_t field = std::stoul(parts[1]);
    ++channels;
    const std::vector<double> counts = nc.counts(parts[0]);
    ASSERT_EQ(counts.size(), records) << parts[0];
    for (size_t k = 0; k < records; ++k) {
      const auto fields = split(raw[k], '\t');
      ASSERT_LE(field, fields.size());
      EXPECT_EQ(counts[k], std::stod(fields[field - 1])) << parts[0] << " row " << k + 1;
    }
  }
  EXPECT_GT(channels, 0);
}

TEST_P(ArchiveFormats, PythonNetcdf4AndCsvReadersAgree) {
  const ArchiveCase& c = GetParam();
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(convert(dir));
  const ToolRun r = run("/usr/bin/python3", {QString(MARU_SOURCE_DIR) + "/tests/cli/archive_readback.py",
                                             QString::fromStdString(m_nc), QString::fromStdString(m_csv),
                                             QString::fromStdString(example(std::string(c.name) + ".eng")),
                                             QString::fromStdString(example(std::string(c.name) + ".raw")),
                                             QString::number(c.zone.minutes)});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("agree: "), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Examples, ArchiveFormats, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<ArchiveCase>& info) {
                           std::string zone = info.param.zone.option;
                           for (char& ch : zone)
                             if (ch == '+') ch = 'E';
                             else if (ch == '-') ch = 'W';
                             else if (ch == ':') ch = '_';
                           return std::string(info.param.name) + "_" + zone;
                         });

// Standard names the writer may use, with the units CF's table gives them (canonical
// units, or units UDUNITS converts to them that we write).
const std::map<std::string, std::set<std::string>> kStandardNames = {
    {"time", {"seconds since 1970-01-01T00:00:00Z"}},
    {"volume_scattering_function_of_radiative_flux_in_sea_water", {"m-1 sr-1"}},
    {"volume_backwards_scattering_coefficient_of_radiative_flux_in_sea_water", {"m-1"}},
    {"mass_concentration_of_chlorophyll_a_in_sea_water", {"kg m-3", "ug L-1"}},
    {"sea_water_turbidity", {"1"}},
    {"concentration_of_colored_dissolved_organic_matter_in_sea_water_expressed_as_equivalent_mass_fraction_of_"
     "quinine_sulfate_dihydrate",
     {"1e-9"}},
    {"sea_water_temperature", {"K", "degree_Celsius"}},
    {"sea_water_pressure", {"dbar", "Pa"}},
};

class CfAttributes : public ::testing::TestWithParam<const char*> {};

TEST_P(CfAttributes, WhatTheConventionsRequireIsThere) {
  const std::string name = GetParam();
  TempDir dir;
  const std::string path = dir.file(name + ".nc");
  const ToolRun r = runMaru({"convert", "--dev", example(name + ".dev"), "--format", "netcdf", example(name + ".raw"),
                             "-o", path});
  ASSERT_EQ(r.status, 0) << r.err;
  NcFile nc(path);
  ASSERT_TRUE(nc.ok());
  int format = 0;
  nc_inq_format(nc.id(), &format);
  EXPECT_EQ(format, NC_FORMAT_NETCDF4);

  EXPECT_EQ(nc.text(NC_GLOBAL, "Conventions"), std::string("CF-1.10, CF-1.8, ACDD-1.3"));
  for (const char* attribute : {"title", "summary", "id", "instrument", "device_file", "meter_time_zone", "history",
                                "date_created"})
    EXPECT_TRUE(nc.text(NC_GLOBAL, attribute).has_value() && !nc.text(NC_GLOBAL, attribute)->empty()) << attribute;
  // The backscatter settings only where they made values.
  for (const char* attribute : {"salinity", "scattering_angle_deg", "x_factor"})
    EXPECT_EQ(nc.number(NC_GLOBAL, attribute).has_value(), name == "bb3") << attribute;
  EXPECT_EQ(nc.text(NC_GLOBAL, "device_file"), readFile(example(name + ".dev")));
  // The command line without the folders of its files.
  const std::string history = nc.text(NC_GLOBAL, "history").value_or("");
  EXPECT_NE(history.find("maru convert --dev " + name + ".dev --format netcdf " + name + ".raw"), std::string::npos)
      << history;
  const ToolRun version = runMaru({"--version"});
  ASSERT_EQ(version.status, 0);
  EXPECT_NE(history.find(version.out.substr(0, version.out.find('\n'))), std::string::npos) << history;
  const std::string created = nc.text(NC_GLOBAL, "date_created").value_or("");
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char z = 0;
  EXPECT_EQ(std::sscanf(created.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &z), 7) << created;
  EXPECT_EQ(z, 'Z') << created;

  // Records along "time", the meter's clock, where it stamps every line; else along "obs".
  const bool clockless = name == "ntu";
  int dims = 0, unlimited = -1;
  nc_inq(nc.id(), &dims, nullptr, nullptr, &unlimited);
  EXPECT_EQ(dims, 2) << "the records and the counts' channels";
  char dimName[NC_MAX_NAME + 1] = {};
  nc_inq_dimname(nc.id(), 0, dimName);
  EXPECT_STREQ(dimName, clockless ? "obs" : "time");
  nc_inq_dimname(nc.id(), 1, dimName);
  EXPECT_STREQ(dimName, "channel");
  const int time = nc.varid("time");
  ASSERT_GE(time, 0);
  EXPECT_EQ(nc.text(time, "calendar"), std::string("standard"));
  EXPECT_EQ(nc.text(time, "axis"), std::string("T"));

  int nvars = 0;
  nc_inq_nvars(nc.id(), &nvars);
  std::set<std::string> variables;
  for (int v = 0; v < nvars; ++v) {
    char n[NC_MAX_NAME + 1] = {};
    nc_inq_varname(nc.id(), v, n);
    variables.insert(n);
  }
  for (int v = 0; v < nvars; ++v) {
    char n[NC_MAX_NAME + 1] = {};
    nc_type type = NC_NAT;
    int ndims = 0, dimids[NC_MAX_VAR_DIMS] = {};
    nc_inq_var(nc.id(), v, n, &type, &ndims, dimids, nullptr);
    const std::string var = n;
    SCOPED_TRACE(var);
    if (ndims == 0) {
      // The scalar coordinates: a wavelength in nm, the scattering angle in degrees.
      EXPECT_TRUE(var.rfind("radiation_wavelength_", 0) == 0 || var == "scattering_angle");
      EXPECT_EQ(nc.text(v, "units"), std::string(var == "scattering_angle" ? "degree" : "nm"));
      continue;
    }
    if (var == "counts_channel") continue;  // the channels' labels
    EXPECT_EQ(ndims, var == "counts" ? 2 : 1);
    EXPECT_EQ(dimids[0], 0) << "along the records";
    // A time that is all fill (no clock) is no coordinate of anything.
    if (var != "time") {
      EXPECT_EQ(nc.text(v, "coordinates").value_or("").find("time"), std::string::npos);
    }
    if (var == "time" && !clockless) continue;  // a coordinate variable: no fill value
    // Units on every variable, a long_name, and a fill value of the variable's own type.
    const std::optional<std::string> units = nc.text(v, "units");
    ASSERT_TRUE(units.has_value());
    EXPECT_FALSE(units->empty());
    EXPECT_TRUE(nc.text(v, "long_name").has_value());
    nc_type fillType = NC_NAT;
    size_t fillLength = 0;
    ASSERT_EQ(nc_inq_att(nc.id(), v, "_FillValue", &fillType, &fillLength), NC_NOERR);
    EXPECT_EQ(fillType, type);
    EXPECT_EQ(fillLength, 1u);
    // Standard names only from CF's table, with units it allows.
    if (const auto standard = nc.text(v, "standard_name")) {
      const auto known = kStandardNames.find(*standard);
      ASSERT_NE(known, kStandardNames.end()) << *standard;
      EXPECT_TRUE(known->second.count(*units)) << *standard << " in " << *units;
    }
    // Ancillary variables name variables of the file; every value made from counts names them.
    const std::optional<std::string> ancillary = nc.text(v, "ancillary_variables");
    if (var != "time" && var != "counts" && var != "iengr") {  // iengr: the meter's own value, as sent
      EXPECT_EQ(ancillary, std::string("counts")) << "an engineering value without its counts";
    }
    if (ancillary) {
      EXPECT_FALSE(ancillary->empty());
      for (const std::string& other : split(*ancillary, ' ')) EXPECT_TRUE(variables.count(other)) << other;
    }
  }

  // ncdump shows the same header.
  const ToolRun dump = run("ncdump", {"-h", QString::fromStdString(path)});
  ASSERT_EQ(dump.status, 0) << dump.err;
  for (const char* shown : {":Conventions = \"CF-1.10, CF-1.8, ACDD-1.3\"", "time:units = \"seconds since 1970-01-01T00:00:00Z\"",
                            ":instrument = ", ":device_file = ", ":history = ", ":date_created = "})
    EXPECT_NE(dump.out.find(shown), std::string::npos) << shown;
}

INSTANTIATE_TEST_SUITE_P(Examples, CfAttributes, ::testing::ValuesIn(kExamples),
                         [](const auto& info) { return std::string(info.param); });

// With a position, every example is a CF timeSeries at a station: the structure archives
// index, the platform and meter as container variables, and coverage_content_type on every
// variable; the history keeps a zone's name whole.
TEST_P(CfAttributes, WithAPositionAStationTimeSeries) {
  const std::string name = GetParam();
  TempDir dir;
  const std::string path = dir.file(name + ".nc");
  const ToolRun r = runMaru({"convert", "--dev", example(name + ".dev"), example(name + ".raw"), "-o", path,
                             "--attrs", example("archive-attrs.yml"), "--lat", "-33.5", "--lon", "151.25",
                             "--depth", "12", "--attr", "platform_name=Pier 4", "--meter-tz", "Europe/Oslo"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcFile nc(path);
  ASSERT_TRUE(nc.ok());
  EXPECT_EQ(nc.text(NC_GLOBAL, "featureType"), std::string("timeSeries"));
  EXPECT_EQ(nc.text(NC_GLOBAL, "cdm_data_type"), std::string("Station"));
  EXPECT_EQ(nc.text(NC_GLOBAL, "Conventions"), std::string("CF-1.10, CF-1.8, ACDD-1.3, IOOS-1.2"));
  EXPECT_NE(nc.text(NC_GLOBAL, "history").value_or("").find("--meter-tz Europe/Oslo"), std::string::npos);
  EXPECT_EQ(nc.number(NC_GLOBAL, "geospatial_lat_min"), -33.5);
  EXPECT_EQ(nc.number(NC_GLOBAL, "geospatial_vertical_max"), 12.0);
  EXPECT_FALSE(nc.text(NC_GLOBAL, "keywords").value_or("").empty());

  struct Position {
    const char* var;
    const char* standardName;
    const char* units;
    const char* axis;
    double value;
  };
  for (const Position& p : {Position{"lat", "latitude", "degrees_north", "Y", -33.5},
                            Position{"lon", "longitude", "degrees_east", "X", 151.25},
                            Position{"depth", "depth", "m", "Z", 12.0}}) {
    const int v = nc.varid(p.var);
    ASSERT_GE(v, 0) << p.var;
    int ndims = -1;
    double value = 0;
    nc_inq_varndims(nc.id(), v, &ndims);
    nc_get_var_double(nc.id(), v, &value);
    EXPECT_EQ(ndims, 0) << p.var;
    EXPECT_EQ(value, p.value) << p.var;
    EXPECT_EQ(nc.text(v, "standard_name"), std::string(p.standardName));
    EXPECT_EQ(nc.text(v, "units"), std::string(p.units));
    EXPECT_EQ(nc.text(v, "axis"), std::string(p.axis));
  }
  const int station = nc.varid("station");
  ASSERT_GE(station, 0);
  EXPECT_EQ(nc.text(station, "cf_role"), std::string("timeseries_id"));
  char* id = nullptr;
  ASSERT_EQ(nc_get_var_string(nc.id(), station, &id), NC_NOERR);
  EXPECT_EQ(std::string(id).rfind("Pier 4_", 0), 0u) << id;
  nc_free_string(1, &id);
  EXPECT_GE(nc.varid("platform"), 0);
  EXPECT_GE(nc.varid("instrument"), 0);

  // The position's datum.
  const int crs = nc.varid("crs");
  ASSERT_GE(crs, 0);
  EXPECT_EQ(nc.text(crs, "grid_mapping_name"), std::string("latitude_longitude"));
  EXPECT_EQ(nc.number(crs, "semi_major_axis"), 6378137.0);
  EXPECT_EQ(nc.number(crs, "inverse_flattening"), 298.257223563);
  EXPECT_EQ(nc.text(crs, "epsg_code"), std::string("EPSG:4326"));

  // The raw counts: one integer variable along the records and the labelled channels.
  const int counts = nc.varid("counts");
  ASSERT_GE(counts, 0);
  nc_type countsType = NC_NAT;
  int countsDims = 0;
  nc_inq_var(nc.id(), counts, nullptr, &countsType, &countsDims, nullptr, nullptr);
  EXPECT_EQ(countsType, NC_INT);
  EXPECT_EQ(countsDims, 2);
  EXPECT_EQ(nc.number(counts, "resolution"), 1.0);
  EXPECT_EQ(nc.text(counts, "coordinates"), std::string("counts_channel lat lon depth station"));
  const std::string firstChannel = name == "bb3" ? "ref_470" : name == "ntu" ? "ntu" : "chl";
  EXPECT_EQ(nc.counts(firstChannel).size(), nc.doubles("time").size()) << firstChannel;

  // Every variable says what it holds; every value names its position, platform, meter and
  // datum, is a value at an instant, and says how it was made and its step for one count.
  const bool clockless = name == "ntu";
  int nvars = 0;
  nc_inq_nvars(nc.id(), &nvars);
  for (int v = 0; v < nvars; ++v) {
    char n[NC_MAX_NAME + 1] = {};
    int ndims = 0, dims[NC_MAX_VAR_DIMS] = {};
    nc_inq_var(nc.id(), v, n, nullptr, &ndims, dims, nullptr);
    SCOPED_TRACE(n);
    EXPECT_TRUE(nc.text(v, "coverage_content_type").has_value());
    const std::string var = n;
    if (ndims == 0 || dims[0] != 0 || var == "time") continue;
    EXPECT_NE(nc.text(v, "coordinates").value_or("").find("lat lon depth station"), std::string::npos);
    EXPECT_EQ(nc.text(v, "platform"), std::string("platform"));
    EXPECT_EQ(nc.text(v, "instrument"), std::string("instrument"));
    EXPECT_EQ(nc.text(v, "grid_mapping"), std::string("crs"));
    EXPECT_EQ(nc.text(v, "cell_methods"), std::string(clockless ? "obs: point" : "time: point"));
    EXPECT_FALSE(nc.text(v, "source").value_or("").empty());
    EXPECT_GT(nc.number(v, "resolution").value_or(0), 0.0);
  }
  // The step for one count is the conversion's slope from the device file.
  const std::map<std::string, std::pair<const char*, double>> slope = {
      {"bb3", {"bbp_532_per_m", 2 * 3.1415 * 1.1 * 1.645e-06}},  // Beta's scale times 2 pi (as converted) and X
      {"flcd", {"pres_dbar", 0.01}},
      {"flasv", {"iengr", 0.0073}},  // the meter's own scale
      {"ntu", {"ntu", 0.0048}}};
  const auto& [var, step] = slope.at(name);
  EXPECT_NEAR(nc.number(nc.varid(var), "resolution").value_or(0), step, step * 1e-9) << var;
}


// A meter clock that goes back cannot be the coordinate: the records lie along "obs" and
// the time is an auxiliary coordinate of every value, still a timeSeries at its station.
TEST(ArchiveTimes, AClockThatGoesBackLaysTheRecordsAlongObs) {
  TempDir dir;
  std::vector<std::string> lines = splitLines(readFile(example("flcd.raw")));
  ASSERT_GT(lines.size(), 3u);
  std::swap(lines[1], lines[2]);
  std::string raw;
  for (const std::string& line : lines) raw += line + "\n";
  writeFile(dir.file("back.raw"), raw);
  const std::string path = dir.file("back.nc");
  const ToolRun r = runMaru({"convert", "--dev", example("flcd.dev"), dir.file("back.raw"), "-o", path, "--lat", "1",
                             "--lon", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcFile nc(path);
  ASSERT_TRUE(nc.ok());
  char dimName[NC_MAX_NAME + 1] = {};
  nc_inq_dimname(nc.id(), 0, dimName);
  EXPECT_STREQ(dimName, "obs");
  EXPECT_EQ(nc.text(nc.varid("chl_ug_per_l"), "coordinates"), std::string("time lat lon station"));
  EXPECT_EQ(nc.text(nc.varid("counts"), "coordinates"), std::string("time counts_channel lat lon station"));
  const std::vector<double> chl = nc.counts("chl");
  ASSERT_GE(chl.size(), 3u);
  EXPECT_EQ(std::vector<double>(chl.begin(), chl.begin() + 3), std::vector<double>({1033, 1045, 1034}));
  EXPECT_EQ(nc.doubles("time").size(), lines.size());
  EXPECT_EQ(nc.doubles("chl_ug_per_l").size(), lines.size());
  EXPECT_EQ(nc.text(NC_GLOBAL, "featureType"), std::string("timeSeries"));
}

// The NetCDF writer holds a block of records, never the file: its peak memory is the same
// for ten times the lines (each conversion measured alone, by a Python parent).
TEST(ArchiveMemory, NetcdfPeakDoesNotGrowWithTheFile) {
  TempDir dir;
  std::map<int, long> peakKb;
  for (const int lines : {30000, 300000}) {
    std::string raw;
    raw.reserve(static_cast<size_t>(lines) * 52);
    for (int i = 0; i < lines; ++i) {
      const int s = i % 86400;
      char line[96];
      std::snprintf(line, sizeof line, "05/%02d/24\t%02d:%02d:%02d\t4128\t%d\t4098\t%d\t4210\t%d\t%d\r\n", 1 + i / 86400,
                    s / 3600, s / 60 % 60, s % 60, 1100 + i % 200, 1200 + i % 150, 900 + i % 170, 540 + i % 30);
      raw += line;
    }
    const std::string input = dir.file(std::to_string(lines) + ".raw");
    writeFile(input, raw);
    const ToolRun r = run("/usr/bin/python3",
                          {"-c",
                           "import resource, subprocess, sys\n"
                           "subprocess.run(sys.argv[1:], check=True)\n"
                           "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
                           MARU_TOOL, "convert", "--dev", QString::fromStdString(example("bb3.dev")), "--format", "netcdf",
                           QString::fromStdString(input), "-o", QString::fromStdString(dir.file(std::to_string(lines) + ".nc"))});
    ASSERT_EQ(r.status, 0) << r.err;
    peakKb[lines] = std::stol(r.out);
  }
  EXPECT_LE(static_cast<double>(peakKb[300000]), 1.3 * static_cast<double>(peakKb[30000]))
      << peakKb[30000] << " kB for 30 000 lines, " << peakKb[300000] << " kB for 300 000";
}

// A meter without a clock column: the date and time come from "DAT" and "CLK" replies, and
// a line before both has none. A clock column with an impossible date gives none either.
TEST(ArchiveTimes, RepliesSetTheClockAndImpossibleDatesStayEmpty) {
  TempDir dir;
  const std::string dev = dir.file("m.dev");
  writeFile(dev, "Counting meter\nColumns=2\nNTU=1 0.0048 47\niTemp=2 0.125 -50.0\n");
  const std::string raw = dir.file("m.raw");
  writeFile(raw, "1100\t560\r\nDAT 05/14/24\r\n1101\t560\r\nCLK 23:59:58\r\n1102\t560\r\n1103\t561\r\n");
  const std::string dated = dir.file("d.dev");
  writeFile(dated, "Clocked meter\nColumns=3\nDate=1\nTime=2\nNTU=3 0.0048 47\n");
  const std::string datedRaw = dir.file("d.raw");
  writeFile(datedRaw, "02/30/24\t10:00:00\t1100\r\n02/29/24\t24:00:00\t1100\r\n02/29/24\t23:00:00\t1100\r\n");

  struct Case {
    std::string dev, raw;
    std::vector<std::string> iso;  // per record, read with zone +01:00
  };
  const Case cases[] = {
      {dev, raw, {"", "", "2024-05-14T22:59:58.000Z", "2024-05-14T22:59:58.000Z"}},
      {dated, datedRaw, {"", "", "2024-02-29T22:00:00.000Z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    const std::string csv = dir.file("out.csv"), nc = dir.file("out.nc");
    ASSERT_EQ(runMaru({"convert", "--dev", c.dev, "--format", "csv", "--meter-tz", "+01:00", c.raw, "-o", csv}).status, 0);
    ASSERT_EQ(runMaru({"convert", "--dev", c.dev, "--format", "netcdf", "--meter-tz", "+01:00", c.raw, "-o", nc}).status, 0);
    const auto rows = table(csv, ',');
    ASSERT_EQ(rows.size(), c.iso.size() + 1);
    NcFile file(nc);
    const std::vector<double> time = file.doubles("time");
    ASSERT_EQ(time.size(), c.iso.size());
    for (size_t k = 0; k < c.iso.size(); ++k) {
      EXPECT_EQ(rows[k + 1][1], c.iso[k]) << k;
      if (c.iso[k].empty()) {
        EXPECT_EQ(time[k], NC_FILL_DOUBLE) << k;
      } else {
        // 2024-05-14T22:59:58Z and 2024-02-29T22:00:00Z.
        EXPECT_TRUE(time[k] == 1715727598.0 || time[k] == 1709244000.0) << k << ": " << time[k];
      }
    }
  }
}

// LibreOffice opens each csv: as many cells in every row as names in the header, times
// kept as the ISO text, values as numbers equal to the file's.
TEST(ArchiveCsv, OpensInLibreOffice) {
  const QString soffice = QStandardPaths::findExecutable("soffice");
  if (soffice.isEmpty()) GTEST_SKIP() << "LibreOffice (libreoffice-calc-nogui, scripts/deps) is not installed";
  TempDir dir;
  QStringList csvFiles;
  for (const char* name : kExamples) {
    const std::string csv = dir.file(std::string(name) + ".csv");
    ASSERT_EQ(runMaru({"convert", "--dev", example(std::string(name) + ".dev"), "--format", "csv", "--meter-tz",
                       "+02:00", example(std::string(name) + ".raw"), "-o", csv})
                  .status,
              0);
    csvFiles << QString::fromStdString(csv);
  }
  // A profile of its own, so that no other LibreOffice on the machine interferes.
  const ToolRun lo = run(soffice, QStringList{"-env:UserInstallation=file://" + QString::fromStdString(dir.file("profile")),
                                              "--headless", "--convert-to", "fods", "--outdir",
                                              QString::fromStdString(dir.file("lo"))} +
                                      csvFiles,
                         240000);
  ASSERT_EQ(lo.status, 0) << lo.out << lo.err;

  for (const char* name : kExamples) {
    SCOPED_TRACE(name);
    const auto csv = table(dir.file(std::string(name) + ".csv"), ',');
    QFile file(QString::fromStdString(dir.file(std::string("lo/") + name + ".fods")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << lo.out << lo.err;
    QXmlStreamReader xml(&file);
    // Rows of (value type, value or text) per cell, repeated cells spelled out.
    std::vector<std::vector<std::pair<std::string, std::string>>> rows;
    while (!xml.atEnd()) {
      xml.readNext();
      if (!xml.isStartElement()) continue;
      if (xml.name() == QLatin1String("table-row")) rows.emplace_back();
      if (xml.name() != QLatin1String("table-cell") || rows.empty()) continue;
      const auto attributes = xml.attributes();
      const std::string type = attributes.value("office:value-type").toString().toStdString();
      const int repeat = std::max(1, attributes.value("table:number-columns-repeated").toInt());
      std::string value = type == "float" ? attributes.value("office:value").toString().toStdString()
                                          : xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed().toStdString();
      for (int i = 0; i < repeat; ++i) rows.back().emplace_back(type, value);
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    ASSERT_EQ(rows.size(), csv.size());
    for (size_t k = 0; k < rows.size(); ++k) {
      // Trailing empty cells are no columns.
      while (!rows[k].empty() && rows[k].back().first.empty() && rows[k].back().second.empty()) rows[k].pop_back();
      ASSERT_EQ(rows[k].size(), csv[0].size()) << "row " << k;
      if (k == 0) continue;
      // The times: kept as text, exactly; an empty time (a conversion has no host time)
      // an empty cell.
      for (const size_t j : {0u, 1u}) {
        EXPECT_EQ(rows[k][j].second, csv[k][j]) << "row " << k;
        if (!csv[k][j].empty()) {
          EXPECT_EQ(rows[k][j].first, "string");
          EXPECT_EQ(csv[k][j].size(), 24u) << csv[k][j];  // 2024-05-14T08:21:00.000Z
        }
      }
      for (size_t j = 2; j < csv[k].size(); ++j) {
        EXPECT_EQ(rows[k][j].first, "float") << "row " << k << " column " << j;
        EXPECT_EQ(std::stod(rows[k][j].second), std::stod(csv[k][j])) << "row " << k << " column " << j;
      }
    }
  }
}

// What fails, with which status and message, and that nothing is left of the output.
struct ErrorCase {
  const char* what;
  std::vector<std::string> options;  // "OUT" is the output, "DIR" the folder
  int status;
  const char* message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.what; }

class ArchiveErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ArchiveErrors, RightStatusAndMessageAndNoPartialFile) {
  const ErrorCase& c = GetParam();
  TempDir dir;
  QDir(QString::fromStdString(dir.path())).mkdir("sub");
  const std::string folder = dir.file("sub");
  std::vector<std::string> args = {"convert", "--dev", example("bb3.dev"), example("bb3.raw")};
  for (std::string option : c.options) {
    if (option.starts_with("OUT")) option = folder + "/out.file" + option.substr(3);
    if (option == "DIR") option = folder;
    args.push_back(option);
  }
  const ToolRun r = runMaru(args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  // Only what was there before: the folder given as output stays an empty folder, and no
  // temporary file stays beside it.
  EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{"sub"});
  EXPECT_TRUE(QDir(QString::fromStdString(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
      << QDir(QString::fromStdString(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArchiveErrors,
    ::testing::Values(
        ErrorCase{"netcdf_missing_folder", {"--format", "netcdf", "-o", "DIR/none/x.nc"}, 1, "cannot create"},
        ErrorCase{"csv_missing_folder", {"--format", "csv", "-o", "DIR/none/x.csv"}, 1, "cannot write"},
        ErrorCase{"netcdf_onto_a_folder", {"--format", "netcdf", "-o", "DIR"}, 1, "cannot rename"},
        ErrorCase{"csv_onto_a_folder", {"--format", "csv", "-o", "DIR"}, 1, "cannot rename"},
        ErrorCase{"zone_out_of_range", {"--format", "csv", "--meter-tz", "+25:00", "-o", "OUT"}, 2, "+25:00"},
        ErrorCase{"zone_by_name", {"--format", "netcdf", "--meter-tz", "CET", "-o", "OUT"}, 2, "CET"},
        ErrorCase{"zone_without_minutes", {"--meter-tz", "+2", "-o", "OUT"}, 2, "+2"},
        ErrorCase{"format_unknown", {"--format", "xlsx", "-o", "OUT"}, 2, "xlsx"},
        ErrorCase{"netcdf_to_standard_output", {"--format", "netcdf"}, 2, "needs -o"},
        // Positions in range and finite, and the settings the values were computed with kept.
        ErrorCase{"latitude_out_of_range", {"--lat", "91", "-o", "OUT.nc"}, 2, "within -90..90"},
        ErrorCase{"longitude_not_a_number", {"--lon", "10.7E", "-o", "OUT.nc"}, 2, "finite number"},
        ErrorCase{"depth_overflows", {"--depth", "1e999", "-o", "OUT.nc"}, 2, "finite number"},
        ErrorCase{"position_twice", {"--lat", "59", "--attr", "geospatial_lat=60", "-o", "OUT.nc"}, 2, "given twice"},
        ErrorCase{"salinity_protected", {"--attr", "salinity=99", "-o", "OUT.nc"}, 2, "written by the program"},
        ErrorCase{"feature_type_protected", {"--attr", "featureType=point", "-o", "OUT.nc"}, 2, "written by the program"},
        ErrorCase{"position_without_netcdf", {"--lat", "59", "-o", "OUT.csv"}, 2, "are for --format netcdf"}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.what); });

// The "variables:" section of an attributes file: what is written, with which type, and what
// is refused (at start, status 2) or warned of. The log case checks against the day file's
// own variables ("time" has a comment there) before any port or folder is touched.
struct VariableAttrsCase {
  const char* what;
  const char* command;  // convert or log
  const char* yaml;     // the section's entries
  int status;
  const char* message;  // on standard error
  struct Attribute {
    const char* var;
    const char* name;
    nc_type type;
    const char* value;  // text, or the number as %g
  };
  std::vector<Attribute> written;
};

void PrintTo(const VariableAttrsCase& c, std::ostream* os) { *os << c.what; }

class VariableAttrs : public ::testing::TestWithParam<VariableAttrsCase> {};

TEST_P(VariableAttrs, WrittenWithTheirTypesOrRefusedAtStart) {
  const VariableAttrsCase& c = GetParam();
  TempDir dir;
  const std::string yaml = dir.file("v.yml"), path = dir.file("bb3.nc");
  writeFile(yaml, std::string("variables:\n") + c.yaml);
  writeFile(path, "an older file");  // a refusal leaves it as it is
  std::vector<std::string> args = {c.command, "--dev", example("bb3.dev"), "--attrs", yaml, "--lat", "59", "--lon", "10"};
  if (std::string(c.command) == "log") args.insert(args.end(), {"--port", dir.file("none"), "--out", dir.file("out"), "--netcdf"});
  else args.insert(args.end(), {example("bb3.raw"), "-o", path});
  const ToolRun r = runMaru(args);
  ASSERT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  if (c.status != 0) {
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{"bb3.nc", "v.yml"}));
    EXPECT_EQ(readFile(path), "an older file");
    return;
  }
  NcFile nc(path);
  ASSERT_TRUE(nc.ok());
  for (const auto& a : c.written) {
    SCOPED_TRACE(std::string(a.var) + ":" + a.name);
    nc_type type = NC_NAT;
    size_t length = 0;
    ASSERT_EQ(nc_inq_att(nc.id(), nc.varid(a.var), a.name, &type, &length), NC_NOERR);
    EXPECT_EQ(type, a.type);
    double number = 0;
    if (type == NC_CHAR) EXPECT_EQ(nc.text(nc.varid(a.var), a.name), std::string(a.value));
    else if (nc_get_att_double(nc.id(), nc.varid(a.var), a.name, &number) == NC_NOERR)
      EXPECT_EQ(std::to_string(number), std::to_string(std::stod(a.value)));
    else ADD_FAILURE() << "unreadable";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VariableAttrs,
    ::testing::Values(
        VariableAttrsCase{"applied",
                          "convert",
                          "  bbp_470_per_m: {references: own, valid_min: 0}\n"
                          "  \"bbp_*\": {references: \"https://example.org/bbp\", accuracy: 0.002}\n"
                          "  instrument: {calibration_date: \"2026-03-01\", precision: 2}\n"
                          "  \"fdom_*\": {accuracy: 1}\n"
                          "  fdom_ppb: {accuracy: 1}\n"
                          "  \"*\": {comment: mine}\n",
                          0,
                          "line 6: no variable 'fdom_ppb' in this file",
                          {{"bbp_470_per_m", "references", NC_CHAR, "own"},  // its own name beats the pattern
                           {"bbp_470_per_m", "valid_min", NC_DOUBLE, "0"},
                           {"bbp_650_per_m", "references", NC_CHAR, "https://example.org/bbp"},
                           {"bbp_532_per_m", "accuracy", NC_DOUBLE, "0.002"},
                           {"instrument", "calibration_date", NC_CHAR, "2026-03-01"},
                           {"instrument", "precision", NC_INT, "2"},
                           {"bbp_650_per_m", "comment", NC_CHAR, "mine"},  // a pattern where the program wrote none
                           {"instrument", "comment", NC_CHAR,  // ... and where it did: its own stays
                            "container variable; the meter's title line: MARU BB3 Backscattering Meter  S/N BB3-0417"}}},
        VariableAttrsCase{"written_by_the_program", "convert", "  bbp_470_per_m: {long_name: x}\n", 2,
                          "v.yml: line 2: variable 'bbp_470_per_m': 'long_name' is written by the program", {}},
        VariableAttrsCase{"structural", "convert", "  counts: {scale_factor: 2}\n", 2,
                          "v.yml: line 2: variable 'counts': 'scale_factor' is the program's", {}},
        VariableAttrsCase{"library_name", "convert", "  counts: {_FillValue: 2}\n", 2,
                          "line 2: variable 'counts': '_FillValue' is not an attribute name", {}},
        VariableAttrsCase{"not_a_number", "convert", "  counts: {valid_max: many}\n", 2,
                          "'valid_max' must be a finite number, not 'many'", {}},
        VariableAttrsCase{"whole_number_type", "convert", "  instrument: {precision: 0.5}\n", 2,
                          "variable 'instrument': 'precision' must be a whole number", {}},
        VariableAttrsCase{"two_patterns", "convert", "  \"bbp_*\": {comment: a}\n  \"*_per_m\": {comment: b}\n", 2,
                          "line 3: variable 'bbp_470_per_m': 'comment' is also given by 'bbp_*' (", {}},
        VariableAttrsCase{"day_file_time", "log", "  time: {comment: mine}\n", 2,
                          "variable 'time': 'comment' is written by the program", {}}),
    [](const ::testing::TestParamInfo<VariableAttrsCase>& info) { return std::string(info.param.what); });

}  // namespace
