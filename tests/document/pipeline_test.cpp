#include <gtest/gtest.h>

#include "core/messages.h"
#include "document/commands/command_table.h"
#include "document/commands/pipeline.h"
#include "tests/support/test_images.h"

using namespace testing_support;

TEST(Pipeline, RunsOnACopyAndNamesTheResult)
{
    auto source = MakeRandom(40, 30, 1);
    const auto before = Pixels(*source);
    const CommandSpec& stretch = *FindCommandByCliName("stretch");
    auto result = RunCommand(stretch, *source, "photo", stretch.Defaults());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->title, "photo - Stretch(10%)");
    EXPECT_EQ(Pixels(*source), before);
    auto expected = MakeRandom(40, 30, 1);
    expected->Stretch(10);
    EXPECT_EQ(Pixels(*result->image), Pixels(*expected));
    EXPECT_GE(result->elapsedTicks, 0);
    EXPECT_EQ(result->elapsed.size(), result->elapsed.find('.') + 4);

    // Titles accumulate over commands.
    const CommandSpec& ghe = *FindCommandByCliName("ghe");
    auto second = RunCommand(ghe, *result->image, result->title, {});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->title, "photo - Stretch(10%) - GHE");
}

TEST(Pipeline, RefusalYieldsNothingAndShowsTheMessage)
{
    auto source = MakeRandom(10, 10, 2);
    const CommandSpec& lowpass = *FindCommandByCliName("lowpass");
    CMessageCapture capture;
    EXPECT_FALSE(RunCommand(lowpass, *source, "small", lowpass.Defaults()));
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{"Size of mask is not adequate"});
}

TEST(Pipeline, SourceWithoutPixelsYieldsNothing)
{
    CDibImage empty;
    CMessageCapture capture;
    EXPECT_FALSE(RunCommand(*FindCommandByCliName("ghe"), empty, "x", {}));
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{"Conversion to gray scale failed!"});
}

namespace {

// A 10 x 10 image with the given numbers of pixels at a dark level (40), a
// bright level (200) and the rest at a middle level (120).
std::unique_ptr<CDibImage> Mix(int dark, int bright)
{
    auto image = MakeUniform(10, 10, 120);
    for (int i = 0; i < dark; ++i)
        image->m_pBits[i] = 40;
    for (int i = 0; i < bright; ++i)
        image->m_pBits[99 - i] = 200;
    return image;
}

}  // namespace

TEST(Combination, DarkTestIsStrict)
{
    EXPECT_FALSE(IsDarkImage(*Mix(70, 0)));
    EXPECT_FALSE(IsDarkImage(*Mix(71, 10)));
    EXPECT_TRUE(IsDarkImage(*Mix(71, 9)));
    // Levels 81..155 count neither way; 80 is dark and 156 bright.
    auto edges = MakeUniform(10, 10, 80);
    EXPECT_TRUE(IsDarkImage(*edges));
    auto middle = MakeUniform(10, 10, 81);
    EXPECT_FALSE(IsDarkImage(*middle));
}

TEST(Combination, DarkImagesGetTgheTenUnderAllThree)
{
    auto tghe = MakeRandom(30, 30, 3);
    for (std::size_t i = 0; i < tghe->PixelCount(); ++i)
        tghe->m_pBits[i] = static_cast<std::uint8_t>(tghe->m_pBits[i] % 60);
    auto expected = std::make_unique<CDibImage>();
    expected->CopyFrom(tghe.get());
    expected->Tghe(10);
    for (const char* name : {"gray-tghe", "tcf-tghe", "gray-or-tcf-tghe"}) {
        auto result = RunCommand(*FindCommandByCliName(name), *tghe, "dark", {});
        ASSERT_TRUE(result);
        EXPECT_EQ(Pixels(*result->image), Pixels(*expected)) << name;
    }
}

