// maru log's live feeds against real receivers: a mosquitto broker started here (state,
// retained metadata, one data message per line, a broker restart, the Last Will, two
// platforms, a login over TLS and the ways it is refused) and a UDP socket on localhost.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "log/logharness.h"
#include "support/testfiles.h"

using namespace logtest;
using testsupport::TempDir;

namespace {

const std::string kTitle = "MARU FLCD Chlorophyll and CDOM Fluorometer  S/N FLCD-1123";
const std::string kSerial = "FLCD-1123";
const std::string kId = "MARU_FLCD_Chlorophyll_and_CDOM_Fluorometer_S_N_FLCD-1123";  // of the UDP datagrams
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

// The topics of the FLCD on `platform` under the default prefix.
std::string flcdTopics(const std::string& platform) { return "maru/" + platform + "/" + kSerial; }

// The data messages against the files: one per line, in order, counted from `firstCount`,
// from the FLCD on `platform`, with the CSV row's times and the raw line. The values are
// the meter's as computed: each within the CSV's rounding of it, and some with digits the
// CSV rounded away.
void expectDataMatchesFiles(const std::vector<MqttMessage>& data, const std::vector<std::string>& raw,
                            const std::vector<std::string>& csvRows, int firstCount,
                            const std::string& platform = QSysInfo::machineHostName().toStdString()) {
  ASSERT_EQ(data.size(), raw.size());
  ASSERT_EQ(csvRows.size(), raw.size());
  int finer = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    SCOPED_TRACE(data[i].payload);
    EXPECT_FALSE(data[i].retained);
    const QJsonObject message = json(data[i].payload);
    const std::vector<std::string> row = split(csvRows[i], ',');
    EXPECT_EQ(message["platform"].toString().toStdString(), platform);
    EXPECT_EQ(message["meter_id"].toString().toStdString(), kSerial);
    EXPECT_EQ(message["host_time_utc"].toString().toStdString(), row[0]);
    EXPECT_EQ(message["meter_time_utc"].toString().toStdString(), row[1]);
    EXPECT_EQ(message["count"].toInteger(), firstCount + static_cast<int>(i));
    EXPECT_EQ(message["seq"].toInteger(), message["count"].toInteger());  // a queue of its own
    EXPECT_EQ(message["raw"].toString().toStdString(), raw[i]);
    const QJsonObject values = message["values"].toObject();
    ASSERT_EQ(values.size(), static_cast<int>(kColumns.size()));
    for (size_t c = 0; c < kColumns.size(); ++c) {
      ASSERT_TRUE(values[q(kColumns[c])].isDouble()) << kColumns[c];
      const std::string& text = row[c + 3];
      const size_t point = text.find('.');
      const int decimals = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
      const double value = values[q(kColumns[c])].toDouble(), rounded = std::stod(text);
      EXPECT_LE(std::fabs(value - rounded), 0.5000001 * std::pow(10.0, -decimals)) << kColumns[c] << " " << text;
      if (value != rounded) ++finer;
    }
  }
  EXPECT_GT(finer, 0) << "every value is the CSV's rounded one";
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
  EXPECT_EQ(prefix, flcdTopics(m["platform"].toString().toStdString()));
  EXPECT_EQ(m["meter_id"].toString().toStdString(), kSerial);
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
  // The default topics: the host's name and the device file's serial number.
  const std::string prefix = flcdTopics(QSysInfo::machineHostName().toStdString());
  auto logger = startMaru(logArgs(link, out, {"--mqtt", q("127.0.0.1:" + std::to_string(broker.port()))}),
                          clockAt("2026-12-08T10:00:00.000Z"));
  ASSERT_TRUE(logger->waitForErr("MQTT: connected", 10000)) << logger->err();
  size_t firstMeterLines = 0;
  {
    // Subscribed once the retained messages came; every data message comes after that.
    Subscriber subscriber(broker, prefix + "/#");
    expectStateWithMetadata(subscriber, prefix, "starting");  // no meter yet
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
  // messages: the files go on, the messages that could not go out are kept and told,
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
  EXPECT_EQ(status["dropped"].toInteger(), 0);
  EXPECT_NE(logger->err().find(" data messages kept meanwhile"), std::string::npos) << logger->err();
  ASSERT_TRUE(meter->waitFinished(15000));
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000, 2)) << logger->err();
  // What was sent after the return is the files' last lines, counted on from the rest.
  const std::vector<std::string> raw = fileLines(base + ".raw"), rows = csvRows(base + ".csv");
  // Up to the last line's message, which may still be on its way when the files have it.
  ASSERT_TRUE(waitUntil(
      [&] {
        long long last = 0;
        for (const MqttMessage& message : subscriber.on(prefix + "/data"))
          last = std::max(last, json(message.payload)["seq"].toInteger());
        return last >= static_cast<long long>(raw.size());
      },
      5000));
  // Those the broker had not acknowledged when it went may come twice, with the same seq.
  std::vector<MqttMessage> data;
  long long lastSeq = 0;
  for (const MqttMessage& message : subscriber.on(prefix + "/data"))
    if (const long long seq = json(message.payload)["seq"].toInteger(); seq > lastSeq) {
      data.push_back(message);
      lastSeq = seq;
    }
  ASSERT_LE(data.size(), raw.size());
  const size_t first = raw.size() - data.size();
  expectDataMatchesFiles(data, std::vector<std::string>(raw.begin() + first, raw.end()),
                         std::vector<std::string>(rows.begin() + first, rows.end()), static_cast<int>(first) + 1);

  // A clean end says "offline", in the state and the status, and leaves both retained.
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0);
  Subscriber after(broker, prefix + "/#");
  ASSERT_TRUE(after.waitFor(prefix + "/state", 1, 5000));
  ASSERT_TRUE(after.waitFor(prefix + "/status", 1, 5000));
  EXPECT_TRUE(after.on(prefix + "/state")[0].retained);
  EXPECT_EQ(after.on(prefix + "/state")[0].payload, "offline");
  EXPECT_TRUE(after.on(prefix + "/status")[0].retained);
  EXPECT_EQ(json(after.on(prefix + "/status")[0].payload)["state"].toString(), "offline");
}

