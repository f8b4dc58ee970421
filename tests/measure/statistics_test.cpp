// Running statistics per kind.
#include "measure/statistics.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace measure;

namespace {

double sampleStdDev(const double* v, int n) {
  double mean = 0;
  for (int i = 0; i < n; ++i) mean += v[i];
  mean /= n;
  double sq = 0;
  for (int i = 0; i < n; ++i) sq += (v[i] - mean) * (v[i] - mean);
  return std::sqrt(sq / (n - 1));
}

TEST(Statistics, TooFewValuesOrNoRequest) {
  Statistics s;
  for (int request : {1, 15, 60}) EXPECT_EQ(s.Statistic(9, request), 99.99);
  s.Push(9, 5.0);
  for (int request : {1, 15, 60}) EXPECT_EQ(s.Statistic(9, request), 99.99) << request;
  s.Push(9, 7.0);
  EXPECT_EQ(s.Statistic(9, 0), 99.99);
  EXPECT_EQ(s.Statistic(9, -1), 99.99);
  EXPECT_DOUBLE_EQ(s.Statistic(9, 1), 6.0);
  EXPECT_DOUBLE_EQ(s.Statistic(9, 15), std::sqrt(2.0));
  EXPECT_EQ(s.Statistic(10, 1), 99.99);  // kinds keep separate histories
}

TEST(Statistics, TwentyValues) {
  Statistics s;
  double v[20];  // newest first
  for (int i = 0; i < 20; ++i) {
    const double x = 1000 + (i * 37) % 11;
    v[19 - i] = x;
    EXPECT_EQ(s.Push(25, x), i + 1);
  }
  double mean15 = 0;
  for (int i = 0; i < 15; ++i) mean15 += v[i];
  EXPECT_NEAR(s.Statistic(25, 1), mean15 / 15, 1e-12);
  EXPECT_NEAR(s.Statistic(25, 15), sampleStdDev(v, 15), 1e-12);
  EXPECT_NEAR(s.Statistic(25, 60), sampleStdDev(v, 20), 1e-12);  // divisor 19
  EXPECT_NEAR(s.Statistic(25, 5), sampleStdDev(v, 5), 1e-12);
}

TEST(Statistics, HistoryKeeps65Newest) {
  Statistics s;
  int last = 0;
  for (int i = 1; i <= 70; ++i) last = s.Push(39, i == 70 ? 1e6 : i);
  EXPECT_EQ(last, 66);  // the count before capping
  EXPECT_EQ(s.Count(39), 65);
  double v[65];
  v[0] = 1e6;
  for (int i = 1; i < 65; ++i) v[i] = 70 - i;
  EXPECT_NEAR(s.Statistic(39, 60), sampleStdDev(v, 60), 1e-6);
  EXPECT_NEAR(s.Statistic(39, 100), sampleStdDev(v, 65), 1e-6);  // capped at 65
}

TEST(Statistics, KindsOutsideTheTables) {
  Statistics s;
  EXPECT_EQ(s.Push(-1, 1.0), 0);
  EXPECT_EQ(s.Push(60, 1.0), 0);
  EXPECT_EQ(s.Count(60), 0);
  EXPECT_EQ(s.Statistic(60, 1), 99.99);
}

}  // namespace
