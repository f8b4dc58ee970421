// maru log's data messages through outages: a broker frozen, a broker stopped while the
// logger is killed and started again, and a bridge whose shore side goes away. In each,
// every line of the day's .raw reaches a QoS 1 subscriber at least once, in seq order.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "log/logharness.h"
#include "support/testfiles.h"

using namespace logtest;
using testsupport::TempDir;

namespace {

const std::string kData = "maru/" + QSysInfo::machineHostName().toStdString() + "/FLCD-1123/data";

QStringList logArgs(const std::string& port, const std::string& out, int broker) {
  return {"log", "--port", q(port), "--dev", q(example("flcd.dev")), "--out", q(out), "--mqtt",
          q("127.0.0.1:" + std::to_string(broker))};
}

// The logger's UTC clock on the day the files are named after.
QProcessEnvironment onTheDay() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("MARU_LOG_CLOCK_START", "2026-12-08T10:00:00.000Z");
  return env;
}

// A broker that keeps sessions and queued messages across a restart.
std::string persistent(const std::string& folder) {
  return "persistence true\npersistence_location " + folder + "/\nmax_queued_messages 0\n";
}

// A subscriber whose QoS 1 session outlives its connection.
const QStringList kLasting{"-q", "1", "-c", "-i", "maru-queue-test"};

struct Seen {
  long long seq = 0;
  std::string raw;
};

std::vector<Seen> seen(Subscriber& subscriber) {
  std::vector<Seen> all;
  for (const MqttMessage& m : subscriber.on(kData)) {
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object();
    all.push_back({o["seq"].toInteger(), o["raw"].toString().toStdString()});
  }
  return all;
}

bool allCame(Subscriber& subscriber, size_t lines) {
  const std::vector<Seen> all = seen(subscriber);
  long long highest = 0;
  for (const Seen& s : all) highest = std::max(highest, s.seq);
  return highest >= static_cast<long long>(lines);
}

// Each line of `raw` came at least once; the first time a seq comes it is the one after
// the last new one (so the lines come in order, without a gap), and a seq that comes
// again carries the same line.
void expectEveryLineInSeqOrder(Subscriber& subscriber, const std::vector<std::string>& raw) {
  ASSERT_FALSE(raw.empty());
  ASSERT_TRUE(waitUntil([&] { return allCame(subscriber, raw.size()); }, 30000)) << seen(subscriber).size();
  std::map<long long, std::string> first;
  long long next = 1;
  int again = 0;
  for (const Seen& s : seen(subscriber)) {
    if (s.seq < next) {
      EXPECT_EQ(first[s.seq], s.raw) << s.seq;
      ++again;
      continue;
    }
    ASSERT_EQ(s.seq, next) << "a line missing or out of order";
    first[s.seq] = s.raw;
    ++next;
  }
  ASSERT_GE(next - 1, static_cast<long long>(raw.size()));
  for (size_t i = 0; i < raw.size(); ++i) EXPECT_EQ(first[static_cast<long long>(i) + 1], raw[i]) << i;
  ::testing::Test::RecordProperty("again", again);
}

TEST(LogMqttQueue, AFrozenBrokerIsToldStalledAndLosesNothing) {
  TempDir dir;
  Broker broker(BrokerSecurity{}, dir.path());
  ASSERT_TRUE(broker.up()) << broker.log();
  Subscriber subscriber(broker, kData, kLasting);
  const std::string link = dir.file("meter"), out = dir.file("out"), raw = out + "/20261208.raw";
  auto logger = startMaru(logArgs(link, out, broker.port()), onTheDay());
  auto meter = startMaru(meterArgs(91, 20) + QStringList{"--link", q(link)});
  ASSERT_TRUE(waitUntil([&] { return allCame(subscriber, 10); }, 15000)) << logger->err();
  ::kill(static_cast<pid_t>(broker.pid()), SIGSTOP);
  EXPECT_TRUE(logger->waitForErr("(stalled: no acknowledgement within", 15000)) << logger->err();
  ::kill(static_cast<pid_t>(broker.pid()), SIGCONT);
  ASSERT_TRUE(logger->waitForErr("MQTT: connected again", 30000)) << logger->err();
  meter->signal(SIGTERM);
  ASSERT_TRUE(meter->waitFinished());
  expectEveryLineInSeqOrder(subscriber, fileLines(raw));
  EXPECT_EQ(logger->err().find("Unknown error"), std::string::npos) << logger->err();
}

