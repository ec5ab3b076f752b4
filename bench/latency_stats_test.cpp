#include "latency_stats.h"

#include <gtest/gtest.h>

#include <vector>

namespace bench {
namespace {

std::vector<double> OneTo(int n) {
  std::vector<double> v;
  for (int i = n; i >= 1; --i) v.push_back(i);  // unsorted on purpose
  return v;
}

TEST(Summarize, NearestRankGivesMeasuredValues) {
  struct Case {
    std::vector<double> samples;
    double median, p99;
  };
  const Case cases[] = {
      {{7}, 7, 7},          {{3, 1}, 1, 3},          {{5, 1, 3}, 3, 5},
      {OneTo(100), 50, 99}, {OneTo(1000), 500, 990}, {OneTo(101), 51, 100},
  };
  for (const Case& c : cases) {
    const Summary s = Summarize(c.samples);
    SCOPED_TRACE(c.samples.size());
    EXPECT_EQ(s.count, c.samples.size());
    EXPECT_EQ(s.median, c.median);
    EXPECT_EQ(s.p99, c.p99);
  }
}

TEST(Summarize, KeepsTheExtremesAndTheMean) {
  const Summary s = Summarize({4, 0.5, 10, 1.5});
  EXPECT_EQ(s.min, 0.5);
  EXPECT_EQ(s.max, 10);
  EXPECT_DOUBLE_EQ(s.mean, 4);
}

TEST(Summarize, NothingMeasuredIsAllZero) {
  const Summary s = Summarize({});
  EXPECT_EQ(s.count, 0u);
  EXPECT_EQ(s.median, 0);
  EXPECT_EQ(s.p99, 0);
}

}  // namespace
}  // namespace bench
