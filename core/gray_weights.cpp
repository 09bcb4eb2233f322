#include "core/gray_weights.h"

namespace {

// (s + 50) / 100 in 16-bit lanes: s + 50 <= 25550, and multiplying by
// 5243 / 2^19 (0.0100002) instead of dividing by 100 is exact below 2^16
// (checked for every sum in the tests), which vectorises as a 16-bit
// multiply-high.
inline std::uint8_t WeighedSumToGray(unsigned r, unsigned g, unsigned b)
{
    const std::uint16_t s = static_cast<std::uint16_t>(30 * r + 59 * g + 11 * b + 50);
    const std::uint16_t high = static_cast<std::uint16_t>((static_cast<std::uint32_t>(s) * 5243u) >> 16);
    return static_cast<std::uint8_t>(high >> 3);
}

}  // namespace

// With AVX2 or AVX-512 a row is weighed 16 or 32 pixels at a time; every
// clone computes the same integers.
// Functions other files call are plain wrappers around their cloned bodies:
// Clang gives a cloned function's dispatcher a symbol of its own, which a
// caller in another file would not find.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
static void WeighRgbRowClones(const std::uint8_t* rgb, std::size_t count, std::uint8_t* gray)
{
    for (std::size_t i = 0; i < count; ++i)
        gray[i] = WeighedSumToGray(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
}

void WeighRgbRow(const std::uint8_t* rgb, std::size_t count, std::uint8_t* gray)
{
    WeighRgbRowClones(rgb, count, gray);
}

__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
static void WeighRgbxRowClones(const std::uint8_t* rgbx, std::size_t count, std::uint8_t* gray)
{
    for (std::size_t i = 0; i < count; ++i)
        gray[i] = WeighedSumToGray(rgbx[4 * i], rgbx[4 * i + 1], rgbx[4 * i + 2]);
}

void WeighRgbxRow(const std::uint8_t* rgbx, std::size_t count, std::uint8_t* gray)
{
    WeighRgbxRowClones(rgbx, count, gray);
}
