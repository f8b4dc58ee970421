#include "acquire/mqttfeed.h"

#include <mosquitto.h>
#include <netdb.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "measure/boundedfile.h"

namespace acquire {

namespace {

std::once_flag g_libraryInit;

// Without a passphrase prompt: a logger has no one at the terminal, and an encrypted key
// fails the TLS setup with the library's message instead.
int noPassphrase(char*, int, int, void*) { return 0; }

// "Connection Refused: not authorised." -> "not authorised"
std::string refusalText(int rc) {
  std::string text = mosquitto_connack_string(rc);
  if (const size_t colon = text.find(": "); colon != std::string::npos) text.erase(0, colon + 2);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

// ------------------------------------------------------------------------------ MQTT

MqttFeed::MqttFeed(Settings settings, Notify notify)
    : m_settings(std::move(settings)),
      m_notify(std::move(notify)),
      m_metadata(m_settings.metadata),
      m_topics(m_settings.topics) {}

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
  mosquitto_threaded_set(m_client, true);  // setState comes from another thread
  // Our data messages in flight, and room for the state, status and metadata.
  mosquitto_max_inflight_messages_set(m_client, kInFlight + 8);
  if (!openQueue(error)) return false;
  const Settings& s = m_settings;
  // The password itself is read before each connection: a file that cannot be read now
  // only keeps the feed down (see readLogin), never the logger.
  struct stat mode {};
  if (!s.user.empty() && !s.passwordFile.empty() && ::stat(s.passwordFile.c_str(), &mode) == 0 &&
      (mode.st_mode & (S_IRGRP | S_IROTH)) && m_notify) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%03o", static_cast<unsigned>(mode.st_mode & 0777));
    m_notify("MQTT", "the password file '" + s.passwordFile + "' can be read by other users (mode " + octal +
                         "); make it readable by its owner only (chmod 600)");
  }
  if (!s.cafile.empty()) {
    const int rc = mosquitto_tls_set(m_client, s.cafile.c_str(), nullptr, s.cert.empty() ? nullptr : s.cert.c_str(),
                                     s.key.empty() ? nullptr : s.key.c_str(), &noPassphrase);
    if (rc != MOSQ_ERR_SUCCESS) {
      error = "cannot use the TLS files (CA '" + s.cafile + "'" +
              (s.cert.empty() ? std::string() : ", certificate '" + s.cert + "', key '" + s.key + "'") +
              "): " + mosquitto_strerror(rc);
      return false;
    }
  }
  mosquitto_connect_callback_set(m_client, &MqttFeed::connectCallback);
  mosquitto_disconnect_callback_set(m_client, &MqttFeed::disconnectCallback);
  mosquitto_publish_callback_set(m_client, &MqttFeed::publishCallback);
  mosquitto_log_callback_set(m_client, &MqttFeed::logCallback);
  {
    std::lock_guard lock(m_mutex);
    m_started = true;
  }
  return launch(error);
}

// The data messages' queue: in its folder, else (another program holds it, or it cannot
// be made) in memory, which is told.
bool MqttFeed::openQueue(std::string& error) {
  std::lock_guard lock(m_queueMutex);
  if (m_queue.isOpen()) return true;
  std::string why;
  if (m_queue.open(m_settings.queueDir, m_settings.queueLimits, why)) {
    m_backlog = static_cast<long long>(m_queue.backlog());
    if (m_backlog > 0 && m_notify)
      m_notify("MQTT", std::to_string(m_backlog) + " data messages kept in " + m_settings.queueDir +
                           " from before go out first");
    return true;
  }
  if (m_settings.queueDir.empty() || !m_queue.open("", m_settings.queueLimits, error)) {
    if (error.empty()) error = why;
    return false;
  }
  if (m_notify) m_notify("MQTT", why + "; the data messages wait in memory instead, and a restart loses them");
  return true;
}

std::string MqttFeed::queueDir() const {
  std::lock_guard lock(m_queueMutex);
  return m_queue.dir();
}

// Connects under the topics in force, if a meter is known; the client is set up and no
// thread runs.
bool MqttFeed::launch(std::string& error) {
  const MqttTopics now = topics();
  if (now.meter.empty()) return true;  // setMeter starts it
  const std::string stateTopic = now.base() + "/state";
  if (mosquitto_will_set(m_client, stateTopic.c_str(), 7, "offline", 1, true) != MOSQ_ERR_SUCCESS) {
    error = "'" + now.base() + "' is not a valid MQTT topic";
    return false;
  }
  {
    std::lock_guard lock(m_mutex);
    m_stopping = false;
    m_collectAcks = false;
    m_acked.clear();
  }
  m_everConnected = false;
  m_reportedDown = false;
  m_droppedAtLoss = m_dropped;
  m_lastHousekeeping = std::chrono::steady_clock::now();
  m_thread = std::thread([this] { run(); });
  return true;
}

MqttTopics MqttFeed::topics() const {
  std::lock_guard lock(m_stateMutex);
  return m_topics;
}

void MqttFeed::setMeter(const MqttTopics& topics, const std::string& metadata, int waitMs) {
  if (topics == this->topics()) return setMetadata(metadata);
  bool started = false;
  {
    std::lock_guard lock(m_mutex);
    started = m_started;
  }
  std::string state, reason;
  {
    std::lock_guard lock(m_stateMutex);
    state = m_state;
    reason = m_reason;
  }
  stop(waitMs);  // "offline" on the old topics
  {
    std::lock_guard lock(m_stateMutex);
    m_topics = topics;
    m_metadata = metadata;
    m_state = state;
    m_reason = reason;
  }
  std::string error;
  if (started && !launch(error) && m_notify) m_notify("MQTT", error);
}

void MqttFeed::logCallback(struct mosquitto*, void* self, int level, const char* text) {
  if (!(level & MOSQ_LOG_ERR) || !text) return;
  auto* feed = static_cast<MqttFeed*>(self);
  // While the handshake's failure is told, the connection still holds what went wrong.
  void* ssl = feed->m_settings.cafile.empty() ? nullptr : mosquitto_ssl_get(feed->m_client);
  const std::string fault = ssl ? feed->tlsFault(ssl) : std::string();
  std::lock_guard lock(feed->m_errorMutex);
  if (feed->m_libraryError.empty()) feed->m_libraryError = text;  // the first tells most
  if (feed->m_tlsFault.empty()) feed->m_tlsFault = fault;
}

void MqttFeed::connectCallback(struct mosquitto*, void* self, int rc) { static_cast<MqttFeed*>(self)->onConnect(rc); }
void MqttFeed::disconnectCallback(struct mosquitto*, void* self, int rc) {
  static_cast<MqttFeed*>(self)->onDisconnect(rc);
}
void MqttFeed::publishCallback(struct mosquitto*, void* self, int mid) { static_cast<MqttFeed*>(self)->onPublish(mid); }

void MqttFeed::onConnect(int rc) {
  if (rc != 0) {
    m_refusal = refusalText(rc);  // told once, by run(), as the connection ends
    return;
  }
  // A broker that restarted without persistence forgot the retained messages: every
  // connection sets them again. Connected first: a state set meanwhile is published by its
  // setter, after this one (publishState takes them in turn), and is the one retained.
  m_connected = true;
  m_nextAddress = m_addresses.size();  // after a loss: report it, then all addresses afresh
  publishState();
  publishMetadata();
  const long long dropped = m_dropped;
  std::string text = std::string(m_everConnected ? "connected again to " : "connected to ") + m_settings.host + ":" +
                     std::to_string(m_settings.port) + (m_settings.cafile.empty() ? "" : " over TLS") +
                     ", publishing under " + topics().base() + "/";
  if (const long long backlog = m_backlog; backlog > 0)
    text += "; sending the " + std::to_string(backlog) + " data messages kept meanwhile";
  if (dropped > m_droppedAtLoss)
    text += "; " + std::to_string(dropped - m_droppedAtLoss) + " data messages were dropped while it was away (" +
            std::to_string(dropped) + " since start)";
  m_ackWaitSince = std::chrono::steady_clock::now();
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
  const std::string topic = topics().base() + "/metadata";
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

void MqttFeed::publishState(int* stateMid, int* statusMid) {
  // From the feed's thread (on connecting) and the caller's (a new state): one at a time,
  // so the state read last is also the one published last and stays retained.
  std::lock_guard order(m_statePublishMutex);
  std::string word, status, base;
  {
    std::lock_guard lock(m_stateMutex);
    base = m_topics.base();
    word = m_state;
    status = "{\"state\": " + jsonString(m_state) + ", \"reason\": " + jsonString(m_reason) +
             ", \"published\": " + std::to_string(m_published) + ", \"dropped\": " + std::to_string(m_dropped) +
             ", \"backlog\": " + std::to_string(m_backlog) + "}";
  }
  const std::string stateTopic = base + "/state", statusTopic = base + "/status";
  mosquitto_publish(m_client, stateMid, stateTopic.c_str(), static_cast<int>(word.size()), word.data(), 1, true);
  mosquitto_publish(m_client, statusMid, statusTopic.c_str(), static_cast<int>(status.size()), status.data(), 1,
                    true);
}

// The login of the next connection: the password file's first line, read now.
bool MqttFeed::readLogin(std::string& why) {
  const Settings& s = m_settings;
  if (s.user.empty()) return true;
  std::string password = s.password;
  if (!s.passwordFile.empty()) {
    // Read with a limit: a wrong path such as /dev/zero must not fill the memory.
    std::string text, error;
    if (const measure::FileRead read = measure::readBoundedFile(s.passwordFile, text, error);
        read != measure::FileRead::Done) {
      why = read == measure::FileRead::TooLarge
                ? error
                : "cannot read the password file '" + s.passwordFile + "': " + measure::readErrorCause(error);
      return false;
    }
    password = text.substr(0, text.find('\n'));
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) {
      why = "the first line of the password file '" + s.passwordFile + "' is empty: it must hold the password";
      return false;
    }
  }
  if (mosquitto_username_pw_set(m_client, s.user.c_str(), password.empty() ? nullptr : password.c_str()) !=
      MOSQ_ERR_SUCCESS) {
    why = "the user name or password is not valid UTF-8";
    return false;
  }
  return true;
}

// Every address of the broker's name, in the order the system prefers them. The look-up
// runs on a thread of its own, so that stop() never waits for a slow name server.
bool MqttFeed::findAddresses(std::string& why) {
  struct Lookup {
    std::mutex mutex;
    bool done = false;
    int rc = 0;
    std::vector<std::pair<int, std::string>> found;  // family, numeric address
  };
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host = m_settings.host] {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    std::vector<std::pair<int, std::string>> found;
    for (const addrinfo* a = list; rc == 0 && a; a = a->ai_next) {
      char text[NI_MAXHOST];
      if (getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
        found.emplace_back(a->ai_family, text);
    }
    if (list) freeaddrinfo(list);
    std::lock_guard lock(lookup->mutex);
    lookup->rc = rc;
    lookup->found = std::move(found);
    lookup->done = true;
  }).detach();
  for (;;) {
    {
      std::lock_guard lock(lookup->mutex);
      if (lookup->done) break;
    }
    std::unique_lock lock(m_mutex);
    if (m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_stopping; })) {
      why = "stopped";
      return false;
    }
  }
  std::lock_guard lock(lookup->mutex);
  if (lookup->rc != 0 || lookup->found.empty()) {
    why = "cannot find the broker '" + m_settings.host + "': " +
          (lookup->rc != 0 ? gai_strerror(lookup->rc) : "no address");
    return false;
  }
  m_addresses.clear();
  m_nextAddress = 0;
  if (m_settings.cafile.empty()) {
    for (const auto& [family, address] : lookup->found)
      if (std::none_of(m_addresses.begin(), m_addresses.end(), [&](const Address& a) { return a.host == address; }))
        m_addresses.push_back({address, nullptr});
    return true;
  }
  // Under TLS the client checks the certificate against the name it connects to: the
  // name it stays, and binding to a family's any-address makes the client take an
  // address of that family.
  bool v4 = false, v6 = false;
  for (const auto& [family, address] : lookup->found) {
    if (family == AF_INET && !v4) m_addresses.push_back({m_settings.host, "0.0.0.0"}), v4 = true;
    if (family == AF_INET6 && !v6) m_addresses.push_back({m_settings.host, "::"}), v6 = true;
  }
  if (m_addresses.size() < 2) m_addresses.assign(1, {m_settings.host, nullptr});
  return true;
}

