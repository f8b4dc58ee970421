#pragma once
// The operator's recordings: raw (each accepted line plus CR LF), engineering units and CSV,
// a sink of the session written from each sample's record alone. The .eng and CSV headers
// follow the columns the session announces; a recording whose columns change (another
// device file, other checks) goes on in a new file beside it, NAME_2.ext, NAME_3.ext …, so
// no row is ever written under another header.
#include <functional>
#include <string>
#include <vector>

#include "acquire/session.h"
#include "files/recording.h"

namespace acquire {

/// The CSV row of `record` under CsvHeader(config, *columns) (CsvHeader(config) without
/// `columns`): each checked stream's live flag when `columns` checked the record, else not
/// evaluated. `flags` is scratch space kept by the caller.
void appendCsvRecord(std::string& out, const SampleRecord& record, const files::QcRun* columns,
                     std::vector<qc::Flag>& flags);

class Recordings : public Sink {
 public:
  using Stream = files::Recording::Stream;
  /// `listener` hears of failed files, new files for new columns and skipped corrections.
  explicit Recordings(Listener& listener) : m_listener(listener) {}

  /// Starts `stream` into `path` under the columns in force. A failed open leaves a running
  /// recording of the stream as it was (false); a header that did not reach the file ends
  /// the new recording at once, told as recordingStopped (false).
  bool start(Stream stream, const std::string& path);
  /// Ends `stream`; false when the file could not be completed.
  bool stop(Stream stream);
  void stopAll();
  /// `idle` is called when stop() or stopAll() leave no recording running, and before
  /// start() while none runs: where a change held back for the next recording (another QC
  /// configuration) can apply, its columns heard before the new header is made. Never
  /// while a sample is handed out, nor at end().
  void setIdle(std::function<void()> idle) { m_idle = std::move(idle); }
  bool on(Stream stream) const { return m_files.on(stream); }
  bool anyOn() const { return on(Stream::Raw) || on(Stream::Engr) || on(Stream::Csv); }
  /// Bytes written since the stream's recording (or its latest file) started.
  long bytes(Stream stream) const { return m_files.bytes(stream); }
  /// The file being written (or last written) for `stream`.
  const std::string& path(Stream stream) const { return m_files.path(stream); }

  void columns(const measure::DeviceConfig& config, const files::QcRun* qc) override;
  void sample(const SampleRecord& record) override;
  void end() override { stopFiles(); }

 private:
  void failed(Stream stream);
  void stopFiles();
  void becameIdle();
  /// Continues `stream` in its next file under `header` (the columns changed).
  void nextFile(Stream stream, const std::string& header);

  Listener& m_listener;
  std::function<void()> m_idle;
  files::Recording m_files;
  const measure::DeviceConfig* m_config = nullptr;
  const files::QcRun* m_qc = nullptr;
  std::string m_engHeader, m_csvHeader;  ///< under the columns in force
  std::string m_base[3];                 ///< each stream's first file, as the operator named it
  int m_part[3] = {1, 1, 1};             ///< the number of its current file
  std::string m_row;
  std::vector<qc::Flag> m_flags;
  int m_correctionWarned = 0;  ///< measure::CorrectionSkipped bits already told
};

}  // namespace acquire
