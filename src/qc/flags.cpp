#include "qc/flags.h"

namespace qc {

std::string_view testName(Test test) {
  switch (test) {
    case Test::GrossRange: return "gross_range_test";
    case Test::Spike: return "spike_test";
    case Test::RateOfChange: return "rate_of_change_test";
    case Test::FlatLine: return "flat_line_test";
  }
  return "";
}

std::string_view flagText(Flag flag) {
  switch (flag) {
    case Flag::Pass: return "pass";
    case Flag::NotEvaluated: return "not evaluated";
    case Flag::Suspect: return "suspect";
    case Flag::Fail: return "fail";
    case Flag::Missing: return "missing";
  }
  return "unknown";
}

}  // namespace qc
