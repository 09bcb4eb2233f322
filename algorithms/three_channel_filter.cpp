// Three-channel filtering: a weighted mix of the image and its 7 x 7 and
// 25 x 25 local means, optionally followed by a smoothed nonlinear stretch.
//
// Mix: with p the pixel, b its 7 x 7 mean and a its 25 x 25 mean,
//   value = ((p*K + a*K2) + b*K1) / S,  S = float(K + K1 + K2),
// in double, stored as float, then ClampToByte. Negative weights on the means
// take part of the local background away at two scales. S = 0 is allowed: the
// infinities that follow clamp to 255 or 0.
//
// Stretch: a float table over the gray levels maps the occupied range lo..hi
// onto 0..255 with the darkest 25 x 25 mean (mn) going to BLOW and the brightest
// (mx) to BHI, piecewise linearly; below lo 0, above hi the identity. The table
// is then smoothed in place by a 25-entry running mean (13 at the ends) whose
// window already holds the smoothed entries below the current level.
//
// When the brightest mean equals the top level (mx == hi; any uniform image,
// or a uniform 25 x 25 patch at the top level), the upper segment is the single
// level hi and its slope is 0 / 0. That level takes BHI, the value the brightest
// local mean is meant to reach: a not-a-number there would spread through the
// smoothing and turn the 25 brightest levels black.
#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include <immintrin.h>

#include "algorithms/apply_table.h"
#include "algorithms/three_channel_stretch.h"
#include "core/box_rows.h"
#include "core/dib_image.h"
#include "core/messages.h"
#include "core/parallel.h"

namespace tcf_detail {

void BuildStretchTable(int lo, int hi, int mn, int mx, int blow, int bhi, std::array<float, 256>& T)
{
    for (int g = 0; g < 256; ++g) {
        double value;
        if (g < lo)
            value = 0.0;
        else if (g < mn)
            value = static_cast<double>((g - lo) * blow) / (mn - lo);
        else if (g < mx)
            value = blow + static_cast<double>((bhi - blow) * (g - mn)) / (mx - mn);
        else if (g <= hi)
            value = (mx == hi) ? static_cast<double>(bhi) : bhi + static_cast<double>((255 - bhi) * (g - mx)) / (hi - mx);
        else
            value = g;
        T[g] = static_cast<float>(value);
    }
}

void SmoothTableInPlace(std::array<float, 256>& T)
{
    for (int g = 0; g < 256; ++g) {
        const int first = std::max(0, g - 12);
        const int last = std::min(255, g + 12);
        double sum = 0.0;
        for (int k = first; k <= last; ++k)
            sum += T[k];
        T[g] = static_cast<float>(sum / (last - first + 1));
    }
}

// The division dominates the mix, so where the processor has AVX2 a clone of
// this function divides four doubles at once; the arithmetic is the same IEEE
// double arithmetic either way. The value is held inside [-1, 256] before the
// float conversion: no result of ClampToByte changes (NaN still gives 0, the
// infinities of a zero weight sum 0 and 255) and the conversion stays in range.
// Functions other files call are plain wrappers around their cloned bodies:
// Clang gives a cloned function's dispatcher a symbol of its own, which a
// caller in another file would not find.
__attribute__((target_clones("avx512f", "avx2", "default")))
static void MixChannelsClones(std::uint8_t* pixels, const std::uint8_t* mean7, const std::uint8_t* mean25, std::size_t count,
                 double K, double K1, double K2, double S)
{
    for (std::size_t i = 0; i < count; ++i) {
        double value = ((pixels[i] * K + mean25[i] * K2) + mean7[i] * K1) / S;
        value = value < -1.0 ? -1.0 : value;
        value = value > 256.0 ? 256.0 : value;
        pixels[i] = ClampToByteSelect(static_cast<float>(value));
    }
}

void MixChannels(std::uint8_t* pixels, const std::uint8_t* mean7, const std::uint8_t* mean25, std::size_t count,
                 double K, double K1, double K2, double S)
{
    MixChannelsClones(pixels, mean7, mean25, count, K, K1, K2, S);
}

// The same mix with a multiplication by 1 / S in place of the division, in
// 8 double lanes. The product differs from the quotient by less than 2^-42 for
// every value that does not clamp, and rounding that quotient to float moves
// it by at most 2^-16, so wherever the product lies more than 2^-15 from a
// half-way level both land on the same gray level. Lanes nearer than that (and
// not-a-number or infinite products) take the division, as the rule has it.
__attribute__((target("avx512f,avx512vl")))
static void MixChannelsAvx512(std::uint8_t* pixels, const std::uint8_t* mean7, const std::uint8_t* mean25,
                              std::size_t count, double K, double K1, double K2, double S)
{
    const __m512d vK = _mm512_set1_pd(K), vK1 = _mm512_set1_pd(K1), vK2 = _mm512_set1_pd(K2);
    const __m512d inverse = _mm512_set1_pd(1.0 / S);
    const __m512d half = _mm512_set1_pd(0.5);
    const __m512d margin = _mm512_set1_pd(1.0 / 32768.0);
    const __m512d low = _mm512_setzero_pd(), high = _mm512_set1_pd(255.0);
    const __m512i absMask = _mm512_set1_epi64(0x7FFFFFFFFFFFFFFF);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m512d p = _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels + i))));
        const __m512d b = _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(mean7 + i))));
        const __m512d a = _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(mean25 + i))));
        const __m512d sum = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(p, vK), _mm512_mul_pd(a, vK2)), _mm512_mul_pd(b, vK1));
        const __m512d value = _mm512_mul_pd(sum, inverse);
        const __m512d below = _mm512_roundscale_pd(value, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m512d offset = _mm512_castsi512_pd(
            _mm512_and_si512(_mm512_castpd_si512(_mm512_sub_pd(_mm512_sub_pd(value, below), half)), absMask));
        const __mmask8 clear = _mm512_cmp_pd_mask(offset, margin, _CMP_GT_OQ);
        if (clear != 0xFF) {
            MixChannels(pixels + i, mean7 + i, mean25 + i, 8, K, K1, K2, S);
            continue;
        }
        __m512d level = _mm512_roundscale_pd(_mm512_add_pd(value, half), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        level = _mm512_min_pd(_mm512_max_pd(level, low), high);
        const __m256i bytes = _mm512_cvttpd_epi32(level);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pixels + i), _mm256_cvtepi32_epi8(bytes));
    }
    MixChannels(pixels + i, mean7 + i, mean25 + i, count - i, K, K1, K2, S);
}

