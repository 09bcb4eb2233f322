#include <gtest/gtest.h>

#include "core/dib_image.h"
#include "tests/support/test_images.h"

using namespace testing_support;

TEST(Ghe, WorkedExamples)
{
    struct Case {
        std::vector<int> in, out;
    };
    const Case cases[] = {
        {{0, 0, 128, 255}, {128, 128, 191, 255}},
        {{0, 1, 2, 3, 4, 5, 6}, {36, 73, 109, 146, 182, 219, 255}},
        {{9, 9, 9, 9}, {255, 255, 255, 255}},
    };
    for (const Case& c : cases) {
        auto image = MakeImage({c.in});
        ASSERT_EQ(image->Ghe(), 1);
        EXPECT_EQ(Rows(*image)[0], c.out);
    }
}

TEST(Tghe, WorkedExamples)
{
    struct Case {
        int threshold;
        std::vector<int> in, out;
    };
    const Case cases[] = {
        {10, {5, 20, 20, 200}, {5, 170, 170, 255}},
        {10, {5, 11, 20, 200}, {5, 85, 170, 255}},
        {266, {5, 11, 20, 200}, {5, 85, 170, 255}},  // only the low 8 bits count
        {255, {5, 11, 20, 200}, {5, 11, 20, 200}},
        {250, {5, 11, 20, 200}, {5, 11, 20, 200}},   // nothing above: unchanged
    };
    for (const Case& c : cases) {
        auto image = MakeImage({c.in});
        ASSERT_EQ(image->Tghe(c.threshold), 1);
        EXPECT_EQ(Rows(*image)[0], c.out) << c.threshold;
    }
}

TEST(Ghe, BothKeepTheInputHistogramAndNeedPixels)
{
    auto image = MakeRandom(17, 3, 2);
    image->ComputeHistogram();
    const auto before = *image->m_pHistogram;
    ASSERT_EQ(image->Ghe(), 1);
    EXPECT_EQ(*image->m_pHistogram, before);
    auto other = MakeRandom(17, 3, 2);
    ASSERT_EQ(other->Tghe(40), 1);
    EXPECT_EQ(*other->m_pHistogram, before);

    CDibImage empty;
    EXPECT_EQ(empty.Ghe(), 0);
    EXPECT_EQ(empty.Tghe(10), 0);
}
