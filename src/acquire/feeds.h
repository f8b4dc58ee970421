#pragma once
// The logger's live feeds: an MQTT client that publishes each accepted line and keeps its
// connection up in the background, and one UDP datagram per line. Plain C++ and POSIX;
// nothing here ever waits on the network in the caller's thread.
#include <atomic>
#include <chrono>
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
/// `empty` when nothing is left. "MARU BB3 Meter  S/N 12" -> "MARU_BB3_Meter_S_N_12".
std::string topicSafe(std::string_view text, std::string_view empty = "meter");

/// This machine's host name; "" when the system does not tell it.
std::string hostName();

/// What a front end's MQTT options ask for (see cli::addFeedOptions).
struct MqttOptions {
  std::string broker;           ///< "HOST[:PORT]"; "" for no MQTT feed
  std::string prefix = "maru";  ///< the first topic level(s)
  std::string platform;         ///< where the meter is; "": this machine's host name
  std::string meterId;          ///< "": the serial number in the device file's title
  std::string user;             ///< "": no login
  std::string passwordFile;     ///< where the password came from
  std::string password;         ///< its first line
  std::string cafile;           ///< verify the broker with this CA; "": no TLS
  std::string cert, key;        ///< a client certificate and its key (both or neither)
};

/// Where one meter's messages go: PREFIX/PLATFORM/METER/{state,status,metadata,data}.
struct MqttTopics {
  std::string prefix, platform, meter;  ///< each topic-safe; `meter` "" while not known
  std::string base() const { return prefix + "/" + platform + "/" + meter; }
  bool operator==(const MqttTopics&) const = default;
};

/// The topics `options` give a meter whose device file has `title`: each level of the
/// prefix, the platform (the host name when not given) and the meter (--meter-id, else
/// the title's serial number, else the whole title) made topic-safe.
MqttTopics mqttTopics(const MqttOptions& options, std::string_view title);

/// `text` as a JSON string with its quotes. Quote, backslash and control characters are
/// escaped; UTF-8 stays as it is, and a byte that is not part of valid UTF-8 becomes
/// U+FFFD, so the result is valid UTF-8 whatever the meter or the device file holds.
std::string jsonString(std::string_view text);

/// `value` as a JSON number: the shortest text that reads back as the same double
/// (0.000085 -> "8.5e-05"); "null" when it is not finite.
std::string jsonNumber(double value);

/// The retained metadata: {"platform", "meter_id", "title", "device_file", "program",
/// "version", "time_column", "columns": [{"name", "units", "udunits", "standard_name",
/// "eng_header"}, ...]}. Column names are files::CsvColumnNames'.
/// With quality control, also "qc_configuration": the configuration's text.
std::string metadataJson(const MqttTopics& topics, const measure::DeviceConfig& config, const std::string& deviceFile,
                         const std::string& version, const std::string& program = "maru log",
                         const qc::Config* qc = nullptr);

/// One sample as a data message tells it.
struct DataMessage {
  std::string hostTimeUtc, meterTimeUtc;  ///< IsoUtcMillis; meterTimeUtc "" when not known
  long long count = 0;
  std::vector<double> values;             ///< paired in order with the column names
  std::string_view raw;                   ///< the line as received
  std::string_view qc;                    ///< a qcJson object, or "" without quality control
};

/// One data message: {"platform", "meter_id", "host_time_utc": "...Z", "meter_time_utc":
/// "...Z" or null, "count": N, "values": {"<name>": number or null, ...}, "raw": "<line>"},
/// with "qc" after "values" when the sample has flags. Values as jsonNumber.
std::string dataJson(const MqttTopics& topics, const std::vector<std::string>& names, const DataMessage& message);

/// The live flags of a sample: {"<stream>": {"aggregate": F, "<test>": F, ...}, ...} with
/// the tests run on arrival (gross range, rate of change, flat line; the spike test waits
/// for the next sample and is left out).
std::string qcJson(const files::QcRun& qc);

/// "HOST[:PORT]" or "[V6ADDR]:PORT"; false when the port is not 1..65535 or the host is empty.
bool splitHostPort(const std::string& text, std::string& host, int& port, int defaultPort);

/// An MQTT 3.1.1 client on its own thread, optionally logged in and over TLS. With BASE
/// the topics' base (MqttTopics::base), on every (re)connection it publishes BASE/state
/// (the state word, "starting" at first), BASE/status and BASE/metadata, all retained; the
/// broker publishes the Last Will BASE/state "offline" (retained) when the connection
/// drops. Every address of the broker's name is tried in turn. A lost or unreachable
/// broker, a refused login, an unreadable password file and a failed TLS handshake (with
/// the certificate's fault where OpenSSL tells it: expired, another host's, an unknown CA)
/// are told once and tried again each second; the data messages dropped meanwhile are
/// counted and told when it is back. Nothing here waits on the broker longer than
/// stop()'s `waitMs`.
class MqttFeed {
 public:
  struct Settings {
    std::string host;
    int port = 1883;
    std::string user, password;    ///< user "": no login
    std::string passwordFile;      ///< read before each connection (its first line); "": `password`
    std::string cafile;            ///< "": no TLS
    std::string cert, key;         ///< the client's certificate, "" for none
    MqttTopics topics;             ///< meter "": wait for setMeter before connecting
    std::string metadata;          ///< the retained metadata message
  };
  /// Receives "caption", "text" pairs about the connection, on the feed's thread (and on
  /// setMeter's when the new topics are not valid).
  using Notify = std::function<void(const std::string&, const std::string&)>;

