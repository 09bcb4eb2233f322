// Unsharp masking: every pixel moves away from its local mean by a gain.
//
// With m the n x n box mean (core/box_filter.cpp) and d = pixel - m, the pixel
// becomes ClampToByte(float(d * gain + m)), the product in double first.
// Gain 1 is the identity, 0 gives the mean image, above 1 sharpens. Example,
// gain 2: level 100 with mean 80 gives 120; gain 1.5: level 101 with mean 100
// gives 101.5, which rounds up to 102.
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
    const double g = gain;
    std::uint8_t* pixels = m_pBits.get();
    const std::uint8_t* m = mean.get();
    const int width = m_nWidth;
    ParallelForBands(m_nHeight, 64, [&](int firstRow, int endRow) {
        const std::size_t begin = static_cast<std::size_t>(firstRow) * width;
        const std::size_t end = static_cast<std::size_t>(endRow) * width;
        for (std::size_t i = begin; i < end; ++i) {
            const int d = static_cast<int>(pixels[i]) - static_cast<int>(m[i]);
            pixels[i] = ClampDoubleToByte(d * g + m[i]);
        }
    });
    return 1;
}
