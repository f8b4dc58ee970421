#pragma once
// Quality flags as the ocean-observing archives expect them: one small number per sample
// and test, and an aggregate that is the worst of the tests run.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace qc {

enum class Flag : uint8_t { Pass = 1, NotEvaluated = 2, Suspect = 3, Fail = 4, Missing = 9 };

/// The tests this program runs, in the order files list them.
enum class Test : uint8_t { GrossRange, Spike, RateOfChange, FlatLine };
inline constexpr int kTestCount = 4;
inline constexpr std::array<Test, kTestCount> kTests = {Test::GrossRange, Test::Spike, Test::RateOfChange,
                                                         Test::FlatLine};

/// The test's key in a configuration file and in file names: "gross_range_test", …
std::string_view testName(Test test);

/// How bad a flag is: the order in which one hides another in an aggregate.
inline int badness(Flag flag) {
  // Indexed by the flag's number: 1 pass, 2 not evaluated, 3 suspect, 4 fail, 9 missing.
  constexpr uint8_t kBadness[16] = {0, 2, 1, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  return kBadness[static_cast<uint8_t>(flag) & 15U];
}

/// The worse of two flags: fail > suspect > pass > not evaluated > missing.
inline Flag worse(Flag a, Flag b) { return badness(b) > badness(a) ? b : a; }

/// The flags of one sample of one stream: one per test, and which of them were run.
struct Flags {
  std::array<Flag, kTestCount> test{Flag::NotEvaluated, Flag::NotEvaluated, Flag::NotEvaluated,
                                    Flag::NotEvaluated};
  uint8_t run = 0;  ///< bit 1 << int(Test) for each test configured for the stream

  bool has(Test t) const { return (run >> static_cast<int>(t)) & 1U; }
  Flag& operator[](Test t) { return test[static_cast<size_t>(t)]; }
  Flag operator[](Test t) const { return test[static_cast<size_t>(t)]; }
  /// The worst of the tests run; Missing when the value is missing, NotEvaluated when no
  /// test is configured.
  Flag aggregate() const { return worstOf(run); }
  /// The same, leaving out the spike test (which needs the next sample): what a live
  /// record knows when it is taken.
  Flag liveAggregate() const {
    return worstOf(static_cast<uint8_t>(run & ~(1U << static_cast<int>(Test::Spike))));
  }

 private:
  Flag worstOf(uint8_t tests) const {
    if (tests == 0) return Flag::NotEvaluated;
    // By badness: missing, not evaluated, pass, suspect, fail.
    constexpr Flag kByBadness[5] = {Flag::Missing, Flag::NotEvaluated, Flag::Pass, Flag::Suspect, Flag::Fail};
    int worst = 0;
    for (int t = 0; t < kTestCount; ++t) {
      const int b = ((tests >> t) & 1U) ? badness(test[static_cast<size_t>(t)]) : 0;
      worst = b > worst ? b : worst;
    }
    return kByBadness[worst];
  }
};

/// The text of a flag for people: "pass", "not evaluated", "suspect", "fail", "missing".
std::string_view flagText(Flag flag);

}  // namespace qc
