#pragma once
// A recording file (raw or engineering units): opened "wb", each write reaches the
// operating system at once (flushed), and a failed write is reported, not counted.
#include <cstdio>
#include <string>
#include <string_view>

namespace files {

class LineRecorder {
 public:
  LineRecorder() = default;
  ~LineRecorder() { close(); }
  LineRecorder(const LineRecorder&) = delete;
  LineRecorder& operator=(const LineRecorder&) = delete;

  /// Creates/truncates `path`, then closes the file open before. False when `path`
  /// cannot be made; the earlier file then stays open.
  bool open(const std::string& path);
  /// Records into an already open stream (e.g. stdout) that close() flushes but does
  /// not close.
  void attach(std::FILE* stream, const std::string& name);
  /// Flushing after every write is the default (what was recorded survives a crash);
  /// a bulk converter may switch it off and rely on close() to report failures.
  void setFlushEachWrite(bool flush) { m_flushEach = flush; }
  /// Writes and flushes `bytes`. Returns false (and counts nothing) when the write or
  /// the flush fails, or when the file was deleted meanwhile; the file stays open until
  /// close().
  bool write(std::string_view bytes);
  /// Closes the file; false when the final flush/close failed.
  bool close();
  bool isOpen() const { return m_file != nullptr; }
  const std::string& path() const { return m_path; }
  /// Bytes handed to the operating system successfully since open().
  long bytes() const { return m_bytes; }

 private:
  bool removed() const;
  std::FILE* m_file = nullptr;
  std::string m_path;
  long m_bytes = 0;
  bool m_owned = true;
  bool m_flushEach = true;
};

}  // namespace files
