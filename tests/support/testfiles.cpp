#include "support/testfiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir() {
  char tmpl[] = "/tmp/marutest-XXXXXX";
  char* p = ::mkdtemp(tmpl);
  if (!p) std::abort();
  m_path = p;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> splitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    size_t end = i;
    if (end > start && bytes[end - 1] == '\r') --end;
    lines.push_back(bytes.substr(start, end - start));
    start = i + 1;
  }
  return lines;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string example(const std::string& name) { return std::string(MARU_SOURCE_DIR) + "/examples/" + name; }

EndlessFifo::EndlessFifo(std::string path) : m_path(std::move(path)) {
  ::signal(SIGPIPE, SIG_IGN);
  if (::mkfifo(m_path.c_str(), 0600) != 0) return;
  m_writer = std::thread([this] {
    const int fd = ::open(m_path.c_str(), O_WRONLY);
    const std::string block(4096, 'x');
    while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
    }
    if (fd >= 0) ::close(fd);
  });
}

EndlessFifo::~EndlessFifo() {
  if (!m_writer.joinable()) return;
  // A reader that opens and closes at once ends a writer still waiting for one.
  const int fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd >= 0) ::close(fd);
  m_writer.join();
}

}  // namespace testsupport
