// The window walk of the local equalizations on processors with AVX-512 (F,
// BW, VL, DQ), for windows of 17 to 255 pixels a side.
//
// The image is cut into vertical strips that each go down the whole row band;
// a strip keeps, for every level v and every column c of the strip and its
// margins, the number of pixels of level <= v among the rows of the current
// window in that column: cumulative column histograms, one byte each (a
// column holds at most n <= 255 pixels), laid out level by level so that the
// columns of one level sit side by side. The count of levels <= v in the
// window of pixel x is then the sum of n neighbouring bytes of level v's row:
// one to four 64-byte loads and byte sums. The count at one level is the
// difference of two such sums (levels <= v minus levels <= v - 1), and the
// count at or below a threshold a sum over the threshold's row.
//
// Moving the window down one row adds the entering row and takes out the
// leaving one: in a column whose entering level is a and leaving level b, the
// cumulative counts change only for the levels between a and b, so 64 columns
// at a time are updated over the levels between their smallest and largest
// level (three such groups side by side in one pass), and the pixels of the
// row are mapped as soon as the columns of their windows are up to date.
// Columns outside the image are never counted, which cuts the windows at the
// left and right edges; rows outside the image are never added, which cuts
// them at the top and bottom.
//
// A strip of 257 rows (a zero row for "level -1", then levels 0..255) of a few
// hundred columns stays in the level-2 cache, where the whole width would not.
// Strips are independent: each starts its counts afresh, so the output does
// not depend on the strip width or on the row bands.
//
// Every function here is compiled for AVX-512; callers check Supported()
// first. Standard headers are included before the target switch so that none
// of their inline functions is compiled for it.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "algorithms/detail/avx512_region.h"
#include "core/parallel.h"

namespace local_window::strips {

inline constexpr int kMinWindow = 17;
inline constexpr int kMaxWindow = 255;  // column counts must fit a byte

// Test hooks: force the portable walk, or narrow the strips so that small
// images cross several of them. Zero strip width: the default.
inline std::atomic<bool> g_portableOnly{false};
inline std::atomic<int> g_stripWidth{0};

inline bool Supported()
{
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
    return supported && !g_portableOnly.load(std::memory_order_relaxed);
}

// Columns of output per strip: the strip and its two margins of h columns
// take about 576 bytes per level (147 KiB in all), and the strips of one
// image are made equally wide so that the last one is not a sliver.
inline int StripWidth(int width, int n)
{
    const int forced = g_stripWidth.load(std::memory_order_relaxed);
    const int wanted = forced > 0 ? forced : std::max(64, 576 - (n - 1));
    const int strips = (width + wanted - 1) / wanted;
    return (width + strips - 1) / strips;
}

// Which second count a kernel reads beside the count of levels <= v.
enum class Second {
    None,
    LevelBelow,  // levels <= v - 1, so that the count at v is the difference;
                 // the kernel also reads levelTable[v] (below 2^30) in Counts8::extra.
                 // With kGuesses, the kernel's Guess(counts, settled) sees
                 // counts.second zero and says which lanes it settled; Map,
                 // with the second count, runs only when one is left over.
    Threshold,   // levels <= the kernel's threshold
};

// Whether a kernel with Second::LevelBelow guesses first (see above).
template <typename Kernel>
constexpr bool Guesses()
{
    if constexpr (requires { Kernel::kGuesses; })
        return Kernel::kGuesses;
    else
        return false;
}

// Asks for the cache lines of first .. last. An asm statement: GCC 12 finds
// that a function doing nothing but __builtin_prefetch is pure, and drops it.
inline void PrefetchSpan(const std::uint8_t* first, const std::uint8_t* last)
{
    for (const std::uint8_t* p = first; p < last; p += 64)
        asm volatile("prefetcht0 %0" : : "m"(*p));
    asm volatile("prefetcht0 %0" : : "m"(*last));
}

}  // namespace local_window::strips

LUMIVEX_AVX512_BEGIN

