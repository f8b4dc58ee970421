#include "link/meterprotocol.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>

#include "measure/cformat.h"

namespace meterlink {
namespace {

constexpr size_t kMaxLine = 250;      // longest line the receive loop delivers
constexpr size_t kMaxInterval = 19;   // MeterInterval's capacity
constexpr size_t kMaxScaleUnits = 255;  // 0.0255 in units of 0.0001

// The line as a C string would see it: up to the first zero byte, at most 250 characters.
std::string_view boundedLine(std::string_view line) {
  const size_t nul = line.find('\0');
  if (nul != std::string_view::npos) line = line.substr(0, nul);
  return line.substr(0, std::min(line.size(), kMaxLine));
}

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// The blanks a scanf conversion skips in the C locale.
bool isScanBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool startsWithNoCase(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (lowerAscii(text[i]) != word[i]) return false;
  return true;
}

// Typed entries are copied into a 100-character working buffer before use.
std::string_view boundedEntry(std::string_view typed) {
  return typed.substr(0, std::min(typed.size(), kMaxEntry));
}

std::string withEntry(const char* command, std::string_view typed) {
  std::string s(command);
  s.append(boundedEntry(typed));
  return s;
}

// One "%s" token (first run of non-blanks after "<keyword>" and any blanks); the buffer
// holds a whole line, so the width bound never cuts.
bool scanToken(const std::string& upper, const char* fmt, std::array<char, kMaxLine + 1>& token) {
  token.fill('\0');
  return measure::cscan(upper.c_str(), fmt, token.data()) == 1;
}

}  // namespace

ReplyEffects ParseMeterReply(std::string_view line, MeterSetup& setup, measure::MeterClock& clock,
                             const measure::HostTime& hostNow) {
  ReplyEffects fx;
  const std::string_view received = boundedLine(line);
  // Keywords and values are read from an upper-cased copy.
  std::string upper(received);
  for (char& c : upper) c = upperAscii(c);
  const std::string_view key = std::string_view(upper).substr(0, std::min<size_t>(3, upper.size()));
  const char* s = upper.c_str();
  std::array<char, kMaxLine + 1> token{};

  // Each keyword sets its value only when the whole scan succeeds.
  if (key == "AVE") {
    unsigned v = 0;
    if (measure::cscan(s, "AVE%u", &v) == 1) { setup.MeterAverage = v; fx.matched = true; }
  } else if (key == "CAL") {
    unsigned v = 0;
    if (measure::cscan(s, "CAL%u", &v) == 1) { setup.MeterEngrOutput = v; fx.matched = true; }
  } else if (key == "CLK") {
    int h = 0, m = 0, sec = 0;
    if (scanToken(upper, "CLK %250s", token) &&
        measure::cscan(token.data(), "%2d:%2d:%2d", &h, &m, &sec) == 3) {
      clock.MeterHour = h;
      clock.MeterMinute = m;
      clock.MeterSecond = sec;
      clock.NoteHostTime(hostNow);
      fx.matched = true;
    }
  } else if (key == "DAT") {
    int mo = 0, d = 0, y = 0;
    if (scanToken(upper, "DAT%250s", token) &&
        measure::cscan(token.data(), "%2d/%2d/%2d", &mo, &d, &y) == 3) {
      clock.MeterMonth = mo;
      clock.MeterDay = d;
      clock.MeterYear = y;
      clock.NoteHostTime(hostNow);
      fx.matched = true;
    }
  } else if (std::string_view(upper).substr(0, 4) == "DONE") {
    fx.storeCurrent = true;
    fx.matched = true;
  } else if (key == "INT") {
    if (scanToken(upper, "INT%250s", token)) {
      // MeterInterval holds 19 characters; a longer token is cut there.
      setup.MeterInterval.assign(token.data(), std::min(std::strlen(token.data()), kMaxInterval));
      fx.matched = true;
    }
  } else if (key == "MEM") {
    int v = 0;
    if (measure::cscan(s, "MEM%d", &v) == 1) {
      setup.MeterMemoryUsed = v;
      fx.memoryFull = v >= 4094;  // 4095 pages in all: warn at every such reply
      fx.matched = true;
    }
  } else if (key == "PKT") {
    unsigned v = 0;
    if (measure::cscan(s, "PKT%u", &v) == 1) { setup.MeterSamples = v; fx.matched = true; }
  } else if (key == "OFF") {
    int v = 0;
    if (measure::cscan(s, "OFF%d", &v) == 1) {
      setup.MeterEngrOffset = v;
      setup.MeterEngrOffsetFresh = true;
      fx.matched = true;
    }
  } else if (key == "UGL") {
    int v = 0;
    if (measure::cscan(s, "UGL%d", &v) == 1) {
      setup.MeterEngrScale = v;
      setup.MeterEngrScaleFresh = true;
      fx.matched = true;
    }
  } else if (key == "01N") {
    int v = 0;
    if (measure::cscan(s, "01N%d", &v) == 1) {
      setup.MeterPh1OnTime = v;
      setup.MeterPh1OnTimeKnown = true;
      fx.matched = true;
    }
  } else if (key == "01F") {
    int v = 0;
    if (measure::cscan(s, "01F%d", &v) == 1) {
      setup.MeterPh1OffTime = v;
      setup.MeterPh1OffTimeKnown = true;
      fx.matched = true;
    }
  } else if (key == "11N") {
    int v = 0;
    if (measure::cscan(s, "11N%d", &v) == 1) {
      setup.MeterPh11OnTime = v;
      setup.MeterPh11OnTimeKnown = true;
      fx.matched = true;
    }
  } else if (key == "11F") {
    int v = 0;
    if (measure::cscan(s, "11F%d", &v) == 1) {
      setup.MeterPh11OffTime = v;
      setup.MeterPh11OffTimeKnown = true;
      fx.matched = true;
    }
  } else if (key == "REC") {
    unsigned v = 0;
    if (measure::cscan(s, "REC%u", &v) == 1) { setup.MeterLogging = v; fx.matched = true; }
  } else if (key == "SET") {
    unsigned v = 0;
    if (measure::cscan(s, "SET%u", &v) == 1) { setup.MeterCycles = v; fx.matched = true; }
  } else if (key == "ASV") {
    unsigned v = 0;
    if (measure::cscan(s, "ASV%u", &v) == 1) { setup.MeterAnalogRange = v; fx.matched = true; }
  } else if (key == "VER") {
    // The caption shows the line as received, keyword included; a version line that
    // answers Reload Flash Setup means the working setup is the stored one again.
    setup.MeterVersionSeen = true;
    fx.caption = std::string(kCaptionPrefix).append(received);
    if (setup.ReloadPending) fx.storeCurrent = true;
    setup.ReloadPending = false;
    fx.matched = true;
  }
  return fx;
}

namespace cmd {

std::string Average(std::string_view typed) { return withEntry("$AVE ", typed); }
std::string Packet(std::string_view typed) { return withEntry("$PKT ", typed); }
std::string Sample(std::string_view typed) { return withEntry("$SET ", typed); }
std::string Interval(std::string_view typed) { return withEntry("$INT ", typed); }
std::string Logging(uint32_t meterLogging) { return meterLogging != 0 ? "$REC 0" : "$REC 1"; }
std::string Clock(const measure::HostTime& t) {
  return measure::cformat("$CLK %02d%02d%02d", t.hour, t.minute, t.second);
}
std::string Date(const measure::HostTime& t) {
  return measure::cformat("$DAT %02d%02d%02d", t.month, t.day, t.year);
}
std::string Ph1On(std::string_view typed) { return withEntry("$01n=", typed); }
std::string Ph1Off(std::string_view typed) { return withEntry("$01f ", typed); }
std::string Ph11On(std::string_view typed) { return withEntry("$11n=", typed); }
std::string Ph11Off(std::string_view typed) { return withEntry("$11f=", typed); }
std::string HexDump(std::string_view typed) { return withEntry("$hex ", typed); }
std::string AnalogRange(int comboIndex) {
  const int code = comboIndex == 0 ? 1 : comboIndex == 2 ? 4 : 2;
  return measure::cformat("$ASV %1d", code);
}
std::string EngrOutput(uint32_t meterEngrOutput) { return meterEngrOutput != 0 ? "$cal 0" : "$cal 1"; }
std::string Offset(int value) { return measure::cformat("$off %d", value); }
std::string Scale(long units) { return measure::cformat("$ugl %ld", units); }

}  // namespace cmd

namespace {

// A decimal number as scanf's "%f" reads it: sign, digits with an optional point, and
// an exponent only when digits follow the 'e'. The value is (-1)^negative * digits *
// 10^exponent, with `digits` free of leading zeros (empty for zero).
struct DecimalNumber {
  bool negative = false;
  std::string digits;
  long exponent = 0;
};

std::optional<DecimalNumber> scanDecimal(std::string_view t) {
  DecimalNumber n;
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) n.negative = t[i++] == '-';
  size_t mantissaDigits = 0;
  long fractionDigits = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (isDigit(c)) {
      ++mantissaDigits;
      if (point) ++fractionDigits;
      if (!n.digits.empty() || c != '0') n.digits.push_back(c);
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return std::nullopt;
  long exponent = 0;
  if (i + 1 < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    bool expNegative = false;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) expNegative = t[j++] == '-';
    if (j < t.size() && isDigit(t[j])) {
      // Far beyond any digit count the entry can hold; saturating keeps it exact enough.
      for (; j < t.size() && isDigit(t[j]); ++j)
        if (exponent < 1000000) exponent = exponent * 10 + (t[j] - '0');
      if (expNegative) exponent = -exponent;
    }
  }
  // Trailing zeros of the digit string move into the exponent.
  n.exponent = exponent - fractionDigits;
  while (!n.digits.empty() && n.digits.back() == '0') {
    n.digits.pop_back();
    ++n.exponent;
  }
  return n;
}

}  // namespace

