#include "files/engrformat.h"

#include <algorithm>

#include "measure/cformat.h"

namespace files {

using measure::cformat;

namespace {

constexpr char kTab = '\t';

int configuredFields(const measure::DeviceConfig& config) {
  return std::clamp(config.DataFieldCount, 0, measure::kMaxColumns);
}

}  // namespace

std::string EngrHeader(const measure::DeviceConfig& config) {
  std::string text = cformat("Count%cDate%cTime", kTab, kTab);
  const int fields = configuredFields(config);
  for (int c = 0; c < fields; ++c) {
    const int k = config.ColumnKind[c];
    if (!measure::isValidKind(k)) continue;
    if (measure::isLambda(k)) {
      const int w = config.KindWavelength[k];
      // The last name really ends in two closing parentheses; stored files have it so.
      text += cformat("%cBeta(%3d)%cBetap(%3d)%cbbp(%3d)%cbb(%3d))", kTab, w, kTab, w, kTab, w,
                      kTab, w);
      continue;
    }
    switch (k) {
      case measure::KindChl: text += cformat("%cCHL(ug/l)", kTab); break;
      case measure::KindIEngr: text += cformat("%ciEngr(%s)", kTab, config.IEngrUnits.c_str()); break;
      case measure::KindPhycocyanin: text += cformat("%cpcyan(raw)", kTab); break;
      case measure::KindPhycoerythrin: text += cformat("%cperyth(raw)", kTab); break;
      case measure::KindUranine: text += cformat("%cur(raw)", kTab); break;
      case measure::KindRhodamine: text += cformat("%crhod(raw)", kTab); break;
      case measure::KindCdom: text += cformat("%cCDOM(raw)", kTab); break;
      case measure::KindLss:
      case measure::KindNtu: text += cformat("%cNTU", kTab); break;
      case measure::KindITemp: text += cformat("%ciTemp(C)", kTab); break;
      case measure::KindXTemp: text += cformat("%cxTemp(C)", kTab); break;
      case measure::KindPres: text += cformat("%cPres(dbar)", kTab); break;
      default: break;  // dates, times, references and unused fields have no column
    }
  }
  text += "\r\n";
  return text;
}

std::string EngrLine(const measure::DeviceConfig& config, const measure::SampleState& sample,
                     const measure::MeterClock& clock, const measure::EngValues& values) {
  std::string text =
      cformat("%1.0lf%c%02d%02d%02d%c%02d%02d%02d", sample.ElapsedSample, kTab, clock.MeterMonth,
              clock.MeterDay, clock.MeterYear, kTab, clock.MeterHour, clock.MeterMinute,
              clock.MeterSecond);
  const int fields = configuredFields(config);
  for (int c = 0; c < fields; ++c) {
    const int k = config.ColumnKind[c];
    if (!measure::isValidKind(k)) continue;
    if (measure::isLambda(k)) {
      text += cformat("%c%8.6lf%c%8.6lf%c%8.6lf%c%8.6lf", kTab, values.KindBeta[k], kTab,
                      values.KindBetap[k], kTab, values.KindBbp[k], kTab, values.KindBb[k]);
      continue;
    }
    switch (k) {
      case measure::KindIEngr: text += cformat("%c%6.4lf", kTab, values.IEngrValue); break;
      case measure::KindChl: text += cformat("%c%6.4lf", kTab, values.ChlValue); break;
      case measure::KindPhycocyanin: text += cformat("%c%6.4lf", kTab, values.PhycocyaninValue); break;
      case measure::KindPhycoerythrin:
        text += cformat("%c%6.4lf", kTab, values.PhycoerythrinValue);
        break;
      case measure::KindUranine: text += cformat("%c%6.4lf", kTab, values.UranineValue); break;
      case measure::KindRhodamine: text += cformat("%c%6.4lf", kTab, values.RhodamineValue); break;
      case measure::KindCdom: text += cformat("%c%6.4lf", kTab, values.CdomValue); break;
      case measure::KindLss: text += cformat("%c%6.4lf", kTab, values.LssValue); break;
      case measure::KindNtu: text += cformat("%c%6.4lf", kTab, values.NtuValue); break;
      case measure::KindITemp: text += cformat("%c%6.4lf", kTab, values.ITempValue); break;
      case measure::KindXTemp: text += cformat("%c%6.4lf", kTab, values.XTempValue); break;
      case measure::KindPres: text += cformat("%c%5.1lf", kTab, values.PresValue); break;
      default: break;
    }
  }
  text += "\r\n";
  return text;
}

}  // namespace files
