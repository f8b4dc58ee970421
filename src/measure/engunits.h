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

/// Which correction CorrectCounts had to leave out (bit flags).
enum CorrectionSkipped : int { CorrectionNone = 0, CorrectionReference = 1, CorrectionTemperature = 2 };

/// Divides backscatter counts (kinds 8..15) by their reference drift and/or the
/// temperature term, in place. Does nothing while DataFieldCount is 0. A step whose
/// result would not be finite (its divisor is 0, say) is left out for that count, so the
/// count stays as it was before the step; the result says which steps were left out.
int CorrectCounts(const DeviceConfig& config, SampleState& sample, bool refCorrectionOn, bool tempCorrectionOn);

/// The warning for one CorrectionSkipped flag (the caption is "Correction Skipped").
const char* CorrectionSkippedText(int flag);

/// Converts the counts of every configured field into `out` (extended precision,
/// stored as double). Does nothing while DataFieldCount is 0. A backscatter kind without
/// a wavelength (0 nm or less) has no water terms: its Betap is Beta and its bb is bbp.
void ConvertToEngineering(const DeviceConfig& config, const SampleState& sample, EngValues& out);

}  // namespace measure
