#include "qc/config.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

#include "measure/boundedfile.h"
#include "qc/flags.h"
#include "qc/yamldocument.h"

namespace qc {

namespace {

[[noreturn]] void fault(int line, std::string message) { yamlFault(line, std::move(message)); }

// The 1-based line a node starts on. An empty value has no place of its own (the parser
// puts it at the token after it), so those take `fallback`: their key's line.
int lineOf(const YamlNode& node, int fallback) { return node.isNull() ? fallback : node.line; }

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string numberText(double x) {
  std::array<char, 32> buf{};
  const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), x);
  return std::string(buf.data(), result.ptr);
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

// A map's entries by key, in file order (the reader refuses a key given twice).
struct Entry {
  std::string key;
  int line;  ///< the key's
  const YamlNode* value;
};

// `what` names the map in messages about a key ("stream 'x': keys must be names").
std::vector<Entry> entriesOf(const YamlNode& map, const std::string& what) {
  std::vector<Entry> entries;
  for (size_t i = 0; i < map.keys.size(); ++i) {
    const YamlNode& key = map.keys[i];
    if (!key.isScalar() || key.text.empty()) fault(key.line, what + "keys must be names");
    entries.push_back({key.text, key.line, &map.items[i]});
  }
  return entries;
}

// One test's parameters: known names only, then taken one by one.
class Parameters {
 public:
  Parameters(const Entry& test, const std::vector<std::string>& known) : m_test(test.key), m_line(test.line) {
    if (!test.value->isMap()) fault(lineOf(*test.value, m_line), m_test + " must be a map of its parameters");
    // Parameter names are checked before any value, so a misspelt one is named as such.
    m_entries = entriesOf(*test.value, m_test + ": ");
    for (const Entry& e : m_entries)
      if (std::find(known.begin(), known.end(), e.key) == known.end())
        fault(e.line, m_test + ": unknown parameter " + quoted(e.key) + "; its parameters are " + joined(known));
  }

  int line() const { return m_line; }
  const std::string& test() const { return m_test; }
  const Entry* find(std::string_view name) const {
    for (const Entry& e : m_entries)
      if (e.key == name) return &e;
    return nullptr;
  }

  std::optional<double> number(std::string_view name) const {
    const Entry* e = find(name);
    if (!e) return std::nullopt;
    const std::optional<double> x = yamlNumber(*e->value);
    if (!x) fault(lineOf(*e->value, e->line), m_test + ": " + e->key + " is not a number");
    return x;
  }
  double required(std::string_view name) const {
    const std::optional<double> x = number(name);
    if (!x) fault(m_line, m_test + ": " + std::string(name) + " is missing");
    return *x;
  }
  std::optional<double> notNegative(std::string_view name) const {
    const std::optional<double> x = number(name);
    if (x && *x < 0) fault(valueLine(name), m_test + ": " + std::string(name) + " must not be negative");
    return x;
  }
  /// One of `choices` (text), or `fallback` when not given.
  std::string choice(std::string_view name, const std::vector<std::string>& choices, const std::string& fallback) const {
    const Entry* e = find(name);
    if (!e) return fallback;
    if (!e->value->isScalar() || std::find(choices.begin(), choices.end(), e->value->text) == choices.end())
      fault(lineOf(*e->value, e->line), m_test + ": " + e->key + " must be one of " + joined(choices));
    return e->value->text;
  }
  int valueLine(std::string_view name) const {
    const Entry* e = find(name);
    return e ? lineOf(*e->value, e->line) : m_line;
  }
  /// [min, max] from a list of two numbers in either order.
  std::optional<std::array<double, 2>> span(std::string_view name) const {
    const Entry* e = find(name);
    if (!e) return std::nullopt;
    const int line = lineOf(*e->value, e->line);
    std::optional<double> a, b;
    if (e->value->isSequence() && e->value->items.size() == 2) {
      a = yamlNumber(e->value->items[0]);
      b = yamlNumber(e->value->items[1]);
    }
    if (!a || !b) fault(line, m_test + ": " + e->key + " must be a list of two numbers");
    return std::array<double, 2>{std::min(*a, *b), std::max(*a, *b)};
  }

