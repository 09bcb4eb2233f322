#include "bench/bench_images.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace bench {

const CDibImage& PhotoLike()
{
    static const std::unique_ptr<CDibImage> image = [] {
        auto img = std::make_unique<CDibImage>();
        img->CreateGray(kWidth, kHeight);
        std::mt19937 rng(12345);
        std::normal_distribution<double> noise(0.0, 6.0);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const double u = static_cast<double>(x) / kWidth;
                const double v = static_cast<double>(y) / kHeight;
                double level = 40.0 + 120.0 * u + 50.0 * v + 35.0 * std::sin(12.0 * u + 3.0 * std::cos(9.0 * v));
                level += ((x / 37 + y / 53) % 2 == 0) ? 18.0 : -18.0;
                level += noise(rng);
                img->m_pBits[static_cast<std::size_t>(y) * kWidth + x] = static_cast<std::uint8_t>(std::clamp(level, 0.0, 255.0));
            }
        }
        return img;
    }();
    return *image;
}

void FreshCopy(CDibImage& work)
{
    work.CopyFrom(const_cast<CDibImage*>(&PhotoLike()));
}

void ReportMegapixels(benchmark::State& state)
{
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight / 1e6,
                                                benchmark::Counter::kIsRate);
}

}  // namespace bench
