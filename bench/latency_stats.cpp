#include "latency_stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace bench {
namespace {

// Nearest rank: the smallest value with at least `fraction` of the samples at or below it.
double Rank(const std::vector<double>& sorted, double fraction) {
  const auto rank =
      static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
  return sorted[std::max<std::size_t>(rank, 1) - 1];
}

}  // namespace

Summary Summarize(std::vector<double> samples) {
  Summary s;
  if (samples.empty()) return s;
  std::sort(samples.begin(), samples.end());
  s.count = samples.size();
  s.min = samples.front();
  s.max = samples.back();
  s.median = Rank(samples, 0.5);
  s.p99 = Rank(samples, 0.99);
  s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(s.count);
  return s;
}

}  // namespace bench