// Killed while the broker is away, the logger finds its queue again at the restart and
// sends it, and the sequence numbers go on from where they were.
TEST(LogMqttQueue, ALoggerKilledDuringAnOutageSendsItsBacklogOnceBothAreBack) {
  TempDir dir;
  Broker broker(BrokerSecurity{}, dir.path(), persistent(dir.path()));
  ASSERT_TRUE(broker.up()) << broker.log();
  Subscriber subscriber(broker, kData, kLasting);
  const std::string link = dir.file("meter"), out = dir.file("out"), raw = out + "/20261208.raw";
  auto meter = startMaru(meterArgs(92, 20) + QStringList{"--link", q(link)});
  auto logger = startMaru(logArgs(link, out, broker.port()), onTheDay());
  ASSERT_TRUE(waitUntil([&] { return allCame(subscriber, 10); }, 15000)) << logger->err();
  broker.stop();
  ASSERT_TRUE(logger->waitForErr("MQTT: lost the broker", 10000)) << logger->err();
  const size_t before = fileLines(raw).size();
  ASSERT_TRUE(waitUntil([&] { return fileLines(raw).size() >= before + 20; }, 10000));
  logger->signal(SIGKILL);
  ASSERT_TRUE(logger->waitFinished());
  logger = startMaru(logArgs(link, out, broker.port()), onTheDay());
  ASSERT_TRUE(logger->waitForErr("from before go out first", 10000)) << logger->err();
  ASSERT_TRUE(waitUntil([&] { return fileLines(raw).size() >= before + 40; }, 10000));
  ASSERT_TRUE(broker.restart()) << broker.log();
  ASSERT_TRUE(logger->waitForErr("MQTT: connected to", 10000)) << logger->err();
  meter->signal(SIGTERM);
  ASSERT_TRUE(meter->waitFinished());
  expectEveryLineInSeqOrder(subscriber, fileLines(raw));
}

// A fleet's layout: the logger publishes to a broker on the platform, which bridges to
// the shore; the shore broker is stopped and started again meanwhile.
TEST(LogMqttQueue, ThroughABridgeWhoseShoreSideWasDown) {
  TempDir dir;
  const std::string shoreDir = dir.file("shore"), edgeDir = dir.file("edge");
  std::filesystem::create_directories(shoreDir);
  std::filesystem::create_directories(edgeDir);
  Broker shore(BrokerSecurity{}, shoreDir, persistent(shoreDir));
  ASSERT_TRUE(shore.up()) << shore.log();
  Subscriber subscriber(shore, kData, kLasting);
  // As docs/FLEETS.md has it, on localhost.
  Broker edge(BrokerSecurity{}, edgeDir,
              persistent(edgeDir) + "connection shore\naddress 127.0.0.1:" + std::to_string(shore.port()) +
                  "\ntopic maru/# out 1\ncleansession false\nlocal_clientid edge-test\nremote_clientid edge-test\n"
                  "restart_timeout 1 2\nkeepalive_interval 5\n");
  ASSERT_TRUE(edge.up()) << edge.log();
  const std::string link = dir.file("meter"), out = dir.file("out"), raw = out + "/20261208.raw";
  auto meter = startMaru(meterArgs(93, 20) + QStringList{"--link", q(link)});
  auto logger = startMaru(logArgs(link, out, edge.port()), onTheDay());
  ASSERT_TRUE(waitUntil([&] { return allCame(subscriber, 10); }, 15000)) << logger->err() << edge.log();
  shore.stop();
  const size_t before = fileLines(raw).size();
  ASSERT_TRUE(waitUntil([&] { return fileLines(raw).size() >= before + 60; }, 10000));
  ASSERT_TRUE(shore.restart()) << shore.log();
  meter->signal(SIGTERM);
  ASSERT_TRUE(meter->waitFinished());
  expectEveryLineInSeqOrder(subscriber, fileLines(raw));
  EXPECT_EQ(logger->err().find("lost the broker"), std::string::npos) << logger->err();
}

}  // namespace
