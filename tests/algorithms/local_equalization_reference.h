// Plain per-pixel versions of AHE, TAHE and CLHE for the tests: every window is
// counted afresh, straight from the rules, so the fast paths have something
// obviously correct to be compared with.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "core/clamp_to_byte.h"

namespace local_reference {

struct Window {
    int atMost = 0;  // levels <= v, the pixel itself included
    int at = 0;      // levels == v
    int below = 0;   // levels <= threshold
    int area = 0;
    bool interior = false;
};

inline Window CountWindow(const std::vector<std::uint8_t>& px, int width, int height, int n, int x, int y, int threshold)
{
    const int h = (n - 1) / 2;
    const int v = px[static_cast<std::size_t>(y) * width + x];
    const int x0 = std::max(0, x - h), x1 = std::min(width - 1, x + h);
    const int y0 = std::max(0, y - h), y1 = std::min(height - 1, y + h);
    Window w;
    for (int r = y0; r <= y1; ++r) {
        for (int c = x0; c <= x1; ++c) {
            const int level = px[static_cast<std::size_t>(r) * width + c];
            w.atMost += level <= v;
            w.at += level == v;
            w.below += level <= threshold;
        }
    }
    w.area = (x1 - x0 + 1) * (y1 - y0 + 1);
    w.interior = x >= h && x < width - h && y >= h && y < height - h;
    return w;
}

inline std::vector<std::uint8_t> Ahe(const std::vector<std::uint8_t>& px, int width, int height, int n)
{
    std::vector<std::uint8_t> out(px.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Window w = CountWindow(px, width, height, n, x, y, -1);
            out[static_cast<std::size_t>(y) * width + x] =
                ClampToByte(static_cast<float>(static_cast<double>(w.atMost) / w.area * 255.0));
        }
    }
    return out;
}

inline std::vector<std::uint8_t> Tahe(const std::vector<std::uint8_t>& px, int width, int height, int n, int threshold)
{
    const int t = threshold & 0xFF;
    std::vector<std::uint8_t> out(px);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * width + x;
            if (px[i] <= t)
                continue;
            const Window w = CountWindow(px, width, height, n, x, y, t);
            const double scale = 255.0 / (w.area - w.below);
            out[i] = ClampToByte(static_cast<float>((w.atMost - w.below) * scale));
        }
    }
    return out;
}

// The window covering the whole image leaves its centre nothing outside: that
// one pixel takes T1 = 0, as the implementation does.
inline std::vector<std::uint8_t> Clhe(const std::vector<std::uint8_t>& px, int width, int height, int n, float alpha)
{
    std::array<long long, 256> global{};
    for (std::uint8_t level : px)
        ++global[level];
    const long long total = static_cast<long long>(width) * height;
    std::vector<std::uint8_t> out(px.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * width + x;
            const int v = px[i];
            const Window w = CountWindow(px, width, height, n, x, y, -1);
            long long outsideBelow = 0;  // O: outside the window, strictly below v
            for (int k = 0; k < v; ++k)
                outsideBelow += global[k];
            outsideBelow -= w.atMost - w.at;
            const long long s = w.interior ? outsideBelow + w.at : outsideBelow + w.atMost;
            const double t1 = total == w.area ? 0.0 : (s * (1.0 - static_cast<double>(alpha))) / (total - w.area);
            const double t2 = (w.atMost * static_cast<double>(alpha)) / w.area;
            out[i] = ClampToByte(static_cast<float>((t1 + t2) * 255.0));
        }
    }
    return out;
}

}  // namespace local_reference
