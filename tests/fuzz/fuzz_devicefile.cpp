// Device files: any bytes parse to a configuration or a refusal, never past the tables.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "measure/devicefile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  measure::DeviceConfig config;
  config.setStartupDefaults();
  const bool ok = measure::ParseDeviceText(std::string_view(reinterpret_cast<const char*>(data), size), config,
                                           [](const std::string&, const std::string&) {});
  if (ok && (config.DataFieldCount < 0 || config.DataFieldCount > measure::kMaxColumns)) __builtin_trap();
  return 0;
}
