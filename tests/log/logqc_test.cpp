// maru log --qc with the meter played by the test: each live flag in the daily CSV and the
// MQTT data, the configuration in the retained metadata; one it cannot use stops it first.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>
#include <filesystem>

#include "log/logharness.h"
#include "support/ptypeer.h"

using namespace logtest;

namespace {

QJsonObject json(const std::string& text) { return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object(); }

// The messages on the topics that end in `name`, wherever under the prefix the meter's are.
std::vector<MqttMessage> on(Subscriber& subscriber, const std::string& name) {
  std::vector<MqttMessage> found;
  for (const MqttMessage& m : subscriber.messages())
    if (m.topic.ends_with("/" + name)) found.push_back(m);
  return found;
}

TEST(LogQc, EverySampleIsFlaggedInTheDailyCsvNetcdfAndTheMqttData) {
  // CHL of the lines below is far under 100 ug/l: suspect.
  const std::string yaml = "streams:\n  chl_ug_per_l:\n    qartod:\n"
                           "      gross_range_test: {suspect_span: [100, 200], fail_span: [-1000, 1000]}\n";
  Broker broker;
  ASSERT_TRUE(broker.up());
  testsupport::TempDir dir;
  const std::string link = dir.file("meter"), out = dir.file("out"), yml = dir.file("qc.yml");
  testsupport::writeFile(yml, yaml);
  testsupport::PtyPeer peer;
  ::fcntl(peer.masterFd(), F_SETFD, FD_CLOEXEC);  // the pty's ends stay with the test
  ::fcntl(peer.slaveFd(), F_SETFD, FD_CLOEXEC);
  std::filesystem::create_symlink(peer.slavePath(), link);
  Subscriber subscriber(broker, "site/qc/#");
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("MARU_LOG_CLOCK_START", "2026-12-08T04:44:03.000Z");
  auto logger = startMaru({"log", "--port", q(link), "--dev", q(example("flcd.dev")), "--out", q(out), "--start",
                           "--qc", q(yml), "--mqtt", q("127.0.0.1:" + std::to_string(broker.port())), "--topic",
                           "site/qc", "--netcdf", "--attr", "institution=Ocean Lab"},
                          env);
  ASSERT_FALSE(peer.receive(5000, 200).empty()) << logger->err();  // "$run" once the line was seen quiet
  ASSERT_TRUE(waitUntil([&] { return !on(subscriber, "metadata").empty(); }, 10000)) << logger->err();
  for (const int s : {5, 6, 7}) peer.send("12/08/26\t04:44:0" + std::to_string(s) + "\t223\t1384\t560\t3205\t2065\r\n");
  const std::string csv = out + "/20261208.csv";
  ASSERT_TRUE(waitUntil([&] { return fileLines(csv).size() == 4; }, 5000)) << logger->err();
  ASSERT_TRUE(waitUntil([&] { return on(subscriber, "data").size() == 3; }, 5000)) << logger->err();
  logger->signal(SIGTERM);
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 0) << logger->err();

  const std::vector<std::string> rows = fileLines(csv);
  EXPECT_EQ(rows[0], "host_time_utc,meter_time_utc,count,chl_ug_per_l,chl_ug_per_l_qc,cdom_ppb,itemp_degc,"
                     "xtemp_degc,pres_dbar");
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(split(rows[i], ',').at(4), "3") << rows[i];
  EXPECT_EQ(json(on(subscriber, "metadata").back().payload)["qc_configuration"].toString().toStdString(), yaml);
  const QJsonObject qc = json(on(subscriber, "data").back().payload)["qc"].toObject();
  EXPECT_EQ(QJsonDocument(qc).toJson(QJsonDocument::Compact).toStdString(),
            R"({"chl_ug_per_l":{"aggregate":3,"gross_range_test":3}})");

  // The day's archive, complete once the logger stopped: along the receive time, flagged.
  QProcess dump;
  dump.start("ncdump", {q(out + "/20261208.nc")});
  ASSERT_TRUE(dump.waitForFinished(30000));
  const std::string cdl = dump.readAllStandardOutput().toStdString();
  for (const char* shown : {"time = UNLIMITED ; // (3 currently)", "byte chl_ug_per_l_qc(time)",
                            ":institution = \"Ocean Lab\"", "chl_ug_per_l_qc = 3, 3, 3 ;"})
    EXPECT_NE(cdl.find(shown), std::string::npos) << shown << "\n" << cdl;
}

TEST(LogQc, AConfigurationItCannotUseEndsItWithStatus2AndTheLine) {
  testsupport::TempDir dir;
  const std::string yml = dir.file("bad.yml"), out = dir.file("out");
  testsupport::writeFile(yml, "streams:\n  chl_ug_per_l:\n    qartod:\n      spike_test: {}\n");
  auto logger = startMaru({"log", "--port", "/dev/null", "--dev", q(example("flcd.dev")), "--out", q(out), "--qc", q(yml)});
  ASSERT_TRUE(logger->waitFinished());
  EXPECT_EQ(logger->exitCode(), 2);
  EXPECT_EQ(logger->err().rfind("maru log: " + yml + ": line 4: ", 0), 0u) << logger->err();
  EXPECT_EQ(countOf(logger->err(), "\n"), 1) << logger->err();
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
