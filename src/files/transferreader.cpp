#include "files/transferreader.h"

namespace files {

namespace {
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool TransferReader::open(const std::string& path) { return m_file.open(path); }

TransferReader::Result TransferReader::take(std::string_view bytes) {
  Result r;
  if (!m_file.isOpen()) {
    // Nothing can be stored once the file is closed; the bytes are not part of a transfer.
    r.written = bytes.empty();
    return r;
  }
  if (bytes.empty()) return r;
  // Every byte of the read goes to the file, those after the marker included.
  r.written = m_file.write(bytes);
  // The last three bytes span reads, so a marker split across them is still found.
  for (const char c : bytes) {
    m_tail.erase(0, 1);
    m_tail.push_back(c);
    if (lowerAscii(m_tail[0]) == 'e' && lowerAscii(m_tail[1]) == 't' && lowerAscii(m_tail[2]) == 'x') {
      if (!m_file.close()) r.written = false;
      r.endMarker = true;
      break;
    }
  }
  return r;
}

}  // namespace files
