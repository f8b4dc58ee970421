#include "files/recorders.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace files {

namespace {

#if defined(_WIN32)
constexpr int kCreate = _O_WRONLY | _O_CREAT | _O_BINARY;
constexpr int kTruncate = _O_TRUNC;
constexpr int kAppend = _O_APPEND;
constexpr int kNoFollow = 0;  // links there are not what a logger meets
constexpr int kReadOnly = _O_RDONLY | _O_BINARY;
constexpr int kNoWait = 0;
int openFile(const std::string& path, int flags) { return ::_open(path.c_str(), flags, _S_IREAD | _S_IWRITE); }
long long writeSome(int fd, const char* data, size_t size) {
  return ::_write(fd, data, static_cast<unsigned>(size > 0x40000000u ? 0x40000000u : size));
}
int closeFile(int fd) { return ::_close(fd); }
int cutFile(int fd, long long size) { return ::_chsize_s(fd, size) == 0 ? 0 : -1; }
long long seekTo(int fd, long long at, int whence) { return ::_lseeki64(fd, at, whence); }
int syncFile(int fd) { return ::_commit(fd); }
int fileNumber(std::FILE* stream) { return ::_fileno(stream); }
long long readAt(int fd, char* data, size_t size, long long at) {
  if (seekTo(fd, at, SEEK_SET) < 0) return -1;
  return ::_read(fd, data, static_cast<unsigned>(size));
}
#else
constexpr int kCreate = O_WRONLY | O_CREAT | O_CLOEXEC;
constexpr int kTruncate = O_TRUNC;
constexpr int kAppend = O_APPEND;
constexpr int kNoFollow = O_NOFOLLOW;
constexpr int kReadOnly = O_RDONLY | O_CLOEXEC;
constexpr int kNoWait = O_NONBLOCK;  // a FIFO in the way does not hold the caller up
int openFile(const std::string& path, int flags) { return ::open(path.c_str(), flags, 0666); }
long long writeSome(int fd, const char* data, size_t size) { return ::write(fd, data, size); }
int closeFile(int fd) { return ::close(fd); }
int cutFile(int fd, long long size) { return ::ftruncate(fd, static_cast<off_t>(size)); }
long long seekTo(int fd, long long at, int whence) { return ::lseek(fd, static_cast<off_t>(at), whence); }
int syncFile(int fd) { return ::fsync(fd); }
int fileNumber(std::FILE* stream) { return ::fileno(stream); }
long long readAt(int fd, char* data, size_t size, long long at) {
  return ::pread(fd, data, size, static_cast<off_t>(at));
}
#endif

// The size of a regular file open as `fd`; -1 for anything else (a pipe, a terminal, a
// device), which cannot be cut back.
long long regularFileSize(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || (st.st_mode & S_IFMT) != S_IFREG) return -1;
  return static_cast<long long>(st.st_size);
}

// The size that keeps `path` up to its last line end: `size` when it ends with LF, 0
// when it holds no line end at all.
long long endOfLastWholeLine(const std::string& path, long long size, int flags) {
  const int fd = openFile(path, kReadOnly | flags);
  if (fd < 0) return size;
  std::vector<char> block(4096);
  long long end = size, result = 0;
  while (end > 0 && result == 0) {
    const long long from = std::max(0LL, end - static_cast<long long>(block.size()));
    const long long n = readAt(fd, block.data(), static_cast<size_t>(end - from), from);
    if (n <= 0) {
      result = size;  // unreadable: leave it as it is
      break;
    }
    for (long long i = n - 1; i >= 0 && result == 0; --i)
      if (block[static_cast<size_t>(i)] == '\n') result = from + i + 1;
    end = from;
  }
  closeFile(fd);
  return result;
}

}  // namespace

bool LineRecorder::open(const std::string& path) {
  // The new file first: when it cannot be made, the file being written goes on.
  const int fd = openFile(path, kCreate | kTruncate | (m_followLinks ? 0 : kNoFollow));
  if (fd < 0) return false;
  return adopt(fd, path, true);
}

bool LineRecorder::openAppend(const std::string& path) {
  const int noFollow = m_followLinks ? 0 : kNoFollow;
  const int fd = openFile(path, kCreate | kAppend | noFollow);
  if (fd < 0) return false;
  const long long size = regularFileSize(fd);
  if (size > 0) {
    const long long whole = endOfLastWholeLine(path, size, noFollow);
    if (whole < size && cutFile(fd, whole) != 0) {
      const int saved = errno;
      closeFile(fd);
      errno = saved;
      return false;
    }
  }
  return adopt(fd, path, true);
}

void LineRecorder::attach(std::FILE* stream, const std::string& name) {
  std::fflush(stream);
  adopt(fileNumber(stream), name, false);
}

bool LineRecorder::adopt(int fd, const std::string& path, bool owned) {
  close();
  m_fd = fd;
  m_path = path;
  m_bytes = 0;
  m_owned = owned;
  m_tornTail = false;
  m_end = regularFileSize(fd);
  m_startSize = m_end > 0 ? static_cast<long>(m_end) : 0;
  if (m_end >= 0 && !owned) m_end = seekTo(fd, 0, SEEK_CUR);  // a stream handed over writes from where it is
  return true;
}

bool LineRecorder::cutBackToEnd() {
  // Part of a row is never left in the file: the next row would be glued onto it.
  if (m_end < 0) return true;
  if (cutFile(m_fd, m_end) != 0) return false;
  seekTo(m_fd, m_end, SEEK_SET);  // a file not opened for appending writes at its offset
  return true;
}

bool LineRecorder::write(std::string_view bytes) {
  if (m_fd < 0) {
    errno = EBADF;
    return false;
  }
  if (m_tornTail) {
    if (!cutBackToEnd()) return false;
    m_tornTail = false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const long long n = writeSome(m_fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;  // a file system that takes nothing and says nothing
    const int saved = errno;
    if (done > 0) m_tornTail = !cutBackToEnd();
    errno = saved;
    return false;
  }
  if (m_checkRemoved && m_owned && removed()) {
    errno = ENOENT;
    return false;
  }
  m_bytes += static_cast<long>(bytes.size());
  if (m_end >= 0) m_end += static_cast<long long>(bytes.size());
  return true;
}

bool LineRecorder::sync() { return m_fd >= 0 && syncFile(m_fd) == 0; }

bool LineRecorder::removed() const {
#if defined(_WIN32)
  return false;  // an open file cannot be deleted there
#else
  // A file deleted while open still takes writes, into a file nobody will ever see.
  struct stat st {};
  return fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0;
#endif
}

bool beginsOtherwise(const std::string& path, std::string_view header, bool followLinks) {
  const int fd = openFile(path, kReadOnly | kNoWait | (followLinks ? 0 : kNoFollow));
  if (fd < 0) return false;
  std::string head(header.size(), '\0');
  long long got = 0;
  while (got < static_cast<long long>(head.size())) {
    const long long n = readAt(fd, head.data() + got, head.size() - static_cast<size_t>(got), got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  closeFile(fd);
  head.resize(static_cast<size_t>(got));
  if (head == header) return false;
  // Shorter than the header: only its start, before any line end, is that header cut short.
  return !(head.size() < header.size() && header.substr(0, head.size()) == head &&
           head.find('\n') == std::string::npos);
}

bool LineRecorder::close() {
  if (m_fd < 0) return true;
  const bool ok = m_owned ? closeFile(m_fd) == 0 : true;
  m_fd = -1;
  return ok;
}

}  // namespace files
