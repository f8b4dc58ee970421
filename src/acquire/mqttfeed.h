#pragma once
// The MQTT transport of the live feeds: a client on its own thread that keeps its
// connection up in the background and publishes what it is handed. Plain C++ and POSIX;
// nothing here ever waits on the network in the caller's thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "acquire/feedformat.h"
#include "files/feedqueue.h"

struct mosquitto;
struct mosquitto_message;

namespace acquire {

/// An MQTT 3.1.1 client on its own thread, optionally logged in and over TLS. With BASE
/// the topics' base (MqttTopics::base), on every (re)connection it publishes BASE/state
/// (the state word, "starting" at first), BASE/status and BASE/metadata, all retained; the
/// broker publishes the Last Will BASE/state "offline" (retained) when the connection
/// drops. Every address of the broker's name is tried in turn. A lost or unreachable
/// broker, a refused login, an unreadable password file and a failed TLS handshake (with
/// the certificate's fault where OpenSSL tells it: expired, another host's, an unknown CA)
/// are told once and tried again each second. Data messages go through a files::FeedQueue
/// (on disk, or in memory without a folder): each is kept until the broker acknowledged
/// it (QoS 1), at most kInFlight at a time, oldest first, so a backlog drains in order
/// while new lines join it; after a restart the unacknowledged ones go again. A broker
/// that acknowledges nothing for kAckSeconds, or misses a keepalive, is told as stalled
/// and connected to afresh; the client library sends its unacknowledged messages again
/// on the new connection. Nothing here waits on the broker longer than stop()'s `waitMs`.
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
    std::string queueDir;          ///< where data messages wait; "": in memory
    files::FeedQueueLimits queueLimits;
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
  /// Keeps the data message `json(seq)` on BASE/data in the queue, `seq` being this
  /// meter's next sequence number, and returns at once; the feed's thread sends it (QoS 1)
  /// when the messages before it went. One thread at a time.
  void publishData(const std::function<std::string(long long seq)>& json);
  /// Replaces the retained metadata and publishes it now if connected. Any thread.
  void setMetadata(const std::string& json);
  /// Another meter (another device file was loaded): with other topics, says "offline"
  /// on the old ones and connects again under the new (waiting up to `waitMs` for the
  /// broker to take the goodbye); else as setMetadata. The thread that calls start/stop.
  void setMeter(const MqttTopics& topics, const std::string& metadata, int waitMs = 2000);
  /// Sets the state word ("starting", "online", "port_lost", "recording_stopped") and why, published
  /// (retained) now if connected and on every connection: BASE/state holds the word,
  /// BASE/status {"state", "reason", "published", "dropped", "backlog"}. Any thread.
  void setState(const std::string& word, const std::string& reason);
  /// Publishes BASE/state "offline" and a BASE/status saying so (waiting up to `waitMs`
  /// for the broker to take them), disconnects and ends the thread.
  void stop(int waitMs = 2000);

  /// The topics in force. Any thread.
  MqttTopics topics() const;
  bool connected() const { return m_connected; }
  /// Data messages the broker acknowledged, since start.
  long long published() const { return m_published; }
  /// Data messages lost, since start: dropped by the queue's limits, or not writable to it.
  long long dropped() const { return m_dropped; }
  /// Data messages waiting for the broker's acknowledgement.
  long long backlog() const { return m_backlog; }
  /// Where the data messages wait ("": in memory).
  std::string queueDir() const;

  static constexpr int kInFlight = 100;    // data messages sent and not acknowledged, at most
  static constexpr int kAckSeconds = 5;    // without any acknowledgement: stalled
  static constexpr int kKeepalive = 5;     // seconds
  static constexpr int kTurnMs = 100;      // the longest a new data message waits to be sent

 private:
  bool launch(std::string& error);
  void run();
  std::string connectStalled(std::chrono::steady_clock::time_point since);
  void reportDown(int rc, const std::string& stalled);
  void onConnect(int rc);
  void onDisconnect(int rc);
  void onPublish(int mid);
  void waitBeforeRetry(int seconds);
  void pump();
  void housekeeping(bool force = false);
  bool openQueue(std::string& error);
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

  mutable std::mutex m_queueMutex;
  files::FeedQueue m_queue;  // guarded by m_queueMutex
  long long m_lost = 0;      // not writable to the queue; guarded by m_queueMutex
  bool m_toldQueueFailure = false, m_toldQueueFull = false;  // guarded by m_queueMutex
  std::atomic<long long> m_backlog{0};
  std::map<int, std::uint64_t> m_inFlight;             // mid -> queue id; feed thread only
  std::optional<files::QueuedMessage> m_pending;       // taken from the queue, not sent yet; feed thread only
  std::chrono::steady_clock::time_point m_ackWaitSince;  // feed thread only
  std::chrono::steady_clock::time_point m_lastHousekeeping;  // feed thread only
  long long m_backlogAtConnect = 0;                    // feed thread only
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
}  // namespace acquire
