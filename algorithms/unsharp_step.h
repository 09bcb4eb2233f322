// The per-row step of unsharp masking, exposed for its tests.
#pragma once

#include <cstdint>

namespace unsharp_detail {

// pixels[i] = ClampToByte(float((pixels[i] - mean[i]) * gain + mean[i])) for i < count.
void UnsharpRow(std::uint8_t* pixels, const std::uint8_t* mean, int count, double gain);

// The same with AVX-512; returns false, doing nothing, without it.
bool UnsharpRowVector(std::uint8_t* pixels, const std::uint8_t* mean, int count, double gain);

}  // namespace unsharp_detail
