// Quality-control configurations: one read back in full, and every kind of fault with
// the line it names.
#include "qc/config.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/testfiles.h"

using namespace qc;

namespace {

const std::string kGood =
    "# bench meter\n"
    "streams:\n"
    "  bbp_470_per_m:\n"
    "    qartod:\n"
    "      gross_range_test: {suspect_span: [0.01, 0.0], fail_span: [0.05, -0.01]}\n"
    "      spike_test: {suspect_threshold: 0.002, fail_threshold: 0.005}\n"
    "      rate_of_change_test: {threshold: 5.0e-4, fail_threshold: 0.002}\n"
    "      flat_line_test: {tolerance: 1.0e-6, suspect_threshold: 60, fail_threshold: 300}\n"
    "      aggregate:\n"
    "  counts_470:\n"
    "    qartod:\n"
    "      spike_test:\n"
    "        fail_threshold: 40\n"
    "        method: differential\n"
    "      flat_line_test: {suspect_threshold: 2.5, fail_threshold: 10}\n"
    "      aggregate: {}\n";

TEST(Config, GoodReadBackFully) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("qc.yml"), kGood);
  EXPECT_EQ(loadConfig(dir.file("none.yml")).error.rfind(dir.file("none.yml") + ": cannot open", 0), 0U);
  const ConfigResult r = loadConfig(dir.file("qc.yml"));
  ASSERT_TRUE(r.config) << r.error;
  EXPECT_EQ(r.config->text, kGood);
  ASSERT_EQ(r.config->streams.size(), 2U);
  const StreamConfig& a = r.config->streams[0];
  const StreamConfig& b = r.config->streams[1];
  ASSERT_TRUE(a.grossRange && a.spike && a.rateOfChange && a.flatLine && b.spike && b.flatLine);
  EXPECT_EQ(std::tuple(a.name, a.line, b.name, b.line), std::tuple("bbp_470_per_m", 3, "counts_470", 10));
  const GrossRange& g = *a.grossRange;
  EXPECT_EQ(std::tie(g.failMin, g.failMax, g.suspectMin, g.suspectMax), std::tuple(-0.01, 0.05, 0.0, 0.01));
  EXPECT_EQ(std::tie(a.spike->suspect, a.spike->fail, a.rateOfChange->threshold, a.rateOfChange->fail),
            std::tuple(0.002, 0.005, 5.0e-4, 0.002));
  EXPECT_EQ(std::tuple(a.spike->method, b.spike->method, a.aggregate, b.aggregate),
            std::tuple(SpikeMethod::Average, SpikeMethod::Differential, true, true));
  EXPECT_EQ(std::tie(a.flatLine->tolerance, a.flatLine->suspectSeconds, a.flatLine->failSeconds), std::tuple(1.0e-6, 60, 300));
  EXPECT_FALSE(b.grossRange || b.rateOfChange || b.spike->suspect);
  EXPECT_EQ(std::tie(b.spike->fail, b.flatLine->tolerance, b.flatLine->suspectSeconds), std::tuple(40, 0, 2.5));
}

struct BadCase {
  const char* name;
  std::string yaml;
  int line;
  std::string fragment;
};

class BadConfig : public ::testing::TestWithParam<BadCase> {};

// Read from a file, so the error also starts with the path.
TEST_P(BadConfig, NamesLineAndFault) {
  const BadCase& c = GetParam();
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("qc.yml"), c.yaml);
  const ConfigResult r = loadConfig(dir.file("qc.yml"));
  EXPECT_FALSE(r.config);
  EXPECT_EQ(r.error.rfind(dir.file("qc.yml") + ": line " + std::to_string(c.line) + ": ", 0), 0U) << r.error;
  EXPECT_NE(r.error.find(c.fragment), std::string::npos) << r.error;
}

const std::string S = "streams:\n  s:\n    qartod:\n";  // a test's key goes on line 4
const std::string kOk = "streams:\n  s: {qartod: {rate_of_change_test: {threshold: 1}}}\n";

// 331 bytes of flow mappings left open: refused at once, in little memory.
const std::string kUnclosedFlows =
    "streams:\n"
    "  bbp_470_per_m:\n"
    "    qartod:\n"
    "      gross_range_test: {suspect_span: [0.0, 0.01], fail_span: [0.0, 0.05]\n"
    "      spike_test: {suspect_threshold: 0.002, fail_threshold: {0.005: {a: {b: {c\n"
    "      rate_of_change_test: {threshold: 0.0005, {{{{[\n"
    "      flat_line_test: {tolerance: 1.0e-6, suspect_threshold: 60, fail_threshold: 300\n";

