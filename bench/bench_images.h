// The shared benchmark input: a reproducible 4000 x 3000 photo-like gray image.
#pragma once

#include <benchmark/benchmark.h>

#include "core/dib_image.h"

namespace bench {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// The source image, made once per process.
const CDibImage& PhotoLike();

// A fresh working copy of the source (made outside the timed region by the caller).
void FreshCopy(CDibImage& work);

// Reports megapixels per second for a benchmark that processes the whole image each iteration.
void ReportMegapixels(benchmark::State& state);

}  // namespace bench
