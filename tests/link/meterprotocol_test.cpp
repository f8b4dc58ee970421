#include "link/meterprotocol.h"
#include "link/settingentry.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "measure/cformat.h"
#include "support/testfiles.h"

namespace {

using meterlink::MeterSetup;
using measure::MeterClock;

const measure::HostTime kHostNow{26, 2, 3, 9, 5, 7};

auto clockFields(const MeterClock& c) {
  return std::make_tuple(c.MeterMonth, c.MeterDay, c.MeterYear, c.MeterHour, c.MeterMinute,
                         c.MeterSecond, c.HostMonth, c.HostDay, c.HostYear, c.HostHour,
                         c.HostMinute, c.HostSecond);
}

MeterClock noted(MeterClock c) {
  c.NoteHostTime(kHostNow);
  return c;
}

// ---- reply parser: one line against fresh state, the whole state compared ----

struct ReplyCase {
  const char* line;
  std::function<void(MeterSetup&, MeterClock&)> expect;  // changes from the initial state
  bool matched = true;
  bool storeCurrent = false;
  bool memoryFull = false;
};

// Failure messages show the line, with tabs visible.
void PrintTo(const ReplyCase& c, std::ostream* os) {
  *os << '"';
  for (const char* p = c.line; *p; ++p) *os << (*p == '\t' ? "\\t" : std::string(1, *p));
  *os << '"';
}

class ReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyTest, SetsExactlyTheValuesOfItsKeyword) {
  const ReplyCase& c = GetParam();
  MeterSetup setup;
  MeterClock clock;
  const meterlink::ReplyEffects fx = meterlink::ParseMeterReply(c.line, setup, clock, kHostNow);

  MeterSetup wantSetup;
  MeterClock wantClock;
  if (c.expect) c.expect(wantSetup, wantClock);
  EXPECT_EQ(setup, wantSetup);
  EXPECT_EQ(clockFields(clock), clockFields(wantClock));
  EXPECT_EQ(fx.matched, c.matched);
  EXPECT_EQ(fx.storeCurrent, c.storeCurrent);
  EXPECT_EQ(fx.memoryFull, c.memoryFull);
  EXPECT_FALSE(fx.caption.has_value());
}

