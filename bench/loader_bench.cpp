// Loading receipts from the file, from one line up to the most a job's counter can hold.
#include <benchmark/benchmark.h>

#include "app/job_state.h"
#include "app/operator.h"
#include "bench_fixtures.h"
#include "receipt/loader.h"

namespace {

// Every line of the benchmark's receipts is complete; a question means the input is wrong.
class NoQuestions : public zelmo::Operator {
 public:
  zelmo::MsgAnswer MsgBox(const std::string&, zelmo::MsgStyle, const std::string&) override {
    asked = true;
    return zelmo::MsgAnswer::kNo;
  }
  bool asked = false;
};

void BM_LoadReceipt(benchmark::State& state) {
  const auto lines = static_cast<int>(state.range(0));
  const bench::ScratchDir dir;
  const std::string path = dir.Write("smetka.txt", bench::ReceiptFile(lines));
  const std::string delimiter = ";";
  NoQuestions op;
  for (auto _ : state) {
    zelmo::JobState job;
    job.sDelimiter = delimiter;
    if (zelmo::LoadReceipt(path, job, op) != zelmo::LoadResult::kLoaded || op.asked ||
        job.iItemCount != lines) {
      state.SkipWithError("the receipt did not load");
      break;
    }
    benchmark::DoNotOptimize(job.dTotal);
  }
  state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_LoadReceipt)->Arg(1)->Arg(43)->Arg(1000)->Arg(32767)->Unit(benchmark::kMicrosecond);

}  // namespace