bool MixChannelsVector(std::uint8_t* pixels, const std::uint8_t* mean7, const std::uint8_t* mean25, std::size_t count,
                       double K, double K1, double K2, double S)
{
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    // A zero or non-finite weight sum has no useful inverse: the division it is.
    if (!supported || !(S != 0.0) || !std::isfinite(1.0 / S))
        return false;
    MixChannelsAvx512(pixels, mean7, mean25, count, K, K1, K2, S);
    return true;
}

}  // namespace tcf_detail

namespace {

// Smallest and largest of count levels.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
void RowRange(const std::uint8_t* row, int count, std::uint8_t& low, std::uint8_t& high)
{
    std::uint8_t lo = low, hi = high;
    for (int i = 0; i < count; ++i) {
        lo = row[i] < lo ? row[i] : lo;
        hi = row[i] > hi ? row[i] : hi;
    }
    low = lo;
    high = hi;
}

// Smallest and largest 25 x 25 mean of rows [first, end) of the image as it is now.
void MeanRange(const CBoxPlan& plan, const std::uint8_t* const* rows, int first, int end, std::uint8_t* buffer,
               std::uint8_t& low, std::uint8_t& high)
{
    if (first >= end)
        return;
    CBoxRows stream(plan, rows, first);
    for (int y = first; y < end; ++y) {
        stream.Next(buffer);
        RowRange(buffer, plan.Width(), low, high);
    }
}

}  // namespace

