#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "algorithms/three_channel_stretch.h"
#include "core/dib_image.h"
#include "core/messages.h"
#include "core/parallel.h"
#include "tests/support/test_images.h"

using namespace testing_support;

namespace {

// The mix and the stretch written out plainly, pixel by pixel.
std::vector<std::uint8_t> ReferenceTcf(CDibImage& image, float K, float K1, float K2, bool nonlinear, int blow, int bhi)
{
    const std::size_t n = image.PixelCount();
    const auto p7 = image.BoxFilter(7);
    const auto p25 = image.BoxFilter(25);
    const float S = static_cast<float>(static_cast<double>(K) + static_cast<double>(K1) + static_cast<double>(K2));
    CDibImage mixed;
    mixed.CopyFrom(&image);
    for (std::size_t i = 0; i < n; ++i) {
        const double value = ((image.m_pBits[i] * static_cast<double>(K) + p25[i] * static_cast<double>(K2)) +
                              p7[i] * static_cast<double>(K1)) /
                             static_cast<double>(S);
        mixed.m_pBits[i] = ClampToByte(static_cast<float>(value));
    }
    if (!nonlinear)
        return Pixels(mixed);
    mixed.ComputeRange();
    const auto q = mixed.BoxFilter(25);
    int mn = 255, mx = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mn = std::min<int>(mn, q[i]);
        mx = std::max<int>(mx, q[i]);
    }
    std::array<float, 256> T{};
    tcf_detail::BuildStretchTable(mixed.m_nMinLevel, mixed.m_nMaxLevel, mn, mx, blow, bhi, T);
    tcf_detail::SmoothTableInPlace(T);
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = ClampToByte(T[mixed.m_pBits[i]]);
    return out;
}

}  // namespace

TEST(ThreeChannelFilter, RefusesImagesSmallerThan25)
{
    for (auto [w, h] : {std::pair{24, 100}, std::pair{100, 24}}) {
        auto image = MakeRandom(w, h, 1);
        const auto before = Pixels(*image);
        CMessageCapture capture;
        EXPECT_EQ(image->ThreeChannelFilter(2.0f, -0.2f, -0.4f, 1, 30, 100), 0);
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{"Cannot perform filtering - image is too small"});
        EXPECT_EQ(Pixels(*image), before);
        EXPECT_EQ(image->m_pHistogram, nullptr);
    }
}

TEST(ThreeChannelFilter, FlatImageStaysFlatWithDefaults)
{
    for (int nonlinear : {0, 1}) {
        auto image = MakeUniform(25, 25, 90);
        ASSERT_EQ(image->ThreeChannelFilter(2.0f, -0.2f, -0.4f, nonlinear, 30, 100), 1);
        if (!nonlinear)
            EXPECT_EQ(Pixels(*image), std::vector<std::uint8_t>(625, 90));
        else
            EXPECT_EQ(Pixels(*image), ReferenceTcf(*MakeUniform(25, 25, 90), 2.0f, -0.2f, -0.4f, true, 30, 100));
    }
}

TEST(ThreeChannelFilter, WeightsSummingToZeroSaturate)
{
    auto image = MakePhotoLike(40, 30, 2);
    auto copy = MakePhotoLike(40, 30, 2);
    ASSERT_EQ(image->ThreeChannelFilter(1.0f, -0.5f, -0.5f, 0, 0, 0), 1);
    const auto p7 = copy->BoxFilter(7);
    const auto p25 = copy->BoxFilter(25);
    for (std::size_t i = 0; i < copy->PixelCount(); ++i) {
        const double sum = (copy->m_pBits[i] * 1.0 + p25[i] * -0.5) + p7[i] * -0.5;
        ASSERT_EQ(image->m_pBits[i], sum > 0 ? 255 : 0) << i;
    }
}

TEST(ThreeChannelFilter, StretchOffIgnoresBlowAndBhi)
{
    auto a = MakePhotoLike(60, 45, 3);
    auto b = MakePhotoLike(60, 45, 3);
    ASSERT_EQ(a->ThreeChannelFilter(2.0f, -0.2f, -0.4f, 0, 30, 100), 1);
    ASSERT_EQ(b->ThreeChannelFilter(2.0f, -0.2f, -0.4f, 0, 200, 3), 1);
    EXPECT_EQ(Pixels(*a), Pixels(*b));
}

TEST(ThreeChannelFilter, MatchesThePlainComputation)
{
    struct Case {
        int w, h;
        float K, K1, K2;
        int nonlinear, blow, bhi;
    };
    const Case cases[] = {
        {25, 25, 2.0f, -0.2f, -0.4f, 0, 30, 100}, {61, 33, 2.0f, -0.2f, -0.4f, 1, 30, 100},
        {40, 77, 1.5f, 0.3f, -0.9f, 1, 100, 20},  {97, 26, 12.5f, -3.0f, -4.0f, 1, 0, 255},
        {33, 41, 2.0f, -0.2f, -0.4f, 1, 255, 255},
    };
    for (const Case& c : cases) {
        auto image = MakePhotoLike(c.w, c.h, c.w);
        auto reference = MakePhotoLike(c.w, c.h, c.w);
        ASSERT_EQ(image->ThreeChannelFilter(c.K, c.K1, c.K2, c.nonlinear, c.blow, c.bhi), 1);
        EXPECT_EQ(Pixels(*image), ReferenceTcf(*reference, c.K, c.K1, c.K2, c.nonlinear, c.blow, c.bhi)) << c.w << "x" << c.h;
    }
}

