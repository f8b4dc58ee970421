#pragma once
// Reference/temperature correction of the backscatter counts and the conversion of
// counts into engineering values, including the backscattering chain.
#include <array>

#include "measure/deviceconfig.h"
#include "measure/sample.h"

namespace measure {

struct EngValues {
  double ChlValue = 0, CdomValue = 0, UranineValue = 0, PhycocyaninValue = 0;
  double PhycoerythrinValue = 0, RhodamineValue = 0, LssValue = 0, NtuValue = 0;
  double ITempValue = 0, XTempValue = 0, PresValue = 0, IEngrValue = 0;
  std::array<double, kMaxColumns> KindBeta{}, KindBetap{}, KindBbp{}, KindBb{};
};

/// Divides backscatter counts (kinds 8..15) by their reference drift and/or the
/// temperature term, in place. Does nothing while DataFieldCount is 0.
void CorrectCounts(const DeviceConfig& config, SampleState& sample, bool refCorrectionOn,
                   bool tempCorrectionOn);

/// Converts the counts of every configured field into `out` (extended precision,
/// stored as double). Does nothing while DataFieldCount is 0. A backscatter kind without
/// a wavelength (0 nm or less) has no water terms: its Betap is Beta and its bb is bbp.
void ConvertToEngineering(const DeviceConfig& config, const SampleState& sample, EngValues& out);

}  // namespace measure
