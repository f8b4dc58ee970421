#pragma once
// A recording file (raw, engineering units, CSV, a memory dump): each write goes to the
// operating system at once with one system call, and a file is only ever extended by
// whole writes: a write that did not fully reach the disk (a full disk, say) is cut off
// again, so what the file holds ends where the last whole row ended.
#include <cstdio>
#include <string>
#include <string_view>

namespace files {

class LineRecorder {
 public:
  LineRecorder() = default;
  ~LineRecorder() { close(); }
  LineRecorder(const LineRecorder&) = delete;
  LineRecorder& operator=(const LineRecorder&) = delete;

  /// Creates/truncates `path`, then closes the file open before. False (errno set) when
  /// `path` cannot be made; the earlier file then stays open.
  bool open(const std::string& path);
  /// Opens `path` for appending (made when missing), then closes the file open before.
  /// A last row left without its line end (a crash or power loss in the middle of a
  /// write) is cut off first, so the next row starts on a line of its own.
  bool openAppend(const std::string& path);
  /// Records into an already open stream (e.g. stdout) that close() flushes but does
  /// not close. Writes go straight to its descriptor; what the stream buffered is
  /// flushed first.
  void attach(std::FILE* stream, const std::string& name);
  /// On by default: after each write, a live recording also checks that its file was not
  /// deleted meanwhile (it would take writes that nobody will ever see). A bulk converter
  /// writing large blocks switches the check off.
  void setFlushEachWrite(bool check) { m_checkRemoved = check; }
  /// On by default. Off (a logger's own files): open() and openAppend() refuse a path that
  /// is a symbolic link (false, errno ELOOP) and leave the link and its target as they are.
  void setFollowLinks(bool follow) { m_followLinks = follow; }
  /// Writes all of `bytes`. Returns false (errno says why, nothing is counted) when they
  /// did not all reach the file, or when the file was deleted meanwhile; a part that did
  /// reach a regular file is cut off again. The file stays open until close().
  bool write(std::string_view bytes);
  /// Asks the system to put what was written on the disk; false when it could not.
  bool sync();
  /// Closes the file; false when the close failed.
  bool close();
  bool isOpen() const { return m_fd >= 0; }
  const std::string& path() const { return m_path; }
  /// Bytes handed to the operating system successfully since open().
  long bytes() const { return m_bytes; }
  /// The file's size when it was opened (openAppend: after any cut); 0 for open().
  long startSize() const { return m_startSize; }

 private:
  bool adopt(int fd, const std::string& path, bool owned);
  bool removed() const;
  bool cutBackToEnd();
  int m_fd = -1;
  std::string m_path;
  long m_bytes = 0;
  long m_startSize = 0;
  long long m_end = -1;    // where the last whole write ended; -1: not a file that can be cut
  bool m_tornTail = false;  // a cut failed: the file holds part of a write past m_end
  bool m_owned = true;
  bool m_checkRemoved = true;
  bool m_followLinks = true;
};

/// Whether the file at `path` begins otherwise than with `header` (one line with its line
/// end), reading at most header.size() bytes. A missing, empty or unreadable file does not,
/// nor one holding only the start of `header` without a line end (a header write cut short,
/// which openAppend() cuts off). `followLinks` false: a symbolic link is not read (false).
bool beginsOtherwise(const std::string& path, std::string_view header, bool followLinks = true);

}  // namespace files