// A broker on IPv4 only, named "localhost": found whatever address the name gives first.
// Frozen (SIGSTOP) while a meter sends, it holds up neither the files nor the end.
TEST(LogMqtt, AFrozenBrokerHoldsUpNeitherTheFilesNorTheEnd) {
  TempDir dir;
  Broker broker(BrokerSecurity{}, dir.path());  // listens on 127.0.0.1 alone
  ASSERT_TRUE(broker.up()) << broker.log();
  const std::string link = dir.file("meter"), out = dir.file("out"), raw = out + "/20261208.raw";
  const std::string address = "localhost:" + std::to_string(broker.port());
  const std::string prefix = flcdTopics(QSysInfo::machineHostName().toStdString());
  auto logger = startMaru(logArgs(link, out, {"--mqtt", q(address)}), clockAt("2026-12-08T10:00:00.000Z"));
  ASSERT_TRUE(logger->waitForErr("MQTT: connected to " + address, 10000)) << logger->err();
  Subscriber subscriber(broker, prefix + "/state");
  ASSERT_TRUE(stateBecomes(subscriber, prefix, "starting"));  // the port was never open
  auto meter = startMaru(meterArgs(85, 10) + QStringList{"--link", q(link)});
  ASSERT_TRUE(stateBecomes(subscriber, prefix, "online"));
  ::kill(static_cast<pid_t>(broker.pid()), SIGSTOP);
  const size_t frozenAt = fileLines(raw).size();
  EXPECT_TRUE(waitUntil([&] { return fileLines(raw).size() >= frozenAt + 20; }, 10000));
  logger->signal(SIGTERM);
  const bool ended = logger->waitFinished(15000);  // well before, but it must not hang
  ::kill(static_cast<pid_t>(broker.pid()), SIGCONT);
  ASSERT_TRUE(ended) << logger->err();
  EXPECT_EQ(logger->exitCode(), 0);
}

