// JGACE: block-adaptive local contrast enhancement guided by just-noticeable differences.
//
// Every pixel is split into its W x W box mean M and the detail D = pixel - M
// and becomes ClampToByte(float(D * g + M)). The gain g is chosen per W x W
// block and spread bilinearly between block centres:
//  - flat blocks (few pixels with |G| at or above the edge threshold T) all get
//    KAPPA, which grows with the mean background gradient MEANG;
//  - detailed blocks get J / A when their mean visible detail amplitude A lies
//    below the visibility threshold J = exp(0.166 f) * JND0 * gamma at their
//    dominant spatial frequency f, else 1. f is in cycles per degree and so
//    depends on the viewing distance d (mm) and the pixel pitch of the screen
//    (core/screen_metrics.h).
//
// Rounding: everything is formed in double except the values stored as float
// (B, MEANG, the running sum s2, T, L, pitch, KAPPA, F, and each result before
// ClampToByte). jgace_stages.h lists each stage with its rounding points.
//
// Cases the rules leave open, and what happens here:
//  - Widths below 32 give W = 1: the 1 x 1 mean is the pixel itself, so D = 0
//    and any finite gain gives back the image. It is returned unchanged without
//    computing anything; GainRow gives each pixel the gain of its own one-pixel
//    block there instead of dividing by the zero span W - 1.
//  - Images lower than W (BY = 0) have no complete block, nothing to take a gain
//    from: they are returned unchanged. BX = 0 only for an empty image (W never
//    exceeds a positive width); it is returned unchanged too.
//  - Without background blocks MEANG would be 0 / 0. With at least one block
//    there always is one: the bin of the first peak lies below V, and when the
//    climb runs to bin 255 the bottom-left block, which holds the zero border of
//    G, has a mean magnitude below 255. MEANG = 0 and sigma = 0 guard the case
//    anyway, so no division by zero can happen whatever the input.
//  - A block gain J / A beyond the float range (huge d, JND0 or gamma) would be
//    infinite, and an infinite gain turns a zero weight or a zero detail into
//    NaN, i.e. black pixels. It is kept at the largest float instead: pixels
//    with D = 0 keep M, the others saturate to 0 or 255. Results that fit in a
//    float are unaffected.
//
// Cost: linear in the pixels. BoxFilter is O(1) per pixel whatever W is, every
// other pass reads each pixel a bounded number of times, and D is formed where
// it is read instead of being stored. With several workers the two neighbourhood
// planes are made side by side, and block statistics and the output pass run in
// block rows or row bands; each value is computed by exactly one worker from the
// same inputs in the same order, so the bytes never depend on the thread count.
// The float running sum of stage 6 is the one sequential chain: its rounding
// depends on the order of the terms, so it is never split.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <immintrin.h>

#include "algorithms/detail/gain_lanes.h"
#include "algorithms/jgace_stages.h"
#include "core/box_rows.h"
#include "core/dib_image.h"
#include "core/gradient_row.h"
#include "core/parallel.h"

