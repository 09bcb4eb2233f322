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
#include "core/large_buffer.h"
#include "core/parallel.h"

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
    // Only the outermost rows and columns need zeros; the rest is written once below.
    std::fill_n(plane.get(), W, 0.0f);
    std::fill_n(plane.get() + static_cast<std::size_t>(H - 1) * W, W, 0.0f);

    const std::uint8_t* P = m_pBits.get();
    // Rows 1..H-2 are independent; each band keeps its own scratch rows.
    ParallelForBands(H - 2, 64, [&](int first, int end) {
        const int width = W;  // a local, so stores into the scratch rows cannot alias it
        // Per column: the sum of the three rows (for the horizontal difference)
        // and per row triple: the sums of three neighbours along the row (for
        // the vertical difference). Both are plain arrays the compiler vectorizes.
        std::vector<int> columnSums(width);
        std::vector<int> belowSums(width);
        std::vector<int> aboveSums(width);
        int* column = columnSums.data();
        int* belowRun = belowSums.data();
        int* aboveRun = aboveSums.data();
        const int inner = width - 2;
        for (int y = first + 1; y < end + 1; ++y) {
            const std::uint8_t* below = P + static_cast<std::size_t>(y - 1) * width;
            const std::uint8_t* here = below + width;
            const std::uint8_t* above = here + width;
            for (int x = 0; x < width; ++x)
                column[x] = below[x] + here[x] + above[x];
            for (int i = 0; i < inner; ++i) {
                belowRun[i] = below[i] + below[i + 1] + below[i + 2];
                aboveRun[i] = above[i] + above[i + 1] + above[i + 2];
            }
            float* out = plane.get() + static_cast<std::size_t>(y) * width;
            out[0] = 0.0f;
            out[width - 1] = 0.0f;
            for (int i = 0; i < inner; ++i) {
                const int gh = column[i + 2] - column[i];
                const int gv = belowRun[i] - aboveRun[i];
                const int g = std::abs(gh) < std::abs(gv) ? gv : gh;
                out[i + 1] = static_cast<float>(g / 3);
            }
        }
    });
    return plane;
}
