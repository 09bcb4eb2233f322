#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/dib_image.h"
#include "core/messages.h"
#include "algorithms/detail/local_window_strips.h"
#include "core/parallel.h"
#include "tests/algorithms/local_equalization_reference.h"
#include "tests/support/test_images.h"

using testing_support::MakeImage;
using testing_support::MakeRandom;
using testing_support::MakeUniform;
using testing_support::Pixels;
using testing_support::Rows;

namespace {

using Rows2D = std::vector<std::vector<int>>;

const Rows2D kRamp5 = {{10, 20, 30, 40, 50},
                       {60, 70, 80, 90, 100},
                       {110, 120, 130, 140, 150},
                       {160, 170, 180, 190, 200},
                       {210, 220, 230, 240, 250}};

const char kAlphaMessage[] = "Factor alpha is not in range 0\xC3\xB7" "1";

struct ThreadCountGuard {
    ~ThreadCountGuard() { SetWorkerThreadCount(0); }
};

TEST(ClheTest, WorkedExamples5x5)
{
    struct Case { float alpha; Rows2D expected; };
    const Case cases[] = {
        {0.0f, {{12, 27, 40, 54, 61}, {81, 48, 64, 80, 134}, {148, 128, 143, 159, 201},
                {215, 207, 223, 239, 255}, {255, 255, 255, 255, 255}}},
        {1.0f, {{64, 85, 85, 85, 128}, {128, 142, 142, 142, 170}, {128, 142, 142, 142, 170},
                {128, 142, 142, 142, 170}, {191, 213, 213, 213, 255}}},
        {0.7f, {{48, 68, 72, 76, 107}, {113, 114, 118, 123, 159}, {134, 137, 142, 147, 179},
                {154, 161, 166, 171, 200}, {210, 237, 241, 245, 255}}},
    };
    for (const Case& c : cases) {
        auto image = MakeImage(kRamp5);
        CMessageCapture messages;
        ASSERT_EQ(image->Clhe(3, c.alpha), 1);
        EXPECT_EQ(Rows(*image), c.expected) << "alpha " << c.alpha;
        EXPECT_TRUE(messages.Messages().empty());
    }
}

TEST(ClheTest, AlphaOneEqualsAhe)
{
    auto a = testing_support::MakePhotoLike(23, 19, 4);
    auto b = MakeImage(Rows(*a));
    ASSERT_EQ(a->Clhe(7, 1.0f), 1);
    ASSERT_EQ(b->Ahe(7), 1);
    EXPECT_EQ(Pixels(*a), Pixels(*b));
}

TEST(ClheTest, HistogramDescribesTheInput)
{
    auto image = MakeRandom(9, 8, 21);
    const auto input = Pixels(*image);
    image->m_pHistogram = std::make_unique<std::array<int, 256>>();
    image->m_pHistogram->fill(12345);  // stale counts must not leak into the result
    ASSERT_EQ(image->Clhe(3, 0.3f), 1);
    std::array<int, 256> expected{};
    for (std::uint8_t level : input)
        ++expected[level];
    ASSERT_NE(image->m_pHistogram, nullptr);
    EXPECT_EQ(*image->m_pHistogram, expected);
    EXPECT_EQ(Pixels(*image), local_reference::Clhe(input, 9, 8, 3, 0.3f));
}

TEST(ClheTest, UniformImage)
{
    // Every window holds only v; outside the window nothing lies below v, so S
    // is the window count at v (interior) or the cut window's area (border).
    for (float alpha : {0.0f, 0.7f, 1.0f}) {
        auto image = MakeUniform(8, 6, 90);
        ASSERT_EQ(image->Clhe(3, alpha), 1);
        EXPECT_EQ(Pixels(*image), local_reference::Clhe(std::vector<std::uint8_t>(48, 90), 8, 6, 3, alpha));
    }
    auto white = MakeUniform(8, 6, 90);
    ASSERT_EQ(white->Clhe(5, 1.0f), 1);
    EXPECT_EQ(Pixels(*white), std::vector<std::uint8_t>(48, 255));
}

TEST(ClheTest, WindowCoveringTheWholeImage)
{
    // The centre has nothing outside its window (N - A = 0): it takes T1 = 0,
    // its value coming from the local term alone.
    auto image = MakeImage(kRamp5);
    ASSERT_EQ(image->Clhe(5, 0.0f), 1);
    EXPECT_EQ(image->GetPixel(2, 2), 0);
    auto half = MakeImage(kRamp5);
    ASSERT_EQ(half->Clhe(5, 0.5f), 1);
    // L = 13 of A = 25: 13 * 0.5 / 25 * 255 = 66.3.
    EXPECT_EQ(half->GetPixel(2, 2), 66);
    for (float alpha : {0.0f, 0.25f, 0.7f, 1.0f}) {
        auto random = MakeRandom(7, 7, 8);
        const auto input = Pixels(*random);
        ASSERT_EQ(random->Clhe(7, alpha), 1);
        EXPECT_EQ(Pixels(*random), local_reference::Clhe(input, 7, 7, 7, alpha)) << "alpha " << alpha;
        auto ahe = MakeImage(Rows(*MakeRandom(7, 7, 8)));
        ASSERT_EQ(ahe->Ahe(7), 1);
        if (alpha == 1.0f) {
            EXPECT_EQ(Pixels(*random), Pixels(*ahe));
        }
    }
}

TEST(ClheTest, RejectsParameters)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::string window = "Size of window is not adequate";
    struct Case { int window; float alpha; std::string message; };
    const Case cases[] = {
        {3, 1.5f, kAlphaMessage}, {3, -0.1f, kAlphaMessage}, {3, nan, kAlphaMessage},
        {3, std::numeric_limits<float>::infinity(), kAlphaMessage}, {3, 1.0000001f, kAlphaMessage},
        {1, 0.5f, window}, {2, 0.5f, window}, {4, 0.5f, window}, {-3, 0.5f, window}, {11, 0.5f, window},
        {9, 0.5f, window},  // wider than the 7-row height
        {4, 1.5f, window}, {2, nan, window}, {11, -0.1f, window},  // the window is checked first
    };
    for (const Case& c : cases) {
        auto image = MakeRandom(9, 7, 5);
        const auto before = Pixels(*image);
        CMessageCapture messages;
        EXPECT_EQ(image->Clhe(c.window, c.alpha), 0) << "window " << c.window << " alpha " << c.alpha;
        EXPECT_EQ(messages.Messages(), std::vector<std::string>{c.message}) << "window " << c.window << " alpha " << c.alpha;
        EXPECT_EQ(Pixels(*image), before);
        EXPECT_EQ(image->m_pHistogram, nullptr);  // refused before the histogram is counted
    }
    for (float alpha : {0.0f, 1.0f, -0.0f}) {
        auto image = MakeRandom(9, 7, 5);
        CMessageCapture messages;
        EXPECT_EQ(image->Clhe(3, alpha), 1) << "alpha " << alpha;
        EXPECT_TRUE(messages.Messages().empty());
    }
}