namespace jgace {

namespace {

// A double rounded to float, values beyond the float range held at +-FLT_MAX
// (an out-of-range conversion would be undefined; infinities would poison the
// gain field with NaN). NaN stays NaN.
float ToFloatSaturated(double value)
{
    if (value > FLT_MAX)
        return FLT_MAX;
    if (value < -FLT_MAX)
        return -FLT_MAX;
    return static_cast<float>(value);
}

const float* Row(const float* plane, int width, int y)
{
    return plane + static_cast<std::size_t>(y) * width;
}

}  // namespace

Grid MakeGrid(int width, int height)
{
    Grid grid;
    grid.width = std::max(width, 0);
    grid.height = std::max(height, 0);
    grid.W = grid.width / 16;
    if (grid.W % 2 == 0)
        grid.W += 1;
    grid.h = grid.W / 2;
    grid.BX = grid.width / grid.W;
    grid.BY = grid.height / grid.W;
    return grid;
}

std::vector<double> BlockGradientSums(const Grid& grid, const float* gradient)
{
    std::vector<double> sums(grid.BlockCount(), 0.0);
    const int W = grid.W;
    ParallelForBands(grid.BY, 1, [&](int byBegin, int byEnd) {
        std::vector<std::int64_t> acc(grid.BX);
        for (int by = byBegin; by < byEnd; ++by) {
            std::fill(acc.begin(), acc.end(), 0);
            for (int y = by * W; y < by * W + W; ++y) {
                const float* row = Row(gradient, grid.width, y);
                for (int bx = 0; bx < grid.BX; ++bx) {
                    const float* segment = row + static_cast<std::size_t>(bx) * W;
                    std::int64_t s = 0;
                    for (int x = 0; x < W; ++x)
                        s += static_cast<int>(segment[x]);
                    acc[bx] += s;
                }
            }
            for (int bx = 0; bx < grid.BX; ++bx)
                sums[grid.BlockIndex(bx, by)] = static_cast<double>(acc[bx]);
        }
    });
    return sums;
}

std::vector<float> StoredBlockSums(const std::vector<double>& sums)
{
    std::vector<float> B(sums.size());
    for (std::size_t k = 0; k < sums.size(); ++k)
        B[k] = static_cast<float>(sums[k]);
    return B;
}

int ActivityBin(double sum, std::int64_t area)
{
    const double a = std::fabs(sum / static_cast<double>(area));
    if (!(a < 256.0))  // cannot happen for |G| <= 255; keeps the index inside H
        return 255;
    int r = static_cast<int>(a);
    if (a - r > 0.5)
        r += 1;
    return std::min(r, 255);
}

std::array<int, 256> ActivityHistogram(const std::vector<double>& sums, std::int64_t area)
{
    std::array<int, 256> H{};
    for (const double sum : sums)
        H[ActivityBin(sum, area)] += 1;
    return H;
}

int ValleyLevel(const std::array<int, 256>& H)
{
    int i = 0;
    while (i < 255 && H[i + 1] >= H[i])
        ++i;
    while (i < 255 && H[i + 1] < H[i])
        ++i;
    return i;
}

bool IsBackgroundBlock(float blockSum, std::int64_t area, int V)
{
    const double magnitude = std::fabs(static_cast<double>(blockSum) / static_cast<double>(area));
    return std::trunc(magnitude) < V;
}

Background FindBackground(const std::vector<float>& B, std::int64_t area, int V)
{
    Background background;
    background.isBackground.assign(B.size(), 0);
    double acc = 0.0;
    for (std::size_t k = 0; k < B.size(); ++k) {
        if (IsBackgroundBlock(B[k], area, V)) {
            background.isBackground[k] = 1;
            acc += B[k];
            ++background.count;
        }
    }
    // No background block means no background level to measure: take 0 rather than 0 / 0.
    if (background.count > 0)
        background.meanGradient =
            static_cast<float>(acc / (static_cast<double>(background.count) * static_cast<double>(area)));
    return background;
}

float EdgeThreshold(const Grid& grid, const float* gradient, const Background& background)
{
    const double meanG = background.meanGradient;
    const int W = grid.W;
    float s2 = 0.0f;
    for (int by = 0; by < grid.BY; ++by) {
        for (int bx = 0; bx < grid.BX; ++bx) {
            if (!background.isBackground[grid.BlockIndex(bx, by)])
                continue;
            for (int y = by * W; y < by * W + W; ++y) {
                const float* row = Row(gradient, grid.width, y) + static_cast<std::size_t>(bx) * W;
                for (int x = 0; x < W; ++x) {
                    const double diff = meanG - std::fabs(static_cast<double>(row[x]));
                    s2 = static_cast<float>(s2 + diff * diff);
                }
            }
        }
    }
    double sigma = 0.0;
    if (background.count > 0)
        sigma = std::sqrt(s2 / (static_cast<double>(background.count) * static_cast<double>(grid.Area())));
    return static_cast<float>(std::fabs(meanG) + 1.5f * sigma);
}

std::vector<int> EdgeCounts(const Grid& grid, const float* gradient, float T)
{
    std::vector<int> C(grid.BlockCount(), 0);
    const int W = grid.W;
    ParallelForBands(grid.BY, 1, [&](int byBegin, int byEnd) {
        for (int by = byBegin; by < byEnd; ++by) {
            for (int bx = 0; bx < grid.BX; ++bx) {
                int count = 0;
                for (int y = by * W; y < by * W + W; ++y) {
                    const float* row = Row(gradient, grid.width, y) + static_cast<std::size_t>(bx) * W;
                    for (int x = 0; x < W; ++x)
                        count += std::fabs(row[x]) >= T ? 1 : 0;
                }
                C[grid.BlockIndex(bx, by)] = count;
            }
        }
    });
    return C;
}

namespace {

// The statistics of one block row's rows [y, y + 1) for the blocks' columns.
// g and next are the G rows y and y + 1 (next unused for the block's last row).
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void CrossingsOfRow(const std::int16_t* g, const std::int16_t* next, int W, Crossings& crossings)
{
    int horizontal = 0;
    int vertical = 0;
    for (int x = 0; x + 1 < W; ++x) {
        const bool positive = g[x] > 0;
        horizontal += positive != (g[x + 1] > 0) ? 1 : 0;
        vertical += positive != (next[x] > 0) ? 1 : 0;
    }
    crossings.horizontal += horizontal;
    crossings.vertical += vertical;
}

__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
int SumOfRow(const std::int16_t* g, int W)
{
    int sum = 0;
    for (int x = 0; x < W; ++x)
        sum += g[x];
    return sum;
}

// Eight interleaved tables, merged when the block row is done: neighbouring
// pixels often share a magnitude (mostly 0 or 1), and with fewer tables each
// count would wait for the store of the same table's previous count.
constexpr int kMagnitudeTables = 8;
using MagnitudeTables = std::array<std::array<std::uint32_t, 256>, kMagnitudeTables>;

void CountMagnitudes(const std::int16_t* g, int W, MagnitudeTables& tables)
{
    int x = 0;
    for (; x + kMagnitudeTables <= W; x += kMagnitudeTables)
        for (int t = 0; t < kMagnitudeTables; ++t)
            ++tables[t][std::abs(static_cast<int>(g[x + t]))];
    for (; x < W; ++x)
        ++tables[0][std::abs(static_cast<int>(g[x]))];
}

}  // namespace

BlockStatistics GatherBlockStatistics(const Grid& grid, const std::uint8_t* pixels)
{
    BlockStatistics statistics;
    const std::size_t blocks = grid.BlockCount();
    statistics.gradientSums.assign(blocks, 0.0);
    statistics.crossings.assign(blocks, Crossings{});
    statistics.magnitudeCounts.assign(blocks, std::array<std::uint32_t, 256>{});
    ParallelForBands(grid.BY, 1, [&](int byBegin, int byEnd) {
        const int W = grid.W;
        const int BX = grid.BX;
        const int columns = BX * W;
        std::vector<std::int16_t> rowA(columns);
        std::vector<std::int16_t> rowB(columns);
        std::vector<std::int64_t> sums(BX);
        std::vector<MagnitudeTables> tables(BX);
        for (int by = byBegin; by < byEnd; ++by) {
            for (MagnitudeTables& t : tables)
                for (auto& table : t)
                    table.fill(0);
            const int y0 = by * W;
            std::int16_t* g = rowA.data();
            std::int16_t* next = rowB.data();
            GradientRow(pixels, grid.width, grid.height, y0, 0, columns, g);
            std::fill(sums.begin(), sums.end(), 0);
            const std::size_t first = grid.BlockIndex(0, by);
            for (int y = y0; y < y0 + W; ++y) {
                // The last row of a block starts no crossing.
                const bool starts = y < y0 + W - 1;
                if (starts)
                    GradientRow(pixels, grid.width, grid.height, y + 1, 0, columns, next);
                for (int bx = 0; bx < BX; ++bx) {
                    const std::int16_t* segment = g + static_cast<std::size_t>(bx) * W;
                    sums[bx] += SumOfRow(segment, W);
                    CountMagnitudes(segment, W, tables[bx]);
                    if (starts)
                        CrossingsOfRow(segment, next + static_cast<std::size_t>(bx) * W, W, statistics.crossings[first + bx]);
                }
                std::swap(g, next);
            }
            for (int bx = 0; bx < BX; ++bx) {
                statistics.gradientSums[first + bx] = static_cast<double>(sums[bx]);
                std::array<std::uint32_t, 256>& counts = statistics.magnitudeCounts[first + bx];
                counts.fill(0);
                for (const auto& table : tables[bx])
                    for (int m = 0; m < 256; ++m)
                        counts[m] += table[m];
            }
        }
    });
    return statistics;
}

bool AddCountedTerms(float& s2, const std::array<double, 256>& terms, const std::array<std::uint32_t, 256>& counts)
{
    if (!(s2 >= FLT_MIN) || !(s2 <= FLT_MAX / 4))
        return false;
    int exponent = 0;
    std::frexp(s2, &exponent);  // s2 = f * 2^exponent, 0.5 <= f < 1
    const double low = std::ldexp(1.0, exponent - 1);
    const double high = 2 * low;
    const double u = std::ldexp(1.0, exponent - 1 - 23);
    const double even = low;
    const double odd = low + u;
    std::int64_t steps = 0;
    double largest = 0.0;
    for (int m = 0; m < 256; ++m) {
        if (counts[m] == 0)
            continue;
        const double t = terms[m];
        // The measuring steps must stay inside the binade too.
        if (!(t >= 0.0) || !(t < low - 2 * u))
            return false;
        const double fromEven = static_cast<double>(static_cast<float>(even + t)) - even;
        const double fromOdd = static_cast<double>(static_cast<float>(odd + t)) - odd;
        if (fromEven != fromOdd)
            return false;  // a tie, decided by the parity of s2 / u
        steps += static_cast<std::int64_t>(counts[m]) * static_cast<std::int64_t>(fromEven / u);
        largest = std::max(largest, t);
    }
    // Every partial sum lies between s2 and the final one; each step from there
    // must end below the next binade.
    const double total = static_cast<double>(s2) + static_cast<double>(steps) * u;
    if (!(total + largest < high - 2 * u))
        return false;
    s2 = static_cast<float>(total);  // a multiple of u inside the binade: exact
    return true;
}

TermChain::TermChain(const std::array<double, 256>& terms) : m_terms(terms) {}

void TermChain::Measure(int exponent)
{
    m_exponent = exponent;
    const double low = std::ldexp(1.0, exponent - 1);
    const double high = 2 * low;
    m_unit = std::ldexp(1.0, exponent - 1 - 23);
    const double even = low;
    const double odd = low + m_unit;
    m_ties = false;
    for (int m = 0; m < 256; ++m) {
        const double t = m_terms[m];
        if (!(t >= 0.0) || !(t < low - 2 * m_unit)) {
            m_limit[m] = INT64_MIN;  // never taken in units
            m_steps[m] = m_steps[256 + m] = 0;
            continue;
        }
        m_steps[m] = static_cast<std::int64_t>((static_cast<double>(static_cast<float>(even + t)) - even) / m_unit);
        m_steps[256 + m] = static_cast<std::int64_t>((static_cast<double>(static_cast<float>(odd + t)) - odd) / m_unit);
        m_ties = m_ties || m_steps[m] != m_steps[256 + m];
        // In units: a sum S * u may take the step while S * u + t < high - 2u,
        // i.e. S < ceil((high - 2u - t) / u). The rounding of that quotient is
        // far inside the margin of 2u.
        m_limit[m] = static_cast<std::int64_t>(std::ceil((high - 2 * m_unit - t) / m_unit));
    }
}

float TermChain::Add(float s2, const std::int16_t* values, int count)
{
    int i = 0;
    while (i < count) {
        if (s2 >= FLT_MIN && s2 <= FLT_MAX / 4) {
            int exponent = 0;
            std::frexp(s2, &exponent);
            if (exponent != m_exponent)
                Measure(exponent);
            // s2 / u is a whole number below 2^24; each step adds the measured
            // spacings while it stays inside the binade.
            std::int64_t S = static_cast<std::int64_t>(s2 / m_unit);
            const std::int64_t* steps = m_steps.data();
            const std::int64_t* limit = m_limit.data();
            if (m_ties) {
                for (; i < count; ++i) {
                    const int m = std::abs(static_cast<int>(values[i]));
                    if (S >= limit[m])
                        break;
                    // Indexed by the parity, not branched on it: it changes at random.
                    S += steps[((S & 1) << 8) | m];
                }
            } else {
                // No term ties at this binade: the parity never matters, and the
                // step no longer waits for the sum.
                for (; i < count; ++i) {
                    const int m = std::abs(static_cast<int>(values[i]));
                    if (S >= limit[m])
                        break;
                    S += steps[m];
                }
            }
            s2 = static_cast<float>(static_cast<double>(S) * m_unit);
            if (i == count)
                break;
        }
        // Small, huge or leaving the binade: the step itself.
        s2 = static_cast<float>(s2 + m_terms[std::abs(static_cast<int>(values[i]))]);
        ++i;
    }
    return s2;
}

float EdgeThresholdFromCounts(const Grid& grid, const std::uint8_t* pixels, const BlockStatistics& statistics,
                              const Background& background)
{
    const double meanG = background.meanGradient;
    std::array<double, 256> terms{};
    for (int m = 0; m < 256; ++m) {
        const double diff = meanG - std::fabs(static_cast<double>(m));
        terms[m] = diff * diff;
    }
    const int W = grid.W;
    std::vector<std::int16_t> row(W);
    TermChain chain(terms);
    float s2 = 0.0f;
    for (int by = 0; by < grid.BY; ++by) {
        for (int bx = 0; bx < grid.BX; ++bx) {
            const std::size_t k = grid.BlockIndex(bx, by);
            if (!background.isBackground[k])
                continue;
            if (AddCountedTerms(s2, terms, statistics.magnitudeCounts[k]))
                continue;
            for (int y = by * W; y < by * W + W; ++y) {
                GradientRow(pixels, grid.width, grid.height, y, bx * W, bx * W + W, row.data());
                s2 = chain.Add(s2, row.data(), W);
            }
        }
    }
    double sigma = 0.0;
    if (background.count > 0)
        sigma = std::sqrt(s2 / (static_cast<double>(background.count) * static_cast<double>(grid.Area())));
    return static_cast<float>(std::fabs(meanG) + 1.5f * sigma);
}

std::vector<int> EdgeCountsFromCounts(const BlockStatistics& statistics, float T)
{
    std::vector<int> C(statistics.magnitudeCounts.size(), 0);
    for (std::size_t k = 0; k < C.size(); ++k) {
        std::int64_t count = 0;
        for (int m = 0; m < 256; ++m)
            count += static_cast<float>(m) >= T ? statistics.magnitudeCounts[k][m] : 0;
        C[k] = static_cast<int>(count);
    }
    return C;
}

float FlatLimit(int cmax)
{
    return static_cast<float>(cmax * static_cast<double>(0.1f));
}

std::vector<std::uint8_t> FlatBlocks(const std::vector<int>& C)
{
    const int cmax = C.empty() ? 0 : *std::max_element(C.begin(), C.end());
    const float L = FlatLimit(cmax);
    std::vector<std::uint8_t> flat(C.size());
    for (std::size_t k = 0; k < C.size(); ++k)
        flat[k] = static_cast<double>(C[k]) < L ? 1 : 0;
    return flat;
}

float PixelPitch(const ScreenMetrics& metrics)
{
    const ScreenMetrics used = IsValidScreenMetrics(metrics) ? metrics : ScreenMetrics{};
    return static_cast<float>(static_cast<double>(static_cast<float>(used.widthMm)) / used.widthPx);
}

float FlatGain(float meanGradient)
{
    return static_cast<float>((std::pow(0.4 * meanGradient, 4.0) + 1.0) + 0.6);
}

Crossings CountCrossings(const Grid& grid, const float* gradient, int bx, int by)
{
    Crossings crossings;
    const int x0 = bx * grid.W;
    const int y0 = by * grid.W;
    for (int y = y0; y <= y0 + grid.W - 2; ++y) {
        const float* row = Row(gradient, grid.width, y);
        const float* above = Row(gradient, grid.width, y + 1);
        for (int x = x0; x <= x0 + grid.W - 2; ++x) {
            const bool positive = row[x] > 0.0f;
            crossings.horizontal += positive != (row[x + 1] > 0.0f) ? 1 : 0;
            crossings.vertical += positive != (above[x] > 0.0f) ? 1 : 0;
        }
    }
    return crossings;
}

// Functions other files call are plain wrappers around their cloned bodies:
// Clang gives a cloned function's dispatcher a symbol of its own, which a
// caller in another file would not find.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
static double DetailAmplitudeClones(const Grid& grid, const Planes& planes, int bx, int by, float T)
{
    // |D| is a whole number, so |D| > T exactly when |D| > floor(T); the integer
    // limit keeps the loop free of branches. A NaN T admits nothing, like the comparison.
    const int limit = !(T < 255.0f) ? 255 : (T < 0.0f ? -1 : static_cast<int>(std::floor(T)));
    const int x0 = bx * grid.W;
    const int y0 = by * grid.W;
    // The amplitudes are integers, so an integer sum equals the double sum exactly.
    std::int64_t n = 0;
    std::int64_t s = 0;
    for (int y = y0; y < y0 + grid.W; ++y) {
        const std::size_t rowStart = static_cast<std::size_t>(y) * planes.width + x0;
        const std::uint8_t* pixels = planes.pixels + rowStart;
        const std::uint8_t* mean = planes.mean + rowStart;
        int rowCount = 0;
        int rowSum = 0;
        for (int x = 0; x < grid.W; ++x) {
            const int magnitude = std::abs(static_cast<int>(pixels[x]) - static_cast<int>(mean[x]));
            const int above = magnitude > limit ? 1 : 0;
            rowCount += above;
            rowSum += above * magnitude;
        }
        n += rowCount;
        s += rowSum;
    }
    return n == 0 ? 1.0 : static_cast<double>(s) / static_cast<double>(n);
}

double DetailAmplitudePortable(const Grid& grid, const Planes& planes, int bx, int by, float T)
{
    return DetailAmplitudeClones(grid, planes, bx, by, T);
}

bool DetailAmplitudeAvx512Supported()
{
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return supported;
}

// The same counts 64 pixels at a time: |D| as the difference of the larger and
// the smaller byte, a mask of those above the limit, its population for n and
// byte sums of the masked magnitudes for s.
__attribute__((target("avx512f,avx512bw")))
double DetailAmplitudeAvx512(const Grid& grid, const Planes& planes, int bx, int by, float T)
{
    const int limit = !(T < 255.0f) ? 255 : (T < 0.0f ? -1 : static_cast<int>(std::floor(T)));
    if (limit >= 255)
        return 1.0;  // no magnitude exceeds 255
    const int W = grid.W;
    const int x0 = bx * W;
    const int y0 = by * W;
    const __m512i bound = _mm512_set1_epi8(static_cast<char>(limit < 0 ? 0 : limit));
    const bool all = limit < 0;
    std::int64_t n = 0;
    __m512i sums = _mm512_setzero_si512();
    for (int y = y0; y < y0 + W; ++y) {
        const std::size_t rowStart = static_cast<std::size_t>(y) * planes.width + x0;
        const std::uint8_t* pixels = planes.pixels + rowStart;
        const std::uint8_t* mean = planes.mean + rowStart;
        for (int x = 0; x < W; x += 64) {
            const __mmask64 live = W - x >= 64 ? ~__mmask64{0} : ((__mmask64{1} << (W - x)) - 1);
            const __m512i p = _mm512_maskz_loadu_epi8(live, pixels + x);
            const __m512i m = _mm512_maskz_loadu_epi8(live, mean + x);
            const __m512i magnitude = _mm512_sub_epi8(_mm512_max_epu8(p, m), _mm512_min_epu8(p, m));
            const __mmask64 above = all ? live : (_mm512_cmpgt_epu8_mask(magnitude, bound) & live);
            n += __builtin_popcountll(above);
            sums = _mm512_add_epi64(sums, _mm512_sad_epu8(_mm512_maskz_mov_epi8(above, magnitude), _mm512_setzero_si512()));
        }
    }
    const std::int64_t s = _mm512_reduce_add_epi64(sums);
    return n == 0 ? 1.0 : static_cast<double>(s) / static_cast<double>(n);
}

double DetailAmplitude(const Grid& grid, const Planes& planes, int bx, int by, float T)
{
    return DetailAmplitudeAvx512Supported() ? DetailAmplitudeAvx512(grid, planes, bx, by, T)
                                            : DetailAmplitudePortable(grid, planes, bx, by, T);
}

double DominantFrequency(const Crossings& crossings, std::int64_t area, int d, float pitch)
{
    const double z = crossings.horizontal > crossings.vertical
                         ? crossings.horizontal / static_cast<double>(area)
                         : crossings.vertical / static_cast<double>(area);
    return ((z * d) * 3.14) / (static_cast<double>(pitch) * 360.0f);
}

double VisibilityThreshold(double f, int JND0, float gamma)
{
    return (std::exp(0.166 * f) * JND0) * static_cast<double>(gamma);
}

float DetailedBlockGain(double A, double J)
{
    return A < J ? ToFloatSaturated(J / A) : 1.0f;
}

std::vector<float> BlockGains(const Grid& grid, const Planes& planes, const std::vector<std::uint8_t>& flat, float T,
                              float kappa, const Parameters& parameters, const std::vector<Crossings>* crossings)
{
    std::vector<float> F(grid.BlockCount(), 1.0f);
    ParallelForBands(grid.BY, 1, [&](int byBegin, int byEnd) {
        for (int by = byBegin; by < byEnd; ++by) {
            for (int bx = 0; bx < grid.BX; ++bx) {
                const std::size_t k = grid.BlockIndex(bx, by);
                if (flat[k]) {
                    F[k] = kappa;
                    continue;
                }
                const Crossings counted =
                    crossings ? (*crossings)[k] : CountCrossings(grid, planes.gradient, bx, by);
                const double A = DetailAmplitude(grid, planes, bx, by, T);
                const double f = DominantFrequency(counted, grid.Area(), parameters.d, parameters.pitch);
                const double J = VisibilityThreshold(f, parameters.JND0, parameters.gamma);
                F[k] = DetailedBlockGain(A, J);
            }
        }
    });
    return F;
}

namespace {

// The gains of one strip between two block centres, a = 0 .. W - 1, by the
// strip rule of GainRow below. Every value is an exact small integer before the
// products, so the lanes of a vector clone give the same doubles.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void StripRow(int W, double from, double to, double* out)
{
    const double span = static_cast<float>(W - 1);
    for (int a = 0; a < W; ++a) {
        const double b = static_cast<float>(W - 1 - a);
        out[a] = (b * from + static_cast<double>(static_cast<float>(a)) * to) / span;
    }
}

// One row j of a tile: integer weights, the four terms added in this order,
// divided by their integer sum (W - 1)^2. The weights are products of whole
// numbers whose product stays below 2^53, exact in double, so forming them in double gives the same
// values as forming them in integers, and lets the row run in vector lanes.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void TileRowClones(int W, int j, double f00, double f01, double f10, double f11, double* out)
{
    const double last = W - 1;
    const double weightSum = last * last;
    const double up = j;
    const double down = last - up;
    for (int i = 0; i < W; ++i) {
        const double right = i;
        const double left = last - right;
        const double w00 = left * down;
        const double w01 = right * down;
        const double w10 = left * up;
        const double w11 = right * up;
        out[i] = (((w01 * f01 + w11 * f11) + w00 * f00) + w10 * f10) / weightSum;
    }
}

}  // namespace

void TileRow(int W, int j, double f00, double f01, double f10, double f11, double* out)
{
    TileRowClones(W, j, f00, f01, f10, f11, out);
}

bool TileRowAvx512Supported()
{
    static const bool supported = __builtin_cpu_supports("avx512f");
    return supported;
}

// TileRow in 8 double lanes (the compiler's clone uses 4): the divisions set
// the pace, and a 512-bit division does twice the lanes in about the same time.
// The same operations in the same order; the last lanes are masked.
__attribute__((target("avx512f")))
void TileRowAvx512(int W, int j, double f00, double f01, double f10, double f11, double* out)
{
    const double lastScalar = W - 1;
    const __m512d last = _mm512_set1_pd(lastScalar);
    const __m512d weightSum = _mm512_set1_pd(lastScalar * lastScalar);
    const __m512d up = _mm512_set1_pd(static_cast<double>(j));
    const __m512d down = _mm512_set1_pd(lastScalar - j);
    const __m512d F00 = _mm512_set1_pd(f00);
    const __m512d F01 = _mm512_set1_pd(f01);
    const __m512d F10 = _mm512_set1_pd(f10);
    const __m512d F11 = _mm512_set1_pd(f11);
    const __m512d lanes = _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7);
    for (int i = 0; i < W; i += 8) {
        const __mmask8 live = W - i >= 8 ? static_cast<__mmask8>(0xFF) : static_cast<__mmask8>((1u << (W - i)) - 1);
        const __m512d right = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(i)), lanes);
        const __m512d left = _mm512_sub_pd(last, right);
        const __m512d w00 = _mm512_mul_pd(left, down);
        const __m512d w01 = _mm512_mul_pd(right, down);
        const __m512d w10 = _mm512_mul_pd(left, up);
        const __m512d w11 = _mm512_mul_pd(right, up);
        const __m512d num = _mm512_add_pd(
            _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(w01, F01), _mm512_mul_pd(w11, F11)), _mm512_mul_pd(w00, F00)),
            _mm512_mul_pd(w10, F10));
        _mm512_mask_storeu_pd(out + i, live, _mm512_div_pd(num, weightSum));
    }
}

