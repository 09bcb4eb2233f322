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

#include <cstdint>
#include <memory>
#include <new>

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
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq")

namespace {

struct AheVectorKernel {
    static constexpr local_window::strips::Second kSecond = local_window::strips::Second::None;

    __mmask8 Wants(__m512i) const { return 0xFF; }

    __m256i Map(const local_window::strips::Counts8& c) const
    {
        const __m512d share = _mm512_div_pd(_mm512_cvtepi64_pd(c.atMost), _mm512_cvtepi64_pd(c.area));
        return local_window::strips::ClampToBytes(_mm512_cvtpd_ps(_mm512_mul_pd(share, _mm512_set1_pd(255.0))));
    }
};

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

#pragma GCC pop_options

int CDibImage::Ahe(int windowSize)
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
    return local_window::Equalize(*this, windowSize, kernel, AheVectorKernel{}) ? 1 : 0;
}

int CDibImage::Tahe(int windowSize, int threshold)
{
    if (!m_pBits)
        return 0;
    if (!local_window::WindowFits(windowSize, m_nWidth, m_nHeight)) {
        ShowMessage(local_window::kWindowMessage);
        return 0;
    }
    // The threshold is a gray level: only its low 8 bits count.
    const TaheKernel kernel{threshold & 0xFF};
    return local_window::Equalize(*this, windowSize, kernel, TaheVectorKernel{kernel.threshold}) ? 1 : 0;
}
