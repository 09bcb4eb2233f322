#include <limits>

#include <gtest/gtest.h>

#include "algorithms/unsharp_step.h"
#include "core/dib_image.h"
#include "core/messages.h"
#include "core/parallel.h"
#include "document/commands/command_table.h"
#include "tests/support/test_images.h"

using namespace testing_support;

TEST(UnsharpMask, ArithmeticOfTheUnsharpStep)
{
    // A 2 x 2 mask on a 2 x 2 image gives every pixel the mean of all four.
    // Mean 80: 100 -> 120, 60 -> 40.
    auto a = MakeImage({{100, 60}, {100, 60}});
    ASSERT_EQ(a->UnsharpMask(2, 2.0f), 1);
    EXPECT_EQ(Rows(*a)[0], (std::vector<int>{120, 40}));
    // Mean 60: 200 -> 340 clamps to 255; 0 -> -60 clamps to 0.
    auto b = MakeImage({{200, 0}, {40, 0}});
    ASSERT_EQ(b->UnsharpMask(2, 2.0f), 1);
    EXPECT_EQ(Rows(*b)[0], (std::vector<int>{255, 0}));
    // Gain 1.5: level 101 with mean 100 gives 101.5, rounded up to 102.
    auto c = MakeImage({{101, 99}, {101, 99}});
    ASSERT_EQ(c->UnsharpMask(2, 1.5f), 1);
    // 99 gives 98.5, which also rounds up.
    EXPECT_EQ(Rows(*c)[0], (std::vector<int>{102, 99}));
}

TEST(UnsharpMask, GainOneAndUniformImagesAreUnchanged)
{
    auto random = MakeRandom(23, 19, 1);
    const auto before = Pixels(*random);
    ASSERT_EQ(random->UnsharpMask(7, 1.0f), 1);
    EXPECT_EQ(Pixels(*random), before);
    auto uniform = MakeUniform(12, 12, 77);
    ASSERT_EQ(uniform->UnsharpMask(5, 3.0f), 1);
    EXPECT_EQ(Pixels(*uniform), std::vector<std::uint8_t>(144, 77));
}

TEST(UnsharpMask, GainZeroGivesTheMeanAndMaskZeroScalesByGain)
{
    auto image = MakeRandom(21, 17, 2);
    const auto mean = image->BoxFilter(5);
    ASSERT_EQ(image->UnsharpMask(5, 0.0f), 1);
    EXPECT_EQ(Pixels(*image), std::vector<std::uint8_t>(mean.get(), mean.get() + 21 * 17));

    auto scaled = MakeImage({{10, 100, 200}});
    ASSERT_EQ(scaled->UnsharpMask(0, 1.5f), 1);
    EXPECT_EQ(Rows(*scaled)[0], (std::vector<int>{15, 150, 255}));
}

TEST(UnsharpMask, RefusesMasksThatDoNotFit)
{
    for (auto [w, h, n] : {std::tuple{10, 20, 11}, std::tuple{20, 10, 11}, std::tuple{10, 10, -1}, std::tuple{10, 10, -7}}) {
        auto image = MakeRandom(w, h, 3);
        const auto before = Pixels(*image);
        CMessageCapture capture;
        EXPECT_EQ(image->UnsharpMask(n, 2.0f), 0);
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{"Size of mask is not adequate"});
        EXPECT_EQ(Pixels(*image), before);
    }
    auto exact = MakeRandom(10, 10, 4);
    CMessageCapture capture;
    EXPECT_EQ(exact->UnsharpMask(10, 2.0f), 1);
    EXPECT_TRUE(capture.Messages().empty());
}

TEST(Lowpass, GivesTheBoxPlaneAndRefusesBadMasks)
{
    auto image = MakeRandom(31, 27, 5);
    const auto plane = image->BoxFilter(25);
    ASSERT_EQ(LowpassFilter(*image, 25), 1);
    EXPECT_EQ(Pixels(*image), std::vector<std::uint8_t>(plane.get(), plane.get() + 31 * 27));

    auto zero = MakeRandom(8, 8, 6);
    ASSERT_EQ(LowpassFilter(*zero, 0), 1);
    EXPECT_EQ(Pixels(*zero), std::vector<std::uint8_t>(64, 0));

    for (int n : {9, -1}) {
        auto small = MakeRandom(8, 8, 7);
        const auto before = Pixels(*small);
        CMessageCapture capture;
        EXPECT_EQ(LowpassFilter(*small, n), 0);
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{"Size of mask is not adequate"});
        EXPECT_EQ(Pixels(*small), before);
    }
}

