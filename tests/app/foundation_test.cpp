// The application shell over a real pseudo-terminal with the test playing the meter: the
// port and baud choices, the buttons' commands, the raw-data list and the boxes. Framing,
// the rates on the wire and a hang-up's engine side are the session's
// (tests/acquire/session_test.cpp).
#include <gtest/gtest.h>
#include <termios.h>

#include "formfixture.h"

using testsupport::FormFixture;

namespace {

class Foundation : public FormFixture {};

TEST_F(Foundation, StartDataSendsRunWithLineEndAndStopSendsFiveBangsOnly) {
  choosePort(1);
  ASSERT_EQ(form->shared().OpenPortNumber, 1);
  form->BTStartClick();
  EXPECT_EQ(peer.receive(), "$run\r\n");
  form->BTStopClick();
  EXPECT_EQ(peer.receive(), "!!!!!");
  EXPECT_EQ(form->session().rate().pending(), -1);
}

TEST_F(Foundation, BaudBoxWithoutChoiceIsForcedTo19200) {
  form->view().setItemIndex("CBBaudRate", -1);
  form->view().setItemIndex("CBHostPort", 1);
  form->CBHostPortChange();
  EXPECT_EQ(form->view().itemIndex("CBBaudRate"), 2);
  EXPECT_EQ(form->shared().BaudIndex, 2);
}

TEST_F(Foundation, SelectHostPortClosesThePortAndShowsThePanel) {
  choosePort(1);
  choosePort(0);
  EXPECT_EQ(form->shared().OpenPortNumber, 0);
  EXPECT_FALSE(testsupport::formSession(*form).portOpen());
  EXPECT_TRUE(form->view().visible("PCOMPort"));
  form->BTStopClick();
  EXPECT_EQ(peer.receive(200), "");
}

class MissingDevice : public FormFixture {
  void configure(app::MainFormOptions& o) override { o.ports.bind(5, dir.file("no-such-tty")); }
};

TEST_F(MissingDevice, ShowsCommErrorWithTheSlotNumberAndOpensNothing) {
  choosePort(5);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Comm Error");
  EXPECT_EQ(ui.boxes[0].text.substr(0, ui.boxes[0].text.find('\n')), "Could Not Open Comm Port 5");
  EXPECT_EQ(ui.beeps, 0);  // port errors use the plain box
  EXPECT_EQ(form->shared().OpenPortNumber, 0);
  EXPECT_FALSE(form->view().visible("PCOMPort"));
  form->ClosePort();
  EXPECT_EQ(ui.boxes.size(), 1u);
}

TEST_F(Foundation, SetupIsRequestedOnTheTenthTickAfterAPortChange) {
  choosePort(1);
  for (int i = 1; i <= 9; ++i) {
    tick();
    ASSERT_EQ(peer.receive(5, 5), "") << "tick " << i;
  }
  tick();
  EXPECT_EQ(peer.receive(), "$mnu\r\n");
  ticks(12);
  EXPECT_EQ(peer.receive(50), "");
}

TEST_F(Foundation, FirstTickSetsCaptionAndHidesTheSetupPages) {
  tick();
  EXPECT_EQ(form->view().windowCaption, "MARU View:  v1.13 07/01/03      MARU:  ");
  EXPECT_FALSE(form->view().visible("TSAdvanced"));
  EXPECT_FALSE(form->view().visible("TSFLSetup"));
  EXPECT_EQ(form->view().itemIndex("CBAnalogRange"), 1);
  EXPECT_NEAR(form->shared().Config.ThetaRadians, 2.041975, 1e-12);
}

TEST_F(Foundation, EleventhStackedWarningIsDroppedWithoutSound) {
  ui.holdBoxes = true;  // nobody at the desk
  for (int i = 0; i < 15; ++i) form->ShowWarningBox("W", "again");
  EXPECT_EQ(ui.boxes.size(), 10u);
  EXPECT_EQ(ui.beeps, 10);
  EXPECT_EQ(form->shared().MessageBoxDepth, 10);
  ui.dismissBoxes();
  EXPECT_EQ(form->shared().MessageBoxDepth, 0);
  form->ShowWarningBox("W", "after");
  EXPECT_EQ(ui.boxes.size(), 11u);
}

// Changing only the baud reopens the same port; neither that nor a port change after idle
// ticks raises a close error.
TEST_F(Foundation, ChangingBaudOrPortAfterIdleTicksReopensWithoutACloseError) {
  choosePort(1, 2);
  for (int i = 0; i < 18; ++i) {  // about a second of idle polls
    testsupport::pumpEvents(55);
    form->Timer55msTimer();
  }
  ASSERT_EQ(peer.receive(), "$mnu\r\n");  // the setup request after the port change
  form->view().setItemIndex("CBBaudRate", 1);
  form->changed("CBBaudRate");
  ASSERT_EQ(form->shared().OpenPortNumber, 1);
  EXPECT_EQ(form->shared().BaudIndex, 1);
  termios t{};
  ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  // The reopened port still carries commands, once the open has settled.
  testsupport::letLineBeSeenQuiet(testsupport::formSession(*form));
  form->BTStopClick();
  EXPECT_EQ(peer.receive(), "!!!!!");
  for (int i = 0; i < 5; ++i) tick();
  choosePort(0);
  choosePort(1, 3);
  EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;
  EXPECT_EQ(form->shared().OpenPortNumber, 1);
  ASSERT_EQ(tcgetattr(peer.slaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
}

TEST_F(Foundation, RawDataMemoKeepsAtMost501Lines) {
  choosePort(1);
  std::string burst;
  for (int i = 0; i < 700; ++i) burst += std::to_string(i) + "\n";
  peer.send(burst);
  for (int i = 0; i < 60 && form->view().memoTotal() < 700; ++i) tick();
  EXPECT_EQ(form->view().memoTotal(), 700u);
  EXPECT_EQ(form->view().memoLines().size(), 501u);
  EXPECT_EQ(form->view().memoLines().front(), "199");
  EXPECT_EQ(form->view().memoLines().back(), "699");
}

TEST_F(Foundation, TicksNeverNestInsideAModalBox) {
  choosePort(1);
  int nestedTicks = 0;
  ui.onBox = [&](const std::string&, const std::string&) {
    // The GUI's timers keep firing while a box is open.
    const int before = form->shared().TickCount;
    form->Timer55msTimer();
    nestedTicks += form->shared().TickCount - before;
  };
  peer.send(std::string(260, 'x') + "\n");
  ticks(4);
  ASSERT_EQ(ui.countBoxes("Input Buffer Overflow"), 1u);
  EXPECT_EQ(ui.boxes.back().text, "Check Baud Rate");
  EXPECT_EQ(ui.beeps, 1);
  EXPECT_EQ(nestedTicks, 0);
}

TEST_F(Foundation, HangUpGivesOneBoxAndClosesThePort) {
  choosePort(1);
  peer.send("1\t2\n");
  ticks(2);
  peer.hangUp();
  ticks(10);
  EXPECT_EQ(form->shared().OpenPortNumber, 0);
  EXPECT_FALSE(testsupport::formSession(*form).portOpen());
  EXPECT_EQ(ui.countBoxes("Comm Error"), 1u);
  // Writing to the lost port is silent.
  form->BTStartClick();
  EXPECT_EQ(ui.boxes.size(), 1u);
}

}  // namespace