// The password file is read at each connection: while it cannot be read the files go on,
// and once it is there the feed logs in.
TEST(LogMqtt, AnUnreadablePasswordFileHoldsUpOnlyTheFeed) {
  TempDir dir;
  BrokerSecurity login;
  login.user = "maru";
  login.password = "s3cret pass";
  Broker broker(login, dir.path());
  ASSERT_TRUE(broker.up()) << broker.log();
  const std::string link = dir.file("meter"), out = dir.file("out"), raw = out + "/20261208.raw";
  const std::string password = dir.file("password");
  auto logger = startMaru(logArgs(link, out,
                                  {"--mqtt", q("127.0.0.1:" + std::to_string(broker.port())), "--mqtt-user", "maru",
                                   "--mqtt-password-file", q(password)}),
                          clockAt("2026-12-08T10:00:00.000Z"));
  auto meter = startMaru(meterArgs(86, 10) + QStringList{"--link", q(link)});
  ASSERT_TRUE(logger->waitForErr("MQTT: cannot read the password file '" + password + "': No such file", 10000))
      << logger->err();
  EXPECT_TRUE(waitUntil([&] { return fileLines(raw).size() >= 20; }, 10000));
  testsupport::writeFile(password, "s3cret pass\n");
  ASSERT_TRUE(logger->waitForErr("MQTT: connected to", 10000)) << logger->err();
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0);
}

// A fleet: two meters whose device files are copies of one file, on two platforms. Each
// logger publishes under its own platform, and the Last Will of the one that dies says
// "offline" for it alone.
TEST(LogMqtt, TwoPlatformsWithCopiesOfOneDeviceFileKeepApart) {
  Broker broker;
  ASSERT_TRUE(broker.up());
  TempDir dir;
  const std::string broker127 = "127.0.0.1:" + std::to_string(broker.port());
  Subscriber subscriber(broker, "maru/#");
  struct Site {
    std::string name, dev, link, out;
    std::unique_ptr<Child> logger, meter;
  } sites[2];
  sites[0].name = "north";
  sites[1].name = "south";
  int seed = 101;
  for (Site& site : sites) {
    site.dev = dir.file(site.name + ".dev");
    testsupport::writeFile(site.dev, testsupport::readFile(example("flcd.dev")));
    site.link = dir.file(site.name + "-meter");
    site.out = dir.file(site.name);
    site.logger = startMaru({"log", "--port", q(site.link), "--dev", q(site.dev), "--out", q(site.out), "--mqtt",
                             q(broker127), "--platform", q(site.name)},
                            clockAt("2026-12-08T10:00:00.000Z"));
    ASSERT_TRUE(site.logger->waitForErr("MQTT: connected", 10000)) << site.logger->err();
    site.meter = startMaru(pluggedMeter(seed++, 6, site.link));
  }
  for (Site& site : sites) {
    SCOPED_TRACE(site.name);
    ASSERT_TRUE(site.meter->waitFinished(15000));
    ASSERT_TRUE(site.logger->waitForErr("Port Lost", 5000)) << site.logger->err();
    const std::string base = site.out + "/20261208";
    const std::vector<std::string> raw = fileLines(base + ".raw");
    ASSERT_TRUE(subscriber.waitFor(flcdTopics(site.name) + "/data", raw.size(), 5000));
    expectDataMatchesFiles(subscriber.on(flcdTopics(site.name) + "/data"), raw, csvRows(base + ".csv"), 1, site.name);
    EXPECT_EQ(json(subscriber.on(flcdTopics(site.name) + "/metadata").back().payload)["platform"].toString().toStdString(),
              site.name);
  }
  EXPECT_NE(fileLines(sites[0].out + "/20261208.raw"), fileLines(sites[1].out + "/20261208.raw"));
  for (const MqttMessage& m : subscriber.messages())
    EXPECT_TRUE(m.topic.starts_with(flcdTopics("north") + "/") || m.topic.starts_with(flcdTopics("south") + "/"))
        << m.topic;

  sites[0].logger->signal(SIGKILL);
  ASSERT_TRUE(sites[0].logger->waitFinished());
  EXPECT_TRUE(stateBecomes(subscriber, flcdTopics("north"), "offline", 10000));
  EXPECT_EQ(subscriber.on(flcdTopics("south") + "/state").back().payload, "port_lost");
}

