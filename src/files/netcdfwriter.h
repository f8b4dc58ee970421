#pragma once
// A recording as a NetCDF-4 file following the CF-1.10 conventions: one record per
// accepted sample along the dimension "time", one variable per engineering-units column
// and the raw counts as one variable counts(time, channel), with the device file and the
// processing settings beside them.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/archivetime.h"
#include "files/csvformat.h"
#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/sample.h"
#include "qc/flags.h"

namespace files {

class QcRun;

/// The whole of a file as it is on disk ("" when it cannot be read or is over
/// measure::kInputFileLimit): the device file's text for NetcdfProvenance.
std::string readWholeFile(const std::string& path);

/// An attribute the user gives the variables a name or pattern matches: written with the
/// variable's type when the attribute is a number (valid_min, valid_max, accuracy,
/// precision, resolution, …), else as text. A variable's own name beats a pattern; two
/// patterns giving one variable the same attribute are refused.
struct UserVariableAttribute {
  std::string variable;  ///< a variable's name, or a pattern: '*' is any run of characters
  std::string name;      ///< the attribute's name
  std::string value;     ///< as written
  std::string origin;    ///< where it was given, for messages ("a.yml: line 12")
};

/// Where the data came from, kept in the file's global attributes.
struct NetcdfProvenance {
  std::string deviceFileText;  ///< the whole device file, as read ("device_file")
  std::string history;         ///< program version and command line ("history")
  UtcOffset meterTimeZone;     ///< the zone the meter's clock was set to ("meter_time_zone")
  std::string timeSource = "meter clock";  ///< where the time stamps come from ("time_source")
  std::string dateCreated;     ///< ISO 8601 UTC; empty: now ("date_created")
  /// "time" is the host's receive time, a coordinate (every record has one), and the
  /// meter's reading is "meter_time" beside it. Otherwise (a conversion, which has no
  /// receive time) the records lie along "obs" and "time" is the meter's reading, an
  /// auxiliary coordinate that holds the fill value where the reading is not known.
  bool hostTimes = false;
  std::string program = "maru convert";  ///< what made the file, for "summary"
  std::string timeComment;     ///< with hostTimes: how "time" was made ("comment" of "time")
  /// zlib level (1..9) of each variable, with the shuffle filter; 0: not compressed. Deflate
  /// makes the file about a third of the size and the writing about six times slower.
  int deflateLevel = 0;
  /// About how many records the file will hold, at most (0: not known): a short file is
  /// written in short chunks.
  size_t expectedRecords = 0;
  /// Global attributes the user gives (ACDD: institution, creator_name, project, platform,
  /// license, …); they replace the program's own of the same name. Values that read as
  /// numbers are stored as numbers for the geospatial attributes; "geospatial_lat" and
  /// "geospatial_lon" give the _min and _max pair.
  std::vector<std::pair<std::string, std::string>> attributes;
  /// Attributes the user gives variables, written after the program's own (see
  /// UserVariableAttribute); one the program writes on that variable fails open().
  std::vector<UserVariableAttribute> variableAttributes;
  /// Define the file in memory only and write nothing to disk: open() then checks the
  /// definitions (the user's attributes) for a run that writes its files later.
  bool inMemory = false;
};

/// Why `name` = `value` cannot be a variable attribute the user gives ("" when it can): a
/// name NetCDF refuses (as userAttributeProblem), one that makes the variable's structure
/// or meaning (units, coordinates, _FillValue, scale_factor, flag_*, …), or a non-number
/// for a numeric attribute.
std::string userVariableAttributeProblem(const std::string& name, const std::string& value);

/// Whether `name` matches `pattern`, where '*' stands for any run of characters.
bool variableNameMatches(const std::string& pattern, const std::string& name);

/// Why `key` cannot be a global attribute given by the user ("" when it can): a name the
/// NetCDF library refuses or keeps for itself (more than 256 characters, a first '_'), or
/// one the writer sets from the data (Conventions, history, date_created, time_coverage_*).
std::string userAttributeProblem(const std::string& key);

/// Why `value` cannot be the user's attribute `key` ("" when it can): geospatial_lat,
/// geospatial_lon and their _min and _max, geospatial_vertical_min and _max must be finite
/// numbers, latitudes within -90..90 and longitudes within -180..360.
std::string userAttributeValueProblem(const std::string& key, const std::string& value);

/// One variable of the file, as the writer laid it out for a configuration.
struct NetcdfVariable {
  std::string name;
  std::string units;
  std::string longName;
  std::string standardName;       ///< "" where CF has none
  std::string ancillaryVariables; ///< "" for raw-counts channels
  int kind = 0;                   ///< measurement kind of the field
  int field = -1;                 ///< data-line field (0-based) of a raw-counts channel, else -1
  /// A raw-counts channel's label in "counts_channel" ("470", "ref_470", "itemp"); its name
  /// ("counts_470") is the stream name quality control knows it by. "" for a value.
  std::string channel;
  int engColumn = -1;             ///< index into the kind's engineering columns, else -1
  int wavelength = 0;             ///< nm, for a wavelength-specific variable, else 0
  bool scattering = false;        ///< a volume scattering function (at the device file's angle)
};

/// The variables a configuration gives, in file order: engineering columns in .eng order,
/// then one raw-counts channel per counted field (rows of the file's 2-D "counts"; a field
/// the meter sends in engineering units already is its value's variable, not a channel).
/// Names are unique.
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
  /// Where each record value comes from in `sample` and `values` (while the two stay in
  /// place), one per column writeColumns() takes: for a caller that gathers records to
  /// write them later, or on another thread.
  std::vector<const double*> valueSources(const measure::SampleState& sample, const measure::EngValues& values) const;
  /// write() without flags of `n` records gathered through valueSources(): record k's time
  /// `seconds[k]` (NaN: none), its value from source j `columns[j * stride + k]`.
  bool writeColumns(const double* seconds, const double* columns, size_t n, size_t stride);
  /// write() of a file opened with quality flags: `flags` has one entry per stream.
  bool write(std::optional<double> time, const measure::SampleState& sample, const measure::EngValues& values,
             const std::vector<qc::Flags>& flags);
  /// write() with both times, for a file opened with NetcdfProvenance::hostTimes (a
  /// record without a host time is given the previous record's).
  bool write(const SampleTimes& times, const measure::SampleState& sample, const measure::EngValues& values,
             const std::vector<qc::Flags>* flags = nullptr);
  /// A record with no sample (hostTimes): its times, every value the fill value, every
  /// flag 9 (missing).
  bool writeMissing(const SampleTimes& times);
  /// Where each record goes, in the order write() takes them: record i lands at index
  /// places[i] of the file (a permutation of 0..n-1 for n records). Empty: in order.
  /// Consecutive places are written together; finish() fails when the count differs.
  void setRecordPlaces(std::vector<size_t> places) { m_places = std::move(places); }
  /// Puts each stream's spike flag (where given) into the last record written.
  void setLastSpike(const std::vector<std::optional<qc::Flag>>& spike);
  /// Flags given apart from the records, for a file opened with quality flags and written
  /// with write() without flags (a conversion checks a block of samples at a time): the
  /// final flags of the next `n` records still without them, stream i's of the k-th in
  /// the columns QcRun::flagColumns(flags, i, stride) at k. Records wait in memory for
  /// their flags; false (see error()) when a block could not be written.
  bool writeFlags(const uint8_t* flags, size_t n, size_t stride);
  /// Writes what is buffered, closes the file and renames it to `path`. False (see
  /// error()) on any failure; nothing is left at `path` then.
  bool finish();
  /// Closes and removes the temporary file (without writing what the library still holds,
  /// so a file on a full disk leaves nothing open behind); nothing at `path` changes.
  void abandon();
  /// Call on a thread other than the one that opened the file before it writes: the
  /// library's errors are then told through error() only, as on the first thread (HDF5
  /// keeps the setting per thread, and would print each failure's trace on stderr).
  static void quietOnThisThread();

