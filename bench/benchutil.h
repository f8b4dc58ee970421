#pragma once
// Small helpers the benches share: CPU time, medians, resident memory, arguments.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace benchutil {

/// CPU seconds this thread has used.
inline double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
  return v[v.size() / 2];
}

/// The process's peak resident memory in MB.
inline double peakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

/// The process's resident memory now in MB (Linux; 0 elsewhere).
inline double currentRssMb() {
  double mb = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    long pages = 0, resident = 0;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) == 2) mb = double(resident) * 4096.0 / (1024.0 * 1024.0);
    std::fclose(f);
  }
  return mb;
}

/// The value of `--name N` or `--name=N`, else `fallback`.
inline long argValue(int argc, char** argv, const char* name, long fallback) {
  const size_t len = std::strlen(name);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0 && i + 1 < argc) return std::strtol(argv[i + 1], nullptr, 10);
    if (std::strncmp(argv[i], name, len) == 0 && argv[i][len] == '=')
      return std::strtol(argv[i] + len + 1, nullptr, 10);
  }
  return fallback;
}

inline bool hasFlag(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

}  // namespace benchutil
