// BoxFilter: the n x n local mean of every pixel, as a new byte plane.
//
// Two rules meet here, and both are kept exactly:
//  - The central region (h <= y < H - h, h <= x < W - h, h = (n - 1) / 2) takes
//    the mean of an n x n mask, S / N formed in double with N as a float, rounded
//    to float and then half up by ClampToByte. For even n the mask reaches one
//    row and one column further on the side of the higher indices, and it stops
//    at the image edge, so the last central column (and row) repeats the one
//    before it.
//  - The border band takes the mean of the (n - 1) x (n - 1)-or-smaller mask
//    centred on the pixel and clipped to the image, with the remainder dropped.
//    A mean of 100.5 therefore gives 101 inside and 100 in the band.
//
// Worked example, n = 3 on a 3 x 3 image with 255 in the centre and 0 around:
// the centre gets 28 (255 / 9 = 28.33), each corner 63 (255 / 4 rounded down)
// and each edge middle 42 (255 / 6 rounded down).
//
// Cost: O(1) per pixel whatever n is. Column sums over the mask rows are kept
// up to date as the rows advance, and a running sum along each row slides over
// them; the sums are exact integers, so the result equals the direct sums.
//
// n = 0 gives zeros (every quotient is 0 / 0, which ClampToByte makes 0) and
// n = 1 reproduces the image. Sizes the callers must not pass (negative, or
// larger than the width or the height) give a plane of zeros for negative n and
// clipped-mask means with the band rule everywhere for oversized n, so nothing
// is ever read outside the image.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/dib_image.h"
#include "core/large_buffer.h"
#include "core/parallel.h"

namespace {

// Column sums fit 32 bits: at most 255 x the image height, and images are far
// below 16 million rows.
using ColumnSums = std::vector<std::uint32_t>;

void SumRows(const std::uint8_t* pixels, int width, int first, int last, ColumnSums& colSum)
{
    std::fill(colSum.begin(), colSum.end(), 0u);
    for (int r = first; r <= last; ++r) {
        const std::uint8_t* row = pixels + static_cast<std::size_t>(r) * width;
        for (int j = 0; j < width; ++j)
            colSum[j] += row[j];
    }
}

// colSum += row `enter` - row `leave` (either may be -1 for none).
void MoveRows(const std::uint8_t* pixels, int width, int enter, int leave, ColumnSums& colSum)
{
    if (enter >= 0 && leave >= 0) {
        const std::uint8_t* in = pixels + static_cast<std::size_t>(enter) * width;
        const std::uint8_t* out = pixels + static_cast<std::size_t>(leave) * width;
        for (int j = 0; j < width; ++j)
            colSum[j] += static_cast<std::uint32_t>(in[j]) - out[j];
    } else if (enter >= 0) {
        const std::uint8_t* in = pixels + static_cast<std::size_t>(enter) * width;
        for (int j = 0; j < width; ++j)
            colSum[j] += in[j];
    } else if (leave >= 0) {
        const std::uint8_t* out = pixels + static_cast<std::size_t>(leave) * width;
        for (int j = 0; j < width; ++j)
            colSum[j] -= out[j];
    }
}

// Band rule for the columns [x0, x1) of one row: the mean of the clipped mask,
// rounded down. colSum holds the clipped rows of this row's mask; rowCount is their number.
void BandRow(const ColumnSums& colSum, int width, int h, int rowCount, int x0, int x1, std::uint8_t* out)
{
    if (x0 >= x1)
        return;
    int lo = std::max(0, x0 - h);
    int hi = std::min(width - 1, x0 + h);
    std::uint64_t total = 0;
    for (int j = lo; j <= hi; ++j)
        total += colSum[j];
    for (int x = x0; x < x1; ++x) {
        const int newLo = std::max(0, x - h);
        const int newHi = std::min(width - 1, x + h);
        while (hi < newHi)
            total += colSum[++hi];
        while (lo < newLo)
            total -= colSum[lo++];
        const std::uint64_t count = static_cast<std::uint64_t>(hi - lo + 1) * rowCount;
        out[x] = static_cast<std::uint8_t>(total / count);
    }
}

// The central quotient ClampToByte(float(S / float(N))) for every possible mask
// sum, when the table is small next to the work it saves.
class CentralQuotient {
public:
    CentralQuotient(int n, std::size_t centralPixels)
        : m_N(static_cast<double>(static_cast<float>(static_cast<double>(n) * n)))
    {
        const std::uint64_t sums = 255ull * n * n + 1;
        if (sums <= (1u << 22) && sums <= centralPixels) {
            m_table.resize(sums);
            for (std::uint64_t S = 0; S < sums; ++S)
                m_table[S] = Compute(S);
        }
    }
    std::uint8_t operator()(std::uint64_t S) const { return m_table.empty() ? Compute(S) : m_table[S]; }

private:
    std::uint8_t Compute(std::uint64_t S) const { return ClampToByte(static_cast<float>(static_cast<double>(S) / m_N)); }

