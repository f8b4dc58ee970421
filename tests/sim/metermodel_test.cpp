// The meter model on its own: virtual time, no pseudo-terminal.
#include "sim/metermodel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "link/meterprotocol.h"
#include "measure/datalinedecoder.h"
#include "measure/deviceconfig.h"
#include "measure/devicefile.h"
#include "measure/engunits.h"
#include "measure/kindtable.h"
#include "support/ptypeer.h"
#include "support/testfiles.h"

namespace {

using sim::MeterModel;
constexpr MeterModel::Nanos kSec = 1'000'000'000;
constexpr MeterModel::Nanos kMs = 1'000'000;

sim::MeterModelOptions quietOptions() {
  sim::MeterModelOptions o;
  o.runAtPowerOn = false;
  o.baud = 38400;
  o.clockStart = {2003, 7, 1, 12, 5, 30};
  return o;
}

std::vector<std::string> splitLines(const std::string& bytes) { return testsupport::splitLines(bytes); }

size_t fieldCount(const std::string& line) { return static_cast<size_t>(std::count(line.begin(), line.end(), '\t')) + 1; }

// Sends one command as the program does and returns what the meter answers within a second.
std::string ask(MeterModel& m, const std::string& command) {
  m.receive(command + "\r\n");
  return m.advanceTo(m.now() + kSec);
}

// Every reply line goes through the program's own reply parser.
meterlink::MeterSetup parseAll(const std::string& bytes, measure::MeterClock& clock) {
  meterlink::MeterSetup setup;
  for (const std::string& line : splitLines(bytes)) meterlink::ParseMeterReply(line, setup, clock, measure::HostTime{});
  return setup;
}

TEST(MeterModel, MenuBringsSetupThatTheReplyParserAccepts) {
  MeterModel m(quietOptions());
  measure::MeterClock clock;
  const meterlink::MeterSetup s = parseAll(ask(m, "$mnu"), clock);
  EXPECT_TRUE(s.MeterVersionSeen);
  EXPECT_EQ(s.MeterAverage, 30u);
  EXPECT_EQ(s.MeterSamples, 0u);
  EXPECT_EQ(s.MeterCycles, 1u);
  EXPECT_EQ(s.MeterInterval, "000000");
  EXPECT_EQ(s.MeterLogging, 0u);
  EXPECT_EQ(s.MeterMemoryUsed, 0);
  EXPECT_EQ(clock.MeterMonth, 7);
  EXPECT_EQ(clock.MeterDay, 1);
  EXPECT_EQ(clock.MeterYear, 3);
  EXPECT_EQ(clock.MeterHour, 12);
  EXPECT_EQ(clock.MeterMinute, 5);
  EXPECT_EQ(clock.MeterSecond, 30);
}

TEST(MeterModel, ParameterReplyCarriesTimingRangeScaleOffsetAndEngrOutput) {
  MeterModel m(quietOptions());
  measure::MeterClock clock;
  const meterlink::MeterSetup s = parseAll(ask(m, "$par"), clock);
  EXPECT_TRUE(s.MeterPh1OnTimeKnown && s.MeterPh1OffTimeKnown && s.MeterPh11OnTimeKnown && s.MeterPh11OffTimeKnown);
  EXPECT_EQ(s.MeterPh1OnTime, 5);
  EXPECT_EQ(s.MeterPh1OffTime, 7);
  EXPECT_EQ(s.MeterPh11OnTime, 9);
  EXPECT_EQ(s.MeterPh11OffTime, 11);
  EXPECT_EQ(s.MeterAnalogRange, 2u);
  EXPECT_TRUE(s.MeterEngrScaleFresh);
  EXPECT_EQ(s.MeterEngrScale, 20);
  EXPECT_TRUE(s.MeterEngrOffsetFresh);
  EXPECT_EQ(s.MeterEngrOutput, 0u);
}

// Each command in the forms the program sends it (and in other case and separator
// forms), with the reply line it must bring.
struct CommandCase {
  const char* command;
  const char* reply;
};

class CommandReply : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandReply, AnswersWithItsKeywordLine) {
  MeterModel m(quietOptions());
  EXPECT_EQ(ask(m, GetParam().command), std::string(GetParam().reply)) << GetParam().command;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandReply,
    ::testing::Values(CommandCase{"$AVE 12", "AVE 12\r\n"}, CommandCase{"$ave=12", "AVE 12\r\n"},
                      CommandCase{"$AVE12", "AVE 12\r\n"}, CommandCase{"$AVE abc", "AVE 30\r\n"},
                      CommandCase{"$AVE 0", "AVE 30\r\n"}, CommandCase{"$PKT 4", "PKT 4\r\n"},
                      CommandCase{"$PKT ", "PKT 0\r\n"}, CommandCase{"$SET 3", "SET 3\r\n"},
                      CommandCase{"$INT 001500", "INT 001500\r\n"}, CommandCase{"$INT HHMMSS", "INT 000000\r\n"},
                      CommandCase{"$REC 1", "REC 1\r\n"}, CommandCase{"$rec=0", "REC 0\r\n"},
                      CommandCase{"$CLK 090507", "CLK 09:05:07\r\n"}, CommandCase{"$CLK 250000", "CLK 12:05:30\r\n"},
                      CommandCase{"$DAT 020326", "DAT 02/03/26\r\n"}, CommandCase{"$DAT 023026", "DAT 07/01/03\r\n"},
                      CommandCase{"$01n=6", "01N 6\r\n"}, CommandCase{"$01f 8", "01F 8\r\n"},
                      CommandCase{"$01F=8", "01F 8\r\n"}, CommandCase{"$11n=10", "11N 10\r\n"},
                      CommandCase{"$11f=12", "11F 12\r\n"}, CommandCase{"$ASV 4", "ASV 4\r\n"},
                      CommandCase{"$ASV 3", "ASV 2\r\n"}, CommandCase{"$ugl 255", "UGL 255\r\n"},
                      CommandCase{"$ugl 256", "UGL 20\r\n"}, CommandCase{"$off 127", "OFF 127\r\n"},
                      CommandCase{"$OFF 128", "OFF 0\r\n"}, CommandCase{"$cal 1", "CAL 1\r\n"},
                      CommandCase{"$sto", "DONE\r\n"}, CommandCase{"$rls", "VER MARU-SIM 1.00\r\n"},
                      CommandCase{"$emc", "MEM 0\r\n"}, CommandCase{"$mvs 1", "MVS 1\r\n"},
                      CommandCase{"$swp", ""}, CommandCase{"$xyz", "ERR unknown command\r\n"},
                      CommandCase{"noise$AVE 2", "AVE 2\r\n"}),
    [](const auto& info) { return testsupport::testNameOf(info.param.command); });

