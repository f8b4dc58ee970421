#include "measure/statistics.h"

#include <algorithm>
#include <cmath>

namespace measure {

int Statistics::Push(int kind, double value) {
  if (!isValidKind(kind)) return 0;
  auto& history = m_values[kind];
  const int count = m_count[kind];
  // Newest first: the oldest kept value moves one slot further (slot 65 when full).
  for (int j = count; j > 0; --j) history[j] = history[j - 1];
  history[0] = value;
  const int raised = count + 1;
  m_count[kind] = std::min(raised, kHistory);
  return raised;
}

double Statistics::Statistic(int kind, int request) const {
  if (!isValidKind(kind)) return 99.99;
  const int count = m_count[kind];
  if (request <= 0 || count <= 1) return 99.99;
  int n = request == 1 ? 15 : request;
  n = std::min(n, kHistory);
  n = std::min(n, count);
  const auto& history = m_values[kind];
  long double sum = 0.0L;
  for (int j = 0; j < n; ++j) sum += history[j];
  const long double mean = sum / n;
  if (request == 1) return static_cast<double>(mean);
  long double squares = 0.0L;
  for (int j = 0; j < n; ++j) {
    const long double d = history[j] - mean;
    squares += d * d;
  }
  return static_cast<double>(std::sqrt(squares / (n - 1)));
}

int Statistics::Count(int kind) const { return isValidKind(kind) ? m_count[kind] : 0; }

}  // namespace measure
