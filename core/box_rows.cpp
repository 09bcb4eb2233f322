// Row streams of box means; the rules are those of core/box_filter.cpp.
//
// Per row: the column sums of the mask rows follow the row (one row enters,
// one leaves), then a running sum slides along them. Along the row the
// running sum is a prefix sum of d[x] = c[x + h] - c[x - h - 1] (for odd n),
// and a prefix sum can be taken 16 lanes at a time: four shifted adds inside
// the register and the previous block's last sum added to every lane. The
// quotient is then the 32-bit multiply-high of CBoxMagic32, also 16 lanes wide.
#include "core/box_rows.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include <immintrin.h>

#include "core/parallel.h"

namespace {

bool HasAvx512()
{
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return supported;
}

// sums += enter - leave over the width columns; either row may be null for none.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void MoveColumnSums(std::uint32_t* sums, int width, const std::uint8_t* enter, const std::uint8_t* leave)
{
    if (enter && leave) {
        for (int j = 0; j < width; ++j)
            sums[j] += static_cast<std::uint32_t>(enter[j]) - leave[j];
    } else if (enter) {
        for (int j = 0; j < width; ++j)
            sums[j] += enter[j];
    } else if (leave) {
        for (int j = 0; j < width; ++j)
            sums[j] -= leave[j];
    }
}

// floor(total / count) for whole numbers below 2^53 (counts below 2^45): the
// double quotient is within 2^-45 of the true one, which, when it is not a
// whole number, lies at least 1 / count below the next one; so truncating the
// double quotient gives the floor, and the loops below run in vector lanes.
inline std::uint8_t FloorQuotient(std::uint64_t total, std::uint64_t count)
{
    return static_cast<std::uint8_t>(static_cast<double>(total) / static_cast<double>(count));
}

// Band means of columns [x0, x1) whose clipped masks span columns
// [x - h, x + h] (no clip) from the prefix sums P (P[i] = sums of columns
// before base + i).
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void UnclippedBandMeans(const std::uint64_t* P, int base, int h, std::uint64_t count, int x0, int x1,
                        std::uint8_t* out)
{
    for (int x = x0; x < x1; ++x)
        out[x] = FloorQuotient(P[x + h + 1 - base] - P[x - h - base], count);
}

// Band means whose masks are clipped at the left edge only: columns
// [0, x + h], counting (x + h + 1) * rowCount pixels.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void LeftClippedBandMeans(const std::uint64_t* P, int base, int h, std::uint64_t rowCount, int x0, int x1,
                          std::uint8_t* out)
{
    for (int x = x0; x < x1; ++x)
        out[x] = FloorQuotient(P[x + h + 1 - base] - P[0 - base], static_cast<std::uint64_t>(x + h + 1) * rowCount);
}

// Clipped at the right edge only: columns [x - h, width - 1].
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void RightClippedBandMeans(const std::uint64_t* P, int base, int h, int width, std::uint64_t rowCount, int x0,
                           int x1, std::uint8_t* out)
{
    for (int x = x0; x < x1; ++x)
        out[x] = FloorQuotient(P[width - base] - P[x - h - base],
                               static_cast<std::uint64_t>(width - (x - h)) * rowCount);
}

// Band rule for the columns [x0, x1) of one row: the mean of the clipped mask,
// rounded down. sums holds the clipped rows of this row's mask; rowCount is their number.
void BandMeans(const std::uint32_t* sums, int width, int h, int rowCount, int x0, int x1, std::uint8_t* out)
{
    if (x0 >= x1)
        return;
    // Prefix sums over every column any of these masks reads.
    const int base = std::max(0, x0 - h);
    const int last = std::min(width - 1, x1 - 1 + h);
    thread_local std::vector<std::uint64_t> prefix;
    prefix.resize(static_cast<std::size_t>(last - base) + 2);
    std::uint64_t* P = prefix.data();
    P[0] = 0;
    for (int j = base; j <= last; ++j)
        P[j - base + 1] = P[j - base] + sums[j];
    auto clipped = [&](int x) {
        const int lo = std::max(0, x - h);
        const int hi = std::min(width - 1, x + h);
        out[x] = FloorQuotient(P[hi + 1 - base] - P[lo - base], static_cast<std::uint64_t>(hi - lo + 1) * rowCount);
    };
    // Masks clipped on neither side: x - h >= 0 and x + h <= width - 1.
    const int freeBegin = std::clamp(h, x0, x1);
    const int freeEnd = std::clamp(width - h, freeBegin, x1);
    // Left of them, masks clipped at the left edge only, then (narrow images) at both.
    const int leftOnlyEnd = std::clamp(width - h, x0, freeBegin);
    LeftClippedBandMeans(P, base, h, static_cast<std::uint64_t>(rowCount), x0, leftOnlyEnd, out);
    for (int x = leftOnlyEnd; x < freeBegin; ++x)
        clipped(x);
    UnclippedBandMeans(P, base, h, static_cast<std::uint64_t>(2 * h + 1) * rowCount, freeBegin, freeEnd, out);
    // Right of them, clipped at the right edge only where x - h >= 0.
    const int rightOnlyBegin = std::clamp(h, freeEnd, x1);
    for (int x = freeEnd; x < rightOnlyBegin; ++x)
        clipped(x);
    RightClippedBandMeans(P, base, h, width, static_cast<std::uint64_t>(rowCount), rightOnlyBegin, x1, out);
}

