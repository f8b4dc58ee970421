#include "measure/datalinedecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "measure/cformat.h"
#include "measure/kindtable.h"
#include "measure/numbertext.h"

namespace measure {
namespace {

constexpr double kDateMarker = -2.0;
constexpr double kTimeMarker = -1.0;
constexpr int kMismatchBoxAt = 6;

bool isFieldChar(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '/' || c == ':';
}

enum class FieldShape { Number, Date, Time };

// Reads at most `maxDigits` digits at `at` into `value`.
const char* readDigits(const char* at, const char* end, int maxDigits, unsigned long long& value) {
  const char* const stop = end - at > maxDigits ? at + maxDigits : end;
  unsigned long long read = value;
  while (at < stop && static_cast<unsigned char>(*at - '0') < 10) read = read * 10 + static_cast<unsigned>(*at++ - '0');
  value = read;
  return at;
}

// The shapes a meter sends, read in the one pass that finds the field's end: a whole
// count of at most 15 digits (exact in a double), or a date or time of three unsigned
// numbers of at most 9 digits. Returns the field's end, or null when the field needs the
// general reading; then nothing was stored. A date goes into `date`, a time into `time`:
// straight, because gathering the parts first and copying them made the processor read
// back, in one load, what it had just stored in two (a stall of every store before).
const char* readCommonField(const char* at, const char* end, FieldShape& shape, double& value, int (&date)[3],
                            int (&time)[3]) {
  const bool negative = at < end && *at == '-';
  const char* const digits = at + negative;
  unsigned long long whole = 0;
  const char* stop = readDigits(digits, end, 16, whole);
  if (stop == digits) return nullptr;
  if (stop - digits <= 15 && (stop == end || *stop == '\t')) {
    shape = FieldShape::Number;
    value = negative ? -static_cast<double>(whole) : static_cast<double>(whole);
    return stop;
  }
  if (negative || stop - digits > 9 || stop == end || (*stop != '/' && *stop != ':')) return nullptr;
  const char separator = *stop;
  unsigned long long read[3] = {whole, 0, 0};
  for (int n = 1; n < 3; ++n) {
    const char* const first = stop + 1;
    stop = readDigits(first, end, 9, read[n]);
    if (stop == first) return nullptr;
    const bool last = n == 2;
    if (last ? stop != end && *stop != '\t' : stop == end || *stop != separator) return nullptr;
  }
  shape = separator == '/' ? FieldShape::Date : FieldShape::Time;
  int* const parts = shape == FieldShape::Date ? date : time;
  for (int n = 0; n < 3; ++n) parts[n] = static_cast<int>(read[n]);
  return stop;
}

}  // namespace

DataLineDecoder::DataLineDecoder(DeviceConfig& config, SampleState& sample, MeterClock& clock,
                                 WarningSink warn, HostClock hostClock)
    : m_config(config),
      m_sample(sample),
      m_clock(clock),
      m_warn(std::move(warn)),
      m_hostClock(std::move(hostClock)) {}

int DataLineDecoder::SplitFields(std::string_view line) {
  m_lineHasDate = m_lineHasTime = false;

  std::array<double, kMaxColumns> values;  // only the first `count` are used
  int count = 0;
  bool hasDate = false, hasTime = false;
  int date[3] = {0, 0, 0};
  int time[3] = {0, 0, 0};

  // Each tab-separated field, read where it stands: a number, a time (h:m:s) or a date
  // (three numbers with two slashes). Anything else makes the line no data.
  const char* const end = line.data() + line.size();
  for (const char* at = line.data();;) {
    // More fields than a line holds is no data.
    if (count >= kMaxColumns) return 0;
    double value = 0.0;
    FieldShape shape = FieldShape::Number;
    const char* stop = readCommonField(at, end, shape, value, date, time);
    if (!stop) {
      stop = static_cast<const char*>(std::memchr(at, '\t', static_cast<size_t>(end - at)));
      if (!stop) stop = end;
      const std::string_view field(at, static_cast<size_t>(stop - at));
      // A field longer than a meter sends is no data.
      if (field.size() > static_cast<size_t>(kMaxFieldChars)) return 0;
      int slashes = 0, colons = 0;
      for (const char c : field) {
        if (!isFieldChar(c)) return 0;
        slashes += c == '/';
        colons += c == ':';
      }
      if (slashes == 0 && colons == 0) {
        if (!readLeadingNumber(field, value)) return 0;
      } else if (colons == 2 || slashes == 2) {
        shape = colons == 2 ? FieldShape::Time : FieldShape::Date;
        if (!readIntTriple(field, colons == 2 ? ':' : '/', colons == 2 ? time : date)) return 0;
      } else {
        return 0;
      }
    }
    if (shape == FieldShape::Time) {
      hasTime = true;
      value = kTimeMarker;
    } else if (shape == FieldShape::Date) {
      hasDate = true;
      value = kDateMarker;
    }
    values[static_cast<size_t>(count++)] = value;
    if (stop == end) break;
    at = stop + 1;
  }

  // Only a line that splits completely changes the stored sample and clock parts.
  // Four at a time: a copy of a length known only here became a string move, whose start
  // cost more than the line's ten values.
  double* const into = m_sample.SampleValues.data();
  int i = 0;
  for (; i + 4 <= count; i += 4) std::memcpy(into + i, values.data() + i, 4 * sizeof(double));
  for (; i < count; ++i) into[i] = values[static_cast<size_t>(i)];
  m_lineHasDate = hasDate;
  m_lineHasTime = hasTime;
  std::copy(date, date + 3, m_lineDate);
  std::copy(time, time + 3, m_lineTime);
  return count;
}

int DataLineDecoder::ParseDataLine(std::string_view line, bool deviceFileInForce) {
  const int n = SplitFields(line);
  if (deviceFileInForce && (n == 0 || n != m_config.ExpectedColumns)) {
    // A line that does not split is never data, even when no "Columns=" set a count.
    if (n == 0) return 0;
    if (m_sample.MismatchCount < INT_MAX) ++m_sample.MismatchCount;
    // Warn once per run of mismatching lines, on the sixth in a row.
    if (m_sample.MismatchCount == kMismatchBoxAt && m_warn)
      m_warn("Possible Mis-Match between Device File and Meter",
             cformat("Execution Error - Columns found %d != Columns Expected %d", n,
                     m_config.ExpectedColumns));
    return 0;
  }

  const int fields = std::clamp(m_config.DataFieldCount, 0, kMaxColumns);
  for (int i = 0; i < fields; ++i) {
    const int k = m_config.ColumnKind[i];
    if (!isValidKind(k)) continue;
    const double v = m_sample.SampleValues[i];
    const KindInfo& row = kindInfo(k);
    switch (row.capture) {
      case Capture::None: break;
      case Capture::Counts:
        m_sample.KindCounts[k] = v;
        if (row.countsCopy) m_sample.*row.countsCopy = v;
        break;
      case Capture::Reference:
        m_sample.KindCounts[k] = v;
        // The first reading after a load becomes the reference base.
        if (m_config.KindRefValue[k] > 9999.0) m_config.KindRefValue[k] = v;
        break;
    }
  }

  m_sample.MismatchCount = 0;
  if (m_hostClock) m_clock.NoteHostTime(m_hostClock());

  // Only the parts the line carries; a line without them keeps what the clock had.
  if (m_lineHasDate) {
    m_clock.MeterMonth = m_lineDate[0];
    m_clock.MeterDay = m_lineDate[1];
    m_clock.MeterYear = m_lineDate[2];
  }
  if (m_lineHasTime) {
    m_clock.MeterHour = m_lineTime[0];
    m_clock.MeterMinute = m_lineTime[1];
    m_clock.MeterSecond = m_lineTime[2];
  }

  m_sample.SampleCounter += 1;
  if (m_sample.SampleCounter < m_sample.FirstSample || !(m_sample.FirstSample > 0))
    m_sample.FirstSample = m_sample.SampleCounter;
  if (m_clock.MeterMonth == 99)
    m_sample.ElapsedSample = m_sample.SampleCounter;
  else
    m_sample.ElapsedSample = m_sample.SampleCounter - m_sample.FirstSample;
  return 1;
}

}  // namespace measure
