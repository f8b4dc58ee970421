#pragma once
// A raw recording converted with a device configuration into an engineering-units file, a
// CSV table or a NetCDF-CF file: the one conversion behind `maru convert` and File > Export
// Recording…. It runs a slice at a time (the window's ticks go on while a large file
// converts; the command line runs it to the end), reports its progress, can be cancelled,
// and never harms its input: nothing is opened for writing before it is known that the
// input is a regular file and the output is not that same file. A CSV or NetCDF file is
// written under a temporary name beside the output (beside the file an output link points
// to) and renamed when complete; a device or pipe named as output is written into.
#include <array>
#include <cstdio>
#include <optional>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/archivetime.h"
#include "files/engrformat.h"
#include "files/netcdfwriter.h"
#include "files/qcrun.h"
#include "files/recorders.h"
#include "files/replayreader.h"
#include "link/linedispatch.h"
#include "measure/deviceconfig.h"

namespace acquire {

enum class ConversionFormat { Eng, Csv, Netcdf };
/// The format a file name asks for by its extension, in any case: ".eng", ".csv", or
/// ".nc", ".nc4", ".cdf" (NetCDF); none for any other name.
std::optional<ConversionFormat> conversionFormatFor(const std::string& path);
/// The export format an output name asks for: ".nc", ".nc4" or ".cdf" (any case) is NetCDF,
/// anything else CSV.
ConversionFormat exportFormatFor(const std::string& path);

class CheckThread;

class ConversionJob {
 public:
  class HostTimes;
  struct Request {
    ConversionFormat format = ConversionFormat::Eng;
    std::string input;             ///< the raw recording
    std::string output;            ///< created or replaced; "-" standard output (eng, csv)
    measure::DeviceConfig config;  ///< copied: the device file as loaded
    std::string deviceFileText;    ///< kept in the NetCDF file
    bool refCorrection = false;
    bool tempCorrection = false;
    files::UtcOffset meterTimeZone;  ///< the zone the meter's clock was set to
    std::string history;             ///< NetCDF "history"
    std::vector<std::pair<std::string, std::string>> attributes;  ///< NetCDF global attributes the user gives
    std::vector<files::UserVariableAttribute> variableAttributes;  ///< and the variables' attributes
    int deflateLevel = 0;            ///< NetCDF compression (0: none)
    /// Quality control: the CSV gets each checked column's aggregate flag, the NetCDF file
    /// every flag; an .eng file stays as it is. Every flag is final (the spike test's too).
    std::optional<qc::Config> qc;
    /// NetCDF only: the records go along the host's receive time these give (see HostTimes).
    std::shared_ptr<HostTimes> hostTimes;
    std::string program;  ///< what made the file (NetCDF "summary"); "": maru convert
  };
  /// The receive times of the samples of a raw recording that the logger wrote, for a
  /// NetCDF file along the host's receive time (the logger's daily file, remade from its
  /// .raw and .csv). Asked for each sample in turn.
  class HostTimes {
   public:
    virtual ~HostTimes() = default;
    /// For the next sample, whose CSV values (files::appendCsvValues) are `values`: the
    /// records without a sample that go before it (`missing`, appended to), and its own
    /// times (none: the sample is left out).
    virtual void next(const std::string& values, std::vector<files::SampleTimes>& missing,
                      std::optional<files::SampleTimes>& times) = 0;
    /// At the end: the records no sample came for.
    virtual void rest(std::vector<files::SampleTimes>& missing) = 0;
    /// Where each record goes in the file (files::NetcdfWriter::setRecordPlaces).
    virtual std::vector<size_t> places() const = 0;
    /// How the time coordinate was made ("comment" of "time").
    virtual std::string timeComment() const = 0;
  };
  enum class Status { Running, Done, Failed, Cancelled };
  /// A warning the program would show for a line of the input (1-based).
  using Warn = std::function<void(long line, const std::string& caption, const std::string& text)>;

  ConversionJob(Request request, Warn warn);
  /// For a NetCDF request: whether the file it makes can be defined with the user's
  /// attributes, found by defining it in memory (nothing is read or written; without
  /// user attributes, nothing to find); false with `error` set when not. `warnings`: user
  /// variable entries that match no variable.
  static bool checkNetcdf(const Request& request, std::string& error, std::vector<std::string>& warnings);
  /// A conversion that did not finish leaves no output behind.
  ~ConversionJob();
  ConversionJob(const ConversionJob&) = delete;
  ConversionJob& operator=(const ConversionJob&) = delete;

  /// Checks the input and the output, opens both. False (see error()) when it cannot
  /// start; nothing was written then.
  bool start();
  /// Converts at most about `maxBytes` more of the input; at its end the output is
  /// completed (Done). A write that fails ends the conversion (Failed, the partial output
  /// removed, error() names the input line and the cause).
  Status step(size_t maxBytes);
  /// Stops and removes the partial output. Nothing happens once it ended.
  void cancel();

  Status status() const { return m_status; }
  /// Share of the input read, 0..100.
  int percent() const;
  /// Input lines framed so far.
  long lines() const { return m_lines; }
  /// Samples written to the output.
  long long samples() const { return m_samples; }
  const std::string& error() const { return m_error; }
  const Request& request() const { return m_request; }
  /// With quality control: per stream, how many samples got each aggregate flag so far
  /// (index 1..4 and 9), and the streams' names.
  const std::vector<std::array<long long, 10>>& flagCounts() const { return m_flagCounts; }
  std::vector<std::string> qcStreams() const;
  /// The temporary file being written while it runs ("" when there is none).
  std::string temporaryPath() const;

