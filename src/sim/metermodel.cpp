#include "sim/metermodel.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/kinds.h"
#include "measure/kindtable.h"
#include "measure/sample.h"

namespace sim {

namespace {

constexpr MeterModel::Nanos kSecond = 1'000'000'000;
constexpr double kMaxCounts = 4130.0;      // full scale of the meter's converter
constexpr size_t kDumpChunk = 64;          // memory bytes handed to the transmitter at a time
constexpr uint32_t kFaultOdds = 8;         // an enabled fault strikes about one line in eight
constexpr size_t kLongLineMin = 251;       // one more than the receiver's line limit

bool isSignal(int k) { return measure::kindInfo(k).role == measure::Role::Signal; }

void appendInt(std::string& out, int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

void appendTwoDigits(std::string& out, int value) {
  out.push_back(static_cast<char>('0' + value / 10 % 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

// Fixed three decimals from an integer count of thousandths: the same text everywhere.
void appendThousandths(std::string& out, int64_t thousandths) {
  if (thousandths < 0) {
    out.push_back('-');
    thousandths = -thousandths;
  }
  appendInt(out, thousandths / 1000);
  out.push_back('.');
  const int frac = static_cast<int>(thousandths % 1000);
  out.push_back(static_cast<char>('0' + frac / 100));
  appendTwoDigits(out, frac % 100);
}

// A whole decimal number in [lo, hi] and nothing else.
bool parseNumber(std::string_view text, uint32_t lo, uint32_t hi, uint32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  uint32_t v = 0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  if (v < lo || v > hi) return false;
  value = v;
  return true;
}

// Six digits as three two-digit numbers (HHMMSS, MMDDYY).
bool parseSixDigits(std::string_view text, int& a, int& b, int& c) {
  if (text.size() != 6) return false;
  for (char ch : text)
    if (ch < '0' || ch > '9') return false;
  a = (text[0] - '0') * 10 + (text[1] - '0');
  b = (text[2] - '0') * 10 + (text[3] - '0');
  c = (text[4] - '0') * 10 + (text[5] - '0');
  return true;
}

std::string keywordLine(std::string_view keyword, uint32_t value) {
  std::string s(keyword);
  s.push_back(' ');
  appendInt(s, value);
  return s;
}

// Counts that the device file's "counts x scale + offset" turns into `target`.
double countsFor(double target, const ColumnSpec& c, double fallback) {
  if (std::fabs(c.scale) < 1e-12) return fallback;
  const double counts = (target - c.offset) / c.scale;
  return counts >= 1.0 && counts <= 65535.0 ? counts : fallback;
}

// ---------------------------------------------------------------------------------
// The water the meter sees

constexpr double kTwoPi = 6.283185307179586;
constexpr double kFullScaleUse = 0.9 * kMaxCounts;  // the top of the particle load stays below
constexpr double kReferenceNm = 532.0;   // the backscatter spectrum is drawn at this wavelength
constexpr double kSlopeLow = 0.2, kSlopeHigh = 2.0;  // its power-law slope, drawn once
constexpr double kSlopeWander = 0.1;     // how far the slope swings around that, never to flat

// The particle load: swings of minutes, of a quarter of an hour and of about an hour.
struct SwingRange {
  double amplitude, shortest, longest;  // ln of the factor; periods in seconds
};
constexpr SwingRange kLoadSwings[] = {{0.05, 60.0, 180.0}, {0.12, 300.0, 900.0}, {0.20, 1200.0, 3600.0}};

// ln of the largest factor the particle load reaches (and of 1 / the smallest).
constexpr double loadReach() {
  double sum = 0.0;
  for (const SwingRange& r : kLoadSwings) sum += r.amplitude;
  return sum;
}

// Engineering values of coastal water, in the units the operator reads: where a signal's
// level is drawn (evenly in the logarithm, as such values spread). Empty for the rest.
struct ValueRange {
  double low = 0.0, high = 0.0;
  bool empty() const { return !(high > low && low > 0.0); }
};

ValueRange coastalRange(int kind) {
  if (measure::isLambda(kind)) return {0.002, 0.02};  // bbp at kReferenceNm, 1/m
  switch (kind) {
    case measure::KindChl: return {0.5, 10.0};  // ug/l
    case measure::KindLss:
    case measure::KindNtu: return {0.5, 10.0};  // NTU
    case measure::KindCdom: return {3.0, 40.0};  // ppb
    case measure::KindUranine:
    case measure::KindPhycocyanin:
    case measure::KindPhycoerythrin:
    case measure::KindRhodamine: return {1.0, 30.0};  // ppb
    default: return {};
  }
}

// Turbidity and backscattering come from the particles, so they follow their load.
bool followsParticles(int kind) {
  return measure::isLambda(kind) || kind == measure::KindLss || kind == measure::KindNtu;
}

double logUniform(Noise& noise, double low, double high) {
  return low * std::exp(std::log(high / low) * noise.uniform());
}

// The program's own conversion of a column's counts into the value the operator reads:
// bbp for a backscatter signal (pure-water scattering removed), the single value for
// the other kinds. Straight in the counts, so two probes give the counts of any value.
class HostConversion {
 public:
  HostConversion(const std::vector<ColumnSpec>& columns, const Scattering& scattering) {
    const size_t n = std::min(columns.size(), static_cast<size_t>(measure::kMaxColumns));
    for (size_t i = 0; i < n; ++i) {
      const ColumnSpec& c = columns[i];
      if (!measure::isValidKind(c.kind)) continue;
      const auto k = static_cast<size_t>(c.kind);
      m_config.ColumnKind[i] = c.kind;
      m_config.KindScale[k] = c.scale;
      m_config.KindOffset[k] = c.offset;
      m_config.KindWavelength[k] = c.wavelength;
    }
    m_config.DataFieldCount = m_config.ExpectedColumns = static_cast<int>(n);
    m_config.Salinity = scattering.salinity;
    m_config.ThetaRadians = scattering.thetaRadians;
    m_config.XFactor = scattering.xFactor;
    m_config.SeaWater = scattering.seaWater;
  }

  /// Counts per unit of the value, and the counts of a value of 0; NaN when the value
  /// does not follow the counts.
  void line(int kind, double& perUnit, double& zero) const {
    constexpr double kProbe = 1000.0;
    const double v0 = value(kind, 0.0);
    const double perCount = (value(kind, kProbe) - v0) / kProbe;
    perUnit = zero = std::numeric_limits<double>::quiet_NaN();
    if (!std::isfinite(perCount) || perCount == 0.0) return;
    perUnit = 1.0 / perCount;
    zero = -v0 / perCount;
  }

 private:
  double value(int kind, double counts) const {
    measure::SampleState sample;
    sample.KindCounts[static_cast<size_t>(kind)] = counts;
    measure::EngValues out;
    measure::ConvertToEngineering(m_config, sample, out);
    if (measure::isLambda(kind)) return out.KindBbp[static_cast<size_t>(kind)];
    const measure::KindInfo& row = measure::kindInfo(kind);
    if (row.engCount == 0 || row.result() == nullptr) return std::numeric_limits<double>::quiet_NaN();
    return out.*row.result();
  }

  measure::DeviceConfig m_config;
};

}  // namespace

std::vector<ColumnSpec> columnsFromConfig(const measure::DeviceConfig& config) {
  const int described = std::clamp(config.DataFieldCount, 0, measure::kMaxColumns);
  int count = config.ExpectedColumns > 0 ? config.ExpectedColumns : described;
  count = std::clamp(count, 0, measure::kMaxColumns);
  std::vector<ColumnSpec> columns(static_cast<size_t>(count));
  for (int i = 0; i < count && i < described; ++i) {
    const int k = config.ColumnKind[static_cast<size_t>(i)];
    if (!measure::isValidKind(k)) continue;
    columns[static_cast<size_t>(i)] = {k, config.KindScale[static_cast<size_t>(k)],
                                       config.KindOffset[static_cast<size_t>(k)],
                                       config.KindWavelength[static_cast<size_t>(k)]};
  }
  return columns;
}

Scattering scatteringFromConfig(const measure::DeviceConfig& config) {
  return {config.Salinity, config.ThetaRadians, config.XFactor, config.SeaWater};
}

Scattering defaultScattering() {
  // The program's defaults with the angle a device file's "Theta=117" gives, salinity 35.
  measure::DeviceConfig config;
  config.setStartupDefaults();
  config.Salinity = 35.0;
  return scatteringFromConfig(config);
}

std::vector<ColumnSpec> defaultColumns() {
  // A three-wavelength backscattering meter: each signal (kind 5 + column) has its
  // reference (kind 14 + column) in the column to its left; dark counts about 50;
  // internal temperature as counts x 0.125 - 50.
  return {
      {measure::KindDate, 1.0, 0.0}, {measure::KindTime, 1.0, 0.0},
      {17, 1.0, 0.0},                {9, 1.812e-6, 51.0, 470},
      {19, 1.0, 0.0},                {11, 1.645e-6, 48.0, 532},
      {21, 1.0, 0.0},                {13, 1.394e-6, 55.0, 650},
      {measure::KindITemp, 0.125, -50.0},
  };
}

MeterModel::MeterModel(MeterModelOptions options)
    : m_options(std::move(options)),
      m_columns(m_options.columns),
      m_noise(m_options.seed),
      m_faultNoise(m_options.seed ^ 0x9E3779B9u) {
  const int baud = std::max(m_options.baud, 1);
  m_byteNs = (10 * kSecond + baud - 1) / baud;  // rounded up: never faster than the line
  m_clockBase = toSeconds(m_options.clockStart);

  m_columnState.resize(m_columns.size());
  setUpWater();
  for (size_t i = 0; i < m_columns.size(); ++i) {
    const ColumnSpec& c = m_columns[i];
    ColumnState& s = m_columnState[i];
    const measure::KindInfo& row = measure::kindInfo(c.kind);
    switch (row.role) {
      case measure::Role::Signal:
        s.noise = m_noise.uniform(1.5, 4.0);
        break;
      case measure::Role::Reference:
        s.level = std::round(m_noise.uniform(3900.0, 4200.0));  // a steady lamp monitor
        s.noise = 0.3;
        break;
      case measure::Role::Auxiliary: {
        // A plausible temperature or pressure, sent as the counts the device file converts.
        const measure::TypicalValue& t = row.typical;
        s.level = countsFor(t.centre + m_noise.uniform(t.low, t.high), c, t.fallbackCounts);
        s.noise = t.noise;
        break;
      }
      case measure::Role::MeterValue:
        s.level = m_noise.uniform(0.5, 5.0);  // the meter's own engineering value
        s.noise = 0.02;
        break;
      case measure::Role::None:
      case measure::Role::Clock:
        break;
    }
  }

  fillMemory(std::min(m_options.memoryBytes, kMemoryBytes));
  if (m_options.runAtPowerOn) startRunning();
}

// The water: a particle load that swings slowly over minutes and multiplies every
// channel the particles scatter into; backscattering on one power-law spectrum,
// bbp(l) = bbp(l0) (l / l0)^-slope, whose slope wanders a little; turbidity and
// fluorescence of coastal water. Each signal's level is the counts that the program's
// own conversion turns into the value drawn for it.
void MeterModel::setUpWater() {
  for (const SwingRange& r : kLoadSwings)
    m_load.push_back({r.amplitude, m_noise.uniform(r.shortest, r.longest), m_noise.uniform(0.0, kTwoPi)});
  m_slopeSwing = {kSlopeWander, m_noise.uniform(600.0, 1800.0), m_noise.uniform(0.0, kTwoPi)};
  const double slope = m_noise.uniform(kSlopeLow, kSlopeHigh);
  const double reach = loadReach();
  // Drawn so that the load keeps bbp at the reference wavelength within the range.
  const ValueRange bbpRange = coastalRange(measure::KindLambdaFirst);
  double bbpRef = logUniform(m_noise, bbpRange.low * std::exp(reach), bbpRange.high * std::exp(-reach));

  const HostConversion host(m_columns, m_options.scattering);
  const size_t n = m_columns.size();
  std::vector<double> perUnit(n, 0.0), zero(n, 0.0);
  std::vector<bool> convertible(n, false);
  for (size_t i = 0; i < n; ++i) {
    const int k = m_columns[i].kind;
    if (!isSignal(k)) continue;
    host.line(k, perUnit[i], zero[i]);
    // Counts that rise with the value, from a zero well inside the converter's range.
    convertible[i] = perUnit[i] > 0.0 && zero[i] < kFullScaleUse / 2;
    const int nm = m_columns[i].wavelength;
    if (measure::isLambda(k) && nm > 0) m_columnState[i].logRatio = std::log(nm / kReferenceNm);
  }
  // The whole spectrum comes down where its top would reach the converter's full scale.
  for (size_t i = 0; i < n; ++i) {
    if (!measure::isLambda(m_columns[i].kind) || !convertible[i]) continue;
    const double logRatio = m_columnState[i].logRatio;
    const double top =
        perUnit[i] * bbpRef * std::exp(-slope * logRatio + reach + kSlopeWander * std::fabs(logRatio));
    if (zero[i] + top > kFullScaleUse) bbpRef *= (kFullScaleUse - zero[i]) / top;
  }

  for (size_t i = 0; i < n; ++i) {
    const ColumnSpec& c = m_columns[i];
    ColumnState& s = m_columnState[i];
    if (!isSignal(c.kind)) continue;
    const ValueRange range = coastalRange(c.kind);
    if (!convertible[i] || range.empty()) {
      // No plausible value known, or a conversion the counts do not drive.
      s.level = std::max(c.offset, 0.0) + m_noise.uniform(150.0, 2500.0);
      continue;
    }
    s.loaded = followsParticles(c.kind);
    s.zero = zero[i];
    double value = 0.0;
    if (measure::isLambda(c.kind)) {
      value = bbpRef * std::exp(-slope * s.logRatio);
    } else {
      const double margin = s.loaded ? reach : 0.0;
      value = logUniform(m_noise, range.low * std::exp(margin), range.high * std::exp(-margin));
      value = std::min(value, (kFullScaleUse - s.zero) / (perUnit[i] * std::exp(margin)));
    }
    s.level = s.zero + perUnit[i] * value;
  }
}

double MeterModel::Swing::at(double seconds) const {
  return amplitude * std::sin(kTwoPi * seconds / period + phase);
}

double MeterModel::particleLoad(double seconds) const {
  double sum = 0.0;
  for (const Swing& swing : m_load) sum += swing.at(seconds);
  return std::exp(sum);
}

// ---------------------------------------------------------------------------------
// Time and the transmitter

MeterModel::Nanos MeterModel::periodNs() const {
  const double rate = sampleRateHz();
  const double ns = 1e9 / rate;
  return std::max<Nanos>(static_cast<Nanos>(std::llround(ns)), 1'000'000);
}

double MeterModel::sampleRateHz() const {
  if (m_options.rateHz > 0.0) return m_options.rateHz;
  // About 30 readings a second inside the meter, averaged; at most 8 lines a second.
  return std::min(8.0, 30.0 / std::max<uint32_t>(m_settings.average, 1));
}

int64_t MeterModel::meterSecondsAt(Nanos t) const { return m_clockBase + t / kSecond; }

void MeterModel::setClock(const CivilTime& t) { m_clockBase = toSeconds(t) - m_now / kSecond; }

MeterModel::Nanos MeterModel::nextActivity() const {
  Nanos next = kNever;
  if (pendingBytes() > 0 || m_dumping) next = std::max(m_lineFree + m_byteNs, m_now);
  if (m_running) next = std::min(next, std::max(m_nextDue, m_now));
  return next;
}

std::string MeterModel::advanceTo(Nanos t) {
  std::string out;
  if (t < m_now) t = m_now;
  for (;;) {
    const bool sampleDue = m_running && m_nextDue <= t;
    const Nanos horizon = sampleDue ? m_nextDue : t;
    drainUntil(horizon, out);
    m_now = horizon;
    if (!sampleDue) break;
    if (pendingBytes() > 0) {
      // The transmitter is still busy: the meter waits until it is free.
      m_nextDue = m_lineFree + static_cast<Nanos>(pendingBytes()) * m_byteNs;
      continue;
    }
    emitDataLine(m_nextDue);
    m_nextDue += periodNs();
  }
  return out;
}

void MeterModel::drainUntil(Nanos horizon, std::string& out) {
  for (;;) {
    refillDump();
    if (pendingBytes() == 0) {
      // Idle line: the next byte can start no earlier than now.
      m_lineFree = std::max(m_lineFree, horizon);
      m_tx.clear();
      m_txHead = 0;
      return;
    }
    if (m_lineFree + m_byteNs > horizon) break;
    m_lineFree += m_byteNs;
    out.push_back(m_tx[m_txHead++]);
  }
  if (m_txHead > 4096) {
    m_tx.erase(0, m_txHead);
    m_txHead = 0;
  }
}

void MeterModel::refillDump() {
  if (!m_dumping || pendingBytes() > 0) return;
  if (m_dumpPos < m_memory.size()) {
    const size_t n = std::min(kDumpChunk, m_memory.size() - m_dumpPos);
    m_tx.append(m_memory, m_dumpPos, n);
    m_dumpPos += n;
    return;
  }
  m_dumping = false;
  if (!m_options.faults.noEtx) m_tx += "etx\r\n";
}

// ---------------------------------------------------------------------------------
// Commands

void MeterModel::receive(std::string_view bytes) {
  for (char c : bytes) {
    if (c == '!') {
      // The stop sequence comes without a line end and may cut into a command.
      if (++m_bangs >= 5) {
        m_bangs = 0;
        m_command.clear();
        m_commandTooLong = false;
        stop();
      }
      continue;
    }
    m_bangs = 0;
    if (c == '\r' || c == '\n') {
      if (!m_command.empty() && !m_commandTooLong) execute(m_command);
      m_command.clear();
      m_commandTooLong = false;
      continue;
    }
    if (m_command.size() >= kMaxCommand) {
      m_commandTooLong = true;
      continue;
    }
    m_command.push_back(c);
  }
}

void MeterModel::reply(std::string_view line) {
  m_tx.append(line);
  m_tx += "\r\n";
}

void MeterModel::startRunning() {
  if (m_running) return;
  m_running = true;
  m_nextDue = m_now + periodNs();
}

void MeterModel::stop() {
  m_running = false;
  m_dumping = false;  // a dump ends at once; what the transmitter holds still goes out
}

void MeterModel::execute(const std::string& command) {
  // A busy meter listens only for the stop sequence while it dumps its memory.
  if (m_dumping) return;
  // Noise before the "$" is ignored; the name is the three characters after it, in
  // any case; then blanks or "=" and the argument.
  const size_t dollar = command.find('$');
  if (dollar == std::string::npos) return;
  std::string_view rest(command);
  rest.remove_prefix(dollar + 1);
  std::string name(rest.substr(0, 3));
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  rest.remove_prefix(std::min<size_t>(3, rest.size()));
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t' || rest.front() == '='))
    rest.remove_prefix(1);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
  const std::string_view arg = rest;

  MeterSettings& s = m_settings;
  uint32_t v = 0;
  if (name == "run") {
    startRunning();
  } else if (name == "mnu") {
    replyMenu();
  } else if (name == "par") {
    replyParameters();
  } else if (name == "sto") {
    m_flash = s;
    reply("DONE");
  } else if (name == "rls") {
    s = m_flash;
    if (memoryFull()) s.logging = false;
    reply("VER " + m_options.version);
  } else if (name == "ave") {
    if (parseNumber(arg, 1, 65535, v)) {
      s.average = v;
      if (m_running) m_nextDue = m_now + periodNs();
    }
    reply(keywordLine("AVE", s.average));
  } else if (name == "pkt") {
    if (parseNumber(arg, 0, 65535, v)) s.samples = v;
    reply(keywordLine("PKT", s.samples));
  } else if (name == "set") {
    if (parseNumber(arg, 0, 65535, v)) s.cycles = v;
    reply(keywordLine("SET", s.cycles));
  } else if (name == "int") {
    int h, m, sec;
    if (parseSixDigits(arg, h, m, sec) && m < 60 && sec < 60) s.interval = std::string(arg);
    reply("INT " + s.interval);
  } else if (name == "rec") {
    if (parseNumber(arg, 0, 1, v)) s.logging = v == 1 && !memoryFull();
    reply(keywordLine("REC", s.logging ? 1 : 0));
    if (v == 1 && !s.logging) reply(keywordLine("MEM", static_cast<uint32_t>(memoryPages())));
  } else if (name == "emc") {
    m_memory.clear();
    m_memoryFull = false;
    reply("MEM 0");
  } else if (name == "clk") {
    int h, m, sec;
    if (parseSixDigits(arg, h, m, sec) && h < 24 && m < 60 && sec < 60) {
      CivilTime t = clock();
      t.hour = h;
      t.minute = m;
      t.second = sec;
      setClock(t);
    }
    const CivilTime t = clock();
    std::string line = "CLK ";
    appendTwoDigits(line, t.hour);
    line.push_back(':');
    appendTwoDigits(line, t.minute);
    line.push_back(':');
    appendTwoDigits(line, t.second);
    reply(line);
  } else if (name == "dat") {
    int mo, d, y;
    if (parseSixDigits(arg, mo, d, y) && d >= 1 && d <= daysInMonth(2000 + y, mo)) {
      CivilTime t = clock();
      t.year = 2000 + y;
      t.month = mo;
      t.day = d;
      setClock(t);
    }
    const CivilTime t = clock();
    std::string line = "DAT ";
    appendTwoDigits(line, t.month);
    line.push_back('/');
    appendTwoDigits(line, t.day);
    line.push_back('/');
    appendTwoDigits(line, t.year % 100);
    reply(line);
  } else if (name == "get") {
    m_running = false;
    m_dumping = true;
    m_dumpPos = 0;
  } else if (name == "mvs") {
    if (parseNumber(arg, 0, 1, v)) reply(keywordLine("MVS", v));
  } else if (name == "01n" || name == "01f" || name == "11n" || name == "11f") {
    uint32_t& field = name == "01n" ? s.ph1On : name == "01f" ? s.ph1Off : name == "11n" ? s.ph11On : s.ph11Off;
    if (parseNumber(arg, 0, 9999, v)) field = v;
    std::string keyword = name;
    keyword[2] = static_cast<char>(keyword[2] - 'a' + 'A');
    reply(keywordLine(keyword, field));
  } else if (name == "swp") {
    std::swap(s.ph1On, s.ph11On);
    std::swap(s.ph1Off, s.ph11Off);
  } else if (name == "one") {
    emitDataLine(m_now);
  } else if (name == "hex") {
    replyHexPage(arg);
  } else if (name == "asv") {
    if (parseNumber(arg, 1, 4, v) && v != 3) s.analogRange = v;
    reply(keywordLine("ASV", s.analogRange));
  } else if (name == "ugl") {
    if (parseNumber(arg, 1, 255, v)) s.engrScale = v;
    reply(keywordLine("UGL", s.engrScale));
  } else if (name == "off") {
    if (parseNumber(arg, 0, 127, v)) s.engrOffset = v;
    reply(keywordLine("OFF", s.engrOffset));
  } else if (name == "cal") {
    if (parseNumber(arg, 0, 1, v)) s.engrOutput = v == 1;
    reply(keywordLine("CAL", s.engrOutput ? 1 : 0));
  } else {
    reply("ERR unknown command");
  }
}

void MeterModel::replyMenu() {
  const MeterSettings& s = m_settings;
  reply("VER " + m_options.version);
  reply(keywordLine("AVE", s.average));
  reply(keywordLine("PKT", s.samples));
  reply(keywordLine("SET", s.cycles));
  reply("INT " + s.interval);
  reply(keywordLine("REC", s.logging ? 1 : 0));
  reply(keywordLine("MEM", static_cast<uint32_t>(memoryPages())));
  const CivilTime t = clock();
  std::string date = "DAT ";
  appendTwoDigits(date, t.month);
  date.push_back('/');
  appendTwoDigits(date, t.day);
  date.push_back('/');
  appendTwoDigits(date, t.year % 100);
  reply(date);
  std::string time = "CLK ";
  appendTwoDigits(time, t.hour);
  time.push_back(':');
  appendTwoDigits(time, t.minute);
  time.push_back(':');
  appendTwoDigits(time, t.second);
  reply(time);
}

void MeterModel::replyParameters() {
  const MeterSettings& s = m_settings;
  reply(keywordLine("01N", s.ph1On));
  reply(keywordLine("01F", s.ph1Off));
  reply(keywordLine("11N", s.ph11On));
  reply(keywordLine("11F", s.ph11Off));
  reply(keywordLine("ASV", s.analogRange));
  reply(keywordLine("UGL", s.engrScale));
  reply(keywordLine("OFF", s.engrOffset));
  reply(keywordLine("CAL", s.engrOutput ? 1 : 0));
}

void MeterModel::replyHexPage(std::string_view argument) {
  // Pages count from 1; flash that was never written reads 0xFF.
  uint32_t page = 0;
  if (!parseNumber(argument, 1, kPages, page)) {
    reply("ERR page 1-4095");
    return;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string header = "PAGE ";
  appendInt(header, page);
  reply(header);
  const size_t base = (page - 1) * kPageBytes;
  for (size_t row = 0; row < kPageBytes; row += 16) {
    std::string line;
    line.push_back(kHex[row >> 8 & 15]);
    line.push_back(kHex[row >> 4 & 15]);
    line.push_back(kHex[row & 15]);
    line.push_back(':');
    for (size_t i = row; i < std::min(row + 16, kPageBytes); ++i) {
      const size_t at = base + i;
      const auto b = static_cast<unsigned char>(at < m_memory.size() ? m_memory[at] : '\xFF');
      line.push_back(' ');
      line.push_back(kHex[b >> 4]);
      line.push_back(kHex[b & 15]);
    }
    reply(line);
  }
}

// ---------------------------------------------------------------------------------
// Data lines and memory

int MeterModel::memoryPages() const {
  return static_cast<int>((m_memory.size() + kPageBytes - 1) / kPageBytes);
}

std::string MeterModel::makeDataLine(int64_t meterSeconds, double seconds) {
  const CivilTime t = fromSeconds(meterSeconds);
  const double load = particleLoad(seconds);
  const double slopeShift = m_slopeSwing.at(seconds);
  std::string line;
  for (size_t i = 0; i < m_columns.size(); ++i) {
    if (i > 0) line.push_back('\t');
    const int k = m_columns[i].kind;
    ColumnState& s = m_columnState[i];
    if (k == measure::KindDate) {
      appendTwoDigits(line, t.month);
      line.push_back('/');
      appendTwoDigits(line, t.day);
      line.push_back('/');
      appendTwoDigits(line, t.year % 100);
      continue;
    }
    if (k == measure::KindTime) {
      appendTwoDigits(line, t.hour);
      line.push_back(':');
      appendTwoDigits(line, t.minute);
      line.push_back(':');
      appendTwoDigits(line, t.second);
      continue;
    }
    if (s.noise == 0.0 && s.level == 0.0) {
      line.push_back('0');  // a column the meter does not fill
      continue;
    }
    // The water's slow swings, the channel's own slow wander that keeps returning to
    // the level, and fast noise.
    double mean = s.level;
    if (s.loaded) mean = s.zero + (s.level - s.zero) * load * std::exp(-slopeShift * s.logRatio);
    s.drift = s.drift * 0.98 + m_noise.gauss() * s.noise * 0.3;
    double value = mean + s.drift + m_noise.gauss() * s.noise;
    if (measure::kindInfo(k).role == measure::Role::MeterValue) {
      appendThousandths(line, std::llround(std::max(value, 0.0) * 1000.0));
    } else {
      if (isSignal(k)) value = std::min(value, kMaxCounts);
      appendInt(line, std::llround(std::max(value, 0.0)));
    }
  }
  return line;
}

void MeterModel::applyLineFaults(std::string& line) {
  if (m_options.faults.wrongColumns && m_faultNoise.oneIn(kFaultOdds)) {
    const size_t lastTab = line.rfind('\t');
    if (m_faultNoise.oneIn(2) && lastTab != std::string::npos)
      line.erase(lastTab);
    else
      line += "\t0";
  }
  if (m_options.faults.longLine && m_faultNoise.oneIn(kFaultOdds)) {
    const size_t target = kLongLineMin + m_faultNoise.below(60);
    while (line.size() < target) {
      line.push_back('\t');
      appendInt(line, 100 + m_faultNoise.below(4000));
    }
  }
}

void MeterModel::emitDataLine(Nanos at) {
  std::string line = makeDataLine(meterSecondsAt(at), static_cast<double>(at) * 1e-9);
  if (m_settings.logging) logLine(line);
  if (m_options.faults.garbage && m_faultNoise.oneIn(kFaultOdds)) {
    // Line noise: always a NUL and a 0xFF, then up to fourteen random bytes.
    m_tx.push_back('\0');
    m_tx.push_back('\xFF');
    const uint32_t n = m_faultNoise.below(15);
    for (uint32_t i = 0; i < n; ++i) m_tx.push_back(static_cast<char>(m_faultNoise.below(256)));
  }
  // Faults change what goes on the wire, never what the meter logged.
  applyLineFaults(line);
  reply(line);
}

void MeterModel::logLine(const std::string& line) {
  const size_t n = line.size() + 2;
  if (m_memory.size() + n > kMemoryBytes) {
    // Full: the meter stops logging and says so.
    m_memoryFull = true;
    m_settings.logging = false;
    reply(keywordLine("MEM", static_cast<uint32_t>(memoryPages())));
    return;
  }
  m_memory += line;
  m_memory += "\r\n";
}

void MeterModel::fillMemory(size_t bytes) {
  // Lines logged at one a second, a day before the clock's start; the last one is cut
  // where the requested size ends.
  int64_t seconds = m_clockBase - 86400;
  m_memory.reserve(bytes);
  while (m_memory.size() < bytes) {
    m_memory += makeDataLine(seconds, static_cast<double>(seconds - m_clockBase));
    ++seconds;
    m_memory += "\r\n";
  }
  m_memory.resize(bytes);
}

}  // namespace sim
