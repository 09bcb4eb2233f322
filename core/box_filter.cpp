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
// them; the sums are exact integers, so the result equals the direct sums. The
// row-by-row machinery is in core/box_rows.cpp, shared with operations that
// consume each mean row at once.
//
// n = 0 gives zeros (every quotient is 0 / 0, which ClampToByte makes 0) and
// n = 1 reproduces the image. Sizes the callers must not pass (negative, or
// larger than the width or the height) give a plane of zeros for negative n and
// clipped-mask means with the band rule everywhere for oversized n, so nothing
// is ever read outside the image.
#include <algorithm>
#include <vector>

#include "core/box_rows.h"
#include "core/dib_image.h"
#include "core/large_buffer.h"
#include "core/parallel.h"

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

    const CBoxPlan plan(W, H, n);
    std::vector<const std::uint8_t*> rows(H);
    for (int r = 0; r < H; ++r)
        rows[r] = m_pBits.get() + static_cast<std::size_t>(r) * W;
    std::uint8_t* const out = plane.get();
    // Each band of rows keeps its own column sums, so the bands are independent
    // and the result does not depend on how the rows are split.
    ParallelForBands(H, std::max(64, 2 * n), [&](int yBegin, int yEnd) {
        CBoxRows stream(plan, rows.data(), yBegin);
        for (int y = yBegin; y < yEnd; ++y)
            stream.Next(out + static_cast<std::size_t>(y) * W);
    });
    return plane;
}
