#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "algorithms/detail/local_window_strips.h"
#include "core/dib_image.h"
#include "core/messages.h"
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

const Rows2D kRamp3 = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};

// Restores the default worker count however a test ends.
struct ThreadCountGuard {
    ~ThreadCountGuard() { SetWorkerThreadCount(0); }
};

TEST(AheTest, WorkedExample3x3)
{
    auto image = MakeImage(kRamp3);
    CMessageCapture messages;
    ASSERT_EQ(image->Ahe(3), 1);
    EXPECT_EQ(Rows(*image), (Rows2D{{64, 85, 128}, {128, 142, 170}, {191, 213, 255}}));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(image->m_pHistogram, nullptr);  // AHE neither uses nor fills the histogram
}

TEST(AheTest, UniformImageBecomesWhite)
{
    auto image = MakeUniform(7, 5, 37);
    ASSERT_EQ(image->Ahe(5), 1);
    EXPECT_EQ(Pixels(*image), std::vector<std::uint8_t>(35, 255));
}

TEST(TaheTest, WorkedExample3x3)
{
    auto image = MakeImage(kRamp3);
    ASSERT_EQ(image->Tahe(3, 25), 1);
    EXPECT_EQ(Rows(*image), (Rows2D{{10, 20, 85}, {64, 109, 153}, {191, 213, 255}}));
}

TEST(TaheTest, UniformImageDependsOnThreshold)
{
    struct Case { int level; int threshold; int expected; };
    for (const Case c : {Case{37, 10, 255}, Case{11, 10, 255}, Case{10, 10, 10}, Case{5, 10, 5}, Case{0, 0, 0}, Case{1, 0, 255}}) {
        auto image = MakeUniform(6, 9, static_cast<std::uint8_t>(c.level));
        ASSERT_EQ(image->Tahe(3, c.threshold), 1);
        EXPECT_EQ(Pixels(*image), std::vector<std::uint8_t>(54, static_cast<std::uint8_t>(c.expected)))
            << "level " << c.level << " threshold " << c.threshold;
    }
}

TEST(TaheTest, Threshold255LeavesEveryPixel)
{
    auto image = MakeRandom(13, 11, 7);
    const auto before = Pixels(*image);
    ASSERT_EQ(image->Tahe(5, 255), 1);
    EXPECT_EQ(Pixels(*image), before);
}

TEST(TaheTest, OnlyTheLowEightBitsOfTheThresholdCount)
{
    auto a = MakeRandom(17, 12, 8);
    auto b = MakeRandom(17, 12, 8);
    ASSERT_EQ(a->Tahe(5, 266), 1);
    ASSERT_EQ(b->Tahe(5, 10), 1);
    EXPECT_EQ(Pixels(*a), Pixels(*b));
    // -246 is 10 in its low byte as well.
    auto c = MakeRandom(17, 12, 8);
    ASSERT_EQ(c->Tahe(5, -246), 1);
    EXPECT_EQ(Pixels(*c), Pixels(*b));
}

TEST(AheTest, WindowCoveringTheWholeImage)
{
    // One interior pixel, every other pixel a border pixel with a cut window.
    for (auto [width, height] : {std::pair{5, 5}, std::pair{7, 7}}) {
        auto image = MakeRandom(width, height, 99);
        const auto input = Pixels(*image);
        ASSERT_EQ(image->Ahe(width), 1);
        EXPECT_EQ(Pixels(*image), local_reference::Ahe(input, width, height, width));
        auto t = MakeRandom(width, height, 99);
        ASSERT_EQ(t->Tahe(width, 60), 1);
        EXPECT_EQ(Pixels(*t), local_reference::Tahe(input, width, height, width, 60));
    }
}

