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

#include "core/box_quotient.h"
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
    const CBoxQuotient quotient(n, centralDefined ? static_cast<std::size_t>(W - 2 * h) * (H - 2 * h) : 0);

    // Each band of rows keeps its own column sums, so the bands are independent
    // and the result does not depend on how the rows are split.
    ParallelForBands(H, std::max(64, 2 * n), [&](int yBegin, int yEnd) {
        // Locals, not captures: the byte stores below could otherwise alias the
        // captured values and force them to be reloaded for every pixel.
        const int width = W;
        const int height = H;
        const int size = n;
        const int half = h;
        const std::uint8_t* const src = P;
        const CBoxQuotient& divide = quotient;
        // Band mask rows of row y: [max(0, y - half), min(height - 1, y + half)].
        ColumnSums bandSum(width);
        int bandFirst = std::max(0, yBegin - half);
        int bandLast = std::min(height - 1, yBegin + half);
        SumRows(src, width, bandFirst, bandLast, bandSum);

        // Central mask rows [top, top + size): top follows y - half but never lets the
        // mask pass the last row. For odd size they are exactly the band rows.
        ColumnSums centralSum;
        int top = 0;
        if (centralDefined && !oddMask) {
            centralSum.resize(width);
            top = std::clamp(yBegin - half, 0, height - size);
            SumRows(src, width, top, top + size - 1, centralSum);
        }

        for (int y = yBegin; y < yEnd; ++y) {
            const int wantFirst = std::max(0, y - half);
            const int wantLast = std::min(height - 1, y + half);
            while (bandLast < wantLast || bandFirst < wantFirst) {
                const int enter = bandLast < wantLast ? ++bandLast : -1;
                const int leave = bandFirst < wantFirst ? bandFirst++ : -1;
                MoveRows(src, width, enter, leave, bandSum);
            }
            const int bandRows = bandLast - bandFirst + 1;

            std::uint8_t* out = plane.get() + static_cast<std::size_t>(y) * width;
            const bool centralRow = centralDefined && y >= half && y < height - half;
            if (!centralRow) {
                BandRow(bandSum, width, half, bandRows, 0, width, out);
                continue;
            }

            const ColumnSums* sums = &bandSum;
            if (!oddMask) {
                const int wantTop = std::min(y - half, height - size);
                while (top < wantTop) {
                    MoveRows(src, width, top + size, top, centralSum);
                    ++top;
                }
                sums = &centralSum;
            }
            const std::uint32_t* c = sums->data();

            BandRow(bandSum, width, half, bandRows, 0, std::min(half, width), out);
            // The mask's first column m = x - half, held at width - size once the mask
            // reaches the right edge (even size repeats the last value).
            std::uint64_t S = 0;
            for (int j = 0; j < size; ++j)
                S += c[j];
            const int xEnd = width - half;
            const int slideEnd = half + (width - size);  // last x whose mask starts at x - half
            int x = half;
            if (const std::uint8_t* table = divide.Table()) {
                // Two running sums, one from each end of the row's first half
                // and second half, so the two dependency chains overlap.
                const int span = slideEnd - x;
                const int mid = x + span / 2;
                std::uint64_t S2 = 0;
                for (int j = 0; j < size; ++j)
                    S2 += c[mid - half + j];
                const int pairs = mid - x;
                for (int k = 0; k < pairs; ++k) {
                    const int x1 = x + k;
                    const int x2 = mid + k;
                    out[x1] = table[S];
                    out[x2] = table[S2];
                    S += c[x1 - half + size];
                    S -= c[x1 - half];
                    S2 += c[x2 - half + size];
                    S2 -= c[x2 - half];
                }
                // The second half may hold one more position; S2 then carries on.
                x = mid + pairs;
                S = S2;
                for (; x < slideEnd; ++x) {
                    out[x] = table[S];
                    S += c[x - half + size];
                    S -= c[x - half];
                }
            } else if (const std::uint64_t magic = divide.Magic()) {
                const std::uint64_t area = divide.Area();
                for (; x < slideEnd; ++x) {
                    out[x] = static_cast<std::uint8_t>((static_cast<unsigned __int128>(magic) * (2 * S + area)) >> 64);
                    S += c[x - half + size];
                    S -= c[x - half];
                }
            } else {
                for (; x < slideEnd; ++x) {
                    out[x] = divide(S);
                    S += c[x - half + size];
                    S -= c[x - half];
                }
            }
            for (; x < xEnd; ++x)
                out[x] = divide(S);
            BandRow(bandSum, width, half, bandRows, std::max(xEnd, half), width, out);
        }
    });
    return plane;
}