TEST(MeterModel, StoreAndReloadKeepTheFlashCopy) {
  MeterModel m(quietOptions());
  ask(m, "$AVE 10");
  ask(m, "$sto");
  ask(m, "$AVE 40");
  ask(m, "$swp");
  EXPECT_EQ(m.settings().average, 40u);
  EXPECT_EQ(m.settings().ph1On, 9u);  // swapped with ph11
  EXPECT_EQ(m.settings().ph11Off, 7u);
  EXPECT_EQ(m.flash().average, 10u);
  ask(m, "$rls");
  EXPECT_EQ(m.settings(), m.flash());
  EXPECT_EQ(m.settings().average, 10u);
}

TEST(MeterModel, DataLinesFollowTheColumnsAndTheMeterClock) {
  MeterModel m(quietOptions());
  m.receive("$run\r\n");
  const std::vector<std::string> lines = splitLines(m.advanceTo(3 * kSec + 500 * kMs));
  ASSERT_EQ(lines.size(), 3u);  // averaging 30: one line a second
  EXPECT_EQ(lines[0].substr(0, 18), "07/01/03\t12:05:31\t");
  EXPECT_EQ(lines[2].substr(0, 18), "07/01/03\t12:05:33\t");
  for (const std::string& line : lines) {
    EXPECT_EQ(fieldCount(line), 9u) << line;
    EXPECT_LT(line.size(), 250u);
    EXPECT_EQ(line.find_first_not_of("0123456789/:\t"), std::string::npos) << line;
  }
}

TEST(MeterModel, RateFollowsTheAveraging) {
  MeterModel m(quietOptions());
  ask(m, "$AVE 5");  // 30 / 5 = 6 lines a second
  m.receive("$run\r\n");
  const auto start = m.now();
  EXPECT_EQ(splitLines(m.advanceTo(start + 10 * kSec + 100 * kMs)).size(), 60u);
  ask(m, "$AVE 1");  // capped at 8 a second
  EXPECT_DOUBLE_EQ(m.sampleRateHz(), 8.0);
}

