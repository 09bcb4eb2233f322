// The central quotient of the box mean, ClampToByte(float(S / float(n * n))),
// for every mask sum S, computed three ways that give the same bytes. Private
// to core/box_filter.cpp; declared here for its tests.
#pragma once

#include <cstdint>
#include <vector>

#include "core/clamp_to_byte.h"

// floor(x / (2N)) for N = n * n, n <= 256, and every x <= 511 N (all values of
// 2S + N): (x * multiplier) >> shift, with x and the multiplier in 32 bits and
// the product in 64, the form 16-lane vector code can evaluate. The multiplier
// is 2^shift / 2N rounded up with shift = 31 + ceil(log2(2N)); its excess over
// the exact 2^shift / 2N is below 1 / 2^(31 - ceil(log2(2N))) x 2N, too little to
// carry any x <= 511 N over the next multiple of 2N (the tests check every
// step of every mask up to 256).
struct CBoxMagic32 {
    std::uint32_t multiplier = 0;
    int shift = 0;

    static CBoxMagic32 For(int n)
    {
        const std::uint64_t divisor = 2 * static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
        int log2 = 0;
        while ((std::uint64_t{1} << log2) < divisor)
            ++log2;
        CBoxMagic32 magic;
        magic.shift = 31 + log2;
        magic.multiplier = static_cast<std::uint32_t>(((std::uint64_t{1} << magic.shift) + divisor - 1) / divisor);
        return magic;
    }

    // The mean rounded half up for the mask sum S of an n x n mask.
    std::uint8_t Mean(std::uint32_t S, std::uint32_t area) const
    {
        return static_cast<std::uint8_t>((static_cast<std::uint64_t>(2 * S + area) * multiplier) >> shift);
    }
};

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
