// Reading the four settings at start-up: each through its own CIniFile, which reads the whole
// file again, as start-up does it; and the engine alone on bytes already in memory.
#include <benchmark/benchmark.h>

#include <array>

#include "bench_fixtures.h"
#include "ini/ini_file.h"
#include "ini/profile_engine.h"

namespace {

constexpr std::array<const char*, 4> kSettings = {"Seriska", "PrikaziForma", "Delimiter", "Clear"};

void BM_ReadFourSettings(benchmark::State& state) {
  const bench::ScratchDir dir;
  const std::string path =
      dir.Write("Zelmocfg.ini", bench::SettingsFile(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    for (const char* key : kSettings) {
      zelmo::CIniFile ini;
      ini.Init(path);
      const std::string value = ini.GetStringValue("Parametri", key);
      if (value.empty()) {
        state.SkipWithError("a setting was not found");
        return;
      }
      benchmark::DoNotOptimize(value.data());
    }
  }
}
BENCHMARK(BM_ReadFourSettings)->Arg(10)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_EngineFourSettings(benchmark::State& state) {
  const zelmo::ProfileText profile(bench::SettingsFile(static_cast<int>(state.range(0))));
  std::array<char, 255> buffer{};
  for (auto _ : state) {
    for (const char* key : kSettings) {
      if (profile.GetString("Parametri", key, "", buffer) == 0) {
        state.SkipWithError("a setting was not found");
        return;
      }
      benchmark::DoNotOptimize(buffer.data());
    }
  }
}
BENCHMARK(BM_EngineFourSettings)->Arg(10)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
