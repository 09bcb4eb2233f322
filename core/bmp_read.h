// Reader of BMP files into a top-down RGB raster.
//
// Accepted: "BM" files with a BITMAPCOREHEADER (OS/2 1.x, 12 bytes),
// BITMAPINFOHEADER (40), its 52- and 56-byte extensions, BITMAPV4HEADER (108),
// BITMAPV5HEADER (124) or an OS/2 2.x header (16 or 64 bytes); 1, 2, 4 and
// 8 bits with a palette, uncompressed or RLE8/RLE4; 16 and 32 bits with the
// default layout or BI_BITFIELDS/BI_ALPHABITFIELDS masks; 24 bits; bottom-up
// and top-down rows. Embedded JPEG/PNG, OS/2 Huffman and RLE24 are refused.
//
// Rules where files disagree or the format leaves a choice:
//  - Channel widening: a mask channel with maximum value m (the mask shifted
//    down to bit 0, 31 for 5 bits, 63 for 6) becomes round(v * 255 / m), so the
//    largest value is always 255 and 8-bit channels are unchanged. The same
//    rule serves every mask width, 1 to 32 bits. An empty mask gives 0.
//  - Palettes: entries as declared (biClrUsed, 0 meaning 2^bits, always
//    2^bits for OS/2 1.x), cut to 2^bits and to the bytes before the pixel
//    data. An index beyond the usable entries gives black. An explicit
//    biClrUsed larger than the rest of the file can hold is refused.
//  - Uncompressed rows must all be present (the last row may lack its
//    padding): a truncated file is refused, never half shown.
//  - RLE: pixels the stream never writes (skipped by delta or end-of-line
//    escapes, or left by an early end-of-bitmap) are black, as on a freshly
//    cleared bitmap; runs past the end of a row are dropped; writes past the
//    last row end the decoding. A stream that runs out of bytes before its
//    end-of-bitmap escape and before the last row is refused as truncated.
//    RLE with top-down rows is not allowed by the format and is refused.
//  - biPlanes, biSizeImage, bfSize and the resolution are ignored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/rgb_raster.h"

// True when the bytes start like a BMP file ("BM").
bool HasBmpSignature(const std::uint8_t* data, std::size_t size);

// Decodes a whole BMP file held in memory. On failure returns false and out is
// unspecified. Never reads outside [data, data + size).
bool DecodeBmp(const std::uint8_t* data, std::size_t size, CRgbRaster& out);