 private:
  std::string m_test;
  int m_line;
  std::vector<Entry> m_entries;
};

GrossRange grossRangeOf(const Parameters& p) {
  const auto fail = p.span("fail_span");
  if (!fail) fault(p.line(), p.test() + ": fail_span is missing");
  GrossRange g;
  g.failMin = (*fail)[0];
  g.failMax = (*fail)[1];
  if (const auto suspect = p.span("suspect_span")) {
    if ((*suspect)[0] < g.failMin || (*suspect)[1] > g.failMax)
      fault(p.find("suspect_span")->line, p.test() + ": suspect_span [" + numberText((*suspect)[0]) + ", " +
                                              numberText((*suspect)[1]) + "] must lie within fail_span [" +
                                              numberText(g.failMin) + ", " + numberText(g.failMax) + "]");
    g.suspectMin = (*suspect)[0];
    g.suspectMax = (*suspect)[1];
  }
  return g;
}

Spike spikeOf(const Parameters& p) {
  Spike s;
  s.suspect = p.notNegative("suspect_threshold");
  s.fail = p.notNegative("fail_threshold");
  if (!s.suspect && !s.fail) fault(p.line(), p.test() + " needs suspect_threshold or fail_threshold (or both)");
  if (p.choice("method", {"average", "differential"}, "average") == "differential") s.method = SpikeMethod::Differential;
  return s;
}

RateOfChange rateOfChangeOf(const Parameters& p) {
  p.required("threshold");
  return RateOfChange{p.notNegative("threshold").value(), p.notNegative("fail_threshold")};
}

FlatLine flatLineOf(const Parameters& p) {
  const auto seconds = [&p](const std::string& name) {
    const double x = p.required(name);
    if (!(x > 0)) fault(p.valueLine(name), p.test() + ": " + name + " must be more than 0 seconds");
    return x;
  };
  FlatLine f;
  f.tolerance = p.notNegative("tolerance").value_or(0.0);
  f.suspectSeconds = seconds("suspect_threshold");
  f.failSeconds = seconds("fail_threshold");
  return f;
}

void readTest(const Entry& test, StreamConfig& stream) {
  if (test.key == testName(Test::GrossRange)) {
    stream.grossRange = grossRangeOf(Parameters(test, {"suspect_span", "fail_span"}));
  } else if (test.key == testName(Test::Spike)) {
    stream.spike = spikeOf(Parameters(test, {"suspect_threshold", "fail_threshold", "method"}));
  } else if (test.key == testName(Test::RateOfChange)) {
    stream.rateOfChange = rateOfChangeOf(Parameters(test, {"threshold", "fail_threshold"}));
  } else if (test.key == testName(Test::FlatLine)) {
    stream.flatLine = flatLineOf(Parameters(test, {"tolerance", "suspect_threshold", "fail_threshold"}));
  } else if (test.key == "aggregate") {
    // The worst flag of the stream's tests, which every output carries anyway.
    if (!test.value->isNull() && !(test.value->isMap() && test.value->items.empty()))
      fault(lineOf(*test.value, test.line), "aggregate takes no parameters");
    stream.aggregate = true;
  } else {
    std::vector<std::string> names;
    for (const Test t : kTests) names.emplace_back(testName(t));
    fault(test.line, "unknown test " + quoted(test.key) + "; the tests are " + joined(names) + " (and aggregate)");
  }
}

StreamConfig readStream(const Entry& entry) {
  StreamConfig stream;
  stream.name = entry.key;
  stream.line = entry.line;
  const std::string what = "stream " + quoted(entry.key);
  if (!entry.value->isMap()) fault(lineOf(*entry.value, entry.line), what + " must be a map holding 'qartod'");
  const Entry* qartod = nullptr;
  const std::vector<Entry> keys = entriesOf(*entry.value, what + ": ");
  for (const Entry& e : keys) {
    if (e.key != "qartod") fault(e.line, what + ": unknown key " + quoted(e.key) + "; a stream holds only 'qartod'");
    qartod = &e;
  }
  if (!qartod) fault(entry.line, what + " has no 'qartod'");
  if (qartod->value->isNull() || (qartod->value->isMap() && qartod->value->items.empty()))
    fault(qartod->line, what + ": qartod lists no tests");
  if (!qartod->value->isMap()) fault(lineOf(*qartod->value, qartod->line), what + ": qartod must be a map of tests");
  for (const Entry& test : entriesOf(*qartod->value, what + ": qartod: ")) readTest(test, stream);
  if (std::none_of(kTests.begin(), kTests.end(), [&stream](Test t) { return stream.runs(t); }))
    fault(qartod->line, what + ": qartod lists no tests besides aggregate");
  return stream;
}

Config read(const std::string& text) {
  const YamlResult yaml = readYaml(text);
  if (!yaml.error.empty()) fault(yaml.errorLine, yaml.error);
  if (!yaml.root) fault(1, "the configuration is empty; it needs 'streams'");
  const YamlNode& root = *yaml.root;
  if (!root.isMap()) fault(lineOf(root, 1), "the configuration must be a map holding 'streams'");

  const Entry* streams = nullptr;
  const std::vector<Entry> top = entriesOf(root, "");
  for (const Entry& e : top) {
    if (e.key != "streams") fault(e.line, "unknown key " + quoted(e.key) + "; a configuration holds only 'streams'");
    streams = &e;
  }
  if (!streams) fault(lineOf(root, 1), "no 'streams'");
  if (!streams->value->isMap())
    fault(lineOf(*streams->value, streams->line), "streams must be a map of stream names to their tests");
  if (streams->value->items.empty()) fault(streams->line, "streams lists no stream");

  Config config;
  for (const Entry& entry : entriesOf(*streams->value, "streams: ")) config.streams.push_back(readStream(entry));
  config.text = text;
  return config;
}

}  // namespace

ConfigResult parseConfig(const std::string& yaml) {
  ConfigResult result;
  try {
    result.config = read(yaml);
  } catch (const YamlFault& f) {
    result.error = "line " + std::to_string(f.line) + ": " + f.message;
  }
  return result;
}

ConfigResult loadConfig(const std::string& path) {
  std::string text, error;
  if (measure::readBoundedFile(path, text, error) != measure::FileRead::Done) return {std::nullopt, error};

  ConfigResult result = parseConfig(text);
  if (!result.config) result.error = path + ": " + result.error;
  return result;
}

std::string checkStreamNames(const Config& config, const std::vector<std::string>& known) {
  for (const StreamConfig& s : config.streams) {
    if (std::find(known.begin(), known.end(), s.name) != known.end()) continue;
    const std::string message = "line " + std::to_string(s.line) + ": unknown stream " + quoted(s.name);
    return known.empty() ? message + "; this meter has no streams" : message + "; the streams of this meter are: " + joined(known);
  }
  return "";
}

}  // namespace qc
