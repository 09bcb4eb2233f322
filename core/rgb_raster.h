// CRgbRaster: a decoded colour picture, the stand-in for the platform's rendered bitmap.
#pragma once

#include <cstdint>
#include <vector>

// Three bytes per pixel (red, green, blue), rows packed without padding and
// stored TOP-DOWN, as a decoder delivers them. The gray conversion turns the
// rows over into the bottom-up order of the gray buffer.
struct CRgbRaster {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3 bytes

    const std::uint8_t* Row(int topDownRow) const { return rgb.data() + static_cast<std::size_t>(topDownRow) * width * 3; }
    std::uint8_t* Row(int topDownRow) { return rgb.data() + static_cast<std::size_t>(topDownRow) * width * 3; }
};
