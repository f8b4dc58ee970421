#include "app/exportjob.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "files/csvformat.h"
#include "measure/numbertext.h"

namespace app {

namespace {

constexpr size_t kReadBlock = 1 << 16;
constexpr size_t kOutputBlock = 1 << 16;

std::string lowerSuffix(const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  std::string lower;
  for (const char c : ext) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

ExportFormat ExportFormatFor(const std::string& path) {
  const std::string ext = lowerSuffix(path);
  return ext == ".nc" || ext == ".nc4" || ext == ".cdf" ? ExportFormat::Netcdf : ExportFormat::Csv;
}

ExportJob::ExportJob(Request request) : m_request(std::move(request)) {
  m_state.config = m_request.config;
  m_dispatch = std::make_unique<meterlink::LineDispatch>(
      m_state, [this](const std::string& caption, const std::string& text) { warn(m_lines + 1, caption, text); },
      nullptr);  // no host clock: the host's time of day is no part of the output
  m_dispatch->deviceFileInForce = true;
  m_dispatch->refCorrection = m_request.refCorrection;
  m_dispatch->tempCorrection = m_request.tempCorrection;
  m_dispatch->setOverflowHandler([this] { warn(m_lines + 1, "Input Buffer Overflow", "Check Baud Rate"); });
  m_dispatch->setLineHandler([this](const meterlink::Line& line) { takeLine(line); });
}

ExportJob::~ExportJob() {
  if (m_status == Status::Running) cancel();
}

bool ExportJob::start() {
  if (m_started) return m_status == Status::Running;
  m_started = true;
  std::error_code ec;
  const auto size = std::filesystem::file_size(m_request.input, ec);
  if (ec || !m_reader.open(m_request.input)) {
    m_status = Status::Failed;
    m_error = "The raw file '" + m_request.input + "' cannot be read.";
    return false;
  }
  m_inputBytes = static_cast<long long>(size);
  if (m_request.format == ExportFormat::Csv) {
    // Into a temporary file beside the chosen one, renamed when complete, so that a
    // cancelled or failed export leaves a file it was to replace as it was. A device
    // (or anything else that is not a plain file) is written directly.
    std::error_code ec;
    const bool plain = !std::filesystem::exists(m_request.output, ec) ||
                       std::filesystem::is_regular_file(m_request.output, ec);
    m_csvPath = plain ? m_request.output + ".part" : m_request.output;
    if (!m_csv.open(m_csvPath)) {
      m_status = Status::Failed;
      m_error = "The file '" + m_request.output + "' cannot be created.";
      return false;
    }
    // One flush at the end, as maru convert does: the rows go out a block at a time.
    m_csv.setFlushEachWrite(false);
    m_out = files::CsvHeader(m_state.config);
  } else {
    files::NetcdfProvenance provenance;
    provenance.deviceFileText = m_request.deviceFileText;
    provenance.history = m_request.history;
    provenance.meterTimeZone = m_request.meterTimeZone;
    if (!m_netcdf.open(m_request.output, m_state.config, provenance)) {
      m_status = Status::Failed;
      m_error = "The file '" + m_request.output + "' cannot be created: " + m_netcdf.error();
      return false;
    }
  }
  m_block.resize(kReadBlock);
  return true;
}

ExportJob::Status ExportJob::step(size_t maxBytes) {
  if (m_status != Status::Running || !m_started) return m_status;
  size_t budget = std::max<size_t>(maxBytes, 1);
  while (budget > 0 && m_status == Status::Running) {
    const size_t n = m_reader.readBlock(m_block.data(), std::min(budget, m_block.size()));
    if (n == 0) {
      if (finish()) m_status = Status::Done;
      break;
    }
    m_readBytes += static_cast<long long>(n);
    budget -= std::min(budget, n);
    m_dispatch->feed(m_block.data(), n);
  }
  return m_status;
}

void ExportJob::takeLine(const meterlink::Line& line) {
  if (m_status != Status::Running) return;
  ++m_lines;
  if (line.kind == meterlink::Line::Kind::Reply) {
    m_known.noteReply(line.text, line.reply.matched);
    return;
  }
  m_known.noteDataLine(line.text);
  if (const int fresh = line.correctionsSkipped & ~m_correctionWarned) {
    m_correctionWarned |= fresh;
    for (const int flag : {measure::CorrectionReference, measure::CorrectionTemperature})
      if (fresh & flag) warn(m_lines, "Correction Skipped", measure::CorrectionSkippedText(flag));
  }
  const measure::MeterClock& clock = m_state.clock;
  const bool dateKnown = m_known.dateKnown(clock);
  if (m_request.format == ExportFormat::Csv) {
    // A conversion has no host time.
    const files::SampleTimes times{
        std::nullopt, files::meterEpochSeconds(clock, dateKnown, m_known.timeKnown(), m_request.meterTimeZone)};
    files::appendCsvRow(m_out, times, m_state.config, m_state.sample, clock, m_state.eng);
    ++m_samples;
    if (m_out.size() >= kOutputBlock && !flushCsv()) return;
  } else {
    const auto time = files::meterEpochSeconds(clock, dateKnown, m_known.timeKnown(), m_request.meterTimeZone);
    if (!m_netcdf.write(time, m_state.sample, m_state.eng)) {
      fail(m_netcdf.error());
      return;
    }
    ++m_samples;
  }
}

bool ExportJob::flushCsv() {
  if (m_out.empty()) return true;
  if (!m_csv.write(m_out)) {
    fail("'" + m_request.output + "' could not be written (disk full or file gone).");
    return false;
  }
  m_out.clear();
  return true;
}

bool ExportJob::finish() {
  if (m_request.format == ExportFormat::Csv) {
    if (!flushCsv()) return false;
    if (!m_csv.close()) {
      fail("'" + m_request.output + "' could not be completed (disk full or file gone).");
      return false;
    }
    if (m_csvPath != m_request.output) {
      std::error_code ec;
      std::filesystem::rename(m_csvPath, m_request.output, ec);
      if (ec) {
        fail("'" + m_request.output + "' could not be put in place: " + ec.message());
        return false;
      }
    }
    return true;
  }
  if (!m_netcdf.finish()) {
    fail(m_netcdf.error());
    return false;
  }
  return true;
}

void ExportJob::fail(const std::string& text) {
  m_status = Status::Failed;
  // The line being converted when it failed; before the first line, the start.
  const long line = std::max<long>(m_lines, 1);
  m_error = "Line " + std::to_string(line) + " of '" + m_request.input + "': " + text;
  discardOutput();
}

void ExportJob::cancel() {
  if (m_status != Status::Running) return;
  m_status = Status::Cancelled;
  discardOutput();
}

void ExportJob::discardOutput() {
  m_reader.close();
  if (m_request.format == ExportFormat::Csv) {
    if (m_csv.isOpen()) m_csv.close();
    // Only the temporary file this export made is removed (never the chosen file, nor a
    // device such as /dev/full).
    if (m_started && !m_csvPath.empty() && m_csvPath != m_request.output) std::remove(m_csvPath.c_str());
  } else {
    m_netcdf.abandon();
  }
  m_out.clear();
}

void ExportJob::warn(long line, const std::string& caption, const std::string& text) {
  std::string oneLine = text;
  for (char& c : oneLine)
    if (c == '\n' || c == '\r') c = ' ';
  m_warnings.push_back("line " + std::to_string(line) + ": " + caption + ": " + oneLine);
}

int ExportJob::percent() const {
  if (m_status == Status::Done) return 100;
  if (m_inputBytes <= 0) return 0;
  return static_cast<int>(std::min<long long>(100, m_readBytes * 100 / m_inputBytes));
}

}  // namespace app