    double m_N;
    std::vector<std::uint8_t> m_table;
};

}  // namespace

std::unique_ptr<std::uint8_t[]> CDibImage::BoxFilter(int n) const
{
    const int W = m_nWidth;
    const int H = m_nHeight;
    const std::size_t count = PixelCount();
    std::unique_ptr<std::uint8_t[]> plane = MakeLargeArray<std::uint8_t>(count);
    if (n <= 0 || count == 0 || !m_pBits) {
        std::fill_n(plane.get(), std::max<std::size_t>(count, 1), std::uint8_t{0});
        return plane;
    }

    const std::uint8_t* P = m_pBits.get();
    const int h = (n - 1) / 2;
    const bool centralDefined = n <= W && n <= H;
    const bool oddMask = n % 2 == 1;
    const CentralQuotient quotient(n, centralDefined ? static_cast<std::size_t>(W - 2 * h) * (H - 2 * h) : 0);

    // Each band of rows keeps its own column sums, so the bands are independent
    // and the result does not depend on how the rows are split.
    ParallelForBands(H, std::max(64, 2 * n), [&](int yBegin, int yEnd) {
        // Band mask rows of row y: [max(0, y - h), min(H - 1, y + h)].
        ColumnSums bandSum(W);
        int bandFirst = std::max(0, yBegin - h);
        int bandLast = std::min(H - 1, yBegin + h);
        SumRows(P, W, bandFirst, bandLast, bandSum);

        // Central mask rows [top, top + n): top follows y - h but never lets the
        // mask pass the last row. For odd n they are exactly the band rows.
        ColumnSums centralSum;
        int top = 0;
        if (centralDefined && !oddMask) {
            centralSum.resize(W);
            top = std::clamp(yBegin - h, 0, H - n);
            SumRows(P, W, top, top + n - 1, centralSum);
        }

        for (int y = yBegin; y < yEnd; ++y) {
            const int wantFirst = std::max(0, y - h);
            const int wantLast = std::min(H - 1, y + h);
            while (bandLast < wantLast || bandFirst < wantFirst) {
                const int enter = bandLast < wantLast ? ++bandLast : -1;
                const int leave = bandFirst < wantFirst ? bandFirst++ : -1;
                MoveRows(P, W, enter, leave, bandSum);
            }
            const int bandRows = bandLast - bandFirst + 1;

            std::uint8_t* out = plane.get() + static_cast<std::size_t>(y) * W;
            const bool centralRow = centralDefined && y >= h && y < H - h;
            if (!centralRow) {
                BandRow(bandSum, W, h, bandRows, 0, W, out);
                continue;
            }

            const ColumnSums* sums = &bandSum;
            if (!oddMask) {
                const int wantTop = std::min(y - h, H - n);
                while (top < wantTop) {
                    MoveRows(P, W, top + n, top, centralSum);
                    ++top;
                }
                sums = &centralSum;
            }
            const std::uint32_t* c = sums->data();

            BandRow(bandSum, W, h, bandRows, 0, std::min(h, W), out);
            // The mask's first column m = x - h, held at W - n once the mask
            // reaches the right edge (even n repeats the last value).
            std::uint64_t S = 0;
            for (int j = 0; j < n; ++j)
                S += c[j];
            const int xEnd = W - h;
            const int slideEnd = h + (W - n);  // last x whose mask starts at x - h
            int x = h;
            for (; x < slideEnd; ++x) {
                out[x] = quotient(S);
                S += c[x - h + n];
                S -= c[x - h];
            }
            for (; x < xEnd; ++x)
                out[x] = quotient(S);
            BandRow(bandSum, W, h, bandRows, std::max(xEnd, h), W, out);
        }
    });
    return plane;
}
