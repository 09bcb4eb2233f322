// Sixteen pixels of the detail-gain step that unsharp masking and JGACE share:
// with D = source - mean, each level is ClampToByte(float(D * g + M)), the
// product and the sum in double, in that order.
#pragma once

#include <cstdint>

#include <immintrin.h>

// The levels of source[0..15] against mean[0..15], pixel i taking its gain
// from lane i of gainLow (i < 8) or lane i - 8 of gainHigh. The doubles are
// held inside [-1, 256] before the float rounding, which changes no level;
// max_pd returns its second operand for a NaN, so a NaN gives -1 and then 0,
// as ClampToByte gives it. Only for processors with AVX-512 F, DQ and VL.
__attribute__((target("avx512f,avx512dq,avx512vl")))
inline __m128i DetailGainLevels(const std::uint8_t* source, const std::uint8_t* mean, __m512d gainLow, __m512d gainHigh)
{
    const __m512i s = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source)));
    const __m512i m = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mean)));
    const __m512i d = _mm512_sub_epi32(s, m);
    __m512d v0 = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(d)), gainLow);
    __m512d v1 = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(d, 1)), gainHigh);
    v0 = _mm512_add_pd(v0, _mm512_cvtepi32_pd(_mm512_castsi512_si256(m)));
    v1 = _mm512_add_pd(v1, _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(m, 1)));
    const __m512d low = _mm512_set1_pd(-1.0);
    const __m512d high = _mm512_set1_pd(256.0);
    v0 = _mm512_min_pd(_mm512_max_pd(v0, low), high);
    v1 = _mm512_min_pd(_mm512_max_pd(v1, low), high);
    const __m512 f = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(v0)), _mm512_cvtpd_ps(v1), 1);
    const __m512 clamped = _mm512_min_ps(_mm512_max_ps(f, _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
    __m512i t = _mm512_cvttps_epi32(clamped);
    const __mmask16 up =
        _mm512_cmp_ps_mask(_mm512_sub_ps(clamped, _mm512_cvtepi32_ps(t)), _mm512_set1_ps(0.5f), _CMP_GE_OQ);
    t = _mm512_mask_add_epi32(t, up, t, _mm512_set1_epi32(1));
    return _mm512_cvtepi32_epi8(t);
}
