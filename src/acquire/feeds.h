#pragma once
// The logger's live feeds: an MQTT client that publishes each accepted line and keeps its
// connection up in the background, and one UDP datagram per line. Plain C++ and POSIX;
// nothing here ever waits on the network in the caller's thread.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "acquire/session.h"
#include "qc/config.h"
#include "measure/deviceconfig.h"

struct mosquitto;
struct mosquitto_message;

namespace acquire {

/// `text` made safe as one MQTT topic level and as a word: letters, digits, '.', '-'
/// and '_' stay, every other run of characters becomes one '_', none at either end;
/// "meter" when nothing is left. "MARU BB3 Meter  S/N 12" -> "MARU_BB3_Meter_S_N_12".
std::string topicSafe(std::string_view text);

/// `text` as a JSON string with its quotes. Quote, backslash and control characters are
/// escaped; a byte of 0x80 or more is written as \u00XX (read as Latin-1), so the result
/// is valid UTF-8 whatever the meter sent.
std::string jsonString(std::string_view text);

/// The retained metadata: {"title", "device_file", "program", "version", "time_column",
/// "columns": [{"name", "units", "udunits", "standard_name", "eng_header"}, ...]}.
/// Column names are files::CsvColumnNames'.
/// With quality control, also "qc_configuration": the configuration's text.
std::string metadataJson(const measure::DeviceConfig& config, const std::string& deviceFile,
                         const std::string& version, const std::string& program = "maru log",
                         const qc::Config* qc = nullptr);

/// One data message: {"time_utc": "...Z", "meter_time_utc": "...Z" or null, "count": N,
/// "values": {"<name>": number, ...}, "raw": "<line>"}. `csvValues` is what
/// files::appendCsvValues wrote (",v1,v2,..."), paired in order with `names`; a value that
/// is not a finite number becomes null. `meterTimeUtc` "" when the meter's time is unknown.
/// With `qcObject` (see qcJson), "qc" follows "values".
std::string dataJson(const std::string& timeUtc, const std::string& meterTimeUtc, long long count,
                     const std::vector<std::string>& names, std::string_view csvValues, std::string_view raw,
                     std::string_view qcObject = {});

/// The live flags of a sample: {"<stream>": {"aggregate": F, "<test>": F, ...}, ...} with
/// the tests run on arrival (gross range, rate of change, flat line; the spike test waits
/// for the next sample and is left out).
std::string qcJson(const files::QcRun& qc);

/// "HOST[:PORT]" or "[V6ADDR]:PORT"; false when the port is not 1..65535 or the host is empty.
bool splitHostPort(const std::string& text, std::string& host, int& port, int defaultPort);

/// An MQTT 3.1.1 client on its own thread. On every (re)connection it publishes
/// PREFIX/state (the state word, "online" at first), PREFIX/status and PREFIX/metadata,
/// all retained; the broker publishes the Last Will PREFIX/state "offline" (retained) when
/// the connection drops. A lost or unreachable broker is tried again each second, and
/// the data messages dropped meanwhile are counted and told when it is back.
class MqttFeed {
 public:
  struct Settings {
    std::string host;
    int port = 1883;
    std::string prefix;    ///< topics are PREFIX/state, PREFIX/metadata, PREFIX/data
    std::string metadata;  ///< the retained metadata message
  };
  /// Receives "caption", "text" pairs about the connection, on the feed's thread.
  using Notify = std::function<void(const std::string&, const std::string&)>;

  MqttFeed(Settings settings, Notify notify);
  ~MqttFeed();
  MqttFeed(const MqttFeed&) = delete;
  MqttFeed& operator=(const MqttFeed&) = delete;

  /// Starts the client thread; false (with `error`) only when no client could be made.
  /// An unreachable broker is not an error: it is retried in the background.
  bool start(std::string& error);
  /// Queues PREFIX/data `json` (QoS 0) and returns at once; dropped (and counted) while
  /// there is no connection. Any thread.
  void publishData(const std::string& json);
  /// Replaces the retained metadata (another device file was loaded) and publishes it now
  /// if connected. Any thread.
  void setMetadata(const std::string& json);
  /// Sets the state word ("online", "port_lost", "recording_stopped") and why, published
  /// (retained) now if connected and on every connection: PREFIX/state holds the word,
  /// PREFIX/status {"state", "reason", "published", "dropped"}. Any thread.
  void setState(const std::string& word, const std::string& reason);
  /// Publishes PREFIX/state "offline" (waiting up to `waitMs` for the broker to take it),
  /// disconnects and ends the thread.
  void stop(int waitMs = 2000);

