// Device-file parser: keywords, parameters, line limits and every failure.
#include "measure/devicefile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "measure/cformat.h"
#include "support/ptypeer.h"
#include "support/testfiles.h"

using namespace measure;

namespace {

struct Message {
  std::string caption, text;
  bool operator==(const Message&) const = default;
};

struct Parsed {
  bool ok = false;
  std::vector<Message> messages;
};

Parsed parseText(const std::string& text, DeviceConfig& config) {
  Parsed result;
  std::FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  result.ok = ParseDeviceFile(f, config, [&](const std::string& caption, const std::string& t) {
    result.messages.push_back({caption, t});
  });
  std::fclose(f);
  return result;
}

const std::string kHead = "Test Meter\nsecond header line\nColumns=12\n";

// --- column keywords ---------------------------------------------------------------

struct ColumnCase {
  const char* line;
  int position;
  int kind;
  double scale;
  double offset;
};

class ColumnKeyword : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(ColumnKeyword, AssignsKindScaleAndOffset) {
  const ColumnCase& c = GetParam();
  DeviceConfig config;
  const Parsed p = parseText(kHead + c.line + "\n", config);
  ASSERT_TRUE(p.ok) << c.line;
  EXPECT_TRUE(p.messages.empty());
  EXPECT_EQ(config.DataFieldCount, 1);
  EXPECT_EQ(config.ColumnKind[c.position], c.kind);
  for (int i = 0; i < kMaxColumns; ++i) {
    if (i == c.position) continue;
    EXPECT_EQ(config.ColumnKind[i], 0) << "position " << i;
  }
  EXPECT_DOUBLE_EQ(config.KindScale[c.kind], c.scale);
  EXPECT_DOUBLE_EQ(config.KindOffset[c.kind], c.offset);
}

// Scales are single precision, as the file's numbers are read.
const double f0121 = static_cast<double>(0.0121f);

INSTANTIATE_TEST_SUITE_P(
    Keywords, ColumnKeyword,
    ::testing::Values(
        ColumnCase{"Date=1", 0, KindDate, 1.0, 0.0}, ColumnCase{"Time=2", 1, KindTime, 1.0, 0.0},
        ColumnCase{"CHL=3 0.0121 48", 2, KindChl, f0121, 48.0},
        ColumnCase{"CDOM=4 0.0121 48", 3, KindCdom, f0121, 48.0},
        ColumnCase{"URANINE=4 0.5 10", 3, KindUranine, 0.5, 10.0},
        ColumnCase{"PHYCOCYANINE=5 0.5 10", 4, KindPhycocyanin, 0.5, 10.0},
        ColumnCase{"PHYCOERYTHRIN=5 0.5 10", 4, KindPhycoerythrin, 0.5, 10.0},
        ColumnCase{"RHODAMINE=6 0.25 -3", 5, KindRhodamine, 0.25, -3.0},
        ColumnCase{"CHLREF=4", 3, KindChlRef, 1.0, 0.0},
        ColumnCase{"CDOMREF=4", 3, KindCdomRef, 1.0, 0.0},
        ColumnCase{"URANINEREF=4", 3, KindUranineRef, 1.0, 0.0},
        ColumnCase{"PHYCOCYANINEREF=4", 3, KindPhycocyaninRef, 1.0, 0.0},
        ColumnCase{"PHYCOERYTHRINREF=4", 3, KindPhycoerythrinRef, 1.0, 0.0},
        ColumnCase{"RHODAMINEREF=4", 3, KindRhodamineRef, 1.0, 0.0},
        ColumnCase{"LSS=7 2 50", 6, KindLss, 2.0, 50.0},
        ColumnCase{"LSSREF=8", 7, KindLssRef, 1.0, 0.0},
        ColumnCase{"iTemp=9 0.125 -50", 8, KindITemp, 0.125, -50.0},
        ColumnCase{"xTemp=10 0.01 -20", 9, KindXTemp, 0.01f, -20.0},
        ColumnCase{"PRES=11 0.5 -10", 10, KindPres, 0.5, -10.0},
        ColumnCase{"REF=12", 11, KindRefOrUnused, 1.0, 0.0},
        ColumnCase{"N/U=12", 11, KindRefOrUnused, 1.0, 0.0},
        ColumnCase{"IENGR=5", 4, KindIEngr, 1.0, 0.0},
        ColumnCase{"NTU=2 0.0242 47", 1, KindNtu, static_cast<double>(0.0242f), 47.0},
        ColumnCase{"NTUREF=3", 2, KindNtuRef, 1.0, 0.0},
        ColumnCase{"Lambda=2 0.5 50 470 470", 1, 7, 0.5, 50.0},
        ColumnCase{"Lambda=10 2 40 700 700", 9, 15, 2.0, 40.0},
        ColumnCase{"Lambdaref=2 1.5 -2", 1, 16, 1.5, -2.0},
        ColumnCase{"Lambdaref=10 1 0", 9, 24, 1.0, 0.0},
        // Case does not matter; "CHLREF=" is only compared over "CHLRE".
        ColumnCase{"lambda=3 0.5 50 532 532", 2, 8, 0.5, 50.0},
        ColumnCase{"chl=1 4 2", 0, KindChl, 4.0, 2.0}, ColumnCase{"CHLREX=4", 3, KindChlRef, 1.0, 0.0},
        ColumnCase{"ntu=1 2 3", 0, KindNtu, 2.0, 3.0},
        // A reference keyword ignores numbers after the column.
        ColumnCase{"CHLREF=4 5 6", 3, KindChlRef, 1.0, 0.0},
        // The values start after the last "=".
        ColumnCase{"CHL=junk=3 0.5 10", 2, KindChl, 0.5, 10.0},
        // Whitespace before the numbers and the CR of a CR LF line do not matter.
        ColumnCase{"CHL=  3\t0.5  10\r", 2, KindChl, 0.5, 10.0}),
    [](const auto& info) { return testsupport::testNameOf(info.param.line); });

TEST(DeviceFile, LambdaSetsWavelengthAndColour) {
  DeviceConfig config;
  ASSERT_TRUE(parseText(kHead + "Lambda=2 0.5 50 470.9 470.9\n", config).ok);
  EXPECT_EQ(config.ColumnKind[1], 7);
  EXPECT_EQ(config.KindWavelength[7], 470);
  // blue 255, green 153, red 0
  EXPECT_EQ(config.KindColour[7], 0xFF9900u);
  EXPECT_EQ(config.KindColour[8], 0xFF0000u);
}

TEST(DeviceFile, LambdaOutsideColumns2To10UsesTheFieldsCode) {
  DeviceConfig config;
  ASSERT_TRUE(
      parseText(kHead + "CHL=1 4 2\nLambda=1 0.5 50 650 650\nLambda=12 3 7 532 532\n", config).ok);
  EXPECT_EQ(config.DataFieldCount, 3);
  EXPECT_EQ(config.ColumnKind[0], KindChl);
  EXPECT_DOUBLE_EQ(config.KindScale[KindChl], 0.5);
  EXPECT_DOUBLE_EQ(config.KindOffset[KindChl], 50.0);
  EXPECT_EQ(config.KindWavelength[KindChl], 650);
  // Field 12 held no kind: its numbers land on kind 0, which no field uses.
  EXPECT_EQ(config.ColumnKind[11], KindNone);
  EXPECT_DOUBLE_EQ(config.KindScale[KindNone], 3.0);
  EXPECT_EQ(config.KindWavelength[KindNone], 532);
}

// --- parameter keywords ------------------------------------------------------------

TEST(DeviceFile, BackscatterParameters) {
  DeviceConfig config;
  ASSERT_TRUE(parseText("T\nSalinity=35.5\nTheta=117\nXFACTOR=1.08\nWater=PURE\n", config).ok);
  EXPECT_DOUBLE_EQ(config.Salinity, 35.5);
  EXPECT_NEAR(config.ThetaRadians, 2.041975, 1e-12);
  EXPECT_DOUBLE_EQ(config.XFactor, static_cast<double>(1.08f));
  EXPECT_FALSE(config.SeaWater);
  EXPECT_EQ(config.DataFieldCount, 0);

  // They survive the next load when that file omits them; Water=SEA needs no value.
  ASSERT_TRUE(parseText("T\nwater=sea\n", config).ok);
  EXPECT_DOUBLE_EQ(config.Salinity, 35.5);
  EXPECT_NEAR(config.ThetaRadians, 2.041975, 1e-12);
  EXPECT_TRUE(config.SeaWater);
}

TEST(DeviceFile, ThetaUsesTheStoredPi) {
  DeviceConfig config;
  ASSERT_TRUE(parseText("T\nTheta=90\n", config).ok);
  EXPECT_NEAR(config.ThetaRadians, 1.57075, 1e-12);
}

struct RangeCase {
  const char* lines;
  float asv1, asv2, asv4;
};

class AnalogRanges : public ::testing::TestWithParam<RangeCase> {};

TEST_P(AnalogRanges, AreFractionsOfMaxVoltage) {
  DeviceConfig config;
  ASSERT_TRUE(parseText(std::string("T\n") + GetParam().lines, config).ok);
  EXPECT_FLOAT_EQ(config.Asv1Range, GetParam().asv1);
  EXPECT_FLOAT_EQ(config.Asv2Range, GetParam().asv2);
  EXPECT_FLOAT_EQ(config.Asv4Range, GetParam().asv4);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnalogRanges,
    ::testing::Values(RangeCase{"maxvoltage=5\nASV1=0.2\nASV2=0.5\nASV4=1\n", 1.0f, 2.5f, 5.0f},
                      RangeCase{"ASV1=0.2\nASV2=0.5\n", 0.2f, 0.5f, 0.0f},
                      RangeCase{"MAXVOLTAGE=0\nasv1=0.2\n", 0.2f, 0.0f, 0.0f},
                      // The order of the lines does not matter: scaling comes last.
                      RangeCase{"ASV4=0.5\nmaxvoltage=4\n", 0.0f, 0.0f, 2.0f}),
    [](const auto& info) { return testsupport::testNameOf(info.param.lines); });

TEST(DeviceFile, EngineeringChannelParameters) {
  DeviceConfig config;
  ASSERT_TRUE(
      parseText("T\niengrscale=0.0121\niengroffset=48\niengrunits=ug/l\r\nIENGR=1\nColumns=1\n",
                config)
          .ok);
  EXPECT_FLOAT_EQ(config.IEngrScale, 0.0121f);
  EXPECT_FLOAT_EQ(config.IEngrOffset, 48.0f);
  EXPECT_EQ(config.IEngrUnits, "ug/l");
  EXPECT_EQ(config.ColumnKind[0], KindIEngr);

  // Cut at the first non-printing character; blanks are printing.
  ASSERT_TRUE(parseText("T\niengrunits= mg m-3\tjunk\n", config).ok);
  EXPECT_EQ(config.IEngrUnits, " mg m-3");
  // Every load starts again from the reset values.
  ASSERT_TRUE(parseText("T\n", config).ok);
  EXPECT_FLOAT_EQ(config.IEngrScale, -1.0f);
  EXPECT_EQ(config.IEngrUnits, "");
}

// --- title, line reading, lifecycle ------------------------------------------------

TEST(DeviceFile, TitleOnlyLoadsWithoutFields) {
  DeviceConfig config;
  EXPECT_EQ(config.MeterTitle, "MARU Sensor");
  const Parsed p = parseText("Meter\tS/N 12\r\n", config);
  EXPECT_TRUE(p.ok);
  EXPECT_TRUE(p.messages.empty());
  EXPECT_EQ(config.DataFieldCount, 0);
  EXPECT_TRUE(config.DeviceFileLoaded);
  EXPECT_EQ(config.MeterTitle, "Meter S/N 12");
}

TEST(DeviceFile, TitleWithoutLineEnd) {
  DeviceConfig config;
  ASSERT_TRUE(parseText("Only a title", config).ok);
  EXPECT_EQ(config.MeterTitle, "Only a title");
}

TEST(DeviceFile, LongLinesAreReadIn98CharacterPieces) {
  DeviceConfig config;
  // 98 characters of comment, then a column line on the same physical line.
  const std::string longLine = std::string(98, '#') + "CHL=1 2 3\n";
  ASSERT_TRUE(parseText(kHead + longLine, config).ok);
  EXPECT_EQ(config.ColumnKind[0], KindChl);
  EXPECT_EQ(config.DataFieldCount, 1);

  // One character fewer and the keyword is buried inside the comment line.
  DeviceConfig other;
  ASSERT_TRUE(parseText(kHead + std::string(97, '#') + "CHL=1 2 3\n", other).ok);
  EXPECT_EQ(other.DataFieldCount, 0);

  // A long title spills over into the next line, which may be a keyword.
  DeviceConfig third;
  ASSERT_TRUE(parseText(std::string(98, 'T') + "Columns=3\nCHL=1 2 3\n", third).ok);
  EXPECT_EQ(third.MeterTitle, std::string(98, 'T'));
  EXPECT_EQ(third.ExpectedColumns, 3);
}

TEST(DeviceFile, ColumnsAfterColumnLinesChangesNoKind) {
  DeviceConfig config;
  ASSERT_TRUE(parseText("T\nDate=1\nCHL=2 1 0\nColumns=2\n", config).ok);
  EXPECT_EQ(config.ExpectedColumns, 2);
  EXPECT_EQ(config.ColumnKind[0], KindDate);
  EXPECT_EQ(config.ColumnKind[1], KindChl);
  EXPECT_EQ(config.DataFieldCount, 2);
}

TEST(DeviceFile, LoadResetsTablesButKeepsColumnsAndReferences) {
  DeviceConfig config;
  ASSERT_TRUE(parseText("T\nColumns=3\nLambda=2 0.5 50 470 470\nCHL=3 2 1\n", config).ok);
  config.KindRefValue[16] = 4000.0;
  config.TempCoefA[7] = 3.0;
  ASSERT_TRUE(parseText("Second\nNTU=1 2 3\n", config).ok);
  EXPECT_EQ(config.ExpectedColumns, 3);  // no Columns= line: the previous value stays
  EXPECT_EQ(config.ColumnKind[0], KindNtu);
  EXPECT_EQ(config.ColumnKind[1], KindNone);
  EXPECT_EQ(config.ColumnKind[2], KindNone);
  EXPECT_DOUBLE_EQ(config.KindScale[7], 1.0);
  EXPECT_EQ(config.KindWavelength[7], 0);
  EXPECT_EQ(config.KindColour[7], 0xFF0000u);
  EXPECT_DOUBLE_EQ(config.KindRefValue[16], 9999.9);
  EXPECT_DOUBLE_EQ(config.TempCoefA[7], 1.0);
  EXPECT_EQ(config.MeterTitle, "Second");
}

TEST(DeviceFile, StartupDefaults) {
  DeviceConfig config;
  config.KindScale[9] = 4.0;
  config.KindOffset[9] = 4.0;
  config.setStartupDefaults();
  EXPECT_DOUBLE_EQ(config.KindScale[9], 1.0);
  EXPECT_DOUBLE_EQ(config.KindOffset[9], 0.0);
  EXPECT_DOUBLE_EQ(config.ThetaRadians, 2.041975);
}

// --- failures ----------------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::string text;
  std::vector<Message> messages;
};

