// One row of the gradient map (core/gradient_map.cpp) as 16-bit integers, for
// callers that fold the values into statistics as they go instead of keeping a
// whole float plane of them.
#pragma once

#include <cstdint>

// out[x - x0] = the gradient map's value at (x, y) for x0 <= x < x1, with the
// plane's own rules: 0 in the outermost rows and columns and everywhere in an
// image with fewer than 3 rows or columns. pixels is the packed gray buffer.
void GradientRow(const std::uint8_t* pixels, int width, int height, int y, int x0, int x1, std::int16_t* out);
