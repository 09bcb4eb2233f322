// Sends every pixel through a 256-entry table: the last step of the point and
// global operations. Private to algorithms/.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "core/parallel.h"

inline void ApplyTable(std::uint8_t* pixels, std::size_t count, const std::array<std::uint8_t, 256>& table)
{
    // Each pixel is read and written once, so bands of any size give the same result.
    constexpr int kChunk = 1 << 16;
    const int chunks = static_cast<int>((count + kChunk - 1) / kChunk);
    ParallelForBands(chunks, 16, [pixels, count, &table](int begin, int end) {
        // Locals: stores through a byte pointer could otherwise alias the
        // captured pointers and force them to be reloaded for every pixel.
        std::uint8_t* p = pixels;
        const std::uint8_t* lookup = table.data();
        const std::size_t first = static_cast<std::size_t>(begin) * kChunk;
        const std::size_t last = std::min(count, static_cast<std::size_t>(end) * kChunk);
        for (std::size_t i = first; i < last; ++i)
            p[i] = lookup[p[i]];
    });
}
