// A window started from the last run's settings with --mqtt describes its meter to the
// feed as a load by hand does: state, metadata and data reach a real broker without a
// click.
#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>
#include <string>

#include "formfixture.h"
#include "support/localbroker.h"

namespace {

class RestoredFeed : public testsupport::FormFixture {
 protected:
  void configure(app::MainFormOptions& options) override {
    options.feeds.mqtt.broker = broker.address();
    options.feeds.mqtt.platform = "ship";
    options.feeds.version = "test";
  }
  testsupport::LocalBroker broker;
};

TEST_F(RestoredFeed, PublishesStateMetadataAndDataWithoutAClick) {
  ASSERT_TRUE(broker.process.waitForStarted(5000));
  std::filesystem::copy_file(testsupport::example("ntu.dev"), dir.file("ntu.dev"));
  testsupport::writeFile(dir.file("last.rbs"), "1 2 0 0 0 0 0 0 0 0 0\nntu.dev\n");
  tick();
  form->Timer1SecondTimer();  // restores the settings: the device file and host port 1
  ASSERT_EQ(form->shared().OpenPortNumber, 1);
  testsupport::letLineBeSeenQuiet(testsupport::formSession(*form));

  const std::string base = "maru/ship/NTU-0302";
  std::map<std::string, std::string> retained;
  EXPECT_TRUE(testsupport::waitFor([&] {
    retained = broker.retained();
    return retained[base + "/state"] == "online" && retained.count(base + "/metadata") > 0;
  })) << retained[base + "/state"];
  EXPECT_NE(retained[base + "/metadata"].find("\"device_file\": \"ntu.dev\""), std::string::npos)
      << retained[base + "/metadata"];

  QProcess sub;
  broker.awaitOne(sub, base + "/data");
  // The subscriber may still be connecting: the meter sends until a message arrived.
  EXPECT_TRUE(testsupport::waitFor([&] { return sub.state() == QProcess::NotRunning; }, 15000, [&] {
    peer.send("1103\t4094\t560\r\n");
    tick();
  }));
  const std::string message = sub.readAllStandardOutput().toStdString();
  EXPECT_NE(message.find("\"raw\": \"1103\\t4094\\t560\""), std::string::npos) << message;
  // The window shows the feed as the broker has it: acknowledged, nothing waiting.
  EXPECT_TRUE(testsupport::waitFor([&] {
    form->Timer1SecondTimer();
    const std::string shown = form->view().text("LBFeed");
    return form->view().visible("LBFeed") && shown.starts_with("MQTT: online, connected, ") &&
           !shown.starts_with("MQTT: online, connected, 0 published") && shown.ends_with("backlog 0");
  })) << form->view().text("LBFeed");
}

// A recording the disk refuses: the feed says so ("recording_stopped" and why) until the
// next recording starts, as maru log's does.
TEST_F(RestoredFeed, ARecordingThatFailedIsTheFeedsStateUntilTheNext) {
  ASSERT_TRUE(broker.process.waitForStarted(5000));
  tick();
  loadExample("ntu.dev");
  choosePort(1);
  testsupport::letLineBeSeenQuiet(testsupport::formSession(*form));
  const std::string base = "maru/ship/NTU-0302";
  auto stateIs = [&](const std::string& want) {
    return testsupport::waitFor([&] { return broker.retained()[base + "/state"] == want; }, 5000, [&] { tick(); });
  };
  ASSERT_TRUE(stateIs("online"));
  ui.files = {"/dev/full"};
  form->click("BTRecordRaw");
  peer.send("1103\t4094\t560\r\n");
  ASSERT_TRUE(testsupport::waitFor([&] { return ui.countBoxes("Recording Stopped") == 1; }, 3000, [&] { tick(); }));
  EXPECT_TRUE(stateIs("recording_stopped")) << broker.retained()[base + "/state"];
  EXPECT_NE(broker.retained()[base + "/status"].find("/dev/full"), std::string::npos) << broker.retained()[base + "/status"];
  ui.files = {dir.file("cast.raw")};
  form->click("BTRecordRaw");
  EXPECT_TRUE(stateIs("online")) << broker.retained()[base + "/state"];
}

// The meter on a name that a replug points anew, as /dev/serial/by-id does.
class ReplugFeed : public RestoredFeed {
 protected:
  void configure(app::MainFormOptions& options) override {
    RestoredFeed::configure(options);
    std::filesystem::create_symlink(peer.slavePath(), dir.file("meter"));
    options.ports.bind(1, dir.file("meter"));
    options.listAdapters = [] { return std::vector<meterlink::SerialAdapter>{}; };
  }
};

// During a recording with --mqtt the cable is pulled and the meter plugged in again: the
// window sends "$run" as it reopens the port, and the meter's first line, sent the moment
// "$run" arrives, reaches the raw file, the CSV and the feed.
TEST_F(ReplugFeed, TheFirstLineAfterAReplugReachesEveryOutput) {
  ASSERT_TRUE(broker.process.waitForStarted(5000));
  tick();
  loadExample("ntu.dev");
  choosePort(1);
  testsupport::editState(*form).SetupRequestTicks = 0;
  ui.files = {dir.file("cast.raw"), dir.file("cast.csv")};
  form->click("BTRecordRaw");
  form->click("BTRecordCsv");
  form->click("BTStartData");
  EXPECT_EQ(peer.receive(), "$run\r\n");
  peer.send("1103\t4094\t560\r\n");
  tick();

  // Every data message from here on; the first line's may come too (it waits in the
  // feed's queue until the broker took it).
  QProcess sub;
  sub.start("mosquitto_sub", {"-p", QString::number(broker.port), "-t", "maru/ship/NTU-0302/data", "-q", "1"});
  ASSERT_TRUE(sub.waitForStarted(5000));
  testsupport::pumpEvents(1000);  // the subscriber connects
  peer.hangUp();
  ASSERT_TRUE(testsupport::waitFor([&] { return form->shared().OpenPortNumber == 0; }, 3000, [&] { tick(); }));
  testsupport::PtyPeer replugged;
  std::filesystem::remove(dir.file("meter"));
  std::filesystem::create_symlink(replugged.slavePath(), dir.file("meter"));
  std::string heard;
  ASSERT_TRUE(testsupport::waitFor([&] { return heard.find("$run\r\n") != std::string::npos; }, 5000, [&] {
    form->Timer1SecondTimer();
    tick();
    heard += replugged.receive(30, 10);
  })) << heard;
  replugged.send("1207\t4090\t561\r\n");
  std::string messages;
  EXPECT_TRUE(testsupport::waitFor([&] { return messages.find("1207\\t4090\\t561") != std::string::npos; }, 15000, [&] {
    tick();
    messages += sub.readAllStandardOutput().toStdString();
  })) << messages;
  sub.kill();
  sub.waitForFinished(2000);
  form->click("BTStopRecord");
  EXPECT_EQ(testsupport::readFile(dir.file("cast.raw")), "1103\t4094\t560\r\n1207\t4090\t561\r\n");
  const auto rows = testsupport::splitLines(testsupport::readFile(dir.file("cast.csv")));
  EXPECT_EQ(rows.size(), 3u);  // the header and both samples
}

}  // namespace
