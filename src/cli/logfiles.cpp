#include "cli/logfiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/logclock.h"
#include "files/csvformat.h"
#include "files/engrformat.h"

namespace cli {

namespace {

using Stream = files::Recording::Stream;

const char* extension(DailyLogFiles::Kind kind) {
  switch (kind) {
    case DailyLogFiles::Kind::Raw: return ".raw";
    case DailyLogFiles::Kind::Eng: return ".eng";
    case DailyLogFiles::Kind::Csv: return ".csv";
  }
  return "";
}

constexpr DailyLogFiles::Kind kKinds[] = {DailyLogFiles::Kind::Raw, DailyLogFiles::Kind::Eng,
                                          DailyLogFiles::Kind::Csv};

}  // namespace

DailyLogFiles::DailyLogFiles(std::string folder, const measure::DeviceConfig& config, measure::WarningSink warn)
    : m_folder(std::move(folder)), m_config(config), m_warn(std::move(warn)) {
  if (!m_folder.empty() && m_folder.back() != '/') m_folder += '/';
}

DailyLogFiles::~DailyLogFiles() { close(); }

std::string DailyLogFiles::path(Kind kind) const { return m_folder + m_day + extension(kind); }

long DailyLogFiles::size(Kind kind) const {
  const Handle& h = handle(kind);
  if (!h.file) return 0;
  switch (kind) {
    case Kind::Raw: return h.startSize + m_recording.bytes(Stream::Raw);
    case Kind::Eng: return h.startSize + m_recording.bytes(Stream::Engr);
    case Kind::Csv: return h.startSize + m_csv.bytes();
  }
  return 0;
}

bool DailyLogFiles::open(TimePoint now, std::string& error) {
  closeAll();
  // The headers follow the device file, which does not change while the logger runs.
  m_engHeader = files::EngrHeader(m_config);
  m_csvHeader = "time_utc";
  for (const std::string& name : files::CsvColumnNames(m_config)) m_csvHeader += "," + name;
  m_csvHeader += "\r\n";
  m_day = utcDayStamp(now);
  return openAll(error);
}

bool DailyLogFiles::openAll(std::string& error) {
  bool ok = true;
  for (const Kind kind : kKinds) ok = openOne(kind, error) && ok;
  m_lastSync = std::chrono::steady_clock::now();
  return ok;
}

bool DailyLogFiles::openOne(Kind kind, std::string& error) {
  Handle& h = handle(kind);
  const std::string name = path(kind);
  // Appending: a restart on the same day goes on where the last run stopped.
  std::FILE* file = std::fopen(name.c_str(), "ab");
  if (!file) {
    error = "cannot open '" + name + "': " + std::strerror(errno);
    h.failed = true;
    return false;
  }
  struct stat st {};
  h.startSize = fstat(fileno(file), &st) == 0 ? static_cast<long>(st.st_size) : 0;
  h.file = file;
  h.failed = false;
  // The header goes only into a file that is new (or was left empty).
  const std::string_view header = h.startSize > 0 ? std::string_view() :
                                  kind == Kind::Eng ? std::string_view(m_engHeader) :
                                  kind == Kind::Csv ? std::string_view(m_csvHeader) : std::string_view();
  bool written = true;
  switch (kind) {
    case Kind::Raw: m_recording.start(Stream::Raw, file, name); break;
    case Kind::Eng:
      m_recording.start(Stream::Engr, file, name, header);
      written = m_recording.on(Stream::Engr);
      break;
    case Kind::Csv:
      m_csv.attach(file, name);
      written = header.empty() || m_csv.write(header);
      break;
  }
  if (!written) {
    error = "cannot write '" + name + "'";
    noteResult(kind, false);
    return false;
  }
  return true;
}

void DailyLogFiles::closeAll() {
  if (m_day.empty()) return;
  m_recording.stop(Stream::Raw);
  m_recording.stop(Stream::Engr);
  m_csv.close();  // flushes; the stream is ours to close
  for (Handle& h : m_handles) {
    if (!h.file) continue;
    fsync(fileno(h.file));
    std::fclose(h.file);
    h.file = nullptr;
  }
  m_dirty = false;
}

void DailyLogFiles::close() {
  closeAll();
  m_day.clear();
}

void DailyLogFiles::sync() {
  for (Handle& h : m_handles)
    if (h.file) fsync(fileno(h.file));
  m_dirty = false;
  m_lastSync = std::chrono::steady_clock::now();
}

void DailyLogFiles::noteResult(Kind kind, bool ok) {
  Handle& h = handle(kind);
  if (ok || h.failed) return;
  h.failed = true;
  if (m_warn)
    m_warn("Recording Stopped", "The file '" + path(kind) +
                                    "' could not be written (disk full or file gone); trying it again within " +
                                    std::to_string(kSyncSeconds) + " s.");
}

void DailyLogFiles::write(TimePoint received, std::string_view raw, const meterlink::MeterState& state) {
  if (!m_day.empty() && utcDayStamp(received) != m_day) {
    std::string error;
    if (!open(received, error) && m_warn) m_warn("Recording Stopped", error);
  }
  ++m_lines;
  if (handle(Kind::Raw).file && !handle(Kind::Raw).failed) noteResult(Kind::Raw, m_recording.writeRawLine(raw));
  if (handle(Kind::Eng).file && !handle(Kind::Eng).failed) {
    m_text.clear();
    files::appendEngrLine(m_text, state.config, state.sample, state.clock, state.eng);
    noteResult(Kind::Eng, m_recording.writeEngr(m_text));
  }
  if (handle(Kind::Csv).file && !handle(Kind::Csv).failed) {
    m_text = files::IsoUtcMillis(received);
    files::appendCsvValues(m_text, state.config, state.sample, state.clock, state.eng);
    m_text += "\r\n";
    noteResult(Kind::Csv, m_csv.write(m_text));
  }
  m_dirty = true;
}

void DailyLogFiles::tick(TimePoint now) {
  if (m_day.empty()) return;
  if (utcDayStamp(now) != m_day) {
    std::string error;
    if (!open(now, error) && m_warn) m_warn("Recording Stopped", error);
    return;
  }
  // Ticks come about a second apart: syncing a second early keeps every line within
  // kSyncSeconds of reaching the disk.
  const auto sinceSync = std::chrono::steady_clock::now() - m_lastSync;
  if (sinceSync < std::chrono::seconds(kSyncSeconds - 1)) return;
  if (m_dirty) sync();
  m_lastSync = std::chrono::steady_clock::now();
  // A file whose write failed is tried again by name (appending: nothing is cut).
  for (const Kind kind : kKinds) {
    Handle& h = handle(kind);
    if (!h.failed) continue;
    if (h.file) {
      if (kind == Kind::Raw) m_recording.stop(Stream::Raw);
      else if (kind == Kind::Eng) m_recording.stop(Stream::Engr);
      else m_csv.close();
      std::fclose(h.file);
      h.file = nullptr;
    }
    std::string error;
    if (openOne(kind, error) && m_warn) m_warn("Recording Resumed", "Writing '" + path(kind) + "' again.");
  }
}

void DailyLogFiles::reopen(TimePoint now) {
  std::string error;
  if (!open(now, error) && m_warn) m_warn("Recording Stopped", error);
}

}  // namespace cli