TEST(UnsharpMask, LargeImagesGiveThePerPixelResult)
{
    // Large images take the pair table; it must agree with the rule pixel for pixel.
    for (float gain : {2.0f, 1.5f, -0.7f, 0.0f, 37.25f}) {
        auto image = MakePhotoLike(640, 420, 11);
        const auto source = Pixels(*image);
        const auto mean = image->BoxFilter(9);
        ASSERT_EQ(image->UnsharpMask(9, gain), 1);
        for (std::size_t i = 0; i < source.size(); ++i) {
            const int d = static_cast<int>(source[i]) - static_cast<int>(mean[i]);
            ASSERT_EQ(image->m_pBits[i], ClampToByte(static_cast<float>(d * static_cast<double>(gain) + mean[i]))) << i;
        }
    }
}

TEST(UnsharpMask, RowStreamsGiveThePerPixelResultForAnyBands)
{
    // The means are streamed while the rows are rewritten; every pixel must
    // still see the mean of the original image, whatever the row bands.
    struct Case {
        int w, h, n;
        float gain;
    };
    for (const Case c : {Case{37, 411, 35, 2.0f}, Case{70, 300, 8, -1.25f}, Case{19, 23, 19, 3.5f}, Case{50, 260, 1, 2.0f}}) {
        auto source = MakePhotoLike(c.w, c.h, static_cast<unsigned>(c.n));
        const auto pixels = Pixels(*source);
        const auto mean = source->BoxFilter(c.n);
        for (int threads : {1, 2, 3}) {
            SetWorkerThreadCount(threads);
            auto image = MakeImage(Rows(*source));
            ASSERT_EQ(image->UnsharpMask(c.n, c.gain), 1);
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                const int d = static_cast<int>(pixels[i]) - static_cast<int>(mean[i]);
                ASSERT_EQ(image->m_pBits[i], ClampToByte(static_cast<float>(d * static_cast<double>(c.gain) + mean[i])))
                    << c.w << "x" << c.h << " n=" << c.n << " threads=" << threads << " at " << i;
            }
        }
    }
    SetWorkerThreadCount(0);
}

TEST(UnsharpMask, VectorStepGivesTheRuleForEveryPairOfLevels)
{
    // Every (level, mean) pair, under gains that sharpen, soften, invert,
    // saturate and make not-a-number.
    std::vector<std::uint8_t> levels, means;
    for (int v = 0; v < 256; ++v)
        for (int m = 0; m < 256; ++m) {
            levels.push_back(static_cast<std::uint8_t>(v));
            means.push_back(static_cast<std::uint8_t>(m));
        }
    levels.resize(levels.size() + 5, 200);  // a tail shorter than a vector
    means.resize(means.size() + 5, 3);
    for (float gain : {2.0f, 1.5f, 1.0f, 0.0f, -0.7f, 37.25f, 0.3333f, 1e30f, std::numeric_limits<float>::quiet_NaN()}) {
        auto got = levels;
        if (!unsharp_detail::UnsharpRowVector(got.data(), means.data(), static_cast<int>(got.size()), gain))
            GTEST_SKIP() << "no AVX-512 here";
        auto portable = levels;
        unsharp_detail::UnsharpRow(portable.data(), means.data(), static_cast<int>(portable.size()), gain);
        for (std::size_t i = 0; i < levels.size(); ++i) {
            const int d = static_cast<int>(levels[i]) - static_cast<int>(means[i]);
            const std::uint8_t rule = ClampToByte(static_cast<float>(d * static_cast<double>(gain) + means[i]));
            ASSERT_EQ(got[i], rule) << gain << " " << int(levels[i]) << " " << int(means[i]);
            ASSERT_EQ(portable[i], rule) << gain << " " << int(levels[i]) << " " << int(means[i]);
        }
    }
}