namespace local_window::strips {

// What a vector kernel learns about the windows of eight neighbouring pixels,
// one per 64-bit lane.
struct Counts8 {
    __m512i level;   // v
    __m512i atMost;  // levels <= v, the pixel itself included
    __m512i second;  // the kernel's second count (zero for Second::None)
    __m512i extra;   // Second::LevelBelow: the kernel's levelTable entry of v
    __m512i area;    // pixels in the cut window
    __mmask8 interior;  // the window is the full n x n square
};

// ClampToByte of eight floats, branch-free: NaN and negatives become 0 (vmaxps
// returns its second operand when the first is NaN), above 255 becomes 255,
// halves round up. Results are 32-bit lanes of 0..255.
[[gnu::always_inline]] inline __m256i ClampToBytes(__m256 value)
{
    __m256 clamped = _mm256_max_ps(value, _mm256_setzero_ps());
    clamped = _mm256_min_ps(clamped, _mm256_set1_ps(255.0f));
    const __m256i t = _mm256_cvttps_epi32(clamped);
    const __m256 fraction = _mm256_sub_ps(clamped, _mm256_cvtepi32_ps(t));
    const __m256 roundUp = _mm256_cmp_ps(fraction, _mm256_set1_ps(0.5f), _CMP_GE_OQ);
    return _mm256_sub_epi32(t, _mm256_castps_si256(roundUp));  // all ones = -1
}

// Lane i of the result: the sum of the eight 64-bit lanes of s[i].
[[gnu::always_inline]] inline __m512i Reduce8(const __m512i s[8])
{
    // Pairs: within each 128-bit lane, [partial of s[2k], partial of s[2k+1]].
    __m512i a[4];
    for (int k = 0; k < 4; ++k)
        a[k] = _mm512_add_epi64(_mm512_unpacklo_epi64(s[2 * k], s[2 * k + 1]), _mm512_unpackhi_epi64(s[2 * k], s[2 * k + 1]));
    // Quads: the four 128-bit lanes of two pairs folded to two.
    __m512i b[2];
    for (int k = 0; k < 2; ++k)
        b[k] = _mm512_add_epi64(_mm512_shuffle_i64x2(a[2 * k], a[2 * k + 1], _MM_SHUFFLE(2, 0, 2, 0)),
                                _mm512_shuffle_i64x2(a[2 * k], a[2 * k + 1], _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm512_add_epi64(_mm512_shuffle_i64x2(b[0], b[1], _MM_SHUFFLE(2, 0, 2, 0)),
                            _mm512_shuffle_i64x2(b[0], b[1], _MM_SHUFFLE(3, 1, 3, 1)));
}

// The byte sums of n consecutive bytes from p, as eight partial sums;
// kChunks = (n + 63) / 64 loads, the last one masked to what is left of n.
template <int kChunks>
[[gnu::always_inline]] inline __m512i WindowSum(const std::uint8_t* p, __mmask64 last)
{
    const __m512i zero = _mm512_setzero_si512();
    __m512i sum = _mm512_sad_epu8(_mm512_maskz_loadu_epi8(last, p + 64 * (kChunks - 1)), zero);
    for (int k = 0; k + 1 < kChunks; ++k)
        sum = _mm512_add_epi64(sum, _mm512_sad_epu8(_mm512_loadu_si512(p + 64 * k), zero));
    return sum;
}

[[gnu::always_inline]] inline int MinByte(__m512i x)
{
    __m256i m = _mm256_min_epu8(_mm512_castsi512_si256(x), _mm512_extracti64x4_epi64(x, 1));
    __m128i q = _mm_min_epu8(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
    q = _mm_min_epu8(q, _mm_srli_si128(q, 8));
    q = _mm_min_epu8(q, _mm_srli_si128(q, 4));
    q = _mm_min_epu8(q, _mm_srli_si128(q, 2));
    q = _mm_min_epu8(q, _mm_srli_si128(q, 1));
    return _mm_cvtsi128_si32(q) & 0xFF;
}

[[gnu::always_inline]] inline int MaxByte(__m512i x)
{
    return 255 - MinByte(_mm512_xor_si512(x, _mm512_set1_epi8(-1)));
}

// Bits [from, to) of a 64-bit mask, clipped to 0..64.
inline __mmask64 BitRange(int from, int to)
{
    from = std::clamp(from, 0, 64);
    to = std::clamp(to, 0, 64);
    if (from >= to)
        return 0;
    const std::uint64_t upTo = to == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << to) - 1;
    const std::uint64_t below = (std::uint64_t{1} << from) - 1;
    return upTo & ~below;
}

template <int kChunks, typename Kernel>
class CStripBand {
public:
    CStripBand(const std::uint8_t* snapshot, int width, int height, int n, const Kernel& kernel)
        : m_snap(snapshot), m_width(width), m_height(height), m_n(n), m_h((n - 1) / 2), m_kernel(kernel)
    {
        m_stripWidth = StripWidth(width, n);
        m_stride = (static_cast<std::size_t>(m_stripWidth) + 2 * m_h + 63) / 64 * 64;
        for (std::size_t v = 0; v < 256; ++v)
            m_levelOffset[v] = v * m_stride;
    }

    bool Allocate()
    {
        m_cum.reset(static_cast<std::uint8_t*>(::operator new(257 * m_stride, std::align_val_t{64}, std::nothrow)));
        m_plan.reset(new (std::nothrow) GroupMove[m_stride / 64]);
        if (!m_plan)
            return false;
        if (Guesses<Kernel>())
            m_pending.reset(new (std::nothrow) std::int32_t[static_cast<std::size_t>(m_stripWidth) + 8]);
        return m_cum != nullptr && (!Guesses<Kernel>() || m_pending != nullptr);
    }

    void Run(int yBegin, int yEnd, std::uint8_t* out)
    {
        for (int xs = 0; xs < m_width; xs += m_stripWidth)
            RunStrip(xs, std::min(m_width, xs + m_stripWidth), yBegin, yEnd, out);
    }

private:
    struct Free {
        void operator()(std::uint8_t* p) const { ::operator delete(p, std::align_val_t{64}); }
    };

    const std::uint8_t* Row(int r) const { return m_snap + static_cast<std::size_t>(r) * m_width; }

    void RunStrip(int xs, int xe, int yBegin, int yEnd, std::uint8_t* out)
    {
        std::memset(m_cum.get(), 0, 257 * m_stride);
        for (int r = std::max(0, yBegin - m_h); r <= std::min(m_height - 1, yBegin + m_h); ++r)
            Update(Row(r), nullptr, xs, xe);
        for (int y = yBegin; y < yEnd; ++y) {
            if (y > yBegin) {
                const int leaving = y - m_h - 1, entering = y + m_h;
                // The entering rows come from memory the strip has not read
                // yet, a few hundred bytes per row and 4 KB or more apart:
                // ask for them some rows ahead.
                if (entering + kPrefetchRows < m_height)
                    Prefetch(Row(entering + kPrefetchRows), xs, xe);
                if (entering < m_height && leaving >= 0) {
                    Move(Row(entering), Row(leaving), y, xs, xe, out);
                    continue;
                }
                Update(entering < m_height ? Row(entering) : nullptr, leaving >= 0 ? Row(leaving) : nullptr, xs, xe);
            }
            int pending = 0;
            Query(y, xs, xs, xe, out, pending, true);
        }
    }

    static constexpr int kPrefetchRows = 8;

    void Prefetch(const std::uint8_t* row, int xs, int xe) const
    {
        PrefetchSpan(row + std::max(0, xs - m_h), row + std::min(m_width - 1, xe - 1 + m_h));
    }

    // Adds the row in or takes out the row out (the other one null) over the
    // strip's columns and margins. Local column j is image column xs - h + j.
    void Update(const std::uint8_t* in, const std::uint8_t* out, int xs, int xe)
    {
        if (!in && !out)
            return;
        std::uint8_t* const cum = m_cum.get();
        const std::size_t stride = m_stride;
        const int first = std::max(0, m_h - xs);                              // first local column in the image
        const int last = std::min(xe - xs + 2 * m_h, m_width - xs + m_h);    // one past the last
        const __m512i ones = _mm512_set1_epi8(1);
        for (int j0 = first / 64 * 64; j0 < last; j0 += 64) {
            const __mmask64 valid = BitRange(first - j0, last - j0);
            const std::ptrdiff_t c0 = static_cast<std::ptrdiff_t>(xs) - m_h + j0;
            const __mmask64 kIn = in ? valid : 0, kOut = out ? valid : 0;
            const __m512i a = _mm512_maskz_loadu_epi8(kIn, in ? in + c0 : nullptr);
            const __m512i b = _mm512_maskz_loadu_epi8(kOut, out ? out + c0 : nullptr);
            // A row without partner, at the top or bottom of the image:
            // every level from its own up to 255 changes.
            const int lo = MinByte(_mm512_mask_blend_epi8(valid, _mm512_set1_epi8(-1), in ? a : b));
            std::uint8_t* p = cum + (static_cast<std::size_t>(lo) + 1) * stride + j0;
            __m512i level = _mm512_set1_epi8(static_cast<char>(lo));
            for (int v = lo; v < 256; ++v) {
                const __mmask64 up = _mm512_mask_cmple_epu8_mask(kIn, a, level);
                const __mmask64 down = _mm512_mask_cmple_epu8_mask(kOut, b, level);
                __m512i counts = _mm512_load_si512(p);
                counts = _mm512_mask_add_epi8(counts, up, counts, ones);
                counts = _mm512_mask_sub_epi8(counts, down, counts, ones);
                _mm512_store_si512(p, counts);
                p += stride;
                level = _mm512_add_epi8(level, ones);
            }
        }
    }

    // One column group's share of a row move: its columns change by step at
    // the levels where (level - low) mod 256 < span; levels lo .. hi - 1.
    struct GroupMove {
        __m512i low, span, step;
        int lo, hi;
        int column;  // the group's first local column
    };

    // Adds the row in and takes out the row out. A column whose level a
    // enters and b leaves changes its counts by +1 (a < b) or -1 (a > b) at
    // the levels from low = min(a, b) up to high = max(a, b) - 1. With t =
    // level - low in byte arithmetic, those are the levels where t < high -
    // low: a level below low wraps t to at least 256 - (low - level) > high -
    // low. The groups are planned first and then walked three at a time over
    // the union of their levels: one loop (and one mispredicted exit) per
    // three groups instead of per group, three independent read-modify-write
    // chains per level.
    //
    // The pixels of row y are mapped as soon as their windows' columns are
    // moved, while the levels just written are still in the level-1 cache.
    void Move(const std::uint8_t* in, const std::uint8_t* out, int y, int xs, int xe, std::uint8_t* target)
    {
        const int first = std::max(0, m_h - xs);                            // first local column in the image
        const int last = std::min(xe - xs + 2 * m_h, m_width - xs + m_h);  // one past the last
        GroupMove* const plan = m_plan.get();
        int groups = 0;
        for (int j0 = first / 64 * 64; j0 < last; j0 += 64) {
            const __mmask64 valid = BitRange(first - j0, last - j0);
            const std::ptrdiff_t c0 = static_cast<std::ptrdiff_t>(xs) - m_h + j0;
            const __m512i a = _mm512_maskz_loadu_epi8(valid, in + c0);
            const __m512i b = _mm512_maskz_loadu_epi8(valid, out + c0);
            const __mmask64 changed = valid & _mm512_cmpneq_epu8_mask(a, b);
            if (!changed)
                continue;
            GroupMove& g = plan[groups++];
            g.low = _mm512_min_epu8(a, b);
            g.span = _mm512_maskz_sub_epi8(changed, _mm512_max_epu8(a, b), g.low);
            g.step = _mm512_mask_blend_epi8(_mm512_cmplt_epu8_mask(a, b), _mm512_set1_epi8(-1), _mm512_set1_epi8(1));
            g.lo = MinByte(_mm512_mask_blend_epi8(changed, _mm512_set1_epi8(-1), g.low));
            g.hi = MaxByte(_mm512_maskz_mov_epi8(changed, _mm512_max_epu8(a, b)));
            g.column = j0;
        }
        int mapped = xs;  // the pixels before it are mapped
        int pending = 0;
        for (int k = 0; k < groups; k += kMoveGroups) {
            switch (std::min(kMoveGroups, groups - k)) {
            case 3: MoveGroups<3>(plan + k); break;
            case 2: MoveGroups<2>(plan + k); break;
            default: MoveGroups<1>(plan + k); break;
            }
            // Local columns before the next changed group are final; pixel x
            // reads local columns x - xs .. x - xs + 2h. Whole groups of
            // eight until the last.
            if (k + kMoveGroups >= groups)
                break;
            const int ready = std::min(xe, xs + plan[k + kMoveGroups].column - 2 * m_h);
            const int upTo = mapped + std::max(0, ready - mapped) / 8 * 8;
            if (upTo > mapped) {
                Query(y, xs, mapped, upTo, target, pending, false);
                mapped = upTo;
            }
        }
        Query(y, xs, mapped, xe, target, pending, true);
    }

    static constexpr int kMoveGroups = 3;
    template <int kGroups>
    [[gnu::always_inline]] void MoveGroups(const GroupMove* g)
    {
        int lo = g[0].lo, hi = g[0].hi;
        for (int k = 1; k < kGroups; ++k) {
            lo = std::min(lo, g[k].lo);
            hi = std::max(hi, g[k].hi);
        }
        const std::size_t stride = m_stride;
        std::uint8_t* p = m_cum.get() + (static_cast<std::size_t>(lo) + 1) * stride;
        __m512i t[kGroups], span[kGroups], step[kGroups];
        std::ptrdiff_t column[kGroups];
        for (int k = 0; k < kGroups; ++k) {
            t[k] = _mm512_sub_epi8(_mm512_set1_epi8(static_cast<char>(lo)), g[k].low);
            span[k] = g[k].span;
            step[k] = g[k].step;
            column[k] = g[k].column;
        }
        const __m512i ones = _mm512_set1_epi8(1);
        for (int v = lo; v < hi; ++v) {
#pragma GCC unroll 8
            for (int k = 0; k < kGroups; ++k) {
                const __mmask64 inside = _mm512_cmplt_epu8_mask(t[k], span[k]);
                const __m512i counts = _mm512_load_si512(p + column[k]);
                _mm512_store_si512(p + column[k], _mm512_mask_add_epi8(counts, inside, counts, step[k]));
                t[k] = _mm512_add_epi8(t[k], ones);
            }
            p += stride;
        }
    }

    // Maps the pixels from .. xe - 1 of row y of the strip from xs, eight at
    // a time. The pixels a kernel's guesses leave open are listed at
    // m_pending[pending..] and mapped in the call that ends the row (last).
    void Query(int y, int xs, int from, int xe, std::uint8_t* out, int& pending, bool last)
    {
        // Locals only: the byte stores of the results could alias any member.
        const Kernel kernel = m_kernel;
        Row8 r;
        r.row = Row(y);
        r.target = out + static_cast<std::size_t>(y) * m_width;
        r.offset = m_levelOffset.data();
        r.level0 = m_cum.get() + m_stride;  // the row of level 0; level -1 above it is zero
        r.xs = xs;
        r.n = m_n;
        r.h = m_h;
        r.width = m_width;
        r.rows = std::min(m_height - 1, y + m_h) - std::max(0, y - m_h) + 1;
        r.last = BitRange(0, m_n - 64 * (kChunks - 1));
        if constexpr (Kernel::kSecond == Second::Threshold)
            r.thresholdRow = r.level0 + m_levelOffset[kernel.threshold];
        r.pending = m_pending.get();
        int x = from;
        // Groups of eight whose windows are all whole skip the window areas.
        const int innerFirst = r.rows == m_n ? m_h : m_width, innerLast = m_width - m_h - 8;
        for (; x + 8 <= xe; x += 8) {
            if (x >= innerFirst && x <= innerLast)
                pending += r.template Map<true, true>(kernel, x, 8, r.pending + pending);
            else
                pending += r.template Map<true>(kernel, x, 8, r.pending + pending);
        }
        if (x < xe)
            pending += r.template Map<false>(kernel, x, xe - x, r.pending + pending);
        if constexpr (Guesses<Kernel>()) {
            // The pixels the guesses left open, with both counts. Reading
            // them here, apart, keeps the branch out of the loop above.
            if (!last)
                return;
            for (int i = 0; i < pending; i += 8)
                r.MapListed(kernel, r.pending + i, std::min(8, pending - i));
        }
    }

    struct Row8 {
        const std::uint8_t* row;
        std::uint8_t* target;
        const std::size_t* offset;  // level v's row, v * stride
        const std::uint8_t* level0;
        const std::uint8_t* thresholdRow = nullptr;
        std::int32_t* pending = nullptr;  // Guesses: the columns left open
        int xs, n, h, width, rows;
        __mmask64 last;

        // The counts of the pixels at columns position[0..7] (lanes past
        // count repeat the last pixel), with the second count when kSecond.
        // kInner: every window is the full n x n square.
        template <bool kSecond, bool kListed, bool kInner = false>
        [[gnu::always_inline]] Counts8 Count(const Kernel& kernel, const int* position, __m512i xi) const
        {
            // One reduction for all counts of a pixel: each 64-bit lane
            // packs the count of levels <= v (bits 0..16), the second count
            // (bits 17..33) and the kernel's level table entry (bits 34..63);
            // no field can carry into the next, as a window holds at most
            // 65025 pixels.
            __m512i sums[8];
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) {
                const int px = position[i];
                const unsigned v = row[px];
                const std::uint8_t* p = level0 + (px - xs) + offset[v];  // window of pixel px: n bytes from here
                sums[i] = WindowSum<kChunks>(p, last);
                if constexpr (Kernel::kSecond == Second::LevelBelow) {
                    const __m512i entry = _mm512_zextsi128_si512(_mm_cvtsi64_si128(static_cast<long long>(kernel.levelTable[v] << 34)));
                    sums[i] = _mm512_add_epi64(sums[i], entry);
                    if constexpr (kSecond)
                        sums[i] = _mm512_add_epi64(sums[i], _mm512_slli_epi64(WindowSum<kChunks>(p - offset[1], last), 17));
                } else if constexpr (Kernel::kSecond == Second::Threshold) {
                    const __m512i below = WindowSum<kChunks>(thresholdRow + (px - xs), last);
                    sums[i] = _mm512_add_epi64(sums[i], _mm512_slli_epi64(below, 17));
                }
            }
            Counts8 c;
            if constexpr (kListed)
                c.level = _mm512_set_epi64(row[position[7]], row[position[6]], row[position[5]], row[position[4]],
                                           row[position[3]], row[position[2]], row[position[1]], row[position[0]]);
            const __m512i packed = Reduce8(sums);
            const __m512i field = _mm512_set1_epi64((1 << 17) - 1);
            c.atMost = _mm512_and_si512(packed, field);
            c.second = _mm512_and_si512(_mm512_srli_epi64(packed, 17), field);
            c.extra = _mm512_srli_epi64(packed, 34);
            if constexpr (kInner) {
                c.area = _mm512_set1_epi64(static_cast<long long>(n) * n);
                c.interior = 0xFF;
                return c;
            }
            const __m512i right = _mm512_min_epi64(_mm512_add_epi64(xi, _mm512_set1_epi64(h)), _mm512_set1_epi64(width - 1));
            const __m512i left = _mm512_max_epi64(_mm512_sub_epi64(xi, _mm512_set1_epi64(h)), _mm512_setzero_si512());
            const __m512i cols = _mm512_add_epi64(_mm512_sub_epi64(right, left), _mm512_set1_epi64(1));
            c.area = _mm512_mullo_epi64(cols, _mm512_set1_epi64(rows));
            c.interior = rows == n ? _mm512_cmpeq_epi64_mask(cols, _mm512_set1_epi64(n)) : 0;
            return c;
        }

        // The pixels x .. x + count - 1 (count = 8 when kFull; kInner: all
        // eight windows are whole). Returns how many it left open in open[]
        // (Guesses only; otherwise 0).
        template <bool kFull, bool kInner = false>
        [[gnu::always_inline]] int Map(const Kernel& kernel, int x, int count, std::int32_t* open) const
        {
            int position[8];
            for (int i = 0; i < 8; ++i)
                position[i] = x + (kFull ? i : std::min(i, count - 1));
            const __mmask8 valid = kFull ? 0xFF : static_cast<__mmask8>((1u << count) - 1);
            const __m512i xi = _mm512_add_epi64(_mm512_set1_epi64(x), _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0));
            const __m512i level = _mm512_cvtepu8_epi64(kFull ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x))
                                                             : _mm_maskz_loadu_epi8(valid, row + x));
            if constexpr (Guesses<Kernel>()) {
                // The kernel settles most pixels from the count of levels
                // <= v alone; the others wait for the second count.
                Counts8 c = Count<false, false, kInner>(kernel, position, xi);
                c.level = level;
                __mmask8 settled;
                const __m256i mapped = kernel.Guess(c, settled);
                _mm256_mask_cvtepi32_storeu_epi8(target + x, valid & settled, Keep(mapped, c.level, kernel.Wants(c.level)));
                const __mmask8 left = valid & static_cast<__mmask8>(~settled);
                // Compressed in a register and stored whole: a compressing
                // store to memory is slow on some processors. open has room
                // for eight past the last pixel.
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(open), _mm256_maskz_compress_epi32(left, _mm512_cvtepi64_epi32(xi)));
                return __builtin_popcount(left);
            } else {
                Counts8 c = Count<true, false, kInner>(kernel, position, xi);
                c.level = level;
                _mm256_mask_cvtepi32_storeu_epi8(target + x, valid, Keep(kernel.Map(c), c.level, kernel.Wants(c.level)));
                return 0;
            }
        }

        // The mapped levels of the lanes wanted, the pixel's own level in the
        // others: the results go to a fresh buffer, not over the pixels.
        [[gnu::always_inline]] static __m256i Keep(__m256i mapped, __m512i level, __mmask8 wanted)
        {
            return _mm256_mask_blend_epi32(wanted, _mm512_cvtepi64_epi32(level), mapped);
        }

        // The count pixels at the columns listed, with both counts.
        void MapListed(const Kernel& kernel, const std::int32_t* listed, int count) const
        {
            int position[8];
            for (int i = 0; i < 8; ++i)
                position[i] = listed[std::min(i, count - 1)];
            alignas(32) std::int32_t lanes[8];
            std::memcpy(lanes, position, sizeof lanes);
            const __m512i xi = _mm512_cvtepi32_epi64(_mm256_load_si256(reinterpret_cast<const __m256i*>(lanes)));
            const Counts8 c = Count<true, true>(kernel, position, xi);
            alignas(32) std::int32_t mapped[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(mapped), Keep(kernel.Map(c), c.level, kernel.Wants(c.level)));
            for (int i = 0; i < count; ++i)
                target[position[i]] = static_cast<std::uint8_t>(mapped[i]);
        }
    };

    const std::uint8_t* m_snap;
    int m_width, m_height, m_n, m_h;
    int m_stripWidth;
    std::size_t m_stride;
    const Kernel& m_kernel;
    std::unique_ptr<std::uint8_t, Free> m_cum;  // [level + 1][local column]
    std::array<std::size_t, 256> m_levelOffset;  // v * m_stride
    std::unique_ptr<std::int32_t[]> m_pending;    // Guesses: the columns of one row left open
    std::unique_ptr<GroupMove[]> m_plan;          // Move: the changed column groups of one row
};

