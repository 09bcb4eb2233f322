// Unsharp masking: every pixel moves away from its local mean by a gain.
//
// With m the n x n box mean (core/box_filter.cpp) and d = pixel - m, the pixel
// becomes ClampToByte(float(d * gain + m)), the product in double first.
// Gain 1 is the identity, 0 gives the mean image, above 1 sharpens. Example,
// gain 2: level 100 with mean 80 gives 120; gain 1.5: level 101 with mean 100
// gives 101.5, which rounds up to 102.
#include <vector>

#include "core/dib_image.h"
#include "core/messages.h"
#include "core/parallel.h"

int CDibImage::UnsharpMask(int maskSize, float gain)
{
    // A negative size has no mean plane; it is refused like an oversized one.
    if (maskSize > m_nWidth || maskSize > m_nHeight || maskSize < 0) {
        ShowMessage("Size of mask is not adequate");
        return 0;
    }
    if (!m_pBits)
        return 0;
    const std::unique_ptr<std::uint8_t[]> mean = BoxFilter(maskSize);

    // The result depends only on the pixel and its mean: one table of all
    // 65536 pairs, each entry computed by the rule above, replaces the
    // per-pixel arithmetic when the image is large enough to repay it.
    const double g = gain;
    const auto unsharp = [g](int v, int m) { return ClampDoubleToByte((v - m) * g + m); };
    std::uint8_t* pixels = m_pBits.get();
    const std::uint8_t* m = mean.get();
    const std::size_t count = PixelCount();
    const int width = m_nWidth;
    if (count < (1u << 18)) {
        for (std::size_t i = 0; i < count; ++i)
            pixels[i] = unsharp(pixels[i], m[i]);
        return 1;
    }
    std::vector<std::uint8_t> table(1u << 16);
    for (int v = 0; v < 256; ++v)
        for (int mv = 0; mv < 256; ++mv)
            table[(v << 8) | mv] = unsharp(v, mv);
    const std::uint8_t* lookup = table.data();
    ParallelForBands(m_nHeight, 64, [&, width](int firstRow, int endRow) {
        std::uint8_t* p = pixels + static_cast<std::size_t>(firstRow) * width;
        const std::uint8_t* q = m + static_cast<std::size_t>(firstRow) * width;
        const std::size_t n = static_cast<std::size_t>(endRow - firstRow) * width;
        for (std::size_t i = 0; i < n; ++i)
            p[i] = lookup[(static_cast<unsigned>(p[i]) << 8) | q[i]];
    });
    return 1;
}
