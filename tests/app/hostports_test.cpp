// Host ports that know their hardware: the list shows each slot's adapter, a failed open
// says why, and a pulled adapter is found again without the operator.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <string>
#include <vector>

#include "formfixture.h"
#include "support/simprocess.h"

namespace {

using testsupport::FormFixture;
using testsupport::readFile;

meterlink::SerialAdapter usb(const std::string& path, const std::string& serial, const std::string& byId) {
  meterlink::SerialAdapter a;
  a.path = path;
  a.serialNumber = serial;
  a.byIdLink = byId;
  a.description = "USB UART";
  return a;
}

class HostPorts : public FormFixture {
 protected:
  void configure(app::MainFormOptions& o) override {
    o.listAdapters = [this] { return adapters; };
  }
  std::vector<meterlink::SerialAdapter> adapters;
};

TEST_F(HostPorts, TheListShowsEachSlotsAdapterAndAFailedOpenSaysWhy) {
  form->RefreshHostPorts();
  EXPECT_EQ(form->view().get("CBHostPort").itemHints.at(2), "");
  // Plugged in after start: it takes the first free slot when the list is looked at again.
  adapters = {usb(dir.file("ttyUSB0"), "A1", "/dev/serial/by-id/usb-A1-port0")};
  form->RefreshHostPorts();
  const auto& hints = form->view().get("CBHostPort").itemHints;
  ASSERT_EQ(hints.size(), 9u);
  EXPECT_EQ(hints[1], peer.slavePath());  // --port binds slot 1; a pty has nothing more to say
  EXPECT_EQ(hints[2], dir.file("ttyUSB0") + " (USB UART, S/N A1, by-id usb-A1-port0)");

  // The adapter's node is not there: the box keeps its first line and names the cause.
  choosePort(2);
  EXPECT_EQ(form->view().text("LBPortDevice"), "Port device: " + hints[2]);
  ASSERT_EQ(ui.countBoxes("Comm Error"), 1u);
  const std::string text = ui.boxes.back().text;
  EXPECT_EQ(text.substr(0, text.find('\n')), "Could Not Open Comm Port 2");
  EXPECT_NE(text.find("not plugged in"), std::string::npos) << text;
  // What the slot knows is kept for the next start, beside the saved settings.
  EXPECT_NE(readFile(dir.file("hostports.rbs")).find("2\tA1\t/dev/serial/by-id/usb-A1-port0\t"), std::string::npos);
}

class Replug : public FormFixture {
 protected:
  void configure(app::MainFormOptions& o) override {
    o.ports.bind(2, dir.file("meter"));
    o.listAdapters = [] { return std::vector<meterlink::SerialAdapter>{}; };
  }
  /// Runs the form's timers as the window would for about `ms` milliseconds, or until `done`.
  bool run(int ms, const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    qint64 nextSecond = 0;
    while (clock.elapsed() < ms) {
      testsupport::pumpEvents(20);
      form->Timer55msTimer();
      if (clock.elapsed() >= nextSecond) {
        form->Timer1SecondTimer();
        nextSecond += 1000;
      }
      if (done()) return true;
    }
    return done();
  }
  size_t rawLines() { return testsupport::splitLines(readFile(dir.file("cast.raw"))).size(); }
};

TEST_F(Replug, DataResumesIntoTheSameFileWithOneNotice) {
  const QStringList meter = {"--dev", QString::fromStdString(std::string(MARU_SOURCE_DIR) + "/examples/bb3.dev"),
                             "--baud", "19200", "--rate", "10", "--link", QString::fromStdString(dir.file("meter"))};
  loadExample("bb3.dev");
  ASSERT_TRUE(form->files().StartRecording(acquire::Recordings::Stream::Raw, dir.file("cast.raw")));
  size_t before = 0;
  {
    testsupport::SimProcess first(meter + QStringList{"--hangup-after", "2"});
    ASSERT_FALSE(first.path().empty());
    choosePort(2);
    ASSERT_EQ(form->shared().OpenPortNumber, 2);
    form->BTStartClick();
    // The cable is pulled two seconds in.
    ASSERT_TRUE(run(8000, [this] { return form->shared().OpenPortNumber == 0; }));
    run(300, [] { return false; });
    before = rawLines();
    EXPECT_GT(before, 5u);
    EXPECT_EQ(ui.countBoxes("Comm Error"), 1u);
    EXPECT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
  }
  run(1500, [] { return false; });  // searching, with nothing there
  EXPECT_EQ(form->shared().OpenPortNumber, 0);

  // A meter is plugged in at the same place: no operator action from here on.
  testsupport::SimProcess second(meter);
  ASSERT_FALSE(second.path().empty());
  ASSERT_TRUE(run(5000, [this] { return form->shared().OpenPortNumber == 2; }));
  EXPECT_TRUE(run(5000, [&] { return rawLines() >= before + 10; })) << rawLines();
  EXPECT_EQ(ui.countBoxes("Comm Error"), 1u);  // the one notice of the loss
  EXPECT_NE(form->view().text("LBPortDevice").find("back after"), std::string::npos)
      << form->view().text("LBPortDevice");
  EXPECT_TRUE(form->files().recordings().on(acquire::Recordings::Stream::Raw));
}

}  // namespace