  bool isOpen() const;
  long long records() const { return m_records; }
  const std::string& error() const { return m_error; }
  const std::string& temporaryPath() const { return m_temporary; }
  /// Since open(): one line per user variable entry that matched no variable of the file.
  const std::vector<std::string>& warnings() const { return m_warnings; }

 private:
  struct Column;
  struct QcVariables;
  bool fail(const std::string& what, int status);
  bool flush(bool all = true);
  bool writeRecord(std::optional<double> time, const measure::SampleState& sample, const measure::EngValues& values);
  /// A record whose value for each column is valueOf(column).
  template <typename ValueOf>
  bool takeRecord(std::optional<double> time, ValueOf valueOf);
  /// A record's time, in the times to write and the file's bounds.
  void noteTime(std::optional<double> time);
  /// Whether the file is open; if not, error() says so (unless it holds why already).
  bool openToWrite();
  bool open(const std::string& path, const measure::DeviceConfig& config, const NetcdfProvenance& provenance,
            const QcRun* qc);

  /// Whether flags go straight to the bytes written a chunk at a time (given apart, with
  /// the records in order), not first waiting with their records.
  bool flagsStraightOut() const { return m_flagsApart && m_places.empty(); }
  /// Records not yet flushed whose flags are in.
  size_t flagsIn(const QcVariables& flags) const;
  bool putCoverage();
  bool putUserVariableAttributes(const std::vector<UserVariableAttribute>& attributes);
  bool relayAlongObs();

  int m_ncid = -1;
  int m_timeVar = -1;
  int m_meterTimeVar = -1;  ///< with host times
  int m_countsVar = -1;     ///< counts(record, channel), when some field is counted
  size_t m_channels = 0;
  std::vector<int> m_countCells;  ///< a block of counts, record by record
  bool m_hostTimes = false;
  bool m_timeAxis = false;    ///< records along "time", a coordinate variable
  bool m_timeBroken = false;  ///< a conversion's time that cannot be the coordinate
  bool m_station = false;     ///< a CF timeSeries at a position
  bool m_inMemory = false;    ///< defined in memory only (NetcdfProvenance::inMemory)
  std::string m_timeSource;
  std::vector<double> m_meterTimes;
  // What the time coordinate covered, for the time_coverage attributes.
  double m_firstTime = 0, m_lastTime = 0;
  bool m_anyTime = false;
  std::vector<double> m_steps;  ///< the first steps between records, for the resolution
  std::vector<std::pair<std::string, std::string>> m_userAttributes;
  std::string m_path, m_temporary, m_error;
  std::vector<std::string> m_warnings;
  measure::DeviceConfig m_config;
  std::vector<Column> m_columns;
  std::vector<QcVariables> m_qc;  ///< per quality-controlled stream
  std::vector<double> m_times;
  std::vector<size_t> m_places;
  long long m_records = 0;   ///< records taken
  long long m_written = 0;   ///< records in the file
  bool m_flagsApart = false;  ///< the flags come with writeFlags(), final
  size_t m_flagChunkRecords = 0;
  size_t m_flagsFrom = 0;  ///< the file's record where the flag bytes not yet written start
};

/// The fill value of every double variable the writer makes (the NetCDF default).
constexpr double kNetcdfFill = 9.9692099683868690e+36;

}  // namespace files
