#include "measure/devicefile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <vector>

#include "measure/boundedfile.h"
#include "measure/cformat.h"
#include "measure/kindtable.h"

namespace measure {
namespace {

constexpr char kParserCaption[] = "MARU Device File Error";
constexpr int kLineBufferBytes = 99;  // 98 characters and the terminator

enum class Key {
  None,
  Salinity,
  WaterPure,
  WaterSea,
  XFactor,
  Theta,
  Lambda,
  LambdaRef,
  Columns,
  MaxVoltage,
  Asv1,
  Asv2,
  Asv4,
  IEngrScale,
  IEngrOffset,
  IEngrUnits,
  SingleColumn,   // one integer: the column (dates, times, references, IENGR, unused)
  MeasureColumn,  // column, scale, offset
};

struct Keyword {
  const char* text;
  size_t compareLength;  // 0: the whole text
  Key key;
  int kind;
};

// The keywords that set something other than a column's kind.
const Keyword kSettingKeywords[] = {
    {"Salinity=", 0, Key::Salinity, KindNone},
    {"Water=PURE", 0, Key::WaterPure, KindNone},
    {"Water=SEA", 0, Key::WaterSea, KindNone},
    {"XFACTOR=", 0, Key::XFactor, KindNone},
    {"Theta=", 0, Key::Theta, KindNone},
    {"Columns=", 0, Key::Columns, KindNone},
    {"maxvoltage=", 0, Key::MaxVoltage, KindNone},
    {"ASV1=", 0, Key::Asv1, KindNone},
    {"ASV2=", 0, Key::Asv2, KindNone},
    {"ASV4=", 0, Key::Asv4, KindNone},
    {"iengrscale=", 0, Key::IEngrScale, KindNone},
    {"iengroffset=", 0, Key::IEngrOffset, KindNone},
    {"iengrunits=", 0, Key::IEngrUnits, KindNone},
};

Key keyOf(DeviceLine line) {
  switch (line) {
    case DeviceLine::Column: return Key::SingleColumn;
    case DeviceLine::Measure: return Key::MeasureColumn;
    case DeviceLine::Lambda: return Key::Lambda;
    case DeviceLine::LambdaRef: return Key::LambdaRef;
    case DeviceLine::None: break;
  }
  return Key::None;
}

// The setting keywords, then the column keywords of the kind table (the backscatter kinds
// share theirs). No keyword starts another, so a line matches one at most.
const std::vector<Keyword>& keywords() {
  static const std::vector<Keyword> all = [] {
    std::vector<Keyword> list(std::begin(kSettingKeywords), std::end(kSettingKeywords));
    for (int k = 0; k < kMaxColumns; ++k) {
      const KindInfo& row = kindInfo(k);
      if (row.deviceLine == DeviceLine::None) continue;
      for (const DeviceKey& key : row.deviceKeys) {
        if (key.text == nullptr) continue;
        bool listed = false;
        for (const Keyword& known : list) listed = listed || std::strcmp(known.text, key.text) == 0;
        if (!listed) list.push_back({key.text, key.compareLength, keyOf(row.deviceLine), k});
      }
    }
    return list;
  }();
  return all;
}

// Character tests of the C locale, whatever locale the desktop runs in.
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool isPrintableAscii(char c) { return c >= 0x20 && c < 0x7F; }

bool startsWithNoCase(const char* line, const char* keyword, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (line[i] == '\0') return false;
    if (lowerAscii(line[i]) != lowerAscii(keyword[i])) return false;
  }
  return true;
}

size_t comparedLength(const Keyword& k) { return k.compareLength ? k.compareLength : std::strlen(k.text); }

const Keyword* classify(const char* line) {
  const Keyword* match = nullptr;
  for (const Keyword& k : keywords()) {
    if (startsWithNoCase(line, k.text, comparedLength(k))) match = &k;
  }
  return match;
}

// Truncates toward zero like a C cast, without leaving the int range (NaN gives 0).
int truncateToInt(float value) {
  if (!(value == value)) return 0;
  if (value >= 2147483520.0f) return std::numeric_limits<int>::max();
  if (value <= -2147483648.0f) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

}  // namespace

bool ParseDeviceText(std::string_view text, DeviceConfig& config, const WarningSink& warn) {
  auto fail = [&config]() {
    config.DataFieldCount = 0;
    return false;
  };
  auto showInvalidLine = [&warn](const char* line) {
    if (warn) warn(kParserCaption, cformat("Invalid Line '%s' in *.dev file", line));
  };

  config.resetTables();

  // Lines as fgets() with a buffer of 99 would give them: up to and with the LF, 98 bytes at
  // most, seen as C text (up to a NUL).
  size_t at = 0;
  char line[kLineBufferBytes];
  const auto nextLine = [&]() {
    if (at >= text.size()) return false;
    size_t n = 0;
    while (n + 1 < sizeof line && at < text.size()) {
      line[n++] = text[at++];
      if (line[n - 1] == '\n') break;
    }
    line[n] = '\0';
    return true;
  };
  // A file without even a title line describes no meter.
  if (!nextLine()) return fail();
  std::string title(line, std::strcspn(line, "\r\n"));

  while (nextLine()) {
    const Keyword* keyword = classify(line);
    if (keyword == nullptr) continue;  // comments, blank lines, header text

    const char* equals = std::strrchr(line, '=');
    const char* values = equals ? equals + 1 : line;

    // Column keywords first: the 1-based field number, then what the kind needs.
    if (keyword->key == Key::SingleColumn || keyword->key == Key::MeasureColumn ||
        keyword->key == Key::Lambda || keyword->key == Key::LambdaRef) {
      int column = 0;
      float numbers[4] = {0, 0, 0, 0};
      int wanted = 1;
      int got = 0;
      switch (keyword->key) {
        case Key::SingleColumn:
          got = cscan(values, "%d", &column);
          break;
        case Key::MeasureColumn:
        case Key::LambdaRef:
          wanted = 3;
          got = cscan(values, "%d%f%f", &column, &numbers[0], &numbers[1]);
          break;
        default:  // Lambda
          wanted = 5;
          got = cscan(values, "%d%f%f%f%f", &column, &numbers[0], &numbers[1], &numbers[2],
                      &numbers[3]);
          break;
      }
      if (got < wanted) {
        showInvalidLine(line);
        return fail();
      }
      if (column > kMaxColumns) return fail();
      // Field numbers start at 1; anything lower lies outside the tables.
      if (column < 1) {
        showInvalidLine(line);
        return fail();
      }
      const int position = column - 1;

      int kind = keyword->kind;
      if (keyword->key == Key::Lambda || keyword->key == Key::LambdaRef) {
        const int base = keyword->key == Key::Lambda ? 5 : 14;
        // Columns 2..10 have their own code; elsewhere the field keeps the code it has.
        kind = (column >= 2 && column <= 10) ? base + column : config.ColumnKind[position];
      }
      if (!isValidKind(kind)) kind = KindNone;
      config.ColumnKind[position] = kind;
      config.DataFieldCount += 1;

      if (keyword->key == Key::SingleColumn) {
        config.KindScale[kind] = 1.0;
        config.KindOffset[kind] = 0.0;
      } else {
        config.KindScale[kind] = numbers[0];
        config.KindOffset[kind] = numbers[1];
      }
      if (keyword->key == Key::Lambda) {
        config.KindWavelength[kind] = truncateToInt(numbers[2]);
        config.KindColour[kind] = WavelengthColour(truncateToInt(numbers[3]));
      }
      continue;
    }

    float number = 0.0f;
    switch (keyword->key) {
      case Key::WaterPure:
        config.SeaWater = false;
        continue;
      case Key::WaterSea:
        config.SeaWater = true;
        continue;
      case Key::IEngrUnits: {
        // The text after "=", up to the first non-printing character (the line end).
        std::string units;
        for (const char* p = values; *p != '\0' && isPrintableAscii(*p); ++p) units.push_back(*p);
        config.IEngrUnits = units;
        continue;
      }
      case Key::Columns: {
        int columns = 0;
        if (cscan(values, "%d", &columns) < 1) {
          showInvalidLine(line);
          return fail();
        }
        if (columns > kMaxColumns) return fail();
        if (columns < 1) {
          showInvalidLine(line);
          return fail();
        }
        config.ExpectedColumns = columns;
        continue;
      }
      default:
        break;
    }

    if (cscan(values, "%f", &number) < 1) {
      showInvalidLine(line);
      return fail();
    }
    switch (keyword->key) {
      case Key::Salinity: config.Salinity = number; break;
      case Key::XFactor: config.XFactor = number; break;
      case Key::Theta:
        config.ThetaRadians = number * 3.1415 * (1.0 / 180.0);
        config.ThetaDegrees = number;
        break;
      case Key::MaxVoltage: config.MaxVoltage = number; break;
      case Key::Asv1: config.Asv1Range = number; break;
      case Key::Asv2: config.Asv2Range = number; break;
      case Key::Asv4: config.Asv4Range = number; break;
      case Key::IEngrScale: config.IEngrScale = number; break;
      case Key::IEngrOffset: config.IEngrOffset = number; break;
      default: break;
    }
  }

  if (config.DataFieldCount > config.ExpectedColumns) {
    if (warn)
      warn(kParserCaption, cformat("More Data Fields (%d) than Columns (%d) in *.dev",
                                   config.DataFieldCount, config.ExpectedColumns));
    return fail();
  }

  // The analog ranges are given as fractions of the maximum voltage.
  if (config.MaxVoltage > 0.0f) {
    config.Asv1Range *= config.MaxVoltage;
    config.Asv2Range *= config.MaxVoltage;
    config.Asv4Range *= config.MaxVoltage;
  }

  for (char& c : title)
    if (c == '\t') c = ' ';
  config.MeterTitle = title;
  config.DeviceFileLoaded = true;
  return true;
}

std::vector<std::string> DeviceFileKeywords() {
  std::vector<std::string> list;
  for (const Keyword& k : keywords()) list.emplace_back(k.text, comparedLength(k));
  return list;
}

bool ParseDeviceFile(std::FILE* file, DeviceConfig& config, const WarningSink& warn) {
  std::string text, error;
  if (file == nullptr || readBoundedStream(file, "device file", text, error) != FileRead::Done) {
    config.resetTables();
    config.DataFieldCount = 0;
    return false;
  }
  return ParseDeviceText(text, config, warn);
}

std::string NotADeviceFile(std::string_view text) {
  // Text files hold printable characters, blanks and line ends; anything else in the
  // first kilobytes (a NUL, control bytes) is a binary file.
  const std::string_view head = text.substr(0, 4096);
  for (const char c : head) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f') return "it holds binary data";
  }
  DeviceConfig scratch;
  if (!ParseDeviceText(text, scratch, nullptr) || scratch.DataFieldCount > 0) return {};
  // No column at all: a recording (lines of numbers) or some other text.
  const std::string_view second = text.substr(std::min(text.find('\n'), text.size()));
  const size_t digits = static_cast<size_t>(std::count_if(second.begin(), second.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '\t' || c == '.' || c == '/' || c == ':';
  }));
  if (second.size() > 16 && digits * 10 >= second.size() * 8)
    return "it holds lines of numbers, as a recording does, and no columns";
  return "it names no columns (no line such as Date=1 or a measurement's column)";
}

