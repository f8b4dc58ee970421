#include "measure/engunits.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "measure/kindtable.h"

namespace measure {
namespace {

using Real = long double;

int configuredFields(const DeviceConfig& config) {
  return std::clamp(config.DataFieldCount, 0, kMaxColumns);
}

struct WaterTerms {
  Real betaw = 0.0L;  ///< volume scattering of (sea) water at the angle
  Real bbw = 0.0L;    ///< backscattering of water
};

WaterTerms computeWaterTerms(int wavelength, double salinity, double theta, bool seaWater) {
  WaterTerms w;
  const Real L = wavelength;
  // Without a wavelength there is no water term to remove (a zero power would overflow).
  if (!(L > 0.0L)) return w;
  const Real S = salinity;
  const Real lambdaRatio = L * (1.0L / 500.0L);
  const Real T = 1 + std::pow(std::cos(Real(theta)), Real(2.0)) * (1.0 - 0.09) / (1.0 + 0.09);
  w.betaw =
      1.38 * std::pow(lambdaRatio, Real(-4.32)) * (1 + 0.3 * S * (1.0L / 37.0L)) * 0.0001 * T;
  const Real bw = seaWater ? std::pow(lambdaRatio, Real(-4.24)) * 0.0029308
                           : std::pow(lambdaRatio, Real(-4.23)) * 0.0022533;
  w.bbw = bw * 0.5;
  return w;
}

// The water terms depend on the configuration only, not on the counts: remember the
// last ones per kind so that every sample does not recompute the powers.
const WaterTerms& waterTerms(const DeviceConfig& config, int k) {
  struct Entry {
    bool valid = false;
    int wavelength = 0;
    double salinity = 0, theta = 0;
    bool seaWater = false;
    WaterTerms terms;
  };
  thread_local std::array<Entry, kMaxColumns> cache;
  Entry& e = cache[static_cast<size_t>(k)];
  if (!e.valid || e.wavelength != config.KindWavelength[k] || e.salinity != config.Salinity ||
      e.theta != config.ThetaRadians || e.seaWater != config.SeaWater) {
    e.valid = true;
    e.wavelength = config.KindWavelength[k];
    e.salinity = config.Salinity;
    e.theta = config.ThetaRadians;
    e.seaWater = config.SeaWater;
    e.terms = computeWaterTerms(e.wavelength, e.salinity, e.theta, e.seaWater);
  }
  return e.terms;
}

// What is left of the volume scattering for the particles, and their backscattering.
void backscatterChain(const DeviceConfig& config, int k, EngValues& out) {
  const WaterTerms& water = waterTerms(config, k);
  const Real betap = Real(out.KindBeta[k]) - water.betaw;
  const Real bbp = 2.0 * 3.1415 * Real(config.XFactor) * betap;
  out.KindBetap[k] = static_cast<double>(betap);
  out.KindBbp[k] = static_cast<double>(bbp);
  out.KindBb[k] = static_cast<double>(bbp + water.bbw);
}

// A divisor of zero, or one that is itself inf or nan (a reference whose first reading
// was 0), gives no sound correction.
bool dividesSoundly(Real counts, Real divisor) {
  return divisor != 0.0L && std::isfinite(divisor) && std::isfinite(counts / divisor);
}

}  // namespace

int CorrectCounts(const DeviceConfig& config, SampleState& sample, bool refCorrectionOn, bool tempCorrectionOn) {
  int skipped = CorrectionNone;
  const int fields = configuredFields(config);
  for (int i = 0; i < fields; ++i) {
    const int k = config.ColumnKind[i];
    // Backscatter signals 8..15 have their reference one field to the left (kind + 8).
    const KindInfo& row = kindInfo(k);
    if (!row.driftCorrected) continue;
    const int r = row.referenceKind;
    Real counts = sample.KindCounts[k];
    // A step that cannot divide soundly would put inf or nan into the files: it is left
    // out for this sample.
    if (refCorrectionOn) {
      const Real drift = (Real(sample.KindCounts[r]) / config.KindRefValue[r]) * config.KindScale[r] +
                         config.KindOffset[r];
      if (dividesSoundly(counts, drift))
        counts /= drift;
      else
        skipped |= CorrectionReference;
    }
    if (tempCorrectionOn) {
      const Real term =
          0.001794468729587918 * Real(sample.ITempCounts) * config.TempCoefA[k] + config.TempCoefB[k];
      if (dividesSoundly(counts, term))
        counts /= term;
      else
        skipped |= CorrectionTemperature;
    }
    sample.KindCounts[k] = static_cast<double>(counts);
  }
  return skipped;
}

const char* CorrectionSkippedText(int flag) {
  if (flag == CorrectionTemperature)
    return "The temperature correction would divide by zero (no internal temperature column, or "
           "coefficients that give 0). Those samples are converted without it.";
  return "The reference correction would divide by zero (a reference that read 0). "
         "Those samples are converted without it.";
}

void ConvertToEngineering(const DeviceConfig& config, const SampleState& sample, EngValues& out) {
  const int fields = configuredFields(config);
  for (int i = 0; i < fields; ++i) {
    const int k = config.ColumnKind[i];
    if (!isValidKind(k)) continue;
    const KindInfo& row = kindInfo(k);
    const Real c = sample.KindCounts[k];
    const Real s = config.KindScale[k];
    const Real o = config.KindOffset[k];
    switch (row.conversion) {
      case Conversion::None: break;
      case Conversion::DarkThenScale: out.*row.result() = static_cast<double>((c - o) * s); break;
      case Conversion::ScaleThenOffset: out.*row.result() = static_cast<double>(c * s + o); break;
      case Conversion::Passthrough: out.*row.result() = sample.KindCounts[k]; break;
      case Conversion::Backscatter:
        out.KindBeta[k] = static_cast<double>((c - o) * s);
        backscatterChain(config, k, out);
        break;
    }
  }
}

}  // namespace measure
