#include "files/replayreader.h"

#include <algorithm>
#include <cstring>

namespace files {

namespace {
constexpr int kReadLimit = 99;  // one read: at most 98 characters and the terminating zero
constexpr size_t kReadChars = kReadLimit - 1;
}  // namespace

bool ReplayReader::open(const std::string& path) {
  // A replay chosen again must not leave the earlier file open.
  close();
  m_file = std::fopen(path.c_str(), "r");
  m_chunkUsed = 0;
  m_chunkCut = false;
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

size_t ReplayReader::read(char* buffer, size_t max) {
  char line[kReadLimit + 1];
  size_t length = sizeof line;
  m_last = ReadReplayLine(line, length);
  length = std::min(length, max);
  std::memcpy(buffer, line, length);
  return length;
}

size_t ReplayReader::readBlock(char* buffer, size_t max) {
  // A block whose every byte a zero byte cut off gives nothing: read on to the next.
  size_t n = 0;
  while (m_file && max > 0 && (n = takeBlock(buffer, max)) == 0 && !std::feof(m_file) && !std::ferror(m_file)) {
  }
  return n;
}

size_t ReplayReader::takeBlock(char* buffer, size_t max) {
  const size_t got = std::fread(buffer, 1, max, m_file);
  if (got == 0) return 0;
  if (!m_chunkCut && !std::memchr(buffer, '\0', got)) {
    // Without zero bytes the reads only cut the text into pieces. Keep count of where
    // the current 98-character read stands, in case a zero byte comes in a later block.
    size_t tail = got;
    for (size_t i = got; i-- > 0;) {
      if (buffer[i] == '\n') {
        tail = got - i - 1;
        m_chunkUsed = 0;
        break;
      }
    }
    m_chunkUsed = (m_chunkUsed + tail) % kReadChars;
    return got;
  }
  // With zero bytes, follow the reads one by one: each ends at a line feed or after 98
  // characters, and its text ends at its first zero byte.
  size_t out = 0;
  for (size_t i = 0; i < got; ++i) {
    const char c = buffer[i];
    ++m_chunkUsed;
    if (c == '\0') m_chunkCut = true;
    if (!m_chunkCut) buffer[out++] = c;
    if (c == '\n' || m_chunkUsed >= kReadChars) {
      m_chunkUsed = 0;
      m_chunkCut = false;
    }
  }
  return out;
}

}  // namespace files