void GainRow(const Grid& grid, const std::vector<float>& F, int y, double* gains)
{
    const int W = grid.W;
    const int h = grid.h;
    auto gain = [&](int bx, int by) { return static_cast<double>(F[grid.BlockIndex(bx, by)]); };

    if (W == 1) {
        // Every pixel is a block of its own (BX = width, BY = height) and the span
        // W - 1 is zero: each pixel takes its own block's gain.
        for (int x = 0; x < grid.width; ++x)
            gains[x] = gain(x, y);
        return;
    }

    const int xr = grid.Xr();
    const int yb = grid.Yb();
    const double span = static_cast<float>(W - 1);
    // Interpolation along a strip: a and b as floats, products in double, the b term first.
    auto strip = [&](int a, double from, double to) {
        const double b = static_cast<float>(W - 1 - a);
        return (b * from + static_cast<double>(static_cast<float>(a)) * to) / span;
    };

    if (y < h || y >= yb) {
        // Bottom or top band: corners at both ends, strips between the block centres.
        const int by = y < h ? 0 : grid.BY - 1;
        const double first = gain(0, by);
        const double last = gain(grid.BX - 1, by);
        for (int x = 0; x < h; ++x)
            gains[x] = first;
        for (int bx = 0; bx + 1 < grid.BX; ++bx) {
            const double from = gain(bx, by);
            const double to = gain(bx + 1, by);
            StripRow(W, from, to, gains + static_cast<std::size_t>(bx) * W + h);
        }
        for (int x = xr; x < grid.width; ++x)
            gains[x] = last;
        return;
    }

    // Between the centres of block rows by and by + 1: left strip, tiles, right strip.
    const int by = (y - h) / W;
    const int j = (y - h) - by * W;
    const double left = strip(j, gain(0, by), gain(0, by + 1));
    const double right = strip(j, gain(grid.BX - 1, by), gain(grid.BX - 1, by + 1));
    for (int x = 0; x < h; ++x)
        gains[x] = left;
    const bool wide = TileRowAvx512Supported();
    for (int bx = 0; bx + 1 < grid.BX; ++bx) {
        double* out = gains + static_cast<std::size_t>(bx) * W + h;
        if (wide)
            TileRowAvx512(W, j, gain(bx, by), gain(bx + 1, by), gain(bx, by + 1), gain(bx + 1, by + 1), out);
        else
            TileRow(W, j, gain(bx, by), gain(bx + 1, by), gain(bx, by + 1), gain(bx + 1, by + 1), out);
    }
    for (int x = xr; x < grid.width; ++x)
        gains[x] = right;
}

