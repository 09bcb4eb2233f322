// Import: LoadFromFile / LoadFromMemory / ConvertToGray on real files and on rasters made here.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "core/dib_image.h"
#include "core/messages.h"
#include "tests/support/test_images.h"

using testing_support::DataPath;
using testing_support::Pixels;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

int ReferenceGray(int r, int g, int b)
{
    return (30 * r + 59 * g + 11 * b + 50) / 100;
}

// An image in the colour state, holding the given top-down RGB rows.
std::unique_ptr<CDibImage> ColourImage(int width, int height, const std::vector<std::uint8_t>& rgb)
{
    auto image = std::make_unique<CDibImage>();
    auto raster = std::make_unique<CRgbRaster>();
    raster->width = width;
    raster->height = height;
    raster->rgb = rgb;
    image->m_nWidth = width;
    image->m_nHeight = height;
    image->m_pBitmap = std::move(raster);
    return image;
}

std::unique_ptr<CDibImage> LoadGray(const std::string& relative)
{
    auto image = std::make_unique<CDibImage>();
    if (!image->LoadFromFile(DataPath(relative)) || !image->ConvertToGray())
        return nullptr;
    return image;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    const double mse = sum / a.size();
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// ---------------------------------------------------------------------------
// Gray conversion

TEST(ConvertToGray, EqualsIntegerRuleForEveryColour)
{
    // All 2^24 colours in one 4096 x 4096 raster: colour i = (r, g, b) = bytes of i.
    const int side = 4096;
    std::vector<std::uint8_t> rgb(std::size_t{side} * side * 3);
    for (std::uint32_t i = 0; i < (1u << 24); ++i) {
        rgb[3 * std::size_t{i}] = static_cast<std::uint8_t>(i >> 16);
        rgb[3 * std::size_t{i} + 1] = static_cast<std::uint8_t>(i >> 8);
        rgb[3 * std::size_t{i} + 2] = static_cast<std::uint8_t>(i);
    }
    auto image = ColourImage(side, side, rgb);
    ASSERT_TRUE(image->ConvertToGray());
    std::size_t mismatches = 0;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            // Raster row side - 1 - y is buffer row y.
            const std::uint32_t i = static_cast<std::uint32_t>(side - 1 - y) * side + x;
            const int expected = ReferenceGray(i >> 16, (i >> 8) & 255, i & 255);
            if (image->GetPixel(x, y) != expected && ++mismatches <= 5)
                ADD_FAILURE() << "r=" << (i >> 16) << " g=" << ((i >> 8) & 255) << " b=" << (i & 255) << ": got "
                              << int(image->GetPixel(x, y)) << ", expected " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(ConvertToGray, FloatRuleEqualsIntegerRuleForEveryWeightedSum)
{
    // The rule as written: s * 0.01f * 255 / 255 in double, rounded to float, ClampToByte.
    for (int s = 0; s <= 25500; ++s) {
        const double v = s * static_cast<double>(0.01f) * 255.0 / 255.0;
        EXPECT_EQ(ClampToByte(static_cast<float>(v)), (s + 50) / 100) << "s=" << s;
    }
}

TEST(ConvertToGray, PrimariesAndGrays)
{
    struct Case {
        std::uint8_t r, g, b;
        int gray;
    };
    const std::vector<Case> cases = {
        {255, 0, 0, 77}, {0, 255, 0, 150}, {0, 0, 255, 28}, {255, 255, 255, 255}, {0, 0, 0, 0},
        {255, 255, 0, 227}, {0, 255, 255, 179}, {255, 0, 255, 105}, {1, 1, 1, 1}, {128, 64, 32, 80},
    };
    std::vector<std::uint8_t> rgb;
    for (const Case& c : cases)
        rgb.insert(rgb.end(), {c.r, c.g, c.b});
    auto image = ColourImage(static_cast<int>(cases.size()), 1, rgb);
    ASSERT_TRUE(image->ConvertToGray());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(image->GetPixel(static_cast<int>(i), 0), cases[i].gray) << "case " << i;

    std::vector<std::uint8_t> grays;
    for (int k = 0; k < 256; ++k)
        grays.insert(grays.end(), {std::uint8_t(k), std::uint8_t(k), std::uint8_t(k)});
    auto ramp = ColourImage(256, 1, grays);
    ASSERT_TRUE(ramp->ConvertToGray());
    for (int k = 0; k < 256; ++k)
        EXPECT_EQ(ramp->GetPixel(k, 0), k);
}

TEST(ConvertToGray, FirstBufferRowIsBottomRowAndRasterIsReleased)
{
    // Top-down raster rows: white, 100-gray, black.
    auto image = ColourImage(2, 3, {255, 255, 255, 255, 255, 255, 100, 100, 100, 100, 100, 100, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(image->ConvertToGray());
    EXPECT_EQ(testing_support::Rows(*image), (std::vector<std::vector<int>>{{0, 0}, {100, 100}, {255, 255}}));
    EXPECT_EQ(image->m_pBitmap, nullptr);
    EXPECT_EQ(image->m_nWidth, 2);
    EXPECT_EQ(image->m_nHeight, 3);
    EXPECT_FALSE(image->ConvertToGray());  // nothing left to convert
}

TEST(ConvertToGray, FailsWithoutColourRaster)
{
    CMessageCapture capture;
    CDibImage image;
    EXPECT_FALSE(image.ConvertToGray());
    EXPECT_FALSE(image.HasPixels());
    EXPECT_TRUE(capture.Messages().empty());
}

// ---------------------------------------------------------------------------
// LoadFromFile

TEST(LoadFromFile, LoadsOnceOnly)
{
    CDibImage image;
    ASSERT_TRUE(image.LoadFromFile(DataPath("photos/chelsea_451x300.bmp")));
    EXPECT_EQ(image.m_nWidth, 451);
    EXPECT_EQ(image.m_nHeight, 300);
    EXPECT_FALSE(image.LoadFromFile(DataPath("photos/coins_302x303.bmp")));
    EXPECT_EQ(image.m_nWidth, 451);  // the first picture stays
    EXPECT_FALSE(image.LoadFromFile(DataPath("photos/chelsea_451x300.bmp")));

    // A failed load counts as the one load too.
    CDibImage failed;
    EXPECT_FALSE(failed.LoadFromFile(DataPath("bad/empty.bmp")));
    EXPECT_FALSE(failed.LoadFromFile(DataPath("photos/chelsea_451x300.bmp")));

    // And LoadFromMemory is the same single load.
    const std::vector<std::uint8_t> bytes = ReadFileBytes(DataPath("photos/chelsea_451x300.jpg"));
    CDibImage fromMemory;
    EXPECT_TRUE(fromMemory.LoadFromMemory(bytes.data(), bytes.size()));
    EXPECT_FALSE(fromMemory.LoadFromMemory(bytes.data(), bytes.size()));
    EXPECT_FALSE(fromMemory.LoadFromFile(DataPath("photos/chelsea_451x300.bmp")));
}

TEST(LoadFromFile, RefusesWhatIsNotARegularReadableFile)
{
    CMessageCapture capture;
    const std::string dir = TempDir("import_not_files");
    const std::string fifo = dir + "/pipe.bmp";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Beyond 1 GiB: refused before anything is read (the file is sparse, it costs no disk).
    const std::string huge = dir + "/huge.bmp";
    std::filesystem::copy_file(DataPath("photos/chelsea_451x300.bmp"), huge);
    std::filesystem::resize_file(huge, (std::uintmax_t{1} << 30) + 1);
    for (const std::string& path : {dir + "/missing.bmp", dir, fifo, huge, std::string()}) {
        CDibImage image;
        EXPECT_FALSE(image.LoadFromFile(path)) << path;  // a FIFO must not block either
        EXPECT_EQ(image.m_pBitmap, nullptr);
    }
    EXPECT_TRUE(capture.Messages().empty());  // the document reports "Image load error!"
}

TEST(LoadFromMemory, RefusesNullAndTinyInput)
{
    const std::uint8_t bm[] = {'B', 'M'};
    const std::uint8_t soi[] = {0xFF, 0xD8};
    for (const auto& [data, size] : std::vector<std::pair<const std::uint8_t*, std::size_t>>{
             {nullptr, 0}, {bm, 0}, {bm, 1}, {bm, 2}, {soi, 2}}) {
        CDibImage image;
        EXPECT_FALSE(image.LoadFromMemory(data, size));
    }
}

// ---------------------------------------------------------------------------
// Every real test file: decoded at its size, or refused.

struct FileCase {
    const char* path;
    int width;   // 0: refused
    int height;
};

void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.path;
}

class RealFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(RealFile, DecodesOrIsRefused)
{
    CMessageCapture capture;
    const FileCase& c = GetParam();
    CDibImage image;
    const bool loaded = image.LoadFromFile(DataPath(c.path));
    if (c.width == 0) {
        EXPECT_FALSE(loaded);
        EXPECT_EQ(image.m_pBitmap, nullptr);
        EXPECT_FALSE(image.HasPixels());
        return;
    }
    ASSERT_TRUE(loaded);
    EXPECT_EQ(image.m_nWidth, c.width);
    EXPECT_EQ(image.m_nHeight, c.height);
    ASSERT_TRUE(image.ConvertToGray());
    EXPECT_EQ(image.PixelCount(), std::size_t(c.width) * c.height);
    EXPECT_TRUE(capture.Messages().empty());
}

const FileCase kPhotos[] = {
    {"photos/camera_512x512.bmp", 512, 512},        {"photos/camera_512x512.jpg", 512, 512},
    {"photos/chelsea_451x300.bmp", 451, 300},       {"photos/chelsea_451x300.jpg", 451, 300},
    {"photos/clock_lowcontrast_400x300.bmp", 400, 300}, {"photos/clock_lowcontrast_400x300.jpg", 400, 300},
    {"photos/coins_302x303.bmp", 302, 303},         {"photos/coins_302x303.jpg", 302, 303},
    {"photos/hubble_dark_400x300.bmp", 400, 300},   {"photos/hubble_dark_400x300.jpg", 400, 300},
    {"photos/ihc_bright_320x240.bmp", 320, 240},    {"photos/ihc_bright_320x240.jpg", 320, 240},
};

const FileCase kBmpVariants[] = {
    {"bmp_variants/chelsea301_pal1.bmp", 301, 200},
    {"bmp_variants/chelsea301_pal4.bmp", 301, 200},
    {"bmp_variants/chelsea301_pal4_gimp.bmp", 301, 200},
    {"bmp_variants/chelsea301_pal4_rle4_gimp.bmp", 301, 200},
    {"bmp_variants/chelsea301_pal8_color.bmp", 301, 200},
    {"bmp_variants/chelsea301_pal8_gray.bmp", 301, 200},
    {"bmp_variants/chelsea301_pal8_os2.bmp", 301, 200},
    {"bmp_variants/chelsea301_pal8_rle8.bmp", 301, 200},
    {"bmp_variants/chelsea301_pal8_rle8_java.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb16_555.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb16_555_bitfields.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb16_565_bitfields.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb16_565_v5.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb24.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb24_os2.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb24_topdown.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb24_v4.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb24_v5.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb32.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgb32_bitfields.bmp", 301, 200},
    {"bmp_variants/chelsea301_rgba32_v5.bmp", 301, 200},
};

const FileCase kJpegVariants[] = {
    {"jpeg_variants/chelsea_411.jpg", 451, 300},
    {"jpeg_variants/chelsea_422.jpg", 451, 300},
    {"jpeg_variants/chelsea_440.jpg", 451, 300},
    {"jpeg_variants/chelsea_444.jpg", 451, 300},
    {"jpeg_variants/chelsea_arith.jpg", 451, 300},
    {"jpeg_variants/chelsea_cmyk_adobe.jpg", 451, 300},
    {"jpeg_variants/chelsea_exif_orient6.jpg", 300, 451},  // the stored grid, not turned
    {"jpeg_variants/chelsea_gray.jpg", 451, 300},
    {"jpeg_variants/chelsea_optimized.jpg", 451, 300},
    {"jpeg_variants/chelsea_progressive.jpg", 451, 300},
    {"jpeg_variants/chelsea_restart.jpg", 451, 300},
    {"jpeg_variants/chelsea_ycck_adobe.jpg", 451, 300},
    {"jpeg_variants/ijg_testimgari.jpg", 227, 149},
    {"jpeg_variants/ijg_testorig.jpg", 227, 149},
};

const FileCase kBmpSuiteGood[] = {
    {"bmpsuite/g/pal1.bmp", 127, 64},       {"bmpsuite/g/pal1bg.bmp", 127, 64},    {"bmpsuite/g/pal1wb.bmp", 127, 64},
    {"bmpsuite/g/pal4.bmp", 127, 64},       {"bmpsuite/g/pal4gs.bmp", 127, 64},    {"bmpsuite/g/pal4rle.bmp", 127, 64},
    {"bmpsuite/g/pal8-0.bmp", 127, 64},     {"bmpsuite/g/pal8.bmp", 127, 64},      {"bmpsuite/g/pal8gs.bmp", 127, 64},
    {"bmpsuite/g/pal8nonsquare.bmp", 127, 32}, {"bmpsuite/g/pal8os2.bmp", 127, 64}, {"bmpsuite/g/pal8rle.bmp", 127, 64},
    {"bmpsuite/g/pal8topdown.bmp", 127, 64}, {"bmpsuite/g/pal8v4.bmp", 127, 64},   {"bmpsuite/g/pal8v5.bmp", 127, 64},
    {"bmpsuite/g/pal8w124.bmp", 124, 61},   {"bmpsuite/g/pal8w125.bmp", 125, 62},  {"bmpsuite/g/pal8w126.bmp", 126, 63},
    {"bmpsuite/g/rgb16-565.bmp", 127, 64},  {"bmpsuite/g/rgb16-565pal.bmp", 127, 64}, {"bmpsuite/g/rgb16.bmp", 127, 64},
    {"bmpsuite/g/rgb16bfdef.bmp", 127, 64}, {"bmpsuite/g/rgb24.bmp", 127, 64},     {"bmpsuite/g/rgb24pal.bmp", 127, 64},
    {"bmpsuite/g/rgb32.bmp", 127, 64},      {"bmpsuite/g/rgb32bf.bmp", 127, 64},   {"bmpsuite/g/rgb32bfdef.bmp", 127, 64},
};

// Questionable files: all decodable, all decoded.
const FileCase kBmpSuiteQuestionable[] = {
    {"bmpsuite/q/pal2.bmp", 127, 64},          {"bmpsuite/q/pal4rlecut.bmp", 127, 64},
    {"bmpsuite/q/pal4rletrns.bmp", 127, 64},   {"bmpsuite/q/pal8offs.bmp", 127, 64},
    {"bmpsuite/q/pal8os2sp.bmp", 127, 64},     {"bmpsuite/q/pal8os2v2.bmp", 127, 64},
    {"bmpsuite/q/pal8oversizepal.bmp", 127, 64}, {"bmpsuite/q/pal8rlecut.bmp", 127, 64},
    {"bmpsuite/q/pal8rletrns.bmp", 127, 64},   {"bmpsuite/q/rgb24largepal.bmp", 127, 64},
    {"bmpsuite/q/rgb32-111110.bmp", 127, 64},  {"bmpsuite/q/rgb32fakealpha.bmp", 127, 64},
    {"bmpsuite/q/rgba32-1.bmp", 127, 64},
};

// Bad files: refused, except where the damage leaves a well-defined picture
// (fields that are ignored, RLE clipped at the picture's edge, indices beyond
// the palette shown black, a 16-bit mask without blue bits).
const FileCase kBmpSuiteBad[] = {
    {"bmpsuite/b/badbitcount.bmp", 0, 0},
    {"bmpsuite/b/badbitssize.bmp", 127, 64},     // biSizeImage ignored
    {"bmpsuite/b/baddens1.bmp", 127, 64},
    {"bmpsuite/b/baddens2.bmp", 127, 64},
    {"bmpsuite/b/badfilesize.bmp", 127, 64},     // bfSize ignored
    {"bmpsuite/b/badheadersize.bmp", 0, 0},
    {"bmpsuite/b/badpalettesize.bmp", 0, 0},
    {"bmpsuite/b/badplanes.bmp", 127, 64},       // biPlanes ignored
    {"bmpsuite/b/badrle.bmp", 127, 64},          // clipped
    {"bmpsuite/b/badrle4.bmp", 127, 64},
    {"bmpsuite/b/badrle4bis.bmp", 127, 64},
    {"bmpsuite/b/badrle4ter.bmp", 127, 64},
    {"bmpsuite/b/badrlebis.bmp", 127, 64},
    {"bmpsuite/b/badrleter.bmp", 127, 64},
    {"bmpsuite/b/badwidth.bmp", 0, 0},
    {"bmpsuite/b/pal8badindex.bmp", 127, 64},    // unknown indices black
    {"bmpsuite/b/reallybig.bmp", 0, 0},
    {"bmpsuite/b/rgb16-880.bmp", 127, 64},       // blue 0
    {"bmpsuite/b/rletopdown.bmp", 0, 0},
    {"bmpsuite/b/shortfile.bmp", 0, 0},
};

const FileCase kBad[] = {
    {"bad/corrupt_entropy.jpg", 0, 0},   {"bad/empty.bmp", 0, 0},
    {"bad/empty.jpg", 0, 0},             {"bad/height_zero.bmp", 0, 0},
    {"bad/huge_100000x100000.bmp", 0, 0}, {"bad/jpeg_soi_eoi_only.jpg", 0, 0},
    {"bad/png_named.bmp", 0, 0},         {"bad/text_named.jpg", 0, 0},
    {"bad/truncated_half.bmp", 0, 0},    {"bad/truncated_half.jpg", 0, 0},
    {"bad/truncated_in_header.bmp", 0, 0}, {"bad/truncated_in_header.jpg", 0, 0},
    {"bad/unsupported_12bit.jpg", 0, 0}, {"bad/width_negative.bmp", 0, 0},
    {"bad/width_zero.bmp", 0, 0},
};

const FileCase kMisnamed[] = {
    {"misnamed/bmp_named.jpg", 301, 200},
    {"misnamed/jpeg_named.bmp", 302, 303},
};

INSTANTIATE_TEST_SUITE_P(Photos, RealFile, ::testing::ValuesIn(kPhotos));
INSTANTIATE_TEST_SUITE_P(BmpVariants, RealFile, ::testing::ValuesIn(kBmpVariants));
INSTANTIATE_TEST_SUITE_P(JpegVariants, RealFile, ::testing::ValuesIn(kJpegVariants));
INSTANTIATE_TEST_SUITE_P(BmpSuiteGood, RealFile, ::testing::ValuesIn(kBmpSuiteGood));
INSTANTIATE_TEST_SUITE_P(BmpSuiteQuestionable, RealFile, ::testing::ValuesIn(kBmpSuiteQuestionable));
INSTANTIATE_TEST_SUITE_P(BmpSuiteBad, RealFile, ::testing::ValuesIn(kBmpSuiteBad));
INSTANTIATE_TEST_SUITE_P(Bad, RealFile, ::testing::ValuesIn(kBad));
INSTANTIATE_TEST_SUITE_P(Misnamed, RealFile, ::testing::ValuesIn(kMisnamed));

TEST(RealFiles, EveryImageFileIsListed)
{
    // A file added to tests/data without a row here would escape the table.
    const std::size_t listed = std::size(kPhotos) + std::size(kBmpVariants) + std::size(kJpegVariants) + std::size(kBmpSuiteGood) +
             std::size(kBmpSuiteQuestionable) + std::size(kBmpSuiteBad) + std::size(kBad) + std::size(kMisnamed);
    std::ifstream sums(DataPath("SHA256SUMS"));
    std::size_t files = 0;
    for (std::string line; std::getline(sums, line);)
        files += line.empty() ? 0 : 1;
    EXPECT_EQ(listed, files);
}

// ---------------------------------------------------------------------------
// Groups of files that hold the same pixels

void ExpectSameGray(const std::vector<const char*>& paths)
{
    auto first = LoadGray(paths[0]);
    ASSERT_NE(first, nullptr) << paths[0];
    for (std::size_t i = 1; i < paths.size(); ++i) {
        auto other = LoadGray(paths[i]);
        ASSERT_NE(other, nullptr) << paths[i];
        EXPECT_EQ(other->m_nWidth, first->m_nWidth) << paths[i];
        EXPECT_EQ(other->m_nHeight, first->m_nHeight) << paths[i];
        EXPECT_TRUE(Pixels(*other) == Pixels(*first)) << paths[i] << " differs from " << paths[0];
    }
}

TEST(IdenticalGroups, BmpVariants)
{
    ExpectSameGray({"bmp_variants/chelsea301_rgb24.bmp", "bmp_variants/chelsea301_rgb24_topdown.bmp",
                    "bmp_variants/chelsea301_rgb24_os2.bmp", "bmp_variants/chelsea301_rgb24_v4.bmp",
                    "bmp_variants/chelsea301_rgb24_v5.bmp", "bmp_variants/chelsea301_rgb32.bmp",
                    "bmp_variants/chelsea301_rgb32_bitfields.bmp", "bmp_variants/chelsea301_rgba32_v5.bmp"});
    ExpectSameGray({"bmp_variants/chelsea301_pal8_color.bmp", "bmp_variants/chelsea301_pal8_rle8.bmp"});
    ExpectSameGray({"bmp_variants/chelsea301_pal4_gimp.bmp", "bmp_variants/chelsea301_pal4_rle4_gimp.bmp"});
    ExpectSameGray({"bmp_variants/chelsea301_rgb16_555.bmp", "bmp_variants/chelsea301_rgb16_555_bitfields.bmp"});
}

TEST(IdenticalGroups, Misnamed)
{
    ExpectSameGray({"misnamed/bmp_named.jpg", "bmp_variants/chelsea301_pal8_gray.bmp"});
    ExpectSameGray({"misnamed/jpeg_named.bmp", "photos/coins_302x303.jpg"});
}

TEST(IdenticalGroups, BmpSuite)
{
    ExpectSameGray({"bmpsuite/g/rgb24.bmp", "bmpsuite/g/rgb24pal.bmp", "bmpsuite/g/rgb32.bmp", "bmpsuite/g/rgb32bf.bmp",
                    "bmpsuite/g/rgb32bfdef.bmp", "bmpsuite/q/rgb24largepal.bmp", "bmpsuite/q/rgb32fakealpha.bmp"});
    ExpectSameGray({"bmpsuite/g/pal8.bmp", "bmpsuite/g/pal8-0.bmp", "bmpsuite/g/pal8os2.bmp", "bmpsuite/g/pal8rle.bmp",
                    "bmpsuite/g/pal8topdown.bmp", "bmpsuite/g/pal8v4.bmp", "bmpsuite/g/pal8v5.bmp", "bmpsuite/q/pal8offs.bmp",
                    "bmpsuite/q/pal8os2sp.bmp", "bmpsuite/q/pal8os2v2.bmp"});
    ExpectSameGray({"bmpsuite/g/rgb16.bmp", "bmpsuite/g/rgb16bfdef.bmp"});
    ExpectSameGray({"bmpsuite/g/rgb16-565.bmp", "bmpsuite/g/rgb16-565pal.bmp"});
    ExpectSameGray({"bmpsuite/g/pal1.bmp", "bmpsuite/g/pal1wb.bmp"});
}

TEST(IdenticalGroups, JpegsWithTheSameCoefficients)
{
    ExpectSameGray({"photos/chelsea_451x300.jpg", "jpeg_variants/chelsea_progressive.jpg", "jpeg_variants/chelsea_restart.jpg",
                    "jpeg_variants/chelsea_optimized.jpg", "jpeg_variants/chelsea_arith.jpg"});
}

// ---------------------------------------------------------------------------
// Exact gray of the lossless photos

// Gray levels computed straight from the bytes of a 24-bit bottom-up BMP, with
// the test's own reading of the layout (a 54-byte header, rows padded to 4 bytes).
std::vector<std::uint8_t> GrayFromRgb24File(const std::vector<std::uint8_t>& file, int width, int height)
{
    const std::size_t stride = (std::size_t(width) * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> gray;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = file.data() + 54 + y * stride;
        for (int x = 0; x < width; ++x)
            gray.push_back(static_cast<std::uint8_t>(ReferenceGray(row[3 * x + 2], row[3 * x + 1], row[3 * x])));
    }
    return gray;
}

TEST(ExactGray, LosslessPhotosFollowTheFormulaUnsheared)
{
    struct Photo {
        const char* path;
        int width, height, minLevel, maxLevel;
        double mean;
    };
    const Photo photos[] = {
        {"photos/camera_512x512.bmp", 512, 512, 0, 255, 129},
        {"photos/chelsea_451x300.bmp", 451, 300, 4, 194, 120},
        {"photos/coins_302x303.bmp", 302, 303, 7, 252, 97},
        {"photos/hubble_dark_400x300.bmp", 400, 300, 0, 254, 19},
        {"photos/ihc_bright_320x240.bmp", 320, 240, 42, 255, 192},
        {"photos/clock_lowcontrast_400x300.bmp", 400, 300, 99, 247, 146},
        {"bmp_variants/chelsea301_rgb24.bmp", 301, 200, 4, 189, 117},
    };
    for (const Photo& photo : photos) {
        SCOPED_TRACE(photo.path);
        auto image = LoadGray(photo.path);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->m_nWidth, photo.width);
        ASSERT_EQ(image->m_nHeight, photo.height);
        const std::vector<std::uint8_t> expected = GrayFromRgb24File(ReadFileBytes(DataPath(photo.path)), photo.width, photo.height);
        EXPECT_TRUE(Pixels(*image) == expected);
        image->ComputeRange();
        EXPECT_EQ(image->m_nMinLevel, photo.minLevel);
        EXPECT_EQ(image->m_nMaxLevel, photo.maxLevel);
        double sum = 0;
        for (std::uint8_t level : Pixels(*image))
            sum += level;
        EXPECT_NEAR(sum / image->PixelCount(), photo.mean, 0.5);
    }
}

TEST(ExactGray, KnownPixelsOfThePhotos)
{
    auto chelsea = LoadGray("photos/chelsea_451x300.bmp");
    ASSERT_NE(chelsea, nullptr);
    EXPECT_EQ(chelsea->GetPixel(0, 299), 125);    // top left: rgb (143, 120, 104)
    EXPECT_EQ(chelsea->GetPixel(450, 299), 31);   // top right: rgb (45, 27, 13)
    EXPECT_EQ(chelsea->GetPixel(450, 0), 144);    // bottom right: rgb (162, 138, 128)
    EXPECT_EQ(chelsea->GetPixel(225, 149), 159);  // middle: rgb (190, 150, 124)
    auto camera = LoadGray("photos/camera_512x512.bmp");
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->GetPixel(0, 511), 200);
    EXPECT_EQ(camera->GetPixel(256, 255), 14);
    EXPECT_EQ(camera->GetPixel(511, 0), 149);
}

TEST(ExactGray, GrayPaletteKeepsItsLevels)
{
    // An 8-bit file with a gray palette: every pixel's level is its palette level.
    const std::vector<std::uint8_t> file = ReadFileBytes(DataPath("bmp_variants/chelsea301_pal8_gray.bmp"));
    auto image = LoadGray("bmp_variants/chelsea301_pal8_gray.bmp");
    ASSERT_NE(image, nullptr);
    const std::uint32_t offset = file[10] | file[11] << 8 | file[12] << 16 | file[13] << 24;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 301; ++x) {
            const std::uint8_t index = file[offset + y * 304 + x];
            ASSERT_EQ(image->GetPixel(x, y), file[54 + 4 * index]) << x << "," << y;
        }
    }
}