ScaleEntry ParseScaleEntry(std::string_view typed) {
  ScaleEntry out;
  std::string_view t = boundedEntry(typed);
  size_t i = 0;
  while (i < t.size() && isScanBlank(t[i])) ++i;
  t.remove_prefix(i);

  // Hexadecimal, infinite and not-a-number forms also scan as numbers; only the
  // hexadecimal ones can be in range, and they are binary fractions already.
  std::string_view body = t;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) body.remove_prefix(1);
  const bool hex = startsWithNoCase(body, "0x") &&
                   ((body.size() > 2 && isHexDigit(body[2])) ||
                    (body.size() > 3 && body[2] == '.' && isHexDigit(body[3])));
  if (hex || startsWithNoCase(body, "inf") || startsWithNoCase(body, "nan")) {
    long double v = 0;
    const std::string text(t);
    if (measure::cscan(text.c_str(), "%Lf", &v) != 1) return out;
    // Not-a-number fails every comparison, so it is refused explicitly.
    if (std::isnan(v) || v < 0.0001L || v > 0.0255L) {
      out.result = ScaleEntry::OutOfRange;
      return out;
    }
    out.result = ScaleEntry::Ok;
    out.units = static_cast<long>(v * 10000.0L);
    return out;
  }

  const std::optional<DecimalNumber> n = scanDecimal(t);
  if (!n) return out;
  out.result = ScaleEntry::OutOfRange;
  if (n->negative || n->digits.empty()) return out;  // zero or below
  // Value in units of 0.0001 = digits * 10^(exponent + 4); its integer part has
  // `whole` digits, and the range check needs only that part and whether any
  // nonzero decimal follows it.
  const long shift = n->exponent + 4;
  const long whole = static_cast<long>(n->digits.size()) + shift;
  if (whole <= 0 || whole > 3) return out;  // below 1 unit, or 1000 units and more
  long units = 0;
  bool fraction = false;
  for (long k = 0; k < whole; ++k)
    units = units * 10 + (k < static_cast<long>(n->digits.size()) ? n->digits[static_cast<size_t>(k)] - '0' : 0);
  if (whole < static_cast<long>(n->digits.size())) fraction = true;  // digits end nonzero
  if (units < 1 || units > static_cast<long>(kMaxScaleUnits) ||
      (units == static_cast<long>(kMaxScaleUnits) && fraction))
    return out;
  out.result = ScaleEntry::Ok;
  out.units = units;
  return out;
}

OffsetEntry ParseOffsetEntry(std::string_view typed) {
  OffsetEntry out;
  const std::string_view t = boundedEntry(typed);
  size_t i = 0;
  while (i < t.size() && isScanBlank(t[i])) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i >= t.size() || !isDigit(t[i])) return out;
  // Saturate: any number too large for the range is simply out of range.
  long long v = 0;
  for (; i < t.size() && isDigit(t[i]); ++i)
    if (v < 1000000) v = v * 10 + (t[i] - '0');
  if (negative) v = -v;
  if (v < 0 || v > 127) {
    out.result = OffsetEntry::OutOfRange;
    return out;
  }
  out.result = OffsetEntry::Ok;
  out.value = static_cast<int>(v);
  return out;
}

bool PasswordMatches(std::string_view entry) {
  constexpr std::string_view kPassword = "BlueHeron";
  return entry.substr(0, std::min(entry.size(), kPassword.size())) == kPassword;
}

}  // namespace meterlink
