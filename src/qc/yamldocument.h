#pragma once
// A YAML document as a small tree that keeps the line each node starts on, for the files
// people write by hand (QC configurations, NetCDF attributes). Read with libyaml; text
// that could make the reading costly is refused, not followed: aliases (*name), nesting
// deeper than kYamlMaxDepth, more than kYamlMaxNodes nodes, a key twice in one map, and a
// second document.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qc {

inline constexpr int kYamlMaxDepth = 64;
inline constexpr int kYamlMaxNodes = 100000;

struct YamlNode {
  enum class Kind { Null, Scalar, Sequence, Map };
  Kind kind = Kind::Null;  ///< Null: nothing, "~" or "null" written without quotes
  int line = 1;            ///< where the node starts (1-based)
  std::string text;        ///< a scalar's text
  bool plain = false;      ///< a scalar written without quotes (nor | or >)
  std::vector<YamlNode> items;  ///< a sequence's items, or a map's values, in file order
  std::vector<YamlNode> keys;   ///< a map's keys: keys[i] is the key of items[i]

  bool isScalar() const { return kind == Kind::Scalar; }
  bool isMap() const { return kind == Kind::Map; }
  bool isSequence() const { return kind == Kind::Sequence; }
  bool isNull() const { return kind == Kind::Null; }
};

/// The first fault found in a file read by hand: readers throw it (yamlFault()) and stop
/// there, so nothing is half read, and catch it where they report.
struct YamlFault {
  int line;  ///< 1-based
  std::string message;
};
[[noreturn]] inline void yamlFault(int line, std::string message) { throw YamlFault{line, std::move(message)}; }

/// The document of some YAML text, or the first fault in it.
struct YamlResult {
  std::optional<YamlNode> root;  ///< none for text without a document (empty, comments only)
  std::string error;             ///< "" when read
  int errorLine = 0;             ///< where the fault is (1-based), with `error`
};

/// Reads `text`, one YAML document at most. Faults: the parser's ("did not find expected
/// ',' or ']' (while parsing a flow sequence)"), "an alias (*name) ...", "nested deeper than
/// 64 levels", "'key' appears twice (also line 3)", "a second YAML document ...".
YamlResult readYaml(std::string_view text);

/// The value of a plain scalar that reads as a finite number in the C locale ("1", "-2.5",
/// "+1e-3"); none for anything else: quoted text, ".inf", ".nan", "1e999", "abc".
std::optional<double> yamlNumber(const YamlNode& node);

/// The same test on bare text: the whole of it is one finite number.
std::optional<double> finiteNumber(std::string_view text);

}  // namespace qc
