// The setup pages through the main form: the bytes every button puts on the wire, the
// store indicator, reply effects, the power-user lock, the FL-Setup entry checks and
// the small dialogs, with the test playing the meter on a pseudo-terminal.
#include <gtest/gtest.h>
#include <termios.h>

#include <ostream>
#include <string>
#include <vector>

#include "formaccess.h"
#include "formfixture.h"

using testsupport::FormFixture;

namespace {

class Setup : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    tick();  // the first tick prepares the window (analog-range item, hidden pages)
    choosePort(1);
    ASSERT_EQ(form->shared().OpenPortNumber, 1);
  }
  bool marked() const {
    const app::Control& p = form->view().get("PStore");
    return p.visible && p.text == "Setup Not Stored" && p.colour == app::kColourYellow;
  }
  /// Hidden, as at start (when it still has its design caption).
  bool unmarked() const { return !form->view().visible("PStore"); }
  /// Hidden again by the meter's answer.
  bool current() const {
    const app::Control& p = form->view().get("PStore");
    return !p.visible && p.text == "Setup is Current" && p.colour == app::kColourMenu;
  }
  /// Nothing reaches the meter within a fifth of a second.
  std::string silence() { return peer.receive(200, 20); }
  void setText(const std::string& name, const std::string& text) { form->view().setText(name, text); }
  void reply(const std::string& line) { testsupport::dispatchLine(*form, line); }
};

// ---- Every command as its button sends it

struct CommandCase {
  const char* control;
  int page;          ///< active page when clicked
  bool powerUser;
  bool fileAnswer;   ///< a save dialog is answered with a file
  const char* bytes;
  bool marks;
};

std::ostream& operator<<(std::ostream& os, const CommandCase& c) {
  return os << c.control << "@" << c.page;
}

