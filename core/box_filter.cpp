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

namespace {

// Column sums of rows [first, last] (inclusive, already clipped) into colSum.
void SumRows(const std::uint8_t* pixels, int width, int first, int last, std::vector<std::int64_t>& colSum)
{
    std::fill(colSum.begin(), colSum.end(), 0);
    for (int r = first; r <= last; ++r) {
        const std::uint8_t* row = pixels + static_cast<std::size_t>(r) * width;
        for (int j = 0; j < width; ++j)
            colSum[j] += row[j];
    }
}

void AddRow(const std::uint8_t* pixels, int width, int r, int sign, std::vector<std::int64_t>& colSum)
{
    const std::uint8_t* row = pixels + static_cast<std::size_t>(r) * width;
    if (sign > 0) {
        for (int j = 0; j < width; ++j)
            colSum[j] += row[j];
    } else {
        for (int j = 0; j < width; ++j)
            colSum[j] -= row[j];
    }
}

// Band rule for the columns [x0, x1) of one row: the mean of the clipped mask,
// rounded down. colSum holds the clipped rows of this row's mask; rowCount is their number.
void BandRow(const std::vector<std::int64_t>& colSum, int width, int h, int rowCount, int x0, int x1, std::uint8_t* out)
{
    if (x0 >= x1)
        return;
    // Window sum for x0, then slide.
    int lo = std::max(0, x0 - h);
    int hi = std::min(width - 1, x0 + h);
    std::int64_t total = 0;
    for (int j = lo; j <= hi; ++j)
        total += colSum[j];
    for (int x = x0; x < x1; ++x) {
        const int newLo = std::max(0, x - h);
        const int newHi = std::min(width - 1, x + h);
        while (hi < newHi)
            total += colSum[++hi];
        while (lo < newLo)
            total -= colSum[lo++];
        const std::int64_t count = static_cast<std::int64_t>(hi - lo + 1) * rowCount;
        out[x] = static_cast<std::uint8_t>(total / count);
    }
}

}  // namespace

std::unique_ptr<std::uint8_t[]> CDibImage::BoxFilter(int n) const
{
    const int W = m_nWidth;
    const int H = m_nHeight;
    const std::size_t count = PixelCount();
    std::unique_ptr<std::uint8_t[]> plane(new std::uint8_t[std::max<std::size_t>(count, 1)]());
    if (n <= 0 || count == 0 || !m_pBits)
        return plane;

    const std::uint8_t* P = m_pBits.get();
    const int h = (n - 1) / 2;
    const bool centralDefined = n <= W && n <= H;
    const double N = static_cast<double>(static_cast<float>(static_cast<double>(n) * n));

    // Band mask rows of row y: [max(0, y - h), min(H - 1, y + h)], kept incrementally.
    std::vector<std::int64_t> bandSum(W);
    int bandFirst = 0;
    int bandLast = std::min(H - 1, h);
    SumRows(P, W, bandFirst, bandLast, bandSum);

    // Central mask rows [top, top + n), moving with the rows while the mask fits.
    std::vector<std::int64_t> centralSum;
    int top = 0;
    if (centralDefined) {
        centralSum.resize(W);
        SumRows(P, W, 0, n - 1, centralSum);
    }

    for (int y = 0; y < H; ++y) {
        // Advance the band rows to [y - h, y + h] clipped.
        const int wantFirst = std::max(0, y - h);
        const int wantLast = std::min(H - 1, y + h);
        while (bandLast < wantLast)
            AddRow(P, W, ++bandLast, +1, bandSum);
        while (bandFirst < wantFirst)
            AddRow(P, W, bandFirst++, -1, bandSum);
        const int bandRows = bandLast - bandFirst + 1;

        std::uint8_t* out = plane.get() + static_cast<std::size_t>(y) * W;
        const bool centralRow = centralDefined && y >= h && y < H - h;
        if (!centralRow) {
            BandRow(bandSum, W, h, bandRows, 0, W, out);
            continue;
        }

        // Central row: the mask rows are [top, top + n); top follows y - h but
        // never lets the mask pass the last row.
        const int wantTop = std::min(y - h, H - n);
        while (top < wantTop) {
            AddRow(P, W, top + n, +1, centralSum);
            AddRow(P, W, top, -1, centralSum);
            ++top;
        }

        BandRow(bandSum, W, h, bandRows, 0, std::min(h, W), out);
        const int xEnd = W - h;
        std::int64_t S = 0;
        for (int j = 0; j < n; ++j)
            S += centralSum[j];
        int m = 0;
        for (int x = h; x < xEnd; ++x) {
            out[x] = ClampToByte(static_cast<float>(static_cast<double>(S) / N));
            if (m + n < W) {
                S += centralSum[m + n] - centralSum[m];
                ++m;
            }
        }
        BandRow(bandSum, W, h, bandRows, std::max(xEnd, h), W, out);
    }
    return plane;
}