const ReplyCase kReplies[] = {
    {"AVE 30", [](MeterSetup& s, MeterClock&) { s.MeterAverage = 30; }},
    {"AVE30", [](MeterSetup& s, MeterClock&) { s.MeterAverage = 30; }},
    {"ave 30", [](MeterSetup& s, MeterClock&) { s.MeterAverage = 30; }},
    {"AVE 30 readings", [](MeterSetup& s, MeterClock&) { s.MeterAverage = 30; }},
    {"AVE -1", [](MeterSetup& s, MeterClock&) { s.MeterAverage = 4294967295u; }},  // %u wraps
    {"AVERAGE 30", nullptr, false},
    {"AVE", nullptr, false},
    {"CAL 1", [](MeterSetup& s, MeterClock&) { s.MeterEngrOutput = 1; }},
    {"CLK 12:05:30", [](MeterSetup&, MeterClock& c) {
       c.MeterHour = 12; c.MeterMinute = 5; c.MeterSecond = 30; c = noted(c); }},
    {"clk12:05:30", [](MeterSetup&, MeterClock& c) {
       c.MeterHour = 12; c.MeterMinute = 5; c.MeterSecond = 30; c = noted(c); }},
    {"CLK 12:05", nullptr, false},
    {"CLK 123:05:30", nullptr, false},  // %2d stops after two digits, then ':' is missing
    {"CLK 12 05 30", nullptr, false},   // the fields must be in one token
    {"CLK", nullptr, false},
    {"DAT 07/01/03", [](MeterSetup&, MeterClock& c) {
       c.MeterMonth = 7; c.MeterDay = 1; c.MeterYear = 3; c = noted(c); }},
    {"DAT07/01/03", [](MeterSetup&, MeterClock& c) {
       c.MeterMonth = 7; c.MeterDay = 1; c.MeterYear = 3; c = noted(c); }},
    {"DAT 07-01-03", nullptr, false},
    {"DONE", nullptr, true, true},
    {"done storing", nullptr, true, true},
    {"DON", nullptr, false},
    {"INT 001500", [](MeterSetup& s, MeterClock&) { s.MeterInterval = "001500"; }},
    {"int 00:15:00 hms", [](MeterSetup& s, MeterClock&) { s.MeterInterval = "00:15:00"; }},
    {"INT", nullptr, false},
    {"INT   ", nullptr, false},
    {"MEM 123", [](MeterSetup& s, MeterClock&) { s.MeterMemoryUsed = 123; }},
    {"MEM 4093", [](MeterSetup& s, MeterClock&) { s.MeterMemoryUsed = 4093; }},
    {"MEM 4094", [](MeterSetup& s, MeterClock&) { s.MeterMemoryUsed = 4094; }, true, false, true},
    {"MEM 4095", [](MeterSetup& s, MeterClock&) { s.MeterMemoryUsed = 4095; }, true, false, true},
    {"MEM full", nullptr, false},
    {"PKT 4", [](MeterSetup& s, MeterClock&) { s.MeterSamples = 4; }},
    {"OFF 12", [](MeterSetup& s, MeterClock&) { s.MeterEngrOffset = 12; s.MeterEngrOffsetFresh = true; }},
    {"OFF -3", [](MeterSetup& s, MeterClock&) { s.MeterEngrOffset = -3; s.MeterEngrOffsetFresh = true; }},
    {"UGL 31", [](MeterSetup& s, MeterClock&) { s.MeterEngrScale = 31; s.MeterEngrScaleFresh = true; }},
    {"UGL", nullptr, false},
    {"01N 7", [](MeterSetup& s, MeterClock&) { s.MeterPh1OnTime = 7; s.MeterPh1OnTimeKnown = true; }},
    {"01F 8", [](MeterSetup& s, MeterClock&) { s.MeterPh1OffTime = 8; s.MeterPh1OffTimeKnown = true; }},
    {"11n 9", [](MeterSetup& s, MeterClock&) { s.MeterPh11OnTime = 9; s.MeterPh11OnTimeKnown = true; }},
    {"11F 10", [](MeterSetup& s, MeterClock&) { s.MeterPh11OffTime = 10; s.MeterPh11OffTimeKnown = true; }},
    {"REC 1", [](MeterSetup& s, MeterClock&) { s.MeterLogging = 1; }},
    {"REC1", [](MeterSetup& s, MeterClock&) { s.MeterLogging = 1; }},
    {"SET 3", [](MeterSetup& s, MeterClock&) { s.MeterCycles = 3; }},
    {"ASV 4", [](MeterSetup& s, MeterClock&) { s.MeterAnalogRange = 4; }},
    {"XYZ 1", nullptr, false},
    {" AVE 30", nullptr, false},  // the keyword must start the line
    {"", nullptr, false},
    {"1\t2\t3", nullptr, false},
};
// Named by the line; the index keeps apart lines that differ only in blanks (" AVE 30").
INSTANTIATE_TEST_SUITE_P(Keywords, ReplyTest, ::testing::ValuesIn(kReplies), [](const auto& info) {
  return testsupport::testNameOf(info.param.line, info.index);
});

TEST(ReplyVersion, CaptionKeepsTheLineAsReceivedAndAnswersAPendingReload) {
  MeterSetup setup;
  MeterClock clock;
  setup.ReloadPending = true;
  meterlink::ReplyEffects fx = meterlink::ParseMeterReply("VER 2.10", setup, clock, kHostNow);
  EXPECT_TRUE(fx.matched);
  EXPECT_TRUE(fx.storeCurrent);
  EXPECT_EQ(fx.caption, std::string("MARU View:  v1.13 07/01/03      MARU: VER 2.10"));
  EXPECT_TRUE(setup.MeterVersionSeen);
  EXPECT_FALSE(setup.ReloadPending);

  // A second version line without a reload leaves the store indicator alone.
  fx = meterlink::ParseMeterReply("ver 2.10b", setup, clock, kHostNow);
  EXPECT_FALSE(fx.storeCurrent);
  EXPECT_EQ(fx.caption, std::string(meterlink::kCaptionPrefix) + "ver 2.10b");
  EXPECT_TRUE(setup.MeterVersionSeen);
}

