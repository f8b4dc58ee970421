// The handlers of the Meter Setup, Advanced Setup and FL-Setup pages and the power-user
// lock: each sends its command from the protocol's constants and marks the setup as not
// stored until the meter says it is.
#include "app/setuppage.h"

#include "app/mainform.h"

namespace app {

SetupPage::SetupPage(ViewModel& view, OperatorUi& ui, acquire::Session& session, FormState& state,
                     measure::HostClock hostClock, std::function<void(const std::string&, const std::string&)> warn)
    : m_view(view), m_ui(ui), m_session(session), m_s(state), m_hostClock(std::move(hostClock)), m_warn(std::move(warn)) {}

void SetupPage::sendSetting(const std::string& command) {
  ShowSetupStoreState(false);  // until the meter says it stored it
  m_session.send(command);
}

void SetupPage::sendPowerUserSetting(const std::string& command) {
  if (m_s.PowerUser) sendSetting(command);
}

std::string SetupPage::editText(const std::string& name) const {
  // Entries are copied into a bounded working text; anything longer is cut.
  std::string t = m_view.text(name);
  if (t.size() > 100) t.resize(100);
  return t;
}

void SetupPage::ShowSetupStoreState(bool current) {
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

void SetupPage::BTAverageClick() {
  sendSetting(meterlink::cmd::Average(editText("MEAverage")));
}

void SetupPage::BTPacketClick() {
  sendSetting(meterlink::cmd::Packet(editText("MEPacket")));
}

void SetupPage::BTSampleClick() {
  sendSetting(meterlink::cmd::Sample(editText("MESample")));
}

void SetupPage::BTIntervalClick() {
  sendSetting(meterlink::cmd::Interval(editText("TimeInterval")));
}

void SetupPage::BTGetDandTClick() { m_session.send(meterlink::cmd::kMenu); }
void SetupPage::BTGetSetupClick() { m_session.send(meterlink::cmd::kMenu); }

void SetupPage::BTLoggingClick() {
  m_session.send(meterlink::cmd::Logging(m_s.Meter.MeterLogging));
  ShowSetupStoreState(false);
}

void SetupPage::BTEraseClick() { m_session.send(meterlink::cmd::kErase); }
void SetupPage::BTErase2Click() { BTEraseClick(); }

void SetupPage::BTSetDandTPCClick() {
  const measure::HostTime now = m_hostClock();
  m_session.send(meterlink::cmd::Clock(now));
  m_session.send(meterlink::cmd::Date(now));
}

void SetupPage::BTOpenClick() { m_session.send(meterlink::cmd::kShutterOpen); }
void SetupPage::BTCloseClick() { m_session.send(meterlink::cmd::kShutterClose); }
void SetupPage::BTStoreSetupClick() { m_session.send(meterlink::cmd::kStore); }

void SetupPage::BTReloadClick() {
  m_s.Meter.ReloadPending = true;
  m_session.send(meterlink::cmd::kReload);
  if (m_view.activePage == 1) m_session.send(meterlink::cmd::kTiming);  // on the Advanced Setup page
}

// ---- Advanced Setup page and the power-user lock

void SetupPage::MenuAdvancedSetupClick() {
  m_view.setVisible("TSAdvanced", true);
  m_view.setActivePage(1);
}

void SetupPage::BTGetTimingClick() { m_session.send(meterlink::cmd::kTiming); }

void SetupPage::BTph1onTimeClick() {
  sendPowerUserSetting(meterlink::cmd::Ph1On(editText("MEph1onTime")));
}

void SetupPage::BTph1offTimeClick() {
  sendPowerUserSetting(meterlink::cmd::Ph1Off(editText("MEph1offTime")));
}

void SetupPage::BTph11onTimeClick() {
  sendPowerUserSetting(meterlink::cmd::Ph11On(editText("MEph11onTime")));
}

void SetupPage::BTph11offTimeClick() {
  sendPowerUserSetting(meterlink::cmd::Ph11Off(editText("MEph11offTime")));
}

void SetupPage::BTTimingSwapClick() {
  sendPowerUserSetting(meterlink::cmd::kTimingSwap);
}

void SetupPage::BTOneClick() { m_session.send(meterlink::cmd::kOne); }

void SetupPage::BTHexDumpClick() {
  m_view.setActivePage(3);
  m_session.send(meterlink::cmd::HexDump(editText("MEHexDump")));
}

void SetupPage::PowerUserPanelClick() {
  if (m_s.PowerUser) {
    m_s.PowerUser = false;
    return;
  }
  m_ui.showDialog(Dialog::Password, true);
}

void SetupPage::BTPasswordOKClick() {
  m_ui.showDialog(Dialog::Password, false);
  m_s.PowerUser = meterlink::PasswordMatches(editText("PasswordForm.MEPassword"));
}

// ---- FL-Setup page

void SetupPage::BTAnalogRangeClick() {
  sendSetting(meterlink::cmd::AnalogRange(m_view.itemIndex("CBAnalogRange")));
}

void SetupPage::BTflscaleClick() {
  const meterlink::ScaleEntry entry = meterlink::ParseScaleEntry(editText("MEflscale"));
  if (entry.result == meterlink::ScaleEntry::NotANumber) {
    ShowSetupStoreState(false);
    return;
  }
  if (entry.result == meterlink::ScaleEntry::OutOfRange) {
    m_warn("Warning - Invalid Entry", "The valid range for the engr scale is 0.0001-0.0255");
    return;
  }
  m_session.send(meterlink::cmd::Scale(entry.units));
  ShowSetupStoreState(false);
}

void SetupPage::BTfloffsetClick() {
  const meterlink::OffsetEntry entry = meterlink::ParseOffsetEntry(editText("MEfloffset"));
  if (entry.result == meterlink::OffsetEntry::NotANumber) {
    ShowSetupStoreState(false);
    return;
  }
  if (entry.result == meterlink::OffsetEntry::OutOfRange) {
    m_warn("Warning - Invalid Entry", "The valid range for the ug/l offset is 0-127");
    return;
  }
  m_session.send(meterlink::cmd::Offset(entry.value));
  ShowSetupStoreState(false);
}

void SetupPage::BTCalClick() {
  m_session.send(meterlink::cmd::EngrOutput(m_s.Meter.MeterEngrOutput));
  ShowSetupStoreState(false);
}

void SetupPage::BTGetSetup2Click() { m_session.send(meterlink::cmd::kTiming); }

}  // namespace app