// Each level names the one before it ten times: a billion "lol"s if aliases were followed.
std::string laughs() {
  std::string text = "l0: &l0 lol\n";
  for (int level = 1; level <= 9; ++level) {
    text += "l" + std::to_string(level) + ": &l" + std::to_string(level) + " [";
    for (int i = 0; i < 10; ++i) text += (i ? ", *l" : "*l") + std::to_string(level - 1);
    text += "]\n";
  }
  return text + "streams: *l9\n";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BadConfig,
    ::testing::Values(
        BadCase{"Syntax", "streams:\n  s: [1, 2\n  t: 3\n", 3, "did not find expected ',' or ']'"},
        BadCase{"UnclosedFlowMappings", kUnclosedFlows, 5, "did not find expected ',' or '}'"},
        BadCase{"Aliases", laughs(), 2, "an alias (*l0): aliases are not read"},
        BadCase{"TooDeep", "streams: " + std::string(100, '[') + "\n", 1, "nested deeper than 64 levels"},
        BadCase{"ControlCharacter", kOk + "# \x01\n", 3, "control characters are not allowed"},
        BadCase{"DuplicateParameter", S + "      spike_test: {fail_threshold: 1, fail_threshold: 2}\n", 4,
                "'fail_threshold' appears twice (also line 4)"},
        BadCase{"Empty", "# nothing\n", 1, "empty"},
        BadCase{"TwoDocuments", kOk + "---\n" + kOk, 4, "second YAML document"},
        BadCase{"NoStreams", "{}\n", 1, "no 'streams'"},
        BadCase{"UnknownTopKey", kOk + "region: x\n", 3, "unknown key 'region'"},
        BadCase{"DuplicateStream", kOk + "  s: {qartod: {spike_test: {fail_threshold: 1}}}\n", 3, "'s' appears twice (also line 2)"},
        BadCase{"StreamEmpty", "streams:\n  s:\n", 2, "stream 's' must be a map"},
        BadCase{"NoQartod", "streams:\n  s: {}\n", 2, "has no 'qartod'"},
        BadCase{"UnknownStreamKey", S + "      spike_test: {fail_threshold: 1}\n    units: m\n", 5, "unknown key 'units'"},
        BadCase{"QartodEmpty", "streams:\n  s:\n    qartod: {}\n", 3, "lists no tests"},
        BadCase{"QartodNotMap", "streams:\n  s:\n    qartod: [spike_test]\n", 3, "must be a map of tests"},
        BadCase{"UnknownTest", S + "      climatology_test: {}\n", 4,
                "unknown test 'climatology_test'; the tests are gross_range_test, spike_test, rate_of_change_test, flat_line_test (and aggregate)"},
        BadCase{"AggregateAlone", "streams:\n  s:\n    qartod: {aggregate: }\n", 3, "lists no tests besides aggregate"},
        BadCase{"AggregateWithParameters", S + "      spike_test: {fail_threshold: 1}\n      aggregate: {x: 1}\n", 5,
                "aggregate takes no parameters"},
        BadCase{"SpikeMethodUnknown", S + "      spike_test:\n        fail_threshold: 1\n        method: median\n", 6,
                "method must be one of average, differential"},
        BadCase{"TestNotMap", S + "      spike_test: 3\n", 4, "spike_test must be a map"},
        BadCase{"UnknownParameter", S + "      spike_test:\n        suspect_threshold: 1\n        fail_treshold: 2\n", 6,
                "unknown parameter 'fail_treshold'"},
        BadCase{"MissingParameter", S + "      rate_of_change_test: {fail_threshold: 2}\n", 4, "threshold is missing"},
        BadCase{"NotANumber", S + "      spike_test:\n        suspect_threshold: abc\n", 5, "suspect_threshold is not a number"},
        BadCase{"QuotedNumber", S + "      rate_of_change_test: {threshold: '1'}\n", 4, "threshold is not a number"},
        BadCase{"InfiniteNumber", S + "      rate_of_change_test: {threshold: .inf}\n", 4, "threshold is not a number"},
        BadCase{"SpanOfOne", S + "      gross_range_test: {fail_span: [1]}\n", 4, "fail_span must be a list of two numbers"},
        BadCase{"SuspectOutsideFail", S + "      gross_range_test: {suspect_span: [0, 11], fail_span: [10, 0]}\n", 4,
                "suspect_span [0, 11] must lie within fail_span [0, 10]"},
        BadCase{"GrossWithoutFail", S + "      gross_range_test: {suspect_span: [0, 1]}\n", 4, "fail_span is missing"},
        BadCase{"SpikeWithoutThreshold", S + "      spike_test: {}\n", 4, "needs suspect_threshold or fail_threshold"},
        BadCase{"Negative", S + "      flat_line_test: {tolerance: -1, suspect_threshold: 1, fail_threshold: 2}\n", 4,
                "tolerance must not be negative"},
        BadCase{"FlatZeroSeconds", S + "      flat_line_test: {suspect_threshold: 0, fail_threshold: 2}\n", 4,
                "suspect_threshold must be more than 0 seconds"}),
    [](const auto& info) { return testsupport::testNameOf(info.param.name); });

TEST(Config, StreamNamesOfTheMeter) {
  const Config config = *parseConfig(kGood).config;
  EXPECT_EQ(checkStreamNames(config, {"counts_470", "bbp_470_per_m"}), "");
  EXPECT_EQ(checkStreamNames(config, {"bbp_470_per_m", "chl_ug_per_l"}),
            "line 10: unknown stream 'counts_470'; the streams of this meter are: bbp_470_per_m, chl_ug_per_l");
}

}  // namespace
