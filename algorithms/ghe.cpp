// Global histogram equalization (GHE) and its threshold variant (TGHE).
#include <array>
#include <cstdint>

#include "algorithms/apply_table.h"
#include "core/dib_image.h"

// GHE: level v becomes ClampToByte(float(C(v) * s)), C the cumulative count up
// to and including v and s = float(255 / N). The lowest occupied level maps to
// 255 * its own count / N, not to 0. Example: 0, 0, 128, 255 give 128, 128, 191, 255.
// The histogram array is left describing the input image.
int CDibImage::Ghe()
{
    if (!m_pBits || !ComputeHistogram())
        return 0;
    const long long n = static_cast<long long>(m_nWidth) * m_nHeight;
    if (n == 0)
        return 1;
    const float s = static_cast<float>(255.0 / static_cast<double>(n));
    std::array<std::uint8_t, 256> table{};
    long long cumulative = 0;
    for (int v = 0; v < 256; ++v) {
        cumulative += (*m_pHistogram)[v];
        table[v] = ClampDoubleToByte(static_cast<double>(cumulative) * s);
    }
    ApplyTable(m_pBits.get(), PixelCount(), table);
    return 1;
}

// TGHE: levels at or below t (the low 8 bits of threshold) stay; the pixels
// above t are equalized among themselves over the whole range: level v > t
// becomes ClampToByte(float(C'(v) * s)) with C'(v) the count of levels t+1..v
// and s = float(255 / (N - B)), B the count at or below t. Example, t = 10:
// 5, 20, 20, 200 give 5, 170, 170, 255. When no pixel lies above t the image
// is unchanged.
int CDibImage::Tghe(int threshold)
{
    if (!m_pBits || !ComputeHistogram())
        return 0;
    const int t = threshold & 0xFF;
    const std::array<int, 256>& histogram = *m_pHistogram;
    const long long n = static_cast<long long>(m_nWidth) * m_nHeight;
    long long below = 0;
    for (int v = 0; v <= t; ++v)
        below += histogram[v];
    if (n - below == 0)
        return 1;

    const float s = static_cast<float>(255.0 / static_cast<double>(n - below));
    std::array<std::uint8_t, 256> table{};
    long long cumulative = 0;
    for (int v = 0; v < 256; ++v) {
        if (v <= t) {
            table[v] = static_cast<std::uint8_t>(v);
            continue;
        }
        cumulative += histogram[v];
        table[v] = ClampDoubleToByte(static_cast<double>(cumulative) * s);
    }
    ApplyTable(m_pBits.get(), PixelCount(), table);
    return 1;
}