class DeviceFileFailure : public ::testing::TestWithParam<FailureCase> {};

const char kCaption[] = "MARU Device File Error";

TEST_P(DeviceFileFailure, FailsWithItsMessage) {
  DeviceConfig config;
  // A good load first: a failure must leave no usable configuration behind.
  ASSERT_TRUE(parseText("Good\nColumns=2\nCHL=1 1 0\nTime=2\n", config).ok);
  config.DeviceFileLoaded = false;
  const Parsed p = parseText(GetParam().text, config);
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.messages, GetParam().messages);
  EXPECT_EQ(config.DataFieldCount, 0);
  EXPECT_FALSE(config.DeviceFileLoaded);
  EXPECT_EQ(config.MeterTitle, "Good");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceFileFailure,
    ::testing::Values(
        FailureCase{"EmptyFile", "", {}},
        FailureCase{"ColumnAbove60", "T\nColumns=60\nCHL=61 1 0\n", {}},
        FailureCase{"ColumnsAbove60", "T\nColumns=61\n", {}},
        FailureCase{"TooFewNumbers",
                    "T\nColumns=9\nCHL=3 1\n",
                    {{kCaption, "Invalid Line 'CHL=3 1\n' in *.dev file"}}},
        FailureCase{"TooFewNumbersCrLf",
                    "T\r\nColumns=9\r\nLambda=2 0.5 50 470\r\n",
                    {{kCaption, "Invalid Line 'Lambda=2 0.5 50 470\r\n' in *.dev file"}}},
        FailureCase{"NoColumn", "T\nDate=\n", {{kCaption, "Invalid Line 'Date=\n' in *.dev file"}}},
        FailureCase{"LambdarefShort",
                    "T\nLambdaref=2 1\n",
                    {{kCaption, "Invalid Line 'Lambdaref=2 1\n' in *.dev file"}}},
        FailureCase{"ParameterNotANumber",
                    "T\nSalinity=high\n",
                    {{kCaption, "Invalid Line 'Salinity=high\n' in *.dev file"}}},
        FailureCase{"ColumnsNotANumber",
                    "T\nColumns=\n",
                    {{kCaption, "Invalid Line 'Columns=\n' in *.dev file"}}},
        FailureCase{"ColumnZero",
                    "T\nColumns=5\nCHL=0 1 0\n",
                    {{kCaption, "Invalid Line 'CHL=0 1 0\n' in *.dev file"}}},
        FailureCase{"ColumnNegative",
                    "T\nColumns=5\nLambda=-3 1 0 470 470\n",
                    {{kCaption, "Invalid Line 'Lambda=-3 1 0 470 470\n' in *.dev file"}}},
        FailureCase{"ColumnsZero",
                    "T\nColumns=0\n",
                    {{kCaption, "Invalid Line 'Columns=0\n' in *.dev file"}}},
        FailureCase{"MoreFieldsThanColumns",
                    "T\nColumns=1\nDate=1\nTime=2\n",
                    {{kCaption, "More Data Fields (2) than Columns (1) in *.dev"}}},
        FailureCase{"SameColumnTwiceCountsTwice",
                    "T\nColumns=1\nCHL=1 1 0\nCHL=1 1 0\n",
                    {{kCaption, "More Data Fields (2) than Columns (1) in *.dev"}}}),
    [](const auto& info) { return info.param.name; });

