// The meter's command sender, the reply parser's effects, and the handlers of the
// Meter Setup, Advanced Setup and FL-Setup pages and the small dialogs.
#include "app/mainform.h"

namespace app {

void MainForm::SendMeterCommand(const std::string& text) {
  // The command and its line end; no answer is awaited.
  m_session.send(text);
}

void MainForm::ParseMeterReply(const std::string& line) {
  applyReply(meterlink::ParseMeterReply(line, Meter, Clock, m_options.hostClock()));
}

void MainForm::applyReply(const meterlink::ReplyEffects& effects) {
  if (effects.caption) m_view.windowCaption = *effects.caption;
  if (effects.storeCurrent) ShowSetupStoreState(true);
  if (effects.memoryFull) m_ui.showDialog(Dialog::MemoryFull, true);
}

void MainForm::ShowSetupStoreState(bool current) {
  if (current) {
    m_view.setVisible("PStore", false);
    m_view.setText("PStore", "Setup is Current");
    m_view.setColour("PStore", kColourMenu);
  } else {
    m_view.setVisible("PStore", true);
    m_view.setText("PStore", "Setup Not Stored");
    m_view.setColour("PStore", kColourYellow);
  }
}

// ---- Meter Setup page

void MainForm::BTAverageClick() {
  markSetup();
  SendMeterCommand(meterlink::cmd::Average(editText("MEAverage")));
}

void MainForm::BTPacketClick() {
  markSetup();
  SendMeterCommand(meterlink::cmd::Packet(editText("MEPacket")));
}

void MainForm::BTSampleClick() {
  markSetup();
  SendMeterCommand(meterlink::cmd::Sample(editText("MESample")));
}

void MainForm::BTIntervalClick() {
  markSetup();
  SendMeterCommand(meterlink::cmd::Interval(editText("TimeInterval")));
}

void MainForm::BTGetDandTClick() { SendMeterCommand(meterlink::cmd::kMenu); }
void MainForm::BTGetSetupClick() { SendMeterCommand(meterlink::cmd::kMenu); }

void MainForm::BTLoggingClick() {
  SendMeterCommand(meterlink::cmd::Logging(Meter.MeterLogging));
  markSetup();
}

void MainForm::BTEraseClick() { SendMeterCommand(meterlink::cmd::kErase); }
void MainForm::BTErase2Click() { BTEraseClick(); }

void MainForm::BTSetDandTPCClick() {
  const measure::HostTime now = m_options.hostClock();
  SendMeterCommand(meterlink::cmd::Clock(now));
  SendMeterCommand(meterlink::cmd::Date(now));
}

void MainForm::BTOpenClick() { SendMeterCommand(meterlink::cmd::kShutterOpen); }
void MainForm::BTCloseClick() { SendMeterCommand(meterlink::cmd::kShutterClose); }
void MainForm::BTStoreSetupClick() { SendMeterCommand(meterlink::cmd::kStore); }

void MainForm::BTReloadClick() {
  Meter.ReloadPending = true;
  SendMeterCommand(meterlink::cmd::kReload);
  if (m_view.activePage == 1) SendMeterCommand(meterlink::cmd::kTiming);  // on the Advanced Setup page
}

// ---- Advanced Setup page and the power-user lock

void MainForm::MenuAdvancedSetupClick() {
  m_view.setVisible("TSAdvanced", true);
  m_view.setActivePage(1);
}

void MainForm::BTGetTimingClick() { SendMeterCommand(meterlink::cmd::kTiming); }

void MainForm::BTph1onTimeClick() {
  if (!PowerUser) return;
  markSetup();
  SendMeterCommand(meterlink::cmd::Ph1On(editText("MEph1onTime")));
}

void MainForm::BTph1offTimeClick() {
  if (!PowerUser) return;
  markSetup();
  SendMeterCommand(meterlink::cmd::Ph1Off(editText("MEph1offTime")));
}

void MainForm::BTph11onTimeClick() {
  if (!PowerUser) return;
  markSetup();
  SendMeterCommand(meterlink::cmd::Ph11On(editText("MEph11onTime")));
}

void MainForm::BTph11offTimeClick() {
  if (!PowerUser) return;
  markSetup();
  SendMeterCommand(meterlink::cmd::Ph11Off(editText("MEph11offTime")));
}

void MainForm::BTTimingSwapClick() {
  if (!PowerUser) return;
  markSetup();
  SendMeterCommand(meterlink::cmd::kTimingSwap);
}

void MainForm::BTOneClick() { SendMeterCommand(meterlink::cmd::kOne); }

void MainForm::BTHexDumpClick() {
  m_view.setActivePage(3);
  SendMeterCommand(meterlink::cmd::HexDump(editText("MEHexDump")));
}

void MainForm::PowerUserPanelClick() {
  if (PowerUser) {
    PowerUser = false;
    return;
  }
  m_ui.showDialog(Dialog::Password, true);
}

void MainForm::BTPasswordOKClick() {
  m_ui.showDialog(Dialog::Password, false);
  PowerUser = meterlink::PasswordMatches(editText("PasswordForm.MEPassword"));
}

// ---- FL-Setup page

void MainForm::BTAnalogRangeClick() {
  markSetup();
  SendMeterCommand(meterlink::cmd::AnalogRange(m_view.itemIndex("CBAnalogRange")));
}

void MainForm::BTflscaleClick() {
  const meterlink::ScaleEntry entry = meterlink::ParseScaleEntry(editText("MEflscale"));
  if (entry.result == meterlink::ScaleEntry::NotANumber) {
    markSetup();
    return;
  }
  if (entry.result == meterlink::ScaleEntry::OutOfRange) {
    ShowWarningBox("Warning - Invalid Entry", "The valid range for the engr scale is 0.0001-0.0255");
    return;
  }
  SendMeterCommand(meterlink::cmd::Scale(entry.units));
  markSetup();
}

void MainForm::BTfloffsetClick() {
  const meterlink::OffsetEntry entry = meterlink::ParseOffsetEntry(editText("MEfloffset"));
  if (entry.result == meterlink::OffsetEntry::NotANumber) {
    markSetup();
    return;
  }
  if (entry.result == meterlink::OffsetEntry::OutOfRange) {
    ShowWarningBox("Warning - Invalid Entry", "The valid range for the ug/l offset is 0-127");
    return;
  }
  SendMeterCommand(meterlink::cmd::Offset(entry.value));
  markSetup();
}

void MainForm::BTCalClick() {
  SendMeterCommand(meterlink::cmd::EngrOutput(Meter.MeterEngrOutput));
  markSetup();
}

void MainForm::BTGetSetup2Click() { SendMeterCommand(meterlink::cmd::kTiming); }

// ---- Small dialogs

void MainForm::Form2Button1Click() { m_ui.showDialog(Dialog::MemoryFull, false); }

void MainForm::SelectHPFormBTOKClick() {
  // OK applies both groups together, then reopens the port as the main boxes would.
  m_view.setItemIndex("CBHostPort", m_view.itemIndex("SelectHPForm.HPRG"));
  m_view.setItemIndex("CBBaudRate", m_view.itemIndex("SelectHPForm.BRRG"));
  CBHostPortChange();
  m_ui.showDialog(Dialog::SelectHostPort, false);
}

// ---- Plot page option boxes

void MainForm::PlotTypeCBChange() { m_plot->PlotTypeCBChange(); }
void MainForm::BBPlotCBChange() { m_plot->BBPlotCBChange(); }
void MainForm::StdDevCBChange() { m_plot->StdDevCBChange(); }
void MainForm::iTempCBChange() { m_plot->iTempCBChange(); }
void MainForm::xTempCBChange() { m_plot->xTempCBChange(); }
void MainForm::PresCBChange() { m_plot->PresCBChange(); }

}  // namespace app
