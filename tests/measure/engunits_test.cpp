// Correction of backscatter counts and conversion into engineering values.
#include "measure/engunits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "measure/kindtable.h"
#include "support/testfiles.h"

using namespace measure;

namespace {

struct Bench {
  DeviceConfig config;
  SampleState sample;
  EngValues values;

  void columns(std::vector<int> kinds) {
    for (size_t i = 0; i < kinds.size(); ++i) config.ColumnKind[i] = kinds[i];
    config.DataFieldCount = static_cast<int>(kinds.size());
    config.ExpectedColumns = config.DataFieldCount;
  }
};

// --- single-valued kinds ---------------------------------------------------------------

struct ScalarCase {
  int kind;
  double counts, scale, offset;
  double EngValues::*member;
  double expected;
};

class Scalar : public ::testing::TestWithParam<ScalarCase> {};

TEST_P(Scalar, Converts) {
  const ScalarCase& c = GetParam();
  Bench s;
  s.columns({KindDate, c.kind});
  s.config.KindScale[c.kind] = c.scale;
  s.config.KindOffset[c.kind] = c.offset;
  s.sample.KindCounts[c.kind] = c.counts;
  ConvertToEngineering(s.config, s.sample, s.values);
  EXPECT_NEAR(s.values.*c.member, c.expected, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Scalar,
    ::testing::Values(
        // Fluorescence and turbidity: (counts - dark) * scale.
        ScalarCase{KindChl, 1048, 0.0125, 48, &EngValues::ChlValue, 12.5},
        ScalarCase{KindCdom, 150, 0.5, 50, &EngValues::CdomValue, 50},
        ScalarCase{KindUranine, 150, 2, 50, &EngValues::UranineValue, 200},
        ScalarCase{KindPhycocyanin, 150, 2, 60, &EngValues::PhycocyaninValue, 180},
        ScalarCase{KindPhycoerythrin, 40, 2, 60, &EngValues::PhycoerythrinValue, -40},
        ScalarCase{KindRhodamine, 100, 0.25, 20, &EngValues::RhodamineValue, 20},
        ScalarCase{KindLss, 100, 3, 10, &EngValues::LssValue, 270},
        ScalarCase{KindNtu, 1047, 0.02, 47, &EngValues::NtuValue, 20},
        // Temperatures and pressure: counts * scale + offset.
        ScalarCase{KindITemp, 560, 0.125, -50, &EngValues::ITempValue, 20},
        ScalarCase{KindXTemp, 3850, 0.01, -20, &EngValues::XTempValue, 18.5},
        ScalarCase{KindPres, 2000, 0.01, -10, &EngValues::PresValue, 10},
        // The meter computed this one already: scale and offset do not apply.
        ScalarCase{KindIEngr, 3.62, 5, 7, &EngValues::IEngrValue, 3.62}),
    [](const auto& info) { return testsupport::testNameOf(kindInfo(info.param.kind).name); });

TEST(EngUnits, NothingWithoutConfiguration) {
  Bench s;
  s.columns({KindChl});
  s.config.DataFieldCount = 0;
  s.sample.KindCounts[KindChl] = 1000;
  s.values.ChlValue = 7.0;
  ConvertToEngineering(s.config, s.sample, s.values);
  CorrectCounts(s.config, s.sample, true, true);
  EXPECT_EQ(s.values.ChlValue, 7.0);
  EXPECT_EQ(s.sample.KindCounts[KindChl], 1000);
}

// --- backscattering chain ----------------------------------------------------------------

struct WaterCase {
  bool seaWater;
  double bbw;
};

class Backscatter : public ::testing::TestWithParam<WaterCase> {};

TEST_P(Backscatter, At500nmSalinity0Theta90) {
  Bench s;
  s.columns({KindDate, KindTime, 9});
  s.config.KindWavelength[9] = 500;
  s.config.KindScale[9] = 2e-6;
  s.config.KindOffset[9] = 50;
  s.config.Salinity = 0.0;
  s.config.ThetaRadians = 90 * 3.1415 / 180;  // what "Theta=90" gives
  s.config.XFactor = 1.1;
  s.config.SeaWater = GetParam().seaWater;
  s.sample.KindCounts[9] = 1050;
  ConvertToEngineering(s.config, s.sample, s.values);

  const double beta = 1000 * 2e-6;
  const double betaw = 1.38e-4;  // T is 1 to within 1e-8 at this angle
  EXPECT_NEAR(s.values.KindBeta[9], beta, 1e-15);
  EXPECT_NEAR(s.values.KindBetap[9], beta - betaw, 1e-11);
  EXPECT_NEAR(s.values.KindBbp[9], 2 * 3.1415 * 1.1 * (beta - betaw), 1e-10);
  EXPECT_NEAR(s.values.KindBb[9] - s.values.KindBbp[9], GetParam().bbw, 1e-15);
}

INSTANTIATE_TEST_SUITE_P(Water, Backscatter,
                         ::testing::Values(WaterCase{true, 0.0014654}, WaterCase{false, 0.00112665}),
                         [](const auto& info) { return std::string(info.param.seaWater ? "Sea" : "Fresh"); });

TEST(EngUnits, BackscatterAt117DegreesAndSalinity) {
  Bench s;
  s.columns({7});
  s.config.KindWavelength[7] = 470;
  s.config.KindScale[7] = 1e-5;
  s.config.KindOffset[7] = 0;
  s.sample.KindCounts[7] = 100;
  // Start values: salinity 32, 117 degrees, X 1.1, sea water.
  ConvertToEngineering(s.config, s.sample, s.values);
  const double c = std::cos(2.042035);
  const double T = 1 + c * c * 0.91 / 1.09;
  const double ratio = 470.0 / 500.0;
  const double betaw = 1.38 * std::pow(ratio, -4.32) * (1 + 0.3 * 32 / 37) * 1e-4 * T;
  const double bbw = std::pow(ratio, -4.24) * 0.0029308 * 0.5;
  EXPECT_NEAR(s.values.KindBetap[7], 1e-3 - betaw, 1e-12);
  EXPECT_NEAR(s.values.KindBb[7], 2 * 3.1415 * 1.1 * (1e-3 - betaw) + bbw, 1e-12);
}

// A zero wavelength has no water term: Betap is Beta and bb is bbp; other columns are unaffected.
TEST(EngUnits, ZeroWavelengthLeavesWaterTermsOut) {
  Bench s;
  s.columns({7, 8, KindChl});
  s.config.KindWavelength[7] = 0;
  s.config.KindWavelength[8] = 532;
  s.config.KindScale[7] = s.config.KindScale[8] = 1e-5;
  s.sample.KindCounts[7] = s.sample.KindCounts[8] = 200;
  s.sample.KindCounts[KindChl] = 100;
  ConvertToEngineering(s.config, s.sample, s.values);
  EXPECT_DOUBLE_EQ(s.values.KindBeta[7], 2e-3);
  EXPECT_DOUBLE_EQ(s.values.KindBetap[7], 2e-3);
  EXPECT_NEAR(s.values.KindBbp[7], 2 * 3.1415 * 1.1 * 2e-3, 1e-15);
  EXPECT_DOUBLE_EQ(s.values.KindBb[7], s.values.KindBbp[7]);
  EXPECT_TRUE(std::isfinite(s.values.KindBb[8]));
  EXPECT_LT(s.values.KindBetap[8], 2e-3);
  EXPECT_DOUBLE_EQ(s.values.ChlValue, 100);

  s.config.KindWavelength[7] = -470;  // a negative power base would give NaN
  ConvertToEngineering(s.config, s.sample, s.values);
  EXPECT_DOUBLE_EQ(s.values.KindBetap[7], 2e-3);
}

// --- corrections ---------------------------------------------------------------------

struct CorrectionCase {
  const char* name;
  bool ref, temp;
  double refCounts, refBase, refScale, refOffset;
  double iTemp, coefA, coefB;
  double expected;  // corrected signal counts from 1000
  int skipped = CorrectionNone;
};

class Correction : public ::testing::TestWithParam<CorrectionCase> {};

TEST_P(Correction, OfSignal) {
  const CorrectionCase& c = GetParam();
  Bench s;
  // Reference of the signal in field 3 (kind 9) is field 2 (kind 17).
  s.columns({KindDate, 17, 9, KindITemp});
  s.sample.KindCounts[9] = 1000;
  s.sample.KindCounts[17] = c.refCounts;
  s.config.KindRefValue[17] = c.refBase;
  s.config.KindScale[17] = c.refScale;
  s.config.KindOffset[17] = c.refOffset;
  s.sample.ITempCounts = c.iTemp;
  s.config.TempCoefA[9] = c.coefA;
  s.config.TempCoefB[9] = c.coefB;
  EXPECT_EQ(CorrectCounts(s.config, s.sample, c.ref, c.temp), c.skipped);
  EXPECT_NEAR(s.sample.KindCounts[9], c.expected, 1e-9);
  EXPECT_EQ(s.sample.KindCounts[17], c.refCounts);  // the reference itself is not touched
}

const double kNeutralTemp = 1.0 / 0.001794468729587918;

INSTANTIATE_TEST_SUITE_P(
    Cases, Correction,
    ::testing::Values(
        CorrectionCase{"Off", false, false, 2000, 4000, 1, 0, 300, 1, 0, 1000},
        CorrectionCase{"RefAtFirstReading", true, false, 4000, 4000, 1, 0, 300, 1, 0, 1000},
        CorrectionCase{"RefDroppedByHalf", true, false, 2000, 4000, 1, 0, 300, 1, 0, 2000},
        CorrectionCase{"RefScaleAndOffset", true, false, 2000, 4000, 2, 0.5, 300, 1, 0, 1000 / 1.5},
        CorrectionCase{"TempNeutral", false, true, 2000, 4000, 1, 0, kNeutralTemp, 1, 0, 1000},
        CorrectionCase{"TempCoefficients", false, true, 2000, 4000, 1, 0, kNeutralTemp, 2, 0.5,
                       1000 / 2.5},
        CorrectionCase{"BothRefFirst", true, true, 2000, 4000, 1, 0, 2 * kNeutralTemp, 1, 0, 1000},
        // A divisor of zero leaves that step out and says so; the other step still runs.
        CorrectionCase{"RefFirstReadingZero", true, false, 0, 0, 1, 0, 300, 1, 0, 1000, CorrectionReference},
        CorrectionCase{"RefDriftZero", true, false, 2000, 4000, 1, -0.5, 300, 1, 0, 1000, CorrectionReference},
        CorrectionCase{"NoTemperatureColumn", false, true, 2000, 4000, 1, 0, 0, 1, 0, 1000, CorrectionTemperature},
        CorrectionCase{"RefZeroTempApplied", true, true, 0, 0, 1, 0, 2 * kNeutralTemp, 1, 0, 500,
                       CorrectionReference},
        CorrectionCase{"BothZero", true, true, 5, 0, 1, 0, 0, 1, 0, 1000,
                       CorrectionReference | CorrectionTemperature}),
    [](const auto& info) { return info.param.name; });

TEST(EngUnits, OnlyKinds8To15AreCorrected) {
  Bench s;
  s.columns({7, 15, KindChl, 23, 16});
  s.sample.KindCounts[7] = s.sample.KindCounts[15] = s.sample.KindCounts[KindChl] = 1000;
  s.sample.KindCounts[23] = 500;
  s.config.KindRefValue[23] = 1000;
  s.sample.KindCounts[16] = 1;
  s.config.KindRefValue[16] = 1000;
  CorrectCounts(s.config, s.sample, true, false);
  EXPECT_EQ(s.sample.KindCounts[7], 1000);  // kind 7 has no reference
  EXPECT_NEAR(s.sample.KindCounts[15], 2000, 1e-9);
  EXPECT_EQ(s.sample.KindCounts[KindChl], 1000);
}

}  // namespace
