#include "files/recording.h"


namespace files {

bool Recording::start(Stream stream, const std::string& path, std::string_view header) {
  auto recorder = std::make_unique<LineRecorder>();
  if (!recorder->open(path)) return false;
  return begin(file(stream), std::move(recorder), path, header);
}

bool Recording::start(Stream stream, std::FILE* stdioFile, const std::string& name, std::string_view header) {
  auto recorder = std::make_unique<LineRecorder>();
  recorder->attach(stdioFile, name);
  return begin(file(stream), std::move(recorder), name, header);
}

bool Recording::begin(File& f, std::unique_ptr<LineRecorder> recorder, const std::string& name,
                      std::string_view header) {
  // The earlier file of this stream, if any, is closed when it is replaced here.
  f.recorder = std::move(recorder);
  f.path = name;
  f.on = true;
  f.bytes = 0;
  if (!header.empty()) write(f, header);
  return true;
}

void Recording::setFlushEachLine(Stream stream, bool flush) {
  if (auto& r = file(stream).recorder) r->setFlushEachWrite(flush);
}

bool Recording::stop(Stream stream) {
  File& f = file(stream);
  const bool wasOn = f.on;
  f.on = false;
  if (!f.recorder) return wasOn;
  return f.recorder->close() && wasOn;
}

bool Recording::writeRawLine(std::string_view line) {
  if (!m_raw.on) return true;
  m_line.assign(line);
  m_line += "\r\n";
  return write(m_raw, m_line);
}

bool Recording::writeEngr(std::string_view text) { return !m_engr.on || write(m_engr, text); }

bool Recording::writeCsv(std::string_view text) { return !m_csv.on || write(m_csv, text); }

bool Recording::write(File& f, std::string_view bytes) {
  if (f.recorder && f.recorder->write(bytes)) {
    f.bytes += static_cast<long>(bytes.size());
    return true;
  }
  // A write that did not reach the disk is not counted, and that recording ends.
  f.on = false;
  if (f.recorder) f.recorder->close();
  return false;
}

}  // namespace files