 private:
  void takeLine(const meterlink::Line& line);
  bool openOutput();
  static files::NetcdfProvenance provenanceOf(const Request& request);
  bool flush();
  bool finish();
  void fail(const std::string& text);
  void discardOutput();
  void takeFlags(std::optional<double> time);
  void gatherFlags(std::optional<double> time);
  void submitBlock();
  void collectBlock();
  void checkBlock();
  bool flushCsvKeepingHeldRow();
  /// The held sample gets its spike flags `spike`; `toFile`: NetCDF gets its flags too
  /// (unless the check thread gave them).
  void completeHeldSample(const std::vector<std::optional<qc::Flag>>& spike, bool toFile = true);
  bool writeMissing();

  Request m_request;
  Warn m_warn;
  meterlink::MeterState m_state;
  std::unique_ptr<meterlink::LineDispatch> m_dispatch;
  std::unique_ptr<files::EngrLineWriter> m_engLine;
  files::ReplayReader m_reader;
  files::LineRecorder m_file;      ///< eng and csv output
  std::string m_destination;       ///< where the output ends up (an output link's target)
  std::string m_partPath;          ///< the temporary csv file; "" when writing in place
  files::NetcdfWriter m_netcdf;
  files::MeterClockKnowledge m_known;
  std::vector<char> m_out;         ///< output gathered a block at a time
  size_t m_used = 0;
  std::vector<char> m_block;
  std::string m_row;
  std::optional<files::QcRun> m_qc;
  // Except along host times: the samples are checked a block at a time, column-wise, on a
  // second thread while the next blocks are gathered. A block's times and values (stream
  // i's at i * kQcStride + k), its flags, and for CSV where each flag digit and row of its
  // samples is in the output (counted from its start: placeholders until the block is
  // checked). Once checked, the spike flags of the sample before it, and its last sample's
  // flags (all but the spike test's final).
  // NetCDF: the block's records too (column by column as its values, from each of
  // m_recordSources), which the check thread writes with their flags once checked, so that
  // the file is only ever written by one thread at a time.
  struct QcBlock {
    std::vector<double> seconds, values;
    std::vector<uint8_t> flags;  ///< per stream, its flag columns (files::QcRun::flagColumns)
    std::vector<size_t> digitAt, rowAt;
    std::vector<double> records;
    size_t count = 0;
    std::vector<std::optional<qc::Flag>> heldSpike;
    std::vector<qc::Flags> lastFlags;
    bool written = true;  ///< NetCDF: the check thread wrote the records and flags
  };
  /// On the check thread: checks `block`, and for NetCDF writes it.
  void checkOnThread(QcBlock& block);
  /// On the check thread: the flags of the sample held before `block`, then its records and
  /// their flags.
  bool writeBlock(const QcBlock& block);
  QcBlock& gatheringBlock() { return m_qcBlocks[m_submitted % m_qcBlocks.size()]; }
  std::vector<const double*> m_recordSources;  ///< NetCDF: each record value in m_state
  std::vector<const double*> m_qcSources;  ///< per stream: its value in m_state
  /// Blocks taken in turn: one gathered, the others checked or waiting to be, oldest first.
  std::vector<QcBlock> m_qcBlocks;
  size_t m_submitted = 0;  ///< blocks handed over to be checked
  size_t m_collected = 0;  ///< of those, the ones whose flags were taken
  // Only the check thread's: the last sample it checked (whose spike flags the next block
  // gives), and whether the NetCDF file took all so far.
  bool m_checkedHeld = false;
  std::vector<qc::Flags> m_checkedHeldFlags;
  bool m_checkedWritten = true;
  size_t m_outBase = 0;    ///< CSV: the output's offset of m_out[0]
  size_t m_lastRowAt = 0;  ///< CSV: where the last row in m_out starts
  std::vector<size_t> m_rowFlagAt;
  // The sample whose spike flags wait for the next one: its flags, and with CSV where its
  // row and flag digits are in the output.
  size_t m_heldRowAt = 0;
  bool m_held = false;
  bool m_heldWritten = true;  ///< the held sample went into the NetCDF file (with host times)
  std::vector<files::SampleTimes> m_missing;
  std::string m_values;
  std::vector<qc::Flags> m_heldFlags;
  std::vector<uint8_t> m_heldColumns;  ///< the held sample's flags as flag columns of one sample
  std::vector<size_t> m_heldDigitAt;
  std::vector<qc::Flag> m_aggregates;
  std::vector<std::array<long long, 10>> m_flagCounts;
  long long m_inputBytes = 0;
  long long m_readBytes = 0;
  long m_lines = 0;
  long long m_samples = 0;
  int m_correctionWarned = 0;
  bool m_started = false;
  Status m_status = Status::Running;
  std::string m_error;
  /// Checks a block while the next is read; none on a single processor. Last, so that it
  /// finishes the block at hand before what that uses goes.
  std::unique_ptr<CheckThread> m_checkThread;
};

/// What File > Export Recording… converts: `input` into `output` with the device file
/// `deviceFilePath` as loaded into `config` (its text kept in NetCDF), the checks `qc` (null:
/// none) and the corrections as live data has them, the meter's clock read in `zone`. The
/// history names the files without their folders.
ConversionJob::Request exportRequest(const std::string& input, const std::string& output, ConversionFormat format,
                                     const measure::DeviceConfig& config, const std::string& deviceFilePath,
                                     const files::QcRun* qc, bool refCorrection, bool tempCorrection,
                                     files::UtcOffset zone);
/// A ConversionJob::Warn that keeps each warning in `into` as one line: "line N: caption: text".
ConversionJob::Warn collectWarnings(std::vector<std::string>& into);
/// The first `shown` of `lines`, each after a line end, then "... and N more" for the rest.
std::string listLines(const std::vector<std::string>& lines, size_t shown);

}  // namespace acquire
