#include "acquire/recordings.h"

#include <filesystem>

#include "files/csvformat.h"
#include "files/engrformat.h"

namespace acquire {

void appendCsvRecord(std::string& out, const SampleRecord& record, const files::QcRun* columns,
                     std::vector<qc::Flag>& flags) {
  const meterlink::MeterState& s = record.state;
  if (!columns) return files::appendCsvRow(out, record.times, s.config, s.sample, s.clock, s.eng);
  // The columns stay those of the header: a sample these checks did not see is not evaluated.
  flags.assign(columns->streams().size(), qc::Flag::NotEvaluated);
  if (record.qc == columns)
    for (size_t i = 0; i < flags.size(); ++i) flags[i] = columns->now()[i].liveAggregate();
  files::appendCsvRow(out, record.times, s.config, s.sample, s.clock, s.eng, *columns, flags);
}

namespace {
int index(files::Recording::Stream stream) { return static_cast<int>(stream); }

// "DIR/NAME.ext" as its part `n`: "DIR/NAME_n.ext".
std::string partName(const std::string& base, int n) {
  const std::filesystem::path p(base);
  return (p.parent_path() / (p.stem().string() + "_" + std::to_string(n) + p.extension().string())).string();
}
}  // namespace

bool Recordings::start(Stream stream, const std::string& path) {
  if (!anyOn()) becameIdle();
  static const measure::DeviceConfig kNone;
  const measure::DeviceConfig& config = m_config ? *m_config : kNone;
  std::string header;
  if (stream == Stream::Engr) header = files::EngrHeader(config);
  if (stream == Stream::Csv) header = m_qc ? files::CsvHeader(config, *m_qc) : files::CsvHeader(config);
  if (!m_files.start(stream, path, header)) return false;
  (stream == Stream::Csv ? m_csvHeader : m_engHeader) = header;
  m_base[index(stream)] = path;
  m_part[index(stream)] = 1;
  // Skipped corrections are told again for each engineering-units recording.
  if (stream == Stream::Engr) m_correctionWarned = measure::CorrectionNone;
  if (!on(stream)) failed(stream);  // the header did not reach the file
  return on(stream);
}

bool Recordings::stop(Stream stream) {
  const bool done = m_files.stop(stream);
  if (!anyOn()) becameIdle();
  return done;
}

void Recordings::stopAll() {
  stopFiles();
  becameIdle();
}

void Recordings::stopFiles() {
  for (const Stream s : {Stream::Raw, Stream::Engr, Stream::Csv}) m_files.stop(s);
}

void Recordings::becameIdle() {
  if (m_idle) m_idle();
}

void Recordings::columns(const measure::DeviceConfig& config, const files::QcRun* qc) {
  m_config = &config;
  m_qc = qc;
  m_correctionWarned = measure::CorrectionNone;
  if (on(Stream::Engr))
    if (std::string header = files::EngrHeader(config); header != m_engHeader) nextFile(Stream::Engr, header);
  if (on(Stream::Csv))
    if (std::string header = qc ? files::CsvHeader(config, *qc) : files::CsvHeader(config); header != m_csvHeader)
      nextFile(Stream::Csv, header);
}

void Recordings::nextFile(Stream stream, const std::string& header) {
  const int i = index(stream);
  std::error_code ec;
  std::string path;
  do path = partName(m_base[i], ++m_part[i]);
  while (std::filesystem::exists(path, ec));
  const std::string old = m_files.path(stream);
  if (!m_files.start(stream, path, header)) {
    m_files.stop(stream);
    m_listener.recordingStopped(stream, "The columns of '" + old + "' changed, and the next file '" + path +
                                            "' could not be made. Recording to it has stopped.");
    return;
  }
  (stream == Stream::Csv ? m_csvHeader : m_engHeader) = header;
  if (!on(stream)) return failed(stream);
  m_listener.warning("Columns Differ", "The columns changed (device file or quality control): '" + old +
                                           "' is complete and the recording goes on in '" + path + "'.");
}

void Recordings::sample(const SampleRecord& record) {
  // Once per engineering-units recording (and per device file): the samples concerned are
  // converted without that correction, so the files never hold inf or nan.
  if (const int fresh = record.correctionsSkipped & ~m_correctionWarned; fresh != measure::CorrectionNone) {
    m_correctionWarned |= fresh;
    for (const int flag : {measure::CorrectionReference, measure::CorrectionTemperature})
      if (fresh & flag) m_listener.warning("Correction Skipped", measure::CorrectionSkippedText(flag));
  }
  const meterlink::MeterState& s = record.state;
  if (on(Stream::Engr)) {
    m_row.clear();
    files::appendEngrLine(m_row, s.config, s.sample, s.clock, s.eng);
    if (!m_files.writeEngr(m_row)) failed(Stream::Engr);
  }
  if (on(Stream::Csv)) {
    m_row.clear();
    appendCsvRecord(m_row, record, m_qc, m_flags);
    if (!m_files.writeCsv(m_row)) failed(Stream::Csv);
  }
  if (!m_files.writeRawLine(record.raw)) failed(Stream::Raw);
}

void Recordings::failed(Stream stream) {
  // The write was not counted and the recording of that file has ended; told once.
  const char* what = stream == Stream::Raw ? "raw" : stream == Stream::Engr ? "engineering units" : "CSV";
  m_listener.recordingStopped(stream, std::string("The ") + what + " file '" + m_files.path(stream) +
                                          "' could not be written (disk full or file gone). Recording to it has stopped.");
}

}  // namespace acquire
