#pragma once
// Memory transfer: every byte the meter sends after "$get" goes to the file, until the
// end marker "etx" (any case, possibly split across reads) has been seen.
#include <string>
#include <string_view>

#include "files/recorders.h"

namespace files {

class TransferReader {
 public:
  /// Opens the transfer file, then closes any earlier one. False when it cannot; the
  /// earlier file is then still open.
  bool open(const std::string& path);
  struct Result {
    bool written = true;   ///< false when writing to the file failed
    bool endMarker = false;  ///< "etx" was found in these bytes (file closed)
  };
  /// Writes all of `bytes`, then scans them for the marker with the tail kept across
  /// reads (and across transfers). On the marker the file is closed. With no file open
  /// nothing is written or scanned (written=false when there were bytes).
  Result take(std::string_view bytes);
  void close() { m_file.close(); }
  bool isOpen() const { return m_file.isOpen(); }
  long bytes() const { return m_file.bytes(); }
  const std::string& tail() const { return m_tail; }

 private:
  LineRecorder m_file;
  std::string m_tail = "xxx";
};

}  // namespace files
