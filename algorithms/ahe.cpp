// Adaptive histogram equalization (AHE) and threshold AHE (TAHE).
//
// AHE replaces each pixel by its rank in its window: with cnt the number of
// window pixels at or below its level v (itself included) and A the window's
// area, the new level is ClampToByte(float(cnt / A * 255.0)), the quotient
// and product in double. TAHE leaves every pixel at or below the threshold t
// alone and spreads the others over 0..255 against only the window pixels
// above t: with below the window pixels <= t and upto those in t+1..v,
// ClampToByte(float(upto * (255.0 / (A - below)))).
//
// Windows are cut at the image border (algorithms/detail/local_window.h).
// Example, window 3 on the rows 10 20 30 / 40 50 60 / 70 80 90: AHE gives
// 64 85 128 / 128 142 170 / 191 213 255 (the corner 10 ranks 1 of 4, 63.75);
// TAHE with t = 25 gives 10 20 85 / 64 109 153 / 191 213 255.
#include "core/dib_image.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "algorithms/detail/avx512_region.h"
#include "algorithms/detail/local_window.h"
#include "core/messages.h"

namespace {

std::uint8_t AheLevel(int atMost, int area)
{
    return ClampToByte(static_cast<float>(static_cast<double>(atMost) / area * 255.0));
}

struct AheKernel {
    static constexpr bool kCountsAt = false;
    static constexpr bool kCountsBelow = false;
    int threshold = -1;
    // AheLevel(cnt, n * n) for every cnt, when n * n is small enough to tabulate.
    const std::uint8_t* interiorLevels = nullptr;
    int interiorArea = 0;

    bool Wants(std::uint8_t) const { return true; }

    template <bool kInterior>
    std::uint8_t Map(std::uint8_t, const local_window::WindowCounts& w) const
    {
        if (kInterior && interiorLevels)
            return interiorLevels[w.atMost];
        return AheLevel(w.atMost, w.area);
    }
};

struct TaheKernel {
    static constexpr bool kCountsAt = false;
    static constexpr bool kCountsBelow = true;
    int threshold;  // 0..255

    bool Wants(std::uint8_t v) const { return v > threshold; }

    // A - below >= 1: the pixel itself lies above the threshold.
    template <bool kInterior>
    std::uint8_t Map(std::uint8_t, const local_window::WindowCounts& w) const
    {
        const double scale = 255.0 / (w.area - w.below);
        return ClampToByte(static_cast<float>((w.atMost - w.below) * scale));
    }
};

}  // namespace

// The same two mappings eight pixels at a time, for the AVX-512 walk: the
// same double operations in the same order, so the same bytes.
LUMIVEX_AVX512_BEGIN

namespace {

struct AheVectorKernel {
    static constexpr local_window::strips::Second kSecond = local_window::strips::Second::None;

    // How the bytes of interior pixels (area n * n) are formed: a multiply by
    // 255 / (n * n) instead of the quotient and the product, used only when a
    // check of every possible count found it gives the same byte.
    enum class Interior { Divide, Multiply, FloatMultiply };
    Interior interior = Interior::Divide;
    double scale = 0.0;       // 255 / (n * n)
    float floatScale = 0.0f;  // the same, rounded to float

    __mmask8 Wants(__m512i) const { return 0xFF; }

    [[gnu::always_inline]] __m256i MapInterior(__m512i atMost) const
    {
        if (interior == Interior::FloatMultiply) {
            // Counts and products stay far below 2^24; adding a half and
            // truncating rounds half up.
            const __m256 product = _mm256_mul_ps(_mm512_cvtepi64_ps(atMost), _mm256_set1_ps(floatScale));
            return _mm256_cvttps_epi32(_mm256_add_ps(product, _mm256_set1_ps(0.5f)));
        }
        const __m512d product = _mm512_mul_pd(_mm512_cvtepi64_pd(atMost), _mm512_set1_pd(scale));
        return local_window::strips::ClampToBytes(_mm512_cvtpd_ps(product));
    }

    [[gnu::always_inline]] static __m256i MapExact(__m512i atMost, __m512i area)
    {
        const __m512d share = _mm512_div_pd(_mm512_cvtepi64_pd(atMost), _mm512_cvtepi64_pd(area));
        return local_window::strips::ClampToBytes(_mm512_cvtpd_ps(_mm512_mul_pd(share, _mm512_set1_pd(255.0))));
    }

