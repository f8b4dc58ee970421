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
}

}  // namespace
