#include "qc/flags.h"

namespace qc {

namespace {

// How bad a flag is: the order in which one flag hides another in an aggregate.
int badness(Flag flag) {
  switch (flag) {
    case Flag::Missing: return 0;
    case Flag::NotEvaluated: return 1;
    case Flag::Pass: return 2;
    case Flag::Suspect: return 3;
    case Flag::Fail: return 4;
  }
  return 0;
}

Flag worstOf(const Flags& flags, uint8_t run) {
  if (run == 0) return Flag::NotEvaluated;
  Flag worst = Flag::Missing;
  for (const Test t : kTests)
    if ((run >> static_cast<int>(t)) & 1U) worst = worse(worst, flags[t]);
  return worst;
}

}  // namespace

std::string_view testName(Test test) {
  switch (test) {
    case Test::GrossRange: return "gross_range_test";
    case Test::Spike: return "spike_test";
    case Test::RateOfChange: return "rate_of_change_test";
    case Test::FlatLine: return "flat_line_test";
  }
  return "";
}

Flag worse(Flag a, Flag b) { return badness(b) > badness(a) ? b : a; }

Flag Flags::aggregate() const { return worstOf(*this, run); }

Flag Flags::liveAggregate() const {
  const auto spikeBit = static_cast<uint8_t>(1U << static_cast<int>(Test::Spike));
  return worstOf(*this, static_cast<uint8_t>(run & ~spikeBit));
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
