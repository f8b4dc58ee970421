#pragma once
// A recording as a NetCDF-4 file following the CF-1.10 conventions: one record per
// accepted sample along the dimension "time", one variable per engineering-units column
// and one per raw field, with the device file and the processing settings beside them.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/archivetime.h"
#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/sample.h"
#include "qc/flags.h"

namespace files {

class QcRun;

/// The whole of a file as it is on disk ("" when it cannot be read): the device file's
/// text for NetcdfProvenance.
std::string readWholeFile(const std::string& path);

/// Where the data came from, kept in the file's global attributes.
struct NetcdfProvenance {
  std::string deviceFileText;  ///< the whole device file, as read ("device_file")
  std::string history;         ///< program version and command line ("history")
  UtcOffset meterTimeZone;     ///< the zone the meter's clock was set to ("meter_time_zone")
  std::string timeSource = "meter clock";  ///< where the time stamps come from ("time_source")
  std::string dateCreated;     ///< ISO 8601 UTC; empty: now ("date_created")
};

/// One variable of the file, as the writer laid it out for a configuration.
struct NetcdfVariable {
  std::string name;
  std::string units;
  std::string longName;
  std::string standardName;       ///< "" where CF has none
  std::string ancillaryVariables; ///< "" for raw-counts variables
  int kind = 0;                   ///< measurement kind of the field
  int field = -1;                 ///< data-line field (0-based) of a raw-counts variable, else -1
  int engColumn = -1;             ///< index into the kind's engineering columns, else -1
};

/// The variables a configuration gives, in file order: engineering columns in .eng order,
/// then one raw-counts variable per counted field. Names are unique.
std::vector<NetcdfVariable> netcdfVariables(const measure::DeviceConfig& config);

/// Writes samples one at a time into a temporary file beside `path` and renames it to
/// `path` in finish(). Any failure leaves no file at `path` (an older file there stays
/// until finish() replaces it) and removes the temporary one. Not copyable.
class NetcdfWriter {
 public:
  NetcdfWriter();
  ~NetcdfWriter();  ///< abandons a file that was not finished
  NetcdfWriter(const NetcdfWriter&) = delete;
  NetcdfWriter& operator=(const NetcdfWriter&) = delete;

  /// Creates the file and its definitions for `config`; false (see error()) when it
  /// cannot be created. The configuration is copied.
  bool open(const std::string& path, const measure::DeviceConfig& config, const NetcdfProvenance& provenance);
  /// open() with quality flags: per stream of `qc`, an aggregate "<var>_qc" and one
  /// "<var>_qartod_<test>" per configured test (int8, flag_values 1 2 3 4 9), named in the
  /// data variable's ancillary_variables; the configuration in the global attribute
  /// "qc_configuration". Each write() then also takes the sample's flags, and the last
  /// record stays in memory until setLastSpike() or finish(), so its spike flag can come
  /// with the next sample.
  bool open(const std::string& path, const measure::DeviceConfig& config, const NetcdfProvenance& provenance,
            const QcRun& qc);
  /// Adds one record: `time` in UTC seconds since the epoch (nothing: the fill value),
  /// the fields as received and the engineering values. Records are buffered and written
  /// in blocks; false (see error()) when a block could not be written, and the file is
  /// then abandoned.
  bool write(std::optional<double> time, const measure::SampleState& sample, const measure::EngValues& values);
  /// write() of a file opened with quality flags: `flags` has one entry per stream.
  bool write(std::optional<double> time, const measure::SampleState& sample, const measure::EngValues& values,
             const std::vector<qc::Flags>& flags);
  /// Puts each stream's spike flag (where given) into the last record written.
  void setLastSpike(const std::vector<std::optional<qc::Flag>>& spike);
  /// Writes what is buffered, closes the file and renames it to `path`. False (see
  /// error()) on any failure; nothing is left at `path` then.
  bool finish();
  /// Closes and removes the temporary file; nothing at `path` changes.
  void abandon();

  bool isOpen() const;
  long long records() const { return m_records; }
  const std::string& error() const { return m_error; }
  const std::string& temporaryPath() const { return m_temporary; }

 private:
  struct Column;
  struct QcVariables;
  bool fail(const std::string& what, int status);
  bool flush(bool all = true);
  bool open(const std::string& path, const measure::DeviceConfig& config, const NetcdfProvenance& provenance,
            const QcRun* qc);

  int m_ncid = -1;
  int m_timeVar = -1;
  std::string m_path, m_temporary, m_error;
  measure::DeviceConfig m_config;
  std::vector<Column> m_columns;
  std::vector<QcVariables> m_qc;  ///< per quality-controlled stream
  std::vector<double> m_times;
  long long m_records = 0;   ///< records taken
  long long m_written = 0;   ///< records in the file
};

/// The fill value of every double variable the writer makes (the NetCDF default).
constexpr double kNetcdfFill = 9.9692099683868690e+36;

}  // namespace files
