// The handlers of the Meter Setup, Advanced Setup and FL-Setup pages and the power-user
// lock: each sends its command from the protocol's constants and marks the setup as not
// stored until the meter says it is.
#include "app/setuppage.h"

#include "app/mainform.h"
#include "link/settingentry.h"
#include "measure/cformat.h"

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

bool SetupPage::checked(const char* edit, meterlink::Setting setting, std::string& value) {
  const meterlink::SettingEntry entry = meterlink::checkSetting(setting, editText(edit));
  if (!entry.value) {
    m_warn("Warning - Invalid Entry", entry.problem);
    return false;
  }
  value = *entry.value;
  return true;
}

void SetupPage::deviceFileLoaded(const measure::DeviceConfig& config) {
  // The meter's own scale and offset start from the device file's calibration.
  if (config.IEngrScale <= 0.0f) return;
  std::string scale = measure::cformat("%6.4f", config.IEngrScale);
  scale.erase(0, scale.find_first_not_of(' '));
  m_view.setText("MEflscale", scale);
  m_view.setText("MEfloffset", measure::cformat("%1.0f", config.IEngrOffset));
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
  if (std::string value; checked("MEAverage", meterlink::Setting::Average, value)) sendSetting(meterlink::cmd::Average(value));
}

void SetupPage::BTPacketClick() {
  if (std::string value; checked("MEPacket", meterlink::Setting::Samples, value)) sendSetting(meterlink::cmd::Packet(value));
}

void SetupPage::BTSampleClick() {
  if (std::string value; checked("MESample", meterlink::Setting::Cycles, value)) sendSetting(meterlink::cmd::Sample(value));
}

void SetupPage::BTIntervalClick() {
  if (std::string value; checked("TimeInterval", meterlink::Setting::Interval, value)) sendSetting(meterlink::cmd::Interval(value));
}

void SetupPage::BTGetDandTClick() { m_session.send(meterlink::cmd::kMenu); }
void SetupPage::BTGetSetupClick() { m_session.send(meterlink::cmd::kMenu); }

void SetupPage::BTLoggingClick() {
  m_session.send(meterlink::cmd::Logging(m_s.Meter.MeterLogging));
  ShowSetupStoreState(false);
}

void SetupPage::BTEraseClick() {
  // Erasing loses every logged sample on the meter: the operator confirms it first.
  m_ui.question("Erase Memory", "Erase the meter's memory? Every sample logged in it is lost.",
                [this, alive = std::weak_ptr<char>(m_alive)](bool ok) {
                  if (ok && !alive.expired()) m_session.send(meterlink::cmd::kErase);
                });
}
void SetupPage::BTErase2Click() { BTEraseClick(); }

void SetupPage::BTSetDandTPCClick() {
  const measure::HostTime now = m_hostClock();
  const bool sent = m_session.send(meterlink::cmd::Clock(now)) && m_session.send(meterlink::cmd::Date(now));
  // The meter now keeps the computer's local time: its readings are in the computer's zone.
  if (sent && m_clockSet) m_clockSet();
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
  if (!m_s.PowerUser) return;
  if (std::string value; checked("MEph1onTime", meterlink::Setting::PhaseTime, value)) sendSetting(meterlink::cmd::Ph1On(value));
}

void SetupPage::BTph1offTimeClick() {
  if (!m_s.PowerUser) return;
  if (std::string value; checked("MEph1offTime", meterlink::Setting::PhaseTime, value)) sendSetting(meterlink::cmd::Ph1Off(value));
}

void SetupPage::BTph11onTimeClick() {
  if (!m_s.PowerUser) return;
  if (std::string value; checked("MEph11onTime", meterlink::Setting::PhaseTime, value)) sendSetting(meterlink::cmd::Ph11On(value));
}

void SetupPage::BTph11offTimeClick() {
  if (!m_s.PowerUser) return;
  if (std::string value; checked("MEph11offTime", meterlink::Setting::PhaseTime, value)) sendSetting(meterlink::cmd::Ph11Off(value));
}

void SetupPage::BTTimingSwapClick() {
  sendPowerUserSetting(meterlink::cmd::kTimingSwap);
}

void SetupPage::BTOneClick() { m_session.send(meterlink::cmd::kOne); }

void SetupPage::BTHexDumpClick() {
  std::string page;
  if (!checked("MEHexDump", meterlink::Setting::HexPage, page)) return;
  m_view.setActivePage(3);
  m_session.send(meterlink::cmd::HexDump(page));
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
  // Text that is no number is refused as a value out of range is: nothing goes out.
  if (entry.result != meterlink::ScaleEntry::Ok) {
    m_warn("Warning - Invalid Entry", "The valid range for the engr scale is 0.0001-0.0255");
    return;
  }
  m_session.send(meterlink::cmd::Scale(entry.units));
  ShowSetupStoreState(false);
}

void SetupPage::BTfloffsetClick() {
  const meterlink::OffsetEntry entry = meterlink::ParseOffsetEntry(editText("MEfloffset"));
  if (entry.result != meterlink::OffsetEntry::Ok) {
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
