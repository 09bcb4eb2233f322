// AHE, TAHE and CLHE on the shared 4000 x 3000 image, for the window sizes a
// user is likely to pick (3, the dialogs' 45, and a wide 151), on one worker
// and on all cores ("threads:0" = the default worker count).
#include <benchmark/benchmark.h>

#include "bench/bench_images.h"
#include "core/parallel.h"

namespace {

enum class Operation { Ahe, Tahe, Clhe };

template <Operation operation>
void LocalEqualization(benchmark::State& state)
{
    const int window = static_cast<int>(state.range(0));
    SetWorkerThreadCount(static_cast<int>(state.range(1)));
    CDibImage work;
    for (auto _ : state) {
        state.PauseTiming();
        bench::FreshCopy(work);
        state.ResumeTiming();
        int result = 0;
        if constexpr (operation == Operation::Ahe)
            result = work.Ahe(window);
        else if constexpr (operation == Operation::Tahe)
            result = work.Tahe(window, 10);
        else
            result = work.Clhe(window, 0.7f);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    state.counters["workers"] = WorkerThreadCount();
    SetWorkerThreadCount(0);
    bench::ReportMegapixels(state);
}

void Arguments(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"window", "threads"})->ArgsProduct({{3, 45, 151}, {1, 0}});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(LocalEqualization<Operation::Ahe>)->Name("Ahe")->Apply(Arguments);
BENCHMARK(LocalEqualization<Operation::Tahe>)->Name("Tahe")->Apply(Arguments);
BENCHMARK(LocalEqualization<Operation::Clhe>)->Name("Clhe")->Apply(Arguments);
