// BMP reader: headers, palettes, bit fields, RLE; the rules are listed in bmp_read.h.
//
// Every size read from the file is checked against the bytes present before
// anything is allocated or read, in 64-bit arithmetic: the claimed picture is
// at most kMaxImagePixels, uncompressed rows must lie inside the file, and an
// RLE picture must fit the budget its file length allows (decode_limits.h).
#include "core/bmp_read.h"

#include <algorithm>
#include <array>
#include <bit>
#include <new>
#include <vector>

#include "core/decode_limits.h"
#include "core/large_buffer.h"

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

constexpr std::size_t kFileHeaderBytes = 14;

std::uint16_t ReadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// round(v * 255 / max) with halves impossible (max is odd for any contiguous
// mask, and the rule only needs to be a rule for the others).
std::uint8_t Widen(std::uint64_t v, std::uint64_t max)
{
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
}

// One colour channel of a bit-field pixel, widened to 8 bits.
class CChannel {
public:
    explicit CChannel(std::uint32_t mask)
        : m_mask(mask), m_shift(mask != 0 ? std::countr_zero(mask) : 0), m_max(mask >> m_shift)
    {
        // 16-bit pixels (and narrow 32-bit channels) go through a table.
        if (m_max != 0 && m_max <= 0xFFFF) {
            m_table.resize(m_max + 1);
            for (std::uint32_t v = 0; v <= m_max; ++v)
                m_table[v] = Widen(v, m_max);
        }
    }

    std::uint8_t operator()(std::uint32_t pixel) const
    {
        if (m_max == 0)
            return 0;
        const std::uint32_t v = (pixel & m_mask) >> m_shift;
        return m_table.empty() ? Widen(v, m_max) : m_table[v];
    }

private:
    std::uint32_t m_mask;
    int m_shift;
    std::uint32_t m_max;
    std::vector<std::uint8_t> m_table;
};

// What the headers say, after validation.
struct BmpLayout {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    bool topDown = false;
    unsigned bits = 0;
    std::uint32_t compression = kBiRgb;
    std::array<std::uint32_t, 3> masks{};  // red, green, blue (16 and 32 bits)
    std::size_t pixelOffset = 0;
    std::array<Rgb, 256> palette{};        // black beyond the usable entries
};

bool IsKnownHeaderSize(std::uint32_t headerSize)
{
    switch (headerSize) {
    case 12:   // BITMAPCOREHEADER (OS/2 1.x)
    case 16:   // OS/2 2.x, shortest form
    case 40:   // BITMAPINFOHEADER
    case 52:   // with red, green and blue masks
    case 56:   // with an alpha mask as well
    case 64:   // OS/2 2.x, full form
    case 108:  // BITMAPV4HEADER
    case 124:  // BITMAPV5HEADER
        return true;
    default:
        return false;
    }
}

bool IsValidDepth(std::uint32_t compression, unsigned bits, bool topDown)
{
    switch (compression) {
    case kBiRgb:
        return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    case kBiRle8:
        return bits == 8 && !topDown;
    case kBiRle4:
        return bits == 4 && !topDown;
    case kBiBitfields:
    case kBiAlphaBitfields:
        return bits == 16 || bits == 32;
    default:
        return false;
    }
}

