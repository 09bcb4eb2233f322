// Adaptive histogram equalization (AHE) and its threshold variant (TAHE).
#include "core/dib_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "core/messages.h"

namespace {

bool WindowFits(int n, int width, int height)
{
    return n >= 3 && n % 2 == 1 && n <= width && n <= height;
}

template <typename Map>
void Walk(const std::uint8_t* snap, std::uint8_t* out, int W, int H, int n, const Map& map)
{
    const int h = (n - 1) / 2;
    std::array<int, 256> band{}, running{}, scratch{};
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            ++band[snap[y * W + x]];
    for (int y = h; y < H - h; ++y) {
        running = band;
        for (int x = h; x < W - h; ++x) {
            scratch = running;
            const std::uint8_t v = snap[y * W + x];
            map(out[y * W + x], v, scratch, n * n);
            if (x + h + 1 < W)
                for (int r = y - h; r <= y + h; ++r) {
                    --running[snap[r * W + x - h]];
                    ++running[snap[r * W + x + h + 1]];
                }
        }
        if (y + h + 1 < H)
            for (int c = 0; c < n; ++c) {
                --band[snap[(y - h) * W + c]];
                ++band[snap[(y + h + 1) * W + c]];
            }
    }
    auto border = [&](int x, int y) {
        running.fill(0);
        const int x0 = std::max(0, x - h), x1 = std::min(W - 1, x + h);
        const int y0 = std::max(0, y - h), y1 = std::min(H - 1, y + h);
        for (int r = y0; r <= y1; ++r)
            for (int c = x0; c <= x1; ++c)
                ++running[snap[r * W + c]];
        map(out[y * W + x], snap[y * W + x], running, (x1 - x0 + 1) * (y1 - y0 + 1));
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < W; ++x)
            border(x, y);
    for (int y = H - h; y < H; ++y)
        for (int x = 0; x < W; ++x)
            border(x, y);
    for (int y = h; y < H - h; ++y) {
        for (int x = 0; x < h; ++x)
            border(x, y);
        for (int x = W - h; x < W; ++x)
            border(x, y);
    }
}

}  // namespace

int CDibImage::Ahe(int windowSize)
{
    if (!m_pBits)
        return 0;
    if (!WindowFits(windowSize, m_nWidth, m_nHeight)) {
        ShowMessage("Size of window is not adequate");
        return 0;
    }
    std::unique_ptr<std::uint8_t[]> snap(new std::uint8_t[PixelCount()]);
    CopyPixelsTo(snap.get());
    Walk(snap.get(), m_pBits.get(), m_nWidth, m_nHeight, windowSize,
         [](std::uint8_t& out, std::uint8_t v, std::array<int, 256>& hist, int area) {
             int cnt = 0;
             for (int k = 0; k <= v; ++k)
                 cnt += hist[k];
             out = ClampToByte(static_cast<float>(static_cast<double>(cnt) / area * 255.0));
         });
    return 1;
}

int CDibImage::Tahe(int windowSize, int threshold)
{
    if (!m_pBits)
        return 0;
    if (!WindowFits(windowSize, m_nWidth, m_nHeight)) {
        ShowMessage("Size of window is not adequate");
        return 0;
    }
    const std::uint8_t t = static_cast<std::uint8_t>(threshold);
    std::unique_ptr<std::uint8_t[]> snap(new std::uint8_t[PixelCount()]);
    CopyPixelsTo(snap.get());
    Walk(snap.get(), m_pBits.get(), m_nWidth, m_nHeight, windowSize,
         [t](std::uint8_t& out, std::uint8_t v, std::array<int, 256>& hist, int area) {
             if (v <= t)
                 return;
             int below = 0, upto = 0;
             for (int k = 0; k <= t; ++k)
                 below += hist[k];
             for (int k = t + 1; k <= v; ++k)
                 upto += hist[k];
             const double scale = 255.0 / (area - below);
             out = ClampToByte(static_cast<float>(upto * scale));
         });
    return 1;
}
