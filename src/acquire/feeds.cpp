#include "acquire/feeds.h"

#include <cerrno>
#include <cstring>

#include "files/archivetime.h"
#include "files/csvformat.h"
#include "measure/kindtable.h"

namespace acquire {

std::pair<std::string, std::string> feedState(const FeedHealth& health, bool openedBefore) {
  if (!health.portOpen && !openedBefore) return {"starting", health.port + " was not opened yet"};
  if (!health.portOpen) return {"port_lost", health.port + " is not open; waiting for it"};
  if (!health.recordingStopped.empty()) return {"recording_stopped", health.recordingStopped};
  return {"online", ""};
}

Feeds::Feeds(FeedOptions options, const measure::DeviceConfig& config, Notify notify)
    : m_options(std::move(options)),
      m_config(config),
      m_notify(std::move(notify)),
      m_names(files::CsvColumnNames(config)),
      m_namedFor(config),
      m_id(topicSafe(config.MeterTitle)) {}

Feeds::~Feeds() { stop(); }

std::string Feeds::openUdp() {
  if (m_options.udp.empty()) return {};
  m_udp = std::make_unique<UdpFeed>();
  std::string error;
  if (m_udp->open(m_options.udp, error)) return {};
  m_udp.reset();
  return error;
}

std::string Feeds::startMqtt(const std::string& deviceFile, const qc::Config* qc) {
  if (m_options.mqtt.broker.empty()) return {};
  m_mqtt = makeMqttFeed(m_options.mqtt, m_config, deviceFile, m_options.program, m_options.version, m_notify, qc);
  if (!m_state.first.empty()) m_mqtt->setState(m_state.first, m_state.second);
  std::string error;
  if (m_mqtt->start(error)) return {};
  m_mqtt.reset();
  return error;
}

void Feeds::describeMeter(const std::string& deviceFile, const qc::Config* qc) {
  m_id = topicSafe(m_config.MeterTitle);
  if (m_mqtt && !deviceFile.empty())
    acquire::describeMeter(*m_mqtt, m_options.mqtt, m_config, deviceFile, m_options.program, m_options.version, qc);
}

void Feeds::setHealth(const FeedHealth& health) {
  m_portOpenedBefore = m_portOpenedBefore || health.portOpen;
  m_state = feedState(health, m_portOpenedBefore);
  if (m_mqtt) m_mqtt->setState(m_state.first, m_state.second);
}

Feeds::MqttStatus Feeds::mqttStatus() const {
  if (!m_mqtt) return {};
  return {true, m_mqtt->connected(), m_state.first, m_mqtt->backlog(), m_mqtt->published(), m_mqtt->dropped()};
}

void Feeds::stop() {
  if (!m_mqtt) return;
  m_mqtt->stop();
  m_mqtt.reset();
}

void Feeds::sample(const SampleRecord& record) {
  ++m_count;
  const meterlink::MeterState& state = record.state;
  if (state.config.DataFieldCount != m_namedFor.DataFieldCount || state.config.ColumnKind != m_namedFor.ColumnKind ||
      state.config.KindWavelength != m_namedFor.KindWavelength) {
    m_namedFor = state.config;  // another device file: other columns
    m_names = files::CsvColumnNames(state.config);
  }
  m_values.clear();
  files::appendCsvValues(m_values, state.config, state.sample, state.clock, state.eng);
  const std::string time = record.times.host ? files::IsoUtcMillis(*record.times.host) : std::string();
  if (m_mqtt) {
    // The values as computed, not as the CSV rounds them.
    m_numbers.clear();
    measure::forEachEngColumn(state.config, [&](const measure::EngColumn& column, int kind) {
      m_numbers.push_back(measure::engValue(state.eng, column, kind));
    });
    const std::string qc = record.qc ? qcJson(*record.qc) : std::string();
    DataMessage message{time, {}, m_count, 0, std::move(m_numbers), record.raw, qc};
    if (record.times.meterEpochSeconds)
      message.meterTimeUtc = files::IsoUtcMillis(files::EpochTime(*record.times.meterEpochSeconds));
    const MqttTopics topics = m_mqtt->topics();
    m_mqtt->publishData([&](long long seq) {
      message.seq = seq;
      return dataJson(topics, m_names, message);
    });
    m_numbers = std::move(message.values);  // its room, for the next sample
  }
  if (m_udp) {
    std::string datagram = m_id + " " + time + " ";
    datagram.append(record.raw);
    if (!m_udp->send(datagram) && !m_udpFailureReported) {
      if (m_notify) m_notify("UDP", std::string("cannot send a datagram: ") + std::strerror(errno));
      m_udpFailureReported = true;
    }
  }
}

}  // namespace acquire
