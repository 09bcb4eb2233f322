// CRgbRaster: a decoded picture, the stand-in for the platform's rendered bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Either three bytes per pixel (red, green, blue), rows packed without padding
// and stored TOP-DOWN, as a decoder delivers them; the gray conversion then
// weighs them and turns the rows over into the bottom-up order of the gray
// buffer. Or, from a decoder that weighs each row while it is still in the
// cache (the JPEG reader), the finished gray face itself: width * height
// levels, BOTTOM-UP, exactly the buffer the conversion would have made from
// the colour rows, with rgb left empty. Writing the colour rows out and reading
// them back would cost more than the decoding of their chroma.
struct CRgbRaster {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3 bytes, or empty when gray is set
    std::unique_ptr<std::uint8_t[]> gray;

    const std::uint8_t* Row(int topDownRow) const { return rgb.data() + static_cast<std::size_t>(topDownRow) * width * 3; }
    std::uint8_t* Row(int topDownRow) { return rgb.data() + static_cast<std::size_t>(topDownRow) * width * 3; }
    // Buffer row of the gray face for a top-down picture row.
    std::uint8_t* GrayRow(int topDownRow) { return gray.get() + static_cast<std::size_t>(height - 1 - topDownRow) * width; }
    const std::uint8_t* GrayRow(int topDownRow) const { return gray.get() + static_cast<std::size_t>(height - 1 - topDownRow) * width; }

    std::size_t PixelCount() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
    // True when the raster holds one of its two forms completely.
    bool Complete() const
    {
        if (width <= 0 || height <= 0)
            return false;
        return gray ? rgb.empty() : rgb.size() == PixelCount() * 3;
    }
};
