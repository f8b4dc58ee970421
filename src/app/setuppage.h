#pragma once
// The Meter Setup, Advanced Setup and FL-Setup pages and the power-user lock: the
// operator's entries become the meter's commands, sent through the acquisition session.
#include <functional>
#include <memory>
#include <string>

#include "acquire/session.h"
#include "app/operatorui.h"
#include "app/viewmodel.h"
#include "link/settingentry.h"

namespace app {

struct FormState;

class SetupPage {
 public:
  SetupPage(ViewModel& view, OperatorUi& ui, acquire::Session& session, FormState& state,
            measure::HostClock hostClock, std::function<void(const std::string&, const std::string&)> warn);

  /// A device file was loaded: the FL-Setup entries take its engineering scale and offset.
  void deviceFileLoaded(const measure::DeviceConfig& config);
  /// "Setup is Current" (the meter stored it) or "Setup Not Stored".
  void ShowSetupStoreState(bool current);
  /// Called once "Set Date/Time PC" has sent the computer's local time to the meter.
  void setClockSetHandler(std::function<void()> handler) { m_clockSet = std::move(handler); }

  // ---- Meter Setup page
  void BTAverageClick();
  void BTPacketClick();
  void BTSampleClick();
  void BTIntervalClick();
  void BTGetDandTClick();
  void BTGetSetupClick();
  void BTLoggingClick();
  void BTEraseClick();
  void BTErase2Click();
  void BTSetDandTPCClick();
  void BTOpenClick();
  void BTCloseClick();
  void BTStoreSetupClick();
  void BTReloadClick();

  // ---- Advanced Setup page and the power-user lock
  void MenuAdvancedSetupClick();
  void BTGetTimingClick();
  void BTph1onTimeClick();
  void BTph1offTimeClick();
  void BTph11onTimeClick();
  void BTph11offTimeClick();
  void BTTimingSwapClick();
  void BTOneClick();
  void BTHexDumpClick();
  void PowerUserPanelClick();
  void BTPasswordOKClick();

  // ---- FL-Setup page
  void BTAnalogRangeClick();
  void BTflscaleClick();
  void BTfloffsetClick();
  void BTCalClick();
  void BTGetSetup2Click();

 private:
  std::string editText(const std::string& name) const;
  /// The entry `edit` as `setting` takes it, into `value`; false (with a box naming the field
  /// and its range) when it is refused and nothing may be sent.
  bool checked(const char* edit, meterlink::Setting setting, std::string& value);
  /// Sends a setting and marks the setup as not stored.
  void sendSetting(const std::string& command);
  /// The same, for the settings only a power user may change.
  void sendPowerUserSetting(const std::string& command);

  ViewModel& m_view;
  OperatorUi& m_ui;
  acquire::Session& m_session;
  FormState& m_s;
  measure::HostClock m_hostClock;
  std::function<void(const std::string&, const std::string&)> m_warn;
  std::function<void()> m_clockSet;
  /// A question may be answered after the page is gone; its callback checks this first.
  std::shared_ptr<char> m_alive = std::make_shared<char>(0);
};

}  // namespace app