TEST(MeterModel, StreamsAtPowerOnAndStopsWithinOneLine) {
  sim::MeterModelOptions o = quietOptions();
  o.runAtPowerOn = true;
  o.baud = 4800;  // slow line: a line takes about 80 ms to send
  o.rateHz = 8;
  MeterModel m(o);
  std::string before = m.advanceTo(2 * kSec + 30 * kMs);  // in the middle of a line
  EXPECT_FALSE(splitLines(before).empty());
  m.receive("!!!!!");
  EXPECT_FALSE(m.running());
  const std::string after = m.advanceTo(5 * kSec);
  // What follows the stop is at most the rest of the line being sent.
  EXPECT_LE(std::count(after.begin(), after.end(), '\n'), 1);
  EXPECT_EQ(fieldCount(splitLines(before + after).back()), 9u);
  EXPECT_EQ(m.advanceTo(8 * kSec), "");
}

TEST(MeterModel, StopSequenceCutsIntoAPartialCommand) {
  MeterModel m(quietOptions());
  m.receive("$run\r\n");
  m.receive("$AV!!!!!");
  EXPECT_FALSE(m.running());
  EXPECT_EQ(ask(m, "$PKT 2"), "PKT 2\r\n");  // the cut command left nothing behind
}

TEST(MeterModel, SameSeedSameBytesHoweverTimeIsCut) {
  sim::MeterModelOptions o = quietOptions();
  o.runAtPowerOn = true;
  o.rateHz = 8;
  o.baud = 4800;
  o.faults.garbage = o.faults.longLine = o.faults.wrongColumns = true;
  MeterModel coarse(o), fine(o);
  std::string a = coarse.advanceTo(20 * kSec);
  std::string b;
  for (MeterModel::Nanos t = 0; t <= 20 * kSec; t += 7 * kMs + 3) b += fine.advanceTo(t);
  b += fine.advanceTo(20 * kSec);
  EXPECT_GT(a.size(), 1000u);
  EXPECT_EQ(a, b);

  o.seed = 2;
  MeterModel other(o);
  EXPECT_NE(other.advanceTo(20 * kSec), a);
}

TEST(MeterModel, NeverSendsFasterThanTheBaudRate) {
  sim::MeterModelOptions o = quietOptions();
  o.memoryBytes = 100000;
  o.baud = 9600;
  MeterModel m(o);
  m.receive("$get\r\n");
  for (int s = 1; s <= 5; ++s) {
    const size_t n = m.advanceTo(m.now() + kSec).size();
    EXPECT_LE(n, 960u);
    EXPECT_GE(n, 950u);  // a dump keeps the line busy
  }
}

TEST(MeterModel, DumpSendsTheLoggedBytesThenEtx) {
  sim::MeterModelOptions o = quietOptions();
  o.memoryBytes = 5000;
  MeterModel m(o);
  EXPECT_EQ(m.memoryPages(), 19);  // 5000 / 264 rounded up
  const std::string memory = m.memory();
  ASSERT_EQ(memory.size(), 5000u);
  // Logged content is data-line text.
  const std::vector<std::string> lines = splitLines(memory);
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(fieldCount(lines[3]), 9u);
  m.receive("$get\r\n");
  EXPECT_TRUE(m.dumping());
  const std::string out = m.advanceTo(10 * kSec);
  EXPECT_EQ(out, memory + "etx\r\n");
  EXPECT_FALSE(m.dumping());
}

TEST(MeterModel, DumpWithoutEtxFault) {
  sim::MeterModelOptions o = quietOptions();
  o.memoryBytes = 700;
  o.faults.noEtx = true;
  MeterModel m(o);
  m.receive("$get\r\n");
  EXPECT_EQ(m.advanceTo(2 * kSec), m.memory());
}

TEST(MeterModel, StopSequenceEndsADump) {
  sim::MeterModelOptions o = quietOptions();
  o.memoryBytes = 50000;
  MeterModel m(o);
  m.receive("$get\r\n");
  std::string out = m.advanceTo(kSec);
  m.receive("!!!!!");
  out += m.advanceTo(5 * kSec);
  EXPECT_LT(out.size(), 4000u);
  EXPECT_EQ(out.find("etx"), std::string::npos);
  EXPECT_EQ(out, m.memory().substr(0, out.size()));
}

TEST(MeterModel, EmptyMemoryDumpsOnlyEtxAndEraseEmptiesIt) {
  sim::MeterModelOptions o = quietOptions();
  o.memoryBytes = 3000;
  MeterModel m(o);
  EXPECT_EQ(ask(m, "$emc"), "MEM 0\r\n");
  EXPECT_EQ(ask(m, "$get"), "etx\r\n");
}

