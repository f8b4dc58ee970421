#pragma once
// Per-kind running histories: mean of the last 15, standard deviation of the last n.
#include <array>

#include "measure/kinds.h"

namespace measure {

class Statistics {
 public:
  static constexpr int kHistory = 65;
  /// Shifts the history of `kind` and stores `value` as the newest. Returns the count
  /// before capping at 65. Kinds outside 0..59 are ignored (returns 0).
  int Push(int kind, double value);
  /// request 1: mean of the last 15; n > 1: sample standard deviation of the last n
  /// (capped at 65 and at the count); request <= 0 or fewer than 2 values: 99.99.
  double Statistic(int kind, int request) const;
  int Count(int kind) const;

 private:
  std::array<std::array<double, kHistory + 1>, kMaxColumns> m_values{};
  std::array<int, kMaxColumns> m_count{};
};

}  // namespace measure
