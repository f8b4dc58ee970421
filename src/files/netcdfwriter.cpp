#include "files/netcdfwriter.h"

#include <netcdf.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <numbers>
#include <set>
#include <string_view>

#include "files/qcrun.h"
#include "measure/cformat.h"
#include "measure/kindtable.h"

namespace files {

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

static_assert(kNetcdfFill == NC_FILL_DOUBLE);

namespace {

constexpr size_t kBlockRecords = 4096;  // records buffered per write
constexpr size_t kChunkRecords = 1024;  // records per chunk, compressed

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

bool counted(int kind) {
  return measure::isValidKind(kind) && measure::kindInfo(kind).capture != measure::Capture::None;
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
  std::vector<double> buffer;
};

std::vector<NetcdfVariable> netcdfVariables(const measure::DeviceConfig& config) {
  std::vector<NetcdfVariable> vars;
  std::set<std::string> taken{"time"};
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
    std::string ancillary = countsName[static_cast<size_t>(c)];
    if (row.referenceKind != measure::KindNone) {
      const std::string reference = countsOfKind(row.referenceKind);
      if (!reference.empty()) ancillary += (ancillary.empty() ? "" : " ") + reference;
    }
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
    v.kind = kind;
    v.field = c;
    vars.push_back(std::move(v));
  }
  return vars;
}

// The flag variables of one stream: the aggregate, then one per configured test.
struct NetcdfWriter::QcVariables {
  int aggregate = -1;
  std::array<int, qc::kTestCount> test{-1, -1, -1, -1};
  std::vector<qc::Flags> buffer;
};

NetcdfWriter::NetcdfWriter() = default;

NetcdfWriter::~NetcdfWriter() { abandon(); }

bool NetcdfWriter::isOpen() const { return m_ncid >= 0; }

bool NetcdfWriter::fail(const std::string& what, int status) {
  m_error = what + (status == NC_NOERR ? std::string() : std::string(": ") + nc_strerror(status));
  abandon();
  return false;
}

void NetcdfWriter::abandon() {
  if (m_ncid >= 0) nc_close(m_ncid);
  m_ncid = -1;
  if (!m_temporary.empty()) std::remove(m_temporary.c_str());
  m_temporary.clear();
  m_columns.clear();
  m_qc.clear();
  m_times.clear();
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

  // A unique name beside the target, so the rename stays on one file system.
  std::string temporary = path + ".part-XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return fail("cannot create '" + path + "': " + std::strerror(errno), NC_NOERR);
  ::close(fd);
  // The name is ours now; the library creates the file anew, with the usual permissions.
  std::remove(temporary.c_str());
  m_temporary = temporary;

  int status = nc_create(m_temporary.c_str(), NC_NETCDF4 | NC_NOCLOBBER, &m_ncid);
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
  const size_t chunk = kChunkRecords;

  int timeDim = -1;
  if ((status = nc_def_dim(m_ncid, "time", NC_UNLIMITED, &timeDim)) != NC_NOERR)
    return fail("cannot define the time dimension", status);
  auto defineDouble = [&](const std::string& name, int& varid) {
    if ((status = nc_def_var(m_ncid, name.c_str(), NC_DOUBLE, 1, &timeDim, &varid)) != NC_NOERR) return false;
    if ((status = nc_def_var_chunking(m_ncid, varid, NC_CHUNKED, &chunk)) != NC_NOERR) return false;
    if ((status = nc_def_var_deflate(m_ncid, varid, 1, 1, 4)) != NC_NOERR) return false;
    return (status = nc_def_var_fill(m_ncid, varid, 0, &fill)) == NC_NOERR;
  };

  if (!defineDouble("time", m_timeVar) || text(m_timeVar, "standard_name", "time") ||
      text(m_timeVar, "long_name", "time of the sample by the meter's clock") ||
      text(m_timeVar, "units", "seconds since 1970-01-01T00:00:00Z") || text(m_timeVar, "calendar", "standard") ||
      text(m_timeVar, "axis", "T"))
    return fail("cannot define the variable 'time'", status);

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
  for (const NetcdfVariable& v : variables) {
    Column column;
    column.kind = v.kind;
    column.field = v.field;
    if (v.engColumn >= 0) column.eng = &measure::kindInfo(v.kind).eng[static_cast<size_t>(v.engColumn)];
    if (!defineDouble(v.name, column.varid) || text(column.varid, "long_name", v.longName) ||
        text(column.varid, "units", v.units) ||
        (!v.standardName.empty() && text(column.varid, "standard_name", v.standardName)) ||
        (!v.ancillaryVariables.empty() && text(column.varid, "ancillary_variables", v.ancillaryVariables)))
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
        (status = nc_def_var_chunking(m_ncid, varid, NC_CHUNKED, &chunk)) != NC_NOERR ||
        (status = nc_def_var_deflate(m_ncid, varid, 1, 1, 4)) != NC_NOERR ||
        (status = nc_def_var_fill(m_ncid, varid, 0, &fill)) != NC_NOERR)
      return false;
    return !(text(varid, "standard_name", standardName) || text(varid, "long_name", longName) ||
             (status = nc_put_att_schar(m_ncid, varid, "flag_values", NC_BYTE, 5, kValues)) ||
             text(varid, "flag_meanings", "PASS NOT_EVALUATED SUSPECT FAIL MISSING") ||
             text(varid, "references", "https://ioos.noaa.gov/project/qartod/"));
  };
  for (size_t i = 0; qc && i < qc->streams().size(); ++i) {
    QcVariables flags;
    const std::string& name = qcVariable[i];
    if (!defineFlag(name + "_qc", "aggregate_quality_flag", "aggregate quality flag of " + name, flags.aggregate))
      return fail("cannot define the variable '" + name + "_qc'", status);
    for (const qc::Test test : qc::kTests) {
      if (!qc->config().streams[i].runs(test)) continue;
      const std::string testName(qc::testName(test));
      int& varid = flags.test[static_cast<size_t>(test)];
      if (!defineFlag(name + "_qartod_" + testName, testName + "_quality_flag",
                      testName.substr(0, testName.size() - 5) + " test quality flag of " + name, varid))
        return fail("cannot define the variable '" + name + "_qartod_" + testName + "'", status);
    }
    flags.buffer.reserve(kBlockRecords);
    m_qc.push_back(std::move(flags));
  }
  if (qc && text(NC_GLOBAL, "qc_configuration", qc->config().text))
    return fail("cannot write the global attributes", status);

