#include "measure/engunits.h"

#include <algorithm>
#include <cmath>

namespace measure {
namespace {

using Real = long double;

int configuredFields(const DeviceConfig& config) {
  return std::clamp(config.DataFieldCount, 0, kMaxColumns);
}

// Volume scattering of water, its backscattering, and what is left for the particles.
void backscatterChain(const DeviceConfig& config, int k, EngValues& out) {
  const Real beta = out.KindBeta[k];
  const Real L = config.KindWavelength[k];
  const Real S = config.Salinity;
  const Real theta = config.ThetaRadians;
  const Real X = config.XFactor;

  Real betaw = 0.0L;
  Real bbw = 0.0L;
  // Without a wavelength there is no water term to remove (a zero power would overflow).
  if (L > 0.0L) {
    const Real lambdaRatio = L * (1.0L / 500.0L);
    const Real T = 1 + std::pow(std::cos(theta), Real(2.0)) * (1.0 - 0.09) / (1.0 + 0.09);
    betaw = 1.38 * std::pow(lambdaRatio, Real(-4.32)) * (1 + 0.3 * S * (1.0L / 37.0L)) * 0.0001 *
            T;
    const Real bw = config.SeaWater ? std::pow(lambdaRatio, Real(-4.24)) * 0.0029308
                                    : std::pow(lambdaRatio, Real(-4.23)) * 0.0022533;
    bbw = bw * 0.5;
  }
  const Real betap = beta - betaw;
  const Real bbp = 2.0 * 3.1415 * X * betap;
  out.KindBetap[k] = static_cast<double>(betap);
  out.KindBbp[k] = static_cast<double>(bbp);
  out.KindBb[k] = static_cast<double>(bbp + bbw);
}

}  // namespace

void CorrectCounts(const DeviceConfig& config, SampleState& sample, bool refCorrectionOn,
                   bool tempCorrectionOn) {
  const int fields = configuredFields(config);
  for (int i = 0; i < fields; ++i) {
    const int k = config.ColumnKind[i];
    // Signals 8..15 have their reference one field to the left (kind + 8).
    if (k < 8 || k > KindLambdaLast) continue;
    const int r = k + 8;
    Real counts = sample.KindCounts[k];
    if (refCorrectionOn) {
      const Real drift = (Real(sample.KindCounts[r]) / config.KindRefValue[r]) * config.KindScale[r] +
                         config.KindOffset[r];
      counts /= drift;
    }
    if (tempCorrectionOn)
      counts /= 0.001794468729587918 * Real(sample.ITempCounts) * config.TempCoefA[k] +
                config.TempCoefB[k];
    sample.KindCounts[k] = static_cast<double>(counts);
  }
}

void ConvertToEngineering(const DeviceConfig& config, const SampleState& sample, EngValues& out) {
  const int fields = configuredFields(config);
  for (int i = 0; i < fields; ++i) {
    const int k = config.ColumnKind[i];
    if (!isValidKind(k)) continue;
    const Real c = sample.KindCounts[k];
    const Real s = config.KindScale[k];
    const Real o = config.KindOffset[k];
    // Fluorescence and turbidity subtract the dark counts, then scale.
    const double darkScaled = static_cast<double>((c - o) * s);
    // Temperatures and pressure scale, then add the offset.
    const double scaledOffset = static_cast<double>(c * s + o);
    switch (k) {
      case KindChl: out.ChlValue = darkScaled; break;
      case KindCdom: out.CdomValue = darkScaled; break;
      case KindUranine: out.UranineValue = darkScaled; break;
      case KindPhycocyanin: out.PhycocyaninValue = darkScaled; break;
      case KindPhycoerythrin: out.PhycoerythrinValue = darkScaled; break;
      case KindRhodamine: out.RhodamineValue = darkScaled; break;
      case KindLss: out.LssValue = darkScaled; break;
      case KindNtu: out.NtuValue = darkScaled; break;
      case KindITemp: out.ITempValue = scaledOffset; break;
      case KindXTemp: out.XTempValue = scaledOffset; break;
      case KindPres: out.PresValue = scaledOffset; break;
      case KindIEngr: out.IEngrValue = sample.KindCounts[k]; break;
      default:
        if (isLambda(k)) {
          out.KindBeta[k] = darkScaled;
          backscatterChain(config, k, out);
        }
        break;
    }
  }
}

}  // namespace measure
