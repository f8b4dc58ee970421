#pragma once
// Replay of a raw file: one line (at most 98 characters) per read, text mode. The same
// bytes can be had in large blocks for converting a whole file at once.
#include <cstdio>
#include <string>
#include <vector>

#include "files/bytesource.h"

namespace files {

class ReplayReader : public ByteSource {
 public:
  ReplayReader() = default;
  ~ReplayReader() override { close(); }
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
  /// its string length (a zero byte ends it early). Nothing with 0 when nothing could
  /// be read or no file is open. `buffer` holds at least max(length, 99) bytes.
  Read ReadReplayLine(char* buffer, size_t& length);

  /// ByteSource: one ReadReplayLine, at most `max` bytes of it; lastRead() tells how it went.
  size_t read(char* buffer, size_t max) override;
  Read lastRead() const { return m_last; }

  /// The bytes that successive ReadReplayLine calls would give until the end of the
  /// file, in blocks of up to `max` bytes (0 at the end; no rewind). For converting a
  /// whole file: framing these blocks gives exactly the lines a replay gives.
  size_t readBlock(char* buffer, size_t max);

 private:
  size_t takeBlock(char* buffer, size_t max);
  std::FILE* m_file = nullptr;
  Read m_last = Read::Nothing;
  size_t m_chunkUsed = 0;  ///< characters of the current 98-character read already given
  bool m_chunkCut = false;  ///< a zero byte ended the current read: drop up to its end
};

}  // namespace files