  MqttFeed(Settings settings, Notify notify);
  ~MqttFeed();
  MqttFeed(const MqttFeed&) = delete;
  MqttFeed& operator=(const MqttFeed&) = delete;

  /// Starts the client thread; false (with `error`) only when no client could be made
  /// or the TLS settings are unusable. A password file that others may read is told here. An unreachable broker is not an error:
  /// it is retried in the background. Without a meter yet, connects once setMeter gives one.
  bool start(std::string& error);
  /// Queues BASE/data `json` (QoS 0) and returns at once; dropped (and counted) while
  /// there is no connection. Any thread.
  void publishData(const std::string& json);
  /// Replaces the retained metadata and publishes it now if connected. Any thread.
  void setMetadata(const std::string& json);
  /// Another meter (another device file was loaded): with other topics, says "offline"
  /// on the old ones and connects again under the new (waiting up to `waitMs` for the
  /// broker to take the goodbye); else as setMetadata. The thread that calls start/stop.
  void setMeter(const MqttTopics& topics, const std::string& metadata, int waitMs = 2000);
  /// Sets the state word ("starting", "online", "port_lost", "recording_stopped") and why, published
  /// (retained) now if connected and on every connection: BASE/state holds the word,
  /// BASE/status {"state", "reason", "published", "dropped"}. Any thread.
  void setState(const std::string& word, const std::string& reason);
  /// Publishes BASE/state "offline" and a BASE/status saying so (waiting up to `waitMs`
  /// for the broker to take them), disconnects and ends the thread.
  void stop(int waitMs = 2000);

  /// The topics in force. Any thread.
  MqttTopics topics() const;
  bool connected() const { return m_connected; }
  long long published() const { return m_published; }
  long long dropped() const { return m_dropped; }

 private:
  bool launch(std::string& error);
  void run();
  std::string connectStalled(std::chrono::steady_clock::time_point since);
  void reportDown(int rc, const std::string& stalled);
  void onConnect(int rc);
  void onDisconnect(int rc);
  void onPublish(int mid);
  void waitBeforeRetry(int seconds);
  void publishState(int* stateMid = nullptr, int* statusMid = nullptr);
  bool readLogin(std::string& why);
  bool findAddresses(std::string& why);
  std::string tlsFault(void* ssl) const;
  void publishMetadata();
  static void connectCallback(struct mosquitto*, void* self, int rc);
  static void disconnectCallback(struct mosquitto*, void* self, int rc);
  static void publishCallback(struct mosquitto*, void* self, int mid);
  static void logCallback(struct mosquitto*, void* self, int level, const char* text);

  static constexpr int kAnswerSeconds = 10;  // for the broker's answer to a connection

  Settings m_settings;
  Notify m_notify;
  struct mosquitto* m_client = nullptr;
  std::thread m_thread;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;   // guarded by m_mutex
  bool m_started = false;    // start() was called; guarded by m_mutex
  bool m_collectAcks = false;  // guarded by m_mutex
  std::vector<int> m_acked;    // guarded by m_mutex: messages the broker took while stopping
  std::atomic<bool> m_connected{false};
  std::atomic<long long> m_published{0}, m_dropped{0};
  mutable std::mutex m_stateMutex;
  std::string m_state = "starting", m_reason;  // guarded by m_stateMutex
  std::string m_metadata;                     // guarded by m_stateMutex
  std::mutex m_statePublishMutex;             // publishState() one at a time
  MqttTopics m_topics;                        // guarded by m_stateMutex
  std::mutex m_errorMutex;
  std::string m_libraryError;  // the client library's last error line; guarded by m_errorMutex
  std::string m_tlsFault;      // what was wrong with the broker's certificate; guarded by m_errorMutex
  struct Address {
    std::string host;          // a numeric address, or the name itself under TLS
    const char* bind = nullptr;  // under TLS: an address of the family to take
  };
  std::vector<Address> m_addresses;  // the broker's, to try in turn; feed thread only
  size_t m_nextAddress = 0;          // feed thread only
  std::string m_refusal;          // why the broker refused the last connection; feed thread only
  long long m_droppedAtLoss = 0;  // feed thread only
  bool m_everConnected = false;  // feed thread only
  bool m_reportedDown = false;   // feed thread only
};

/// The MQTT feed a front end's options ask for: the broker's port 8883 with TLS and 1883
/// without when not given, the topics of mqttTopics, the metadata of `config` loaded from
/// `deviceFile` by `program` ("": none loaded yet, and without --meter-id the feed waits
/// for describeMeter). Not started yet.
std::unique_ptr<MqttFeed> makeMqttFeed(const MqttOptions& options, const measure::DeviceConfig& config,
                                       const std::string& deviceFile, const std::string& program,
                                       const std::string& version, MqttFeed::Notify notify,
                                       const qc::Config* qc = nullptr);

/// After another device file was loaded: its metadata, and its topics when the meter's id
/// comes from the title (MqttFeed::setMeter).
void describeMeter(MqttFeed& feed, const MqttOptions& options, const measure::DeviceConfig& config,
                   const std::string& deviceFile, const std::string& program, const std::string& version,
                   const qc::Config* qc = nullptr);

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
/// the sink was made; the value names follow the device file in force, the platform and
/// meter id the MQTT feed's topics.
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
  std::vector<double> m_numbers;
  bool m_udpFailureReported = false;
};

}  // namespace acquire