TEST(MeterModel, LoggingStoresTheLinesSentAndReportsMemory) {
  MeterModel m(quietOptions());
  ask(m, "$REC 1");
  m.receive("$run\r\n");
  const std::string sent = m.advanceTo(m.now() + 5 * kSec + 500 * kMs);
  EXPECT_EQ(sent, m.memory());
  measure::MeterClock clock;
  m.receive("!!!!!");
  EXPECT_EQ(parseAll(ask(m, "$mnu"), clock).MeterMemoryUsed, m.memoryPages());
  EXPECT_EQ(m.memoryPages(), 1);
}

TEST(MeterModel, LoggingStopsWhenMemoryIsFull) {
  sim::MeterModelOptions o = quietOptions();
  o.memoryBytes = MeterModel::kMemoryBytes - 200;  // room for three more lines
  o.rateHz = 8;
  MeterModel m(o);
  ask(m, "$REC 1");
  m.receive("$run\r\n");
  const std::string out = m.advanceTo(m.now() + 2 * kSec);
  EXPECT_NE(out.find("MEM 4095\r\n"), std::string::npos);
  EXPECT_FALSE(m.settings().logging);
  EXPECT_LE(m.memory().size(), MeterModel::kMemoryBytes);
  EXPECT_GT(m.memory().size(), MeterModel::kMemoryBytes - 100);
  EXPECT_EQ(m.memoryPages(), 4095);
  measure::MeterClock clock;
  meterlink::MeterSetup setup;
  const auto effects = meterlink::ParseMeterReply("MEM 4095", setup, clock, measure::HostTime{});
  EXPECT_TRUE(effects.memoryFull);
  // Asking to log into a full memory is refused.
  m.receive("!!!!!");
  m.advanceTo(m.now() + kSec);
  EXPECT_TRUE(m.memoryFull());
  EXPECT_EQ(ask(m, "$REC 1"), "REC 0\r\nMEM 4095\r\n");
  EXPECT_EQ(ask(m, "$emc"), "MEM 0\r\n");
  EXPECT_EQ(ask(m, "$REC 1"), "REC 1\r\n");
}

TEST(MeterModel, OneLineAndHexDump) {
  sim::MeterModelOptions o = quietOptions();
  o.memoryBytes = 300;
  MeterModel m(o);
  const std::vector<std::string> one = splitLines(ask(m, "$one"));
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(fieldCount(one[0]), 9u);
  EXPECT_FALSE(m.running());

  // Page 2 holds bytes 264..299 of the memory, then erased flash (FF).
  const std::vector<std::string> hex = splitLines(ask(m, "$hex 2"));
  ASSERT_EQ(hex.size(), 18u);
  EXPECT_EQ(hex[0], "PAGE 2");
  std::string bytes;
  for (size_t i = 1; i < hex.size(); ++i) {
    char offset[8];
    std::snprintf(offset, sizeof offset, "%03zX:", (i - 1) * 16);
    EXPECT_EQ(hex[i].substr(0, 4), offset);
    for (size_t p = 5; p + 1 < hex[i].size(); p += 3)
      bytes.push_back(static_cast<char>(std::stoi(hex[i].substr(p, 2), nullptr, 16)));
  }
  ASSERT_EQ(bytes.size(), MeterModel::kPageBytes);
  EXPECT_EQ(bytes.substr(0, 36), m.memory().substr(264, 36));
  EXPECT_EQ(bytes.substr(36), std::string(MeterModel::kPageBytes - 36, '\xFF'));
  EXPECT_EQ(hex[17].substr(0, 4), "100:");

  EXPECT_EQ(ask(m, "$hex 0"), "ERR page 1-4095\r\n");
  EXPECT_EQ(ask(m, "$hex 4096"), "ERR page 1-4095\r\n");
}

// The program's own device-file parser and data-line decoder accept every line the
// meter sends for a given device file, with the field count of its "Columns=".
class DeviceFileColumns : public ::testing::TestWithParam<const char*> {};

