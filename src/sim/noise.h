#pragma once
// Seeded noise for the virtual meter. The standard distributions differ between
// standard libraries, so only the engine (whose output the standard fixes) is used,
// and the distributions are built here from its raw 32-bit words.
#include <cstdint>
#include <random>

namespace sim {

class Noise {
 public:
  explicit Noise(uint32_t seed) : m_engine(seed) {}

  uint32_t word() { return static_cast<uint32_t>(m_engine()); }
  /// Uniform in [0, 1).
  double uniform() { return word() * (1.0 / 4294967296.0); }
  /// Uniform in [lo, hi).
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  /// Uniform integer in [0, n); n > 0.
  uint32_t below(uint32_t n) { return static_cast<uint32_t>((uint64_t{word()} * n) >> 32); }
  /// True with probability 1/n.
  bool oneIn(uint32_t n) { return below(n) == 0; }
  /// About normal, mean 0, deviation 1: the sum of twelve uniforms less six
  /// (plain arithmetic, so every platform gives the same numbers).
  double gauss() {
    double sum = 0.0;
    for (int i = 0; i < 12; ++i) sum += uniform();
    return sum - 6.0;
  }

 private:
  std::mt19937 m_engine;
};

}  // namespace sim