int CDibImage::ThreeChannelFilter(float K, float K1, float K2, int nonlinear, std::uint8_t BLOW, std::uint8_t BHI)
{
    if (m_nWidth < 25 || m_nHeight < 25) {
        ShowMessage("Cannot perform filtering - image is too small");
        return 0;
    }
    if (!m_pBits)
        return 0;

    const int width = m_nWidth;
    const int height = m_nHeight;
    std::vector<const std::uint8_t*> rows(height);
    for (int r = 0; r < height; ++r)
        rows[r] = m_pBits.get() + static_cast<std::size_t>(r) * width;

    // One pass: the 7 x 7 and 25 x 25 means of each row are mixed into the row
    // as soon as they exist. With the stretch on, each band also follows its
    // own mixed rows with a second 25 x 25 stream, 12 rows behind, for the
    // smallest and largest mean of the filtered image. Means near a band's
    // edges need the neighbour's mixed rows; those rows are done afterwards.
    const CBoxPlan mixedPlan(width, height, 25);
    const int reach = mixedPlan.Above();
    const int behind = mixedPlan.Below() - 1;
    struct Later {
        int first, end;
    };
    std::mutex lock;
    std::vector<Later> later;
    std::uint8_t mn = 255;
    std::uint8_t mx = 0;
    {
        const double S = static_cast<float>(static_cast<double>(K) + K1 + K2);
        const double k = K, k1 = K1, k2 = K2;
        const std::array<int, 2> masks{7, 25};
        StreamBoxMeansInPlace(m_pBits.get(), width, height, masks, [&](int firstRow, int endRow) -> BoxRowConsumer {
            struct Band {
                std::unique_ptr<CBoxRows> stream;
                int next = 0, end = 0;
                std::vector<std::uint8_t> buffer;
                std::uint8_t low = 255, high = 0;
            };
            auto band = std::make_shared<Band>();
            if (nonlinear) {
                const int first = firstRow == 0 ? 0 : firstRow + behind;
                const int end = endRow == height ? height : endRow - reach;
                std::lock_guard<std::mutex> guard(lock);
                if (first < end) {
                    band->next = first;
                    band->end = end;
                    band->buffer.resize(width);
                    if (firstRow < first)
                        later.push_back({firstRow, first});
                    if (end < endRow)
                        later.push_back({end, endRow});
                } else {
                    later.push_back({firstRow, endRow});
                }
            }
            return [&, band, k, k1, k2, S, width, height, reach](int y, const std::uint8_t* const* means,
                                                                        std::uint8_t* row) {
                if (!tcf_detail::MixChannelsVector(row, means[0], means[1], static_cast<std::size_t>(width), k, k1, k2, S))
                    tcf_detail::MixChannels(row, means[0], means[1], static_cast<std::size_t>(width), k, k1, k2, S);
                Band& b = *band;
                if (b.next >= b.end)
                    return;
                while (b.next < b.end && std::min(height - 1, b.next + reach) <= y) {
                    // Made only now: its first sums read mixed rows up to here.
                    if (!b.stream)
                        b.stream = std::make_unique<CBoxRows>(mixedPlan, rows.data(), b.next);
                    b.stream->Next(b.buffer.data());
                    RowRange(b.buffer.data(), width, b.low, b.high);
                    ++b.next;
                }
                if (b.next == b.end) {
                    std::lock_guard<std::mutex> guard(lock);
                    mn = std::min(mn, b.low);
                    mx = std::max(mx, b.high);
                }
            };
        });
    }
    if (!nonlinear)
        return 1;

    {
        std::vector<std::uint8_t> buffer(width);
        for (const Later& rowsLeft : later)
            MeanRange(mixedPlan, rows.data(), rowsLeft.first, rowsLeft.end, buffer.data(), mn, mx);
    }
    ComputeRange();
    const int lo = m_nMinLevel;
    const int hi = m_nMaxLevel;

    std::array<float, 256> T{};
    tcf_detail::BuildStretchTable(lo, hi, mn, mx, BLOW, BHI, T);
    tcf_detail::SmoothTableInPlace(T);
    std::array<std::uint8_t, 256> table{};
    for (int g = 0; g < 256; ++g)
        table[g] = ClampToByte(T[g]);
    ApplyTable(m_pBits.get(), PixelCount(), table);
    return 1;
}
