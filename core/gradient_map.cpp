// GradientMap: a signed edge strength for every pixel from its 3 x 3 neighbourhood.
//
// At each inner pixel two integer sums are formed: the horizontal one, the
// right column minus the left column, and the vertical one, the lower-index
// row minus the higher-index row (lower on screen minus higher). The sum of
// larger magnitude wins, the horizontal one on a tie, and is divided by 3 with
// truncation toward zero, so the sign survives: -7 gives -2 and every value
// lies in -255..255. The outermost rows and columns are 0, and so is the whole
// plane of an image with fewer than 3 rows or columns.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/dib_image.h"
#include "core/gradient_row.h"
#include "core/large_buffer.h"
#include "core/parallel.h"

namespace {

// The inner columns [x0, x1) of row y (0 < y < height - 1, 0 < x0 <= x1 < width).
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void InnerGradients(const std::uint8_t* below, const std::uint8_t* here, const std::uint8_t* above, int x0, int x1,
                    std::int16_t* out)
{
    for (int x = x0; x < x1; ++x) {
        const int gh = (below[x + 1] + here[x + 1] + above[x + 1]) - (below[x - 1] + here[x - 1] + above[x - 1]);
        const int gv = (below[x - 1] + below[x] + below[x + 1]) - (above[x - 1] + above[x] + above[x + 1]);
        const int g = std::abs(gh) < std::abs(gv) ? gv : gh;
        out[x - x0] = static_cast<std::int16_t>(g / 3);
    }
}

}  // namespace

void GradientRow(const std::uint8_t* pixels, int width, int height, int y, int x0, int x1, std::int16_t* out)
{
    if (x1 <= x0)
        return;
    if (width < 3 || height < 3 || y <= 0 || y >= height - 1 || !pixels) {
        std::fill_n(out, x1 - x0, std::int16_t{0});
        return;
    }
    const int innerBegin = std::max(x0, 1);
    const int innerEnd = std::min(x1, width - 1);
    // The outermost columns are 0.
    for (int x = x0; x < std::min(innerBegin, x1); ++x)
        out[x - x0] = 0;
    for (int x = std::max(innerEnd, x0); x < x1; ++x)
        out[x - x0] = 0;
    if (innerBegin < innerEnd) {
        const std::uint8_t* here = pixels + static_cast<std::size_t>(y) * width;
        InnerGradients(here - width, here, here + width, innerBegin, innerEnd, out + (innerBegin - x0));
    }
}

std::unique_ptr<float[]> CDibImage::GradientMap() const
{
    const int W = m_nWidth;
    const int H = m_nHeight;
    const std::size_t count = PixelCount();
    std::unique_ptr<float[]> plane = MakeLargeArray<float>(count);
    if (W < 3 || H < 3 || !m_pBits) {
        std::fill_n(plane.get(), count, 0.0f);
        return plane;
    }
    const std::uint8_t* P = m_pBits.get();
    // Rows are independent; each band keeps its own scratch row.
    ParallelForBands(H, 64, [&](int first, int end) {
        const int width = W;  // locals, so the stores below cannot alias them
        const int height = H;
        std::vector<std::int16_t> row(width);
        for (int y = first; y < end; ++y) {
            GradientRow(P, width, height, y, 0, width, row.data());
            float* out = plane.get() + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width; ++x)
                out[x] = row[x];
        }
    });
    return plane;
}
