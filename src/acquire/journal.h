#pragma once
// The logger's lines in the systemd journal: each with its syslog priority, as a "<N>"
// prefix the journal reads off a stream it holds (and only there).
#include <string>

namespace acquire {

/// Syslog priorities of the logger's lines.
enum class Priority { Error = 3, Warning = 4, Info = 6 };

/// The priority of the line "caption: text" the logger writes: errors stop recording or
/// the logger, warnings lose or wait for data, the rest is information. A caption this
/// does not know is a warning.
Priority linePriority(const std::string& caption, const std::string& text);

/// True when `journalStream` (the JOURNAL_STREAM variable systemd sets, "DEV:INODE") names
/// the file open as `fd`; false when it is null, malformed or names another file (a
/// stderr redirected by the service's own command line).
bool isJournalStream(int fd, const char* journalStream);

/// `lines` with "<N>" before each line when `journal`, else unchanged.
std::string withPriority(bool journal, Priority priority, const std::string& lines);

}  // namespace acquire
