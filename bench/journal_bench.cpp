// What Journal=1 adds to a job: the receipt's digest, the journal written and flushed to the disk
// (file and folder) before the first frame, and its durable removal after the last. The flush is
// nearly all of it, and it depends on the disk: run it on the folder the program will use
// (ZELMO_BENCH_DIR).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "app/sha256.h"
#include "sys/durable_file.h"

namespace {

namespace fs = std::filesystem;

fs::path BenchFolder() {
  const char* dir = std::getenv("ZELMO_BENCH_DIR");
  return dir ? fs::path(dir) : fs::temp_directory_path();
}

std::string Receipt(int lines) {
  std::string receipt;
  for (int i = 0; i < lines; ++i) receipt += "Item " + std::to_string(i) + ";1;A;12.50\r\n";
  return receipt;
}

void BM_ReceiptDigest(benchmark::State& state) {
  const std::string receipt = Receipt(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(zelmo::Sha256Hex(receipt));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(receipt.size()));
}
BENCHMARK(BM_ReceiptDigest)->Arg(10)->Arg(1000);

// One job's whole journal: digest, written and flushed, then removed.
void BM_JournalPerJob(benchmark::State& state) {
  const std::string receipt = Receipt(10);
  const fs::path journal = BenchFolder() / "zelmo-bench.jrn";
  for (auto _ : state) {
    const std::string text = "sha256=" + zelmo::Sha256Hex(receipt) +
                             "\r\ntime=2026-12-10T23:20:40.123\r\nSettings=9600,N,8,1\r\n";
    zelmo::sys::WriteFileDurably(journal, text);
    zelmo::sys::RemoveFileDurably(journal);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JournalPerJob)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
