#pragma once
// Replay of a raw file: one line (at most 98 characters) per call, text mode.
#include <cstdio>
#include <string>

namespace files {

class ReplayReader {
 public:
  ReplayReader() = default;
  ~ReplayReader() { close(); }
  ReplayReader(const ReplayReader&) = delete;
  ReplayReader& operator=(const ReplayReader&) = delete;

  /// Closes any open file, then opens `path` for reading. False when it cannot.
  bool open(const std::string& path);
  void close();
  bool isOpen() const { return m_file != nullptr; }

  enum class Read { Data, Nothing, Rewound };
  /// Zeroes the first `length` bytes of `buffer`, then: at end of file rewinds to the
  /// start and answers Rewound with length 0; otherwise reads one line with a limit of
  /// 99 bytes (98 characters, the line end included when it fits) and sets `length` to
  /// its string length (Nothing with 0 when nothing could be read or no file is open). `buffer` holds at
  /// least max(length, 99) bytes.
  Read ReadReplayLine(char* buffer, size_t& length);

 private:
  std::FILE* m_file = nullptr;
};

}  // namespace files