TEST(DeviceFile, FailedLoadKeepsNoColumnsOfTheEarlierFile) {
  DeviceConfig config;
  ASSERT_TRUE(parseText("T\nColumns=3\nCHL=1 1 0\nCDOM=2 1 0\nNTU=3 1 0\n", config).ok);
  EXPECT_FALSE(parseText("T\nCHL=2 1\n", config).ok);
  EXPECT_EQ(config.ColumnKind[0], KindNone);
  EXPECT_EQ(config.ColumnKind[2], KindNone);
  EXPECT_TRUE(config.DeviceFileLoaded);  // never cleared once set
}

TEST(DeviceFile, LoadFromPath) {
  testsupport::TempDir dir;
  DeviceConfig config;
  bool opened = true;
  config.ExpectedColumns = 7;
  EXPECT_FALSE(LoadDeviceFile(dir.file("missing.dev"), config, nullptr, &opened));
  EXPECT_FALSE(opened);
  EXPECT_EQ(config.ExpectedColumns, 7);

  testsupport::writeFile(dir.file("m.dev"), "Meter\r\nColumns=2\r\nDate=1\r\nNTU=2 0.5 10\r\n");
  EXPECT_TRUE(LoadDeviceFile(dir.file("m.dev"), config, nullptr, &opened));
  EXPECT_TRUE(opened);
  EXPECT_EQ(config.ColumnKind[1], KindNtu);
  EXPECT_EQ(config.MeterTitle, "Meter");
}

