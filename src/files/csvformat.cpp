#include "files/csvformat.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <unordered_set>

#include "files/qcrun.h"
#include "measure/kindtable.h"
#include "measure/numbertext.h"

namespace files {

namespace {

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
  // Floored, so that times before 1970 fall into the right day and second.
  const sys_days days = floor<std::chrono::days>(time);
  const year_month_day date{days};
  const int64_t ofDay = floor<milliseconds>(time - days).count();
  const int64_t year = static_cast<int>(date.year());
  const unsigned month = static_cast<unsigned>(date.month()), day = static_cast<unsigned>(date.day());
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

std::string CsvHeader(const measure::DeviceConfig& config) {
  std::string text = "host_time_utc,meter_time_utc,count";
  for (const std::string& name : CsvColumnNames(config)) {
    text += ',';
    text += name;
  }
  text += "\r\n";
  return text;
}

std::string CsvHeader(const measure::DeviceConfig& config, const QcRun& qc) {
  const std::vector<std::string> names = CsvColumnNames(config);
  const CsvQcLayout layout = csvQcLayout(qc, names.size());
  std::string text = "host_time_utc,meter_time_utc,count";
  for (size_t i = 0; i < names.size(); ++i) {
    text += ',';
    text += names[i];
    if (layout.afterColumn[i] >= 0) text += "," + names[i] + "_qc";
  }
  for (const int stream : layout.atEnd) text += "," + qc.streams()[static_cast<size_t>(stream)].name + "_qc";
  text += "\r\n";
  return text;
}

std::chrono::system_clock::time_point EpochTime(double epochSeconds) {
  using namespace std::chrono;
  return system_clock::time_point(
      duration_cast<system_clock::duration>(milliseconds(static_cast<long long>(std::llround(epochSeconds * 1000.0)))));
}

void appendCsvRow(std::string& out, const SampleTimes& times, const measure::DeviceConfig& config,
                  const measure::SampleState& sample, const measure::MeterClock& clock,
                  const measure::EngValues& values) {
  if (times.host) out += IsoUtcMillis(*times.host);
  out += ',';
  if (times.meterEpochSeconds) out += IsoUtcMillis(EpochTime(*times.meterEpochSeconds));
  out += ',';
  measure::appendFixed(out, sample.ElapsedSample, 1, 0);
  appendCsvValues(out, config, sample, clock, values);
  out += "\r\n";
}

void appendCsvRow(std::string& out, const SampleTimes& times, const measure::DeviceConfig& config,
                  const measure::SampleState& sample, const measure::MeterClock&, const measure::EngValues& values,
                  const QcRun& qc, const std::vector<qc::Flag>& flags, std::vector<size_t>* flagAt) {
  if (times.host) out += IsoUtcMillis(*times.host);
  out += ',';
  if (times.meterEpochSeconds) out += IsoUtcMillis(EpochTime(*times.meterEpochSeconds));
  out += ',';
  measure::appendFixed(out, sample.ElapsedSample, 1, 0);
  if (flagAt) flagAt->assign(qc.streams().size(), 0);
  auto flag = [&](int stream) {
    out += ',';
    if (flagAt) (*flagAt)[static_cast<size_t>(stream)] = out.size();
    out += csvFlagDigit(flags[static_cast<size_t>(stream)]);
  };
  const CsvQcLayout& layout = qc.csvLayout();
  size_t column = 0;
  measure::forEachEngColumn(config, [&](const measure::EngColumn& engColumn, int kind) {
    out += ',';
    measure::appendFixed(out, measure::engValue(values, engColumn, kind), 0, engColumn.format.precision);
    if (column < layout.afterColumn.size() && layout.afterColumn[column] >= 0) flag(layout.afterColumn[column]);
    ++column;
  });
  for (const int stream : layout.atEnd) flag(stream);
  out += "\r\n";
}

}  // namespace files
