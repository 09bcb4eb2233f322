// Unsharp masking: every pixel moves away from its local mean by a gain.
//
// With m the n x n box mean (core/box_filter.cpp) and d = pixel - m, the pixel
// becomes ClampToByte(float(d * gain + m)), the product in double first.
// Gain 1 is the identity, 0 gives the mean image, above 1 sharpens. Example,
// gain 2: level 100 with mean 80 gives 120; gain 1.5: level 101 with mean 100
// gives 101.5, which rounds up to 102.
//
// The means are streamed a row at a time (core/box_rows.h) and each row is
// mixed as soon as its means exist, so no mean plane is written and read back.
#include <array>

#include <immintrin.h>

#include "algorithms/detail/gain_lanes.h"
#include "algorithms/unsharp_step.h"
#include "core/box_rows.h"
#include "core/dib_image.h"
#include "core/messages.h"

namespace unsharp_detail {

// Vector lanes where the processor has them: 8 doubles (AVX-512) or 4 (AVX2)
// at a time, each lane the same IEEE double product and sum as the scalar code
// (no contraction into a fused multiply-add), then the branch-free clamp.
// Functions other files call are plain wrappers around their cloned bodies:
// Clang gives a cloned function's dispatcher a symbol of its own, which a
// caller in another file would not find.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
static void UnsharpRowClones(std::uint8_t* pixels, const std::uint8_t* mean, int count, double gain)
{
    for (int i = 0; i < count; ++i) {
        const int m = mean[i];
        const int d = pixels[i] - m;
        pixels[i] = ClampToByteSelect(static_cast<float>(d * gain + m));
    }
}

void UnsharpRow(std::uint8_t* pixels, const std::uint8_t* mean, int count, double gain)
{
    UnsharpRowClones(pixels, mean, count, gain);
}

// The same step written out for AVX-512, 16 pixels at a time: (v - m) * gain + m
// is JGACE's D * g + M with one gain for every pixel.
__attribute__((target("avx512f,avx512vl,avx512dq")))
static void UnsharpRowAvx512(std::uint8_t* pixels, const std::uint8_t* mean, int count, double gain)
{
    const __m512d g = _mm512_set1_pd(gain);
    int i = 0;
    for (; i + 16 <= count; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i), DetailGainLevels(pixels + i, mean + i, g, g));
    UnsharpRow(pixels + i, mean + i, count - i, gain);
}

bool UnsharpRowVector(std::uint8_t* pixels, const std::uint8_t* mean, int count, double gain)
{
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                                  __builtin_cpu_supports("avx512dq");
    if (!supported)
        return false;
    UnsharpRowAvx512(pixels, mean, count, gain);
    return true;
}

}  // namespace unsharp_detail

int CDibImage::UnsharpMask(int maskSize, float gain)
{
    // A negative size has no mean plane; it is refused like an oversized one.
    if (maskSize > m_nWidth || maskSize > m_nHeight || maskSize < 0) {
        ShowMessage("Size of mask is not adequate");
        return 0;
    }
    if (!m_pBits)
        return 0;
    const double g = gain;
    const int width = m_nWidth;
    const std::array<int, 1> masks{maskSize};
    StreamBoxMeansInPlace(m_pBits.get(), m_nWidth, m_nHeight, masks, [g, width](int, int) -> BoxRowConsumer {
        return [g, width](int, const std::uint8_t* const* means, std::uint8_t* row) {
            if (!unsharp_detail::UnsharpRowVector(row, means[0], width, g))
                unsharp_detail::UnsharpRow(row, means[0], width, g);
        };
    });
    return 1;
}
