// Every global, point and filtering operation on the shared 4000 x 3000 photo-like image.
//
// Each iteration copies the source outside the timed region, then runs the
// operation as the pipeline does. Arguments: threads (1 = one core, 0 = all).
#include <benchmark/benchmark.h>

#include "bench/bench_images.h"
#include "core/parallel.h"
#include "document/commands/command_table.h"

namespace {

template <typename Operation>
void RunOnCopies(benchmark::State& state, Operation operation)
{
    bench::RunOnCopies(state, static_cast<int>(state.range(0)), operation);
}

void BM_CopyFrom(benchmark::State& state)
{
    SetWorkerThreadCount(static_cast<int>(state.range(0)));
    CDibImage work;
    for (auto _ : state) {
        bench::FreshCopy(work);
        benchmark::DoNotOptimize(work.m_pBits.get());
    }
    bench::ReportMegapixels(state);
}

void BM_Histogram(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.ComputeHistogram(); });
}
void BM_Stretch(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.Stretch(10); });
}
void BM_Gamma(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.GammaCorrect(2.3f); });
}
void BM_Ghe(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.Ghe(); });
}
void BM_Tghe(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.Tghe(10); });
}
void BM_BoxFilter25(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.BoxFilter(25).get() != nullptr; });
}
void BM_GradientMap(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.GradientMap().get() != nullptr; });
}
void BM_Lowpass25(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return LowpassFilter(w, 25); });
}
void BM_Unsharp35(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.UnsharpMask(35, 2.0f); });
}
void BM_ThreeChannel(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.ThreeChannelFilter(2.0f, -0.2f, -0.4f, 0, 30, 100); });
}
void BM_ThreeChannelNonlinear(benchmark::State& state)
{
    RunOnCopies(state, [](CDibImage& w) { return w.ThreeChannelFilter(2.0f, -0.2f, -0.4f, 1, 30, 100); });
}
void BM_GrayOrTcfTghe(benchmark::State& state)
{
    const CDibImage& source = bench::PhotoLike();
    RunOnCopies(state, [&](CDibImage& w) { return GrayOrTcfTghe(w, const_cast<CDibImage&>(source)); });
}

#define LUMIVEX_BENCH(name) BENCHMARK(name)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()

LUMIVEX_BENCH(BM_CopyFrom);
LUMIVEX_BENCH(BM_Histogram);
LUMIVEX_BENCH(BM_Stretch);
LUMIVEX_BENCH(BM_Gamma);
LUMIVEX_BENCH(BM_Ghe);
LUMIVEX_BENCH(BM_Tghe);
LUMIVEX_BENCH(BM_BoxFilter25);
LUMIVEX_BENCH(BM_GradientMap);
LUMIVEX_BENCH(BM_Lowpass25);
LUMIVEX_BENCH(BM_Unsharp35);
LUMIVEX_BENCH(BM_ThreeChannel);
LUMIVEX_BENCH(BM_ThreeChannelNonlinear);
LUMIVEX_BENCH(BM_GrayOrTcfTghe);

}  // namespace
