#pragma once
// A main form on a scripted operator and a null chart, with host-port slot 1 bound to a
// pseudo-terminal whose master side the test plays.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/formaccess.h"
#include "app/mainform.h"
#include "nullchart.h"
#include "scriptedui.h"
#include "support/ptypeer.h"
#include "support/quietline.h"
#include "support/testfiles.h"

namespace testsupport {

inline measure::HostTime fixedHostTime() {
  measure::HostTime t;
  t.year = 26;
  t.month = 2;
  t.day = 3;
  t.hour = 9;
  t.minute = 5;
  t.second = 7;
  return t;
}

class FormFixture : public ::testing::Test {
 protected:
  void SetUp() override { makeForm(); }

  void makeForm(const std::string& workingDir = "") {
    app::MainFormOptions options;
    options.ports.bind(1, peer.slavePath());
    options.workingDir = workingDir.empty() ? dir.path() : workingDir;
    options.hostClock = fixedHostTime;
    options.quit = [this](int code) { quitCode = code; };
    configure(options);
    form = std::make_unique<app::MainForm>(ui, formChart(), options);
  }
  /// Tests may bind more slots before the form is made.
  virtual void configure(app::MainFormOptions&) {}
  /// The chart the form draws on; a test may give it one that records more.
  virtual chart::PlotChart& formChart() { return chart; }

  /// Chooses a host-port item and a baud item as the operator would.
  void choosePort(int item, int baudItem = 2) {
    form->view().setItemIndex("CBBaudRate", baudItem);
    form->view().setItemIndex("CBHostPort", item);
    form->changed("CBHostPort");
    if (form->shared().OpenPortNumber != 0) letLineBeSeenQuiet(testsupport::formSession(*form));
  }
  /// Lets the pty deliver, then runs one receive tick.
  void tick(int settleMs = 3) {
    pumpEvents(settleMs);
    form->Timer55msTimer();
  }
  void ticks(int n) {
    for (int i = 0; i < n; ++i) tick();
  }
  std::string loadExample(const std::string& name) {
    const std::string path = testsupport::example(name);
    EXPECT_TRUE(form->openDeviceFile(path, path)) << path;
    return path;
  }

  TempDir dir;
  PtyPeer peer;
  ScriptedUi ui;
  app::NullChart chart;
  std::unique_ptr<app::MainForm> form;
  int quitCode = -1;
};

}  // namespace testsupport