namespace {

std::string utcText(const ASN1_TIME* time) {
  std::tm tm{};
  if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return "an unknown date";
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

}  // namespace

// What was wrong with the broker's certificate in the handshake that just failed; "" when
// OpenSSL found nothing wrong with it.
std::string MqttFeed::tlsFault(void* handle) const {
  auto* ssl = static_cast<SSL*>(handle);
  STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
  X509* leaf = chain && sk_X509_num(chain) > 0 ? sk_X509_value(chain, 0) : nullptr;
  const long result = SSL_get_verify_result(ssl);
  switch (result) {
    case X509_V_OK:
      // The client checks the host name itself, after OpenSSL found the chain good.
      if (leaf && X509_check_host(leaf, m_settings.host.c_str(), 0, 0, nullptr) != 1 &&
          X509_check_ip_asc(leaf, m_settings.host.c_str(), 0) != 1)
        return "the broker's certificate is not for the host name '" + m_settings.host + "'";
      return {};
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "the broker's certificate expired on " + (leaf ? utcText(X509_get0_notAfter(leaf)) : "an earlier date");
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "the broker's certificate is not valid before " +
             (leaf ? utcText(X509_get0_notBefore(leaf)) : "a later date");
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "the broker's certificate is not for the host name '" + m_settings.host + "'";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "the broker's certificate is not signed by the CA in '" + m_settings.cafile + "' (" +
             X509_verify_cert_error_string(result) + ")";
    default:
      return std::string("the broker's certificate: ") + X509_verify_cert_error_string(result);
  }
}

void MqttFeed::onPublish(int mid) {
  if (const auto data = m_inFlight.find(mid); data != m_inFlight.end()) {
    {
      std::lock_guard lock(m_queueMutex);
      m_queue.acknowledge(data->second);
      m_backlog = static_cast<long long>(m_queue.backlog());
    }
    m_inFlight.erase(data);
    ++m_published;
    m_ackWaitSince = std::chrono::steady_clock::now();
    return;
  }
  std::lock_guard lock(m_mutex);
  if (!m_collectAcks) return;
  m_acked.push_back(mid);
  m_wake.notify_all();
}

// Sends what the queue holds, oldest first, while fewer than kInFlight wait for their
// acknowledgement. Feed thread, connected.
void MqttFeed::pump() {
  std::lock_guard lock(m_queueMutex);
  while (m_inFlight.size() < static_cast<std::size_t>(kInFlight)) {
    if (!m_pending) {
      files::QueuedMessage message;
      if (!m_queue.next(message)) break;
      m_pending = std::move(message);
    }
    int mid = 0;
    if (mosquitto_publish(m_client, &mid, m_pending->topic.c_str(), static_cast<int>(m_pending->payload.size()),
                          m_pending->payload.data(), 1, false) != MOSQ_ERR_SUCCESS)
      break;  // tried again on the next turn
    if (m_inFlight.empty()) m_ackWaitSince = std::chrono::steady_clock::now();
    m_inFlight[mid] = m_pending->id;
    m_pending.reset();
  }
}

// Each second: the acknowledged position noted, and the queue's new messages synced to
// the disk (outside the lock, so a slow disk never holds up the caller of publishData).
void MqttFeed::housekeeping(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - m_lastHousekeeping < std::chrono::seconds(1)) return;
  m_lastHousekeeping = now;
  int fd = -1;
  {
    std::lock_guard lock(m_queueMutex);
    m_queue.saveAcked();
    fd = m_queue.duplicateForSync();
  }
  if (fd >= 0) {
    ::fdatasync(fd);
    ::close(fd);
  }
}

