#include "acquire/dailyfiles.h"

#include "acquire/recordings.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "acquire/logclock.h"
#include "files/csvformat.h"
#include "files/engrformat.h"

namespace acquire {

namespace {

const char* extension(DailyLogFiles::Kind kind) {
  switch (kind) {
    case DailyLogFiles::Kind::Raw: return ".raw";
    case DailyLogFiles::Kind::Eng: return ".eng";
    case DailyLogFiles::Kind::Csv: return ".csv";
  }
  return "";
}

// Why `path` could not be opened; a symbolic link in its place says so plainly.
std::string openFailure(const std::string& path, int cause) {
#if !defined(_WIN32)
  struct stat st {};
  if (cause == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    return "it is a symbolic link, which the logger does not follow";
#else
  (void)path;
#endif
  return std::strerror(cause);
}

constexpr DailyLogFiles::Kind kKinds[] = {DailyLogFiles::Kind::Raw, DailyLogFiles::Kind::Eng,
                                          DailyLogFiles::Kind::Csv};

}  // namespace

DailyLogFiles::DailyLogFiles(std::string folder, const measure::DeviceConfig& config, measure::WarningSink warn)
    : m_folder(std::move(folder)), m_config(config), m_warn(std::move(warn)) {
  if (!m_folder.empty() && m_folder.back() != '/') m_folder += '/';
}

DailyLogFiles::~DailyLogFiles() { close(); }

std::string DailyLogFiles::path(Kind kind) const { return m_folder + m_base + extension(kind); }

long DailyLogFiles::size(Kind kind) const {
  const Handle& h = handle(kind);
  return h.file.isOpen() ? h.file.startSize() + h.file.bytes() : 0;
}

bool DailyLogFiles::open(TimePoint now, std::string& error) {
  closeAll();
  // The headers follow the device file, which does not change while the logger runs.
  m_engHeader = files::EngrHeader(m_config);
  m_csvHeader = m_qc ? files::CsvHeader(m_config, *m_qc) : files::CsvHeader(m_config);
  m_day = utcDayStamp(now);
  m_base = chooseSet();
  return openAll(error);
}

std::string DailyLogFiles::chooseSet() {
  // Rows under another header would read as columns they are not: such a set is left as it
  // is, .raw included (a set's three files belong together).
  for (int n = 1;; ++n) {
    const std::string base = n == 1 ? m_day : m_day + "_" + std::to_string(n);
    const char* other = files::beginsOtherwise(m_folder + base + ".eng", m_engHeader, false)   ? ".eng"
                        : files::beginsOtherwise(m_folder + base + ".csv", m_csvHeader, false) ? ".csv"
                                                                                                : nullptr;
    if (!other) return base;
    const std::string next = m_folder + m_day + "_" + std::to_string(n + 1);
    if (m_warn)
      m_warn("Columns Differ", "'" + m_folder + base + other + "' has other columns than this run writes; it is " +
                                   "left as it is and the rows go to " + next + ".raw, .eng and .csv");
  }
}

bool DailyLogFiles::openAll(std::string& error) {
  bool ok = true;
  for (const Kind kind : kKinds) ok = openOne(kind, error) && ok;
  m_lastSync = Steady::now();
  return ok;
}

bool DailyLogFiles::openOne(Kind kind, std::string& error) {
  Handle& h = handle(kind);
  const std::string name = path(kind);
  h.lastOpenTry = Steady::now();
  // Appending: a restart on the same day goes on where the last run stopped (a row torn
  // by a crash is cut off first).
  h.file.setFollowLinks(false);
  if (!h.file.openAppend(name)) {
    const std::string why = openFailure(name, errno);
    error = "cannot open '" + name + "': " + why;
    failed(kind, why, false);
    return false;
  }
  // The header goes only into a file that is new (or was left empty).
  const std::string_view header = h.file.startSize() > 0 ? std::string_view() :
                                  kind == Kind::Eng ? std::string_view(m_engHeader) :
                                  kind == Kind::Csv ? std::string_view(m_csvHeader) : std::string_view();
  if (!header.empty() && !h.file.write(header)) {
    const std::string why = std::strerror(errno);
    error = "cannot write '" + name + "': " + why;
    failed(kind, why, false);
    h.file.close();  // opened again, header first, when there is room
    return false;
  }
  return true;
}

void DailyLogFiles::closeAll() {
  if (m_day.empty()) return;
  for (Handle& h : m_handles) {
    h.file.sync();
    h.file.close();
  }
  m_dirty = false;
}

void DailyLogFiles::close() {
  closeAll();
  m_day.clear();
  m_base.clear();
}

void DailyLogFiles::sync() {
  for (Handle& h : m_handles) h.file.sync();
  m_dirty = false;
  m_lastSync = Steady::now();
}

void DailyLogFiles::failed(Kind kind, const std::string& why, bool report) {
  Handle& h = handle(kind);
  h.why = why;
  if (!h.failed) {
    h.failed = true;
    if (report && m_warn)
      m_warn("Recording Stopped", "The file '" + path(kind) + "' could not be written (" + why +
                                      "); trying it again with each line.");
  }
  noteStopped();
}

void DailyLogFiles::noteStopped() {
  m_stoppedWhy.clear();
  for (const Kind kind : kKinds)
    if (handle(kind).failed) {
      m_stoppedWhy = "'" + path(kind) + "': " + handle(kind).why;
      break;
    }
}

void DailyLogFiles::writeRow(Kind kind, std::string_view row) {
  Handle& h = handle(kind);
  if (!h.file.isOpen()) {
    // Gone or never opened: by name again, at most once a second.
    if (Steady::now() - h.lastOpenTry < std::chrono::seconds(1)) return;
    std::string error;
    if (!openOne(kind, error)) return;
  }
  if (!h.file.write(row)) {
    const int cause = errno;
    // A full disk keeps the file open for the next row; anything else (the file was
    // deleted or moved away, an I/O error) opens it again by name.
    if (cause != ENOSPC && cause != EDQUOT && cause != EFBIG) h.file.close();
    failed(kind, std::strerror(cause), true);
    return;
  }
  if (h.failed) {
    h.failed = false;
    noteStopped();
    if (m_warn) m_warn("Recording Resumed", "Writing '" + path(kind) + "' again.");
  }
}

void DailyLogFiles::write(TimePoint received, std::optional<double> meterTime, std::string_view raw,
                          const meterlink::MeterState& state, const files::QcRun* qc) {
  if (!m_day.empty() && utcDayStamp(received) != m_day) {
    std::string error;
    if (!open(received, error) && m_warn) m_warn("Recording Stopped", error);
  }
  if (m_day.empty()) return;
  ++m_lines;
  m_text.assign(raw);
  m_text += "\r\n";
  writeRow(Kind::Raw, m_text);
  m_text.clear();
  files::appendEngrLine(m_text, state.config, state.sample, state.clock, state.eng);
  writeRow(Kind::Eng, m_text);
  m_text.clear();
  appendCsvRecord(m_text, SampleRecord{raw, state, {received, meterTime}, qc}, m_qc, m_flags);
  writeRow(Kind::Csv, m_text);
  m_dirty = true;
}

void DailyLogFiles::unfitLine(std::string_view raw, TimePoint received) {
  if (!m_day.empty() && utcDayStamp(received) != m_day) {
    std::string error;
    if (!open(received, error) && m_warn) m_warn("Recording Stopped", error);
  }
  if (m_day.empty()) return;
  m_text.assign(raw);
  m_text += "\r\n";
  writeRow(Kind::Raw, m_text);
  m_dirty = true;
}

void DailyLogFiles::tick(TimePoint now) {
  if (m_day.empty()) return;
  if (utcDayStamp(now) != m_day) {
    std::string error;
    if (!open(now, error) && m_warn) m_warn("Recording Stopped", error);
    return;
  }
  // A file that could not be opened is tried again by name each second, also while no
  // line comes; "Recording Resumed" waits for a row that is really written.
  for (const Kind kind : kKinds) {
    Handle& h = handle(kind);
    std::string error;
    if (!h.file.isOpen() && Steady::now() - h.lastOpenTry >= std::chrono::seconds(1)) openOne(kind, error);
  }
  // Ticks come about a second apart: syncing a second early keeps every line within
  // kSyncSeconds of reaching the disk.
  const auto sinceSync = Steady::now() - m_lastSync;
  if (sinceSync < std::chrono::seconds(kSyncSeconds - 1)) return;
  if (m_dirty) sync();
  m_lastSync = Steady::now();
}

void DailyLogFiles::reopen(TimePoint now) {
  std::string error;
  if (!open(now, error) && m_warn) m_warn("Recording Stopped", error);
}

// ------------------------------------------------------------------------ one logger per folder

FolderLock::~FolderLock() {
#if !defined(_WIN32)
  if (m_fd >= 0) ::close(m_fd);  // the lock goes with it; the file stays for the next one
#endif
}

bool FolderLock::lock(const std::string& folder, std::string& error) {
#if defined(_WIN32)
  (void)folder;
  (void)error;
  return true;
#else
  const std::string path = folder + (folder.empty() || folder.back() == '/' ? "" : "/") + kFileName;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    error = "cannot open the lock file '" + path + "': " + openFailure(path, errno);
    return false;
  }
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (::fcntl(fd, F_SETLK, &whole) != 0) {
    const int cause = errno;
    if (cause == ENOLCK || cause == EOPNOTSUPP || cause == ENOSYS) {
      // A file system without locks (some network mounts) still takes the rows.
      m_notLocked = "'" + folder + "' cannot be locked (" + std::strerror(cause) +
                    "); a second logger into it would not be kept out";
      ::close(fd);
      return true;
    }
    if (cause != EACCES && cause != EAGAIN) {
      error = "cannot lock '" + path + "': " + std::strerror(cause);
      ::close(fd);
      return false;
    }
    // The kernel knows the holder; the file's text stands in where it cannot tell (another
    // PID namespace).
    struct flock holder {};
    holder.l_type = F_WRLCK;
    holder.l_whence = SEEK_SET;
    long pid = ::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK ? holder.l_pid : 0;
    ::close(fd);
    if (pid <= 0) std::ifstream(path) >> pid;
    std::string who = pid > 0 ? "PID " + std::to_string(pid) : "a process";
    std::string command;
    if (pid > 0 && std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), command) && !command.empty())
      who += " (" + command + ")";
    error = "another logger writes into '" + folder + "': " + who + " holds " + path + "; one logger per folder";
    return false;
  }
  // Who holds it, for the next one's message; the lock holds also when this note fails.
  const std::string text = std::to_string(::getpid()) + "\n";
  [[maybe_unused]] const bool noted =
      ::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
  m_fd = fd;
  return true;
#endif
}

}  // namespace acquire