TEST(ReplyVersion, WithoutReloadDoesNotTouchTheStoreIndicator) {
  MeterSetup setup;
  MeterClock clock;
  const meterlink::ReplyEffects fx = meterlink::ParseMeterReply("VER", setup, clock, kHostNow);
  EXPECT_FALSE(fx.storeCurrent);
  EXPECT_EQ(fx.caption, std::string(meterlink::kCaptionPrefix) + "VER");
  EXPECT_TRUE(setup.MeterVersionSeen);
}

TEST(ReplyLimits, IntervalTokenIsCutToNineteenCharacters) {
  MeterSetup setup;
  MeterClock clock;
  meterlink::ParseMeterReply("INT 1234567890123456789", setup, clock, kHostNow);
  EXPECT_EQ(setup.MeterInterval, "1234567890123456789");
  meterlink::ParseMeterReply("INT 12345678901234567890abcdef more", setup, clock, kHostNow);
  EXPECT_EQ(setup.MeterInterval, "1234567890123456789");
}

TEST(ReplyLimits, WholeLongLineInCaptionCutAt250) {
  MeterSetup setup;
  MeterClock clock;
  std::string line = "VER ";
  for (int i = 0; static_cast<int>(line.size()) < 300; ++i) line.push_back(static_cast<char>('a' + i % 26));
  const meterlink::ReplyEffects fx = meterlink::ParseMeterReply(line, setup, clock, kHostNow);
  ASSERT_TRUE(fx.caption.has_value());
  EXPECT_EQ(*fx.caption, std::string(meterlink::kCaptionPrefix) + line.substr(0, 250));
}

TEST(ReplyLimits, LongTokensDoNotOverrun) {
  // Tokens as long as the line itself, and longer input: cut at 250 without overflow.
  MeterSetup setup;
  MeterClock clock;
  meterlink::ParseMeterReply("INT " + std::string(400, '7'), setup, clock, kHostNow);
  EXPECT_EQ(setup.MeterInterval, std::string(19, '7'));
  meterlink::ReplyEffects fx = meterlink::ParseMeterReply("CLK " + std::string(400, '1'), setup, clock, kHostNow);
  EXPECT_FALSE(fx.matched);
  fx = meterlink::ParseMeterReply("DAT" + std::string(400, '/'), setup, clock, kHostNow);
  EXPECT_FALSE(fx.matched);
  EXPECT_EQ(clockFields(clock), clockFields(MeterClock{}));
}

TEST(ReplyLimits, ValuesAccumulateOverLines) {
  MeterSetup setup;
  MeterClock clock;
  for (const char* line : {"AVE 30", "PKT 5", "INT 001500", "REC 1", "XYZ", "AVERAGE 2"})
    meterlink::ParseMeterReply(line, setup, clock, kHostNow);
  EXPECT_EQ(setup.MeterAverage, 30u);
  EXPECT_EQ(setup.MeterSamples, 5u);
  EXPECT_EQ(setup.MeterInterval, "001500");
  EXPECT_EQ(setup.MeterLogging, 1u);
}

// ---- command texts ----

struct CommandCase {
  std::string sent;
  std::string expected;
};

