// The shared benchmark input: a reproducible 4000 x 3000 photo-like gray image.
#pragma once

#include <benchmark/benchmark.h>

#include "core/dib_image.h"
#include "core/parallel.h"

namespace bench {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// The source image, made once per process.
const CDibImage& PhotoLike();

// A fresh working copy of the source (made outside the timed region by the caller).
void FreshCopy(CDibImage& work);

// Reports megapixels per second for a benchmark that processes the whole image each iteration.
void ReportMegapixels(benchmark::State& state);

// Times operation(work) on a fresh copy of the source per iteration, the copy
// made outside the timed region, with threads workers (0 = the default count),
// as the pipeline times a command. Reports megapixels per second and the
// worker count, and restores the default count afterwards.
template <typename Operation>
void RunOnCopies(benchmark::State& state, int threads, Operation operation)
{
    SetWorkerThreadCount(threads);
    CDibImage work;
    for (auto _ : state) {
        state.PauseTiming();
        FreshCopy(work);
        state.ResumeTiming();
        benchmark::DoNotOptimize(operation(work));
        benchmark::ClobberMemory();
    }
    state.counters["workers"] = WorkerThreadCount();
    SetWorkerThreadCount(0);
    ReportMegapixels(state);
}

}  // namespace bench
