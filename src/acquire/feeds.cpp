#include "acquire/feeds.h"

#include <mosquitto.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>

#include "files/csvformat.h"
#include "measure/kindtable.h"

namespace acquire {

namespace {

bool safeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_';
}

// A value as the CSV text wrote it, if it is a JSON number ("nan", "inf" are not).
bool isJsonNumber(std::string_view text) {
  if (text.empty()) return false;
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && std::isfinite(value) &&
         text.find_first_not_of("-0123456789.") == std::string_view::npos;
}

std::once_flag g_libraryInit;

}  // namespace

std::string topicSafe(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (safeChar(c)) {
      out += c;
    } else if (!out.empty() && out.back() != '_') {
      out += '_';
    }
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out.empty() ? "meter" : out;
}

std::string jsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

std::string metadataJson(const measure::DeviceConfig& config, const std::string& deviceFile,
                         const std::string& version, const std::string& program, const qc::Config* qc) {
  const std::vector<std::string> names = files::CsvColumnNames(config);
  std::string out = "{\"title\": " + jsonString(config.MeterTitle) + ", \"device_file\": " + jsonString(deviceFile) +
                    ", \"program\": " + jsonString(program) + ", \"version\": " + jsonString(version) +
                    ", \"time_column\": \"time_utc\", \"columns\": [";
  // The same walk as CsvColumnNames, so the names line up with the columns.
  size_t n = 0;
  measure::forEachEngColumn(config, [&](const measure::EngColumn& column, int kind) {
    if (n >= names.size()) return;
    const std::string units = *column.units != '\0' ? column.units : config.IEngrUnits;
    const std::string udunits = *column.udunits != '\0' || *column.units != '\0' ? column.udunits : config.IEngrUnits;
    if (n > 0) out += ", ";
    out += "{\"name\": " + jsonString(names[n]) + ", \"units\": " + jsonString(units) +
           ", \"udunits\": " + jsonString(udunits) + ", \"standard_name\": " + jsonString(column.standardName) +
           ", \"eng_header\": " + jsonString(measure::kindLabel(column.header, config, kind)) + "}";
    ++n;
  });
  out += "]";
  if (qc) out += ", \"qc_configuration\": " + jsonString(qc->text);
  out += "}";
  return out;
}

std::string dataJson(const std::string& timeUtc, const std::string& meterTimeUtc, long long count,
                     const std::vector<std::string>& names, std::string_view csvValues, std::string_view raw,
                     std::string_view qcObject) {
  std::string out;
  out.reserve(96 + csvValues.size() * 3 + raw.size());
  out += "{\"time_utc\": ";
  out += jsonString(timeUtc);
  out += ", \"meter_time_utc\": ";
  out += meterTimeUtc.empty() ? std::string("null") : jsonString(meterTimeUtc);
  out += ", \"count\": ";
  out += std::to_string(count);
  out += ", \"values\": {";
  size_t at = csvValues.empty() || csvValues.front() != ',' ? csvValues.size() : 1;
  for (size_t i = 0; i < names.size() && at <= csvValues.size(); ++i) {
    size_t end = csvValues.find(',', at);
    if (end == std::string_view::npos) end = csvValues.size();
    const std::string_view value = csvValues.substr(at, end - at);
    if (i > 0) out += ", ";
    out += jsonString(names[i]);
    out += ": ";
    if (isJsonNumber(value)) out += value;
    else out += "null";
    at = end + 1;
  }
  out += "}";
  if (!qcObject.empty()) {
    out += ", \"qc\": ";
    out += qcObject;
  }
  out += ", \"raw\": ";
  out += jsonString(raw);
  out += '}';
  return out;
}

std::string qcJson(const files::QcRun& qc) {
  std::string out = "{";
  for (size_t i = 0; i < qc.streams().size(); ++i) {
    const qc::Flags& flags = qc.now()[i];
    if (i > 0) out += ", ";
    out += jsonString(qc.streams()[i].name) + ": {\"aggregate\": " +
           std::to_string(static_cast<int>(flags.liveAggregate()));
    for (const qc::Test test : qc::kTests)
      if (test != qc::Test::Spike && flags.has(test))
        out += ", \"" + std::string(qc::testName(test)) + "\": " + std::to_string(static_cast<int>(flags[test]));
    out += "}";
  }
  out += "}";
  return out;
}