TEST(Commands, ExactBytes) {
  const measure::HostTime t{26, 2, 3, 9, 5, 7};
  const measure::HostTime midnightNewYear{0, 1, 1, 0, 0, 0};
  const CommandCase cases[] = {
      {meterlink::cmd::Average("30"), "$AVE 30"},
      {meterlink::cmd::Packet(""), "$PKT "},
      {meterlink::cmd::Sample("1"), "$SET 1"},
      {meterlink::cmd::Interval("HHMMSS"), "$INT HHMMSS"},
      {meterlink::cmd::Logging(0), "$REC 1"},
      {meterlink::cmd::Logging(1), "$REC 0"},
      {meterlink::cmd::Logging(7), "$REC 0"},
      {meterlink::cmd::Clock(t), "$CLK 090507"},
      {meterlink::cmd::Date(t), "$DAT 020326"},
      {meterlink::cmd::Clock(midnightNewYear), "$CLK 000000"},
      {meterlink::cmd::Date(midnightNewYear), "$DAT 010100"},
      {meterlink::cmd::Ph1On("5"), "$01n=5"},
      {meterlink::cmd::Ph1Off("5"), "$01f 5"},
      {meterlink::cmd::Ph11On("5"), "$11n=5"},
      {meterlink::cmd::Ph11Off("5"), "$11f=5"},
      {meterlink::cmd::HexDump("1"), "$hex 1"},
      {meterlink::cmd::AnalogRange(0), "$ASV 1"},
      {meterlink::cmd::AnalogRange(1), "$ASV 2"},
      {meterlink::cmd::AnalogRange(2), "$ASV 4"},
      {meterlink::cmd::AnalogRange(-1), "$ASV 2"},
      {meterlink::cmd::EngrOutput(0), "$cal 1"},
      {meterlink::cmd::EngrOutput(1), "$cal 0"},
      {meterlink::cmd::Offset(127), "$off 127"},
      {meterlink::cmd::Offset(0), "$off 0"},
      {meterlink::cmd::Scale(1), "$ugl 1"},
      {meterlink::cmd::Scale(255), "$ugl 255"},
      {meterlink::cmd::kRun, "$run"},
      {meterlink::cmd::kStop, "!!!!!"},
      {meterlink::cmd::kMenu, "$mnu"},
      {meterlink::cmd::kStore, "$sto"},
      {meterlink::cmd::kReload, "$rls"},
      {meterlink::cmd::kErase, "$emc"},
      {meterlink::cmd::kGetData, "$get"},
      {meterlink::cmd::kShutterOpen, "$mvs 1"},
      {meterlink::cmd::kShutterClose, "$mvs 0"},
      {meterlink::cmd::kTiming, "$par"},
      {meterlink::cmd::kTimingSwap, "$swp"},
      {meterlink::cmd::kOne, "$one"},
  };
  for (const CommandCase& c : cases) EXPECT_EQ(c.sent, c.expected);
}

TEST(Commands, TypedEntryIsTextNotAFormat) {
  EXPECT_EQ(meterlink::cmd::Average("%s%n%d"), "$AVE %s%n%d");
  EXPECT_EQ(meterlink::cmd::HexDump("%x %%"), "$hex %x %%");
}

TEST(Commands, TypedEntryIsBoundedToOneHundredCharacters) {
  const std::string longEntry = std::string(100, '9') + "overflow";
  EXPECT_EQ(meterlink::cmd::Average(longEntry), "$AVE " + std::string(100, '9'));
  EXPECT_EQ(meterlink::cmd::Ph11Off(longEntry), "$11f=" + std::string(100, '9'));
}

// ---- engineering scale and offset entries ----

struct ScaleCase {
  const char* typed;
  meterlink::ScaleEntry::Result result;
  long units;
};

TEST(ScaleEntry, Table) {
  using R = meterlink::ScaleEntry;
  const ScaleCase cases[] = {
      {"0.0001", R::Ok, 1},          {"0.0255", R::Ok, 255},
      {"0.0256", R::OutOfRange, 0},  {"0.00009", R::OutOfRange, 0},
      {"0.02550001", R::OutOfRange, 0}, {"0.0255000", R::Ok, 255},
      {"abc", R::NotANumber, 0},     {"", R::NotANumber, 0},
      {".", R::NotANumber, 0},       {"-", R::NotANumber, 0},
      {"0.0031", R::Ok, 31},         {"0.00019", R::Ok, 1},
      {" +0.0031", R::Ok, 31},       {"\t.0031", R::Ok, 31},
      {"0.0031abc", R::Ok, 31},      {"1e-3", R::Ok, 10},
      {"2.55E-2", R::Ok, 255},       {"0.00001e1", R::Ok, 1},
      {"0.003e", R::Ok, 30},         {"0.003e+", R::Ok, 30},
      {"0.0100", R::Ok, 100},        {"00.0099999", R::Ok, 99},
      {"0", R::OutOfRange, 0},       {"-0.001", R::OutOfRange, 0},
      {"1", R::OutOfRange, 0},       {"1e-999999999999", R::OutOfRange, 0},
      {"1e999999999999", R::OutOfRange, 0},
      {"inf", R::OutOfRange, 0},     {"-Infinity", R::OutOfRange, 0},
      {"nan", R::OutOfRange, 0},     {"0x1p-7", R::Ok, 78},
  };
  for (const ScaleCase& c : cases) {
    const meterlink::ScaleEntry e = meterlink::ParseScaleEntry(c.typed);
    EXPECT_EQ(e.result, c.result) << '"' << c.typed << '"';
    if (c.result == R::Ok) {
      EXPECT_EQ(e.units, c.units) << '"' << c.typed << '"';
    }
    // Whether a number is there at all is scanf's own judgement.
    long double v = 0;
    EXPECT_EQ(measure::cscan(c.typed, "%Lf", &v) == 1, e.result != R::NotANumber)
        << '"' << c.typed << '"';
  }
}

