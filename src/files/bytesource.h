#pragma once
// Where received bytes come from. The receive loop reads one source: the serial port,
// a raw file replayed with its read rule, or bytes held in memory (tests, tools).
#include <cstddef>
#include <string>
#include <string_view>

namespace files {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  /// Takes up to `max` bytes that are ready now into `buffer`; never waits. 0 when none.
  virtual size_t read(char* buffer, size_t max) = 0;
};

/// Bytes held in memory, handed out at most `chunk` at a time.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string bytes, size_t chunk = static_cast<size_t>(-1))
      : m_bytes(std::move(bytes)), m_chunk(chunk) {}
  size_t read(char* buffer, size_t max) override;
  bool atEnd() const { return m_at >= m_bytes.size(); }

 private:
  std::string m_bytes;
  size_t m_chunk;
  size_t m_at = 0;
};

}  // namespace files
