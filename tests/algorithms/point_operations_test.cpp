#include <gtest/gtest.h>

#include "core/dib_image.h"
#include "tests/support/test_images.h"

using namespace testing_support;

namespace {

// An image holding each listed level once, in one row.
std::unique_ptr<CDibImage> Levels(const std::vector<int>& levels)
{
    return MakeImage({levels});
}

std::vector<int> Row(const CDibImage& image)
{
    return Rows(image)[0];
}

}  // namespace

TEST(Stretch, HundredLevelsTenPercent)
{
    std::vector<int> levels(100);
    for (int i = 0; i < 100; ++i)
        levels[i] = i;
    auto image = Levels(levels);
    ASSERT_EQ(image->Stretch(10), 1);
    const auto out = Row(*image);
    const std::pair<int, int> expected[] = {{0, 0}, {9, 0}, {10, 3}, {11, 6}, {50, 129}, {89, 252}, {90, 255}, {99, 255}};
    for (auto [level, value] : expected)
        EXPECT_EQ(out[level], value) << level;
}

TEST(Stretch, CasesThatLeaveOrBlackenTheImage)
{
    auto random = MakeRandom(9, 11, 4);
    const auto before = Pixels(*random);
    ASSERT_EQ(random->Stretch(0), 1);
    EXPECT_EQ(Pixels(*random), before);

    auto small = MakeRandom(9, 11, 5);  // 99 pixels: 1 % gives q = 0
    const auto smallBefore = Pixels(*small);
    ASSERT_EQ(small->Stretch(1), 1);
    EXPECT_EQ(Pixels(*small), smallBefore);

    auto uniform = MakeUniform(10, 10, 140);
    ASSERT_EQ(uniform->Stretch(10), 1);
    EXPECT_EQ(Pixels(*uniform), std::vector<std::uint8_t>(100, 0));
}

TEST(Stretch, KeepsTheInputHistogram)
{
    auto image = MakeRandom(20, 10, 6);
    image->ComputeHistogram();
    const auto before = *image->m_pHistogram;
    ASSERT_EQ(image->Stretch(20), 1);
    EXPECT_EQ(*image->m_pHistogram, before);
}

TEST(Stretch, WithoutPixelsFails)
{
    CDibImage image;
    EXPECT_EQ(image.Stretch(10), 0);
    EXPECT_EQ(image.GammaCorrect(2.0f), 0);
}

TEST(GammaCorrect, WorkedExamples)
{
    auto half = Levels({0, 1, 64, 128, 192, 255});
    ASSERT_EQ(half->GammaCorrect(0.5f), 1);
    EXPECT_EQ(Row(*half), (std::vector<int>{0, 16, 128, 181, 221, 255}));

    auto dialogDefault = Levels({0, 1, 64, 128, 192, 254, 255});
    ASSERT_EQ(dialogDefault->GammaCorrect(2.3f), 1);
    EXPECT_EQ(Row(*dialogDefault), (std::vector<int>{0, 0, 11, 52, 133, 253, 255}));
}

TEST(GammaCorrect, OneIsIdentityZeroIsWhite)
{
    std::vector<int> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = i;
    auto identity = Levels(all);
    ASSERT_EQ(identity->GammaCorrect(1.0f), 1);
    EXPECT_EQ(Row(*identity), all);
    auto white = Levels(all);
    ASSERT_EQ(white->GammaCorrect(0.0f), 1);
    EXPECT_EQ(Row(*white), std::vector<int>(256, 255));
}