  const std::string title = config.MeterTitle;
  const std::string created = provenance.dateCreated.empty() ? nowIsoUtc() : provenance.dateCreated;
  if (text(NC_GLOBAL, "Conventions", "CF-1.10") || text(NC_GLOBAL, "title", title) ||
      text(NC_GLOBAL, "instrument", title) ||
      text(NC_GLOBAL, "source", "in-water optical meter, recorded over its serial line") ||
      text(NC_GLOBAL, "device_file", provenance.deviceFileText) || number(NC_GLOBAL, "salinity", config.Salinity) ||
      number(NC_GLOBAL, "scattering_angle_deg", config.ThetaRadians * 180.0 / std::numbers::pi) ||
      number(NC_GLOBAL, "x_factor", config.XFactor) ||
      text(NC_GLOBAL, "water", config.SeaWater ? "sea" : "fresh") ||
      text(NC_GLOBAL, "meter_time_zone", provenance.meterTimeZone.text()) ||
      text(NC_GLOBAL, "time_source", provenance.timeSource) ||
      text(NC_GLOBAL, "history", created + " " + provenance.history) || text(NC_GLOBAL, "date_created", created))
    return fail("cannot write the global attributes", status);

  if ((status = nc_enddef(m_ncid)) != NC_NOERR) return fail("cannot write the file's definitions", status);
  m_times.reserve(kBlockRecords);
  return true;
}