// Central means of count consecutive columns from out[0] on: the first sum is
// S, and the one of out[i] adds enter[i - 1] - leave[i - 1] to that of out[i - 1].
__attribute__((target("avx512f,avx512bw")))
void CentralMeansAvx512(const std::uint32_t* enter, const std::uint32_t* leave, int count, std::uint32_t S,
                        std::uint32_t area, CBoxMagic32 magic, std::uint8_t* out)
{
    out[0] = magic.Mean(S, area);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i vArea = _mm512_set1_epi32(static_cast<int>(area));
    const __m512i vMultiplier = _mm512_set1_epi32(static_cast<int>(magic.multiplier));
    const __m512i lastLane = _mm512_set1_epi32(15);
    const __m128i evenShift = _mm_cvtsi32_si128(magic.shift);  // 32 or more
    const __m128i oddShift = _mm_cvtsi32_si128(magic.shift - 32);
    const __mmask16 all = 0xFFFF;
    const __mmask8 all8 = 0xFF;
    __m512i carry = _mm512_set1_epi32(static_cast<int>(S));
    for (int i = 1; i < count; i += 16) {
        const int left = count - i;
        const __mmask16 lanes = left >= 16 ? __mmask16(0xFFFF) : static_cast<__mmask16>((1u << left) - 1);
        __m512i d = _mm512_sub_epi32(_mm512_maskz_loadu_epi32(lanes, enter + i - 1),
                                     _mm512_maskz_loadu_epi32(lanes, leave + i - 1));
        // Inclusive prefix sum over the 16 lanes (modulo 2^32, which the true
        // sums never reach, so the differences stay exact). The zero-masking
        // forms with every lane on are the plain instructions; GCC 12 warns
        // about the undefined operand inside the unmasked intrinsics.
        d = _mm512_add_epi32(d, _mm512_maskz_alignr_epi32(all, d, zero, 15));
        d = _mm512_add_epi32(d, _mm512_maskz_alignr_epi32(all, d, zero, 14));
        d = _mm512_add_epi32(d, _mm512_maskz_alignr_epi32(all, d, zero, 12));
        d = _mm512_add_epi32(d, _mm512_maskz_alignr_epi32(all, d, zero, 8));
        const __m512i sums = _mm512_add_epi32(d, carry);
        carry = _mm512_maskz_permutexvar_epi32(all, lastLane, sums);
        // (2S + N) * multiplier >> shift: even lanes from the low halves of
        // the 64-bit lanes, odd lanes from the high halves.
        const __m512i x = _mm512_add_epi32(_mm512_add_epi32(sums, sums), vArea);
        const __m512i even = _mm512_maskz_mul_epu32(all8, x, vMultiplier);
        const __m512i odd = _mm512_maskz_mul_epu32(all8, _mm512_maskz_srli_epi64(all8, x, 32), vMultiplier);
        const __m512i q = _mm512_mask_blend_epi32(__mmask16(0xAAAA), _mm512_maskz_srl_epi64(all8, even, evenShift),
                                                  _mm512_maskz_srl_epi64(all8, odd, oddShift));
        _mm512_mask_cvtepi32_storeu_epi8(out + i, lanes, q);
    }
}

}  // namespace

CBoxPlan::CBoxPlan(int width, int height, int n, BoxKernel kernel)
    : m_width(width),
      m_height(height),
      m_n(n),
      m_half(n > 0 ? (n - 1) / 2 : 0),
      m_centralDefined(n > 0 && n <= width && n <= height),
      m_vector(kernel == BoxKernel::Best && n > 0 && n <= 256 && HasAvx512()),
      m_magic(n > 0 && n <= 256 ? CBoxMagic32::For(n) : CBoxMagic32{}),
      m_quotient(std::max(n, 1),
                 m_centralDefined && !m_vector ? static_cast<std::size_t>(width - 2 * m_half) * (height - 2 * m_half) : 0)
{
}