// Certificates made here with openssl: a CA, the broker's certificate for 127.0.0.1 (and
// one that expired yesterday) and a client certificate, all signed by it, and another CA
// that signed nothing of this.
struct Pki {
  explicit Pki(const TempDir& dir) : at(dir.path() + "/") {
    QProcess openssl;
    openssl.setWorkingDirectory(q(dir.path()));
    openssl.start("bash", {"-ec", "new='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes'\n"
                                  "openssl req -x509 $new -keyout ca.key -out ca.crt -days 2 -subj /CN=test-ca\n"
                                  "openssl req -x509 $new -keyout other.key -out other.crt -days 2 -subj /CN=other\n"
                                  "echo subjectAltName=IP:127.0.0.1 >broker.ext\n"
                                  "for who in broker client; do\n"
                                  "  openssl req $new -keyout $who.key -out $who.csr -subj /CN=$who\n"
                                  "  openssl x509 -req -in $who.csr -CA ca.crt -CAkey ca.key -CAcreateserial \\\n"
                                  "    -out $who.crt -days 2 $([ $who = client ] || echo -extfile broker.ext)\n"
                                  "done\n"
                                  "openssl x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial \\\n"
                                  "  -out expired.crt -days -1 -extfile broker.ext\n"});
    made = openssl.waitForFinished(60000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
  }
  std::string file(const std::string& name) const { return at + name; }
  std::string at;
  bool made = false;
};

BrokerSecurity loginOverTls(const Pki& pki) {
  return {"maru",           "s3cret pass",           pki.file("ca.crt"),    pki.file("broker.crt"),
          pki.file("broker.key"), pki.file("client.crt"), pki.file("client.key")};
}

// A broker that wants a login, TLS and a client certificate: the logger's lines reach it,
// and a subscriber with the same rights reads them on the platform's and meter's topics.
TEST(LogMqtt, PublishesOverTlsWithALoginFromAPasswordFile) {
  TempDir dir;
  const Pki pki(dir);
  ASSERT_TRUE(pki.made) << "openssl could not make the certificates";
  Broker broker(loginOverTls(pki), dir.path());
  ASSERT_TRUE(broker.up()) << broker.log();
  const std::string password = dir.file("password"), link = dir.file("meter"), out = dir.file("out");
  testsupport::writeFile(password, "s3cret pass\nnot this line\n");
  std::filesystem::permissions(password, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);
  Subscriber subscriber(broker, "maru/#");
  auto logger = startMaru(logArgs(link, out,
                                  {"--mqtt", q("127.0.0.1:" + std::to_string(broker.port())), "--platform", "ship",
                                   "--mqtt-user", "maru", "--mqtt-password-file", q(password), "--mqtt-cafile",
                                   q(pki.file("ca.crt")), "--mqtt-cert", q(pki.file("client.crt")), "--mqtt-key", q(pki.file("client.key"))}),
                          clockAt("2026-12-08T10:00:00.000Z"));
  ASSERT_TRUE(logger->waitForErr("MQTT: connected to 127.0.0.1:" + std::to_string(broker.port()) + " over TLS", 10000))
      << logger->err() << broker.log();
  EXPECT_EQ(countOf(logger->err(), "MQTT: the password file '" + password + "' can be read by other users (mode 444)"),
            1)
      << logger->err();
  auto meter = startMaru(pluggedMeter(84, 8, link));
  ASSERT_TRUE(meter->waitFinished(15000));
  ASSERT_TRUE(logger->waitForErr("Port Lost", 5000)) << logger->err();
  const std::vector<std::string> raw = fileLines(out + "/20261208.raw");
  ASSERT_TRUE(subscriber.waitFor(flcdTopics("ship") + "/data", raw.size(), 5000)) << broker.log();
  expectDataMatchesFiles(subscriber.on(flcdTopics("ship") + "/data"), raw, csvRows(out + "/20261208.csv"), 1, "ship");
  Subscriber later(broker, flcdTopics("ship") + "/#");  // takes what the broker retained
  expectStateWithMetadata(later, flcdTopics("ship"), "port_lost");
}

// Under TLS, a broker that is not there yet is told once and found once it is up.
TEST(LogMqtt, ATlsBrokerThatComesLaterIsFound) {
  TempDir dir;
  const Pki pki(dir);
  ASSERT_TRUE(pki.made) << "openssl could not make the certificates";
  Broker broker(loginOverTls(pki), dir.path());
  ASSERT_TRUE(broker.up()) << broker.log();
  broker.stop();
  const std::string password = dir.file("password"), address = "127.0.0.1:" + std::to_string(broker.port());
  testsupport::writeFile(password, "s3cret pass\n");
  std::filesystem::permissions(password, std::filesystem::perms::owner_read);
  auto logger = startMaru(logArgs(dir.file("no-meter"), dir.file("out"),
                                  {"--mqtt", q(address), "--mqtt-user", "maru", "--mqtt-password-file", q(password),
                                   "--mqtt-cafile", q(pki.file("ca.crt")), "--mqtt-cert", q(pki.file("client.crt")), "--mqtt-key",
                                   q(pki.file("client.key"))}));
  ASSERT_TRUE(logger->waitForErr("MQTT: cannot reach the broker " + address + " (", 10000)) << logger->err();
  ASSERT_TRUE(broker.restart()) << broker.log();
  ASSERT_TRUE(logger->waitForErr("MQTT: connected to " + address + " over TLS", 10000)) << logger->err();
  EXPECT_EQ(countOf(logger->err(), "MQTT: "), 2) << logger->err();
}

struct RefusalCase {
  const char* name;
  const char* password;       // the password file's line; "" for no login
  bool otherCa;               // the logger trusts a CA that did not sign the broker
  const char* host;           // the broker's name as the logger is given it
  const char* brokerCert;     // the broker's certificate
  const char* brokerSays;     // what the broker logs at each attempt
  const char* loggerSays;     // the one warning
};

class LogMqttRefused : public testing::TestWithParam<RefusalCase> {};

// A login the broker refuses and a broker the logger cannot trust: one warning, however
// often the logger tries again, never "connected", and nothing reaches the broker.
TEST_P(LogMqttRefused, IsToldOnceAndPublishesNothing) {
  const RefusalCase& c = GetParam();
  TempDir dir;
  const Pki pki(dir);
  ASSERT_TRUE(pki.made) << "openssl could not make the certificates";
  BrokerSecurity security = loginOverTls(pki);
  security.clientCert.clear();  // the login alone decides
  security.certfile = pki.file(c.brokerCert);
  Broker broker(security, dir.path());
  ASSERT_TRUE(broker.up()) << broker.log();
  // A subscriber cannot trust an expired broker either; there the handshake alone shows
  // that nothing was published.
  std::optional<Subscriber> subscriber;
  if (std::string(c.brokerCert) != "expired.crt") {
    subscriber.emplace(broker, "#");
    ASSERT_TRUE(waitUntil([&] { return broker.log().find("u'maru'") != std::string::npos; }, 10000)) << broker.log();
  }
  const int refusedBefore = countOf(broker.log(), c.brokerSays);

  QStringList args{"--mqtt", q(c.host + (":" + std::to_string(broker.port()))), "--mqtt-cafile",
                   q(pki.file(c.otherCa ? "other.crt" : "ca.crt"))};
  if (*c.password) {
    const std::string password = dir.file("password");
    testsupport::writeFile(password, std::string(c.password) + "\n");
    std::filesystem::permissions(password, std::filesystem::perms::owner_read);
    args << "--mqtt-user" << "maru" << "--mqtt-password-file" << q(password);
  }
  auto logger = startMaru(logArgs(dir.file("no-meter"), dir.file("out"), args));
  ASSERT_TRUE(waitUntil([&] { return countOf(broker.log(), c.brokerSays) >= refusedBefore + 3; }, 15000))
      << broker.log() << logger->err();
  ASSERT_TRUE(logger->waitForErr(c.loggerSays, 5000)) << logger->err();
  EXPECT_EQ(countOf(logger->err(), "MQTT: "), 1) << logger->err();
  EXPECT_EQ(countOf(logger->err(), "connected"), 0) << logger->err();
  if (subscriber) {
    EXPECT_TRUE(subscriber->messages().empty()) << subscriber->messages().front().topic;
  }
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0);
}