void MqttFeed::waitBeforeRetry(int seconds) {
  std::unique_lock lock(m_mutex);
  m_wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_stopping; });
}

void MqttFeed::run() {
  bool socketUp = false;
  std::chrono::steady_clock::time_point connecting;
  for (;;) {
    {
      std::lock_guard lock(m_mutex);
      if (m_stopping) break;
    }
    housekeeping();
    int rc = MOSQ_ERR_SUCCESS;
    if (!socketUp) {
      {
        std::lock_guard lock(m_errorMutex);
        m_libraryError.clear();
        m_tlsFault.clear();
      }
      m_refusal.clear();
      std::string why;
      if (!readLogin(why) || (m_nextAddress >= m_addresses.size() && !findAddresses(why))) {
        {
          std::lock_guard lock(m_mutex);
          if (m_stopping) break;
        }
        if (!m_reportedDown && m_notify) m_notify("MQTT", why + "; the files go on, retrying in the background");
        m_reportedDown = true;
        waitBeforeRetry(1);
        continue;
      }
      // A non-blocking connect to one of the broker's addresses; the loop below completes
      // it (and the TLS handshake).
      const Address& to = m_addresses[m_nextAddress++];
      rc = mosquitto_connect_bind_async(m_client, to.host.c_str(), m_settings.port, kKeepalive, to.bind);
      socketUp = rc == MOSQ_ERR_SUCCESS;
      connecting = std::chrono::steady_clock::now();
    }
    std::string stalled;
    if (socketUp) {
      // Connected, a short turn: a new data message waits at most that long for the
      // thread to look at the queue (an acknowledgement ends the turn at once).
      rc = mosquitto_loop(m_client, m_connected ? kTurnMs : 500, 1);
      if (rc == MOSQ_ERR_SUCCESS && m_connected) {
        pump();
        if (!m_inFlight.empty() &&
            std::chrono::steady_clock::now() - m_ackWaitSince >= std::chrono::seconds(kAckSeconds)) {
          stalled = "stalled: no acknowledgement within " + std::to_string(kAckSeconds) + " s";
          // Dropped without a goodbye, so that the broker gives the Last Will when it wakes.
          ::shutdown(mosquitto_socket(m_client), SHUT_RDWR);
        }
      }
      if (rc == MOSQ_ERR_KEEPALIVE)
        stalled = "stalled: no answer to a keepalive within " + std::to_string(2 * kKeepalive) + " s";
      if (rc == MOSQ_ERR_SUCCESS && !m_connected) stalled = connectStalled(connecting);
      if (rc == MOSQ_ERR_SUCCESS && stalled.empty()) continue;
      socketUp = false;
      if (m_connected) m_droppedAtLoss = m_dropped;
      m_connected = false;
    }
    {
      std::lock_guard lock(m_mutex);
      if (m_stopping) break;
    }
    if (m_nextAddress < m_addresses.size()) continue;  // the broker's next address, at once
    m_addresses.clear();  // looked up again for the next round
    if (!m_reportedDown) reportDown(rc, stalled);
    // Each second: a broker back from a restart is found within a second, and a try
    // costs one refused connection on the way.
    waitBeforeRetry(1);
  }
}

