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

#include "core/dib_image.h"

std::unique_ptr<float[]> CDibImage::GradientMap() const
{
    const int W = m_nWidth;
    const int H = m_nHeight;
    const std::size_t count = PixelCount();
    std::unique_ptr<float[]> plane(new float[std::max<std::size_t>(count, 1)]());
    if (W < 3 || H < 3 || !m_pBits)
        return plane;

    const std::uint8_t* P = m_pBits.get();
    for (int y = 1; y <= H - 2; ++y) {
        const std::uint8_t* below = P + static_cast<std::size_t>(y - 1) * W;
        const std::uint8_t* here = below + W;
        const std::uint8_t* above = here + W;
        float* out = plane.get() + static_cast<std::size_t>(y) * W;
        for (int x = 1; x <= W - 2; ++x) {
            const int gh = (below[x + 1] + here[x + 1] + above[x + 1]) - (below[x - 1] + here[x - 1] + above[x - 1]);
            const int gv = (below[x - 1] + below[x] + below[x + 1]) - (above[x - 1] + above[x] + above[x + 1]);
            const int g = std::abs(gh) < std::abs(gv) ? gv : gh;
            out[x] = static_cast<float>(g / 3);
        }
    }
    return plane;
}
