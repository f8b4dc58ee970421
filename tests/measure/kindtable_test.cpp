// The kind table: the rules a row must keep so that every stage reading it works, the
// device-file parser against the table's keywords, and the table's names and number
// formats against the checked engineering-units files of the examples.
#include "measure/kindtable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "measure/cformat.h"
#include "measure/devicefile.h"
#include "support/testfiles.h"

using namespace measure;

namespace {

std::vector<int> rowsInUse() {
  std::vector<int> kinds;
  for (int k = 0; k < kMaxColumns; ++k)
    if (kindInfo(k).name != nullptr) kinds.push_back(k);
  return kinds;
}

// --- patterns ------------------------------------------------------------------------

struct PatternCase {
  const char* pattern;
  PatternArgs args;
};

class Pattern : public ::testing::TestWithParam<PatternCase> {};

TEST_P(Pattern, IsReadByItsConversions) {
  EXPECT_EQ(patternArgs(GetParam().pattern), GetParam().args) << GetParam().pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Pattern,
    ::testing::Values(PatternCase{"CHL(ug/l)", PatternArgs::None}, PatternCase{"bb(%3d))", PatternArgs::Wavelength},
                      PatternCase{"iEngr(%s)", PatternArgs::Units},
                      PatternCase{"CHL: %4.2lf ug/l", PatternArgs::Value},
                      PatternCase{"100%% %4.0lf", PatternArgs::Value},
                      PatternCase{"Beta %3d : %6.4lf", PatternArgs::WavelengthValue},
                      PatternCase{"iENGR: %4.2lf %s", PatternArgs::ValueUnits},
                      PatternCase{"%s: %4.2lf", PatternArgs::Invalid},  // units before the value
                      PatternCase{"%d %d", PatternArgs::Invalid}, PatternCase{"%4.2x", PatternArgs::Invalid},
                      PatternCase{"%", PatternArgs::Invalid}),
    // Each '%' spelled "pct", so that a conversion keeps its mark in the name.
    [](const auto& info) {
      std::string text;
      for (const char* p = info.param.pattern; *p; ++p) text += *p == '%' ? std::string(" pct ") : std::string(1, *p);
      return testsupport::testNameOf(text);
    });

TEST(KindTable, PatternsTakeWhatTheirRowCanGive) {
  for (const int k : rowsInUse()) {
    const KindInfo& row = kindInfo(k);
    SCOPED_TRACE(cformat("kind %d (%s)", k, row.name));
    // Only a "Lambda=" line gives a wavelength; only a meter value has units from the file.
    const bool hasWavelength = row.deviceLine == DeviceLine::Lambda;
    const bool fileUnits = row.conversion == Conversion::Passthrough;
    auto nameOk = [&](const char* p, bool unitsAllowed) {
      const PatternArgs a = patternArgs(p);
      return a == PatternArgs::None || (a == PatternArgs::Wavelength && hasWavelength) ||
             (a == PatternArgs::Units && unitsAllowed && fileUnits);
    };
    auto titleOk = [&](const char* p) {
      const PatternArgs a = patternArgs(p);
      return a == PatternArgs::Value || (a == PatternArgs::WavelengthValue && hasWavelength) ||
             (a == PatternArgs::ValueUnits && fileUnits);
    };
    for (int i = 0; i < row.engCount; ++i) {
      const EngColumn& c = row.eng[size_t(i)];
      ASSERT_NE(c.header, nullptr);
      EXPECT_TRUE(nameOk(c.header, true)) << c.header;
      EXPECT_TRUE(nameOk(c.name, false)) << c.name;
      if (c.plotTitle) { EXPECT_TRUE(titleOk(c.plotTitle)) << c.plotTitle; }
    }
    if (row.plot.channel) { EXPECT_TRUE(nameOk(row.plot.channel, false)) << row.plot.channel; }
    if (row.plot.rawName) { EXPECT_TRUE(nameOk(row.plot.rawName, false)) << row.plot.rawName; }
  }
}

// --- what the stages rely on ------------------------------------------------------------

TEST(KindTable, EveryRowIsConsistentForTheStagesThatReadIt) {
  std::vector<double EngValues::*> results;
  for (int k = 0; k < kMaxColumns; ++k) {
    const KindInfo& row = kindInfo(k);
    SCOPED_TRACE(cformat("kind %d (%s)", k, row.name ? row.name : "unused"));
    if (row.name == nullptr) {
      // An unused code must stay inert: no line gives it, nothing is stored or written.
      EXPECT_EQ(row.deviceLine, DeviceLine::None);
      EXPECT_EQ(row.capture, Capture::None);
      EXPECT_EQ(row.conversion, Conversion::None);
      EXPECT_EQ(row.engCount, 0);
      EXPECT_EQ(row.plot.channel, nullptr);
      continue;
    }
    EXPECT_EQ(row.deviceLine == DeviceLine::None, row.deviceKeys[0].text == nullptr);

    // A converted kind needs its counts stored, and its columns where the conversion writes.
    if (row.conversion != Conversion::None) { EXPECT_NE(row.capture, Capture::None); }
    ASSERT_GE(row.engCount, 0);
    ASSERT_LE(row.engCount, static_cast<int>(row.eng.size()));
    switch (row.conversion) {
      case Conversion::None: EXPECT_EQ(row.engCount, 0); break;
      case Conversion::Backscatter:
        ASSERT_EQ(row.engCount, 4);
        EXPECT_EQ(row.eng[0].perKind, &EngValues::KindBeta);  // the chain starts from Beta
        for (const EngColumn& c : row.eng) EXPECT_NE(c.perKind, nullptr);
        break;
      default:
        ASSERT_EQ(row.engCount, 1);
        ASSERT_NE(row.result(), nullptr);
        EXPECT_EQ(std::find(results.begin(), results.end(), row.result()), results.end())
            << "a second kind writes the same value";
        results.push_back(row.result());
        break;
    }
    for (int i = 0; i < row.engCount; ++i) {
      const EngColumn& c = row.eng[size_t(i)];
      EXPECT_NE(c.value == nullptr, c.perKind == nullptr) << "exactly one place holds column " << i;
      EXPECT_GE(c.format.precision, 0);
      EXPECT_LE(c.format.precision, 17);
      EXPECT_GT(c.format.width, c.format.precision);
    }

    if (row.countsCopy) { EXPECT_EQ(row.capture, Capture::Counts); }
    if (row.driftCorrected) {
      ASSERT_TRUE(isValidKind(row.referenceKind));
      EXPECT_EQ(kindInfo(row.referenceKind).capture, Capture::Reference);
    }
    if (row.referenceKind != KindNone) {
      EXPECT_EQ(kindInfo(row.referenceKind).role, Role::Reference);
    }
    if (row.capture == Capture::Reference) { EXPECT_EQ(row.role, Role::Reference); }

    // A channel needs a colour, a raw-data name and an engineering-units title.
    if (row.plot.channel) {
      EXPECT_NE(row.plot.colourRule, ColourRule::None);
      EXPECT_NE(row.plot.rawName, nullptr);
      ASSERT_GT(row.engCount, 0);
      for (int i = 0; i < row.engCount; ++i) EXPECT_NE(row.eng[size_t(i)].plotTitle, nullptr);
    }
    if (row.plot.colourRule == ColourRule::Wavelength) {
      EXPECT_EQ(row.deviceLine, DeviceLine::Lambda);
    }
    if (row.plot.gate != PlotGate::None) { EXPECT_NE(row.plot.channel, nullptr); }
    if (row.role == Role::Auxiliary) { EXPECT_LT(row.typical.low, row.typical.high); }
  }
}

TEST(KindTable, ColumnNamesAreMachineFriendlyAndDistinct) {
  // Every backscatter kind has the same names; the wavelength tells them apart.
  std::set<std::string> seen;
  std::set<std::string> rowNames;
  for (const int k : rowsInUse()) {
    const KindInfo& row = kindInfo(k);
    if (!rowNames.insert(row.name).second) continue;
    for (int i = 0; i < row.engCount; ++i) {
      const std::string name = row.eng[size_t(i)].name;
      EXPECT_FALSE(name.empty()) << row.name;
      EXPECT_TRUE(seen.insert(name).second) << name << " twice";
      for (size_t at = 0; at < name.size(); ++at) {
        const char c = name[at];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                        (c == '%' && name.compare(at, 2, "%d") == 0) || (c == 'd' && at > 0 && name[at - 1] == '%');
        EXPECT_TRUE(ok) << name;
      }
    }
  }
  DeviceConfig config;
  config.KindWavelength[KindLambdaFirst + 1] = 470;
  EXPECT_EQ(engColumnName(kindInfo(KindLambdaFirst + 1).eng[2], config, KindLambdaFirst + 1), "bbp_470_per_m");
}

// --- the device file ----------------------------------------------------------------------

std::string lowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

TEST(KindTable, NoDeviceFileKeywordStartsAnother) {
  const std::vector<std::string> keywords = DeviceFileKeywords();
  for (const int k : rowsInUse()) {
    for (const DeviceKey& key : kindInfo(k).deviceKeys) {
      if (key.text == nullptr) continue;
      const std::string compared(key.text, key.compareLength ? key.compareLength : std::string(key.text).size());
      EXPECT_EQ(std::count(keywords.begin(), keywords.end(), compared), 1) << compared;
    }
  }
  // A line matches one keyword at most, so the order they are tried in does not matter.
  for (size_t i = 0; i < keywords.size(); ++i) {
    for (size_t j = 0; j < keywords.size(); ++j) {
      if (i == j) continue;
      EXPECT_NE(lowerAscii(keywords[j]).rfind(lowerAscii(keywords[i]), 0), 0u)
          << keywords[i] << " starts " << keywords[j];
    }
  }
}

bool parseText(const std::string& text, DeviceConfig& config) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return false;
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  const bool ok = ParseDeviceFile(f, config, nullptr);
  std::fclose(f);
  return ok;
}

