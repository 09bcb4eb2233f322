// BMP reader: headers, palettes, bit fields, RLE and the refusals, on files built here byte by byte.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "core/bmp_read.h"
#include "core/dib_image.h"
#include "core/jpeg_read.h"
#include "tests/support/test_images.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<std::uint8_t, 3>;

void PutU16(Bytes& b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(Bytes& b, std::uint32_t v)
{
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}

// A BMP file assembled from its parts; pixel bytes are given as stored.
struct BmpFile {
    std::uint32_t headerSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t bits = 24;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<std::uint32_t> masks;  // after a 40-byte header, inside a larger one
    std::vector<Rgb> palette;          // r, g, b
    Bytes pixels;
    std::optional<std::uint32_t> pixelOffset;  // default: right after the palette

    Bytes Build() const
    {
        Bytes h;
        if (headerSize == 12) {
            PutU32(h, 12);
            PutU16(h, static_cast<std::uint32_t>(width));
            PutU16(h, static_cast<std::uint32_t>(height));
            PutU16(h, 1);
            PutU16(h, bits);
        } else {
            PutU32(h, headerSize);
            PutU32(h, static_cast<std::uint32_t>(width));
            PutU32(h, static_cast<std::uint32_t>(height));
            PutU16(h, 1);
            PutU16(h, bits);
            PutU32(h, compression);
            PutU32(h, 0);          // biSizeImage
            PutU32(h, 2835);
            PutU32(h, 2835);
            PutU32(h, colorsUsed);
            PutU32(h, 0);
            if (headerSize > 40)
                for (std::uint32_t mask : masks)
                    PutU32(h, mask);
            h.resize(headerSize, 0);
            if (headerSize == 40)
                for (std::uint32_t mask : masks)
                    PutU32(h, mask);
        }
        for (const Rgb& c : palette) {
            h.insert(h.end(), {c[2], c[1], c[0]});
            if (headerSize != 12)
                h.push_back(0);
        }
        const std::uint32_t offset = pixelOffset.value_or(static_cast<std::uint32_t>(14 + h.size()));
        Bytes file = {'B', 'M'};
        PutU32(file, static_cast<std::uint32_t>(offset + pixels.size()));
        PutU32(file, 0);
        PutU32(file, offset);
        file.insert(file.end(), h.begin(), h.end());
        file.resize(std::max<std::size_t>(file.size(), offset), 0);
        file.insert(file.end(), pixels.begin(), pixels.end());
        return file;
    }
};

std::optional<CRgbRaster> Decode(const Bytes& file)
{
    CRgbRaster raster;
    if (!DecodeBmp(file.data(), file.size(), raster))
        return std::nullopt;
    return raster;
}

Rgb PixelAt(const CRgbRaster& raster, int x, int topDownRow)
{
    const std::uint8_t* p = raster.Row(topDownRow) + 3 * x;
    return {p[0], p[1], p[2]};
}

const Rgb kBlack = {0, 0, 0};

// ---------------------------------------------------------------------------
// Bit fields and the 8-bit widening rule

struct FieldCase {
    const char* name;
    std::uint16_t bits;
    std::uint32_t compression;
    std::vector<std::uint32_t> masks;
    std::uint32_t pixel;
    Rgb expected;
};

class BitFields : public ::testing::TestWithParam<FieldCase> {};

TEST_P(BitFields, WidenByRoundingToTheChannelMaximum)
{
    const FieldCase& c = GetParam();
    BmpFile file;
    file.bits = c.bits;
    file.compression = c.compression;
    file.masks = c.masks;
    for (int i = 0; i < c.bits / 8; ++i)
        file.pixels.push_back(static_cast<std::uint8_t>(c.pixel >> (8 * i)));
    file.pixels.resize(4, 0);
    const auto raster = Decode(file.Build());
    ASSERT_TRUE(raster);
    EXPECT_EQ(PixelAt(*raster, 0, 0), c.expected);
}

// round(v * 255 / max): 5 bits 3 -> 25 (bit replication would give 24), 31 -> 255.
INSTANTIATE_TEST_SUITE_P(Cases, BitFields, ::testing::Values(
    FieldCase{"rgb555_white", 16, 0, {}, 0x7FFF, {255, 255, 255}},
    FieldCase{"rgb555_top_bit_ignored", 16, 0, {}, 0x8000, {0, 0, 0}},
    FieldCase{"rgb555_3_1_16", 16, 0, {}, (3 << 10) | (1 << 5) | 16, {25, 8, 132}},
    FieldCase{"rgb555_explicit", 16, 3, {0x7C00, 0x03E0, 0x001F}, (3 << 10) | (1 << 5) | 16, {25, 8, 132}},
    FieldCase{"rgb565_white", 16, 3, {0xF800, 0x07E0, 0x001F}, 0xFFFF, {255, 255, 255}},
    FieldCase{"rgb565_green_1_32", 16, 3, {0xF800, 0x07E0, 0x001F}, (1 << 5), {0, 4, 0}},
    FieldCase{"rgb565_green_32", 16, 3, {0xF800, 0x07E0, 0x001F}, (32 << 5) | (28 << 11), {230, 130, 0}},
    FieldCase{"rgb16_880_no_blue", 16, 3, {0xFF00, 0x00FF, 0}, 0x80FF, {128, 255, 0}},
    FieldCase{"rgb16_one_bit_channels", 16, 3, {0x4, 0x2, 0x1}, 0x5, {255, 0, 255}},
    FieldCase{"rgb32_default", 32, 0, {}, 0xAB102030, {0x10, 0x20, 0x30}},
    FieldCase{"rgb32_reversed", 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}, 0x00102030, {0x30, 0x20, 0x10}},
    FieldCase{"rgb32_alpha_first", 32, 3, {0xFF000000, 0x00000FF0, 0x00FF0000}, 0x12345678, {0x12, 0x67, 0x34}},
    FieldCase{"rgb32_10bit", 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF}, (1023u << 20) | (512u << 10) | 1, {255, 128, 0}},
    FieldCase{"rgb32_11_11_10", 32, 3, {0xFFE00000, 0x001FFC00, 0x000003FF}, 0xFFFFFFFF, {255, 255, 255}},
    FieldCase{"alphabitfields", 32, 6, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 0x7F405060, {0x40, 0x50, 0x60}}),
    [](const ::testing::TestParamInfo<FieldCase>& info) { return std::string(info.param.name); });

