// Attribute files (maru --attrs): any text gives attributes the NetCDF writer takes, or a
// refusal naming a line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/attributes.h"
#include "files/netcdfwriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cli::Attributes out;
  cli::VariableAttributes variables;
  std::string error;
  if (!cli::parseAttributes(std::string(reinterpret_cast<const char*>(data), size), "a.yml", out, variables, error)) {
    if (error.rfind("a.yml: line ", 0) != 0) __builtin_trap();
    return 0;
  }
  for (const auto& [key, value] : out)
    if (!files::userAttributeProblem(key).empty() || !files::userAttributeValueProblem(key, value).empty())
      __builtin_trap();
  for (const files::UserVariableAttribute& a : variables)
    if (!files::userVariableAttributeProblem(a.name, a.value).empty()) __builtin_trap();
  return 0;
}
