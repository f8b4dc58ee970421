// The MQTT feed's naming and payloads: which topics a meter's options and device-file title
// give, the values of a data message (every digit, null for what is not a number), and
// the feed moving to another meter's topics on a real mosquitto broker.
#include "acquire/feeds.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/localbroker.h"
#include "support/testfiles.h"

namespace {

struct TopicCase {
  const char* name;
  acquire::MqttOptions options;
  const char* title;
  const char* base;  // "{host}" stands for this machine's host name
};

acquire::MqttOptions opts(const char* prefix, const char* platform, const char* meterId) {
  acquire::MqttOptions o;
  o.prefix = prefix;
  o.platform = platform;
  o.meterId = meterId;
  return o;
}

const std::string kBb3 = "MARU BB3 Backscattering Meter  S/N BB3-0417";

class MqttTopicsTest : public testing::TestWithParam<TopicCase> {};

TEST_P(MqttTopicsTest, Base) {
  const TopicCase& c = GetParam();
  std::string expected = c.base;
  if (const size_t at = expected.find("{host}"); at != std::string::npos)
    expected.replace(at, 6, QSysInfo::machineHostName().toStdString());
  EXPECT_EQ(acquire::mqttTopics(c.options, c.title).base(), expected);
}

const TopicCase kTopicCases[] = {
    {"platform defaults to the host name", opts("maru", "", ""), kBb3.c_str(), "maru/{host}/BB3-0417"},
    {"serial number from the title", opts("maru", "ship", ""), "MARU NTU Turbidity Meter  S/N NTU-0302",
     "maru/ship/NTU-0302"},
    {"serial after a colon, lower case", opts("maru", "ship", ""), "FL meter s/n: 77 (spare)", "maru/ship/77"},
    {"meter id beats the serial number", opts("maru", "ship", "bow-sensor"), kBb3.c_str(), "maru/ship/bow-sensor"},
    {"title without a serial number is used whole", opts("maru", "ship", ""), "MARU NTU Turbidity Meter",
     "maru/ship/MARU_NTU_Turbidity_Meter"},
    {"S/N inside a word is no serial number", opts("maru", "ship", ""), "GPS/NMEA logger",
     "maru/ship/GPS_NMEA_logger"},
    {"prefix replaces maru", opts("fleet", "ship", ""), kBb3.c_str(), "fleet/ship/BB3-0417"},
    {"prefix levels are kept, each made safe", opts("acme/ocean obs", "ship", ""), kBb3.c_str(),
     "acme/ocean_obs/ship/BB3-0417"},
    {"unsafe platform", opts("maru", "R/V Sea+Wolf #2", ""), kBb3.c_str(), "maru/R_V_Sea_Wolf_2/BB3-0417"},
    {"unsafe meter id", opts("maru", "ship", "a/b c+#"), kBb3.c_str(), "maru/ship/a_b_c"},
    {"unsafe serial number", opts("maru", "ship", ""), "Meter S/N BB3#0417/b", "maru/ship/BB3_0417_b"},
    {"nothing left of a platform", opts("maru", "///", ""), kBb3.c_str(), "maru/host/BB3-0417"},
};

INSTANTIATE_TEST_SUITE_P(Feeds, MqttTopicsTest, testing::ValuesIn(kTopicCases),
                         [](const testing::TestParamInfo<TopicCase>& info) {
                           return testsupport::testNameOf(info.param.name);
                         });

const acquire::MqttTopics kShip{"maru", "ship", "BB3-0417"};

QJsonObject parse(const std::string& json) {
  QJsonParseError error;
  const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error).object();
  EXPECT_EQ(error.error, QJsonParseError::NoError) << json;
  return object;
}

// A subscriber reads back the very doubles the meter's values were, whatever their size;
// what is not a number is null, not a string or a made-up zero.
TEST(FeedData, ValuesKeepEveryDigitAndNonNumbersAreNull) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {0.000085, 0.1 + 0.2, 1.0 / 3, 4120, -2.5e-310, 1e21, std::nan(""), inf, -inf};
  std::vector<std::string> names;
  for (size_t i = 0; i < values.size(); ++i) names.push_back("v" + std::to_string(i));
  acquire::DataMessage message;
  message.hostTimeUtc = "2026-12-08T04:44:03.123Z";
  message.values = values;
  message.raw = "12/08/26\t04:44:03\t470\t4120";
  const std::string json = acquire::dataJson(kShip, names, message);
  // The shortest text that is still the same double.
  EXPECT_NE(json.find("\"v0\": 8.5e-05,"), std::string::npos) << json;

  const QJsonObject read = parse(json)["values"].toObject();
  ASSERT_EQ(read.size(), static_cast<int>(values.size())) << json;
  for (size_t i = 0; i < values.size(); ++i) {
    const QJsonValue value = read[QString::fromStdString(names[i])];
    if (std::isfinite(values[i])) {
      ASSERT_TRUE(value.isDouble()) << names[i] << " in " << json;
      EXPECT_EQ(value.toDouble(), values[i]) << names[i] << " in " << json;
    } else {
      EXPECT_TRUE(value.isNull()) << names[i] << " in " << json;
    }
  }
}