const RefusalCase kRefusals[] = {
    {"wrong password", "s3cret", false, "127.0.0.1", "broker.crt", "disconnected, not authorised",
     "refused the connection (not authorised) for user 'maru'"},
    {"no login", "", false, "127.0.0.1", "broker.crt", "disconnected, not authorised",
     "refused the connection (not authorised);"},
    {"broker not signed by the trusted CA", "s3cret pass", true, "127.0.0.1", "broker.crt", "OpenSSL Error",
     "the broker's certificate is not signed by the CA in '"},
    {"expired broker certificate", "s3cret pass", false, "127.0.0.1", "expired.crt", "OpenSSL Error",
     "the broker's certificate expired on 20"},
    {"certificate for another host", "s3cret pass", false, "localhost", "broker.crt", "OpenSSL Error",
     "the broker's certificate is not for the host name 'localhost'"},
};

INSTANTIATE_TEST_SUITE_P(Login, LogMqttRefused, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<RefusalCase>& info) {
                           return testsupport::testNameOf(info.param.name);
                         });

struct BadFeedArgument {
  const char* name;
  QStringList args;  // after the required ones; {pw}, {ca}: a password file, a file for a
                     // certificate
  const char* says;
};

class FeedOptionsRefused : public testing::TestWithParam<BadFeedArgument> {};

