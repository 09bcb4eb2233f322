// ClampToByte: the rule by which every floating-point result becomes a gray level.
#pragma once

#include <cstdint>

// Below 0 or NaN gives 0, above 255 gives 255, otherwise halves round up:
// 0.5 -> 1, 127.4 -> 127, 254.5 -> 255. The argument is single precision on
// purpose: callers round their double results to float first, and that
// rounding is part of every result.
inline std::uint8_t ClampToByte(float value)
{
    if (!(value >= 0.0f))
        return 0;
    if (value > 255.0f)
        return 255;
    const int t = static_cast<int>(value);
    // value - t is exact for floats in 0..255.
    return static_cast<std::uint8_t>(value - static_cast<float>(t) >= 0.5f ? t + 1 : t);
}

// Shorthand for the common pattern: a double result rounded to float, then clamped.
inline std::uint8_t ClampDoubleToByte(double value)
{
    return ClampToByte(static_cast<float>(value));
}

// ClampToByte without branches, for loops the compiler should vectorize. The
// same results for every float, NaN and infinities included: NaN and negative
// values fail the first comparison and become 0, the upper clamp makes 255.
inline std::uint8_t ClampToByteSelect(float value)
{
    float clamped = value >= 0.0f ? value : 0.0f;
    clamped = clamped > 255.0f ? 255.0f : clamped;
    const int t = static_cast<int>(clamped);
    return static_cast<std::uint8_t>(t + (clamped - static_cast<float>(t) >= 0.5f ? 1 : 0));
}
