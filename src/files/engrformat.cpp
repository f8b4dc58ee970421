#include "files/engrformat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "measure/cformat.h"
#include "measure/fixedtext.h"
#include "measure/kindtable.h"
#include "measure/numbertext.h"

namespace files {

using measure::cformat;

namespace {

constexpr char kTab = '\t';

}  // namespace

std::string EngrHeader(const measure::DeviceConfig& config) {
  std::string text = cformat("Count%cDate%cTime", kTab, kTab);
  measure::forEachEngColumn(config, [&](const measure::EngColumn& column, int kind) {
    text += kTab;
    text += measure::kindLabel(column.header, config, kind);
  });
  text += "\r\n";
  return text;
}

namespace {

[[gnu::noinline]] char* writeInt(char* at, int value) { return std::to_chars(at, at + 16, value).ptr; }

// What "%02d" prints.
char* writeTwoDigits(char* at, int value) {
  if (value < 0 || value > 99) return writeInt(at, value);
  std::memcpy(at, &measure::fixedtext::kDigitPairs[static_cast<size_t>(value) * 2], 2);
  return at + 2;
}

}  // namespace

EngrLineWriter::EngrLineWriter(const measure::DeviceConfig& config, const measure::EngValues& values) {
  measure::forEachEngColumn(config, [&](const measure::EngColumn& column, int kind) {
    const double* value =
        column.value ? &(values.*column.value) : &(values.*column.perKind)[static_cast<size_t>(kind)];
    m_columns.push_back({value, column.format.width, column.format.precision});
  });
}

size_t EngrLineWriter::maxChars() const {
  // The count, two groups of three numbers of up to 11 characters, each column with its
  // tab and the widest format a row has (under 64), the line end.
  return measure::kMaxFixedChars + 2 * (3 * 11 + 1) + m_columns.size() * (measure::kMaxFixedChars + 64 + 1) + 2;
}

char* EngrLineWriter::write(char* at, const measure::SampleState& sample, const measure::MeterClock& clock) const {
  // "%1.0lf%c%02d%02d%02d%c%02d%02d%02d", built piece by piece: this runs for every sample.
  // The count is a whole number, which prints as the integer it is.
  const double count = sample.ElapsedSample;
  const bool plain = !std::signbit(count) && count < 1e15;  // NaN is not
  const auto whole = static_cast<int64_t>(plain ? count : 0);
  if (plain && static_cast<double>(whole) == count)
    at = std::to_chars(at, at + 16, whole).ptr;
  else
    at = measure::writeFixed(at, count, 1, 0);
  *at++ = kTab;
  at = writeTwoDigits(at, clock.MeterMonth);
  at = writeTwoDigits(at, clock.MeterDay);
  at = writeTwoDigits(at, clock.MeterYear);
  *at++ = kTab;
  at = writeTwoDigits(at, clock.MeterHour);
  at = writeTwoDigits(at, clock.MeterMinute);
  at = writeTwoDigits(at, clock.MeterSecond);
  // Then "%c%<width>.<precision>lf" per column of each field's kind, as its row says.
  for (const Column& column : m_columns) {
    *at++ = kTab;
    at = measure::writeFixedInline(at, *column.value, column.width, column.precision);
  }
  *at++ = '\r';
  *at++ = '\n';
  return at;
}

void appendEngrLine(std::string& text, const measure::DeviceConfig& config, const measure::SampleState& sample,
                    const measure::MeterClock& clock, const measure::EngValues& values) {
  const EngrLineWriter writer(config, values);
  const size_t old = text.size();
  text.resize(old + writer.maxChars());
  const char* end = writer.write(text.data() + old, sample, clock);
  text.resize(static_cast<size_t>(end - text.data()));
}

std::string EngrLine(const measure::DeviceConfig& config, const measure::SampleState& sample,
                     const measure::MeterClock& clock, const measure::EngValues& values) {
  std::string text;
  text.reserve(256);
  appendEngrLine(text, config, sample, clock, values);
  return text;
}

}  // namespace files