// --- colour of a wavelength ---------------------------------------------------------

struct ColourCase {
  int nanometres;
  unsigned red, green, blue;
};

class Colour : public ::testing::TestWithParam<ColourCase> {};

TEST_P(Colour, OfWavelength) {
  const ColourCase& c = GetParam();
  const uint32_t expected = (c.blue << 16) | (c.green << 8) | c.red;
  EXPECT_EQ(WavelengthColour(c.nanometres), expected)
      << cformat("%d nm: got %06X", c.nanometres, WavelengthColour(c.nanometres));
}

INSTANTIATE_TEST_SUITE_P(
    Spectrum, Colour,
    ::testing::Values(ColourCase{470, 0, 153, 255},
                      // Dimmed violet end: intensity 0.3 at 380 nm and below.
                      ColourCase{380, 76, 0, 76}, ColourCase{200, 76, 0, 76},
                      ColourCase{440, 0, 0, 255},  // the 440-490 rule overrides the default
                      ColourCase{490, 0, 255, 255}, ColourCase{500, 0, 255, 127},
                      ColourCase{510, 0, 255, 0}, ColourCase{580, 255, 255, 0},
                      ColourCase{690, 255, 0, 0}, ColourCase{700, 255, 0, 0},
                      // Dimmed red end: 0.3 + 0.7 * 40 * 0.0125 = 0.65 at 740 nm.
                      ColourCase{740, 165, 0, 0}, ColourCase{780, 76, 0, 0},
                      ColourCase{1000, 76, 0, 0}),
    [](const auto& info) { return std::to_string(info.param.nanometres) + "nm"; });

}  // namespace

// A device file that cannot be read is told with why: what a wrong --dev or
// MARU_DEVICE_FILE needs to be put right.
TEST(DeviceFile, AFileThatCannotBeOpenedIsToldWithItsCause) {
  testsupport::TempDir dir;
  const struct {
    std::string path, cause;
  } cases[] = {
      {dir.path(), "is a directory"},
      {dir.file("missing.dev"), "No such file or directory"},
      {dir.file("missing/x.dev"), "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<std::string> told;
    DeviceConfig config;
    EXPECT_FALSE(LoadDeviceFileAtStart(c.path, config, [&](const std::string& caption, const std::string& text) {
      told.push_back(caption + ": " + text);
    }));
    EXPECT_EQ(told, std::vector<std::string>{"Device File Error: Could not open device file '" + c.path + "': " + c.cause});
  }
}