bool splitHostPort(const std::string& text, std::string& host, int& port, int defaultPort) {
  std::string portText;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      portText = text.substr(close + 2);
    }
  } else {
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos && text.find(':') == colon) {
      host = text.substr(0, colon);
      portText = text.substr(colon + 1);
    } else {
      host = text;  // no port, or a bare IPv6 address
    }
  }
  if (host.empty()) return false;
  if (portText.empty()) {
    if (defaultPort <= 0) return false;
    port = defaultPort;
    return text.empty() || text.back() != ':';
  }
  int value = 0;
  const auto result = std::from_chars(portText.data(), portText.data() + portText.size(), value);
  if (result.ec != std::errc() || result.ptr != portText.data() + portText.size() || value < 1 || value > 65535)
    return false;
  port = value;
  return true;
}

// ------------------------------------------------------------------------------ MQTT

MqttFeed::MqttFeed(Settings settings, Notify notify)
    : m_settings(std::move(settings)), m_notify(std::move(notify)), m_metadata(m_settings.metadata) {}

MqttFeed::~MqttFeed() {
  stop(0);
  if (m_client) mosquitto_destroy(m_client);
}

bool MqttFeed::start(std::string& error) {
  std::call_once(g_libraryInit, [] { mosquitto_lib_init(); });
  // A random client id and a clean session: nothing is kept for us while we are away.
  m_client = mosquitto_new(nullptr, true, this);
  if (!m_client) {
    error = std::string("cannot make an MQTT client: ") + std::strerror(errno);
    return false;
  }
  mosquitto_threaded_set(m_client, true);  // publishData comes from another thread
  const std::string stateTopic = m_settings.prefix + "/state";
  if (mosquitto_will_set(m_client, stateTopic.c_str(), 7, "offline", 1, true) != MOSQ_ERR_SUCCESS) {
    error = "the topic prefix '" + m_settings.prefix + "' is not a valid MQTT topic";
    return false;
  }
  mosquitto_connect_callback_set(m_client, &MqttFeed::connectCallback);
  mosquitto_disconnect_callback_set(m_client, &MqttFeed::disconnectCallback);
  mosquitto_publish_callback_set(m_client, &MqttFeed::publishCallback);
  m_thread = std::thread([this] { run(); });
  return true;
}

void MqttFeed::connectCallback(struct mosquitto*, void* self, int rc) { static_cast<MqttFeed*>(self)->onConnect(rc); }
void MqttFeed::disconnectCallback(struct mosquitto*, void* self, int rc) {
  static_cast<MqttFeed*>(self)->onDisconnect(rc);
}
void MqttFeed::publishCallback(struct mosquitto*, void* self, int mid) { static_cast<MqttFeed*>(self)->onPublish(mid); }

void MqttFeed::onConnect(int rc) {
  if (rc != 0) {
    if (m_notify) m_notify("MQTT", "broker " + m_settings.host + " refused the connection: " + mosquitto_connack_string(rc));
    return;
  }
  // A broker that restarted without persistence forgot the retained messages: every
  // connection sets them again.
  publishState();
  publishMetadata();
  m_connected = true;
  const long long dropped = m_dropped;
  std::string text = std::string(m_everConnected ? "connected again to " : "connected to ") + m_settings.host + ":" +
                     std::to_string(m_settings.port);
  if (dropped > m_droppedAtLoss)
    text += "; " + std::to_string(dropped - m_droppedAtLoss) + " data messages were dropped while it was away (" +
            std::to_string(dropped) + " since start)";
  if (m_notify) m_notify("MQTT", text);
  m_everConnected = true;
  m_reportedDown = false;
}

void MqttFeed::onDisconnect(int) {
  if (m_connected) m_droppedAtLoss = m_dropped;
  m_connected = false;
}