TEST(BmpRead, FiveBitRuleOverAllValues)
{
    // Each 5-bit red value v gives round(v * 255 / 31); the 6-bit green round(v * 255 / 63).
    BmpFile file;
    file.width = 64;
    file.bits = 16;
    file.compression = 3;
    file.masks = {0xF800, 0x07E0, 0x001F};
    for (int v = 0; v < 64; ++v)
        PutU16(file.pixels, static_cast<std::uint32_t>(((v & 31) << 11) | (v << 5)));
    const auto raster = Decode(file.Build());
    ASSERT_TRUE(raster);
    for (int v = 0; v < 64; ++v) {
        const Rgb p = PixelAt(*raster, v, 0);
        EXPECT_EQ(p[0], ((v & 31) * 255 + 15) / 31) << v;
        EXPECT_EQ(p[1], (v * 255 + 31) / 63) << v;
    }
}

// ---------------------------------------------------------------------------
// Palettes

TEST(BmpRead, IndexedDepthsReadMostSignificantBitsFirst)
{
    const std::vector<Rgb> palette16 = {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}, {50, 0, 0}, {60, 0, 0},
                                        {70, 0, 0}, {80, 0, 0}, {90, 0, 0}, {100, 0, 0}, {110, 0, 0}, {120, 0, 0},
                                        {130, 0, 0}, {140, 0, 0}, {150, 0, 0}};
    struct Case {
        std::uint16_t bits;
        Bytes row;  // 4 bytes, padded
        std::vector<int> indices;
    };
    const Case cases[] = {
        {1, {0b10110000, 0, 0, 0}, {1, 0, 1, 1, 0}},
        {2, {0b11100100, 0b01000000, 0, 0}, {3, 2, 1, 0, 1}},
        {4, {0xF1, 0x2A, 0x50, 0}, {15, 1, 2, 10, 5}},
        {8, {7, 0, 14, 3, 9, 0, 0, 0}, {7, 0, 14, 3, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        BmpFile file;
        file.width = 5;
        file.bits = c.bits;
        file.palette.assign(palette16.begin(), palette16.begin() + std::min<int>(16, 1 << c.bits));
        file.pixels = c.row;
        const auto raster = Decode(file.Build());
        ASSERT_TRUE(raster);
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(PixelAt(*raster, x, 0), palette16[c.indices[x]]) << x;
    }
}

TEST(BmpRead, IndicesBeyondThePaletteAreBlack)
{
    BmpFile file;
    file.width = 4;
    file.bits = 8;
    file.colorsUsed = 2;
    file.palette = {{200, 100, 50}, {1, 2, 3}};
    file.pixels = {0, 1, 2, 255};
    const auto raster = Decode(file.Build());
    ASSERT_TRUE(raster);
    EXPECT_EQ(PixelAt(*raster, 0, 0), (Rgb{200, 100, 50}));
    EXPECT_EQ(PixelAt(*raster, 1, 0), (Rgb{1, 2, 3}));
    EXPECT_EQ(PixelAt(*raster, 2, 0), kBlack);
    EXPECT_EQ(PixelAt(*raster, 3, 0), kBlack);
}

TEST(BmpRead, PaletteIsCutWherePixelsBegin)
{
    // An OS/2 1.x header implies 256 entries; this file has 2, as bfOffBits shows.
    BmpFile file;
    file.headerSize = 12;
    file.width = 3;
    file.bits = 8;
    file.palette = {{9, 8, 7}, {6, 5, 4}};
    file.pixels = {1, 0, 2, 0};
    const auto raster = Decode(file.Build());
    ASSERT_TRUE(raster);
    EXPECT_EQ(PixelAt(*raster, 0, 0), (Rgb{6, 5, 4}));
    EXPECT_EQ(PixelAt(*raster, 1, 0), (Rgb{9, 8, 7}));
    EXPECT_EQ(PixelAt(*raster, 2, 0), kBlack);  // would be a pixel byte read as a colour
}

TEST(BmpRead, PaletteRunningPastTheFileIsRefused)
{
    BmpFile file;
    file.bits = 8;
    file.colorsUsed = 1000000;
    file.palette = {{1, 1, 1}};
    file.pixels = {0, 0, 0, 0};
    EXPECT_FALSE(Decode(file.Build()));
    file.colorsUsed = 1;
    EXPECT_TRUE(Decode(file.Build()));
}

// ---------------------------------------------------------------------------
// Headers, orientation, rows

TEST(BmpRead, EveryHeaderVersionReadsTheSamePixels)
{
    // 3 x 2 at 24 bits, three pad bytes per row; file rows bottom first.
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};
    for (std::uint32_t headerSize : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        SCOPED_TRACE(headerSize);
        BmpFile file;
        file.headerSize = headerSize;
        file.width = 3;
        file.height = 2;
        file.pixels = pixels;
        const auto raster = Decode(file.Build());
        ASSERT_TRUE(raster);
        EXPECT_EQ(raster->width, 3);
        EXPECT_EQ(raster->height, 2);
        EXPECT_EQ(raster->rgb, (Bytes{12, 11, 10, 15, 14, 13, 18, 17, 16, 3, 2, 1, 6, 5, 4, 9, 8, 7}));
    }
    for (std::uint32_t headerSize : {0u, 11u, 24u, 41u, 66u, 100u, 125u, 0xFFFFFFFFu}) {
        BmpFile file;
        file.headerSize = (headerSize >= 40 && headerSize <= 200) ? headerSize : 40;
        file.pixels = {1, 2, 3, 0};
        Bytes bytes = file.Build();
        bytes[14] = static_cast<std::uint8_t>(headerSize);
        bytes[15] = static_cast<std::uint8_t>(headerSize >> 8);
        bytes[16] = static_cast<std::uint8_t>(headerSize >> 16);
        bytes[17] = static_cast<std::uint8_t>(headerSize >> 24);
        EXPECT_FALSE(Decode(bytes)) << headerSize;
    }
}