// Why a connection that has not been accepted yet will not be: the broker's port closed
// it (the client library does not see that under TLS and would wait for ever), or the
// broker said nothing for kAnswerSeconds. "" while it may still come.
std::string MqttFeed::connectStalled(std::chrono::steady_clock::time_point since) {
  const int fd = mosquitto_socket(m_client);
  pollfd p{fd, POLLOUT, 0};
  if (fd >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP))) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error != 0) return std::strerror(error);
    sockaddr_storage peer{};
    socklen_t peerSize = sizeof peer;
    // Never connected: nothing took the connection at that port.
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) return std::strerror(ECONNREFUSED);
    return m_settings.cafile.empty() ? "closed before the broker answered"
                                     : "closed before the broker answered; is it a TLS port?";
  }
  if (std::chrono::steady_clock::now() - since >= std::chrono::seconds(kAnswerSeconds))
    return "no answer within " + std::to_string(kAnswerSeconds) + " s";
  return {};
}

// Once per outage: a refused login, a failed TLS handshake or an unreachable broker.
void MqttFeed::reportDown(int rc, const std::string& stalled) {
  m_reportedDown = true;
  if (!m_notify) return;
  std::string library, fault;
  {
    std::lock_guard lock(m_errorMutex);
    library = m_libraryError;
    fault = m_tlsFault;
  }
  const std::string broker = m_settings.host + ":" + std::to_string(m_settings.port);
  const char* retry = "; the files go on, retrying in the background";
  if (!m_refusal.empty()) {
    m_notify("MQTT", "the broker " + broker + " refused the connection (" + m_refusal + ")" +
                         (m_settings.user.empty() ? "" : " for user '" + m_settings.user + "'") + retry);
  } else if (!m_settings.cafile.empty() && (rc == MOSQ_ERR_TLS || library.find("SSL") != std::string::npos)) {
    const std::string detail = !fault.empty() ? fault + (library.empty() ? "" : "; " + library)
                               : library.empty() ? std::string("no detail")
                                                 : library;
    m_notify("MQTT", "TLS with the broker " + broker + " failed (" + detail + ")" + retry);
  } else {
    const std::string why = !stalled.empty()         ? stalled
                            : !library.empty()       ? library
                            : rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno))
                                                   : std::string(mosquitto_strerror(rc));
    m_notify("MQTT", (m_everConnected ? "lost the broker " : "cannot reach the broker ") + broker + " (" + why + ")" +
                         retry);
  }
}

