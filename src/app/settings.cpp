// The settings of the last run: "last.rbs" (two text lines) in the working directory,
// the chart's own properties in "maruiocomp.rbs", the window's own in "maruview.ini".
#include "app/mainform.h"

#include <filesystem>
#include <system_error>

#include "measure/cformat.h"

namespace app {

using measure::cformat;

namespace {

constexpr const char* kHostPortsFile = "hostports.rbs";

std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir == ".") return name;
  return (std::filesystem::path(dir) / name).string();
}

// Name and extension of a path, without drive or directory (either separator).
std::string fileNameOf(const std::string& path) {
  const auto cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Reads one line of at most 199 characters, as a 200-byte buffer would.
bool readLine(std::FILE* file, std::string& out) {
  char buffer[200];
  if (!std::fgets(buffer, sizeof buffer, file)) return false;
  out = buffer;
  return true;
}

// Reads `count` decimal integers as "%d" conversions would (white space before each,
// an optional sign). A number that does not fit an int counts as unreadable, so a
// damaged file restores nothing rather than some wrapped value.
bool scanIntegers(const std::string& text, int* values, int count) {
  const char* p = text.c_str();
  const char* const end = p + text.size();
  for (int i = 0; i < count; ++i) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* digits = p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    if (p == digits) return false;
    long long v = 0;
    for (const char* d = digits; d < p; ++d) {
      v = v * 10 + (*d - '0');
      if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    values[i] = static_cast<int>(v);
  }
  return true;
}

}  // namespace

void MainForm::SaveSettings() {
  if (m_view.itemIndex("CBHostPort") < 0 || DeviceFilePath.empty()) return;
  std::FILE* file = std::fopen(joinPath(m_options.workingDir, "last.rbs").c_str(), "w");
  if (!file) return;
  const std::string text =
      cformat("%d %d %d %d %d %d %d %d %d %d %d\n", m_view.itemIndex("CBHostPort"), m_view.itemIndex("CBBaudRate"),
              PowerUser ? 1 : 0, Plot.StdDevWindow, Plot.PlotType, Plot.BBPlotChoice, Plot.ITempPlotChoice,
              Plot.XTempPlotChoice, Plot.PresPlotChoice, RefCorrectionOn ? 1 : 0, TempCorrectionOn ? 1 : 0) +
      fileNameOf(DeviceFilePath) + "\n";
  std::fwrite(text.data(), 1, text.size(), file);
  m_chart.SaveProperties(joinPath(m_options.workingDir, "maruiocomp.rbs"));
  std::fclose(file);
}

void MainForm::RestoreSettings() {
  const std::string settingsPath = joinPath(m_options.workingDir, "last.rbs");
  std::FILE* file = std::fopen(settingsPath.c_str(), "r");
  if (!file) return;
  std::string line1, line2;
  int v[11] = {};
  if (!readLine(file, line1) || !scanIntegers(line1, v, 11) || !readLine(file, line2)) {
    std::fclose(file);
    return;
  }
  // The name ends at its first line end.
  const auto end = line2.find_first_of("\r\n");
  if (end != std::string::npos) line2.resize(end);
  // A file gone since the last run is no news; what the parser finds wrong is.
  const bool loaded =
      openDeviceFile(joinPath(m_options.workingDir, line2), line2, acquire::Session::Tell::ParserOnly);
  if (loaded) {
    m_view.setItemIndex("CBHostPort", v[0]);
    m_view.setItemIndex("CBBaudRate", v[1]);
    PowerUser = v[2] != 0;
    Plot.StdDevWindow = v[3];
    switch (v[3]) {
      case 0: m_view.setItemIndex("StdDevCB", 0); break;
      case 1: m_view.setItemIndex("StdDevCB", 1); break;
      case 15: m_view.setItemIndex("StdDevCB", 2); break;
      case 60: m_view.setItemIndex("StdDevCB", 3); break;
      default: break;  // any other value leaves the box as it is
    }
    Plot.PlotType = v[4];
    m_view.setItemIndex("PlotTypeCB", v[4]);
    Plot.BBPlotChoice = v[5];
    m_view.setItemIndex("BBPlotCB", v[5]);
    Plot.ITempPlotChoice = v[6];
    m_view.setItemIndex("iTempCB", v[6]);
    Plot.XTempPlotChoice = v[7];
    m_view.setItemIndex("xTempCB", v[7]);
    Plot.PresPlotChoice = v[8];
    m_view.setItemIndex("PresCB", v[8]);
    RefCorrectionOn = v[9] != 0;
    TempCorrectionOn = v[10] != 0;
    CBHostPortChange();
    m_plot->StdDevCBChange();
    // The option boxes as the restored choices have them.
    m_plot->UpdatePlotOptions(Config.DataFieldCount);
    const std::string chartPath = joinPath(m_options.workingDir, "maruiocomp.rbs");
    std::error_code ec;
    if (std::filesystem::exists(chartPath, ec)) m_chart.LoadProperties(chartPath);
  }

  std::fclose(file);
}

