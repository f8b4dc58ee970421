#pragma once
// A quality-control configuration in the layout ioos_qc users write:
//
//   streams:
//     bbp_470_per_m:
//       qartod:
//         gross_range_test: {suspect_span: [0.0, 0.01], fail_span: [0.0, 0.05]}
//         spike_test: {suspect_threshold: 0.002, fail_threshold: 0.005}
//         rate_of_change_test: {threshold: 0.0005, fail_threshold: 0.002}
//         flat_line_test: {tolerance: 1.0e-6, suspect_threshold: 60, fail_threshold: 300}
//         aggregate:
//
// Read whole or not at all: any unknown key, wrong type or impossible setting is an error
// naming its line. Only `streams` is read at the top level (ioos_qc's other top-level keys
// are errors too); a stream holds only `qartod`, which lists at least one of the four tests
// and may list `aggregate` (empty: every stream's aggregate flag is always computed).
// Numbers are plain (unquoted) finite YAML numbers; spans are two of them in either order.
// gross_range_test needs fail_span (suspect_span, optional, within it); spike_test needs
// suspect_threshold or fail_threshold or both and takes method (average, the default, or
// differential); rate_of_change_test needs threshold and takes fail_threshold;
// flat_line_test needs suspect_threshold and fail_threshold (seconds, above 0) and takes
// tolerance (default 0, which never flags). No threshold or tolerance is negative.
#include <optional>
#include <string>
#include <vector>

#include "qc/flags.h"

namespace qc {

struct GrossRange {
  double failMin = 0, failMax = 0;               ///< failMin <= failMax
  std::optional<double> suspectMin, suspectMax;  ///< both or neither; inside the fail span
};
enum class SpikeMethod {
  Average,       ///< how far the value lies from the mean of its two neighbours
  Differential,  ///< the smaller of its steps from and to its neighbours, when they turn back; else 0
};
struct Spike {
  std::optional<double> suspect, fail;  ///< limits on the method's measure; one at least
  SpikeMethod method = SpikeMethod::Average;
};
struct RateOfChange {
  double threshold = 0;         ///< units per second: above it suspect
  std::optional<double> fail;  ///< units per second: above it fail
};
struct FlatLine {
  double tolerance = 0;
  double suspectSeconds = 0, failSeconds = 0;  ///< as written; the checks cut them to whole seconds
};

struct StreamConfig {
  std::string name;  ///< a CSV column name, or a raw-counts name ("counts_470")
  int line = 0;      ///< where the stream's key is in the file (1-based)
  std::optional<GrossRange> grossRange;
  std::optional<Spike> spike;
  std::optional<RateOfChange> rateOfChange;
  std::optional<FlatLine> flatLine;
  bool aggregate = false;  ///< `aggregate` listed (changes nothing: the aggregate is always made)

  /// Whether `test` is configured for this stream.
  bool runs(Test test) const {
    switch (test) {
      case Test::GrossRange: return grossRange.has_value();
      case Test::Spike: return spike.has_value();
      case Test::RateOfChange: return rateOfChange.has_value();
      case Test::FlatLine: return flatLine.has_value();
    }
    return false;
  }
};

struct Config {
  std::vector<StreamConfig> streams;  ///< in file order
  std::string text;                   ///< the configuration as read, for the files' metadata
};

/// A configuration or why there is none: "line 4: spike_test: suspect_threshold is not a number".
struct ConfigResult {
  std::optional<Config> config;
  std::string error;
};

/// Reads a configuration from YAML text.
ConfigResult parseConfig(const std::string& yaml);
/// Reads the file at `path`; errors start with the path ("qc.yml: line 4: …").
ConfigResult loadConfig(const std::string& path);

/// "" when every stream of `config` is one of `known`; else the first that is not, with
/// its line and the names there are.
std::string checkStreamNames(const Config& config, const std::vector<std::string>& known);

}  // namespace qc
