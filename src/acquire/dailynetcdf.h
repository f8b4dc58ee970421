#pragma once
// The logger's daily NetCDF archive, made from the day's record: each file set S of the
// daily files (DIR/YYYYMMDD, DIR/YYYYMMDD_2, …) gets S.nc, converted from S.raw as
// `maru convert` converts it, each record's time being the host's receive time of its
// row in S.csv. Nothing is written while the day runs, so a crash, a power cut or a full
// disk never costs the archive: it is made (again) when the set closes (UTC midnight),
// when the logger stops, and at start for every earlier set whose S.nc is missing or older
// than its .raw or .csv. A remake that fails (a full disk) leaves S.raw, S.csv and an
// earlier S.nc as they were and is tried again a minute later.
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "acquire/conversion.h"
#include "measure/devicefile.h"
#include "qc/config.h"

namespace acquire {

/// The rows of a set's CSV file as a conversion of its .raw needs them (see
/// ConversionJob::HostTimes): the receive and meter times of each row, and how the rows
/// pair with the raw lines. Records go in the order of their receive time (a stable sort,
/// so rows of the same time keep their order), each at least 1 µs after the one before:
/// after the host clock stepped back, the time coordinate still only grows and every row
/// has its record.
class CsvTimes : public ConversionJob::HostTimes {
 public:
  CsvTimes() = default;
  ~CsvTimes() override;
  CsvTimes(const CsvTimes&) = delete;
  CsvTimes& operator=(const CsvTimes&) = delete;

  /// Opens `csvPath` (and counts the lines of `rawPath`); false (see error()) when either
  /// cannot be read or the CSV's header is not `header` (without its line end).
  /// `valueNames`: the value columns (files::CsvColumnNames); the header's other columns
  /// after the count are flags, which are no part of how rows pair with raw lines.
  bool open(const std::string& csvPath, const std::string& rawPath, const std::string& header,
            const std::vector<std::string>& valueNames);
  /// Reads about `maxBytes` more; true once both files are read (the order is then known).
  bool read(size_t maxBytes);
  const std::string& error() const { return m_error; }

  void next(const std::string& values, std::vector<files::SampleTimes>& missing,
            std::optional<files::SampleTimes>& times) override;
  void rest(std::vector<files::SampleTimes>& missing) override;
  std::vector<size_t> places() const override { return m_places; }
  std::string timeComment() const override;

  long long rows() const { return static_cast<long long>(m_rows.size()); }
  long long rawLines() const { return m_rawLines; }
  long long stepsBack() const { return m_stepsBack; }
  long long rowsWithoutLine() const { return m_rowsWithoutLine; }  ///< written with fill values
  long long linesWithoutRow() const { return m_linesWithoutRow; }  ///< left out
  long long unpairedValues() const { return m_unpairedValues; }    ///< paired by position, values differ
  long long unreadableRows() const { return m_unreadableRows; }

 private:
  struct Row {
    double host = 0;   ///< seconds since the epoch, made strictly increasing once read
    double meter = 0;  ///< NaN: not known
    size_t key = 0;    ///< hash of the row's values
  };
  void takeRow(std::string_view row);
  void order();
  files::SampleTimes timesOf(size_t row) const;

  std::FILE* m_csv = nullptr;
  std::FILE* m_raw = nullptr;
  std::string m_partial;             ///< a CSV row not yet ended
  std::vector<bool> m_valueColumn;   ///< per CSV column: part of the values (not a flag)
  std::vector<Row> m_rows;
  std::vector<size_t> m_places;
  long long m_rawLines = 0;
  bool m_rawLineOpen = false;
  size_t m_next = 0;
  bool m_oneToOne = false;
  long long m_stepsBack = 0, m_rowsWithoutLine = 0, m_linesWithoutRow = 0, m_unpairedValues = 0;
  long long m_unreadableRows = 0;
  std::string m_error;

};

class DailyNetcdf {
 public:
  using Steady = std::chrono::steady_clock;
  /// What every file is made with (this run's settings).
  struct Settings {
    measure::DeviceConfig config;
    std::string deviceFileText;  ///< kept in each file
    std::string history;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<files::UserVariableAttribute> variableAttributes;
    int deflateLevel = 0;
    std::optional<qc::Config> qc;
    Steady::duration retryAfter = std::chrono::minutes(1);  ///< a failed set is tried again
  };
  DailyNetcdf(std::string folder, Settings settings, measure::WarningSink warn);
  ~DailyNetcdf();  ///< cancels a remake under way (its temporary file removed)
  DailyNetcdf(const DailyNetcdf&) = delete;
  DailyNetcdf& operator=(const DailyNetcdf&) = delete;

  /// At start: queues every earlier set in the folder (all but `current`, the set this run
  /// writes: "DIR/YYYYMMDD[_N]") whose NetCDF file is missing or older than its .raw or
  /// .csv. A set whose CSV header is not what this run writes is named once and left.
  void catchUp(const std::string& current);
  /// The set the daily files write into now (e.g. after each tick): when it changed, the
  /// one before is complete and is queued. Also requeues failed sets whose wait is over.
  void tick(const std::string& current, Steady::time_point now = Steady::now());
  /// Does a slice of the work: at most about `maxBytes` of input read. True while work is left.
  bool work(size_t maxBytes = 1 << 16);
  bool busy() const { return m_job != nullptr || m_times != nullptr || !m_queue.empty(); }
  /// At stop: queues `current` too and works until nothing is left or `limit` passed; what
  /// is left then (named) is made at the next start. True when everything was made.
  bool stop(const std::string& current, Steady::duration limit);

  /// Whether the files can be defined with the user's attributes (ConversionJob::checkNetcdf),
  /// before any is made.
  bool check(std::string& error, std::vector<std::string>& warnings) const;

  /// The NetCDF file of a set.
  static std::string fileOf(const std::string& set) { return set + ".nc"; }

 private:
  ConversionJob::Request requestFor(const std::string& set) const;
  void queue(const std::string& set);
  void begin();
  void failed(const std::string& why);
  void made();

  std::string m_folder;
  Settings m_settings;
  std::string m_csvHeader;  ///< without its line end
  measure::WarningSink m_warn;
  std::string m_current;
  std::deque<std::string> m_queue;
  std::map<std::string, Steady::time_point> m_retry;  ///< failed sets, and when they failed
  std::set<std::string> m_told;                       ///< sets whose failure was told
  std::string m_set;                                  ///< the set being made
  std::shared_ptr<CsvTimes> m_times;                  ///< while its CSV is read
  std::unique_ptr<ConversionJob> m_job;               ///< then while its raw file converts
};

}  // namespace acquire