TEST(ScaleEntry, EveryFourDecimalEntryGivesItsOwnUnits) {
  // Binary floating point lands some of these a hair low (0.0031 -> 30.999...).
  for (long units = 1; units <= 255; ++units) {
    const std::string typed = measure::cformat("0.%04ld", units);
    const meterlink::ScaleEntry e = meterlink::ParseScaleEntry(typed);
    ASSERT_EQ(e.result, meterlink::ScaleEntry::Ok) << typed;
    EXPECT_EQ(e.units, units) << typed;
  }
}

TEST(OffsetEntry, Table) {
  using R = meterlink::OffsetEntry;
  const struct {
    const char* typed;
    R::Result result;
    int value;
  } cases[] = {
      {"127", R::Ok, 127},       {"128", R::OutOfRange, 0}, {"-1", R::OutOfRange, 0},
      {"12abc", R::Ok, 12},      {"abc", R::NotANumber, 0}, {"", R::NotANumber, 0},
      {"0", R::Ok, 0},           {"-0", R::Ok, 0},          {"  +5", R::Ok, 5},
      {"+", R::NotANumber, 0},   {"- 5", R::NotANumber, 0}, {"1.9", R::Ok, 1},
      {"99999999999999999999", R::OutOfRange, 0},
  };
  for (const auto& c : cases) {
    const meterlink::OffsetEntry e = meterlink::ParseOffsetEntry(c.typed);
    EXPECT_EQ(e.result, c.result) << '"' << c.typed << '"';
    if (c.result == R::Ok) {
      EXPECT_EQ(e.value, c.value) << '"' << c.typed << '"';
    }
  }
}

TEST(Password, FirstNineCharactersMustMatchExactly) {
  const struct {
    const char* entry;
    bool matches;
  } cases[] = {
      {"BlueHeron", true},   {"BlueHeron and more", true}, {"blueheron", false},
      {"BLUEHERON", false},  {"BlueHero", false},          {"", false},
      {"xBlueHeron", false}, {"BlueHeroN", false},
  };
  for (const auto& c : cases) EXPECT_EQ(meterlink::PasswordMatches(c.entry), c.matches) << c.entry;
}

}  // namespace

// The edges of what each typed setting may be; refused text is never sent.
TEST(SettingEntry, RangesAndForms) {
  using meterlink::Setting;
  struct Case { Setting setting; const char* typed; const char* sent; };
  for (const Case& c : {Case{Setting::Average, "1", "1"}, Case{Setting::Average, "65535", "65535"},
                        Case{Setting::Average, "65536", nullptr}, Case{Setting::Samples, "0", "0"},
                        Case{Setting::Samples, "-1", nullptr}, Case{Setting::Cycles, "00012", "00012"},
                        Case{Setting::Cycles, "1.5", nullptr}, Case{Setting::PhaseTime, "9999", "9999"},
                        Case{Setting::HexPage, "4095", "4095"}, Case{Setting::HexPage, "4096", nullptr},
                        Case{Setting::HexPage, "0", nullptr}, Case{Setting::Interval, "995959", "995959"},
                        Case{Setting::Interval, "000060", nullptr}, Case{Setting::Interval, "01000", nullptr},
                        Case{Setting::Interval, "\t120000 ", "120000"}}) {
    const meterlink::SettingEntry e = meterlink::checkSetting(c.setting, c.typed);
    if (c.sent) {
      EXPECT_EQ(e.value, std::optional<std::string>(c.sent)) << c.typed;
    } else {
      EXPECT_FALSE(e.value) << c.typed;
      EXPECT_NE(e.problem.find("Nothing was sent"), std::string::npos) << e.problem;
    }
  }
}