TEST(ClheTest, ImageWithoutPixels)
{
    CDibImage empty;
    {
        CMessageCapture messages;
        EXPECT_EQ(empty.Clhe(3, 0.5f), 0);  // a 0 x 0 image has no room for any window
        EXPECT_EQ(messages.Messages(), std::vector<std::string>{"Size of window is not adequate"});
    }
    // Sizes without a buffer reach the histogram count, which reports its own failure.
    CDibImage sized;
    sized.m_nWidth = 5;
    sized.m_nHeight = 5;
    CMessageCapture messages;
    EXPECT_EQ(sized.Clhe(3, 0.5f), 0);
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"Histogram error"});
}

TEST(ClheTest, MatchesPlainCountingOnRandomImages)
{
    std::mt19937 rng(77);
    int compared = 0;
    for (int height = 3; height <= 40; height += 4) {
        for (int width = 3; width <= 40; width += (width < 9 ? 1 : 6)) {
            const unsigned seed = rng();
            auto source = (seed & 1) ? MakeRandom(width, height, seed) : testing_support::MakePhotoLike(width, height, seed);
            const auto input = Pixels(*source);
            const int limit = std::min(width, height);
            const int largest = limit % 2 ? limit : limit - 1;
            for (int n : {3, largest, 3 + 2 * static_cast<int>(rng() % ((largest - 1) / 2))}) {
                const float alpha = std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
                for (float a : {alpha, 0.7f}) {
                    auto image = MakeImage(Rows(*source));
                    ASSERT_EQ(image->Clhe(n, a), 1);
                    const auto expected = local_reference::Clhe(input, width, height, n, a);
                    ASSERT_EQ(Pixels(*image), expected) << width << "x" << height << " window " << n << " alpha " << a << ": "
                                                        << local_reference::FirstDifference(expected, Pixels(*image), width);
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 100);
}

TEST(ClheTest, LargerImagesMatchPlainCounting)
{
    // On a larger image the window's count at the pixel's own level moves the
    // result by little, and the AVX-512 walk settles most pixels without it;
    // near alpha 1 nearly all, at 0.6 few. Narrow strips make the image cross
    // several. Every pixel is compared.
    struct StripGuard {
        ~StripGuard() { local_window::strips::g_stripWidth = 0; }
    } guard;
    const int width = 240, height = 160, n = 17;
    auto source = testing_support::MakePhotoLike(width, height, 41);
    const auto input = Pixels(*source);
    for (int stripWidth : {0, 50}) {
        local_window::strips::g_stripWidth = stripWidth;
        for (float alpha : {0.97f, 0.6f}) {
            auto image = MakeImage(Rows(*source));
            ASSERT_EQ(image->Clhe(n, alpha), 1);
            const auto expected = local_reference::Clhe(input, width, height, n, alpha);
            EXPECT_EQ(Pixels(*image), expected) << "strips of " << stripWidth << ", alpha " << alpha << ": "
                                                << local_reference::FirstDifference(expected, Pixels(*image), width);
        }
    }
}

TEST(ClheTest, SameOutputForAnyThreadCount)
{
    // Tall enough for seven bands: each band starts its own running state.
    ThreadCountGuard guard;
    const int width = 83, height = 1500;
    auto source = testing_support::MakePhotoLike(width, height, 6);
    const auto input = Pixels(*source);
    for (int n : {3, 15, 45, 83}) {
        std::vector<std::vector<std::uint8_t>> results;
        for (int threads : {1, 2, 7}) {
            SetWorkerThreadCount(threads);
            auto image = MakeImage(Rows(*source));
            ASSERT_EQ(image->Clhe(n, 0.7f), 1);
            results.push_back(Pixels(*image));
        }
        if (n <= 15) {
            EXPECT_EQ(results[0], local_reference::Clhe(input, width, height, n, 0.7f)) << "window " << n;
        }
        EXPECT_EQ(results[1], results[0]) << "window " << n;
        EXPECT_EQ(results[2], results[0]) << "window " << n;
    }
}

}  // namespace
