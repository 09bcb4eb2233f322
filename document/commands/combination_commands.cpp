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

namespace {

// Sum of the squared levels, in 64-bit integers (at most 65025 per pixel).
std::uint64_t SumOfSquares(const std::uint8_t* levels, std::size_t count)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += static_cast<std::uint32_t>(levels[i]) * levels[i];
    return sum;
}

}  // namespace

int GrayOrTcfTghe(CDibImage& work, CDibImage& source)
{
    if (IsDarkImage(source)) {
        work.Tghe(kDarkThreshold);
        return 1;
    }
    // The working copy holds the source's pixels until it is filtered, so the
    // source itself serves as the unfiltered image (it is never written here).
    const std::size_t n = source.PixelCount();
    const std::uint8_t* gray = source.m_pBits.get();
    FilterWithFixedWeights(work);
    // The rule compares sum(m^2 - g^2) with sum(m^2 - f^2), m the rounded mean of
    // g and f. Every term is an integer and the sums stay far below 2^53, so the
    // double sums are exact, the m^2 terms cancel, and the gray image is kept
    // exactly when the sum of g^2 exceeds the sum of f^2.
    if (SumOfSquares(gray, n) > SumOfSquares(work.m_pBits.get(), n))
        work.CopyPixelsFrom(gray);
    return 1;
}