std::uint8_t EnhancedLevel(int D, double g, std::uint8_t M)
{
    return ClampToByte(ToFloatSaturated(D * g + M));
}

// EnhancedLevel over one row, in a form the compiler vectorises: the value is
// first held inside [-1, 256] (NaN passes through), which changes no result
// of ClampToByte and keeps the float conversion in range, then the branch-free
// ClampToByte takes it.
__attribute__((target_clones("avx2", "default")))
static void EnhanceRowPortableClones(const std::uint8_t* source, const std::uint8_t* mean, const double* gains, int width,
                        std::uint8_t* out)
{
    for (int x = 0; x < width; ++x) {
        const int D = static_cast<int>(source[x]) - static_cast<int>(mean[x]);
        double value = D * gains[x] + mean[x];
        value = value < -1.0 ? -1.0 : value;
        value = value > 256.0 ? 256.0 : value;
        out[x] = ClampToByteSelect(static_cast<float>(value));
    }
}

void EnhanceRowPortable(const std::uint8_t* source, const std::uint8_t* mean, const double* gains, int width,
                        std::uint8_t* out)
{
    EnhanceRowPortableClones(source, mean, gains, width, out);
}

bool EnhanceRowAvx512Supported()
{
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    return supported;
}

// The same, 16 pixels at a time in explicit AVX-512 lanes (algorithms/detail/
// gain_lanes.h): what the compiler made of the loop above spent most of its
// time moving comparison masks about.
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))
void EnhanceRowAvx512(const std::uint8_t* source, const std::uint8_t* mean, const double* gains, int width,
                      std::uint8_t* out)
{
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i levels =
            DetailGainLevels(source + x, mean + x, _mm512_loadu_pd(gains + x), _mm512_loadu_pd(gains + x + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), levels);
    }
    if (x < width)
        EnhanceRowPortable(source + x, mean + x, gains + x, width - x, out + x);
}

