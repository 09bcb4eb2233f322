// Every command gives the same pixels, title and messages with 1, 2 or 7 worker threads.
//
// The operations split their rows into bands of at least some minimum height
// (64 rows for the box means, about n / 2 rows or 16384 pixels for the local
// windows, 16 chunks of 64 Ki pixels for the tables), so the images below are
// sized for the bands to really split: 331 x 467 gives every family several
// bands, the narrow, the wide and the small ones put band edges close to
// window and block edges, and 1531 x 1377 is big enough (over 2 Mi pixels) to
// split the table pass of the point operations.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/messages.h"
#include "core/parallel.h"
#include "document/commands/command_table.h"
#include "document/commands/pipeline.h"
#include "tests/support/test_images.h"

using namespace testing_support;

namespace {

struct Case {
    std::string name;  // gtest name: letters, digits and underscores
    std::string_view command;
    std::vector<std::pair<std::string_view, ParamValue>> overrides;  // by parameter cliName
    bool big = false;  // also run on the 1531 x 1377 image (cheap commands only)
};

struct Outcome {
    bool ok = false;
    std::string title;
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<std::string> messages;
};

std::string GtestName(std::string_view text)
{
    std::string name;
    for (char c : text)
        name += (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? c : '_';
    return name;
}

std::vector<Case> AllCases()
{
    std::vector<Case> cases;
    // Every command with its defaults; the table-based ones and one box mean also on the big image.
    for (const CommandSpec& command : Commands()) {
        const bool cheap = command.menu == "&Global" || command.cliName == "gray-tghe" || command.cliName == "lowpass";
        cases.push_back({GtestName(command.cliName) + "_defaults", command.cliName, {}, cheap});
    }
    // Unusual values: the smallest and even sizes, the direct-count windows and
    // the first window past them, both ends of the ranges, the nonlinear branch.
    const std::vector<Case> unusual{
        {"stretch_0", "stretch", {{"percentage", 0}}},
        {"stretch_40", "stretch", {{"percentage", 40}}, true},
        {"gamma_0_45", "gamma", {{"gamma", 0.45f}}, true},
        {"tghe_0", "tghe", {{"threshold", std::uint8_t{0}}}},
        {"tghe_100", "tghe", {{"threshold", std::uint8_t{100}}}, true},
        {"ahe_3", "ahe", {{"window", 3}}},
        {"ahe_5", "ahe", {{"window", 5}}},
        {"ahe_15", "ahe", {{"window", 15}}},
        {"ahe_17", "ahe", {{"window", 17}}},
        {"ahe_4_even", "ahe", {{"window", 4}}},
        {"ahe_301", "ahe", {{"window", 301}}},
        {"clhe_5_alpha_1", "clhe", {{"window", 5}, {"alpha", 1.0f}}},
        {"clhe_31_alpha_0", "clhe", {{"window", 31}, {"alpha", 0.0f}}},
        {"tahe_7_threshold_0", "tahe", {{"window", 7}, {"threshold", std::uint8_t{0}}}},
        {"tahe_21", "tahe", {{"window", 21}}},
        {"unsharp_1", "unsharp", {{"mask", 1}, {"gain", 0.5f}}},
        {"unsharp_4_even", "unsharp", {{"mask", 4}, {"gain", 3.0f}}},
        {"unsharp_5", "unsharp", {{"mask", 5}}},
        {"tcf_nonlinear", "tcf", {{"nonlinear", true}}},
        {"tcf_nonlinear_narrow_range", "tcf", {{"nonlinear", true}, {"blow", std::uint8_t{120}}, {"bhi", std::uint8_t{121}}}},
        {"tcf_weights", "tcf", {{"k", 1.0f}, {"k1", 0.5f}, {"k2", -0.5f}}},
        {"jgace_d_0", "jgace", {{"distance", 0}}},
        {"jgace_near_strong", "jgace", {{"distance", 30}, {"jnd0", 5}, {"gamma", 1.5f}}},
        {"lowpass_1", "lowpass", {{"mask", 1}}},
        {"lowpass_2_even", "lowpass", {{"mask", 2}}},
        {"lowpass_3", "lowpass", {{"mask", 3}}},
        {"lowpass_131", "lowpass", {{"mask", 131}}},
    };
    cases.insert(cases.end(), unusual.begin(), unusual.end());
    return cases;
}

ParamValues ValuesFor(const CommandSpec& command, const Case& c)
{
    ParamValues values = command.Defaults();
    for (const auto& [name, value] : c.overrides) {
        const int index = command.ParamIndex(name);
        if (index < 0) {
            ADD_FAILURE() << c.command << " has no parameter " << name;
            continue;
        }
        EXPECT_EQ(values[index].index(), value.index()) << c.command << " " << name << " has another type";
        values[index] = value;
    }
    return values;
}

Outcome RunWith(const CommandSpec& command, CDibImage& source, const ParamValues& values, int threads)
{
    SetWorkerThreadCount(threads);
    CMessageCapture capture;
    Outcome outcome;
    std::optional<CommandResult> result = RunCommand(command, source, "img", values);
    outcome.messages = capture.Messages();
    if (result) {
        outcome.ok = true;
        outcome.title = result->title;
        outcome.width = result->image->m_nWidth;
        outcome.height = result->image->m_nHeight;
        outcome.pixels = Pixels(*result->image);
    }
    return outcome;
}

// The test images, made once: photo-like content, plus a dark copy so the
// combination commands take their dark-image branch as well.
struct Sample {
    std::string name;
    std::unique_ptr<CDibImage> image;
};

const std::vector<Sample>& SmallSamples()
{
    static const std::vector<Sample> samples = [] {
        std::vector<Sample> s;
        s.push_back({"331x467", MakePhotoLike(331, 467, 11)});
        s.push_back({"257x131", MakePhotoLike(257, 131, 12)});
        s.push_back({"73x301", MakePhotoLike(73, 301, 13)});
        s.push_back({"1001x67", MakePhotoLike(1001, 67, 14)});
        auto dark = MakePhotoLike(331, 467, 15);
        for (std::size_t i = 0; i < dark->PixelCount(); ++i)
            dark->m_pBits[i] = static_cast<std::uint8_t>(dark->m_pBits[i] / 4);
        s.push_back({"dark 331x467", std::move(dark)});
        return s;
    }();
    return samples;
}

CDibImage& BigSample()
{
    static const std::unique_ptr<CDibImage> image = MakePhotoLike(1531, 1377, 16);
    return *image;
}

class ThreadCount : public ::testing::TestWithParam<Case> {
protected:
    void TearDown() override { SetWorkerThreadCount(0); }

    static void ExpectSameForAllThreadCounts(const CommandSpec& command, const ParamValues& values, CDibImage& source,
                                             const std::string& imageName)
    {
        SCOPED_TRACE(imageName);
        const std::vector<std::uint8_t> before = Pixels(source);
        const Outcome one = RunWith(command, source, values, 1);
        for (int threads : {2, 7}) {
            const Outcome many = RunWith(command, source, values, threads);
            SCOPED_TRACE(std::to_string(threads) + " threads");
            EXPECT_EQ(many.ok, one.ok);
            EXPECT_EQ(many.messages, one.messages);
            EXPECT_EQ(many.title, one.title);
            EXPECT_EQ(many.width, one.width);
            EXPECT_EQ(many.height, one.height);
            // Not EXPECT_EQ on the vectors: a mismatch would print megabytes.
            if (many.pixels != one.pixels) {
                std::size_t first = 0;
                while (first < many.pixels.size() && first < one.pixels.size() && many.pixels[first] == one.pixels[first])
                    ++first;
                ADD_FAILURE() << "pixels differ from one thread's first at index " << first << " (row "
                              << (one.width ? first / one.width : 0) << ")";
            }
        }
        EXPECT_TRUE(Pixels(source) == before) << "the source changed";
    }
};

TEST_P(ThreadCount, SameResultWithOneTwoAndSevenThreads)
{
    const Case& c = GetParam();
    const CommandSpec* command = FindCommandByCliName(c.command);
    ASSERT_NE(command, nullptr) << c.command;
    const ParamValues values = ValuesFor(*command, c);
    for (const Sample& sample : SmallSamples())
        ExpectSameForAllThreadCounts(*command, values, *sample.image, sample.name);
    if (c.big)
        ExpectSameForAllThreadCounts(*command, values, BigSample(), "1531x1377");
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, ThreadCount, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(ThreadCountCases, CoverEveryCommand)
{
    std::map<std::string_view, int> seen;
    for (const Case& c : AllCases())
        ++seen[c.command];
    for (const CommandSpec& command : Commands())
        EXPECT_GE(seen[command.cliName], 1) << command.cliName;
    EXPECT_EQ(Commands().size(), 14u);
}

}  // namespace