void MqttFeed::setMetadata(const std::string& json) {
  {
    std::lock_guard lock(m_stateMutex);
    if (json == m_metadata) return;
    m_metadata = json;
  }
  if (m_connected) publishMetadata();
}

void MqttFeed::publishMetadata() {
  std::string json;
  {
    std::lock_guard lock(m_stateMutex);
    json = m_metadata;
  }
  const std::string topic = m_settings.prefix + "/metadata";
  mosquitto_publish(m_client, nullptr, topic.c_str(), static_cast<int>(json.size()), json.data(), 1, true);
}

void MqttFeed::setState(const std::string& word, const std::string& reason) {
  {
    std::lock_guard lock(m_stateMutex);
    if (word == m_state && reason == m_reason) return;
    m_state = word;
    m_reason = reason;
  }
  if (m_connected) publishState();
}

void MqttFeed::publishState() {
  std::string word, status;
  {
    std::lock_guard lock(m_stateMutex);
    word = m_state;
    status = "{\"state\": " + jsonString(m_state) + ", \"reason\": " + jsonString(m_reason) +
             ", \"published\": " + std::to_string(m_published) + ", \"dropped\": " + std::to_string(m_dropped) + "}";
  }
  const std::string stateTopic = m_settings.prefix + "/state", statusTopic = m_settings.prefix + "/status";
  mosquitto_publish(m_client, nullptr, stateTopic.c_str(), static_cast<int>(word.size()), word.data(), 1, true);
  mosquitto_publish(m_client, nullptr, statusTopic.c_str(), static_cast<int>(status.size()), status.data(), 1, true);
}

void MqttFeed::onPublish(int mid) {
  std::lock_guard lock(m_mutex);
  if (!m_collectAcks) return;
  m_acked.push_back(mid);
  m_wake.notify_all();
}

void MqttFeed::waitBeforeRetry(int seconds) {
  std::unique_lock lock(m_mutex);
  m_wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_stopping; });
}