class CommandBytes : public Setup, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandBytes, ButtonSendsExactlyItsCommandAndMarksAsListed) {
  const CommandCase& c = GetParam();
  form->view().setActivePage(c.page);
  testsupport::editState(*form).PowerUser = c.powerUser;
  if (c.fileAnswer) ui.files.push_back(dir.file("memory.raw"));
  ASSERT_TRUE(unmarked());
  ASSERT_TRUE(form->click(c.control));
  EXPECT_EQ(peer.receiveBytes(std::string(c.bytes).size()), c.bytes);
  EXPECT_EQ(silence(), "");  // nothing more than that
  EXPECT_EQ(marked(), c.marks);
  EXPECT_EQ(unmarked(), !c.marks);
  EXPECT_TRUE(ui.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandTable, CommandBytes,
    ::testing::Values(
        CommandCase{"BTStartData", 0, false, false, "$run\r\n", false},
        CommandCase{"BTStopData", 0, false, false, "!!!!!", false},
        CommandCase{"BitBtnCancel", 5, false, false, "!!!!!", false},
        CommandCase{"BTGetSetup1", 0, false, false, "$mnu\r\n", false},
        CommandCase{"BTGetDandT", 0, false, false, "$mnu\r\n", false},
        CommandCase{"BTStoreToFlash1", 0, false, false, "$sto\r\n", false},
        CommandCase{"BTStoreSetup", 1, false, false, "$sto\r\n", false},
        CommandCase{"BTStoreToFlash2", 2, false, false, "$sto\r\n", false},
        CommandCase{"BTReloadSetup1", 0, false, false, "$rls\r\n", false},
        CommandCase{"BTReload", 1, false, false, "$rls\r\n$par\r\n", false},
        CommandCase{"Button22", 2, false, false, "$rls\r\n", false},
        CommandCase{"BTLogging", 0, false, false, "$REC 1\r\n", true},
        CommandCase{"BTAverage", 0, false, false, "$AVE 30\r\n", true},
        CommandCase{"BTPacket", 0, false, false, "$PKT 0\r\n", true},
        CommandCase{"BTSample", 0, false, false, "$SET 1\r\n", true},
        CommandCase{"BTSetDandTPC", 0, false, false, "$CLK 090507\r\n$DAT 020326\r\n", false},
        CommandCase{"BTGetData", 5, false, true, "$get\r\n", false},
        CommandCase{"BTOpen", 0, false, false, "$mvs 1\r\n", false},
        CommandCase{"BTClose", 0, false, false, "$mvs 0\r\n", false},
        CommandCase{"BTGetTiming", 1, false, false, "$par\r\n", false},
        CommandCase{"BTGetSetup2", 2, false, false, "$par\r\n", false},
        CommandCase{"BTph1onTime", 1, true, false, "$01n=5\r\n", true},
        CommandCase{"BTph1offTime", 1, true, false, "$01f 5\r\n", true},
        CommandCase{"BTph11onTime", 1, true, false, "$11n=5\r\n", true},
        CommandCase{"BTph11offTime", 1, true, false, "$11f=5\r\n", true},
        CommandCase{"BTTimingSwap", 1, true, false, "$swp\r\n", true},
        CommandCase{"BTOne", 1, false, false, "$one\r\n", false},
        CommandCase{"BTHexDump", 1, false, false, "$hex 1\r\n", false},
        CommandCase{"BTAnalogRange2", 2, false, false, "$ASV 2\r\n", true},
        CommandCase{"BTflscale", 2, false, false, "$ugl 1\r\n", true},
        CommandCase{"BTfloffset", 2, false, false, "$off 1\r\n", true},
        CommandCase{"BTCal", 2, false, false, "$cal 1\r\n", true}),
    [](const ::testing::TestParamInfo<CommandCase>& info) {
      return std::string(info.param.control) + "_page" + std::to_string(info.param.page);
    });

// An entry the meter would not take (untouched, empty, mistyped, out of range) is named in a
// box and nothing goes on the wire; a good one goes out without its blanks.
TEST_F(Setup, EntriesAreCheckedBeforeAnythingIsSent) {
  const std::string overlong(150, '9');
  struct Case { const char* edit; const char* button; const char* typed; const char* field; };
  testsupport::editState(*form).PowerUser = true;
  for (const Case& c : {Case{"TimeInterval", "BTInterval", "HHMMSS", "Cycle interval"},
                        Case{"TimeInterval", "BTInterval", "016000", "Cycle interval"},
                        Case{"MEPacket", "BTPacket", "", "Number of samples"},
                        Case{"MEAverage", "BTAverage", " 7x", "Averaging"},
                        Case{"MEAverage", "BTAverage", "0", "Averaging"},
                        Case{"MEph1onTime", "BTph1onTime", "10000", "A phase time"},
                        Case{"MEHexDump", "BTHexDump", overlong.c_str(), "Hex dump page"},
                        Case{"MEflscale", "BTflscale", "abc", "The valid range for the engr scale"}}) {
    ui.boxes.clear();
    setText(c.edit, c.typed);
    form->click(c.button);
    ASSERT_EQ(ui.boxes.size(), 1u) << c.edit << " '" << c.typed << "'";
    EXPECT_EQ(ui.boxes[0].caption, "Warning - Invalid Entry");
    EXPECT_EQ(ui.boxes[0].text.rfind(c.field, 0), 0u) << ui.boxes[0].text;
  }
  EXPECT_EQ(silence(), "");
  EXPECT_TRUE(unmarked());
  setText("TimeInterval", " 013000 ");
  form->click("BTInterval");
  EXPECT_EQ(peer.receiveBytes(13), "$INT 013000\r\n");
}

// Erasing the meter's memory asks first; Cancel sends nothing.
TEST_F(Setup, EraseMemoryAsksFirst) {
  for (const char* button : {"BTErase", "BTErase2"}) {
    ui.answers = {false};
    form->click(button);
    EXPECT_EQ(silence(), "") << button;
    ui.answers = {true};
    form->click(button);
    EXPECT_EQ(peer.receiveBytes(6), "$emc\r\n") << button;
    EXPECT_EQ(ui.countBoxes("Erase Memory"), 2u);
    ui.boxes.clear();
  }
}

// The FL-Setup entries start from the device file's engineering scale and offset.
TEST_F(Setup, FlSetupStartsFromTheDeviceFile) {
  loadExample("flasv.dev");
  EXPECT_EQ(form->view().text("MEflscale"), "0.0073");
  EXPECT_EQ(form->view().text("MEfloffset"), "48");
}

// The advanced page's Hex Dump turns to the raw-data page; its Reload also asks for timing values.
TEST_F(Setup, AdvancedMenuHexDumpAndReload) {
  form->click("MenuAdvancedSetup");
  EXPECT_TRUE(form->view().visible("TSAdvanced"));
  EXPECT_EQ(form->view().activePage, 1);
  form->click("BTReload");
  EXPECT_EQ(peer.receiveBytes(12), "$rls\r\n$par\r\n");
  EXPECT_TRUE(form->shared().Meter.ReloadPending);
  form->click("BTHexDump");
  EXPECT_EQ(form->view().activePage, 3);
  EXPECT_EQ(peer.receive(), "$hex 1\r\n");
}

// Storing keeps the indicator until the meter's DONE hides it.
TEST_F(Setup, StoreToFlashKeepsTheIndicatorUntilDone) {
  loadExample("ntu.dev");
  form->click("BTSample");
  ASSERT_TRUE(marked());
  form->click("BTStoreToFlash1");
  EXPECT_TRUE(marked());
  reply("DONE");
  EXPECT_TRUE(current());
}

// Each toggle sends the opposite of what the meter last said it was (either reply spelling).
TEST_F(Setup, TogglesFollowTheMetersReply) {
  struct Case { const char* device; const char* button; const char* first; const char* reply1; const char* second;
                const char* reply2; const char* third; };
  for (const Case& c : {Case{"ntu.dev", "BTLogging", "$REC 1", "REC1", "$REC 0", "REC 0", "$REC 1"},
                        Case{"flasv.dev", "BTCal", "$cal 1", "CAL 0", "$cal 1", "CAL 1", "$cal 0"}}) {
    loadExample(c.device);
    form->click(c.button);
    EXPECT_EQ(peer.receive(), std::string(c.first) + "\r\n");
    reply(c.reply1);
    form->click(c.button);
    EXPECT_EQ(peer.receive(), std::string(c.second) + "\r\n");
    reply(c.reply2);
    form->click(c.button);
    EXPECT_EQ(peer.receive(), std::string(c.third) + "\r\n");
  }
}

// ---- Replies through the form

// What replies set in the meter's state is the session's (tests/acquire/session_test.cpp).
TEST_F(Setup, WithoutADeviceFileRepliesAreListedAndNoCaptionChanges) {
  for (const char* line : {"AVE 30", "VER 2.10", "MEM 4095"}) reply(line);
  EXPECT_EQ(form->view().windowCaption, "MARU View:  v1.13 07/01/03      MARU:  ");
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(form->view().memoLines().size(), 3u);
}

TEST_F(Setup, VersionReplySetsTheCaptionAndClearsTheIndicatorOnlyAfterAReload) {
  loadExample("ntu.dev");
  form->click("BTAverage");
  ASSERT_EQ(peer.receive(), "$AVE 30\r\n");
  ASSERT_TRUE(marked());
  reply("VER 2.10");
  EXPECT_EQ(form->view().windowCaption, "MARU View:  v1.13 07/01/03      MARU: VER 2.10");
  EXPECT_TRUE(form->shared().Meter.MeterVersionSeen);
  EXPECT_TRUE(marked());  // no reload asked for

  form->click("BTReloadSetup1");
  EXPECT_EQ(peer.receive(), "$rls\r\n");
  EXPECT_TRUE(marked());  // until the meter answers
  reply("ver 3.0a");
  EXPECT_EQ(form->view().windowCaption, "MARU View:  v1.13 07/01/03      MARU: ver 3.0a");
  EXPECT_TRUE(current());
  EXPECT_FALSE(form->shared().Meter.ReloadPending);

  form->click("BTSample");
  reply("VER 2.10");  // a second version line without a reload
  EXPECT_TRUE(marked());
}

TEST_F(Setup, MemoryFullWindowAtEveryReplyOf4094PagesOrMore) {
  loadExample("ntu.dev");
  using app::Dialog;
  reply("MEM 4093");
  EXPECT_EQ(form->shared().Meter.MeterMemoryUsed, 4093);
  EXPECT_TRUE(ui.dialogs.empty());
  reply("MEM 4094");
  EXPECT_EQ(form->shared().Meter.MeterMemoryUsed, 4094);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_TRUE(ui.shownLast(Dialog::MemoryFull));
  EXPECT_TRUE(form->click("Form2.Button1"));
  EXPECT_FALSE(ui.shownLast(Dialog::MemoryFull));
  reply("MEM 4095");
  EXPECT_EQ(form->shared().Meter.MeterMemoryUsed, 4095);
  EXPECT_TRUE(ui.shownLast(Dialog::MemoryFull));
  reply("MEM 4095");  // shown again while open: brought forward
  EXPECT_EQ(ui.dialogs.size(), 4u);
  EXPECT_TRUE(ui.boxes.empty());  // not a modal box
}

// ---- The power-user lock (which entries match: tests/link, PasswordMatches)

TEST_F(Setup, PasswordOkSetsTheRightsAsTheEntryMatches) {
  for (const auto& [entry, grants] : {std::pair{"BlueHeronX", true}, std::pair{" BlueHeron", false}}) {
    for (bool before : {false, true}) {
      testsupport::editState(*form).PowerUser = before;
      if (!before) {
        form->click("PowerUserPanel");
        ASSERT_TRUE(ui.shownLast(app::Dialog::Password));
      }
      setText("PasswordForm.MEPassword", entry);
      ASSERT_TRUE(form->click("PasswordForm.BTPasswordOK"));
      EXPECT_FALSE(ui.shownLast(app::Dialog::Password));
      EXPECT_EQ(form->shared().PowerUser, grants) << entry << ", power user before: " << before;
      EXPECT_EQ(form->view().text("PasswordForm.MEPassword"), entry);  // not cleared
    }
  }
  EXPECT_TRUE(ui.boxes.empty());  // a wrong password says nothing
}

// The panel drops held rights without a dialog; the gated buttons then do nothing; the panel
// asks for the password, and rights gained through the dialog unlock the timing buttons.
TEST_F(Setup, PowerUserPanelDropsOrAsksForTheRightsTheTimingButtonsNeed) {
  testsupport::editState(*form).PowerUser = true;
  form->click("PowerUserPanel");
  EXPECT_FALSE(form->shared().PowerUser);
  EXPECT_TRUE(ui.dialogs.empty());
  form->click("MenuAdvancedSetup");
  for (const char* control : {"BTph1onTime", "BTph1offTime", "BTph11onTime", "BTph11offTime", "BTTimingSwap"}) {
    ASSERT_TRUE(form->click(control));
    EXPECT_EQ(silence(), "") << control;
    EXPECT_TRUE(unmarked()) << control;
  }
  EXPECT_TRUE(ui.boxes.empty());
  form->click("PowerUserPanel");
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_TRUE(ui.shownLast(app::Dialog::Password));
  EXPECT_FALSE(form->shared().PowerUser);  // nothing granted until OK
  setText("PasswordForm.MEPassword", "BlueHeron");
  form->click("PasswordForm.BTPasswordOK");
  setText("MEph1offTime", "12");
  form->click("BTph1offTime");
  EXPECT_EQ(peer.receive(), "$01f 12\r\n");
  EXPECT_TRUE(marked());
}

// ---- FL-Setup entry checks (how each text is read: tests/link, ScaleEntry and OffsetEntry)

// A good entry is sent in the meter's units and marks the setup; a bad one is one box with
// its range, a beep, and nothing on the wire.
TEST_F(Setup, FlSetupEntriesSendTheMetersUnitsOrWarnWithTheirRange) {
  struct Case { const char* edit; const char* button; const char* good; const char* sent; const char* bad; const char* warning; };
  for (const Case& c : {Case{"MEflscale", "BTflscale", "  0.0100 ug/l", "$ugl 100\r\n", "0.0256",
                             "The valid range for the engr scale is 0.0001-0.0255"},
                        Case{"MEfloffset", "BTfloffset", "12abc", "$off 12\r\n", "x1",
                             "The valid range for the ug/l offset is 0-127"}}) {
    setText(c.edit, c.good);
    form->click(c.button);
    EXPECT_EQ(peer.receive(), c.sent);
    EXPECT_TRUE(marked());
    ui.boxes.clear();
    ui.beeps = 0;
    setText(c.edit, c.bad);
    form->click(c.button);
    EXPECT_EQ(silence(), "");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, "Warning - Invalid Entry");
    EXPECT_EQ(ui.boxes[0].text, c.warning);
    EXPECT_EQ(ui.beeps, 1);
  }
}