void ApplyGains(const Grid& grid, const Planes& planes, const std::vector<float>& F, std::uint8_t* out)
{
    const int width = grid.width;
    ParallelForBands(grid.height, 16, [&](int yBegin, int yEnd) {
        std::vector<double> gains(width);
        // The rows below the first block centres share one gain row, and so do
        // the rows from the last centres up: it is made once for each.
        const int h = grid.h;
        const int yb = grid.Yb();
        int shared = -1;  // 0 below, 1 above, -1 none held
        for (int y = yBegin; y < yEnd; ++y) {
            const int band = grid.W == 1 ? -1 : (y < h ? 0 : (y >= yb ? 1 : -1));
            if (band < 0 || band != shared)
                GainRow(grid, F, y, gains.data());
            shared = band;
            const std::size_t rowStart = static_cast<std::size_t>(y) * width;
            if (EnhanceRowAvx512Supported())
                EnhanceRowAvx512(planes.pixels + rowStart, planes.mean + rowStart, gains.data(), width, out + rowStart);
            else
                EnhanceRowPortable(planes.pixels + rowStart, planes.mean + rowStart, gains.data(), width, out + rowStart);
        }
    });
}

}  // namespace jgace

int CDibImage::Jgace(int d, int JND0, float gamma)
{
    return Jgace(d, JND0, gamma, nullptr);
}

