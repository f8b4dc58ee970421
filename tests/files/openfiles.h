#pragma once
// Counts the process's open file descriptors, to show that reopening leaks no handle.
#include <filesystem>
#include <system_error>

namespace filestest {

/// Number of open descriptors, or -1 where the system does not list them.
inline int openDescriptorCount() {
  std::error_code ec;
  std::filesystem::directory_iterator it("/proc/self/fd", ec);
  if (ec) return -1;
  int n = 0;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) ++n;
  return n;
}

}  // namespace filestest