bool NetcdfWriter::write(std::optional<double> time, const measure::SampleState& sample,
                         const measure::EngValues& values) {
  if (m_ncid < 0) {
    if (m_error.empty()) m_error = "the NetCDF file is not open";
    return false;
  }
  m_times.push_back(time ? *time : kNetcdfFill);
  for (Column& column : m_columns) {
    const double value = column.eng ? measure::engValue(values, *column.eng, column.kind)
                                    : sample.SampleValues[static_cast<size_t>(column.field)];
    column.buffer.push_back(value);
  }
  ++m_records;
  return m_times.size() < kBlockRecords || flush(m_qc.empty());
}

bool NetcdfWriter::write(std::optional<double> time, const measure::SampleState& sample,
                         const measure::EngValues& values, const std::vector<qc::Flags>& flags) {
  for (size_t i = 0; i < m_qc.size() && i < flags.size(); ++i) m_qc[i].buffer.push_back(flags[i]);
  return write(time, sample, values);
}

void NetcdfWriter::setLastSpike(const std::vector<std::optional<qc::Flag>>& spike) {
  for (size_t i = 0; i < m_qc.size() && i < spike.size(); ++i)
    if (spike[i] && !m_qc[i].buffer.empty()) m_qc[i].buffer.back()[qc::Test::Spike] = *spike[i];
}

bool NetcdfWriter::flush(bool all) {
  // With quality flags the last record waits for its spike flag, which comes with the next.
  const size_t count = all ? m_times.size() : m_times.size() - std::min<size_t>(m_times.size(), 1);
  if (count == 0) return true;
  const size_t start = static_cast<size_t>(m_written);
  int status = nc_put_vara_double(m_ncid, m_timeVar, &start, &count, m_times.data());
  if (status != NC_NOERR) return fail("cannot write records " + std::to_string(start + 1) + " to " +
                                          std::to_string(start + count) + " of '" + m_path + "'",
                                      status);
  for (Column& column : m_columns) {
    status = nc_put_vara_double(m_ncid, column.varid, &start, &count, column.buffer.data());
    if (status != NC_NOERR) return fail("cannot write records " + std::to_string(start + 1) + " to " +
                                            std::to_string(start + count) + " of '" + m_path + "'",
                                        status);
    column.buffer.erase(column.buffer.begin(), column.buffer.begin() + static_cast<std::ptrdiff_t>(count));
  }
  std::vector<signed char> bytes(count);
  for (QcVariables& flags : m_qc) {
    auto put = [&](int varid, auto flagOf) {
      for (size_t r = 0; r < count; ++r) bytes[r] = static_cast<signed char>(flagOf(flags.buffer[r]));
      return nc_put_vara_schar(m_ncid, varid, &start, &count, bytes.data());
    };
    status = put(flags.aggregate, [](const qc::Flags& f) { return f.aggregate(); });
    for (const qc::Test test : qc::kTests)
      if (status == NC_NOERR && flags.test[static_cast<size_t>(test)] >= 0)
        status = put(flags.test[static_cast<size_t>(test)], [test](const qc::Flags& f) { return f[test]; });
    if (status != NC_NOERR) return fail("cannot write records " + std::to_string(start + 1) + " to " +
                                            std::to_string(start + count) + " of '" + m_path + "'",
                                        status);
    flags.buffer.erase(flags.buffer.begin(), flags.buffer.begin() + static_cast<std::ptrdiff_t>(count));
  }
  m_times.erase(m_times.begin(), m_times.begin() + static_cast<std::ptrdiff_t>(count));
  m_written += static_cast<long long>(count);
  return true;
}

bool NetcdfWriter::finish() {
  if (m_ncid < 0) {
    if (m_error.empty()) m_error = "the NetCDF file is not open";
    return false;
  }
  if (!flush(true)) return false;
  const int status = nc_close(m_ncid);
  m_ncid = -1;
  if (status != NC_NOERR) return fail("cannot complete '" + m_path + "'", status);
  if (std::rename(m_temporary.c_str(), m_path.c_str()) != 0)
    return fail("cannot rename '" + m_temporary + "' to '" + m_path + "': " + std::strerror(errno), NC_NOERR);
  m_temporary.clear();
  m_columns.clear();
  return true;
}

}  // namespace files