TEST_P(DeviceFileColumns, LinesHaveTheColumnCountAndDecode) {
  measure::DeviceConfig config;
  bool opened = false;
  const std::string path = std::string(MARU_SOURCE_DIR "/examples/") + GetParam();
  ASSERT_TRUE(measure::LoadDeviceFile(path, config, [](const std::string&, const std::string&) {}, &opened)) << path;
  sim::MeterModelOptions o = quietOptions();
  o.columns = sim::columnsFromConfig(config);
  o.rateHz = 8;
  MeterModel m(o);
  m.receive("$run\r\n");
  const std::vector<std::string> lines = splitLines(m.advanceTo(5 * kSec));
  ASSERT_GE(lines.size(), 35u);

  measure::SampleState sample;
  measure::MeterClock clock;
  int warnings = 0;
  measure::DataLineDecoder decoder(config, sample, clock, [&](const std::string&, const std::string&) { ++warnings; });
  for (const std::string& line : lines) {
    EXPECT_EQ(fieldCount(line), static_cast<size_t>(config.ExpectedColumns)) << line;
    EXPECT_EQ(decoder.ParseDataLine(line, true), 1) << line;
  }
  EXPECT_EQ(warnings, 0);
  // Temperatures come out plausible through the file's own scale and offset.
  if (config.ColumnKind[static_cast<size_t>(config.DataFieldCount - 1)] == measure::KindITemp) {
    const double t = sample.ITempCounts * config.KindScale[measure::KindITemp] + config.KindOffset[measure::KindITemp];
    EXPECT_GT(t, 10.0);
    EXPECT_LT(t, 30.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, DeviceFileColumns,
                         ::testing::Values("bb3.dev", "flcd.dev", "flasv.dev", "ntu.dev"),
                         [](const auto& info) { return testsupport::testNameOf(info.param); });

TEST(MeterModel, ColumnsBeyondTheDescribedOnesAreFilled) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("short.dev"), "Short meter\nColumns=5\nDate=1\nTime=2\nCHL=3 0.01 50\n");
  measure::DeviceConfig config;
  ASSERT_TRUE(measure::LoadDeviceFile(dir.file("short.dev"), config, [](const std::string&, const std::string&) {}));
  sim::MeterModelOptions o = quietOptions();
  o.columns = sim::columnsFromConfig(config);
  MeterModel m(o);
  const std::vector<std::string> lines = splitLines(ask(m, "$one"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(fieldCount(lines[0]), 5u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 4), "\t0\t0");
}

TEST(MeterModel, DefaultColumnsAreThoseOfTheExampleDeviceFile) {
  measure::DeviceConfig config;
  ASSERT_TRUE(measure::LoadDeviceFile(MARU_SOURCE_DIR "/examples/bb3.dev", config,
                                      [](const std::string&, const std::string&) {}));
  const std::vector<sim::ColumnSpec> fromFile = sim::columnsFromConfig(config);
  const std::vector<sim::ColumnSpec> builtIn = sim::defaultColumns();
  ASSERT_EQ(fromFile.size(), builtIn.size());
  for (size_t i = 0; i < builtIn.size(); ++i) {
    EXPECT_EQ(fromFile[i].kind, builtIn[i].kind) << i;
    EXPECT_DOUBLE_EQ(fromFile[i].offset, builtIn[i].offset) << i;
    EXPECT_EQ(fromFile[i].wavelength, builtIn[i].wavelength) << i;
  }
  const sim::Scattering a = sim::scatteringFromConfig(config), b = sim::defaultScattering();
  EXPECT_DOUBLE_EQ(a.salinity, b.salinity);
  EXPECT_DOUBLE_EQ(a.thetaRadians, b.thetaRadians);
  EXPECT_FLOAT_EQ(a.xFactor, b.xFactor);  // the file's number is read in single precision
  EXPECT_EQ(a.seaWater, b.seaWater);
}

// The engineering values the program makes of `seconds` of a meter described by the
// example device file `dev` (raw counts, no reference or temperature correction).
std::vector<measure::EngValues> engineeringOf(const char* dev, uint32_t seed, double rateHz, int seconds,
                                              measure::DeviceConfig& config) {
  const bool loaded = measure::LoadDeviceFile(testsupport::example(dev), config,
                                              [](const std::string&, const std::string&) {});
  EXPECT_TRUE(loaded) << dev;
  sim::MeterModelOptions o = quietOptions();
  o.columns = sim::columnsFromConfig(config);
  o.scattering = sim::scatteringFromConfig(config);
  o.seed = seed;
  o.rateHz = rateHz;
  MeterModel m(o);
  m.receive("$run\r\n");
  measure::SampleState sample;
  measure::MeterClock clock;
  measure::DataLineDecoder decoder(config, sample, clock, [](const std::string&, const std::string&) {});
  std::vector<measure::EngValues> values;
  for (const std::string& line : splitLines(m.advanceTo(seconds * kSec))) {
    if (decoder.ParseDataLine(line, true) != 1) continue;
    measure::ConvertToEngineering(config, sample, values.emplace_back());
  }
  return values;
}

// Particulate backscattering falls smoothly with wavelength: averaged over a few hundred
// lines, 470 > 532 > 650 nm on one power law of slope 0..2, the slope differing by seed.
TEST(MeterWater, BackscatterFollowsOneFallingSpectrum) {
  std::set<long> slopes;
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    measure::DeviceConfig config;
    const std::vector<measure::EngValues> values = engineeringOf("bb3.dev", seed, 8.0, 40, config);
    ASSERT_GE(values.size(), 300u);
    double bbp[3] = {};
    const int kinds[3] = {9, 11, 13};  // 470, 532, 650 nm
    for (const measure::EngValues& v : values)
      for (int c = 0; c < 3; ++c) bbp[c] += v.KindBbp[kinds[c]] / static_cast<double>(values.size());
    EXPECT_GT(bbp[0], bbp[1]) << "seed " << seed;
    EXPECT_GT(bbp[1], bbp[2]) << "seed " << seed;
    // The power law through 470 and 650 nm, and 532 nm on it.
    const double slope = -std::log(bbp[2] / bbp[0]) / std::log(650.0 / 470.0);
    EXPECT_LT(slope, 2.2) << "seed " << seed;
    const double onCurve = bbp[0] * std::pow(532.0 / 470.0, -slope);
    EXPECT_NEAR(bbp[1] / onCurve, 1.0, 0.05) << "seed " << seed;
    slopes.insert(std::lround(slope * 100));
  }
  EXPECT_GE(slopes.size(), 6u);
}