CBoxRows::CBoxRows(const CBoxPlan& plan, const std::uint8_t* const* rows, int firstRow)
    : m_plan(plan), m_rows(rows), m_y(firstRow)
{
    const int W = plan.m_width;
    const int H = plan.m_height;
    const int n = plan.m_n;
    const int h = plan.m_half;
    if (n <= 0 || W <= 0 || H <= 0)
        return;
    m_bandSum.assign(W, 0u);
    m_bandFirst = std::max(0, firstRow - h);
    m_bandLast = std::min(H - 1, firstRow + h);
    for (int r = m_bandFirst; r <= m_bandLast; ++r)
        MoveColumnSums(m_bandSum.data(), W, Row(r), nullptr);
    // For odd n the central mask rows are exactly the band rows.
    if (plan.m_centralDefined && n % 2 == 0) {
        m_centralSum.assign(W, 0u);
        m_top = std::clamp(firstRow - h, 0, H - n);
        for (int r = m_top; r < m_top + n; ++r)
            MoveColumnSums(m_centralSum.data(), W, Row(r), nullptr);
    }
}

void CBoxRows::Move(std::vector<std::uint32_t>& sums, int enter, int leave) const
{
    MoveColumnSums(sums.data(), static_cast<int>(sums.size()), enter >= 0 ? Row(enter) : nullptr,
                   leave >= 0 ? Row(leave) : nullptr);
}

void CBoxRows::Next(std::uint8_t* out)
{
    const CBoxPlan& plan = m_plan;
    const int width = plan.m_width;
    const int height = plan.m_height;
    const int size = plan.m_n;
    const int half = plan.m_half;
    const int y = m_y++;
    if (size <= 0) {
        std::memset(out, 0, static_cast<std::size_t>(width));
        return;
    }

    const int wantFirst = std::max(0, y - half);
    const int wantLast = std::min(height - 1, y + half);
    while (m_bandLast < wantLast || m_bandFirst < wantFirst) {
        const int enter = m_bandLast < wantLast ? ++m_bandLast : -1;
        const int leave = m_bandFirst < wantFirst ? m_bandFirst++ : -1;
        Move(m_bandSum, enter, leave);
    }
    const int bandRows = m_bandLast - m_bandFirst + 1;

    const bool centralRow = plan.m_centralDefined && y >= half && y < height - half;
    if (!centralRow) {
        BandMeans(m_bandSum.data(), width, half, bandRows, 0, width, out);
        return;
    }
    const std::uint32_t* c = m_bandSum.data();
    if (size % 2 == 0) {
        const int wantTop = std::min(y - half, height - size);
        while (m_top < wantTop) {
            Move(m_centralSum, m_top + size, m_top);
            ++m_top;
        }
        c = m_centralSum.data();
    }

    BandMeans(m_bandSum.data(), width, half, bandRows, 0, std::min(half, width), out);
    // The mask's first column m = x - half, held at width - size once the mask
    // reaches the right edge (even size repeats the last value).
    std::uint64_t S = 0;
    for (int j = 0; j < size; ++j)
        S += c[j];
    const int xEnd = width - half;
    const int slideEnd = half + (width - size);  // one past the last x whose mask starts at x - half
    int x = half;
    if (plan.m_vector) {
        // Columns half .. slideEnd: the first from S, then c[x - half + size - 1]
        // enters and c[x - half - 1] leaves at each step.
        const int count = slideEnd - half + 1;
        CentralMeansAvx512(c + size, c, count, static_cast<std::uint32_t>(S),
                           static_cast<std::uint32_t>(size) * static_cast<std::uint32_t>(size), plan.m_magic, out + half);
        x = slideEnd + 1;
    } else {
        const CBoxQuotient& divide = plan.m_quotient;
        if (const std::uint8_t* table = divide.Table()) {
            // Two running sums, one from each end of the row's first half
            // and second half, so the two dependency chains overlap.
            const int span = slideEnd - x;
            const int mid = x + span / 2;
            std::uint64_t S2 = 0;
            for (int j = 0; j < size; ++j)
                S2 += c[mid - half + j];
            const int pairs = mid - x;
            for (int k = 0; k < pairs; ++k) {
                const int x1 = x + k;
                const int x2 = mid + k;
                out[x1] = table[S];
                out[x2] = table[S2];
                S += c[x1 - half + size];
                S -= c[x1 - half];
                S2 += c[x2 - half + size];
                S2 -= c[x2 - half];
            }
            // The second half may hold one more position; S2 then carries on.
            x = mid + pairs;
            S = S2;
            for (; x < slideEnd; ++x) {
                out[x] = table[S];
                S += c[x - half + size];
                S -= c[x - half];
            }
        } else if (const std::uint64_t magic = divide.Magic()) {
            const std::uint64_t area = divide.Area();
            for (; x < slideEnd; ++x) {
                out[x] = static_cast<std::uint8_t>((static_cast<unsigned __int128>(magic) * (2 * S + area)) >> 64);
                S += c[x - half + size];
                S -= c[x - half];
            }
        } else {
            for (; x < slideEnd; ++x) {
                out[x] = divide(S);
                S += c[x - half + size];
                S -= c[x - half];
            }
        }
        for (; x < xEnd; ++x)
            out[x] = divide(S);
    }
    // Even size: the last central column repeats the one before it.
    for (; x < xEnd; ++x)
        out[x] = out[x - 1];
    BandMeans(m_bandSum.data(), width, half, bandRows, std::max(xEnd, half), width, out);
}

