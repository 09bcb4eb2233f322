// The combination commands: they decide from the histogram whether the image
// is dark and pick the enhancement themselves.
//
// An image is dark when more than 70 % of its pixels lie at levels 0..80 and
// fewer than 10 % at levels 156..255 (both comparisons strict, the shares
// formed in double). A dark image always gets TGHE with threshold 10. For the
// others: Gray+TGHE keeps the gray image, TCF+TGHE applies three-channel
// filtering with K = 2, K1 = -0.2, K2 = -0.4 and no stretch, and Gray or TCF +
// TGHE filters and then keeps whichever of the two images has the larger sum of
// squared levels (the filtered one on a tie).
#include <cstdint>
#include <vector>

#include "core/large_buffer.h"
#include "core/parallel.h"
#include "document/commands/command_table.h"

namespace {

constexpr int kDarkThreshold = 10;

int FilterWithFixedWeights(CDibImage& work)
{
    return work.ThreeChannelFilter(2.0f, -0.2f, -0.4f, 0, 0, 0);
}

}  // namespace

bool IsDarkImage(CDibImage& source)
{
    if (!source.ComputeHistogram())
        return false;
    const std::array<int, 256>& histogram = *source.m_pHistogram;
    const long long n = static_cast<long long>(source.m_nWidth) * source.m_nHeight;
    long long dark = 0;
    for (int level = 0; level <= 80; ++level)
        dark += histogram[level];
    long long bright = 0;
    for (int level = 156; level <= 255; ++level)
        bright += histogram[level];
    return dark > 0.7 * static_cast<double>(n) && bright < 0.1 * static_cast<double>(n);
}

int GrayTghe(CDibImage& work, CDibImage& source)
{
    if (IsDarkImage(source))
        work.Tghe(kDarkThreshold);
    return 1;
}

int TcfTghe(CDibImage& work, CDibImage& source)
{
    if (IsDarkImage(source))
        work.Tghe(kDarkThreshold);
    else
        FilterWithFixedWeights(work);
    return 1;
}

int GrayOrTcfTghe(CDibImage& work, CDibImage& source)
{
    if (IsDarkImage(source)) {
        work.Tghe(kDarkThreshold);
        return 1;
    }
    const std::size_t n = source.PixelCount();
    const std::unique_ptr<std::uint8_t[]> gray = MakeLargeArray<std::uint8_t>(n);
    source.CopyPixelsTo(gray.get());
    FilterWithFixedWeights(work);
    const std::uint8_t* filtered = work.m_pBits.get();

    // Each term m^2 - g^2 is an integer and the sums stay far below 2^53, so
    // exact 64-bit integer sums decide exactly as the double sums would.
    long long sumGray = 0;
    long long sumFiltered = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int g = gray[i];
        const int f = filtered[i];
        const int m = ClampDoubleToByte(static_cast<double>(g + f) * 0.5f);
        sumGray += m * m - g * g;
        sumFiltered += m * m - f * f;
    }
    if (sumGray < sumFiltered)
        work.CopyPixelsFrom(gray.get());
    return 1;
}
