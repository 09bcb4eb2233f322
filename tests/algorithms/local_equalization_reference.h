// Plain per-pixel versions of AHE, TAHE and CLHE for the tests: every window is
// counted afresh, straight from the rules, so the fast paths have something
// obviously correct to be compared with.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
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

inline std::uint8_t AhePixel(const std::vector<std::uint8_t>& px, int width, int height, int n, int x, int y)
{
    const Window w = CountWindow(px, width, height, n, x, y, -1);
    return ClampToByte(static_cast<float>(static_cast<double>(w.atMost) / w.area * 255.0));
}

inline std::uint8_t TahePixel(const std::vector<std::uint8_t>& px, int width, int height, int n, int threshold, int x, int y)
{
    const int t = threshold & 0xFF;
    const std::uint8_t v = px[static_cast<std::size_t>(y) * width + x];
    if (v <= t)
        return v;
    const Window w = CountWindow(px, width, height, n, x, y, t);
    const double scale = 255.0 / (w.area - w.below);
    return ClampToByte(static_cast<float>((w.atMost - w.below) * scale));
}

// Pixels of the whole image strictly below each level.
inline std::array<long long, 256> GlobalBelow(const std::vector<std::uint8_t>& px)
{
    std::array<long long, 256> below{};
    for (std::uint8_t level : px)
        for (int k = level + 1; k < 256; ++k)
            ++below[k];
    return below;
}

// The window covering the whole image leaves its centre nothing outside: that
// one pixel takes T1 = 0, as the implementation does.
inline std::uint8_t ClhePixel(const std::vector<std::uint8_t>& px, const std::array<long long, 256>& globalBelow, int width,
                              int height, int n, float alpha, int x, int y)
{
    const int v = px[static_cast<std::size_t>(y) * width + x];
    const Window w = CountWindow(px, width, height, n, x, y, -1);
    const long long outsideBelow = globalBelow[v] - (w.atMost - w.at);  // O: outside the window, strictly below v
    const long long total = static_cast<long long>(width) * height;
    const long long s = w.interior ? outsideBelow + w.at : outsideBelow + w.atMost;
    const double t1 = total == w.area ? 0.0 : (s * (1.0 - static_cast<double>(alpha))) / (total - w.area);
    const double t2 = (w.atMost * static_cast<double>(alpha)) / w.area;
    return ClampToByte(static_cast<float>((t1 + t2) * 255.0));
}

template <typename PixelRule>
std::vector<std::uint8_t> EveryPixel(int width, int height, const PixelRule& rule)
{
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out[static_cast<std::size_t>(y) * width + x] = rule(x, y);
    return out;
}

inline std::vector<std::uint8_t> Ahe(const std::vector<std::uint8_t>& px, int width, int height, int n)
{
    return EveryPixel(width, height, [&](int x, int y) { return AhePixel(px, width, height, n, x, y); });
}

inline std::vector<std::uint8_t> Tahe(const std::vector<std::uint8_t>& px, int width, int height, int n, int threshold)
{
    return EveryPixel(width, height, [&](int x, int y) { return TahePixel(px, width, height, n, threshold, x, y); });
}

inline std::vector<std::uint8_t> Clhe(const std::vector<std::uint8_t>& px, int width, int height, int n, float alpha)
{
    const auto globalBelow = GlobalBelow(px);
    return EveryPixel(width, height, [&](int x, int y) { return ClhePixel(px, globalBelow, width, height, n, alpha, x, y); });
}

// Where two results first differ, for readable failures.
inline std::string FirstDifference(const std::vector<std::uint8_t>& expected, const std::vector<std::uint8_t>& actual, int width)
{
    if (expected.size() != actual.size())
        return "sizes differ";
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != actual[i])
            return "first difference at x=" + std::to_string(i % width) + " y=" + std::to_string(i / width) +
                   ": expected " + std::to_string(expected[i]) + ", got " + std::to_string(actual[i]);
    return "identical";
}

}  // namespace local_reference
