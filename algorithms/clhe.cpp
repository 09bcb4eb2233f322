// Modified constrained local histogram equalization (CLHE).
//
// Blends a local rank and a rank taken outside the window. For a pixel of
// level v whose window (cut at the image border) has area A and histogram Wh,
// with G the histogram of the whole input and N its pixel count:
//   L = window pixels <= v, the pixel itself included;
//   O = pixels outside the window strictly below v (G - Wh over 0..v-1);
//   S = O + Wh[v] for an interior pixel (full n x n window), O + L at the border;
//   new level = ClampToByte(float((T1 + T2) * 255.0)) with
//   T1 = (S * (1 - alpha)) / (N - A) and T2 = (L * alpha) / A, in double.
// Alpha 1 is AHE; alpha 0 ranks the pixel against the pixels outside its window.
// T1 can exceed 1 because S counts window pixels too; the sum is then clamped.
//
// A window covering the whole image (n equal to both sides) leaves its centre
// pixel nothing outside (N - A = 0) and T1 without a value. That pixel takes
// T1 = 0, so it is ranked by the local term alone: its AHE level scaled by
// alpha, exactly AHE for alpha 1 and 0 for alpha 0.
//
// Example, window 3, alpha 0 on the 5 x 5 ramp 10..250: the centre (130, A = 9)
// has O = 8 and Wh[130] = 1, S = 9, 9 / 16 * 255 = 143.4 -> 143.
#include "core/dib_image.h"

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "algorithms/detail/avx512_region.h"
#include "algorithms/detail/local_window.h"
#include "core/messages.h"

namespace {

constexpr char kAlphaMessage[] = "Factor alpha is not in range 0\u00F7" "1";

struct ClheKernel {
    static constexpr bool kCountsAt = true;
    static constexpr bool kCountsBelow = false;
    int threshold = -1;
    std::array<long long, 256> globalBelow{};  // input pixels strictly below each level
    long long total = 0;                       // N
    double alpha = 0.0;
    double oneMinusAlpha = 0.0;

    bool Wants(std::uint8_t) const { return true; }

    template <bool kInterior>
    std::uint8_t Map(std::uint8_t v, const local_window::WindowCounts& w) const
    {
        const long long outsideBelow = globalBelow[v] - (w.atMost - w.at);
        const long long s = w.interior ? outsideBelow + w.at : outsideBelow + w.atMost;
        const long long outside = total - w.area;
        const double t1 = outside == 0 ? 0.0 : (s * oneMinusAlpha) / outside;
        const double t2 = (w.atMost * alpha) / w.area;
        return ClampToByte(static_cast<float>((t1 + t2) * 255.0));
    }
};

}  // namespace

// The same mapping eight pixels at a time, for the AVX-512 walk: the same
// double operations in the same order, so the same bytes.
LUMIVEX_AVX512_BEGIN

namespace {

struct ClheVectorKernel {
    static constexpr local_window::strips::Second kSecond = local_window::strips::Second::LevelBelow;
    static constexpr bool kGuesses = true;
    const std::uint64_t* levelTable;  // input pixels strictly below each level, below 2^30
    long long total;
    double alpha;
    double oneMinusAlpha;
    // For the guess: 255 (1 - alpha) / (N - n * n) (0 when nothing lies
    // outside a whole window) and 255 alpha / (n * n).
    double outsideScale;
    double insideScale;
    double lowShift;  // 2 outsideScale + 1/2 - 2^-13

    __mmask8 Wants(__m512i) const { return 0xFF; }