void MqttFeed::publishData(const std::function<std::string(long long seq)>& json) {
  const std::string topic = topics().base() + "/data";
  const std::int64_t now =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  std::lock_guard lock(m_queueMutex);
  if (!m_queue.isOpen()) {
    ++m_lost;
    ++m_dropped;
    return;
  }
  const long long seq = m_queue.nextSeq(topic);
  const std::uint64_t droppedBefore = m_queue.dropped();
  std::string error;
  if (!m_queue.append(topic, json(seq), seq, now, error)) {
    ++m_lost;
    if (!m_toldQueueFailure && m_notify)
      m_notify("MQTT", "cannot keep a data message (" + error + "): it is lost; the files go on");
    m_toldQueueFailure = true;
  } else {
    m_toldQueueFailure = false;
  }
  if (m_queue.dropped() > droppedBefore && !m_toldQueueFull && m_notify) {
    m_toldQueueFull = true;
    m_notify("MQTT", "the data messages waiting for the broker reached the queue's limits (" +
                         std::to_string(m_settings.queueLimits.maxBytes / 1000000) + " MB, " +
                         std::to_string(m_settings.queueLimits.maxAgeSeconds / 86400.0).substr(0, 4) +
                         " days): the oldest are dropped, and counted in BASE/status");
  }
  m_dropped = static_cast<long long>(m_queue.dropped()) + m_lost;
  m_backlog = static_cast<long long>(m_queue.backlog());
}