    __m256i Map(const local_window::strips::Counts8& c) const
    {
        if (interior != Interior::Divide && c.interior == 0xFF)
            return MapInterior(c.atMost);
        return MapExact(c.atMost, c.area);
    }
};

// The kernel for windows of n x n, with the quickest interior mapping that
// reproduces AheLevel for every count from 0 to n * n.
AheVectorKernel MakeAheVectorKernel(int n)
{
    AheVectorKernel kernel;
    const int area = n * n;
    kernel.scale = 255.0 / area;
    kernel.floatScale = static_cast<float>(kernel.scale);
    for (const auto candidate : {AheVectorKernel::Interior::FloatMultiply, AheVectorKernel::Interior::Multiply}) {
        kernel.interior = candidate;
        bool same = true;
        for (int first = 0; first <= area && same; first += 8) {
            const __m512i counts = _mm512_min_epi64(_mm512_add_epi64(_mm512_set1_epi64(first), _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0)),
                                                    _mm512_set1_epi64(area));
            alignas(32) std::int32_t bytes[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), kernel.MapInterior(counts));
            for (int i = 0; i < 8; ++i)
                same = same && bytes[i] == AheLevel(std::min(first + i, area), area);
        }
        if (same)
            return kernel;
    }
    kernel.interior = AheVectorKernel::Interior::Divide;
    return kernel;
}

struct TaheVectorKernel {
    static constexpr local_window::strips::Second kSecond = local_window::strips::Second::Threshold;
    int threshold;  // 0..255

    __mmask8 Wants(__m512i level) const { return _mm512_cmpgt_epi64_mask(level, _mm512_set1_epi64(threshold)); }

    // Lanes at or below the threshold may divide by zero; they are not stored.
    __m256i Map(const local_window::strips::Counts8& c) const
    {
        const __m512d scale = _mm512_div_pd(_mm512_set1_pd(255.0), _mm512_cvtepi64_pd(_mm512_sub_epi64(c.area, c.second)));
        const __m512d upto = _mm512_cvtepi64_pd(_mm512_sub_epi64(c.atMost, c.second));
        return local_window::strips::ClampToBytes(_mm512_cvtpd_ps(_mm512_mul_pd(upto, scale)));
    }
};

}  // namespace

LUMIVEX_AVX512_END

int CDibImage::Ahe(int windowSize)
{
    return Ahe(windowSize, nullptr);
}

int CDibImage::Ahe(int windowSize, const CDibImage* unchanged)
{
    if (!m_pBits)
        return 0;
    if (!local_window::WindowFits(windowSize, m_nWidth, m_nHeight)) {
        ShowMessage(local_window::kWindowMessage);
        return 0;
    }
    AheKernel kernel;
    // Interior pixels all share the area n * n: their levels come from a table
    // built with the same formula (at most 64 KiB; wider windows compute).
    std::unique_ptr<std::uint8_t[]> levels;
    if (windowSize <= 255) {
        kernel.interiorArea = windowSize * windowSize;
        levels.reset(new (std::nothrow) std::uint8_t[kernel.interiorArea + 1]);
        if (levels) {
            for (int cnt = 0; cnt <= kernel.interiorArea; ++cnt)
                levels[cnt] = AheLevel(cnt, kernel.interiorArea);
            kernel.interiorLevels = levels.get();
        }
    }
    // The vector walk runs only for these windows on processors that have it.
    AheVectorKernel vectorKernel;
    if (windowSize >= local_window::strips::kMinWindow && windowSize <= local_window::strips::kMaxWindow &&
        local_window::strips::Supported())
        vectorKernel = MakeAheVectorKernel(windowSize);
    return local_window::Equalize(*this, windowSize, kernel, vectorKernel, SamePixelsIn(unchanged)) ? 1 : 0;
}

int CDibImage::Tahe(int windowSize, int threshold)
{
    return Tahe(windowSize, threshold, nullptr);
}

int CDibImage::Tahe(int windowSize, int threshold, const CDibImage* unchanged)
{
    if (!m_pBits)
        return 0;
    if (!local_window::WindowFits(windowSize, m_nWidth, m_nHeight)) {
        ShowMessage(local_window::kWindowMessage);
        return 0;
    }
    // The threshold is a gray level: only its low 8 bits count.
    const TaheKernel kernel{threshold & 0xFF};
    return local_window::Equalize(*this, windowSize, kernel, TaheVectorKernel{kernel.threshold}, SamePixelsIn(unchanged))
               ? 1
               : 0;
}
