// Fuzz target: any bytes through the import path, LoadFromMemory then ConvertToGray.
//
// Besides the sanitizers' checks, a decoded picture must keep the image's
// invariants: a positive size within the pixel limit, a raster of exactly
// width x height x 3 bytes, and after the conversion a gray buffer of width x
// height levels with the colour raster gone. The first and last byte of each
// buffer are read, so a buffer shorter than its picture shows up as an
// AddressSanitizer report without a pass over every pixel.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/decode_limits.h"
#include "core/dib_image.h"
#include "core/messages.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

unsigned TouchEnds(const std::uint8_t* bytes, std::size_t count)
{
    return count == 0 ? 0 : bytes[0] + bytes[count - 1];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SetMessageHandler([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CDibImage image;
    if (!image.LoadFromMemory(data, size)) {
        Require(image.m_pBitmap == nullptr && !image.HasPixels());
        return 0;
    }
    Require(!image.LoadFromMemory(data, size));  // an image loads once
    Require(image.m_pBitmap != nullptr && !image.HasPixels());
    const CRgbRaster& raster = *image.m_pBitmap;
    Require(image.m_nWidth > 0 && image.m_nHeight > 0);
    Require(raster.width == image.m_nWidth && raster.height == image.m_nHeight);
    const std::size_t pixels = static_cast<std::size_t>(image.m_nWidth) * static_cast<std::size_t>(image.m_nHeight);
    Require(pixels <= kMaxImagePixels);
    Require(raster.Complete());
    volatile unsigned sink = raster.gray ? TouchEnds(raster.gray.get(), pixels) : TouchEnds(raster.rgb.data(), raster.rgb.size());

    Require(image.ConvertToGray());
    Require(image.HasPixels() && image.m_pBitmap == nullptr);
    Require(image.PixelCount() == pixels);
    sink = sink + TouchEnds(image.m_pBits.get(), pixels);
    (void)sink;
    return 0;
}
