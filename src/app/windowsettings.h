#pragma once
// The window's own settings, kept in "maruview.ini" beside "last.rbs" (whose format stays):
// what an operator sets once for a deployment and expects to find at the next start. Each
// change is written at once, so a crash or a kill keeps it.
#include <string>
#include <vector>

namespace app {

struct WindowSettings {
  /// The zone the meter's clock keeps, as maru convert --meter-tz takes it ("UTC", "+HH:MM",
  /// "Europe/Oslo"): every meter time the window writes or sends is read in it.
  std::string meterClockZone = "UTC";
  /// Seconds without a line from a started meter before "No data for N s" is shown.
  int noDataSeconds = 10;
  /// Device files loaded lately, newest first (at most kRecentFiles).
  std::vector<std::string> recentDeviceFiles;
  static constexpr int kRecentFiles = 8;
  static constexpr int kMaxNoDataSeconds = 86400;

  /// The settings in `dir`; a value missing or out of range keeps its default.
  static WindowSettings load(const std::string& dir);
  /// Writes every setting; false when the file could not be written.
  bool save(const std::string& dir) const;
  /// Puts `path` first in the recent device files (once, the oldest dropped past the limit).
  void noteDeviceFile(const std::string& path);
};

/// A typed entry as a setting takes it: without the blanks and tabs around it.
std::string settingEntry(std::string text);

}  // namespace app