// Every line of ten minutes converts into what coastal water gives, for several seeds.
struct CoastalCase {
  const char* dev;
  int kind;
  double low, high;
};

void PrintTo(const CoastalCase& c, std::ostream* os) { *os << c.dev << " kind " << c.kind; }

class CoastalValues : public ::testing::TestWithParam<CoastalCase> {};

TEST_P(CoastalValues, StayInTheirRange) {
  const CoastalCase& c = GetParam();
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    measure::DeviceConfig config;
    const std::vector<measure::EngValues> values = engineeringOf(c.dev, seed, 1.0, 600, config);
    ASSERT_GE(values.size(), 590u);
    double low = 1e9, high = -1e9;
    for (const measure::EngValues& v : values) {
      const double x = measure::isLambda(c.kind) ? v.KindBbp[c.kind] : v.*measure::kindInfo(c.kind).result();
      low = std::min(low, x);
      high = std::max(high, x);
    }
    EXPECT_GE(low, c.low) << "seed " << seed;
    EXPECT_LE(high, c.high) << "seed " << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CoastalValues,
    ::testing::Values(CoastalCase{"flcd.dev", measure::KindChl, 0.3, 11.0},  // ug/l
                      CoastalCase{"flcd.dev", measure::KindCdom, 1.0, 45.0},  // ppb, 0.09 a count
                      CoastalCase{"ntu.dev", measure::KindNtu, 0.3, 11.0},    // NTU
                      CoastalCase{"bb3.dev", 11, 0.0015, 0.025}),           // bbp(532), 1/m
    [](const auto& info) { return testsupport::testNameOf(std::string(info.param.dev) + "_" + std::to_string(info.param.kind)); });

// Each fault shows up within a couple of hundred lines and leaves the logged copy clean.
TEST(MeterModel, FaultsStrikeNowAndThen) {
  sim::MeterModelOptions o = quietOptions();
  o.rateHz = 8;
  o.faults.longLine = o.faults.garbage = o.faults.wrongColumns = true;
  MeterModel m(o);
  ask(m, "$REC 1");
  m.receive("$run\r\n");
  const std::string out = m.advanceTo(m.now() + 30 * kSec);
  int longLines = 0, wrongCount = 0;
  for (const std::string& line : splitLines(out)) {
    if (line.size() > 250) ++longLines;
    else if (line.find('\0') == std::string::npos && fieldCount(line) != 9) ++wrongCount;
  }
  EXPECT_GT(longLines, 3);
  EXPECT_GT(wrongCount, 3);
  EXPECT_NE(out.find(std::string("\0\xFF", 2)), std::string::npos);
  for (const std::string& line : splitLines(m.memory())) EXPECT_EQ(fieldCount(line), 9u) << line;
}

}  // namespace