TEST(AheTest, RejectsInadequateWindows)
{
    struct Case { int width; int height; int window; };
    const Case cases[] = {{9, 7, 1}, {9, 7, 2}, {9, 7, 4}, {9, 7, 0}, {9, 7, -3}, {9, 7, 6}, {9, 7, 9},
                          {7, 9, 9}, {9, 7, 11}, {5, 5, 7}, {9, 7, INT_MIN}, {9, 7, INT_MAX}};
    for (const Case& c : cases) {
        for (int op = 0; op < 2; ++op) {
            auto image = MakeRandom(c.width, c.height, 3);
            const auto before = Pixels(*image);
            CMessageCapture messages;
            const int result = op == 0 ? image->Ahe(c.window) : image->Tahe(c.window, 10);
            EXPECT_EQ(result, 0) << c.width << "x" << c.height << " window " << c.window;
            EXPECT_EQ(messages.Messages(), std::vector<std::string>{"Size of window is not adequate"});
            EXPECT_EQ(Pixels(*image), before);
        }
    }
}

TEST(AheTest, ImageWithoutPixelsFailsSilently)
{
    CDibImage empty;
    CMessageCapture messages;
    EXPECT_EQ(empty.Ahe(3), 0);
    EXPECT_EQ(empty.Tahe(3, 10), 0);
    EXPECT_EQ(empty.Ahe(2), 0);  // the missing buffer is found before the window
    EXPECT_TRUE(messages.Messages().empty());
}

TEST(AheTest, MatchesPlainCountingOnRandomImages)
{
    std::mt19937 rng(2024);
    int compared = 0;
    for (int height = 1; height <= 40; height += 3) {
        for (int width = 1; width <= 40; width += (width < 8 ? 1 : 5)) {
            const int limit = std::min(width, height);
            if (limit < 3)
                continue;
            const unsigned seed = rng();
            auto source = (seed & 1) ? MakeRandom(width, height, seed) : testing_support::MakePhotoLike(width, height, seed);
            const auto input = Pixels(*source);
            const int largest = limit % 2 ? limit : limit - 1;
            for (int n : {3, 5, largest, 3 + 2 * static_cast<int>(rng() % ((largest - 1) / 2))}) {
                if (n > largest)
                    continue;
                auto a = MakeImage(Rows(*source));
                ASSERT_EQ(a->Ahe(n), 1);
                ASSERT_EQ(Pixels(*a), local_reference::Ahe(input, width, height, n))
                    << "AHE " << width << "x" << height << " window " << n << ": "
                    << local_reference::FirstDifference(local_reference::Ahe(input, width, height, n), Pixels(*a), width);
                const int threshold = static_cast<int>(rng() % 300);
                auto t = MakeImage(Rows(*source));
                ASSERT_EQ(t->Tahe(n, threshold), 1);
                ASSERT_EQ(Pixels(*t), local_reference::Tahe(input, width, height, n, threshold))
                    << "TAHE " << width << "x" << height << " window " << n << " threshold " << threshold << ": "
                    << local_reference::FirstDifference(local_reference::Tahe(input, width, height, n, threshold), Pixels(*t), width);
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 100);
}

TEST(AheTest, MatchesPlainCountingWithWideWindows)
{
    // Photo-like content keeps several fine segments of the window histogram
    // in use at once, so they fall behind and catch up by both routes.
    const int width = 97, height = 83;
    auto source = testing_support::MakePhotoLike(width, height, 12);
    const auto input = Pixels(*source);
    for (int n : {17, 45, 83}) {
        auto a = MakeImage(Rows(*source));
        ASSERT_EQ(a->Ahe(n), 1);
        const auto ahe = local_reference::Ahe(input, width, height, n);
        EXPECT_EQ(Pixels(*a), ahe) << "AHE window " << n << ": " << local_reference::FirstDifference(ahe, Pixels(*a), width);
        auto t = MakeImage(Rows(*source));
        ASSERT_EQ(t->Tahe(n, 80), 1);
        const auto tahe = local_reference::Tahe(input, width, height, n, 80);
        EXPECT_EQ(Pixels(*t), tahe) << "TAHE window " << n << ": " << local_reference::FirstDifference(tahe, Pixels(*t), width);
        auto c = MakeImage(Rows(*source));
        ASSERT_EQ(c->Clhe(n, 0.7f), 1);
        const auto clhe = local_reference::Clhe(input, width, height, n, 0.7f);
        EXPECT_EQ(Pixels(*c), clhe) << "CLHE window " << n << ": " << local_reference::FirstDifference(clhe, Pixels(*c), width);
    }
}

TEST(AheTest, WindowsOfMoreThan65535Pixels)
{
    // Counts up to 257 x 257 = 66049 outgrow 16 bits. Every pixel of the
    // brightest level (count = area) and a spread of others is checked.
    const int width = 263, height = 259;
    auto source = MakeRandom(width, height, 11);
    const auto input = Pixels(*source);
    for (int n : {255, 257}) {
        auto a = MakeImage(Rows(*source));
        auto t = MakeImage(Rows(*source));
        auto c = MakeImage(Rows(*source));
        ASSERT_EQ(a->Ahe(n), 1);
        ASSERT_EQ(t->Tahe(n, 10), 1);
        ASSERT_EQ(c->Clhe(n, 0.7f), 1);
        const auto globalBelow = local_reference::GlobalBelow(input);
        int checked = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * width + x;
                if (input[i] < 254 && (x * 31 + y * 17) % 211 != 0)
                    continue;
                ASSERT_EQ(a->m_pBits[i], local_reference::AhePixel(input, width, height, n, x, y)) << n << " " << x << "," << y;
                ASSERT_EQ(t->m_pBits[i], local_reference::TahePixel(input, width, height, n, 10, x, y)) << n << " " << x << "," << y;
                ASSERT_EQ(c->m_pBits[i], local_reference::ClhePixel(input, globalBelow, width, height, n, 0.7f, x, y))
                    << n << " " << x << "," << y;
                ++checked;
            }
        }
        EXPECT_GT(checked, 500);
    }
}