void StreamBoxMeansInPlace(std::uint8_t* pixels, int width, int height, std::span<const int> masks,
                           const std::function<BoxRowConsumer(int firstRow, int endRow)>& makeConsumer,
                           BoxKernel kernel, int bands)
{
    if (width <= 0 || height <= 0 || masks.empty())
        return;
    std::vector<CBoxPlan> plans;
    plans.reserve(masks.size());
    int below = 1;
    int above = 0;
    for (int n : masks) {
        plans.emplace_back(width, height, n, kernel);
        below = std::max(below, plans.back().Below());
        above = std::max(above, plans.back().Above());
    }
    const std::size_t W = static_cast<std::size_t>(width);
    auto rowOf = [&](int r) { return pixels + static_cast<std::size_t>(r) * W; };

    // Bands of at least a few mask heights, so the sums each band starts with
    // cost little beside the rows it streams.
    if (bands <= 0)
        bands = std::min(WorkerThreadCount(), std::max(1, height / std::max(64, 4 * (below + above))));
    bands = std::clamp(bands, 1, height);

    // The rows a band reads beyond its own are saved before any band starts
    // writing: its neighbours overwrite them.
    struct Band {
        int first, end;
        std::vector<std::uint8_t> saved;  // rows [first - below, first) then [end, end + above), clipped
    };
    std::vector<Band> split(bands);
    for (int b = 0; b < bands; ++b) {
        Band& band = split[b];
        band.first = static_cast<int>(static_cast<long long>(height) * b / bands);
        band.end = static_cast<int>(static_cast<long long>(height) * (b + 1) / bands);
        const int lowFirst = std::max(0, band.first - below);
        const int highEnd = std::min(height, band.end + above);
        band.saved.resize((static_cast<std::size_t>(band.first - lowFirst) + (highEnd - band.end)) * W);
        std::uint8_t* to = band.saved.data();
        for (int r = lowFirst; r < band.first; ++r, to += W)
            std::memcpy(to, rowOf(r), W);
        for (int r = band.end; r < highEnd; ++r, to += W)
            std::memcpy(to, rowOf(r), W);
    }

    ParallelForBands(bands, 1, [&](int bBegin, int bEnd) {
        for (int b = bBegin; b < bEnd; ++b) {
            const Band& band = split[b];
            // Where the original levels of every row are: the image, the saved
            // neighbour rows, or (once overwritten) a ring of the last rows.
            std::vector<const std::uint8_t*> rows(height);
            for (int r = 0; r < height; ++r)
                rows[r] = rowOf(r);
            const std::uint8_t* from = band.saved.data();
            for (int r = std::max(0, band.first - below); r < band.first; ++r, from += W)
                rows[r] = from;
            for (int r = band.end; r < std::min(height, band.end + above); ++r, from += W)
                rows[r] = from;
            // Row y is read again at most `below` rows later, as a leaving row.
            const int ringRows = below + 1;
            std::vector<std::uint8_t> ring(static_cast<std::size_t>(ringRows) * W);
            std::vector<std::uint8_t> meanRows(plans.size() * W);
            std::vector<const std::uint8_t*> means(plans.size());
            std::vector<CBoxRows> streams;
            streams.reserve(plans.size());
            for (std::size_t i = 0; i < plans.size(); ++i) {
                streams.emplace_back(plans[i], rows.data(), band.first);
                means[i] = meanRows.data() + i * W;
            }
            const BoxRowConsumer consume = makeConsumer(band.first, band.end);
            for (int y = band.first; y < band.end; ++y) {
                for (std::size_t i = 0; i < plans.size(); ++i)
                    streams[i].Next(meanRows.data() + i * W);
                std::uint8_t* keep = ring.data() + static_cast<std::size_t>(y % ringRows) * W;
                std::memcpy(keep, rowOf(y), W);
                rows[y] = keep;
                consume(y, means.data(), rowOf(y));
            }
        }
    });
}
