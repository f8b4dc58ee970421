#pragma once
// The live feeds as one sink of the session: each accepted sample to MQTT and UDP, and
// one rule for the MQTT state word that both front ends follow. What the messages say is
// in feedformat.h, how they travel in mqttfeed.h and udpfeed.h.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "acquire/feedformat.h"
#include "acquire/mqttfeed.h"
#include "acquire/session.h"
#include "acquire/udpfeed.h"

namespace acquire {

/// What a front end's feed options ask for.
struct FeedOptions {
  MqttOptions mqtt;     ///< broker "": no MQTT feed
  std::string udp;      ///< "HOST:PORT"; "": no UDP feed
  std::string program;  ///< which front end publishes ("maru log", "maruview")
  std::string version;  ///< the program's, for the metadata
};

/// What the MQTT state word follows.
struct FeedHealth {
  std::string port;              ///< the port as the reasons name it
  bool portOpen = false;
  std::string recordingStopped;  ///< why recording stopped; "" while it goes on
};

/// The state word and its reason, by one rule for every front end: "starting" until the
/// port was first opened (`openedBefore`: it was open at some time in this run), "port_lost" while it is not open after that,
/// "recording_stopped" while the port is open but recording stopped, else "online".
/// ("offline" is the broker's Last Will and the word of MqttFeed::stop.)
std::pair<std::string, std::string> feedState(const FeedHealth& health, bool openedBefore);

/// The live feeds as a sink of the session: each sample becomes one MQTT data message and
/// one UDP datagram "<id> <time_utc> <raw line>" (either feed may be absent). `count` in
/// the messages is the samples since the feeds were made, `seq` the meter's sequence
/// number from the MQTT feed's queue; the value names follow the
/// device file in force, the platform and meter id the MQTT feed's topics, the datagram's
/// id the device file's title.
class Feeds : public Sink {
 public:
  using Notify = std::function<void(const std::string& caption, const std::string& text)>;
  /// `config` is the session's, read live; it must outlive the feeds. `notify` hears the
  /// feeds' news (the MQTT client's on its own thread).
  Feeds(FeedOptions options, const measure::DeviceConfig& config, Notify notify);
  ~Feeds() override;
  Feeds(const Feeds&) = delete;
  Feeds& operator=(const Feeds&) = delete;

  /// Makes the UDP socket, when asked for: "" or why not (then there is no UDP feed).
  std::string openUdp();
  /// Starts the MQTT client, when asked for, describing the meter of `deviceFile` ("":
  /// none loaded yet; without a meter id the client then waits for describeMeter) with
  /// `qc` in force: "" or why not (then there is no MQTT feed). An unreachable broker is
  /// not an error: it is tried again in the background.
  std::string startMqtt(const std::string& deviceFile, const qc::Config* qc);
  /// After a device file was loaded (or quality control changed): the metadata, the
  /// topics when the meter's id comes from the title, and the datagrams' id.
  void describeMeter(const std::string& deviceFile, const qc::Config* qc);
  /// The MQTT state word by feedState (the port counts as opened before once a health
  /// with it open was given), published when it changes.
  void setHealth(const FeedHealth& health);
  /// Says "offline" and ends the MQTT client (at most 2 s).
  void stop();

  void sample(const SampleRecord& record) override;

  /// What a front end shows of the MQTT feed.
  struct MqttStatus {
    bool on = false;         ///< there is an MQTT feed
    bool connected = false;  ///< the broker took the connection
    std::string state;       ///< the state word published (feedState)
    long long backlog = 0;   ///< data messages waiting for the broker's acknowledgement
    long long published = 0, dropped = 0;  ///< acknowledged, and lost to the queue's limits, since start
  };
  MqttStatus mqttStatus() const;
  bool mqttConnected() const { return m_mqtt && m_mqtt->connected(); }
  bool hasMqtt() const { return m_mqtt != nullptr; }
  /// The CSV values of the latest sample (",v1,v2,..."), and the column names.
  const std::string& lastValues() const { return m_values; }
  const std::vector<std::string>& names() const { return m_names; }

 private:
  FeedOptions m_options;
  const measure::DeviceConfig& m_config;
  Notify m_notify;
  std::unique_ptr<MqttFeed> m_mqtt;
  std::unique_ptr<UdpFeed> m_udp;
  std::pair<std::string, std::string> m_state;
  bool m_portOpenedBefore = false;
  std::vector<std::string> m_names;
  measure::DeviceConfig m_namedFor;  // the columns m_names were made for
  std::string m_id;
  long long m_count = 0;
  std::string m_values;
  std::vector<double> m_numbers;
  bool m_udpFailureReported = false;
};

}  // namespace acquire
