// Bytes from the serial line: framed, decoded or parsed as replies under one of the example
// device files, with or without the corrections. The first byte picks the set-up.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/linedispatch.h"
#include "measure/devicefile.h"

namespace {

std::vector<measure::DeviceConfig> g_configs;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const char* name : {"bb3.dev", "flcd.dev", "flasv.dev", "ntu.dev"}) {
    measure::DeviceConfig config;
    if (!measure::LoadDeviceFileAtStart(std::string(MARU_SOURCE_DIR "/examples/") + name, config, nullptr))
      __builtin_trap();
    g_configs.push_back(config);
  }
  g_configs.emplace_back();  // none loaded
  g_configs.back().setStartupDefaults();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t setUp = data[0];
  meterlink::MeterState state;
  state.config = g_configs[(setUp & 7) % g_configs.size()];
  meterlink::LineDispatch dispatch(state, [](const std::string&, const std::string&) {},
                                   [] { return measure::HostTime{}; });
  dispatch.deviceFileInForce = state.config.DeviceFileLoaded;
  dispatch.refCorrection = (setUp & 8) != 0;
  dispatch.tempCorrection = (setUp & 16) != 0;
  size_t lines = 0;
  dispatch.setLineHandler([&lines](const meterlink::Line&) { ++lines; });
  // In two pieces, so a line may straddle two reads.
  const size_t cut = size > 1 ? 1 + data[1 % size] % size : 1;
  dispatch.feed(reinterpret_cast<const char*>(data) + 1, cut - 1);
  dispatch.feed(reinterpret_cast<const char*>(data) + cut, size - cut);
  if (lines > size) __builtin_trap();
  return 0;
}