bool LoadDeviceFile(const std::string& path, DeviceConfig& config, const WarningSink& warn, bool* opened,
                    std::string* readError, bool* notDeviceFile) {
  if (notDeviceFile) *notDeviceFile = false;
  std::string text, error;
  const FileRead read = readBoundedFile(path, text, error);
  if (opened) *opened = read != FileRead::NotOpened;
  if (readError) *readError = read == FileRead::Done ? std::string() : error;
  if (read != FileRead::Done) return false;  // nothing changed
  // Another kind of file leaves the device file in force as it is.
  if (const std::string why = NotADeviceFile(text); !why.empty()) {
    if (readError) *readError = "'" + path + "' is not a device file: " + why + ".";
    if (notDeviceFile) *notDeviceFile = true;
    return false;
  }
  return ParseDeviceText(text, config, warn);
}

bool LoadDeviceFileAtStart(const std::string& path, DeviceConfig& config, const WarningSink& warn, bool* notDeviceFile) {
  config.setStartupDefaults();
  bool opened = false;
  std::string readError;
  const bool ok = LoadDeviceFile(path, config, warn, &opened, &readError, notDeviceFile);
  if (!warn || ok) return ok;
  if (!opened)
    warn("Device File Error", "Could not open device file '" + path + "': " + readErrorCause(readError));
  else if (!readError.empty())
    warn("Device File Error", readError);
  else
    warn("Device File Error", "Missing or Invalid device file '" + path + "'");
  return ok;
}

}  // namespace measure
