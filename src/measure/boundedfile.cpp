#include "measure/boundedfile.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace measure {

namespace {

FileRead tooLarge(const std::string& name, size_t limit, std::string& text, std::string& error) {
  text.clear();
  error = name + ": larger than the limit of " + limitText(limit);
  return FileRead::TooLarge;
}

}  // namespace

std::string limitText(size_t limit) {
  const std::string bytes = std::to_string(limit) + " bytes";
  if (limit >= (size_t{1} << 20) && limit % (size_t{1} << 20) == 0)
    return std::to_string(limit >> 20) + " MiB (" + bytes + ")";
  if (limit >= 1024 && limit % 1024 == 0) return std::to_string(limit >> 10) + " KiB (" + bytes + ")";
  return bytes;
}

FileRead readBoundedStream(std::FILE* file, const std::string& name, std::string& text, std::string& error,
                           size_t limit) {
  text.clear();
  char buffer[65536];
  size_t n = 0;
  while (text.size() <= limit &&
         (n = std::fread(buffer, 1, std::min(sizeof buffer, limit + 1 - text.size()), file)) > 0)
    text.append(buffer, n);
  if (text.size() > limit) return tooLarge(name, limit, text, error);
  if (std::ferror(file)) {
    text.clear();
    error = name + ": cannot read: " + std::strerror(errno);
    return FileRead::Failed;
  }
  return FileRead::Done;
}

std::string readErrorCause(const std::string& error) {
  const size_t colon = error.rfind(": ");
  return colon == std::string::npos ? error : error.substr(colon + 2);
}

FileRead readBoundedFile(const std::string& path, std::string& text, std::string& error, size_t limit) {
  text.clear();
#if defined(_WIN32)
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = path + ": cannot open: " + std::strerror(errno);
    return FileRead::NotOpened;
  }
  const FileRead read = readBoundedStream(file, path, text, error, limit);
  std::fclose(file);
  return read;
#else
  // Opened without waiting, so that a FIFO nobody writes to does not hang the open; the
  // reads then wait as usual.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": cannot open: " + std::strerror(errno);
    return FileRead::NotOpened;
  }
  // A folder opens for reading and only fails at the first read: told as what it is.
  if (struct stat st {}; ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    error = path + ": cannot open: is a directory";
    return FileRead::NotOpened;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FileRead result = FileRead::Done;
  char buffer[65536];
  while (result == FileRead::Done) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit + 1 - text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0) {
      text.clear();
      error = path + ": cannot read: " + std::strerror(errno);
      result = FileRead::Failed;
    } else {
      text.append(buffer, static_cast<size_t>(n));
      if (text.size() > limit) result = tooLarge(path, limit, text, error);
    }
  }
  ::close(fd);
  return result;
#endif
}

}  // namespace measure
