#pragma once
// What the live feeds send, apart from how it travels: MQTT topics, the JSON of the
// metadata, data and QC messages, and the HOST:PORT form of an address. Plain C++.
#include <string>
#include <string_view>
#include <vector>

#include "files/feedqueue.h"
#include "files/qcrun.h"
#include "measure/deviceconfig.h"
#include "qc/config.h"

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
  std::string queueDir;         ///< where data messages wait for the broker; "": in memory
  files::FeedQueueLimits queueLimits;
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
  long long seq = 0;                      ///< this meter's, continuing across restarts
  std::vector<double> values;             ///< paired in order with the column names
  std::string_view raw;                   ///< the line as received
  std::string_view qc;                    ///< a qcJson object, or "" without quality control
};

/// One data message: {"platform", "meter_id", "host_time_utc": "...Z", "meter_time_utc":
/// "...Z" or null, "count": N, "seq": N, "values": {"<name>": number or null, ...}, "raw": "<line>"},
/// with "qc" after "values" when the sample has flags. Values as jsonNumber.
std::string dataJson(const MqttTopics& topics, const std::vector<std::string>& names, const DataMessage& message);

/// The live flags of a sample: {"<stream>": {"aggregate": F, "<test>": F, ...}, ...} with
/// the tests run on arrival (gross range, rate of change, flat line; the spike test waits
/// for the next sample and is left out).
std::string qcJson(const files::QcRun& qc);

/// "HOST[:PORT]" or "[V6ADDR]:PORT"; false when the port is not 1..65535 or the host is empty.
bool splitHostPort(const std::string& text, std::string& host, int& port, int defaultPort);

}  // namespace acquire
