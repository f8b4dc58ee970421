#pragma once
// "Export Recording...": a raw recording converted with a device configuration into CSV or
// NetCDF, a slice at a time, so that the window's ticks go on while a large file converts.
// The conversion is maru convert's: the same framing, dispatch and writers, on a private
// copy of the state, so the live acquisition is not touched.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "files/archivetime.h"
#include "files/netcdfwriter.h"
#include "files/recorders.h"
#include "files/replayreader.h"
#include "link/linedispatch.h"
#include "measure/deviceconfig.h"

namespace app {

enum class ExportFormat { Csv, Netcdf };

/// The format an output name asks for: ".nc", ".nc4" or ".cdf" (any case) is NetCDF,
/// anything else CSV.
ExportFormat ExportFormatFor(const std::string& path);

class ExportJob {
 public:
  struct Request {
    ExportFormat format = ExportFormat::Csv;
    std::string input;              ///< the raw recording
    std::string output;             ///< created or replaced
    measure::DeviceConfig config;   ///< copied: the device file as loaded
    std::string deviceFileText;     ///< kept in the NetCDF file
    bool refCorrection = false;
    bool tempCorrection = false;
    files::UtcOffset meterTimeZone;  ///< the zone the meter's clock was set to
    std::string history;             ///< NetCDF "history"
  };
  enum class Status { Running, Done, Failed, Cancelled };

  explicit ExportJob(Request request);
  /// An export that did not finish leaves no output behind.
  ~ExportJob();
  ExportJob(const ExportJob&) = delete;
  ExportJob& operator=(const ExportJob&) = delete;

  /// Opens the input and creates the output. False (see error()) when either fails;
  /// nothing is left at the output then.
  bool start();
  /// Converts at most `maxBytes` more of the input. At the end of the input the output is
  /// completed (Done). A write that fails ends the export (Failed, the output removed,
  /// error() names the input line).
  Status step(size_t maxBytes);
  /// Stops the export and removes the partial output. Nothing happens once it ended.
  void cancel();

  Status status() const { return m_status; }
  /// Share of the input read, 0..100.
  int percent() const;
  /// Input lines framed so far (the line being converted while it runs).
  long lines() const { return m_lines; }
  /// Samples written to the output.
  long long samples() const { return m_samples; }
  const std::string& error() const { return m_error; }
  /// What maru convert would print on stderr, each with the input line it concerns:
  /// "line 12: Possible Mis-Match ...: ...".
  const std::vector<std::string>& warnings() const { return m_warnings; }
  const Request& request() const { return m_request; }

 private:
  void takeLine(const meterlink::Line& line);
  void warn(long line, const std::string& caption, const std::string& text);
  bool flushCsv();
  bool finish();
  void fail(const std::string& text);
  void discardOutput();

  Request m_request;
  meterlink::MeterState m_state;
  std::unique_ptr<meterlink::LineDispatch> m_dispatch;
  files::ReplayReader m_reader;
  files::LineRecorder m_csv;
  std::string m_csvPath;  ///< where the rows go: a temporary beside the output, or the output itself
  files::NetcdfWriter m_netcdf;
  files::MeterClockKnowledge m_known;
  std::string m_out;
  std::vector<char> m_block;
  long long m_inputBytes = 0;
  long long m_readBytes = 0;
  long m_lines = 0;
  long long m_samples = 0;
  int m_correctionWarned = 0;
  bool m_started = false;
  Status m_status = Status::Running;
  std::string m_error;
  std::vector<std::string> m_warnings;
};

}  // namespace app
