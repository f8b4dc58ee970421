// maru log's live feeds against real receivers: a mosquitto broker started here (state,
// retained metadata, one data message per line, a broker restart, the Last Will) and a UDP
// socket on localhost.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "log/logharness.h"
#include "support/testfiles.h"

using namespace logtest;
using testsupport::TempDir;

namespace {

const std::string kTitle = "MARU FLCD Chlorophyll and CDOM Fluorometer  S/N FLCD-1123";
const std::string kId = "MARU_FLCD_Chlorophyll_and_CDOM_Fluorometer_S_N_FLCD-1123";
const std::vector<std::string> kColumns = {"chl_ug_per_l", "cdom_ppb", "itemp_degc", "xtemp_degc", "pres_dbar"};

QProcessEnvironment clockAt(const std::string& utc) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("MARU_LOG_CLOCK_START", q(utc));
  return env;
}

QStringList logArgs(const std::string& port, const std::string& out, const QStringList& extra) {
  return QStringList{"log", "--port", q(port), "--dev", q(example("flcd.dev")), "--out", q(out)} + extra;
}

QStringList pluggedMeter(int seed, int lines, const std::string& link) {
  return meterArgs(seed, 5) +
         QStringList{"--link", q(link), "--hangup-after", QString::number((lines + 0.5) / 5, 'f', 3)};
}

QJsonObject json(const std::string& text) {
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
  return doc.object();
}

// The data messages against the files: one per line, in order, counted from `firstCount`,
// with the CSV row's time and values and the raw line.
void expectDataMatchesFiles(const std::vector<MqttMessage>& data, const std::vector<std::string>& raw,
                            const std::vector<std::string>& csvRows, int firstCount) {
  ASSERT_EQ(data.size(), raw.size());
  ASSERT_EQ(csvRows.size(), raw.size());
  for (size_t i = 0; i < data.size(); ++i) {
    SCOPED_TRACE(data[i].payload);
    EXPECT_FALSE(data[i].retained);
    const QJsonObject message = json(data[i].payload);
    const std::vector<std::string> row = split(csvRows[i], ',');
    EXPECT_EQ(message["time_utc"].toString().toStdString(), row[0]);
    EXPECT_EQ(message["meter_time_utc"].toString().toStdString(), row[1]);
    EXPECT_EQ(message["count"].toInteger(), firstCount + static_cast<int>(i));
    EXPECT_EQ(message["raw"].toString().toStdString(), raw[i]);
    const QJsonObject values = message["values"].toObject();
    ASSERT_EQ(values.size(), static_cast<int>(kColumns.size()));
    for (size_t c = 0; c < kColumns.size(); ++c) {
      ASSERT_TRUE(values[q(kColumns[c])].isDouble()) << kColumns[c];
      EXPECT_EQ(values[q(kColumns[c])].toDouble(), std::stod(row[c + 3])) << kColumns[c];
    }
  }
}

void expectStateWithMetadata(Subscriber& subscriber, const std::string& prefix, const std::string& word) {
  ASSERT_TRUE(subscriber.waitFor(prefix + "/metadata", 1, 15000));
  ASSERT_TRUE(subscriber.waitFor(prefix + "/state", 1, 5000));
  const MqttMessage state = subscriber.on(prefix + "/state").back();
  EXPECT_TRUE(state.retained);
  EXPECT_EQ(state.payload, word);
  const MqttMessage metadata = subscriber.on(prefix + "/metadata").back();
  EXPECT_TRUE(metadata.retained);
  const QJsonObject m = json(metadata.payload);
  EXPECT_EQ(m["title"].toString().toStdString(), kTitle);
  EXPECT_FALSE(m["version"].toString().isEmpty());
  const QJsonArray columns = m["columns"].toArray();
  ASSERT_EQ(columns.size(), static_cast<int>(kColumns.size()));
  const std::vector<std::string> units = {"ug/l", "ppb", "C", "C", "dbar"};
  for (size_t c = 0; c < kColumns.size(); ++c) {
    EXPECT_EQ(columns[static_cast<int>(c)]["name"].toString().toStdString(), kColumns[c]);
    EXPECT_EQ(columns[static_cast<int>(c)]["units"].toString().toStdString(), units[c]);
  }
}

std::vector<std::string> csvRows(const std::string& path) {
  std::vector<std::string> rows = fileLines(path);
  if (!rows.empty()) rows.erase(rows.begin());
  return rows;
}

