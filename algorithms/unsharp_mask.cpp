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

#include "algorithms/unsharp_step.h"
#include "core/box_rows.h"
#include "core/dib_image.h"
#include "core/messages.h"

namespace unsharp_detail {

// Vector lanes where the processor has them: 8 doubles (AVX-512) or 4 (AVX2)
// at a time, each lane the same IEEE double product and sum as the scalar code
// (no contraction into a fused multiply-add), then the branch-free clamp.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void UnsharpRow(std::uint8_t* pixels, const std::uint8_t* mean, int count, double gain)
{
    for (int i = 0; i < count; ++i) {
        const int m = mean[i];
        const int d = pixels[i] - m;
        pixels[i] = ClampToByteSelect(static_cast<float>(d * gain + m));
    }
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
            unsharp_detail::UnsharpRow(row, means[0], width, g);
        };
    });
    return 1;
}
