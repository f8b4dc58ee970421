// QC configurations: any text is read whole or refused with the line of its fault, in
// bounded time and memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "qc/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const qc::ConfigResult r = qc::parseConfig(std::string(reinterpret_cast<const char*>(data), size));
  if (r.config.has_value() == !r.error.empty()) __builtin_trap();  // one or the other
  if (!r.config && r.error.rfind("line ", 0) != 0) __builtin_trap();
  if (r.config) qc::checkStreamNames(*r.config, {"bbp_470_per_m", "counts_470"});
  return 0;
}
