// JPEG reader: colour conversions, the warnings policy and the limits, on files encoded or edited here.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "core/decode_limits.h"
#include "core/jpeg_read.h"
#include "tests/support/test_images.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<CRgbRaster> Decode(const Bytes& file)
{
    CRgbRaster raster;
    if (!DecodeJpeg(file.data(), file.size(), raster))
        return std::nullopt;
    return raster;
}

// Every level of the decoded gray face (bottom-up).
Bytes Levels(const CRgbRaster& raster)
{
    EXPECT_TRUE(raster.Complete() && raster.gray);
    if (!raster.gray)
        return {};
    return Bytes(raster.gray.get(), raster.gray.get() + raster.PixelCount());
}

Bytes ReadData(const char* relative)
{
    return testing_support::ReadFileBytes(testing_support::DataPath(relative));
}

struct EncodeOptions {
    int width = 8;
    int height = 8;
    J_COLOR_SPACE space = JCS_GRAYSCALE;
    int components = 1;
    bool adobeMarker = true;
    std::vector<jpeg_scan_info> scans;  // empty: baseline
};

// A flat picture of one colour, encoded at quality 100 (flat blocks come back exactly).
Bytes EncodeFlat(const EncodeOptions& options, const std::vector<std::uint8_t>& colour)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(options.width);
    cinfo.image_height = static_cast<JDIMENSION>(options.height);
    cinfo.input_components = options.components;
    cinfo.in_color_space = options.space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, options.space);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.write_Adobe_marker = options.adobeMarker ? TRUE : FALSE;
    if (!options.scans.empty()) {
        cinfo.scan_info = options.scans.data();
        cinfo.num_scans = static_cast<int>(options.scans.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row;
    for (int x = 0; x < options.width; ++x)
        row.insert(row.end(), colour.begin(), colour.end());
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes file(buffer, buffer + size);
    std::free(buffer);
    return file;
}

// A progressive script for one gray component: the DC scan, then every AC
// coefficient on its own, sent in `levels` successive-approximation passes.
std::vector<jpeg_scan_info> ManyScans(int levels)
{
    std::vector<jpeg_scan_info> scans;
    scans.push_back(jpeg_scan_info{1, {0, 0, 0, 0}, 0, 0, 0, 0});
    for (int k = 1; k < 64; ++k) {
        for (int level = levels - 1; level >= 0; --level) {
            const int ah = level == levels - 1 ? 0 : level + 1;
            scans.push_back(jpeg_scan_info{1, {0, 0, 0, 0}, k, k, ah, level});
        }
    }
    return scans;
}

TEST(JpegRead, AdobeCmykIsInvertedInkMultipliedByBlack)
{
    // Stored (inverted) C, M, Y, K = 200, 100, 50, 128: R = round(200 * 128 / 255) and so on,
    // giving R, G, B = 100, 50, 25, whose gray level is (3000 + 2950 + 275 + 50) / 100 = 62.
    EncodeOptions options;
    options.space = JCS_CMYK;
    options.components = 4;
    const auto adobe = Decode(EncodeFlat(options, {200, 100, 50, 128}));
    ASSERT_TRUE(adobe);
    EXPECT_EQ(Levels(*adobe), Bytes(64, 62));

    // Without the Adobe marker the values are ink amounts: (255 - 200) * (255 - 128) / 255 = 27.4 -> 27,
    // giving R, G, B = 27, 77, 102 and gray (810 + 4543 + 1122 + 50) / 100 = 65.
    options.adobeMarker = false;
    const auto plain = Decode(EncodeFlat(options, {200, 100, 50, 128}));
    ASSERT_TRUE(plain);
    EXPECT_EQ(Levels(*plain), Bytes(64, 65));
}

TEST(JpegRead, GrayAndRgbFlatColours)
{
    const auto gray = Decode(EncodeFlat({}, {77}));
    ASSERT_TRUE(gray);
    EXPECT_EQ(gray->width, 8);
    EXPECT_EQ(Levels(*gray), Bytes(64, 77));

    EncodeOptions rgb;
    rgb.space = JCS_RGB;
    rgb.components = 3;
    const auto colour = Decode(EncodeFlat(rgb, {10, 200, 90}));
    ASSERT_TRUE(colour);
    // (300 + 11800 + 990 + 50) / 100
    EXPECT_EQ(Levels(*colour), Bytes(64, 131));
}

TEST(JpegRead, ScanCountIsLimited)
{
    EncodeOptions options;
    options.scans = ManyScans(6);  // 1 + 63 * 6 = 379 scans: a legal, if odd, file
    EXPECT_TRUE(Decode(EncodeFlat(options, {90})));
    options.scans = ManyScans(9);  // 568 scans
    EXPECT_FALSE(Decode(EncodeFlat(options, {90})));
}

// Offset of the first SOFn marker's height field.
std::size_t FrameSizeOffset(const Bytes& file)
{
    for (std::size_t i = 2; i + 9 < file.size(); ++i)
        if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2))
            return i + 5;
    return 0;
}

