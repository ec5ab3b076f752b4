// The frame encoders: what PrepareJob pays per item before the first byte goes out.
#include <benchmark/benchmark.h>

#include <array>

#include "bench_fixtures.h"
#include "device/frames.h"
#include "device/sequence.h"

namespace {

void BM_BuildItemFrame(benchmark::State& state) {
  const std::string name = "Вода минерална 1.5л";
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelmo::BuildItemFrame(1, name, "B", 29.5, 6));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildItemFrame);

// Body and ETX of an item frame: the bytes the check value covers on every frame.
void BM_ComputeCheckValue(benchmark::State& state) {
  const std::string frame = zelmo::BuildItemFrame(1, "Млеко 3,2% 1л", "B", 58.5, 2);
  const std::string_view covered = std::string_view(frame).substr(1, frame.size() - 5);
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelmo::ComputeCheckValue(covered));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(covered.size()));
}
BENCHMARK(BM_ComputeCheckValue);

struct FieldCase {
  double value;
  int32_t decimals;
};
constexpr std::array<FieldCase, 4> kFieldCases = {{
    {0, 2},           // a zero field
    {58.5, 2},        // an everyday price
    {0.875, 3},       // a weighed quantity
    {9999999.99, 2},  // the widest amount
}};

void BM_FormatNumberField(benchmark::State& state) {
  const FieldCase c = kFieldCases[static_cast<size_t>(state.range(0))];
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelmo::FormatNumberField(c.value, c.decimals));
  }
}
BENCHMARK(BM_FormatNumberField)->DenseRange(0, kFieldCases.size() - 1);

// The whole command table of a job, as PrepareJob fills it: items + 7 steps.
void BM_CommandTable(benchmark::State& state) {
  zelmo::JobSteps job;
  const auto items = static_cast<int>(state.range(0));
  for (int i = 0; i < items; ++i) {
    job.aItems.push_back({bench::ReceiptLine(i).substr(0, 12), 1.5, "B", 12.34});
    job.dTotal += 1.5 * 12.34;
  }
  job.iReceiptKind = 1;
  job.iStepCount = static_cast<int16_t>(items + 7);
  for (auto _ : state) {
    std::vector<std::string> table(static_cast<size_t>(job.iStepCount));
    for (int16_t step = 0; step < job.iStepCount; ++step) {
      table[static_cast<size_t>(step)] = zelmo::GetStepCommand(job, step);
    }
    benchmark::DoNotOptimize(table.data());
  }
  state.SetItemsProcessed(state.iterations() * items);
}
BENCHMARK(BM_CommandTable)->Arg(43)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
