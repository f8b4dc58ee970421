#include "files/bytesource.h"

#include <algorithm>
#include <cstring>

namespace files {

size_t MemorySource::read(char* buffer, size_t max) {
  const size_t n = std::min({max, m_chunk, m_bytes.size() - std::min(m_at, m_bytes.size())});
  if (n == 0) return 0;
  std::memcpy(buffer, m_bytes.data() + m_at, n);
  m_at += n;
  return n;
}

}  // namespace files
