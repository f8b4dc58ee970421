#include "files/engrformat.h"

#include <algorithm>

#include "measure/cformat.h"
#include "measure/numbertext.h"

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
  using measure::appendFixed;
  using measure::appendTwoDigits;
  // "%1.0lf%c%02d%02d%02d%c%02d%02d%02d", built piece by piece: this runs for every sample.
  std::string text;
  text.reserve(256);
  appendFixed(text, sample.ElapsedSample, 1, 0);
  text += kTab;
  appendTwoDigits(text, clock.MeterMonth);
  appendTwoDigits(text, clock.MeterDay);
  appendTwoDigits(text, clock.MeterYear);
  text += kTab;
  appendTwoDigits(text, clock.MeterHour);
  appendTwoDigits(text, clock.MeterMinute);
  appendTwoDigits(text, clock.MeterSecond);

  auto value = [&text](double v) {  // "%c%6.4lf"
    text += kTab;
    appendFixed(text, v, 6, 4);
  };
  const int fields = configuredFields(config);
  for (int c = 0; c < fields; ++c) {
    const int k = config.ColumnKind[c];
    if (!measure::isValidKind(k)) continue;
    if (measure::isLambda(k)) {
      for (double v : {values.KindBeta[k], values.KindBetap[k], values.KindBbp[k], values.KindBb[k]}) {
        text += kTab;
        appendFixed(text, v, 8, 6);
      }
      continue;
    }
    switch (k) {
      case measure::KindIEngr: value(values.IEngrValue); break;
      case measure::KindChl: value(values.ChlValue); break;
      case measure::KindPhycocyanin: value(values.PhycocyaninValue); break;
      case measure::KindPhycoerythrin: value(values.PhycoerythrinValue); break;
      case measure::KindUranine: value(values.UranineValue); break;
      case measure::KindRhodamine: value(values.RhodamineValue); break;
      case measure::KindCdom: value(values.CdomValue); break;
      case measure::KindLss: value(values.LssValue); break;
      case measure::KindNtu: value(values.NtuValue); break;
      case measure::KindITemp: value(values.ITempValue); break;
      case measure::KindXTemp: value(values.XTempValue); break;
      case measure::KindPres:  // "%c%5.1lf"
        text += kTab;
        appendFixed(text, values.PresValue, 5, 1);
        break;
      default: break;
    }
  }
  text += "\r\n";
  return text;
}

}  // namespace files