TEST_F(Setup, AnalogRangeCodeFollowsTheChosenItem) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "$ASV 1\r\n"}, {1, "$ASV 2\r\n"}, {2, "$ASV 4\r\n"}, {-1, "$ASV 2\r\n"}};
  for (const auto& [item, bytes] : cases) {
    form->view().setItemIndex("CBAnalogRange", item);
    form->click("BTAnalogRange2");
    EXPECT_EQ(peer.receive(), bytes) << "item " << item;
  }
  EXPECT_TRUE(marked());
}

// ---- The host-port dialog

class HostPortDialog : public Setup {
  void configure(app::MainFormOptions& o) override { o.ports.bind(3, peer.slavePath()); }
};

TEST_F(HostPortDialog, OffClosesThePortAndShowsThePanel) {
  form->click("PCOMPort");
  EXPECT_TRUE(ui.shownLast(app::Dialog::SelectHostPort));
  form->view().setItemIndex("SelectHPForm.HPRG", 0);
  ASSERT_TRUE(form->click("SelectHPForm.BTOK"));
  EXPECT_EQ(form->view().itemIndex("CBHostPort"), 0);
  EXPECT_EQ(form->shared().OpenPortNumber, 0);
  EXPECT_TRUE(form->view().visible("PCOMPort"));
  EXPECT_FALSE(ui.shownLast(app::Dialog::SelectHostPort));
  EXPECT_EQ(form->shared().SetupRequestTicks, 10);
  form->click("BTStopData");
  EXPECT_EQ(silence(), "");
}

TEST_F(HostPortDialog, ChosenPortAndRateAreAppliedTogether) {
  form->view().setItemIndex("SelectHPForm.HPRG", 3);
  form->view().setItemIndex("SelectHPForm.BRRG", 3);
  form->click("SelectHPForm.BTOK");
  EXPECT_EQ(form->view().itemIndex("CBHostPort"), 3);
  EXPECT_EQ(form->view().itemIndex("CBBaudRate"), 3);
  EXPECT_EQ(form->shared().OpenPortNumber, 3);
  EXPECT_EQ(form->shared().BaudIndex, 3);
  termios t{};
  ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_FALSE(form->view().visible("PCOMPort"));
  EXPECT_TRUE(ui.boxes.empty());
  testsupport::letLineBeSeenQuiet(testsupport::formSession(*form));
  form->click("BTOpen");
  EXPECT_EQ(peer.receive(), "$mvs 1\r\n");
}

}  // namespace
