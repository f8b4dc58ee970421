#include "qc/yamldocument.h"

#include <yaml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <unordered_map>

namespace qc {

namespace {

int lineOf(const yaml_mark_t& mark) { return static_cast<int>(mark.line) + 1; }

bool isNullText(std::string_view text) {
  return text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL";
}

// A collection being read: its node, and for a map the key waiting for its value.
struct Open {
  YamlNode node;
  std::optional<YamlNode> key;
  std::unordered_map<std::string, int> keyLines;
};

class Builder {
 public:
  // Places a finished node: the document itself, a sequence's item, a map's key or value.
  void place(YamlNode node) {
    if (++m_nodes > kYamlMaxNodes) yamlFault(node.line, "more than " + std::to_string(kYamlMaxNodes) + " nodes");
    if (m_open.empty()) {
      m_root = std::move(node);
      return;
    }
    Open& top = m_open.back();
    if (top.node.isSequence()) {
      top.node.items.push_back(std::move(node));
    } else if (!top.key) {
      if (node.isScalar() || node.isNull()) {
        const auto [at, added] = top.keyLines.emplace(node.text, node.line);
        if (!added) yamlFault(node.line, "'" + node.text + "' appears twice (also line " + std::to_string(at->second) + ")");
      }
      top.key = std::move(node);
    } else {
      top.node.keys.push_back(std::move(*top.key));
      top.node.items.push_back(std::move(node));
      top.key.reset();
    }
  }
  void open(YamlNode::Kind kind, int line) {
    if (static_cast<int>(m_open.size()) >= kYamlMaxDepth)
      yamlFault(line, "nested deeper than " + std::to_string(kYamlMaxDepth) + " levels");
    Open o;
    o.node.kind = kind;
    o.node.line = line;
    m_open.push_back(std::move(o));
  }
  void close() {
    YamlNode node = std::move(m_open.back().node);
    m_open.pop_back();
    place(std::move(node));
  }
  std::optional<YamlNode>& root() { return m_root; }

 private:
  std::vector<Open> m_open;
  std::optional<YamlNode> m_root;
  int m_nodes = 0;
};

struct Parser {
  yaml_parser_t parser;
  Parser() { yaml_parser_initialize(&parser); }
  ~Parser() { yaml_parser_delete(&parser); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
};

struct Event {
  yaml_event_t event{};
  ~Event() { yaml_event_delete(&event); }
};

void parserFault(const yaml_parser_t& parser, std::string_view text) {
  std::string message = parser.problem ? parser.problem : "the text is not YAML";
  if (parser.context) message += std::string(" (") + parser.context + ")";
  int line = lineOf(parser.problem_mark);
  if (parser.error == YAML_READER_ERROR) {
    const size_t offset = std::min(parser.problem_offset, text.size());
    line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
  }
  // The end of the text counts as its last line, not the one after it.
  const std::string_view body = !text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text;
  const int lastLine = 1 + static_cast<int>(std::count(body.begin(), body.end(), '\n'));
  yamlFault(std::min(line, lastLine), message);
}

std::optional<YamlNode> read(std::string_view text) {
  Parser p;
  yaml_parser_set_input_string(&p.parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  Builder builder;
  int documents = 0;
  for (;;) {
    Event e;
    if (!yaml_parser_parse(&p.parser, &e.event)) parserFault(p.parser, text);
    const int line = lineOf(e.event.start_mark);
    // The first event of a second document names where it starts.
    if (documents > 1) yamlFault(line, "a second YAML document; the file holds one");
    switch (e.event.type) {
      case YAML_STREAM_END_EVENT: return std::move(builder.root());
      case YAML_DOCUMENT_START_EVENT: ++documents; break;
      case YAML_ALIAS_EVENT:
        yamlFault(line, "an alias (*" + std::string(reinterpret_cast<const char*>(e.event.data.alias.anchor)) +
                        "): aliases are not read; write the value out");
      case YAML_SCALAR_EVENT: {
        YamlNode node;
        node.line = line;
        node.text.assign(reinterpret_cast<const char*>(e.event.data.scalar.value), e.event.data.scalar.length);
        node.plain = e.event.data.scalar.style == YAML_PLAIN_SCALAR_STYLE;
        node.kind = node.plain && isNullText(node.text) ? YamlNode::Kind::Null : YamlNode::Kind::Scalar;
        builder.place(std::move(node));
        break;
      }
      case YAML_SEQUENCE_START_EVENT: builder.open(YamlNode::Kind::Sequence, line); break;
      case YAML_MAPPING_START_EVENT: builder.open(YamlNode::Kind::Map, line); break;
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT: builder.close(); break;
      default: break;  // stream start, document end
    }
  }
}

}  // namespace

YamlResult readYaml(std::string_view text) {
  YamlResult result;
  try {
    result.root = read(text);
  } catch (const YamlFault& f) {
    result.root.reset();
    result.error = f.message;
    result.errorLine = std::max(1, f.line);
  }
  return result;
}

std::optional<double> finiteNumber(std::string_view text) {
  // from_chars takes no '+'; one before a digit or point is still a number.
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  double x = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, x);
  if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(x)) return std::nullopt;
  return x;
}

std::optional<double> yamlNumber(const YamlNode& node) {
  if (!node.isScalar() || !node.plain) return std::nullopt;
  return finiteNumber(node.text);
}

}  // namespace qc