TEST(ThreeChannelStretch, TableBeforeSmoothing)
{
    std::array<float, 256> T{};
    tcf_detail::BuildStretchTable(10, 240, 60, 180, 30, 100, T);
    EXPECT_FLOAT_EQ(T[5], 0.0f);
    EXPECT_FLOAT_EQ(T[35], 15.0f);
    EXPECT_FLOAT_EQ(T[120], 65.0f);
    EXPECT_FLOAT_EQ(T[210], 177.5f);
    EXPECT_FLOAT_EQ(T[240], 255.0f);
    EXPECT_FLOAT_EQ(T[250], 250.0f);
}

TEST(ThreeChannelStretch, EmptySegmentsAndTheTopLevelMean)
{
    std::array<float, 256> T{};
    // mn == lo: levels from lo start in the middle segment at BLOW.
    tcf_detail::BuildStretchTable(10, 200, 10, 100, 30, 100, T);
    EXPECT_FLOAT_EQ(T[10], 30.0f);
    // mx == hi: the single top level takes BHI, and nothing is NaN.
    tcf_detail::BuildStretchTable(50, 50, 50, 50, 30, 100, T);
    EXPECT_FLOAT_EQ(T[50], 100.0f);
    tcf_detail::SmoothTableInPlace(T);
    for (float v : T)
        EXPECT_FALSE(std::isnan(v));
}

TEST(ThreeChannelStretch, SmoothingUsesAlreadySmoothedEntries)
{
    std::array<float, 256> T{};
    T[0] = 13.0f;
    tcf_detail::SmoothTableInPlace(T);
    // T[0] = 13 / 13 = 1; T[1] then averages the new T[0] = 1 over 14 entries.
    EXPECT_FLOAT_EQ(T[0], 1.0f);
    EXPECT_FLOAT_EQ(T[1], static_cast<float>(1.0 / 14));
}

TEST(ThreeChannelFilter, SameResultForAnyNumberOfThreads)
{
    // Tall enough for several row bands, each streaming its own means; the
    // stretch needs the 25 x 25 means of mixed rows across the band edges.
    auto source = MakePhotoLike(61, 530, 21);
    for (int nonlinear : {0, 1}) {
        auto reference = MakeImage(Rows(*source));
        SetWorkerThreadCount(1);
        const auto expected = ReferenceTcf(*reference, 2.0f, -0.2f, -0.4f, nonlinear, 30, 100);
        for (int threads : {1, 2, 3, 5}) {
            SetWorkerThreadCount(threads);
            auto image = MakeImage(Rows(*source));
            ASSERT_EQ(image->ThreeChannelFilter(2.0f, -0.2f, -0.4f, nonlinear, 30, 100), 1);
            EXPECT_EQ(Pixels(*image), expected) << threads << " threads, nonlinear " << nonlinear;
        }
    }
    SetWorkerThreadCount(0);
}

TEST(ThreeChannelFilter, MultiplyingByTheInverseWeightSumGivesTheDividedLevels)
{
    // Random levels under weights of every kind, and weights whose quotients
    // fall exactly on half levels (S = 2, 4, 0.5), where the division decides.
    std::mt19937 rng(5);
    std::vector<std::uint8_t> p(4099), b(4099), a(4099);
    struct Weights {
        float K, K1, K2;
    };
    std::vector<Weights> weights{{2.0f, -0.2f, -0.4f}, {1.0f, 1.0f, 0.0f}, {1.0f, 1.0f, 2.0f}, {0.25f, 0.25f, 0.0f},
                                 {3.0f, -1.0f, -1.5f}, {-2.0f, 0.5f, 0.25f}, {1e-6f, 0.0f, 0.0f}, {7.3f, -3.1f, -4.19999f}};
    for (int r = 0; r < 40; ++r) {
        std::uniform_real_distribution<float> w(-4.0f, 4.0f);
        weights.push_back({w(rng), w(rng), w(rng)});
    }
    for (const Weights& c : weights) {
        for (std::size_t i = 0; i < p.size(); ++i) {
            p[i] = static_cast<std::uint8_t>(rng());
            b[i] = static_cast<std::uint8_t>(rng());
            a[i] = static_cast<std::uint8_t>(rng());
        }
        const double S = static_cast<float>(static_cast<double>(c.K) + c.K1 + c.K2);
        auto exact = p;
        tcf_detail::MixChannels(exact.data(), b.data(), a.data(), exact.size(), c.K, c.K1, c.K2, S);
        auto fast = p;
        if (!tcf_detail::MixChannelsVector(fast.data(), b.data(), a.data(), fast.size(), c.K, c.K1, c.K2, S))
            GTEST_SKIP() << "no AVX-512 here";
        for (std::size_t i = 0; i < p.size(); ++i) {
            const double value = ((p[i] * static_cast<double>(c.K) + a[i] * static_cast<double>(c.K2)) +
                                  b[i] * static_cast<double>(c.K1)) / S;
            ASSERT_EQ(exact[i], ClampToByte(static_cast<float>(value))) << i;
            ASSERT_EQ(fast[i], exact[i]) << c.K << " " << c.K1 << " " << c.K2 << " at " << i;
        }
    }
    // A zero weight sum has no inverse: the vector path declines.
    std::vector<std::uint8_t> q(16, 9);
    EXPECT_FALSE(tcf_detail::MixChannelsVector(q.data(), q.data(), q.data(), q.size(), 1.0, -0.5, -0.5, 0.0));
}