// ---------------------------------------------------------------------------
// JPEG pixels

// The picture as libjpeg decodes it with its default settings (what djpeg shows).
std::vector<std::uint8_t> ReferenceJpegRgb(const std::string& path, int& width, int& height)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return {};
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    width = static_cast<int>(cinfo.output_width);
    height = static_cast<int>(cinfo.output_height);
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rgb.data() + std::size_t(cinfo.output_scanline) * width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return rgb;
}

// The gray face of every kind of JPEG is the gray rule applied to the colours
// libjpeg decodes with its defaults, although the reader never keeps them.
TEST(JpegPixels, EqualTheGrayRuleOnLibjpegDefaults)
{
    for (const char* path : {"photos/chelsea_451x300.jpg", "photos/coins_302x303.jpg", "jpeg_variants/chelsea_411.jpg",
                             "jpeg_variants/chelsea_422.jpg", "jpeg_variants/chelsea_440.jpg", "jpeg_variants/chelsea_444.jpg",
                             "jpeg_variants/chelsea_gray.jpg", "jpeg_variants/chelsea_progressive.jpg",
                             "jpeg_variants/ijg_testorig.jpg", "jpeg_variants/ijg_testimgari.jpg"}) {
        SCOPED_TRACE(path);
        int width = 0;
        int height = 0;
        const std::vector<std::uint8_t> rgb = ReferenceJpegRgb(DataPath(path), width, height);
        CDibImage image;
        ASSERT_TRUE(image.LoadFromFile(DataPath(path)));
        ASSERT_NE(image.m_pBitmap, nullptr);
        EXPECT_EQ(image.m_pBitmap->width, width);
        EXPECT_EQ(image.m_pBitmap->height, height);
        ASSERT_TRUE(image.ConvertToGray());
        ASSERT_EQ(image.m_nWidth, width);
        ASSERT_EQ(image.m_nHeight, height);
        std::size_t mismatches = 0;
        for (int row = 0; row < height; ++row) {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = &rgb[(static_cast<std::size_t>(row) * width + x) * 3];
                // Picture row `row` (top-down) is buffer row height - 1 - row.
                if (image.GetPixel(x, height - 1 - row) != ReferenceGray(p[0], p[1], p[2]))
                    ++mismatches;
            }
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST(JpegPixels, GrayJpegGivesItsSamples)
{
    int width = 0;
    int height = 0;
    const std::string path = DataPath("jpeg_variants/chelsea_gray.jpg");
    const std::vector<std::uint8_t> rgb = ReferenceJpegRgb(path, width, height);
    CDibImage image;
    ASSERT_TRUE(image.LoadFromFile(path) && image.ConvertToGray());
    for (int row = 0; row < height; ++row) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = &rgb[(static_cast<std::size_t>(row) * width + x) * 3];
            ASSERT_TRUE(p[0] == p[1] && p[0] == p[2]);
            ASSERT_EQ(image.GetPixel(x, height - 1 - row), p[0]) << "x " << x << " row " << row;
        }
    }
}