// The last state word published on `prefix`, once it is `word` (within `ms`).
bool stateBecomes(Subscriber& subscriber, const std::string& prefix, const std::string& word, int ms = 5000) {
  return waitUntil(
      [&] {
        const std::vector<MqttMessage> states = subscriber.on(prefix + "/state");
        return !states.empty() && states.back().payload == word;
      },
      ms);
}

TEST(LogMqtt, StateMetadataOneMessagePerLineAndABrokerRestart) {
  Broker broker;
  ASSERT_TRUE(broker.up());
  TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out"), base = out + "/20261208";
  const std::string prefix = "maru/" + kId;  // the default prefix
  auto logger = startMaru(logArgs(link, out, {"--mqtt", q("127.0.0.1:" + std::to_string(broker.port()))}),
                          clockAt("2026-12-08T10:00:00.000Z"));
  ASSERT_TRUE(logger->waitForErr("MQTT: connected", 10000)) << logger->err();
  size_t firstMeterLines = 0;
  {
    // Subscribed once the retained messages came; every data message comes after that.
    Subscriber subscriber(broker, prefix + "/#");
    expectStateWithMetadata(subscriber, prefix, "port_lost");  // no meter yet
    auto meter = startMaru(pluggedMeter(81, 10, link));
    EXPECT_TRUE(stateBecomes(subscriber, prefix, "online"));
    ASSERT_TRUE(meter->waitFinished(15000));
    ASSERT_TRUE(logger->waitForErr("Port Lost", 5000)) << logger->err();
    EXPECT_TRUE(stateBecomes(subscriber, prefix, "port_lost"));
    firstMeterLines = fileLines(base + ".raw").size();
    ASSERT_GT(firstMeterLines, 0u);
    ASSERT_TRUE(subscriber.waitFor(prefix + "/data", firstMeterLines, 5000));
    expectDataMatchesFiles(subscriber.on(prefix + "/data"), fileLines(base + ".raw"), csvRows(base + ".csv"), 1);
  }

  // The broker goes away while a meter sends, and comes back without its retained
  // messages: the files go on, the messages that could not go out are counted and told,
  // and the logger is back within a second or two.
  broker.stop();
  ASSERT_TRUE(logger->waitForErr("MQTT: lost the broker", 10000)) << logger->err();
  auto meter = startMaru(pluggedMeter(82, 25, link));
  ASSERT_TRUE(waitUntil([&] { return fileLines(base + ".raw").size() >= firstMeterLines + 3; }, 10000));
  ASSERT_TRUE(broker.restart());
  ASSERT_TRUE(logger->waitForErr("MQTT: connected again", 2500)) << logger->err();
  Subscriber subscriber(broker, prefix + "/#");
  expectStateWithMetadata(subscriber, prefix, "online");
  ASSERT_TRUE(subscriber.waitFor(prefix + "/status", 1, 5000));
  const QJsonObject status = json(subscriber.on(prefix + "/status").back().payload);
  const long long dropped = status["dropped"].toInteger();
  EXPECT_GE(dropped, 3);
  EXPECT_NE(logger->err().find("; " + std::to_string(dropped) + " data messages were dropped while it was away"),
            std::string::npos)
      << logger->err();
  ASSERT_TRUE(meter->waitFinished(15000));
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000, 2)) << logger->err();
  // What was sent after the return is the files' last lines, counted on from the rest.
  const std::vector<std::string> raw = fileLines(base + ".raw"), rows = csvRows(base + ".csv");
  ASSERT_TRUE(subscriber.waitFor(prefix + "/data", 1, 5000));
  const std::vector<MqttMessage> data = subscriber.on(prefix + "/data");
  ASSERT_LE(data.size(), raw.size());
  const size_t first = raw.size() - data.size();
  expectDataMatchesFiles(data, std::vector<std::string>(raw.begin() + first, raw.end()),
                         std::vector<std::string>(rows.begin() + first, rows.end()), static_cast<int>(first) + 1);

  // A clean end says "offline" and leaves it retained.
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0);
  Subscriber after(broker, prefix + "/state");
  ASSERT_TRUE(after.waitFor(prefix + "/state", 1, 5000));
  EXPECT_TRUE(after.on(prefix + "/state")[0].retained);
  EXPECT_EQ(after.on(prefix + "/state")[0].payload, "offline");
}