void MainForm::saveWindowSettings() {
  if (m_settings.save(m_options.workingDir)) return;
  if (!m_settingsSaveFailed)
    ShowWarningBox("Settings Not Saved", "Could not write " + joinPath(m_options.workingDir, "maruview.ini") +
                                             "; the window's settings hold until it closes.");
  m_settingsSaveFailed = true;
}

// ---- The window's own settings

void MainForm::NoDataSecondsClick() {
  const std::string text = settingEntry(m_view.text("EDNoDataSeconds"));
  int seconds = 0;
  const bool digits = !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
  if (digits) seconds = std::stoi(text);
  if (seconds < 1 || seconds > WindowSettings::kMaxNoDataSeconds) {
    ShowWarningBox("Invalid Value", cformat("No data notice after (s): '%s' is not a whole number of seconds from 1 to %d.",
                                            text.c_str(), WindowSettings::kMaxNoDataSeconds));
    m_view.setText("EDNoDataSeconds", std::to_string(m_settings.noDataSeconds));
    return;
  }
  m_view.setText("EDNoDataSeconds", std::to_string(seconds));
  if (seconds == m_settings.noDataSeconds) return;
  m_settings.noDataSeconds = seconds;
  saveWindowSettings();
  showDataSilence();
}

std::vector<MainForm::RecentFile> MainForm::recentDeviceFiles() const {
  std::vector<RecentFile> items;
  for (const std::string& path : m_settings.recentDeviceFiles) {
    const std::string number = std::to_string(items.size() + 1);
    items.push_back({"RecentDeviceFile" + number, number + " " + fileNameOf(path), path});
  }
  return items;
}

void MainForm::RecentDeviceFileClick(size_t index) {
  if (index >= m_settings.recentDeviceFiles.size()) return;
  const std::string path = m_settings.recentDeviceFiles[index];
  // A file gone since is told as the menu's dialog would, and leaves the list; the device
  // file in force stays.
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) {
    ShowWarningBox("Device File Error",
                   "Could not open device file '" + path + "': " +
                       std::make_error_code(std::errc::no_such_file_or_directory).message());
    std::erase(m_settings.recentDeviceFiles, path);
    saveWindowSettings();
    return;
  }
  openDeviceFile(path, path);
}

// The adapters the host-port slots know, kept beside the saved settings (last.rbs keeps
// its format).
void MainForm::RefreshHostPorts() {
  m_options.ports.refresh(m_options.listAdapters ? m_options.listAdapters() : meterlink::listSerialAdapters(),
                          OpenPortNumber);
  std::vector<std::string> hints(1 + meterlink::PortSlots::kSlots);
  for (int slot = 1; slot <= meterlink::PortSlots::kSlots; ++slot) hints[static_cast<size_t>(slot)] = slotText(slot);
  m_view.setItemHints("CBHostPort", hints);
  // What the slots know is kept beside the saved settings, for the next start.
  const std::string known = m_options.ports.saveText();
  if (known != m_savedPorts) {
    if (std::FILE* file = std::fopen(joinPath(m_options.workingDir, kHostPortsFile).c_str(), "w")) {
      std::fwrite(known.data(), 1, known.size(), file);
      if (std::fclose(file) == 0) m_savedPorts = known;
    }
  }
}

void MainForm::restoreHostPorts() {
  std::FILE* file = std::fopen(joinPath(m_options.workingDir, kHostPortsFile).c_str(), "r");
  if (file) {
    std::string text;
    char chunk[1024];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    std::fclose(file);
    m_options.ports.loadText(text);
    m_savedPorts = text;
  }
  RefreshHostPorts();
}

}  // namespace app