void MqttFeed::stop(int waitMs) {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard lock(m_stateMutex);
    m_state = "offline";
    m_reason = "stopped";
  }
  if (m_connected && waitMs > 0) {
    // Said in so many words, in the state and the status: a clean disconnect discards
    // the Last Will.
    {
      std::lock_guard lock(m_mutex);
      m_collectAcks = true;
    }
    // Not under our lock: the client's thread may be in a callback that takes it.
    int mids[2] = {-1, -1};
    publishState(&mids[0], &mids[1]);
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(waitMs), [this, &mids] {
      return std::all_of(std::begin(mids), std::end(mids), [this](int mid) {
        return mid < 0 || std::find(m_acked.begin(), m_acked.end(), mid) != m_acked.end();
      });
    });
  }
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  if (m_connected) mosquitto_disconnect(m_client);
  m_wake.notify_all();
  m_thread.join();
  m_connected = false;
  housekeeping(true);
}

std::unique_ptr<MqttFeed> makeMqttFeed(const MqttOptions& options, const measure::DeviceConfig& config,
                                       const std::string& deviceFile, const std::string& program,
                                       const std::string& version, MqttFeed::Notify notify, const qc::Config* qc) {
  MqttFeed::Settings settings;
  splitHostPort(options.broker, settings.host, settings.port, options.cafile.empty() ? 1883 : 8883);
  settings.user = options.user;
  settings.password = options.password;
  settings.passwordFile = options.passwordFile;
  settings.cafile = options.cafile;
  settings.cert = options.cert;
  settings.key = options.key;
  settings.queueDir = options.queueDir;
  settings.queueLimits = options.queueLimits;
  settings.topics = mqttTopics(options, config.MeterTitle);
  settings.metadata = metadataJson(settings.topics, config, deviceFile, version, program, qc);
  // No device file yet (the window starts without one): which meter it is comes with it.
  if (deviceFile.empty() && options.meterId.empty()) settings.topics.meter.clear();
  return std::make_unique<MqttFeed>(std::move(settings), std::move(notify));
}

void describeMeter(MqttFeed& feed, const MqttOptions& options, const measure::DeviceConfig& config,
                   const std::string& deviceFile, const std::string& program, const std::string& version,
                   const qc::Config* qc) {
  const MqttTopics topics = mqttTopics(options, config.MeterTitle);
  feed.setMeter(topics, metadataJson(topics, config, deviceFile, version, program, qc));
}
}  // namespace acquire