  bool connected() const { return m_connected; }
  long long published() const { return m_published; }
  long long dropped() const { return m_dropped; }

 private:
  void run();
  void onConnect(int rc);
  void onDisconnect(int rc);
  void onPublish(int mid);
  void waitBeforeRetry(int seconds);
  void publishState();
  void publishMetadata();
  static void connectCallback(struct mosquitto*, void* self, int rc);
  static void disconnectCallback(struct mosquitto*, void* self, int rc);
  static void publishCallback(struct mosquitto*, void* self, int mid);

  Settings m_settings;
  Notify m_notify;
  struct mosquitto* m_client = nullptr;
  std::thread m_thread;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;   // guarded by m_mutex
  bool m_collectAcks = false;  // guarded by m_mutex
  std::vector<int> m_acked;    // guarded by m_mutex: messages the broker took while stopping
  std::atomic<bool> m_connected{false};
  std::atomic<long long> m_published{0}, m_dropped{0};
  std::mutex m_stateMutex;
  std::string m_state = "online", m_reason;  // guarded by m_stateMutex
  std::string m_metadata;                     // guarded by m_stateMutex
  long long m_droppedAtLoss = 0;  // feed thread only
  bool m_everConnected = false;  // feed thread only
  bool m_reportedDown = false;   // feed thread only
};

/// The MQTT feed a front end's options ask for: `broker` "HOST[:PORT]" (1883 when not
/// given), `topic` the prefix ("": maru/ and the device file's title made topic-safe), the
/// metadata of `config` loaded from `deviceFile` by `program`. Not started yet.
std::unique_ptr<MqttFeed> makeMqttFeed(const std::string& broker, const std::string& topic,
                                       const measure::DeviceConfig& config, const std::string& deviceFile,
                                       const std::string& program, const std::string& version,
                                       MqttFeed::Notify notify, const qc::Config* qc = nullptr);

/// One datagram per accepted line, "<id> <time_utc> <raw line>", to HOST:PORT.
class UdpFeed {
 public:
  UdpFeed() = default;
  ~UdpFeed();
  UdpFeed(const UdpFeed&) = delete;
  UdpFeed& operator=(const UdpFeed&) = delete;

  /// Resolves "HOST:PORT" and makes the socket; false with `error` set when it cannot.
  bool open(const std::string& hostPort, std::string& error);
  /// Sends one datagram without waiting; false when the system refused it.
  bool send(std::string_view datagram);
  long long sent() const { return m_sent; }
  long long failed() const { return m_failed; }

 private:
  int m_socket = -1;
  std::vector<unsigned char> m_address;  // sockaddr bytes
  long long m_sent = 0, m_failed = 0;
};

/// The live feeds as a sink of the session: each sample becomes one MQTT data message and
/// one UDP datagram (either may be absent). `count` in the messages is the samples since
/// the sink was made; the value names follow the device file in force.
class FeedSink : public Sink {
 public:
  /// The feeds are not owned and must outlive the sink; `id` starts each datagram.
  FeedSink(MqttFeed* mqtt, UdpFeed* udp, const measure::DeviceConfig& config, std::string id,
           std::function<void(const std::string& caption, const std::string& text)> warn);
  void sample(const SampleRecord& record) override;
  /// The CSV values of the latest sample (",v1,v2,..."), and the column names.
  const std::string& lastValues() const { return m_values; }
  const std::vector<std::string>& names() const { return m_names; }

 private:
  MqttFeed* m_mqtt;
  UdpFeed* m_udp;
  std::vector<std::string> m_names;
  measure::DeviceConfig m_namedFor;  // the columns m_names were made for
  std::string m_id;
  std::function<void(const std::string&, const std::string&)> m_warn;
  long long m_count = 0;
  std::string m_values;
  bool m_udpFailureReported = false;
};

}  // namespace acquire
