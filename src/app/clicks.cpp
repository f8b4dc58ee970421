// The window's click table: which handler each control's click or change runs.
#include "app/mainform.h"

namespace app {

bool MainForm::click(const std::string& name) {
  auto it = m_clicks.find(name);
  if (it == m_clicks.end()) return false;
  it->second();
  return true;
}

bool MainForm::changed(const std::string& name) {
  auto it = m_changes.find(name);
  if (it == m_changes.end()) return false;
  it->second();
  return true;
}

void MainForm::setupDispatch() {
  auto on = [this](const char* name, void (MainForm::*handler)()) {
    m_clicks[name] = [this, handler] { (this->*handler)(); };
  };
  // Main window and menu.
  on("BTStartData", &MainForm::BTStartClick);
  on("BTStopData", &MainForm::BTStopClick);
  m_clicks["BTRecordRaw"] = [this] { m_files->RecordClick(acquire::Recordings::Stream::Raw); };
  m_clicks["BTRecordEngr"] = [this] { m_files->RecordClick(acquire::Recordings::Stream::Engr); };
  m_clicks["BTRecordCsv"] = [this] { m_files->RecordClick(acquire::Recordings::Stream::Csv); };
  m_clicks["ExportRecording1"] = [this] { m_files->ExportRecordingClick(); };
  m_clicks["LoadQcConfiguration1"] = [this] {
    m_qc->LoadQcConfigurationClick();
    describeMeterFeed();
  };
  m_clicks["BTExportCancel"] = [this] { m_files->BTExportCancelClick(); };
  m_clicks["BTStopRecord"] = [this] { m_files->BTStopRecordClick(); };
  m_clicks["PCOMPort"] = [this] {
    RefreshHostPorts();
    m_ui.showDialog(Dialog::SelectHostPort, true);
  };
  on("PMeterType", &MainForm::LoadDeviceFileClick);
  on("LoadDeviceFile1", &MainForm::LoadDeviceFileClick);
  for (size_t i = 0; i < size_t(WindowSettings::kRecentFiles); ++i)
    m_clicks["RecentDeviceFile" + std::to_string(i + 1)] = [this, i] { RecentDeviceFileClick(i); };
  on("BTNoDataSeconds", &MainForm::NoDataSecondsClick);
  // Live data and a replay are runs of their own on the plot.
  m_clicks["RealTimeData1"] = [this] {
    m_files->RealTimeDataClick();
    m_plot->BreakLine();
  };
  m_clicks["ReplayRawFile1"] = [this] {
    m_files->ReplayRawFileClick();
    m_plot->BreakLine();
  };
  m_clicks["MenuAdvancedSetup"] = [this] { m_setup->MenuAdvancedSetupClick(); };
  on("Exit1", &MainForm::Exit1Click);
  // Meter Setup page.
  m_clicks["BTAverage"] = [this] { m_setup->BTAverageClick(); };
  m_clicks["BTPacket"] = [this] { m_setup->BTPacketClick(); };
  m_clicks["BTSample"] = [this] { m_setup->BTSampleClick(); };
  m_clicks["BTInterval"] = [this] { m_setup->BTIntervalClick(); };
  m_clicks["BTGetDandT"] = [this] { m_setup->BTGetDandTClick(); };
  m_clicks["BTGetSetup1"] = [this] { m_setup->BTGetSetupClick(); };
  m_clicks["BTLogging"] = [this] { m_setup->BTLoggingClick(); };
  m_clicks["BTErase"] = [this] { m_setup->BTEraseClick(); };
  m_clicks["BTSetDandTPC"] = [this] { m_setup->BTSetDandTPCClick(); };
  m_clicks["BTOpen"] = [this] { m_setup->BTOpenClick(); };
  m_clicks["BTClose"] = [this] { m_setup->BTCloseClick(); };
  m_clicks["BTStoreToFlash1"] = [this] { m_setup->BTStoreSetupClick(); };
  m_clicks["BTReloadSetup1"] = [this] { m_setup->BTReloadClick(); };
  // Advanced Setup page.
  m_clicks["BTGetTiming"] = [this] { m_setup->BTGetTimingClick(); };
  m_clicks["BTph1onTime"] = [this] { m_setup->BTph1onTimeClick(); };
  m_clicks["BTph1offTime"] = [this] { m_setup->BTph1offTimeClick(); };
  m_clicks["BTph11onTime"] = [this] { m_setup->BTph11onTimeClick(); };
  m_clicks["BTph11offTime"] = [this] { m_setup->BTph11offTimeClick(); };
  m_clicks["BTOne"] = [this] { m_setup->BTOneClick(); };
  m_clicks["BTHexDump"] = [this] { m_setup->BTHexDumpClick(); };
  m_clicks["BTTimingSwap"] = [this] { m_setup->BTTimingSwapClick(); };
  m_clicks["PowerUserPanel"] = [this] { m_setup->PowerUserPanelClick(); };
  m_clicks["BTStoreSetup"] = [this] { m_setup->BTStoreSetupClick(); };
  m_clicks["BTReload"] = [this] { m_setup->BTReloadClick(); };
  // FL-Setup page.
  m_clicks["BTAnalogRange2"] = [this] { m_setup->BTAnalogRangeClick(); };
  m_clicks["BTflscale"] = [this] { m_setup->BTflscaleClick(); };
  m_clicks["BTfloffset"] = [this] { m_setup->BTfloffsetClick(); };
  m_clicks["BTCal"] = [this] { m_setup->BTCalClick(); };
  m_clicks["BTGetSetup2"] = [this] { m_setup->BTGetSetup2Click(); };
  m_clicks["BTStoreToFlash2"] = [this] { m_setup->BTStoreSetupClick(); };
  m_clicks["Button22"] = [this] { m_setup->BTReloadClick(); };
  // Transfer Data page.
  m_clicks["BTGetData"] = [this] { m_files->BTGetDataClick(); };
  m_clicks["BitBtnCancel"] = [this] { m_files->BitBtnCancelClick(); };
  m_clicks["BTErase2"] = [this] { m_setup->BTErase2Click(); };
  // Small dialogs.
  m_clicks["Form2.Button1"] = [this] { m_ui.showDialog(Dialog::MemoryFull, false); };
  m_clicks["SelectHPForm.BTOK"] = [this] {
    // OK applies both groups together, then reopens the port as the main boxes would.
    m_view.setItemIndex("CBHostPort", m_view.itemIndex("SelectHPForm.HPRG"));
    m_view.setItemIndex("CBBaudRate", m_view.itemIndex("SelectHPForm.BRRG"));
    CBHostPortChange();
    m_ui.showDialog(Dialog::SelectHostPort, false);
  };
  m_clicks["PasswordForm.BTPasswordOK"] = [this] { m_setup->BTPasswordOKClick(); };

  auto onChange = [this](const char* name, void (MainForm::*handler)()) {
    m_changes[name] = [this, handler] { (this->*handler)(); };
  };
  onChange("CBHostPort", &MainForm::CBHostPortChange);
  onChange("CBBaudRate", &MainForm::CBHostPortChange);
  auto onPlot = [this](const char* name, void (PlotPage::*handler)()) {
    m_changes[name] = [this, handler] { (m_plot.get()->*handler)(); };
  };
  onPlot("PlotTypeCB", &PlotPage::PlotTypeCBChange);
  onPlot("BBPlotCB", &PlotPage::BBPlotCBChange);
  onPlot("StdDevCB", &PlotPage::StdDevCBChange);
  onPlot("iTempCB", &PlotPage::iTempCBChange);
  onPlot("xTempCB", &PlotPage::xTempCBChange);
  onPlot("PresCB", &PlotPage::PresCBChange);
  onPlot("XAxisCB", &PlotPage::XAxisCBChange);
}

}  // namespace app
