#include "app/controls.h"

#include <string>
#include <utility>

#include "app/viewmodel.h"
#include "link/meterprotocol.h"

namespace app {

namespace {

// Builds one table row; the chained setters keep each row on one line.
class Row {
 public:
  Row(const char* page, const char* name, Widget kind, const char* caption) {
    m_spec.page = page;
    m_spec.name = name;
    m_spec.kind = kind;
    m_spec.caption = caption;
  }
  Row& items(std::vector<std::string> list) { m_spec.items = std::move(list); return *this; }
  Row& access(const char* name) { m_spec.accessibleName = name; return *this; }
  Row& hidden() { m_spec.visible = false; return *this; }
  Row& hint(const char* text) { m_spec.hint = text; return *this; }
  Row& index(int i) { m_spec.itemIndex = i; return *this; }
  Row& colour(int64_t c) { m_spec.colour = c; return *this; }
  Row& columns(int n) { m_spec.columns = n; return *this; }
  Row& checkable(bool checked) { m_spec.checkable = true; m_spec.checked = checked; return *this; }
  operator ControlSpec() const { return m_spec; }

 private:
  ControlSpec m_spec;
};

using W = Widget;

std::vector<ControlSpec> buildTable() {
  const std::vector<std::string> hostPorts = {
      "Select Host Port",  "Host Port - COM 1", "Host Port - COM 2",
      "Host Port - COM 3", "Host Port - COM 4", "Host Port - COM 5",
      "Host Port - COM 6", "Host Port - COM 7", "Host Port - COM 8"};
  std::vector<std::string> bauds;
  for (const int baud : meterlink::kBaudRates) bauds.push_back(std::to_string(baud) + " Baud");

  return {
      // ---- Beside and below the page control ----
      Row("main", "BTStartData", W::Button, "Start Data"),
      Row("main", "BTStopData", W::Button, "Stop Data"),
      Row("main", "BTRecordRaw", W::Button, "Record  Raw"),
      Row("main", "BTRecordEngr", W::Button, "Record Engr"),
      Row("main", "BTRecordCsv", W::Button, "Record CSV (UTC)")
          .hint("Engineering units as CSV, each row stamped with this computer's UTC time"),
      Row("main", "BTStopRecord", W::Button, "Stop Record"),
      Row("main", "CBHostPort", W::Combo, "Select Host Port").items(hostPorts).access("Host port"),
      Row("main", "CBBaudRate", W::Combo, "19200 Baud").items(bauds).access("Baud rate"),
      Row("main", "LBPortDevice", W::Label, ""),
      Row("main", "PCOMPort", W::Panel, "Select COM Port").colour(kColourYellow),
      Row("main", "PMeterType", W::Panel, "Select Device File").colour(kColourYellow),
      Row("main", "PStore", W::Panel, "Setup Not Stored").colour(kColourYellow).hidden(),
      Row("main", "LBRecording", W::Label, "Not recording").access("Recording indicator"),
      Row("main", "LBFeed", W::Label, "").access("MQTT feed").hidden(),
      Row("main", "LBNoData", W::Label, "").access("Data silence").colour(kColourYellow).hidden(),
      Row("main", "EDNoDataSeconds", W::Edit, "10").access("Seconds without data before the notice (1 to 86400)"),
      Row("main", "BTNoDataSeconds", W::Button, "Set No Data Notice (s)")
          .hint("Show \"No data for N s\" once the meter has sent no line for this many seconds"),
      Row("main", "LBTotalIn", W::Label, "Bytes Read:"),
      Row("main", "LBMARUDandT", W::Label, "MARU:  MM/DD/YY HH:MM:SS"),
      Row("main", "LBHostDandT", W::Label, "Host:  MM/DD/YY HH:MM:SS"),
      Row("main", "LBHz1", W::Label, "Sample Rate:"),
      Row("main", "LBDeviceFile", W::Label, "Device File:"),
      Row("main", "LBRecordStatus", W::Label, "Recording:  OFF"),
      Row("main", "LBRawFileName", W::Label, ""),
      Row("main", "LBRawFileSize", W::Label, ""),
      Row("main", "LBEngrFileName", W::Label, ""),
      Row("main", "LBEngrFileSize", W::Label, ""),
      Row("main", "LBCsvFileName", W::Label, ""),
      Row("main", "LBCsvFileSize", W::Label, ""),
      Row("main", "LBExportStatus", W::Label, "").hidden(),
      Row("main", "PBExport", W::ProgressBar, "").index(0).access("Export progress").hidden(),
      Row("main", "BTExportCancel", W::Button, "Cancel Export").hidden(),
      Row("main", "LBExportZone", W::Label, "Meter clock zone"),
      Row("main", "EDExportZone", W::Edit, "UTC")
          .access("Meter clock zone")
          .hint("The zone the meter's clock keeps: UTC, +HH:MM, -HH:MM or a time zone such as Europe/Oslo. "
                "Set Date/Time PC sets it to this computer's zone; recordings, Export and feeds read meter times in it"),
      Row("main", "PQcValues", W::Panel, "QC: no configuration loaded").colour(kColourButtonFace),
      Row("main", "LBQcCounts", W::Label, ""),

      // ---- The menu ----
      Row("menubar", "File1", W::MenuItem, "&File"),
      Row("menu", "LoadDeviceFile1", W::MenuItem, "Load Device File"),
      Row("menu", "", W::MenuItem, ""),
      Row("menu", "RealTimeData1", W::MenuItem, "Real Time Data").checkable(true),
      Row("menu", "ReplayRawFile1", W::MenuItem, "Replay Raw File").checkable(false),
      Row("menu", "", W::MenuItem, ""),
      Row("menu", "ExportRecording1", W::MenuItem, "Export Recording..."),
      Row("menu", "LoadQcConfiguration1", W::MenuItem, "Load QC Configuration..."),
      Row("menu", "", W::MenuItem, ""),
      Row("menu", "MenuAdvancedSetup", W::MenuItem, "Advanced Setup"),
      Row("menu", "", W::MenuItem, ""),
      Row("menu", "Exit1", W::MenuItem, "E&xit"),

      // ---- Meter Setup ----
      Row("TSSetup", "Label2", W::Label, "Change"),
      Row("TSSetup", "Label3", W::Label, "Current"),
      Row("TSSetup", "Label1", W::Label, "  Settings To  "),
      Row("TSSetup", "Label5", W::Label, "  Ram Settings  "),
      Row("TSSetup", "BTAverage", W::Button, "Set Avg / Data Rate")
          .hint("High Count = Lower Hz ... Low Count = High Hz"),
      Row("TSSetup", "MEAverage", W::Edit, "30").access("Averaging (readings per value)"),
      Row("TSSetup", "LBAVE", W::Label, "Avg:"),
      Row("TSSetup", "BTPacket", W::Button, "Set Number of Samples"),
      Row("TSSetup", "MEPacket", W::Edit, "0").access("Number of samples"),
      Row("TSSetup", "LBNS", W::Label, "Number of Samples:"),
      Row("TSSetup", "BTSample", W::Button, "Set Number of Cycles"),
      Row("TSSetup", "MESample", W::Edit, "1").access("Number of cycles"),
      Row("TSSetup", "LBNC", W::Label, "Number of Cycles:"),
      Row("TSSetup", "BTInterval", W::Button, "Set Cycle Interval"),
      Row("TSSetup", "TimeInterval", W::Edit, "HHMMSS").access("Cycle interval HHMMSS"),
      Row("TSSetup", "LBCI", W::Label, "Cycle Interval:"),
      Row("TSSetup", "BTLogging", W::Button, "Turn Logging On"),
      Row("TSSetup", "Label6", W::Label, "Internal Log:"),
      Row("TSSetup", "LBLog", W::Label, "Logging:"),
      Row("TSSetup", "BTErase", W::Button, "Erase Memory"),
      Row("TSSetup", "LBStorageUsed", W::Label, "Used:  "),
      Row("TSSetup", "LBStorageFree", W::Label, "Free:  "),
      Row("TSSetup", "BTGetDandT", W::Button, "Get Date/Time"),
      Row("TSSetup", "BTSetDandTPC", W::Button, "Set Date/Time PC"),
      Row("TSSetup", "BTGetSetup1", W::Button, "Get RAM Setup"),
      Row("TSSetup", "BTOpen", W::Button, "Open Shutter"),
      Row("TSSetup", "BTClose", W::Button, "Close Shutter"),
      Row("TSSetup", "LBHz2", W::Label, "Sample Rate:"),
      Row("TSSetup", "BTStoreToFlash1", W::Button, "Store To Flash"),
      Row("TSSetup", "BTReloadSetup1", W::Button, "Reload Flash Setup"),
      Row("TSSetup", "LBUR", W::Label, "Update In:").hidden(),

      // ---- Advanced Setup ----
      Row("TSAdvanced", "Label14", W::Label, "Change"),
      Row("TSAdvanced", "Label15", W::Label, "Current"),
      Row("TSAdvanced", "Label13", W::Label, "  Settings To  "),
      Row("TSAdvanced", "Label16", W::Label, "  RAM Settings  "),
      Row("TSAdvanced", "BTph1onTime", W::Button, "ph1 onTime"),
      Row("TSAdvanced", "MEph1onTime", W::Edit, "5").access("ph1 on time"),
      Row("TSAdvanced", "LBph1onTime", W::Label, ":"),
      Row("TSAdvanced", "BTph1offTime", W::Button, "ph1 offTime"),
      Row("TSAdvanced", "MEph1offTime", W::Edit, "5").access("ph1 off time"),
      Row("TSAdvanced", "LBph1offTime", W::Label, ":"),
      Row("TSAdvanced", "BTph11onTime", W::Button, "ph11 onTime"),
      Row("TSAdvanced", "MEph11onTime", W::Edit, "5").access("ph11 on time"),
      Row("TSAdvanced", "LBph11onTime", W::Label, ":"),
      Row("TSAdvanced", "BTph11offTime", W::Button, "ph11 offTime"),
      Row("TSAdvanced", "MEph11offTime", W::Edit, "5").access("ph11 off time"),
      Row("TSAdvanced", "LBph11offTime", W::Label, ":"),
      Row("TSAdvanced", "BTHexDump", W::Button, "Hex Dump"),
      Row("TSAdvanced", "MEHexDump", W::Edit, "1").access("Hex dump page"),
      Row("TSAdvanced", "BTGetTiming", W::Button, "Get Timing Values"),
      Row("TSAdvanced", "BTOne", W::Button, "Take One Measurment"),
      Row("TSAdvanced", "BTTimingSwap", W::Button, "Timing Swap"),
      Row("TSAdvanced", "PowerUserPanel", W::Panel, "Normal User").colour(kColourButtonFace),
      Row("TSAdvanced", "BTStoreSetup", W::Button, "Store To Flash"),
      Row("TSAdvanced", "BTReload", W::Button, "Reload Flash Setup"),

      // ---- FL-Setup ----
      Row("TSFLSetup", "Label32", W::Label, "Change"),
      Row("TSFLSetup", "Label34", W::Label, "Current"),
      Row("TSFLSetup", "Label47", W::Label, "Device File"),
      Row("TSFLSetup", "Label33", W::Label, "  Settings To  "),
      Row("TSFLSetup", "Label35", W::Label, "  Ram Settings  "),
      Row("TSFLSetup", "Label48", W::Label, "  Settings  "),
      Row("TSFLSetup", "BTAnalogRange2", W::Button, "Set Analog Range"),
      Row("TSFLSetup", "CBAnalogRange", W::Combo, "ASV2:  Std Res")
          .items({"ASV1:  Hi Res", "ASV2:  Std Res", "SAV4:  Wide Range"})
          .access("Analog range"),
      Row("TSFLSetup", "HRArrow", W::Label, "==>").hidden(),
      Row("TSFLSetup", "LBHiRes", W::Label, "ASV1:  Hi Resolution   0-30 Engr Units"),
      Row("TSFLSetup", "SRArrow", W::Label, "==>").hidden(),
      Row("TSFLSetup", "LBStdRes", W::Label, "ASV2:  Std Resolution 0-60 Engr Units"),
      Row("TSFLSetup", "WRArrow", W::Label, "==>").hidden(),
      Row("TSFLSetup", "LBWideRange", W::Label, "ASV4:  Wide Range:   0-120 Engr Units"),
      Row("TSFLSetup", "BTflscale", W::Button, "Set Engr Scale"),
      Row("TSFLSetup", "MEflscale", W::Edit, "0.0001").access("Engineering scale"),
      Row("TSFLSetup", "LBuglscale", W::Label, ":"),
      Row("TSFLSetup", "LBDFuglscale", W::Label, ":"),
      Row("TSFLSetup", "BTfloffset", W::Button, "Set Engr Offset"),
      Row("TSFLSetup", "MEfloffset", W::Edit, "1").access("Engineering offset"),
      Row("TSFLSetup", "LBugloffset", W::Label, ":"),
      Row("TSFLSetup", "LBDFugloffset", W::Label, ":"),
      Row("TSFLSetup", "BTCal", W::Button, "Turn Engr Output ON"),
      Row("TSFLSetup", "LBCal", W::Label, ":"),
      Row("TSFLSetup", "BTGetSetup2", W::Button, "Get FL RAM Setup"),
      Row("TSFLSetup", "BTStoreToFlash2", W::Button, "Store To Flash"),
      Row("TSFLSetup", "Button22", W::Button, "Reload Flash Setup"),

      // ---- Raw Data ----
      Row("TSRaw", "Memo1", W::Memo, "").access("Received lines"),

      // ---- Plot Data ----
      Row("TSPlot", "PlotTypeCB", W::Combo, "Raw Data")
          .items({"Raw Data", "Engr Units"}).index(0).access("Plot type").hidden(),
      Row("TSPlot", "StdDevCB", W::Combo, "Raw Counts")
          .items({"Raw Counts", "Mean Value", "Std Dev-15", "Std Dev-60"})
          .index(0).access("Statistics shown").hidden(),
      Row("TSPlot", "BBPlotCB", W::Combo, "Beta(117)")
          .items({"Beta(117)", "Beta Particles(117)", "BackScatter Particles", "Total Back Scatter"})
          .index(0).access("Backscatter quantity").hidden(),
      Row("TSPlot", "iTempCB", W::Combo, "No Internal Temp Plot")
          .items({"No Internal Temp Plot", "Plot Internal Temp"})
          .index(0).access("Internal temperature plot").hidden(),
      Row("TSPlot", "xTempCB", W::Combo, "No External Temp Plot")
          .items({"No External Temp Plot", "Plot External Temp"})
          .index(0).access("External temperature plot").hidden(),
      Row("TSPlot", "PresCB", W::Combo, "No Pressure Plot")
          .items({"No Pressure Plot", "Plot Pressure"})
          .index(0).access("Pressure plot").hidden(),
      Row("TSPlot", "XAxisCB", W::Combo, "X: Sample Count")
          .items({"X: Sample Count", "X: Host Time"}).index(0).access("X axis"),
      Row("TSPlot", "iPlot1", W::Chart, "").access("Data plot"),

      // ---- Transfer Data ----
      Row("TabSheet1", "BTGetData", W::Button, "Receive Data"),
      Row("TabSheet1", "BitBtnCancel", W::Button, "Cancel"),
      Row("TabSheet1", "BTErase2", W::Button, "Erase Memory"),
      Row("TabSheet1", "LBReceiveFile", W::Label, ""),
      Row("TabSheet1", "LBReceiveStatus", W::Label, ""),
      Row("TabSheet1", "LBReceiveFileSize", W::Label, ""),
      Row("TabSheet1", "PBTransfer", W::ProgressBar, "").index(0).access("Transfer progress"),
      Row("TabSheet1", "LBTransferElapsed", W::Label, "Elapsed:"),

      // ---- The small windows ----
      Row("dialogs", "Form2", W::Page, "WARNING!!!").colour(kColourRed).hidden(),
      Row("Form2", "Form2.Label1", W::Label,
          "    Internal Memory is Full.  Internal Logging has been stopped.    "),
      Row("Form2", "Form2.Button1", W::Button, "OK"),

      Row("dialogs", "SelectHPForm", W::Page, "Select Host Port").hidden(),
      Row("SelectHPForm", "SelectHPForm.HPRG", W::RadioGroup, "")
          .items({"OFF", "COM 1", "COM 2", "COM 3", "COM4", "COM5", "COM6", "COM7", "COM8"})
          .columns(3).index(0).access("Host port"),
      Row("SelectHPForm", "SelectHPForm.BRRG", W::RadioGroup, "Baud Rate")
          .items(bauds).columns(2).index(2).access("Baud rate"),
      Row("SelectHPForm", "SelectHPForm.BTOK", W::Button, "OK"),

      Row("dialogs", "PasswordForm", W::Page, "PasswordForm").hidden(),
      Row("PasswordForm", "PasswordForm.Lablexx", W::Label, "Warning:  "),
      Row("PasswordForm", "PasswordForm.Label1", W::Label,
          "Changing Advanced Setup Parameters May Result in a Non-Functioning Meter!"),
      Row("PasswordForm", "PasswordForm.Label16", W::Label, "Power User Password"),
      Row("PasswordForm", "PasswordForm.MEPassword", W::Edit, "").access("Power user password"),
      Row("PasswordForm", "PasswordForm.BTPasswordOK", W::Button, "OK"),
  };
}

}  // namespace

const std::vector<ControlSpec>& ControlTable() {
  static const std::vector<ControlSpec> table = buildTable();
  return table;
}

const std::vector<std::pair<std::string, std::string>>& PageTable() {
  static const std::vector<std::pair<std::string, std::string>> pages = {
      {"TSSetup", "Meter Setup"}, {"TSAdvanced", "Advanced Setup"}, {"TSFLSetup", "FL-Setup"},
      {"TSRaw", "Raw Data"},      {"TSPlot", "Plot Data"},          {"TabSheet1", "Transfer Data"},
  };
  return pages;
}

void defineControls(ViewModel& view) {
  for (const ControlSpec& def : ControlTable()) {
    if (def.name.empty()) continue;
    Control c;
    c.text = def.caption;
    c.visible = def.visible;
    c.itemIndex = def.itemIndex;
    c.colour = def.colour;
    view.define(def.name, c);
  }
}

}  // namespace app
