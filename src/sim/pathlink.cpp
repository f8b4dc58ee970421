#include "sim/pathlink.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

std::string linkTarget(const std::string& path) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace

PathLink::Result PathLink::create(const std::string& linkPath, const std::string& target, std::string& error) {
  remove();
  struct stat st {};
  if (::lstat(linkPath.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = linkPath + " exists and is not a symbolic link; it is left alone";
      return Result::Occupied;
    }
    // Build the new link beside the old one and rename it over: no moment without a link.
    const std::string temporary = linkPath + ".new-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), linkPath.c_str()) != 0) {
      error = "cannot replace the link " + linkPath + ": " + std::strerror(errno);
      ::unlink(temporary.c_str());
      return Result::Failed;
    }
  } else if (errno != ENOENT || ::symlink(target.c_str(), linkPath.c_str()) != 0) {
    const int code = errno;
    error = "cannot create the link " + linkPath + ": " + std::strerror(code);
    // Someone made something else there in between.
    return code == EEXIST ? Result::Occupied : Result::Failed;
  }
  m_path = linkPath;
  m_target = target;
  return Result::Ok;
}

void PathLink::remove() {
  if (m_path.empty()) return;
  if (linkTarget(m_path) == m_target) ::unlink(m_path.c_str());
  m_path.clear();
  m_target.clear();
}

}  // namespace sim