    // An interior pixel's S = G_below[v] - L + 2 Wh[v], and all that is known
    // without the count of levels <= v - 1 is that 1 <= Wh[v] <= L, so S lies
    // in G_below[v] - L + 2 .. G_below[v] + L. The new level only grows with
    // S (every step of Map is a rounded product, quotient or sum of
    // non-negative terms, or a conversion, all monotonic), so where both ends
    // of S's range give the same byte, that byte is the answer. Both ends are
    // computed with products instead of quotients; below 2^20 their error
    // is under 2^-29, and larger values (tiny images only) are left to Map.
    // Most pixels of a large image settle: Wh[v] moves the level by at most
    // 2 n^2 (1 - alpha) 255 / (N - n^2).
    __m256i Guess(const local_window::strips::Counts8& c, __mmask8& settled) const
    {
        const __m512d below = _mm512_cvtepi64_pd(c.extra);
        const __m512d atMost = _mm512_cvtepi64_pd(c.atMost);
        const __m512d scale = _mm512_set1_pd(outsideScale);
        const __m512d middle = _mm512_add_pd(_mm512_mul_pd(below, scale), _mm512_mul_pd(atMost, _mm512_set1_pd(insideScale)));
        const __m512d spread = _mm512_mul_pd(atMost, scale);
        // Below 256, float rounding moves a value by at most 2^-17: a range
        // that keeps 2^-14 clear of every k + 1/2 gives every value in it
        // the byte k (clamped to 0..255) without rounding to float. The
        // constants add 1/2, the margin of 2^-13 and, at the low end, the
        // 2 of the range's lowest S.
        const __m512d lowest = _mm512_sub_pd(middle, _mm512_sub_pd(spread, _mm512_set1_pd(lowShift)));
        const __m512d highest = _mm512_add_pd(_mm512_add_pd(middle, spread), _mm512_set1_pd(0.5 + 0x1p-13));
        const __m512d lowFloor = _mm512_roundscale_pd(lowest, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m512d highFloor = _mm512_roundscale_pd(highest, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        settled = c.interior & _mm512_cmp_pd_mask(lowFloor, highFloor, _CMP_EQ_OQ) &
                  _mm512_cmp_pd_mask(highest, _mm512_set1_pd(0x1p20), _CMP_LT_OQ);
        // Settled lanes are at least 0: the high end is.
        return _mm512_cvttpd_epi32(_mm512_min_pd(lowFloor, _mm512_set1_pd(255.0)));
    }

    __m256i Map(const local_window::strips::Counts8& c) const
    {
        const __m512i at = _mm512_sub_epi64(c.atMost, c.second);  // c.second: window levels <= v - 1
        const __m512i outsideBelow = _mm512_sub_epi64(c.extra, c.second);
        const __m512i s = _mm512_mask_blend_epi64(c.interior, _mm512_add_epi64(outsideBelow, c.atMost),
                                                  _mm512_add_epi64(outsideBelow, at));
        const __m512i outside = _mm512_sub_epi64(_mm512_set1_epi64(total), c.area);
        const __m512d t1 = _mm512_maskz_div_pd(_mm512_cmpneq_epi64_mask(outside, _mm512_setzero_si512()),
                                               _mm512_mul_pd(_mm512_cvtepi64_pd(s), _mm512_set1_pd(oneMinusAlpha)),
                                               _mm512_cvtepi64_pd(outside));
        const __m512d t2 = _mm512_div_pd(_mm512_mul_pd(_mm512_cvtepi64_pd(c.atMost), _mm512_set1_pd(alpha)),
                                         _mm512_cvtepi64_pd(c.area));
        const __m512d sum = _mm512_add_pd(t1, t2);
        return local_window::strips::ClampToBytes(_mm512_cvtpd_ps(_mm512_mul_pd(sum, _mm512_set1_pd(255.0))));
    }
};

}  // namespace

LUMIVEX_AVX512_END

int CDibImage::Clhe(int windowSize, float alpha)
{
    return Clhe(windowSize, alpha, nullptr);
}

int CDibImage::Clhe(int windowSize, float alpha, const CDibImage* unchanged)
{
    if (!local_window::WindowFits(windowSize, m_nWidth, m_nHeight)) {
        ShowMessage(local_window::kWindowMessage);
        return 0;
    }
    if (!(alpha >= 0.0f && alpha <= 1.0f)) {  // NaN fails too
        ShowMessage(kAlphaMessage);
        return 0;
    }
    if (!ComputeHistogram())
        return 0;

    ClheKernel kernel;
    long long running = 0;
    for (int level = 0; level < 256; ++level) {
        kernel.globalBelow[level] = running;
        running += (*m_pHistogram)[level];
    }
    kernel.total = static_cast<long long>(m_nWidth) * m_nHeight;
    kernel.alpha = alpha;
    kernel.oneMinusAlpha = 1.0 - kernel.alpha;
    // The vector walk packs these counts into 30 bits; larger images (import
    // stops well below) take the portable walk.
    if (kernel.total >= (1LL << 30))
        return local_window::Equalize(*this, windowSize, kernel) ? 1 : 0;
    std::array<std::uint64_t, 256> below;
    for (int level = 0; level < 256; ++level)
        below[level] = static_cast<std::uint64_t>(kernel.globalBelow[level]);
    const long long interiorArea = static_cast<long long>(windowSize) * windowSize;
    const long long outside = kernel.total - interiorArea;
    ClheVectorKernel vectorKernel{below.data(),
                                        kernel.total,
                                        kernel.alpha,
                                        kernel.oneMinusAlpha,
                                        outside == 0 ? 0.0 : kernel.oneMinusAlpha * 255.0 / static_cast<double>(outside),
                                        kernel.alpha * 255.0 / static_cast<double>(interiorArea),
                                        0.0};
    vectorKernel.lowShift = 2.0 * vectorKernel.outsideScale + 0.5 - 0x1p-13;
    return local_window::Equalize(*this, windowSize, kernel, vectorKernel, SamePixelsIn(unchanged)) ? 1 : 0;
}
