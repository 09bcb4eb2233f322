#include "core/dib_image.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

#include <gtest/gtest.h>

#include "core/messages.h"
#include "tests/support/test_images.h"

using namespace testing_support;

TEST(ClampToByte, RoundsHalvesUpAndClamps)
{
    struct Case {
        float value;
        int expected;
    };
    const Case cases[] = {
        {-0.4f, 0}, {std::numeric_limits<float>::quiet_NaN(), 0}, {0.5f, 1}, {127.4f, 127}, {254.5f, 255},
        {255.0f, 255}, {300.0f, 255}, {0.49999997f, 0}, {-std::numeric_limits<float>::infinity(), 0},
        {std::numeric_limits<float>::infinity(), 255}, {1.5f, 2}, {2.4999998f, 2}, {-0.0f, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClampToByte(c.value), c.expected) << c.value;
}

TEST(DibImage, NewImageIsEmpty)
{
    CDibImage image;
    EXPECT_FALSE(image.HasPixels());
    EXPECT_EQ(image.m_nWidth, 0);
    EXPECT_EQ(image.m_nHeight, 0);
    EXPECT_EQ(image.m_pHistogram, nullptr);
    EXPECT_EQ(image.m_pBitmap, nullptr);
}

TEST(DibImage, HistogramWithoutPixelsReportsAndLeavesRangeAlone)
{
    CDibImage image;
    image.m_nMinLevel = 7;
    image.m_nMaxLevel = 9;
    CMessageCapture capture;
    EXPECT_FALSE(image.ComputeHistogram());
    image.ComputeRange();
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{"Histogram error", "Histogram error"}));
    EXPECT_EQ(image.m_nMinLevel, 7);
    EXPECT_EQ(image.m_nMaxLevel, 9);
}

TEST(DibImage, UniformImageHasOneBinAndEqualLevels)
{
    auto image = MakeUniform(7, 5, 77);
    image->ComputeRange();
    EXPECT_EQ(image->m_nMinLevel, 77);
    EXPECT_EQ(image->m_nMaxLevel, 77);
    for (int level = 0; level < 256; ++level)
        EXPECT_EQ((*image->m_pHistogram)[level], level == 77 ? 35 : 0);
}

TEST(DibImage, RangeFindsExtremesWhereverTheyAre)
{
    // The first pixel is neither the darkest nor the brightest.
    auto image = MakeImage({{100, 3, 250}, {40, 100, 9}});
    image->ComputeRange();
    EXPECT_EQ(image->m_nMinLevel, 3);
    EXPECT_EQ(image->m_nMaxLevel, 250);
}

TEST(DibImage, HistogramCountsAddUpAndIsReused)
{
    auto image = MakeRandom(37, 23, 5);
    ASSERT_TRUE(image->ComputeHistogram());
    const std::array<int, 256>* first = image->m_pHistogram.get();
    EXPECT_EQ(std::accumulate(first->begin(), first->end(), 0), 37 * 23);
    image->m_pBits[0] = static_cast<std::uint8_t>(image->m_pBits[0] + 1);
    ASSERT_TRUE(image->ComputeHistogram());
    EXPECT_EQ(image->m_pHistogram.get(), first);
    EXPECT_EQ(std::accumulate(first->begin(), first->end(), 0), 37 * 23);
}

TEST(DibImage, GetPixelUsesBottomUpRows)
{
    auto image = MakeImage({{1, 2, 3}, {4, 5, 6}});  // row 0 is the bottom row
    EXPECT_EQ(image->GetPixel(0, 0), 1);
    EXPECT_EQ(image->GetPixel(2, 1), 6);
}

TEST(DibImage, CopyIsIndependentAndHasNoHistogram)
{
    auto source = MakeRandom(9, 4, 3);
    source->ComputeRange();
    CDibImage copy;
    ASSERT_TRUE(copy.CopyFrom(source.get()));
    EXPECT_EQ(copy.m_nWidth, 9);
    EXPECT_EQ(copy.m_nHeight, 4);
    EXPECT_EQ(copy.m_nMinLevel, source->m_nMinLevel);
    EXPECT_EQ(copy.m_nMaxLevel, source->m_nMaxLevel);
    EXPECT_EQ(copy.m_pHistogram, nullptr);
    EXPECT_EQ(Pixels(copy), Pixels(*source));
    const auto before = Pixels(*source);
    copy.m_pBits[0] = static_cast<std::uint8_t>(copy.m_pBits[0] ^ 0xFF);
    EXPECT_EQ(Pixels(*source), before);
}

TEST(DibImage, CopyOfAnImageWithoutPixelsFails)
{
    CDibImage empty;
    CDibImage copy;
    EXPECT_FALSE(copy.CopyFrom(&empty));
    EXPECT_FALSE(copy.HasPixels());
}

TEST(DibImage, CopyPixelsRoundTrip)
{
    auto image = MakeRandom(5, 3, 11);
    std::vector<std::uint8_t> buffer(15);
    image->CopyPixelsTo(buffer.data());
    EXPECT_EQ(buffer, Pixels(*image));
    std::vector<std::uint8_t> other(15, 42);
    image->CopyPixelsFrom(other.data());
    EXPECT_EQ(Pixels(*image), other);
}

TEST(ClampToByte, BranchFreeFormAgreesEverywhere)
{
    // Every quarter step around the gray range, then a spread of bit patterns
    // covering every exponent (NaNs, infinities and denormals included).
    for (int q = -40; q <= 1100; ++q) {
        const float value = q / 4.0f;
        ASSERT_EQ(ClampToByteSelect(value), ClampToByte(value)) << value;
        const float below = std::nextafter(value, -1000.0f);
        ASSERT_EQ(ClampToByteSelect(below), ClampToByte(below)) << below;
    }
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFull; bits += 4099) {
        const std::uint32_t pattern = static_cast<std::uint32_t>(bits);
        float value;
        std::memcpy(&value, &pattern, sizeof value);
        ASSERT_EQ(ClampToByteSelect(value), ClampToByte(value)) << pattern;
    }
}