bool ReadLayout(const std::uint8_t* data, std::size_t size, BmpLayout& layout)
{
    if (!HasBmpSignature(data, size) || size < kFileHeaderBytes + 4)
        return false;
    const std::uint32_t headerSize = ReadU32(data + kFileHeaderBytes);
    if (!IsKnownHeaderSize(headerSize) || headerSize > size - kFileHeaderBytes)
        return false;
    const std::uint8_t* header = data + kFileHeaderBytes;
    const bool core = headerSize == 12;
    const bool os2v2 = headerSize == 16 || headerSize == 64;

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t colorsUsed = 0;
    if (core) {
        width = ReadU16(header + 4);
        height = ReadU16(header + 6);
        layout.bits = ReadU16(header + 10);
    } else {
        width = static_cast<std::int32_t>(ReadU32(header + 4));
        height = static_cast<std::int32_t>(ReadU32(header + 8));
        layout.bits = ReadU16(header + 14);
        if (headerSize >= 20)
            layout.compression = ReadU32(header + 16);
        if (headerSize >= 36)
            colorsUsed = ReadU32(header + 32);
    }
    // Only the height's sign means something (top-down rows); width and
    // height are 64-bit here, so negating INT32_MIN cannot overflow.
    if (width <= 0 || height == 0)
        return false;
    if (height < 0) {
        layout.topDown = true;
        height = -height;
    }
    layout.width = static_cast<std::uint64_t>(width);
    layout.height = static_cast<std::uint64_t>(height);
    if (layout.width * layout.height > kMaxImagePixels)
        return false;

    // In OS/2 2.x headers compression 3 is Huffman 1D and 4 is RLE24, not bit fields.
    if ((core || os2v2) && layout.compression > kBiRle4)
        return false;
    if (!IsValidDepth(layout.compression, layout.bits, layout.topDown))
        return false;

    std::size_t tableStart = kFileHeaderBytes + headerSize;
    if (layout.compression == kBiBitfields || layout.compression == kBiAlphaBitfields) {
        const std::uint8_t* masks = header + 40;
        if (headerSize == 40) {
            // The masks follow the header (a fourth one, alpha, for BI_ALPHABITFIELDS).
            const std::size_t maskBytes = layout.compression == kBiAlphaBitfields ? 16 : 12;
            if (size - tableStart < maskBytes)
                return false;
            masks = data + tableStart;
            tableStart += maskBytes;
        }
        layout.masks = {ReadU32(masks), ReadU32(masks + 4), ReadU32(masks + 8)};
    } else if (layout.bits == 16) {
        layout.masks = {0x7C00, 0x03E0, 0x001F};
    } else if (layout.bits == 32) {
        layout.masks = {0xFF0000, 0x00FF00, 0x0000FF};
    }
    if (layout.bits == 16) {
        for (std::uint32_t& mask : layout.masks)
            mask &= 0xFFFF;
    }

    const std::uint32_t pixelOffset = ReadU32(data + 10);
    if (pixelOffset < tableStart || pixelOffset >= size)
        return false;
    layout.pixelOffset = pixelOffset;

    if (layout.bits <= 8) {
        const std::size_t entryBytes = core ? 3 : 4;
        const std::uint64_t maxEntries = std::uint64_t{1} << layout.bits;
        const bool explicitCount = !core && colorsUsed != 0;
        const std::uint64_t declared = explicitCount ? colorsUsed : maxEntries;
        // A count the file cannot hold is a damaged header, not a short palette.
        if (explicitCount && declared > (size - tableStart) / entryBytes)
            return false;
        const std::uint64_t usable = std::min({declared, maxEntries, std::uint64_t{(pixelOffset - tableStart) / entryBytes}});
        for (std::uint64_t i = 0; i < usable; ++i) {
            const std::uint8_t* entry = data + tableStart + i * entryBytes;
            layout.palette[i] = Rgb{entry[2], entry[1], entry[0]};
        }
    }
    return true;
}

void Allocate(const BmpLayout& layout, CRgbRaster& out)
{
    out.width = static_cast<int>(layout.width);
    out.height = static_cast<int>(layout.height);
    ResizeLarge(out.rgb, layout.width * layout.height * 3);
}

void PutColor(std::uint8_t* dst, const Rgb& color)
{
    dst[0] = color.r;
    dst[1] = color.g;
    dst[2] = color.b;
}

void DecodeIndexedRow(const std::uint8_t* src, const BmpLayout& layout, std::uint8_t* dst)
{
    const unsigned bits = layout.bits;
    if (bits == 8) {
        for (std::uint64_t x = 0; x < layout.width; ++x, dst += 3)
            PutColor(dst, layout.palette[src[x]]);
        return;
    }
    // Leftmost pixel in the most significant bits.
    const unsigned perByte = 8 / bits;
    const unsigned indexMask = (1u << bits) - 1;
    for (std::uint64_t x = 0; x < layout.width; ++x, dst += 3) {
        const unsigned shift = 8 - bits * static_cast<unsigned>(x % perByte + 1);
        PutColor(dst, layout.palette[(src[x / perByte] >> shift) & indexMask]);
    }
}