// Text from a device file or a meter goes out as it is when it is UTF-8; a byte that is
// not becomes U+FFFD, so every message is valid UTF-8 and JSON.
TEST(FeedData, JsonStringsKeepUtf8AndReplaceWhatIsNot) {
  struct Case {
    const char* name;
    std::string text, json;
  } cases[] = {
      {"accents and a symbol", "M\xC3\xA9t\xC3\xA9o \xE2\x82\xAC \xF0\x9F\x8C\x8A", "\"M\xC3\xA9t\xC3\xA9o \xE2\x82\xAC \xF0\x9F\x8C\x8A\""},
      {"Latin-1 byte", "M\xE9t", "\"M\xEF\xBF\xBDt\""},
      {"cut sequence, stray continuation", "\xE2\x82 \x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\""},
      {"overlong and surrogate", "\xC0\xAF\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"what JSON escapes", std::string("a\"b\\c\td\x01\x7F", 9), "\"a\\\"b\\\\c\\td\\u0001\x7F\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(acquire::jsonString(c.text), c.json);
  }
  measure::DeviceConfig config;
  config.MeterTitle = "M\xC3\xA9t\xC3\xA9o S/N 7";
  EXPECT_EQ(parse(acquire::metadataJson(kShip, config, "m.dev", "1.0"))["title"].toString(), QString::fromUtf8("Météo S/N 7"));
}

// One state rule for both front ends.
TEST(Feeds, StateFollowsThePortThenTheRecording) {
  struct Case {
    bool open, openedBefore;
    std::string stopped, word, reason;
  };
  for (const Case& c : {Case{false, false, "", "starting", "P was not opened yet"},
                        Case{false, true, "", "port_lost", "P is not open; waiting for it"},
                        Case{false, true, "disk full", "port_lost", "P is not open; waiting for it"},
                        Case{true, true, "disk full", "recording_stopped", "disk full"},
                        Case{true, false, "", "online", ""}}) {
    const auto [word, reason] = acquire::feedState({"P", c.open, c.stopped}, c.openedBefore);
    EXPECT_EQ(word, c.word);
    EXPECT_EQ(reason, c.reason);
  }
}

using testsupport::LocalBroker;
using testsupport::waitFor;

// Another device file loaded in the window: the feed says "offline" under the old meter's
// topics, for whoever looks there later, and goes on under the new meter's with its
// metadata; a clean stop leaves the new ones "offline" too.
TEST(MqttFeed, AnotherMeterMovesItToOtherTopicsAndLeavesTheOldOnesOffline) {
  LocalBroker broker;
  ASSERT_TRUE(broker.process.waitForStarted(5000));
  acquire::MqttFeed::Settings settings;
  settings.host = "127.0.0.1";
  settings.port = broker.port;
  settings.topics = {"maru", "ship", "BB3-0417"};
  settings.metadata = R"({"meter_id": "BB3-0417"})";
  acquire::MqttFeed feed(settings, nullptr);
  std::string error;
  ASSERT_TRUE(feed.start(error)) << error;
  ASSERT_TRUE(waitFor([&] { return feed.connected(); }));
  feed.setState("online", "");  // kept across the move

  feed.setMeter({"maru", "ship", "NTU-0302"}, R"({"meter_id": "NTU-0302"})");
  EXPECT_EQ(feed.topics().base(), "maru/ship/NTU-0302");
  std::map<std::string, std::string> retained;
  ASSERT_TRUE(waitFor([&] {
    retained = broker.retained();
    return retained.count("maru/ship/NTU-0302/metadata") > 0;
  }));
  EXPECT_EQ(retained["maru/ship/BB3-0417/state"], "offline");
  EXPECT_EQ(retained["maru/ship/NTU-0302/state"], "online");
  EXPECT_EQ(retained["maru/ship/NTU-0302/metadata"], R"({"meter_id": "NTU-0302"})");

  feed.stop();
  EXPECT_EQ(broker.retained()["maru/ship/NTU-0302/state"], "offline");
}

}  // namespace
