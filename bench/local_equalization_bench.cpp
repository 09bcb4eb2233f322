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
    bench::RunOnCopies(state, static_cast<int>(state.range(1)), [window](CDibImage& work) {
        if constexpr (operation == Operation::Ahe)
            return work.Ahe(window);
        else if constexpr (operation == Operation::Tahe)
            return work.Tahe(window, 10);
        else
            return work.Clhe(window, 0.7f);
    });
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
