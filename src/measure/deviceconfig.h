#pragma once
// The device-file configuration: what each field of a data line means and how its
// counts become engineering values. Filled by the device-file parser.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "measure/kinds.h"

namespace measure {

struct DeviceConfig {
  std::array<int, kMaxColumns> ColumnKind{};          ///< kind code per 0-based field position
  std::array<double, kMaxColumns> KindScale{};        ///< per kind; reset 1.0
  std::array<double, kMaxColumns> KindOffset{};       ///< per kind; reset 0.0 (dark counts)
  std::array<int, kMaxColumns> KindWavelength{};      ///< per kind, nanometres; reset 0
  std::array<uint32_t, kMaxColumns> KindColour{};     ///< per kind, 0x00BBGGRR; reset 0xFF0000
  std::array<double, kMaxColumns> KindRefValue{};     ///< per kind; reset 9999.9, captured by the decoder
  std::array<double, kMaxColumns> TempCoefA{};        ///< per kind; reset 1.0
  std::array<double, kMaxColumns> TempCoefB{};        ///< per kind; reset 0.0

  int ExpectedColumns = 0;   ///< "Columns="; survives a load
  int DataFieldCount = 0;    ///< column lines accepted; 0 = no usable configuration
  bool DeviceFileLoaded = false;
  std::string MeterTitle = "MARU Sensor";

  // Backscattering parameters: survive a load.
  double Salinity = 32.0;
  double ThetaRadians = 2.042035;
  double ThetaDegrees = 117.0;  ///< the scattering angle as the device file gives it
  double XFactor = 1.1;
  bool SeaWater = true;

  // Analog ranges (single precision), reset by a load.
  float MaxVoltage = 0.0f, Asv1Range = 0.0f, Asv2Range = 0.0f, Asv4Range = 0.0f;
  // Meter-computed engineering channel.
  float IEngrScale = -1.0f;
  float IEngrOffset = 0.0f;
  std::string IEngrUnits;

  DeviceConfig() { resetTables(); }

  /// The reset every load starts with: per-kind tables, ranges, engineering channel,
  /// DataFieldCount. Keeps ExpectedColumns, the title and the backscattering parameters.
  void resetTables();

  /// The start-up defaults the first receive tick sets: scale 1, offset 0, and the
  /// scattering angle 2.041975 rad.
  void setStartupDefaults();
};

/// The serial number a device file's title carries: the word after "S/N" ("MARU BB3
/// Backscattering Meter  S/N BB3-0417" -> "BB3-0417"); "" when the title has none.
std::string serialFromTitle(std::string_view title);

/// Colour 0x00BBGGRR of a wavelength in nanometres (clamped to 380..780).
uint32_t WavelengthColour(int nanometres);

}  // namespace measure