// Feed options that cannot work end maru log and maruview before anything starts: exit
// status 2 and one line naming the problem.
TEST_P(FeedOptionsRefused, WithStatus2AndOneLine) {
  TempDir dir;
  testsupport::writeFile(dir.file("pw"), "secret\n");
  testsupport::writeFile(dir.file("ca.crt"), "not checked before the connection\n");
  QStringList args = GetParam().args;
  for (QString& arg : args) {
    if (arg == "{pw}") arg = q(dir.file("pw"));
    if (arg == "{ca}") arg = q(dir.file("ca.crt"));
  }
  for (const bool window : {false, true}) {
    const std::string program = window ? "maruview" : "maru log";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    auto child = window ? std::make_unique<Child>(MARU_VIEW, args, env)
                        : startMaru(logArgs(dir.file("meter"), dir.file("out"), args));
    ASSERT_TRUE(child->waitFinished());
    EXPECT_EQ(child->exitCode(), 2) << program << ": " << child->err();
    std::string says = GetParam().says;
    if (const size_t at = says.find("{dir}"); at != std::string::npos) says.replace(at, 5, dir.path());
    EXPECT_EQ(child->err().rfind(program + ": " + says, 0), 0u) << child->err();
    EXPECT_EQ(countOf(child->err(), "\n"), 2) << child->err();  // and where to read more
    EXPECT_LT(child->err().size(), 400u) << "a long value is not echoed whole";
  }
}

