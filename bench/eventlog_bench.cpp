// bench-link: sv_eventlog
// One million Add calls to one log, starting empty and starting full. Adding takes
// constant time whatever the log holds, so both cost the same per call.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "eventlog/drLogger.h"

namespace {

const std::string kText = "Sinkronizacija projekta demo zavrsena, 3 izmjena";

void Run(benchmark::State& state, int prefill) {
  for (auto _ : state) {
    state.PauseTiming();
    auto log = std::make_unique<sv::TdrEventLog>();
    for (int i = 0; i < prefill; ++i) log->Add(kText);
    state.ResumeTiming();
    for (int i = 0; i < 1000000; ++i) log->Add(kText);
    benchmark::DoNotOptimize(log->Count());
    state.PauseTiming();  // releasing the kept entries is not part of adding
    log.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}

void BM_MillionAddsFromEmpty(benchmark::State& state) { Run(state, 0); }
void BM_MillionAddsToFullLog(benchmark::State& state) { Run(state, sv::TdrEventLog::kMaxEntries); }

BENCHMARK(BM_MillionAddsFromEmpty)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MillionAddsToFullLog)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
