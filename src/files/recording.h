#pragma once
// The recordings of accepted data lines: raw (each line as received, plus CR LF),
// engineering units (a header, then one line per sample) and CSV (files::CsvHeader, then
// one files::appendCsvRow per sample). Whether each is on is known here and nowhere else.
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "files/recorders.h"

namespace files {

class Recording {
 public:
  enum class Stream { Raw, Engr, Csv };

  /// Starts recording `stream` into `path` (created or truncated). The new file is
  /// opened first: when it cannot be, a running recording of that stream goes on as it
  /// was and the result is false. `header` is written first (engineering units); when
  /// it does not reach the file, the recording has ended at once (on() is false).
  bool start(Stream stream, const std::string& path, std::string_view header = {});
  /// The same into an open stream (standard output) that stop() flushes but leaves open.
  bool start(Stream stream, std::FILE* file, const std::string& name, std::string_view header = {});
  /// Flushing after every line is the default (what was recorded survives a crash); a
  /// bulk converter switches it off for the stream it just started.
  void setFlushEachLine(Stream stream, bool flush);

  /// Ends the recording of `stream`; false when the file could not be completed.
  bool stop(Stream stream);
  bool on(Stream stream) const { return file(stream).on; }
  /// Bytes written since the stream's recording started (kept after it stops).
  long bytes(Stream stream) const { return file(stream).bytes; }
  const std::string& path(Stream stream) const { return file(stream).path; }

  /// Appends `line` and CR LF to the raw file; false (recording of it ends) when the
  /// write did not reach the file. Nothing is done, and true returned, while it is off.
  bool writeRawLine(std::string_view line);
  /// Appends `text` to the engineering-units file, as writeRawLine does.
  bool writeEngr(std::string_view text);
  /// Appends `text` to the CSV file, as writeRawLine does.
  bool writeCsv(std::string_view text);

 private:
  struct File {
    std::unique_ptr<LineRecorder> recorder;
    std::string path;
    bool on = false;
    long bytes = 0;
  };
  File& file(Stream s) { return s == Stream::Raw ? m_raw : s == Stream::Engr ? m_engr : m_csv; }
  const File& file(Stream s) const { return s == Stream::Raw ? m_raw : s == Stream::Engr ? m_engr : m_csv; }
  bool begin(File& f, std::unique_ptr<LineRecorder> recorder, const std::string& name, std::string_view header);
  bool write(File& f, std::string_view bytes);

  File m_raw, m_engr, m_csv;
  std::string m_line;
};

}  // namespace files