TEST(LogMqtt, TheLastWillSaysOfflineWhenTheLoggerDies) {
  Broker broker;
  ASSERT_TRUE(broker.up());
  TempDir dir;
  auto logger = startMaru(logArgs(dir.file("no-meter"), dir.file("out"),
                                  {"--mqtt", q("127.0.0.1:" + std::to_string(broker.port())), "--topic", "site/a"}));
  ASSERT_TRUE(logger->waitForErr("MQTT: connected", 10000)) << logger->err();
  {
    Subscriber online(broker, "site/a/state");
    ASSERT_TRUE(online.waitFor("site/a/state", 1, 5000));
    EXPECT_EQ(online.on("site/a/state")[0].payload, "port_lost");  // its meter is not there
  }
  logger->signal(SIGKILL);
  ASSERT_TRUE(logger->waitFinished());
  Subscriber after(broker, "site/a/state");
  EXPECT_TRUE(waitUntil(
      [&] {
        const auto states = after.on("site/a/state");
        return !states.empty() && states.back().payload == "offline";
      },
      10000));
}

TEST(LogMqtt, AnUnreachableBrokerDoesNotStopTheFiles) {
  TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out");
  auto logger = startMaru(logArgs(link, out, {"--mqtt", q("127.0.0.1:" + std::to_string(freePort()))}),
                          clockAt("2026-12-08T10:00:00.000Z"));
  auto meter = startMaru(pluggedMeter(83, 15, link));
  ASSERT_TRUE(meter->waitFinished(15000));
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000)) << logger->err();
  EXPECT_FALSE(fileLines(out + "/20261208.raw").empty());
  EXPECT_EQ(countOf(logger->err(), "MQTT: cannot reach the broker"), 1) << logger->err();
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished(5000));
  EXPECT_EQ(logger->exitCode(), 0);
}

// The window publishes with the same contract: its demo meter's lines reach the broker as
// data messages whose values are the device file's columns, with retained state and
// metadata saying which program sent them.
TEST(WindowMqtt, TheDemoPublishesEveryLineAsMaruLogDoes) {
  Broker broker;
  ASSERT_TRUE(broker.up());
  Subscriber subscriber(broker, "ship/window/#");
  TempDir dir;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("HOME", q(dir.path()));
  Child window(MARU_VIEW,
               {"--demo", "--mqtt", q("127.0.0.1:" + std::to_string(broker.port())), "--topic", "ship/window"}, env);
  ASSERT_TRUE(window.started());
  ASSERT_TRUE(subscriber.waitFor("ship/window/data", 3, 20000)) << window.err();
  EXPECT_TRUE(waitUntil(
      [&] {
        const auto m = subscriber.on("ship/window/metadata");
        return !m.empty() && json(m.back().payload)["columns"].toArray().size() > 0;
      },
      5000));
  const QJsonObject metadata = json(subscriber.on("ship/window/metadata").back().payload);
  EXPECT_EQ(metadata["program"].toString(), "maruview");
  std::set<QString> names;
  for (const auto& column : metadata["columns"].toArray()) names.insert(column.toObject()["name"].toString());
  EXPECT_EQ(subscriber.on("ship/window/state").back().payload, "online");
  for (const MqttMessage& message : subscriber.on("ship/window/data")) {
    const QJsonObject data = json(message.payload);
    EXPECT_FALSE(message.retained);
    EXPECT_FALSE(data["raw"].toString().isEmpty());
    EXPECT_TRUE(data["time_utc"].toString().endsWith('Z'));
    const QJsonObject values = data["values"].toObject();
    EXPECT_EQ(values.size(), static_cast<int>(names.size())) << message.payload;
    for (const QString& name : values.keys()) EXPECT_TRUE(names.count(name)) << name.toStdString();
  }
}

TEST(LogUdp, OneDatagramPerLine) {
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int port = ntohs(address.sin_port);

  TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out"), base = out + "/20261208";
  auto logger = startMaru(logArgs(link, out, {"--udp", q("127.0.0.1:" + std::to_string(port))}),
                          clockAt("2026-12-08T10:00:00.000Z"));
  auto meter = startMaru(pluggedMeter(91, 10, link));
  ASSERT_TRUE(meter->waitFinished(15000));
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000)) << logger->err();
  std::vector<std::string> datagrams;
  for (;;) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 500) <= 0) break;
    char buffer[2048];
    const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
    if (n < 0) break;
    datagrams.emplace_back(buffer, static_cast<size_t>(n));
  }
  ::close(s);
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());

  const std::vector<std::string> raw = fileLines(base + ".raw"), rows = csvRows(base + ".csv");
  ASSERT_FALSE(raw.empty());
  ASSERT_EQ(datagrams.size(), raw.size());
  for (size_t i = 0; i < raw.size(); ++i)
    EXPECT_EQ(datagrams[i], kId + " " + split(rows[i], ',')[0] + " " + raw[i]);
}

}  // namespace