TEST(Combination, NotDarkBranches)
{
    auto source = MakePhotoLike(60, 50, 4);
    ASSERT_FALSE(IsDarkImage(*source));

    auto gray = RunCommand(*FindCommandByCliName("gray-tghe"), *source, "p", {});
    ASSERT_TRUE(gray);
    EXPECT_EQ(Pixels(*gray->image), Pixels(*source));
    EXPECT_EQ(gray->title, "p - GRAY+TGHE");

    auto filteredExpected = MakePhotoLike(60, 50, 4);
    filteredExpected->ThreeChannelFilter(2.0f, -0.2f, -0.4f, 0, 0, 0);
    auto tcf = RunCommand(*FindCommandByCliName("tcf-tghe"), *source, "p", {});
    ASSERT_TRUE(tcf);
    EXPECT_EQ(Pixels(*tcf->image), Pixels(*filteredExpected));

    // The choosing command keeps whichever image has the larger sum of squares.
    auto choice = RunCommand(*FindCommandByCliName("gray-or-tcf-tghe"), *source, "p", {});
    ASSERT_TRUE(choice);
    long long sumGray = 0, sumFiltered = 0;
    for (std::size_t i = 0; i < source->PixelCount(); ++i) {
        sumGray += source->m_pBits[i] * source->m_pBits[i];
        sumFiltered += filteredExpected->m_pBits[i] * filteredExpected->m_pBits[i];
    }
    EXPECT_EQ(Pixels(*choice->image), sumGray > sumFiltered ? Pixels(*source) : Pixels(*filteredExpected));
    EXPECT_EQ(choice->title, "p-GRAY_TCF+TGHE");
}

// The choice by the rule as written: double sums of m^2 - g^2 and m^2 - f^2,
// m the mean of the two levels rounded half up, gray kept when its sum is the
// smaller. Images on both sides of the choice.
TEST(Combination, ChoiceFollowsTheSumsAsWritten)
{
    bool keptGray = false;
    bool keptFiltered = false;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        auto source = seed % 3 == 0 ? MakeRandom(61, 47, seed) : MakePhotoLike(61, 47, seed);
        if (seed % 4 == 0) {
            // Bright ground with dark specks: the filter cannot lift the ground
            // past 255 but darkens the specks, so the filtered squares sum lower
            // when the specks are as many as the ground.
            source = MakeUniform(61, 47, 250);
            for (std::size_t i = seed % 2; i < source->PixelCount(); i += 2)
                source->m_pBits[i] = 90;
        }
        if (IsDarkImage(*source))
            continue;
        CDibImage copy;
        ASSERT_TRUE(copy.CopyFrom(source.get()));
        CDibImage* filtered = &copy;
        filtered->ThreeChannelFilter(2.0f, -0.2f, -0.4f, 0, 0, 0);
        double sumGray = 0.0;
        double sumFiltered = 0.0;
        for (std::size_t i = 0; i < source->PixelCount(); ++i) {
            const int g = source->m_pBits[i];
            const int f = filtered->m_pBits[i];
            const int m = ClampDoubleToByte(static_cast<double>(g + f) * 0.5f);
            sumGray += m * m - g * g;
            sumFiltered += m * m - f * f;
        }
        const bool gray = sumGray < sumFiltered;
        (gray ? keptGray : keptFiltered) = true;
        auto choice = RunCommand(*FindCommandByCliName("gray-or-tcf-tghe"), *source, "p", {});
        ASSERT_TRUE(choice);
        EXPECT_EQ(Pixels(*choice->image), gray ? Pixels(*source) : Pixels(*filtered)) << "seed " << seed;
    }
    EXPECT_TRUE(keptGray);
    EXPECT_TRUE(keptFiltered);
}

TEST(Combination, SmallNotDarkImagesStillYieldADocument)
{
    auto source = MakeUniform(20, 20, 150);
    for (const char* name : {"tcf-tghe", "gray-or-tcf-tghe"}) {
        CMessageCapture capture;
        auto result = RunCommand(*FindCommandByCliName(name), *source, "s", {});
        ASSERT_TRUE(result) << name;
        EXPECT_EQ(Pixels(*result->image), Pixels(*source));
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{"Cannot perform filtering - image is too small"});
    }
}
