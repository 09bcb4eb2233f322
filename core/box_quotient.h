// The central quotient of the box mean, ClampToByte(float(S / float(n * n))),
// for every mask sum S, computed three ways that give the same bytes. Private
// to core/box_filter.cpp; declared here for its tests.
#pragma once

#include <cstdint>
#include <vector>

#include "core/clamp_to_byte.h"

class CBoxQuotient {
public:
    // centralPixels: how many quotients will be asked for, to judge whether a
    // table of every possible sum pays for itself.
    CBoxQuotient(int n, std::size_t centralPixels)
        : m_N(static_cast<double>(static_cast<float>(static_cast<double>(n) * n)))
    {
        const std::uint64_t area = static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
        const std::uint64_t sums = 255 * area + 1;
        if (sums <= (1u << 22) && sums <= centralPixels) {
            m_table.resize(sums);
            for (std::uint64_t S = 0; S < sums; ++S)
                m_table[S] = Divide(S);
        } else if (n <= 256) {
            // For masks up to 256 x 256 the float quotient rounds exactly as the
            // mean rounded half up, floor((2S + N) / 2N) (checked for every sum of
            // every such mask), and 2S + N stays below 2^32, where one 64-bit
            // multiply-high divides exactly by a fixed 2N.
            m_area = area;
            m_magic = UINT64_MAX / (2 * area) + 1;
        }
    }

    std::uint8_t operator()(std::uint64_t S) const
    {
        if (!m_table.empty())
            return m_table[S];
        if (m_magic != 0)
            return static_cast<std::uint8_t>((static_cast<unsigned __int128>(m_magic) * (2 * S + m_area)) >> 64);
        return Divide(S);
    }

    // The table, or null when there is none.
    const std::uint8_t* Table() const { return m_table.empty() ? nullptr : m_table.data(); }
    // The multiply-high constant and the area, or 0 when that way is not used.
    std::uint64_t Magic() const { return m_magic; }
    std::uint64_t Area() const { return m_area; }

    // The rule itself.
    std::uint8_t Divide(std::uint64_t S) const { return ClampToByte(static_cast<float>(static_cast<double>(S) / m_N)); }

private:
    double m_N;
    std::uint64_t m_magic = 0;
    std::uint64_t m_area = 0;
    std::vector<std::uint8_t> m_table;
};
