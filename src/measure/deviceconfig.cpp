#include "measure/deviceconfig.h"

#include <algorithm>

namespace measure {

void DeviceConfig::resetTables() {
  ColumnKind.fill(KindNone);
  KindScale.fill(1.0);
  KindOffset.fill(0.0);
  KindWavelength.fill(0);
  KindColour.fill(0xFF0000u);
  KindRefValue.fill(9999.9);
  TempCoefA.fill(1.0);
  TempCoefB.fill(0.0);
  MaxVoltage = Asv1Range = Asv2Range = Asv4Range = 0.0f;
  IEngrScale = -1.0f;
  IEngrOffset = 0.0f;
  IEngrUnits.clear();
  DataFieldCount = 0;
}

void DeviceConfig::setStartupDefaults() {
  KindScale.fill(1.0);
  KindOffset.fill(0.0);
  ThetaRadians = 2.041975;
  ThetaDegrees = 117.0;
}

namespace {
bool wordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}
}  // namespace

std::string serialFromTitle(std::string_view title) {
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  for (size_t at = 0; at + 3 <= title.size(); ++at) {
    if (upper(title[at]) != 'S' || title[at + 1] != '/' || upper(title[at + 2]) != 'N') continue;
    if (at > 0 && wordChar(title[at - 1])) continue;  // inside a word: "GPS/NMEA"
    size_t begin = at + 3;
    while (begin < title.size() && (title[begin] == ' ' || title[begin] == '\t' || title[begin] == ':' ||
                                    title[begin] == '#' || title[begin] == '.'))
      ++begin;
    size_t end = begin;
    while (end < title.size() && title[end] != ' ' && title[end] != '\t') ++end;
    return std::string(title.substr(begin, end - begin));
  }
  return {};
}

uint32_t WavelengthColour(int nanometres) {
  // Piecewise-linear spectrum, later ranges override earlier ones at shared end points,
  // dimmed towards both ends of the visible range. Single precision throughout.
  const float w = static_cast<float>(std::clamp(nanometres, 380, 780));
  float r = static_cast<float>((440.0f - w) * 0.016666666666666666);
  float g = 0.0f;
  float b = 1.0f;
  if (w >= 440.0f && w <= 490.0f) {
    r = 0.0f;
    g = static_cast<float>((w - 440.0f) * 0.02);
    b = 1.0f;
  }
  if (w >= 490.0f && w <= 510.0f) {
    r = 0.0f;
    g = 1.0f;
    b = static_cast<float>((510.0f - w) * 0.05);
  }
  if (w >= 510.0f && w <= 580.0f) {
    r = static_cast<float>((w - 510.0f) * 0.014285714285714285);
    g = 1.0f;
    b = 0.0f;
  }
  if (w >= 580.0f && w <= 690.0f) {
    r = 1.0f;
    g = static_cast<float>((690.0f - w) * 0.00909090909090909);
    b = 0.0f;
  }
  if (w >= 690.0f && w <= 780.0f) {
    r = 1.0f;
    g = 0.0f;
    b = 0.0f;
  }
  float intensity = 1.0f;
  if (w > 700.0f)
    intensity = static_cast<float>(0.3 + 0.7 * (780.0f - w) * 0.0125);
  else if (w <= 420.0f)
    intensity = static_cast<float>(0.3 + 0.7 * (w - 380.0f) * 0.025);
  auto byte = [intensity](float component) {
    return static_cast<uint32_t>(static_cast<int>(255.0f * intensity * component)) & 0xFFu;
  };
  return (byte(b) << 16) | (byte(g) << 8) | byte(r);
}

}  // namespace measure