TEST(KindTable, EveryKeywordGivesItsKind) {
  for (const int k : rowsInUse()) {
    const KindInfo& row = kindInfo(k);
    for (const DeviceKey& key : row.deviceKeys) {
      if (key.text == nullptr) continue;
      // The backscatter kinds follow the field: kind 5 + column, references 14 + column.
      int column = 3;
      if (row.deviceLine == DeviceLine::Lambda) column = k - (KindLambdaFirst - 2);
      if (row.deviceLine == DeviceLine::LambdaRef) column = k - (KindLambdaRefFirst - 2);
      std::string line = cformat("%s%d", key.text, column);
      if (row.deviceLine == DeviceLine::Measure || row.deviceLine == DeviceLine::LambdaRef) line += " 2.5 7";
      if (row.deviceLine == DeviceLine::Lambda) line += " 2.5 7 532 532";
      DeviceConfig config;
      ASSERT_TRUE(parseText("Meter\nColumns=12\n" + line + "\n", config)) << line;
      EXPECT_EQ(config.ColumnKind[size_t(column - 1)], k) << line;
      const bool scaled = row.deviceLine != DeviceLine::Column;
      EXPECT_EQ(config.KindScale[size_t(k)], scaled ? 2.5 : 1.0) << line;
      EXPECT_EQ(config.KindOffset[size_t(k)], scaled ? 7.0 : 0.0) << line;
    }
  }
}

