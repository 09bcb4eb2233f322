#include <gtest/gtest.h>

#include "core/dib_image.h"
#include "tests/support/test_images.h"

using namespace testing_support;

namespace {

std::vector<float> Gradient(const CDibImage& image)
{
    const auto plane = image.GradientMap();
    return std::vector<float>(plane.get(), plane.get() + image.PixelCount());
}

}  // namespace

TEST(GradientMap, ConstantImageIsZero)
{
    auto image = MakeUniform(6, 5, 120);
    EXPECT_EQ(Gradient(*image), std::vector<float>(30, 0.0f));
}

TEST(GradientMap, VerticalEdgeGivesFullStrengthNextToIt)
{
    std::vector<std::vector<int>> rows(5, {0, 0, 0, 255, 255, 255});
    auto image = MakeImage(rows);
    const auto g = Gradient(*image);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool inner = y >= 1 && y <= 3 && x >= 1 && x <= 4;
            const bool straddles = x == 2 || x == 3;
            EXPECT_EQ(g[y * 6 + x], inner && straddles ? 255.0f : 0.0f) << x << "," << y;
        }
    }
}

TEST(GradientMap, TruncatesTowardZeroAndPrefersHorizontalOnTies)
{
    // Right column minus left column = -7 -> -2 (not -3).
    auto a = MakeImage({{7, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    EXPECT_EQ(Gradient(*a)[4], -2.0f);
    // G_h = -6 and G_v = 6: equal magnitudes take the horizontal sum, -2.
    auto c = MakeImage({{0, 12, 0}, {0, 0, 0}, {6, 0, 0}});
    EXPECT_EQ(Gradient(*c)[4], -2.0f);
    // G_v larger: lower row minus upper row.
    auto d = MakeImage({{30, 30, 30}, {0, 0, 0}, {0, 0, 0}});
    EXPECT_EQ(Gradient(*d)[4], 30.0f);
}

TEST(GradientMap, ThinImagesAreAllZero)
{
    for (auto [w, h] : {std::pair{2, 9}, std::pair{9, 2}, std::pair{1, 1}}) {
        auto image = MakeRandom(w, h, 3);
        EXPECT_EQ(Gradient(*image), std::vector<float>(static_cast<std::size_t>(w) * h, 0.0f));
    }
}
