#include "files/recorders.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace files {

bool LineRecorder::open(const std::string& path) {
  // The new file first: when it cannot be made, the file being written goes on.
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  close();
  m_file = file;
  m_path = path;
  m_bytes = 0;
  m_owned = true;
  return true;
}

void LineRecorder::attach(std::FILE* stream, const std::string& name) {
  close();
  m_file = stream;
  m_path = name;
  m_bytes = 0;
  m_owned = false;
}

bool LineRecorder::write(std::string_view bytes) {
  if (!m_file) return false;
  // Each line goes to the operating system at once, so a crash of the program loses
  // nothing that was recorded; a short write or failed flush is not counted.
  size_t n = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), m_file);
  if (n != bytes.size() || (m_flushEach && std::fflush(m_file) != 0)) {
    std::clearerr(m_file);
    return false;
  }
  if (m_flushEach && m_owned && removed()) return false;
  m_bytes += static_cast<long>(n);
  return true;
}

bool LineRecorder::removed() const {
#if defined(_WIN32)
  return false;  // an open file cannot be deleted there
#else
  // A file deleted while open still takes writes, into a file nobody will ever see.
  struct stat st {};
  return fstat(fileno(m_file), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0;
#endif
}

bool LineRecorder::close() {
  if (!m_file) return true;
  bool ok = m_owned ? std::fclose(m_file) == 0 : std::fflush(m_file) == 0;
  m_file = nullptr;
  return ok;
}

}  // namespace files
