#include "acquire/journal.h"

#include <sys/stat.h>

#include <cstdlib>
#include <map>

namespace acquire {

Priority linePriority(const std::string& caption, const std::string& text) {
  static const std::map<std::string, Priority> kCaptions = {
      // A file or the whole logger stops.
      {"Recording Stopped", Priority::Error},
      {"NetCDF Stopped", Priority::Error},
      {"Device File Error", Priority::Error},
      {"MARU Device File Error", Priority::Error},
      {"maru log", Priority::Error},
      // Data lost, late or doubtful; a feed or the port away.
      {"Port Lost", Priority::Warning},
      {"Port Unavailable", Priority::Warning},
      {"Lines Lost", Priority::Warning},
      {"No Data", Priority::Warning},
      {"Input Buffer Overflow", Priority::Warning},
      {"Possible Mis-Match between Device File and Meter", Priority::Warning},
      {"QC Configuration", Priority::Warning},
      {"UDP", Priority::Warning},
      {"NetCDF Not Made", Priority::Warning},
      {"NetCDF Postponed", Priority::Warning},
      {"Clock Stepped", Priority::Warning},
      {"Columns Differ", Priority::Warning},
      {"Folder Not Locked", Priority::Warning},
      // Things going as they should.
      {"Logging", Priority::Info},
      {"Port Open", Priority::Info},
      {"Port Back", Priority::Info},
      {"Data Resumed", Priority::Info},
      {"Recording Resumed", Priority::Info},
      {"Files Reopened", Priority::Info},
      {"NetCDF Made", Priority::Info},
  };
  if (caption == "MQTT") {
    // "connected (again) to ..." is news, unless messages were dropped meanwhile; a refusal,
    // a failed handshake or a lost broker is a warning.
    const bool connected = text.rfind("connected ", 0) == 0;
    return connected && text.find(" dropped ") == std::string::npos ? Priority::Info : Priority::Warning;
  }
  const auto found = kCaptions.find(caption);
  return found == kCaptions.end() ? Priority::Warning : found->second;
}

bool isJournalStream(int fd, const char* journalStream) {
  if (!journalStream) return false;
  char* end = nullptr;
  const unsigned long long device = std::strtoull(journalStream, &end, 10);
  if (end == journalStream || *end != ':') return false;
  const char* inodeText = end + 1;
  const unsigned long long inode = std::strtoull(inodeText, &end, 10);
  if (end == inodeText || *end != '\0') return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == device && static_cast<unsigned long long>(st.st_ino) == inode;
}

std::string withPriority(bool journal, Priority priority, const std::string& lines) {
  if (!journal) return lines;
  const std::string prefix = "<" + std::to_string(static_cast<int>(priority)) + ">";
  std::string out;
  out.reserve(lines.size() + prefix.size());
  bool lineStart = true;
  for (const char c : lines) {
    if (lineStart) out += prefix;
    out += c;
    lineStart = c == '\n';
  }
  return out;
}

}  // namespace acquire
