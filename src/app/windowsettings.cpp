#include "app/windowsettings.h"

#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <filesystem>

#include "acquire/meterzone.h"

namespace app {

namespace {

constexpr const char* kFileName = "maruview.ini";

QString settingsPath(const std::string& dir) {
  const std::filesystem::path path = dir.empty() ? std::filesystem::path(kFileName) : std::filesystem::path(dir) / kFileName;
  return QString::fromStdString(path.string());
}

}  // namespace

WindowSettings WindowSettings::load(const std::string& dir) {
  WindowSettings settings;
  const QSettings file(settingsPath(dir), QSettings::IniFormat);
  const std::string zone = file.value("meter_clock_zone").toString().toStdString();
  if (acquire::parseMeterZone(zone)) settings.meterClockZone = zone;
  bool ok = false;
  const int seconds = file.value("no_data_seconds").toInt(&ok);
  if (ok && seconds >= 1 && seconds <= kMaxNoDataSeconds) settings.noDataSeconds = seconds;
  for (const QString& path : file.value("recent_device_files").toStringList()) {
    if (static_cast<int>(settings.recentDeviceFiles.size()) == kRecentFiles) break;
    if (!path.isEmpty()) settings.recentDeviceFiles.push_back(path.toStdString());
  }
  return settings;
}

bool WindowSettings::save(const std::string& dir) const {
  QSettings file(settingsPath(dir), QSettings::IniFormat);
  file.setValue("meter_clock_zone", QString::fromStdString(meterClockZone));
  file.setValue("no_data_seconds", noDataSeconds);
  QStringList recent;
  for (const std::string& path : recentDeviceFiles) recent << QString::fromStdString(path);
  file.setValue("recent_device_files", recent);
  file.sync();
  return file.status() == QSettings::NoError;
}

std::string settingEntry(std::string text) {
  text.erase(0, text.find_first_not_of(" \t"));
  text.erase(text.find_last_not_of(" \t") + 1);
  return text;
}

void WindowSettings::noteDeviceFile(const std::string& path) {
  std::erase(recentDeviceFiles, path);
  recentDeviceFiles.insert(recentDeviceFiles.begin(), path);
  if (static_cast<int>(recentDeviceFiles.size()) > kRecentFiles) recentDeviceFiles.resize(kRecentFiles);
}

}  // namespace app
