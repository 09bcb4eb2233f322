// Constrained local histogram equalization (CLHE).
#include "core/dib_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include "core/messages.h"

int CDibImage::Clhe(int n, float alpha)
{
    if (!(n >= 3 && n % 2 == 1 && n <= m_nWidth && n <= m_nHeight)) {
        ShowMessage("Size of window is not adequate");
        return 0;
    }
    if (!(alpha >= 0.0f && alpha <= 1.0f)) {
        ShowMessage("Factor alpha is not in range 0\u00f7""1");
        return 0;
    }
    if (!ComputeHistogram())
        return 0;
    const std::array<int, 256>& G = *m_pHistogram;
    const int W = m_nWidth, H = m_nHeight, h = (n - 1) / 2;
    const long long N = static_cast<long long>(W) * H;
    const double a = alpha, oma = 1.0 - a;
    std::unique_ptr<std::uint8_t[]> snapOwner(new std::uint8_t[PixelCount()]);
    const std::uint8_t* snap = snapOwner.get();
    CopyPixelsTo(snapOwner.get());
    std::uint8_t* out = m_pBits.get();
    auto map = [&](int x, int y, std::array<int, 256>& hist, int area, bool interior) {
        const int v = snap[y * W + x];
        long long L = 0, O = 0;
        for (int k = 0; k < v; ++k) {
            L += hist[k];
            O += G[k] - hist[k];
        }
        L += hist[v];
        const long long S = interior ? O + hist[v] : O + L;
        const double t1 = N == area ? 0.0 : (S * oma) / static_cast<double>(N - area);
        const double t2 = (L * a) / area;
        out[y * W + x] = ClampToByte(static_cast<float>((t1 + t2) * 255.0));
    };
    std::array<int, 256> band{}, running{}, scratch{};
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            ++band[snap[y * W + x]];
    for (int y = h; y < H - h; ++y) {
        running = band;
        for (int x = h; x < W - h; ++x) {
            scratch = running;
            map(x, y, scratch, n * n, true);
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
        map(x, y, running, (x1 - x0 + 1) * (y1 - y0 + 1), false);
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
    return 1;
}