TEST(JpegRead, DeclaredSizeMustFitTheFile)
{
    Bytes file = ReadData("jpeg_variants/ijg_testorig.jpg");  // 227 x 149 in a few kB
    const std::size_t at = FrameSizeOffset(file);
    ASSERT_NE(at, 0u);
    ASSERT_TRUE(Decode(file));
    struct Size {
        int width;
        int height;
    };
    // Beyond 2^28 pixels, and beyond the 2^24 pixels a small file may declare.
    for (const Size size : {Size{65500, 65500}, Size{16384, 16384}, Size{8192, 4096}, Size{65500, 257}}) {
        file[at] = static_cast<std::uint8_t>(size.height >> 8);
        file[at + 1] = static_cast<std::uint8_t>(size.height);
        file[at + 2] = static_cast<std::uint8_t>(size.width >> 8);
        file[at + 3] = static_cast<std::uint8_t>(size.width);
        EXPECT_FALSE(Decode(file)) << size.width << " x " << size.height;
    }
}

TEST(JpegRead, PixelBudgetGrowsWithTheFile)
{
    EXPECT_EQ(PixelBudgetForFile(0), std::uint64_t{1} << 24);
    EXPECT_EQ(PixelBudgetForFile(16384), std::uint64_t{1} << 24);
    EXPECT_EQ(PixelBudgetForFile(32768), std::uint64_t{1} << 25);
    EXPECT_EQ(PixelBudgetForFile(std::size_t{1} << 30), std::uint64_t{1} << 28);
}

TEST(JpegRead, HarmlessWarningsAreIgnored)
{
    // Junk between two markers: libjpeg warns of extraneous bytes, the pixels are untouched.
    const Bytes original = ReadData("jpeg_variants/ijg_testorig.jpg");
    ASSERT_GE(original.size(), 6u);
    const std::size_t secondMarker = 4 + (original[4] << 8 | original[5]);  // after SOI and the first segment
    ASSERT_EQ(original[secondMarker], 0xFF);
    Bytes junk = original;
    junk.insert(junk.begin() + static_cast<std::ptrdiff_t>(secondMarker), {0x12, 0x34, 0x56});
    const auto a = Decode(original);
    const auto b = Decode(junk);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Levels(*a), Levels(*b));
}

TEST(JpegRead, DamagedDataIsRefused)
{
    // A restart marker out of sequence: libjpeg would resynchronise and invent the lost blocks.
    Bytes file = ReadData("jpeg_variants/chelsea_restart.jpg");
    ASSERT_TRUE(Decode(file));
    std::size_t rst = 0;
    for (std::size_t i = file.size() / 2; i + 1 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] >= 0xD0 && file[i + 1] <= 0xD7) {
            rst = i + 1;
            break;
        }
    }
    ASSERT_NE(rst, 0u);
    file[rst] = static_cast<std::uint8_t>(0xD0 + ((file[rst] - 0xD0 + 3) & 7));
    EXPECT_FALSE(Decode(file));

    EXPECT_FALSE(Decode(ReadData("bad/corrupt_entropy.jpg")));   // hits a marker mid-block
    EXPECT_FALSE(Decode(ReadData("bad/truncated_half.jpg")));    // premature end
    EXPECT_FALSE(Decode(ReadData("bad/unsupported_12bit.jpg")));
    EXPECT_FALSE(Decode(ReadData("bad/jpeg_soi_eoi_only.jpg")));
}

}  // namespace