void MqttFeed::run() {
  bool socketUp = false;
  bool firstAttempt = true;
  for (;;) {
    {
      std::lock_guard lock(m_mutex);
      if (m_stopping) break;
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (!socketUp) {
      // A non-blocking connect; the loop below completes it.
      rc = firstAttempt ? mosquitto_connect_async(m_client, m_settings.host.c_str(), m_settings.port, 30)
                        : mosquitto_reconnect_async(m_client);
      firstAttempt = false;
      socketUp = rc == MOSQ_ERR_SUCCESS;
    }
    if (socketUp) {
      rc = mosquitto_loop(m_client, 500, 1);
      if (rc == MOSQ_ERR_SUCCESS) continue;
      socketUp = false;
      if (m_connected) m_droppedAtLoss = m_dropped;
      m_connected = false;
    }
    {
      std::lock_guard lock(m_mutex);
      if (m_stopping) break;
    }
    if (!m_reportedDown && m_notify) {
      const std::string why = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
      m_notify("MQTT", (m_everConnected ? "lost the broker " : "cannot reach the broker ") + m_settings.host + ":" +
                           std::to_string(m_settings.port) + " (" + why +
                           "); the files go on, retrying in the background");
      m_reportedDown = true;
    }
    // Each second: a broker back from a restart is found within a second, and a try
    // costs one refused connection on the way.
    waitBeforeRetry(1);
  }
}

void MqttFeed::publishData(const std::string& json) {
  if (!m_client || !m_connected) {
    ++m_dropped;
    return;
  }
  const std::string topic = m_settings.prefix + "/data";
  if (mosquitto_publish(m_client, nullptr, topic.c_str(), static_cast<int>(json.size()), json.data(), 0, false) ==
      MOSQ_ERR_SUCCESS)
    ++m_published;
  else
    ++m_dropped;
}

void MqttFeed::stop(int waitMs) {
  if (!m_thread.joinable()) return;
  if (m_connected && waitMs > 0) {
    // Said in so many words: a clean disconnect discards the Last Will.
    const std::string state = m_settings.prefix + "/state";
    {
      std::lock_guard lock(m_mutex);
      m_collectAcks = true;
    }
    // Not under our lock: the client's thread may be in a callback that takes it.
    int mid = -1;
    if (mosquitto_publish(m_client, &mid, state.c_str(), 7, "offline", 1, true) == MOSQ_ERR_SUCCESS) {
      std::unique_lock lock(m_mutex);
      m_wake.wait_for(lock, std::chrono::milliseconds(waitMs), [this, mid] {
        return std::find(m_acked.begin(), m_acked.end(), mid) != m_acked.end();
      });
    }
  }
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  if (m_connected) mosquitto_disconnect(m_client);
  m_wake.notify_all();
  m_thread.join();
  m_connected = false;
}

std::unique_ptr<MqttFeed> makeMqttFeed(const std::string& broker, const std::string& topic,
                                       const measure::DeviceConfig& config, const std::string& deviceFile,
                                       const std::string& program, const std::string& version,
                                       MqttFeed::Notify notify, const qc::Config* qc) {
  MqttFeed::Settings settings;
  splitHostPort(broker, settings.host, settings.port, 1883);
  settings.prefix = topic.empty() ? "maru/" + topicSafe(config.MeterTitle) : topic;
  settings.metadata = metadataJson(config, deviceFile, version, program, qc);
  return std::make_unique<MqttFeed>(std::move(settings), std::move(notify));
}

// ------------------------------------------------------------------------------- UDP

UdpFeed::~UdpFeed() {
  if (m_socket >= 0) ::close(m_socket);
}

bool UdpFeed::open(const std::string& hostPort, std::string& error) {
  std::string host;
  int port = 0;
  if (!splitHostPort(hostPort, host, port, 0)) {
    error = "'" + hostPort + "' is not HOST:PORT";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0 || !found) {
    error = "cannot resolve '" + host + "': " + gai_strerror(rc);
    return false;
  }
  m_socket = ::socket(found->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_socket < 0) {
    error = std::string("cannot make a UDP socket: ") + std::strerror(errno);
    freeaddrinfo(found);
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(found->ai_addr);
  m_address.assign(bytes, bytes + found->ai_addrlen);
  freeaddrinfo(found);
  return true;
}

bool UdpFeed::send(std::string_view datagram) {
  if (m_socket < 0) return false;
  const ssize_t n = ::sendto(m_socket, datagram.data(), datagram.size(), MSG_DONTWAIT,
                             reinterpret_cast<const sockaddr*>(m_address.data()),
                             static_cast<socklen_t>(m_address.size()));
  if (n == static_cast<ssize_t>(datagram.size())) {
    ++m_sent;
    return true;
  }
  ++m_failed;
  return false;
}

// ------------------------------------------------------------------------- the sink

FeedSink::FeedSink(MqttFeed* mqtt, UdpFeed* udp, const measure::DeviceConfig& config, std::string id,
                   std::function<void(const std::string&, const std::string&)> warn)
    : m_mqtt(mqtt),
      m_udp(udp),
      m_names(files::CsvColumnNames(config)),
      m_namedFor(config),
      m_id(std::move(id)),
      m_warn(std::move(warn)) {}

void FeedSink::sample(const SampleRecord& record) {
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
    const std::string meterTime = record.times.meterEpochSeconds
                                      ? files::IsoUtcMillis(files::EpochTime(*record.times.meterEpochSeconds))
                                      : std::string();
    m_mqtt->publishData(
        dataJson(time, meterTime, m_count, m_names, m_values, record.raw, record.qc ? qcJson(*record.qc) : std::string()));
  }
  if (m_udp) {
    std::string datagram = m_id + " " + time + " ";
    datagram.append(record.raw);
    if (!m_udp->send(datagram) && !m_udpFailureReported) {
      if (m_warn) m_warn("UDP", std::string("cannot send a datagram: ") + std::strerror(errno));
      m_udpFailureReported = true;
    }
  }
}

}  // namespace acquire