// --- the examples' checked engineering-units files -----------------------------------------

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

class ExampleFile : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleFile, HeaderNamesAndNumberFormatsAreTheTables) {
  const std::string base = std::string(MARU_SOURCE_DIR) + "/examples/" + GetParam();
  DeviceConfig config;
  ASSERT_TRUE(LoadDeviceFile(base + ".dev", config, nullptr));
  std::ifstream eng(base + ".eng", std::ios::binary);
  ASSERT_TRUE(eng.good()) << base << ".eng";

  // What each written column is, in file order.
  std::vector<std::string> names = {"Count", "Date", "Time"};
  std::vector<NumberFormat> formats;
  for (int c = 0; c < config.DataFieldCount; ++c) {
    const int k = config.ColumnKind[size_t(c)];
    const KindInfo& row = kindInfo(k);
    for (int i = 0; i < row.engCount; ++i) {
      names.push_back(kindLabel(row.eng[size_t(i)].header, config, k));
      formats.push_back(row.eng[size_t(i)].format);
    }
  }

  std::string line;
  ASSERT_TRUE(std::getline(eng, line));
  ASSERT_FALSE(line.empty());
  ASSERT_EQ(line.back(), '\r');
  line.pop_back();
  EXPECT_EQ(splitTabs(line), names);

  int lines = 0;
  while (std::getline(eng, line)) {
    ASSERT_EQ(line.back(), '\r');
    line.pop_back();
    const std::vector<std::string> fields = splitTabs(line);
    ASSERT_EQ(fields.size(), names.size()) << "line " << lines + 2;
    for (size_t i = 0; i < formats.size(); ++i) {
      const std::string& f = fields[i + 3];
      const size_t point = f.find('.');
      const int decimals = point == std::string::npos ? 0 : static_cast<int>(f.size() - point - 1);
      EXPECT_EQ(decimals, formats[i].precision) << names[i + 3] << " on line " << lines + 2 << ": '" << f << "'";
      EXPECT_GE(static_cast<int>(f.size()), formats[i].width) << names[i + 3] << ": '" << f << "'";
    }
    ++lines;
  }
  EXPECT_GT(lines, 0);
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleFile, ::testing::Values("bb3", "flasv", "flcd", "ntu"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
