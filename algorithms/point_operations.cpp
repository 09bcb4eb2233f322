// Point operations: contrast stretching and gamma correction.
//
// Both build a 256-entry table and send every pixel through it, so they are
// linear in the number of pixels whatever their parameter.
#include <array>
#include <cmath>
#include <cstdint>

#include "algorithms/apply_table.h"
#include "core/dib_image.h"

// Contrast stretching: drives percentage % of the pixels to black and, apart,
// percentage % to white, and spreads the levels between the two cuts linearly.
//
// q = N * p / 100 (truncated). The lower cut lo is the first level, counting
// up, at which the running count reaches q; the upper cut hi the first level,
// counting down, at which it does. Levels up to lo become 0, levels strictly
// between become ClampToByte(float(255 / (hi - lo) * (k - lo))), the rest 255.
// Example: 100 pixels holding 0..99 once each, p = 10: lo = 9, hi = 90, and
// levels 10, 11, 50, 89 become 3, 6, 129, 252.
//
// The histogram array is left describing the input image.
int CDibImage::Stretch(int percentage)
{
    if (!m_pBits || !ComputeHistogram())
        return 0;
    const std::array<int, 256>& histogram = *m_pHistogram;

    // The cut count in 64 bits: large photos would overflow a 32-bit product.
    const long long q = static_cast<long long>(m_nWidth) * m_nHeight * percentage / 100;

    int lo = 0;
    long long sum = 0;
    for (lo = 0; lo < 255; ++lo) {
        sum += histogram[lo];
        if (sum >= q)
            break;
    }
    int hi = 255;
    sum = 0;
    for (hi = 255; hi > 0; --hi) {
        sum += histogram[hi];
        if (sum >= q)
            break;
    }

    std::array<std::uint8_t, 256> table{};
    for (int k = 0; k <= lo; ++k)
        table[k] = 0;
    if (hi - lo >= 2) {
        const double slope = 255.0 / (hi - lo);
        for (int k = lo + 1; k < hi; ++k)
            table[k] = ClampDoubleToByte(slope * (k - lo));
    }
    for (int k = std::max(lo + 1, hi); k <= 255; ++k)
        table[k] = 255;

    ApplyTable(m_pBits.get(), PixelCount(), table);
    return 1;
}

// Gamma correction: level i becomes 255 * (i / 255)^g, computed as
// pow(i, g) / (pow(255, g) * 0.00392156862745098) and rounded half up.
// g = 1 is the identity; g = 0 makes every level 255. Example, g = 0.5:
// 0, 1, 64, 128, 192, 255 become 0, 16, 128, 181, 221, 255.
int CDibImage::GammaCorrect(float gamma)
{
    if (!m_pBits)
        return 0;
    const double g = gamma;
    const double D = std::pow(255.0, g) * 0.00392156862745098;
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = ClampDoubleToByte(std::pow(static_cast<double>(i), g) / D);
    ApplyTable(m_pBits.get(), PixelCount(), table);
    return 1;
}
