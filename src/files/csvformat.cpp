#include "files/csvformat.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

#include "measure/kindtable.h"
#include "measure/numbertext.h"

namespace files {

namespace {

// Days since 1970-01-01 to a proleptic Gregorian date (eras of 400 years).
void civilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthFromMarch = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

void appendDigits(std::string& out, int64_t value, int width) {
  char text[24];
  int n = 0;
  uint64_t v = value < 0 ? static_cast<uint64_t>(-value) : static_cast<uint64_t>(value);
  do {
    text[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (value < 0) out += '-';
  for (int pad = width - n; pad > 0; --pad) out += '0';
  while (n > 0) out += text[--n];
}

}  // namespace

std::vector<std::string> CsvColumnNames(const measure::DeviceConfig& config) {
  std::vector<std::string> names;
  std::unordered_set<std::string> taken;
  measure::forEachEngColumn(config, [&](const measure::EngColumn& column, int kind) {
    const std::string name = measure::engColumnName(column, config, kind);
    // Two fields of one kind (or one wavelength) would give two equal names.
    std::string unique = name;
    for (int n = 2; taken.count(unique) != 0; ++n) unique = name + "_" + std::to_string(n);
    taken.insert(unique);
    names.push_back(std::move(unique));
  });
  return names;
}

void appendCsvValues(std::string& out, const measure::DeviceConfig& config, const measure::SampleState&,
                     const measure::MeterClock&, const measure::EngValues& values) {
  measure::forEachEngColumn(config, [&](const measure::EngColumn& column, int kind) {
    out += ',';
    // Printed without the width: the same digits as the .eng column, no padding.
    measure::appendFixed(out, measure::engValue(values, column, kind), 0, column.format.precision);
  });
}

std::string IsoUtcMillis(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const int64_t millis = floor<milliseconds>(time.time_since_epoch()).count();
  // Floor division, so that times before 1970 fall into the right day and second.
  int64_t days = millis / 86400000;
  int64_t ofDay = millis % 86400000;
  if (ofDay < 0) {
    ofDay += 86400000;
    --days;
  }
  int64_t year = 0;
  unsigned month = 0, day = 0;
  civilFromDays(days, year, month, day);
  std::string text;
  text.reserve(24);
  appendDigits(text, year, 4);
  text += '-';
  appendDigits(text, month, 2);
  text += '-';
  appendDigits(text, day, 2);
  text += 'T';
  appendDigits(text, ofDay / 3600000, 2);
  text += ':';
  appendDigits(text, ofDay / 60000 % 60, 2);
  text += ':';
  appendDigits(text, ofDay / 1000 % 60, 2);
  text += '.';
  appendDigits(text, ofDay % 1000, 3);
  text += 'Z';
  return text;
}

}  // namespace files