const BadFeedArgument kBadFeedArguments[] = {
    {"password without user", {"--mqtt", "h", "--mqtt-password-file", "{pw}"},
     "--mqtt-password-file requires --mqtt-user"},
    {"certificate without key", {"--mqtt", "h", "--mqtt-cafile", "{ca}", "--mqtt-cert", "{ca}"},
     "--mqtt-cert requires --mqtt-key"},
    {"client certificate without TLS", {"--mqtt", "h", "--mqtt-cert", "{ca}", "--mqtt-key", "{ca}"},
     "--mqtt-cert requires --mqtt-cafile"},
    {"missing CA file", {"--mqtt", "h", "--mqtt-cafile", "/nonexistent/ca.crt"},
     "--mqtt-cafile: cannot read '/nonexistent/ca.crt'"},
    {"platform without broker", {"--platform", "ship"}, "--platform requires --mqtt"},
    {"over-long platform", {"--mqtt", "h", "--platform", QString(70000, 'p')},
     "--platform: 'pppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp...' is longer than 256 bytes (70000)"},
    {"over-long meter id", {"--mqtt", "h", "--meter-id", QString(257, 'm')}, "--meter-id: 'mmmmmmmmmm"},
    {"over-long topic", {"--mqtt", "h", "--topic", QString("a/").repeated(200) + "a"}, "--topic: 'a/a/a/a/"},
    {"over-long user", {"--mqtt", "h", "--mqtt-user", QString(300, 'u')}, "--mqtt-user: 'uuuuuuuuuu"},
};

INSTANTIATE_TEST_SUITE_P(Feeds, FeedOptionsRefused, testing::ValuesIn(kBadFeedArguments),
                         [](const testing::TestParamInfo<BadFeedArgument>& info) {
                           return testsupport::testNameOf(info.param.name);
                         });

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
// metadata saying which program sent them. It starts without a device file, so nothing
// goes out before the demo's tells which meter it is.
TEST(WindowMqtt, TheDemoPublishesEveryLineAsMaruLogDoes) {
  Broker broker;
  ASSERT_TRUE(broker.up());
  Subscriber subscriber(broker, "ship/#");
  const std::string base = "ship/window/BB3-0417";  // the demo's device file's serial number
  TempDir dir;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("HOME", q(dir.path()));
  Child window(MARU_VIEW,
               {"--demo", "--mqtt", q("127.0.0.1:" + std::to_string(broker.port())), "--topic", "ship", "--platform",
                "window"},
               env);
  ASSERT_TRUE(window.started());
  ASSERT_TRUE(subscriber.waitFor(base + "/data", 3, 20000)) << window.err();
  EXPECT_TRUE(waitUntil(
      [&] {
        const auto m = subscriber.on(base + "/metadata");
        return !m.empty() && json(m.back().payload)["columns"].toArray().size() > 0;
      },
      5000));
  const QJsonObject metadata = json(subscriber.on(base + "/metadata").back().payload);
  EXPECT_EQ(metadata["program"].toString(), "maruview");
  EXPECT_EQ(metadata["meter_id"].toString(), "BB3-0417");
  std::set<QString> names;
  for (const auto& column : metadata["columns"].toArray()) names.insert(column.toObject()["name"].toString());
  EXPECT_EQ(subscriber.on(base + "/state").back().payload, "online");
  for (const MqttMessage& message : subscriber.messages()) EXPECT_TRUE(message.topic.starts_with(base + "/")) << message.topic;
  for (const MqttMessage& message : subscriber.on(base + "/data")) {
    const QJsonObject data = json(message.payload);
    EXPECT_FALSE(message.retained);
    EXPECT_FALSE(data["raw"].toString().isEmpty());
    EXPECT_TRUE(data["host_time_utc"].toString().endsWith('Z'));
    EXPECT_EQ(data["platform"].toString(), "window");
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
