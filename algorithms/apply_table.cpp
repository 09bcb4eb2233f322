#include "algorithms/apply_table.h"

#include <immintrin.h>

#include <algorithm>

#include "core/parallel.h"

void ApplyTableScalar(std::uint8_t* pixels, std::size_t count, const std::uint8_t* table)
{
    for (std::size_t i = 0; i < count; ++i)
        pixels[i] = table[pixels[i]];
}

namespace {

// 64 lookups at once: vpermi2b picks from 128 table bytes by the low seven bits
// of each index, twice (entries 0..127 and 128..255), and the index's top bit
// chooses between the two answers.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void LookupVbmi(std::uint8_t* pixels, std::size_t count,
                                                                        const std::uint8_t* table)
{
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    std::size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i index = _mm512_loadu_si512(pixels + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, index, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, index, t3);
        const __mmask64 upper = _mm512_movepi8_mask(index);
        _mm512_storeu_si512(pixels + i, _mm512_mask_blend_epi8(upper, low, high));
    }
    ApplyTableScalar(pixels + i, count - i, table);
}

bool HasVbmi()
{
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vbmi");
    return supported;
}

}  // namespace

bool ApplyTableVector(std::uint8_t* pixels, std::size_t count, const std::uint8_t* table)
{
    if (!HasVbmi())
        return false;
    LookupVbmi(pixels, count, table);
    return true;
}

void ApplyTable(std::uint8_t* pixels, std::size_t count, const std::array<std::uint8_t, 256>& table)
{
    constexpr int kChunk = 1 << 16;
    const int chunks = static_cast<int>((count + kChunk - 1) / kChunk);
    ParallelForBands(chunks, 16, [pixels, count, &table](int begin, int end) {
        std::uint8_t* p = pixels;
        const std::size_t first = static_cast<std::size_t>(begin) * kChunk;
        const std::size_t last = std::min(count, static_cast<std::size_t>(end) * kChunk);
        if (!ApplyTableVector(p + first, last - first, table.data()))
            ApplyTableScalar(p + first, last - first, table.data());
    });
}