template <int kChunks, typename Kernel>
bool RunBands(const std::uint8_t* snapshot, std::uint8_t* out, int width, int height, int n, const Kernel& kernel)
{
    std::atomic<bool> failed{false};
    // A band first counts about n rows into each strip; bands of at least
    // n / 2 rows keep that set-up small beside the band's own work.
    const int minRows = std::max({8, n / 2, (16384 + width - 1) / width});
    ParallelForBands(height, minRows, [&](int yBegin, int yEnd) {
        CStripBand<kChunks, Kernel> band(snapshot, width, height, n, kernel);
        if (!band.Allocate()) {
            failed = true;
            return;
        }
        band.Run(yBegin, yEnd, out);
    });
    return !failed;
}

// Writes every pixel of snapshot to out: kernel.Map of its window counts
// where kernel.Wants it, else its own level; false when a band's counts
// cannot be allocated. kMinWindow <= n <= kMaxWindow.
template <typename Kernel>
bool Equalize(const std::uint8_t* snapshot, std::uint8_t* out, int width, int height, int n, const Kernel& kernel)
{
    switch ((n + 63) / 64) {
    case 1: return RunBands<1>(snapshot, out, width, height, n, kernel);
    case 2: return RunBands<2>(snapshot, out, width, height, n, kernel);
    case 3: return RunBands<3>(snapshot, out, width, height, n, kernel);
    default: return RunBands<4>(snapshot, out, width, height, n, kernel);
    }
}

}  // namespace local_window::strips

LUMIVEX_AVX512_END
