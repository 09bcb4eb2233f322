// JGACE on the shared 4000 x 3000 image (W = 251, 15 x 11 blocks) with the
// dialog's defaults, on one worker and on all cores ("threads:0" = the default
// worker count). The sequential float sum of the edge threshold is measured on
// its own as well: it is the part no thread count speeds up.
#include <benchmark/benchmark.h>

#include "algorithms/jgace_stages.h"
#include "bench/bench_images.h"
#include "core/parallel.h"

namespace {

void Jgace(benchmark::State& state)
{
    bench::RunOnCopies(state, static_cast<int>(state.range(0)), [](CDibImage& work) { return work.Jgace(200, 1, 3.0f); });
}

void JgaceEdgeThreshold(benchmark::State& state)
{
    const CDibImage& image = bench::PhotoLike();
    const jgace::Grid grid = jgace::MakeGrid(image.m_nWidth, image.m_nHeight);
    const auto gradient = image.GradientMap();
    const std::vector<double> sums = jgace::BlockGradientSums(grid, gradient.get());
    const int V = jgace::ValleyLevel(jgace::ActivityHistogram(sums, grid.Area()));
    const jgace::Background background = jgace::FindBackground(jgace::StoredBlockSums(sums), grid.Area(), V);
    for (auto _ : state)
        benchmark::DoNotOptimize(jgace::EdgeThreshold(grid, gradient.get(), background));
    state.counters["background blocks"] = static_cast<double>(background.count);
    bench::ReportMegapixels(state);
}

}  // namespace

BENCHMARK(Jgace)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(JgaceEdgeThreshold)->Unit(benchmark::kMillisecond);
