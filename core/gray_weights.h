// The gray level of a colour, as the import's gray rule gives it for 8-bit
// channels: (30 r + 59 g + 11 b + 50) / 100 with the remainder dropped. The
// rule is written in floating point (s * 0.01f * 255 / 255, rounded to float,
// half up); for every possible r, g, b it lands on this integer, which is
// what lets a whole row be weighed in vector lanes.
#pragma once

#include <cstddef>
#include <cstdint>

inline std::uint8_t GrayOfColour(unsigned r, unsigned g, unsigned b)
{
    return static_cast<std::uint8_t>((30 * r + 59 * g + 11 * b + 50) / 100);
}

// count pixels of three bytes (red, green, blue) into count gray levels.
void WeighRgbRow(const std::uint8_t* rgb, std::size_t count, std::uint8_t* gray);

// count pixels of four bytes (red, green, blue, ignored) into count gray levels.
void WeighRgbxRow(const std::uint8_t* rgbx, std::size_t count, std::uint8_t* gray);