bool DecodeUncompressed(const std::uint8_t* data, std::size_t size, const BmpLayout& layout, CRgbRaster& out)
{
    const std::uint64_t rowBits = layout.width * layout.bits;
    const std::uint64_t stride = (rowBits + 31) / 32 * 4;
    const std::uint64_t rowBytes = (rowBits + 7) / 8;
    // Every row must be in the file; only the last one may lack its padding.
    if (stride * (layout.height - 1) + rowBytes > size - layout.pixelOffset)
        return false;
    Allocate(layout, out);

    const CChannel red(layout.masks[0]);
    const CChannel green(layout.masks[1]);
    const CChannel blue(layout.masks[2]);
    const bool plain32 = layout.masks == std::array<std::uint32_t, 3>{0xFF0000, 0x00FF00, 0x0000FF};

    for (std::uint64_t fileRow = 0; fileRow < layout.height; ++fileRow) {
        const std::uint8_t* src = data + layout.pixelOffset + fileRow * stride;
        const std::uint64_t row = layout.topDown ? fileRow : layout.height - 1 - fileRow;
        std::uint8_t* dst = out.Row(static_cast<int>(row));
        switch (layout.bits) {
        case 24:
            for (std::uint64_t x = 0; x < layout.width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
            break;
        case 32:
            if (plain32) {
                for (std::uint64_t x = 0; x < layout.width; ++x, src += 4, dst += 3) {
                    dst[0] = src[2];
                    dst[1] = src[1];
                    dst[2] = src[0];
                }
            } else {
                for (std::uint64_t x = 0; x < layout.width; ++x, src += 4, dst += 3) {
                    const std::uint32_t pixel = ReadU32(src);
                    dst[0] = red(pixel);
                    dst[1] = green(pixel);
                    dst[2] = blue(pixel);
                }
            }
            break;
        case 16:
            for (std::uint64_t x = 0; x < layout.width; ++x, src += 2, dst += 3) {
                const std::uint32_t pixel = ReadU16(src);
                dst[0] = red(pixel);
                dst[1] = green(pixel);
                dst[2] = blue(pixel);
            }
            break;
        default:
            DecodeIndexedRow(src, layout, dst);
            break;
        }
    }
    return true;
}

// RLE8 and RLE4. Rows count from the bottom of the picture, as stored.
bool DecodeRle(const std::uint8_t* data, std::size_t size, const BmpLayout& layout, CRgbRaster& out)
{
    if (layout.width * layout.height > PixelBudgetForFile(size))
        return false;
    Allocate(layout, out);  // black: what the stream never writes stays black

    const bool rle4 = layout.compression == kBiRle4;
    const std::uint64_t width = layout.width;
    const std::uint64_t height = layout.height;
    std::size_t pos = layout.pixelOffset;
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    auto put = [&](unsigned index) {
        if (x < width)
            PutColor(out.Row(static_cast<int>(height - 1 - y)) + 3 * x, layout.palette[index]);
        ++x;
    };

    while (y < height) {
        if (size - pos < 2) {
            // No end-of-bitmap: complete only if the last row was filled.
            return y + 1 == height && x >= width;
        }
        const unsigned count = data[pos];
        const unsigned value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            // A run; pixels past the row end are dropped.
            for (unsigned i = 0; i < count && x < width; ++i)
                put(rle4 ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            if (x >= width)
                x = width;
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return true;
        case 2:  // delta: move right and up
            if (size - pos < 2)
                return false;
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
            break;
        default: {  // absolute mode: value literal indices, padded to 16 bits
            const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
            if (size - pos < bytes)
                return false;
            for (unsigned i = 0; i < value && x < width; ++i)
                put(rle4 ? ((data[pos + i / 2] >> ((i & 1) ? 0 : 4)) & 0x0F) : data[pos + i]);
            if (x >= width)
                x = width;
            pos += std::min(bytes + (bytes & 1), size - pos);
            break;
        }
        }
    }
    return true;  // writes past the last row end the picture
}

}  // namespace

bool HasBmpSignature(const std::uint8_t* data, std::size_t size)
{
    return data != nullptr && size >= 2 && data[0] == 'B' && data[1] == 'M';
}

bool DecodeBmp(const std::uint8_t* data, std::size_t size, CRgbRaster& out)
{
    try {
        BmpLayout layout;
        if (!ReadLayout(data, size, layout))
            return false;
        if (layout.compression == kBiRle8 || layout.compression == kBiRle4)
            return DecodeRle(data, size, layout, out);
        return DecodeUncompressed(data, size, layout, out);
    } catch (const std::bad_alloc&) {
        return false;
    }
}
