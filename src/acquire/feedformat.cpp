#include "acquire/feedformat.h"

#include <unistd.h>

#include <charconv>
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

// The length of the UTF-8 sequence `text` starts with, 0 when it is not one (a stray
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
size_t utf8Length(std::string_view text) {
  const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned lead = byte(0);
  size_t n = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) n = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) n = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
  else if (lead >= 0xF0 && lead <= 0xF4) n = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < n; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return n;
}

}  // namespace

std::string topicSafe(std::string_view text, std::string_view empty) {
  std::string out;
  for (const char c : text) {
    if (safeChar(c)) {
      out += c;
    } else if (!out.empty() && out.back() != '_') {
      out += '_';
    }
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out.empty() ? std::string(empty) : out;
}


std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

MqttTopics mqttTopics(const MqttOptions& options, std::string_view title) {
  MqttTopics topics;
  // A prefix may have levels of its own ("fleet/maru"); each is made safe by itself.
  std::string_view prefix = options.prefix;
  while (!prefix.empty()) {
    const size_t slash = prefix.find('/');
    const std::string_view level = prefix.substr(0, slash);
    if (!level.empty()) topics.prefix += (topics.prefix.empty() ? "" : "/") + topicSafe(level, "maru");
    prefix = slash == std::string_view::npos ? std::string_view() : prefix.substr(slash + 1);
  }
  if (topics.prefix.empty()) topics.prefix = "maru";
  topics.platform = topicSafe(options.platform.empty() ? hostName() : options.platform, "host");
  if (!options.meterId.empty()) {
    topics.meter = topicSafe(options.meterId);
  } else {
    const std::string serial = measure::serialFromTitle(title);
    topics.meter = topicSafe(serial.empty() ? title : std::string_view(serial));
  }
  return topics;
}

std::string jsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const size_t n = utf8Length(text.substr(i));
      if (n == 0) {
        out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
        ++i;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string jsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  // Without a precision: the shortest digits that read back as this very double.
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string metadataJson(const MqttTopics& topics, const measure::DeviceConfig& config, const std::string& deviceFile,
                         const std::string& version, const std::string& program, const qc::Config* qc) {
  const std::vector<std::string> names = files::CsvColumnNames(config);
  std::string out = "{\"platform\": " + jsonString(topics.platform) + ", \"meter_id\": " + jsonString(topics.meter) +
                    ", \"title\": " + jsonString(config.MeterTitle) + ", \"device_file\": " + jsonString(deviceFile) +
                    ", \"program\": " + jsonString(program) + ", \"version\": " + jsonString(version) +
                    ", \"time_column\": \"host_time_utc\", \"columns\": [";
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

std::string dataJson(const MqttTopics& topics, const std::vector<std::string>& names, const DataMessage& message) {
  std::string out;
  out.reserve(160 + names.size() * 40 + message.raw.size());
  out += "{\"platform\": ";
  out += jsonString(topics.platform);
  out += ", \"meter_id\": ";
  out += jsonString(topics.meter);
  out += ", \"host_time_utc\": ";
  out += jsonString(message.hostTimeUtc);
  out += ", \"meter_time_utc\": ";
  out += message.meterTimeUtc.empty() ? std::string("null") : jsonString(message.meterTimeUtc);
  out += ", \"count\": ";
  out += std::to_string(message.count);
  out += ", \"seq\": ";
  out += std::to_string(message.seq);
  out += ", \"values\": {";
  for (size_t i = 0; i < names.size() && i < message.values.size(); ++i) {
    if (i > 0) out += ", ";
    out += jsonString(names[i]);
    out += ": ";
    out += jsonNumber(message.values[i]);
  }
  out += "}";
  if (!message.qc.empty()) {
    out += ", \"qc\": ";
    out += message.qc;
  }
  out += ", \"raw\": ";
  out += jsonString(message.raw);
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
}  // namespace acquire