TEST(AheTest, SameOutputForAnyThreadCount)
{
    // Tall enough for seven bands: each band starts its own running state.
    ThreadCountGuard guard;
    const int width = 67, height = 1800;
    auto source = testing_support::MakePhotoLike(width, height, 5);
    const auto input = Pixels(*source);
    for (int n : {3, 9, 31, 67}) {
        std::vector<std::vector<std::uint8_t>> ahe, tahe;
        for (int threads : {1, 2, 7}) {
            SetWorkerThreadCount(threads);
            auto a = MakeImage(Rows(*source));
            ASSERT_EQ(a->Ahe(n), 1);
            ahe.push_back(Pixels(*a));
            auto t = MakeImage(Rows(*source));
            ASSERT_EQ(t->Tahe(n, 90), 1);
            tahe.push_back(Pixels(*t));
        }
        if (n <= 9) {
            EXPECT_EQ(ahe[0], local_reference::Ahe(input, width, height, n)) << "window " << n;
            EXPECT_EQ(tahe[0], local_reference::Tahe(input, width, height, n, 90)) << "window " << n;
        }
        for (std::size_t i = 1; i < ahe.size(); ++i) {
            EXPECT_EQ(ahe[i], ahe[0]) << "window " << n << ": " << local_reference::FirstDifference(ahe[0], ahe[i], width);
            EXPECT_EQ(tahe[i], tahe[0]) << "window " << n << ": " << local_reference::FirstDifference(tahe[0], tahe[i], width);
        }
    }
}

// The windows of 17 to 255 pixels have two walks: the AVX-512 one over column
// strips, where the processor has it, and the portable one. Both must give
// the plain counts' bytes; narrow strips make small images cross several.
struct WalkGuard {
    WalkGuard(bool portable, int stripWidth)
    {
        local_window::strips::g_portableOnly = portable;
        local_window::strips::g_stripWidth = stripWidth;
    }
    ~WalkGuard()
    {
        local_window::strips::g_portableOnly = false;
        local_window::strips::g_stripWidth = 0;
    }
};

