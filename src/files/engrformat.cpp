#include "files/engrformat.h"

#include <algorithm>

#include "measure/cformat.h"
#include "measure/kindtable.h"
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
    // Dates, times, references and unused fields have no column.
    const measure::KindInfo& row = measure::kindInfo(k);
    for (int i = 0; i < row.engCount; ++i) {
      text += kTab;
      text += measure::kindLabel(row.eng[i].header, config, k);
    }
  }
  text += "\r\n";
  return text;
}

void appendEngrLine(std::string& text, const measure::DeviceConfig& config,
                    const measure::SampleState& sample, const measure::MeterClock& clock,
                    const measure::EngValues& values) {
  using measure::appendFixed;
  using measure::appendTwoDigits;
  // "%1.0lf%c%02d%02d%02d%c%02d%02d%02d", built piece by piece: this runs for every sample.
  appendFixed(text, sample.ElapsedSample, 1, 0);
  text += kTab;
  appendTwoDigits(text, clock.MeterMonth);
  appendTwoDigits(text, clock.MeterDay);
  appendTwoDigits(text, clock.MeterYear);
  text += kTab;
  appendTwoDigits(text, clock.MeterHour);
  appendTwoDigits(text, clock.MeterMinute);
  appendTwoDigits(text, clock.MeterSecond);

  // Then "%c%<width>.<precision>lf" per column of each field's kind, as its row says:
  // written into one stack buffer when the columns surely fit, else appended one by one.
  const int fields = configuredFields(config);
  int columns = 0;
  for (int c = 0; c < fields; ++c) columns += measure::kindInfo(config.ColumnKind[c]).engCount;
  constexpr size_t kPerColumn = measure::kMaxFixedChars + 16;
  char buffer[16 * kPerColumn];
  if (static_cast<size_t>(columns) <= sizeof buffer / kPerColumn) {
    char* at = buffer;
    for (int c = 0; c < fields; ++c) {
      const int k = config.ColumnKind[c];
      const measure::KindInfo& row = measure::kindInfo(k);
      for (int i = 0; i < row.engCount; ++i) {
        const measure::EngColumn& column = row.eng[i];
        *at++ = kTab;
        at = measure::writeFixed(at, measure::engValue(values, column, k), column.format.width,
                                 column.format.precision);
      }
    }
    *at++ = '\r';
    *at++ = '\n';
    text.append(buffer, at);
    return;
  }
  for (int c = 0; c < fields; ++c) {
    const int k = config.ColumnKind[c];
    const measure::KindInfo& row = measure::kindInfo(k);
    for (int i = 0; i < row.engCount; ++i) {
      const measure::EngColumn& column = row.eng[i];
      text += kTab;
      appendFixed(text, measure::engValue(values, column, k), column.format.width, column.format.precision);
    }
  }
  text += "\r\n";
}

std::string EngrLine(const measure::DeviceConfig& config, const measure::SampleState& sample,
                     const measure::MeterClock& clock, const measure::EngValues& values) {
  std::string text;
  text.reserve(256);
  appendEngrLine(text, config, sample, clock, values);
  return text;
}

}  // namespace files
