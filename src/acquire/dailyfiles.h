#pragma once
// The logger's files: DIR/YYYYMMDD.raw, .eng and .csv for each UTC day (YYYYMMDD_2, _3, ...
// when an earlier set of the day has other columns), appended to and never truncated,
// flushed line by line and synced to disk now and then. One logger per folder.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquire/session.h"
#include "files/recorders.h"
#include "link/linedispatch.h"
#include "measure/devicefile.h"

namespace acquire {

/// Writes each accepted data line into the files of the UTC day it was received on. A file
/// that exists is appended to; a new or empty one gets its header first (.eng: the
/// engineering-units header; .csv: files::CsvHeader). One layout per file: a set whose .eng
/// or .csv begins with another header than this run writes (another device file, other
/// checks) is left as it is and the next set of the day is taken, "YYYYMMDD_2" and so on,
/// which is told through `warn` ("Columns Differ"). A day file that is a symbolic link is
/// not followed: it cannot be opened, like any unwritable file. Each row reaches the
/// system with one write, and a file only ever grows by whole rows: a row that did not fit
/// (a full disk) is cut off again. A failed write is reported once through `warn`
/// ("Recording Stopped", with the cause); the next rows are tried as they come (a file that
/// went away is opened again by name once a second), and "Recording Resumed" follows only
/// once a row was really written.
class DailyLogFiles : public Sink {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  enum class Kind { Raw, Eng, Csv };
  static constexpr int kSyncSeconds = 10;  ///< the longest a written line waits for fsync

  /// `config` must outlive the files.
  DailyLogFiles(std::string folder, const measure::DeviceConfig& config, measure::WarningSink warn);
  ~DailyLogFiles() override;
  DailyLogFiles(const DailyLogFiles&) = delete;
  DailyLogFiles& operator=(const DailyLogFiles&) = delete;

  /// Opens the files of `now`'s UTC day. False (with the reason in `error`) when any cannot
  /// be opened.
  bool open(TimePoint now, std::string& error);
  /// Appends one accepted line received at `received`, whose meter time was `meterTime`
  /// (UTC seconds; nothing when unknown): the raw line, its engineering-units line and its
  /// CSV row. Rolls over first when `received` is on another day.
  /// With `qc`, the CSV row carries each checked stream's live flag (see setQc()).
  void write(TimePoint received, std::optional<double> meterTime, std::string_view raw,
             const meterlink::MeterState& state, const files::QcRun* qc = nullptr);
  /// A sample from the session: written as received by the host (the session's clock).
  void sample(const SampleRecord& record) override {
    write(record.times.host.value_or(TimePoint{}), record.times.meterEpochSeconds, record.raw, record.state,
          record.qc);
  }
  /// A line that does not fit the device file: into .raw only, as received.
  void unfitLine(std::string_view raw, TimePoint received) override;
  /// The CSV files opened from now on have the "_qc" columns of `qc` (null: none). Set
  /// before open(); `qc` must outlive the files.
  void setQc(const files::QcRun* qc) { m_qc = qc; }
  /// Once a second or so: rolls over at UTC midnight, syncs what was written at most
  /// kSyncSeconds ago, reopens a file whose write failed.
  void tick(TimePoint now);
  /// Syncs, closes and opens the same day's files by name again (after a log rotation).
  void reopen(TimePoint now);
  /// Syncs and closes every file.
  void close();

  const std::string& day() const { return m_day; }
  /// The open set's name without folder and extension: "20261208", "20261208_2", ...
  const std::string& base() const { return m_base; }
  std::string path(Kind kind) const;
  /// The file's size in bytes as far as this program knows (what it found plus what it wrote).
  long size(Kind kind) const;
  /// Lines (rows) written to every file since start.
  long long linesWritten() const { return m_lines; }
  /// "" while every file takes its rows; otherwise why one does not ("'DIR/20261208.csv':
  /// No space left on device").
  const std::string& stoppedWhy() const { return m_stoppedWhy; }

 private:
  using Steady = std::chrono::steady_clock;
  struct Handle {
    files::LineRecorder file;
    bool failed = false;  // a write failed and was reported; not yet written again
    std::string why;      // the cause of that failure
    Steady::time_point lastOpenTry;
  };
  /// The day's first set whose .eng and .csv are new or begin with this run's headers.
  std::string chooseSet();
  bool openAll(std::string& error);
  bool openOne(Kind kind, std::string& error);
  void closeAll();
  void sync();
  void writeRow(Kind kind, std::string_view row);
  /// Marks `kind` failed for `why`; `report`: warn now (a failed open is told by its caller).
  void failed(Kind kind, const std::string& why, bool report);
  void noteStopped();
  Handle& handle(Kind kind) { return m_handles[static_cast<int>(kind)]; }
  const Handle& handle(Kind kind) const { return m_handles[static_cast<int>(kind)]; }

  std::string m_folder;
  const measure::DeviceConfig& m_config;
  measure::WarningSink m_warn;
  std::string m_day;  // "YYYYMMDD" of the open files; "" while closed
  std::string m_base;  // m_day, or m_day + "_N"
  Handle m_handles[3];
  std::string m_engHeader, m_csvHeader;
  std::string m_text;  // reused for each line
  const files::QcRun* m_qc = nullptr;
  std::vector<qc::Flag> m_flags;
  std::string m_stoppedWhy;
  bool m_dirty = false;
  Steady::time_point m_lastSync;
  long long m_lines = 0;
};

/// One logger per folder: a POSIX record lock on DIR/.maru-log.lock, held while the object
/// lives, the holder's process id written into the file. The lock goes with its process,
/// so the file a killed logger left behind does not block the next one.
class FolderLock {
 public:
  static constexpr const char* kFileName = ".maru-log.lock";
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  /// Takes the lock of `folder`. False with the reason in `error` when another process
  /// holds it (named by its process id and command) or the lock file cannot be made.
  bool lock(const std::string& folder, std::string& error);
  /// After a lock() that succeeded without a lock (the file system has none): why; else "".
  const std::string& notLocked() const { return m_notLocked; }

 private:
  int m_fd = -1;
  std::string m_notLocked;
};

}  // namespace acquire