TEST(JpegPixels, CloseToTheLosslessOriginal)
{
    struct Pair {
        const char* jpeg;
        const char* bmp;
        double minPsnr;
    };
    const Pair pairs[] = {
        {"photos/camera_512x512.jpg", "photos/camera_512x512.bmp", 34},
        {"photos/chelsea_451x300.jpg", "photos/chelsea_451x300.bmp", 34},
        {"photos/clock_lowcontrast_400x300.jpg", "photos/clock_lowcontrast_400x300.bmp", 34},
        {"photos/coins_302x303.jpg", "photos/coins_302x303.bmp", 34},
        {"photos/hubble_dark_400x300.jpg", "photos/hubble_dark_400x300.bmp", 34},
        {"photos/ihc_bright_320x240.jpg", "photos/ihc_bright_320x240.bmp", 34},
        {"jpeg_variants/chelsea_411.jpg", "photos/chelsea_451x300.bmp", 34},
        {"jpeg_variants/chelsea_422.jpg", "photos/chelsea_451x300.bmp", 34},
        {"jpeg_variants/chelsea_440.jpg", "photos/chelsea_451x300.bmp", 34},
        {"jpeg_variants/chelsea_444.jpg", "photos/chelsea_451x300.bmp", 34},
        {"jpeg_variants/chelsea_gray.jpg", "photos/chelsea_451x300.bmp", 34},
        // Inverted Adobe CMYK, turned into RGB by R = C * K / 255 and so on.
        {"jpeg_variants/chelsea_cmyk_adobe.jpg", "photos/chelsea_451x300.bmp", 34},
        {"jpeg_variants/chelsea_ycck_adobe.jpg", "photos/chelsea_451x300.bmp", 30},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.jpeg);
        auto jpeg = LoadGray(pair.jpeg);
        auto bmp = LoadGray(pair.bmp);
        ASSERT_NE(jpeg, nullptr);
        ASSERT_NE(bmp, nullptr);
        ASSERT_EQ(jpeg->PixelCount(), bmp->PixelCount());
        EXPECT_GT(Psnr(Pixels(*jpeg), Pixels(*bmp)), pair.minPsnr);
    }
}

TEST(JpegPixels, ExifOrientationIsNotApplied)
{
    // Orientation 6 asks viewers to turn the stored grid 90 degrees clockwise;
    // the import keeps the stored grid, so turning it ourselves gives the upright picture.
    auto stored = LoadGray("jpeg_variants/chelsea_exif_orient6.jpg");
    auto upright = LoadGray("photos/chelsea_451x300.bmp");
    ASSERT_NE(stored, nullptr);
    ASSERT_NE(upright, nullptr);
    ASSERT_EQ(stored->m_nWidth, 300);
    ASSERT_EQ(stored->m_nHeight, 451);
    std::vector<std::uint8_t> turned;
    for (int y = 0; y < 300; ++y)        // upright buffer row y (from the bottom)
        for (int x = 0; x < 451; ++x)    // upright column x
            turned.push_back(stored->GetPixel(299 - y, x));
    EXPECT_GT(Psnr(turned, Pixels(*upright)), 30);
}

}  // namespace
