#include "files/replayreader.h"

#include <cstring>

namespace files {

namespace {
constexpr int kReadLimit = 99;  // one read: at most 98 characters and the terminating zero
}

bool ReplayReader::open(const std::string& path) {
  // A replay chosen again must not leave the earlier file open.
  close();
  m_file = std::fopen(path.c_str(), "r");
  return m_file != nullptr;
}

void ReplayReader::close() {
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
}

ReplayReader::Read ReplayReader::ReadReplayLine(char* buffer, size_t& length) {
  std::memset(buffer, 0, length);
  length = 0;
  if (!m_file) return Read::Nothing;
  // The end-of-file indicator is set only by a read that ran into the end: the call
  // after that rewinds (which clears it), so the next start replays from line one.
  if (std::feof(m_file)) {
    std::fseek(m_file, 0, SEEK_SET);
    return Read::Rewound;
  }
  if (!std::fgets(buffer, kReadLimit, m_file)) return Read::Nothing;
  length = std::strlen(buffer);
  return Read::Data;
}

}  // namespace files
