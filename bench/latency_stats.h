// Order statistics of a set of timings.
#pragma once

#include <cstddef>
#include <vector>

namespace bench {

struct Summary {
  std::size_t count = 0;
  double min = 0, median = 0, p99 = 0, max = 0, mean = 0;
};

// Median and 99th percentile by nearest rank: each is a value that was measured. An empty set
// gives a zero count and zeros.
Summary Summarize(std::vector<double> samples);

}  // namespace bench