int CDibImage::Jgace(int d, int JND0, float gamma, const CDibImage* unchanged)
{
    if (!m_pBits)
        return 1;
    const jgace::Grid grid = jgace::MakeGrid(m_nWidth, m_nHeight);
    // W = 1: D = 0 everywhere, the image is its own result. BY = 0 (or BX = 0):
    // no complete block to take a gain from. Both return the image unchanged.
    if (grid.W == 1 || grid.BX == 0 || grid.BY == 0)
        return 1;

    // With an unchanged copy of the pixels at hand (the command pipeline's
    // source), the pixels are read from it and the mean plane is made in this
    // image's own buffer, which the output then overwrites row by row: no
    // second whole-image plane, and none of the page faults of fresh memory.
    const bool counted = jgace::UseBlockStatistics(grid);
    const std::uint8_t* original = counted ? SamePixelsIn(unchanged) : nullptr;
    const bool borrowed = original != nullptr;
    const std::uint8_t* pixels = borrowed ? original : m_pBits.get();

    // The mean plane and the gradient statistics (or plane) are independent;
    // with more than one worker they are made side by side.
    std::unique_ptr<std::uint8_t[]> mean;
    std::unique_ptr<float[]> gradient;
    jgace::BlockStatistics statistics;
    ParallelForBands(2, 1, [&](int begin, int end) {
        for (int task = begin; task < end; ++task) {
            if (task == 0 && borrowed) {
                const int masks[] = {grid.W};
                const int width = m_nWidth;
                StreamBoxMeansInPlace(m_pBits.get(), width, m_nHeight, masks, [width](int, int) -> BoxRowConsumer {
                    return [width](int, const std::uint8_t* const* means, std::uint8_t* row) {
                        std::memcpy(row, means[0], static_cast<std::size_t>(width));
                    };
                });
            } else if (task == 0) {
                mean = BoxFilter(grid.W);
            } else if (counted) {
                statistics = jgace::GatherBlockStatistics(grid, pixels);
            } else {
                gradient = GradientMap();
            }
        }
    });
    jgace::Planes planes;
    planes.width = m_nWidth;
    planes.height = m_nHeight;
    planes.pixels = pixels;
    planes.mean = borrowed ? m_pBits.get() : mean.get();
    planes.gradient = gradient.get();

    const std::int64_t area = grid.Area();
    const std::vector<double> sums =
        counted ? std::move(statistics.gradientSums) : jgace::BlockGradientSums(grid, planes.gradient);
    const int V = jgace::ValleyLevel(jgace::ActivityHistogram(sums, area));
    const jgace::Background background = jgace::FindBackground(jgace::StoredBlockSums(sums), area, V);
    const float T = counted ? jgace::EdgeThresholdFromCounts(grid, planes.pixels, statistics, background)
                            : jgace::EdgeThreshold(grid, planes.gradient, background);
    const std::vector<std::uint8_t> flat = jgace::FlatBlocks(
        counted ? jgace::EdgeCountsFromCounts(statistics, T) : jgace::EdgeCounts(grid, planes.gradient, T));

    jgace::Parameters parameters;
    parameters.d = d;
    parameters.JND0 = JND0;
    parameters.gamma = gamma;
    parameters.pitch = jgace::PixelPitch(CurrentScreenMetrics());
    const float kappa = jgace::FlatGain(background.meanGradient);
    const std::vector<float> F = jgace::BlockGains(grid, planes, flat, T, kappa, parameters,
                                                   counted ? &statistics.crossings : nullptr);

    jgace::ApplyGains(grid, planes, F, m_pBits.get());
    return 1;
}
