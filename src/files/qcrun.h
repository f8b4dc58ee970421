#pragma once
// Quality control on the samples of one meter: a configuration's streams bound to the
// meter's engineering columns (by their CSV names) or raw-counts fields (by their NetCDF
// names), each checked as its samples come.
#include <optional>
#include <string>
#include <vector>

#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/kindtable.h"
#include "measure/sample.h"
#include "qc/checks.h"
#include "qc/config.h"

namespace files {

/// Where one stream's value comes from.
struct QcStream {
  std::string name;
  int engColumn = -1;  ///< index among CsvColumnNames (the .eng column order), or -1
  int field = -1;      ///< data-line field of a raw-counts stream, or -1
  int dataField = -1;  ///< the data-line field the value comes from (either kind of stream)
};

class QcRun;

/// The aggregate flag column names of `run` in a CSV header, and where they go: each
/// right after its engineering column, the raw-counts ones at the end.
struct CsvQcLayout {
  std::vector<int> afterColumn;  ///< per CSV value column: the stream flagged after it, or -1
  std::vector<int> atEnd;        ///< streams without a CSV column (raw counts), in order
};
CsvQcLayout csvQcLayout(const QcRun& run, size_t valueColumns);

class QcRun {
 public:
  /// The configuration bound to `config`'s columns; none, with `error` set naming the line
  /// of the first stream this meter does not have.
  static std::optional<QcRun> bind(const qc::Config& qcConfig, const measure::DeviceConfig& config,
                                   std::string& error);

  /// The names a configuration may use for `config`: its CSV columns, then its raw counts.
  static std::vector<std::string> streamNames(const measure::DeviceConfig& config);

  /// Checks one sample. `seconds`: its time (the meter's where known, else the host's);
  /// none when the sample has no time at all, which leaves the time-based tests (rate of
  /// change, flat line) not evaluated for it.
  void push(std::optional<double> seconds, const measure::SampleState& sample, const measure::EngValues& values);
  /// The series has ended: the last sample's spike flags are in previousSpike().
  void finish();

  /// Where stream `stream` reads its value in `sample` or `values`, for a caller that
  /// gathers a block of values while the two stay in place.
  const double* source(size_t stream, const measure::SampleState& sample, const measure::EngValues& values) const;
  /// push() of `n` samples at once, stream by stream: the times `seconds[k]` (NaN: none),
  /// stream i's values at `values[i * stride + k]`, its flags written to the columns
  /// flagColumns(flags, i, stride) (see qc::StreamChecker::pushBlock). previousSpike() then
  /// holds the spike flags of the sample before the block, now() the block's last flags.
  void pushBlock(const double* seconds, const double* values, size_t n, size_t stride, uint8_t* flags);
  /// Stream `stream`'s flag columns in a buffer of (1 + qc::kTestCount) columns of
  /// `stride` bytes per stream: its aggregate, then each test in the order of qc::kTests.
  static qc::FlagColumns flagColumns(uint8_t* flags, size_t stream, size_t stride) {
    return qc::FlagColumns::at(flags + stream * (1 + qc::kTestCount) * stride, stride);
  }

  /// The value stream `stream` takes from a sample.
  double valueOf(size_t stream, const measure::SampleState& sample, const measure::EngValues& values) const;

  const qc::Config& config() const { return m_config; }
  const std::vector<QcStream>& streams() const { return m_streams; }
  /// csvQcLayout() for the meter bound to.
  const CsvQcLayout& csvLayout() const { return m_csvLayout; }
  /// The flags of the sample last pushed, per stream, without the spike test's (which
  /// waits for the next sample): what a live record carries.
  const std::vector<qc::Flags>& now() const { return m_now; }
  /// Per stream, the spike flag of the sample before the one last pushed (or, after
  /// finish(), of the last sample); none without a spike test or such a sample.
  const std::vector<std::optional<qc::Flag>>& previousSpike() const { return m_previousSpike; }

 private:
  QcRun(qc::Config config, std::vector<QcStream> streams, const measure::DeviceConfig& device);

  qc::Config m_config;
  std::vector<QcStream> m_streams;
  std::vector<const measure::EngColumn*> m_engColumns;  ///< per stream (null for counts)
  std::vector<int> m_engKinds;
  std::vector<qc::StreamChecker> m_checkers;
  std::vector<qc::Flags> m_now;
  std::vector<std::optional<qc::Flag>> m_previousSpike;
  CsvQcLayout m_csvLayout;
};

}  // namespace files