TEST(BmpRead, TopDownRowsGiveTheSamePicture)
{
    BmpFile bottomUp;
    bottomUp.width = 1;
    bottomUp.height = 3;
    bottomUp.pixels = {1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0};
    BmpFile topDown = bottomUp;
    topDown.height = -3;
    topDown.pixels = {3, 3, 3, 0, 2, 2, 2, 0, 1, 1, 1, 0};
    const auto a = Decode(bottomUp.Build());
    const auto b = Decode(topDown.Build());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->rgb, (Bytes{3, 3, 3, 2, 2, 2, 1, 1, 1}));
    EXPECT_EQ(b->rgb, a->rgb);
}

TEST(BmpRead, TruncatedRowsAreRefused)
{
    // 2 x 3 at 24 bits: 8-byte rows of 6 pixel bytes and 2 pad bytes.
    BmpFile file;
    file.width = 2;
    file.height = 3;
    file.pixels.assign(24, 7);
    const Bytes full = file.Build();
    EXPECT_TRUE(Decode(full));
    const Bytes noLastPad(full.begin(), full.end() - 2);
    EXPECT_TRUE(Decode(noLastPad));  // the last row's padding may be missing
    for (std::size_t cut = 3; cut <= full.size() - noLastPad.size() + 24; ++cut) {
        const Bytes shorter(full.begin(), full.end() - static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(Decode(shorter)) << "cut " << cut;
    }
}

TEST(BmpRead, ImpossibleSizesAreRefused)
{
    struct Case {
        std::int32_t width;
        std::int32_t height;
    };
    for (const Case& c : {Case{0, 1}, Case{-1, 1}, Case{1, 0}, Case{INT32_MIN, 1}, Case{1, INT32_MIN}, Case{1 << 15, 1 << 14},
                          Case{INT32_MAX, INT32_MAX}, Case{INT32_MAX, -INT32_MAX}}) {
        BmpFile file;
        file.width = c.width;
        file.height = c.height;
        file.pixels.assign(64, 0);
        EXPECT_FALSE(Decode(file.Build())) << c.width << " x " << c.height;
    }
}

TEST(BmpRead, UnsupportedEncodingsAreRefused)
{
    struct Case {
        const char* name;
        std::uint32_t headerSize;
        std::uint16_t bits;
        std::uint32_t compression;
    };
    const Case cases[] = {
        {"bits 0", 40, 0, 0},          {"bits 3", 40, 3, 0},         {"bits 48", 40, 48, 0},
        {"rle8 at 4 bits", 40, 4, 1},  {"rle4 at 8 bits", 40, 8, 2}, {"bitfields at 24", 40, 24, 3},
        {"bitfields at 8", 40, 8, 3},  {"jpeg", 40, 0, 4},           {"png", 40, 0, 5},
        {"os2 huffman", 64, 1, 3},     {"os2 rle24", 64, 24, 4},     {"unknown", 40, 24, 7},
    };
    for (const Case& c : cases) {
        BmpFile file;
        file.headerSize = c.headerSize;
        file.bits = c.bits;
        file.compression = c.compression;
        file.masks = {0xFF0000, 0xFF00, 0xFF};
        file.palette.assign(2, Rgb{});
        file.pixels.assign(16, 0);
        EXPECT_FALSE(Decode(file.Build())) << c.name;
    }
}

TEST(BmpRead, PixelOffsetMustLieInTheFileAfterTheHeaders)
{
    BmpFile file;
    file.pixels = {1, 2, 3, 0};
    for (std::uint32_t offset : {0u, 13u, 53u, 58u, 0xFFFFFFFFu}) {
        Bytes bytes = file.Build();
        for (int i = 0; i < 4; ++i)
            bytes[10 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
        EXPECT_FALSE(Decode(bytes)) << offset;
    }
}

// ---------------------------------------------------------------------------
// RLE

BmpFile RleFile(int width, int height, std::uint32_t compression, Bytes stream)
{
    BmpFile file;
    file.width = width;
    file.height = height;
    file.bits = compression == 1 ? 8 : 4;
    file.compression = compression;
    // Entry 0 is not black, so unwritten pixels can be told from index 0.
    file.palette = {{9, 9, 9}, {10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}, {50, 0, 0}};
    file.pixels = std::move(stream);
    return file;
}

// Rows top-down, one value per pixel: the red channel; 0 for black, 9 for entry 0.
std::vector<std::vector<int>> Reds(const CRgbRaster& raster)
{
    std::vector<std::vector<int>> rows(raster.height, std::vector<int>(raster.width));
    for (int y = 0; y < raster.height; ++y)
        for (int x = 0; x < raster.width; ++x)
            rows[y][x] = raster.Row(y)[3 * x];
    return rows;
}

TEST(BmpRle, Rle8RunsAbsoluteDeltaAndEscapes)
{
    const Bytes stream = {
        2, 1, 0, 3, 2, 3, 4, 0,  // row 0: run of two 1s, literal 2 3 4 (padded)
        0, 0,                    // end of line
        1, 5, 0, 2, 2, 1,        // row 1: one 5, then move right 2 and up 1
        1, 3,                    // row 2, x 3: one 3
        0, 1,                    // end of bitmap: the rest stays black
    };
    const auto raster = Decode(RleFile(5, 4, 1, stream).Build());
    ASSERT_TRUE(raster);
    EXPECT_EQ(Reds(*raster), (std::vector<std::vector<int>>{
                                 {0, 0, 0, 0, 0},
                                 {0, 0, 0, 30, 0},
                                 {50, 0, 0, 0, 0},
                                 {10, 10, 20, 30, 40},
                             }));
}

TEST(BmpRle, Rle4NibblesAndAbsoluteMode)
{
    const Bytes stream = {
        5, 0x12,          // 1 2 1 2 1
        0, 0,
        0, 3, 0x34, 0x50, // literal 3 4 5, padded to a 16-bit boundary
        2, 0x00,          // 0 0: entry 0 written on purpose
        0, 1,
    };
    const auto raster = Decode(RleFile(5, 2, 2, stream).Build());
    ASSERT_TRUE(raster);
    EXPECT_EQ(Reds(*raster), (std::vector<std::vector<int>>{
                                 {30, 40, 50, 9, 9},
                                 {10, 20, 10, 20, 10},
                             }));
}

TEST(BmpRle, RunsArePutOnlyInsideThePicture)
{
    const Bytes stream = {
        9, 1,        // nine 1s into a row of 3: the rest is dropped
        2, 2,        // still row 0, past its end: dropped
        0, 0,
        0, 2, 9, 2,  // move far right and up: outside, nothing written
        3, 3,
        0, 0, 3, 4,  // a row beyond the picture ends the decoding
    };
    const auto raster = Decode(RleFile(3, 2, 1, stream).Build());
    ASSERT_TRUE(raster);
    EXPECT_EQ(Reds(*raster), (std::vector<std::vector<int>>{{0, 0, 0}, {10, 10, 10}}));
}

TEST(BmpRle, StreamEndingEarlyIsRefused)
{
    // Without an end-of-bitmap escape a stream is complete once its last row is full.
    EXPECT_TRUE(Decode(RleFile(2, 2, 1, {2, 1, 0, 0, 2, 2}).Build()));
    EXPECT_TRUE(Decode(RleFile(2, 2, 1, {2, 1, 0, 0, 2, 2, 0, 0}).Build()));
    EXPECT_FALSE(Decode(RleFile(2, 2, 1, {2, 1, 0, 0, 1, 2}).Build()));
    EXPECT_FALSE(Decode(RleFile(2, 2, 1, {2, 1}).Build()));
    EXPECT_FALSE(Decode(RleFile(2, 2, 1, {2, 1, 0, 0, 0, 2, 1}).Build()));  // delta cut short
    EXPECT_FALSE(Decode(RleFile(2, 2, 1, {0, 4, 1, 2}).Build()));           // literal cut short
    EXPECT_FALSE(Decode(RleFile(2, 2, 1, {}).Build()));
}

TEST(BmpRle, TopDownRleIsRefused)
{
    EXPECT_TRUE(Decode(RleFile(2, 2, 1, {0, 1}).Build()));
    EXPECT_FALSE(Decode(RleFile(2, -2, 1, {0, 1}).Build()));
}

TEST(BmpRle, PictureMustFitTheBudgetOfItsFileLength)
{
    // A few bytes may declare at most 2^24 pixels; this one is all black.
    const auto allowed = Decode(RleFile(4096, 4096, 1, {0, 1}).Build());
    ASSERT_TRUE(allowed);
    EXPECT_EQ(allowed->rgb.size(), std::size_t{4096} * 4096 * 3);
    EXPECT_FALSE(Decode(RleFile(4096, 4097, 1, {0, 1}).Build()));
}

TEST(BmpRead, GimpRle4QuirkMatchesItsUncompressedTwin)
{
    // The RLE4 encoder runs one pixel past the row end in 21 rows; those pixels are dropped.
    const Bytes rle = testing_support::ReadFileBytes(testing_support::DataPath("bmp_variants/chelsea301_pal4_rle4_gimp.bmp"));
    const Bytes plain = testing_support::ReadFileBytes(testing_support::DataPath("bmp_variants/chelsea301_pal4_gimp.bmp"));
    const auto a = Decode(rle);
    const auto b = Decode(plain);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->rgb == b->rgb);
}

// ---------------------------------------------------------------------------
// Every proper prefix of a file whose length is fixed by its content is refused.

TEST(Truncation, EveryPrefixOfUncompressedBmpAndJpegIsRefused)
{
    struct Case {
        const char* path;
        std::size_t lastRowPadding;  // may be missing: the pixels are all there
    };
    for (const Case& c : {Case{"bmpsuite/g/rgb24.bmp", 3}, Case{"bmpsuite/g/pal1.bmp", 0}, Case{"bmpsuite/g/rgb16-565.bmp", 2},
                          Case{"jpeg_variants/ijg_testorig.jpg", 0}, Case{"jpeg_variants/chelsea_progressive.jpg", 0},
                          Case{"jpeg_variants/chelsea_arith.jpg", 0}}) {
        SCOPED_TRACE(c.path);
        const Bytes file = testing_support::ReadFileBytes(testing_support::DataPath(c.path));
        ASSERT_FALSE(file.empty());
        const std::size_t complete = file.size() - c.lastRowPadding;
        // Every length near the start and the end, 50 steps through the middle.
        const std::size_t step = std::max<std::size_t>(1, file.size() / 50);
        for (std::size_t length = 0; length <= file.size(); length += (length < 200 || length + 200 > file.size()) ? 1 : step) {
            CDibImage image;
            const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_EQ(image.LoadFromMemory(prefix.data(), prefix.size()), length >= complete) << "length " << length;
        }
    }
}

TEST(Truncation, RlePrefixesNeverCrash)
{
    for (const char* path : {"bmpsuite/g/pal8rle.bmp", "bmpsuite/g/pal4rle.bmp", "bmpsuite/q/pal8rletrns.bmp"}) {
        const Bytes file = testing_support::ReadFileBytes(testing_support::DataPath(path));
        for (std::size_t length = 0; length < file.size(); length += 17) {
            CRgbRaster raster;
            if (DecodeBmp(file.data(), length, raster)) {
                EXPECT_EQ(raster.rgb.size(), std::size_t(raster.width) * raster.height * 3);
            }
        }
    }
}

}  // namespace