TEST(AheTest, BothWalksMatchPlainCountingAcrossStrips)
{
    struct Case { bool portable; int stripWidth; };
    const int width = 101, height = 69;
    auto source = testing_support::MakePhotoLike(width, height, 31);
    auto noisy = MakeRandom(width, height, 32);
    for (const Case c : {Case{false, 0}, Case{false, 9}, Case{true, 0}}) {
        WalkGuard guard(c.portable, c.stripWidth);
        for (const auto* image : {source.get(), noisy.get()}) {
            const auto input = Pixels(*image);
            for (int n : {17, 67}) {
                const std::string where = (c.portable ? "portable" : "strips of " + std::to_string(c.stripWidth)) +
                                          ", window " + std::to_string(n);
                auto a = MakeImage(Rows(*image));
                ASSERT_EQ(a->Ahe(n), 1);
                const auto ahe = local_reference::Ahe(input, width, height, n);
                EXPECT_EQ(Pixels(*a), ahe) << "AHE " << where << ": " << local_reference::FirstDifference(ahe, Pixels(*a), width);
                auto t = MakeImage(Rows(*image));
                ASSERT_EQ(t->Tahe(n, 100), 1);
                const auto tahe = local_reference::Tahe(input, width, height, n, 100);
                EXPECT_EQ(Pixels(*t), tahe) << "TAHE " << where << ": " << local_reference::FirstDifference(tahe, Pixels(*t), width);
                auto k = MakeImage(Rows(*image));
                ASSERT_EQ(k->Clhe(n, 0.3f), 1);
                const auto clhe = local_reference::Clhe(input, width, height, n, 0.3f);
                EXPECT_EQ(Pixels(*k), clhe) << "CLHE " << where << ": " << local_reference::FirstDifference(clhe, Pixels(*k), width);
            }
        }
    }
}

TEST(AheTest, BothWalksWithAWindowCoveringTheWholeImage)
{
    // One interior pixel, whose CLHE has nothing outside its window.
    for (bool portable : {false, true}) {
        WalkGuard guard(portable, 0);
        for (int n : {17, 45}) {
            auto image = testing_support::MakePhotoLike(n, n, 43);
            const auto input = Pixels(*image);
            const std::string where = std::string(portable ? "portable" : "strips") + ", window " + std::to_string(n);
            auto a = MakeImage(Rows(*image));
            ASSERT_EQ(a->Ahe(n), 1);
            EXPECT_EQ(Pixels(*a), local_reference::Ahe(input, n, n, n)) << where;
            auto t = MakeImage(Rows(*image));
            ASSERT_EQ(t->Tahe(n, 70), 1);
            EXPECT_EQ(Pixels(*t), local_reference::Tahe(input, n, n, n, 70)) << where;
            for (float alpha : {0.0f, 0.7f, 1.0f}) {
                auto c = MakeImage(Rows(*image));
                ASSERT_EQ(c->Clhe(n, alpha), 1);
                EXPECT_EQ(Pixels(*c), local_reference::Clhe(input, n, n, n, alpha)) << where << ", alpha " << alpha;
            }
        }
    }
}

TEST(AheTest, StripWalkMapsPixelsWhileARowMoves)
{
    // Strips of six column groups: each row's pixels are mapped in pieces as
    // their columns move. Flat columns change no count as rows move, and a
    // bright stripe keeps the levels of one group far from the others'.
    const int width = 613, height = 38;
    auto image = MakeRandom(width, height, 41);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t& pixel = image->m_pBits[static_cast<std::size_t>(y) * width + x];
            if (x >= 130 && x < 330)
                pixel = 77;
            else if (x >= 400 && x < 440)
                pixel = static_cast<std::uint8_t>(240 + pixel % 16);
        }
    }
    const auto input = Pixels(*image);
    for (int n : {17, 35}) {
        auto a = MakeImage(Rows(*image));
        ASSERT_EQ(a->Ahe(n), 1);
        const auto ahe = local_reference::Ahe(input, width, height, n);
        EXPECT_EQ(Pixels(*a), ahe) << "AHE window " << n << ": " << local_reference::FirstDifference(ahe, Pixels(*a), width);
        auto t = MakeImage(Rows(*image));
        ASSERT_EQ(t->Tahe(n, 60), 1);
        const auto tahe = local_reference::Tahe(input, width, height, n, 60);
        EXPECT_EQ(Pixels(*t), tahe) << "TAHE window " << n << ": " << local_reference::FirstDifference(tahe, Pixels(*t), width);
        auto c = MakeImage(Rows(*image));
        ASSERT_EQ(c->Clhe(n, 0.7f), 1);
        const auto clhe = local_reference::Clhe(input, width, height, n, 0.7f);
        EXPECT_EQ(Pixels(*c), clhe) << "CLHE window " << n << ": " << local_reference::FirstDifference(clhe, Pixels(*c), width);
    }
}

TEST(AheTest, BothWalksWithWindowsOfThreeLoadsARow)
{
    // 129 to 191 pixels a side: three 64-byte loads per level row. A spread
    // of pixels, the extremes of every level among them, is checked.
    const int width = 171, height = 157, n = 151;
    auto source = testing_support::MakePhotoLike(width, height, 33);
    const auto input = Pixels(*source);
    const auto globalBelow = local_reference::GlobalBelow(input);
    for (bool portable : {false, true}) {
        WalkGuard guard(portable, portable ? 0 : 60);
        auto a = MakeImage(Rows(*source));
        auto t = MakeImage(Rows(*source));
        auto c = MakeImage(Rows(*source));
        ASSERT_EQ(a->Ahe(n), 1);
        ASSERT_EQ(t->Tahe(n, 90), 1);
        ASSERT_EQ(c->Clhe(n, 0.6f), 1);
        int checked = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * width + x;
                if ((x * 7 + y * 13) % 29 != 0 && x != 0 && x != width - 1 && x != 10 && x != 85)
                    continue;
                ASSERT_EQ(a->m_pBits[i], local_reference::AhePixel(input, width, height, n, x, y)) << portable << " " << x << "," << y;
                ASSERT_EQ(t->m_pBits[i], local_reference::TahePixel(input, width, height, n, 90, x, y)) << portable << " " << x << "," << y;
                ASSERT_EQ(c->m_pBits[i], local_reference::ClhePixel(input, globalBelow, width, height, n, 0.6f, x, y))
                    << portable << " " << x << "," << y;
                ++checked;
            }
        }
        EXPECT_GT(checked, 1000);
    }
}

}  // namespace

// Counting the windows in an unchanged copy of the pixels, with the result
// written straight to the image, gives the same bytes as the image's own
// snapshot, for the direct, strip and column-histogram walks; an image of
// another size is not used.
TEST(LocalEqualization, UnchangedCopyGivesTheSameResult)
{
    auto source = testing_support::MakePhotoLike(333, 260, 8);
    auto other = testing_support::MakePhotoLike(334, 260, 9);  // another size: not used
    for (const int n : {5, 45, 257}) {
        for (const CDibImage* unchanged : {static_cast<const CDibImage*>(source.get()), static_cast<const CDibImage*>(other.get())}) {
            struct Run {
                const char* name;
                std::function<int(CDibImage&, const CDibImage*)> op;
            };
            const Run runs[] = {
                {"AHE", [n](CDibImage& image, const CDibImage* u) { return u ? image.Ahe(n, u) : image.Ahe(n); }},
                {"TAHE", [n](CDibImage& image, const CDibImage* u) { return u ? image.Tahe(n, 60, u) : image.Tahe(n, 60); }},
                {"CLHE", [n](CDibImage& image, const CDibImage* u) { return u ? image.Clhe(n, 0.7f, u) : image.Clhe(n, 0.7f); }},
            };
            for (const Run& run : runs) {
                CDibImage expected;
                ASSERT_TRUE(expected.CopyFrom(source.get()));
                ASSERT_EQ(run.op(expected, nullptr), 1);
                CDibImage work;
                ASSERT_TRUE(work.CopyFrom(source.get()));
                ASSERT_EQ(run.op(work, unchanged), 1);
                EXPECT_EQ(testing_support::Pixels(work), testing_support::Pixels(expected)) << run.name << " window " << n;
            }
        }
    }
    EXPECT_EQ(testing_support::Pixels(*source), testing_support::Pixels(*testing_support::MakePhotoLike(333, 260, 8)));
}
