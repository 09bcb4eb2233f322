// lumivex-cli driven as a user drives it: the real executable, real files.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "core/dib_image.h"
#include "tests/support/test_images.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& arg)
{
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = TempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        // A small picture saved as BMP, with a name that has two dots.
        input = (fs::path(dir) / "a.b.bmp").string();
        auto image = MakePhotoLike(64, 48, 7);
        ASSERT_TRUE(image->SaveAsBmp(input));
    }
    void TearDown() override { fs::remove_all(dir); }

    CliRun Exec(const std::vector<std::string>& args)
    {
        std::string command = Quote(LUMIVEX_CLI);
        for (const std::string& arg : args)
            command += " " + Quote(arg);
        const fs::path out = fs::path(dir) / "stdout.txt";
        const fs::path err = fs::path(dir) / "stderr.txt";
        command += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
        const int status = std::system(command.c_str());
        CliRun run;
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Slurp(out);
        run.err = Slurp(err);
        fs::remove(out);
        fs::remove(err);
        return run;
    }

    std::string Out(const std::string& name) const { return (fs::path(dir) / name).string(); }

    std::unique_ptr<CDibImage> Load(const std::string& path)
    {
        auto image = std::make_unique<CDibImage>();
        EXPECT_TRUE(image->LoadFromFile(path)) << path;
        EXPECT_TRUE(image->ConvertToGray());
        return image;
    }

    std::string dir;
    std::string input;
};

}  // namespace

TEST_F(Cli, GrayWritesTheImageAndPrintsTitleAndTime)
{
    const CliRun run = Exec({"gray", input, Out("g.bmp")});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\t')), "a.b");
    EXPECT_NE(run.out.find("\tTime (s):"), std::string::npos);
    EXPECT_EQ(Pixels(*Load(Out("g.bmp"))), Pixels(*Load(input)));
}

TEST_F(Cli, CommandsUseDefaultsAndBothOptionForms)
{
    const CliRun a = Exec({"stretch", input, Out("s1.bmp")});
    ASSERT_EQ(a.code, 0) << a.err;
    EXPECT_EQ(a.out.substr(0, a.out.find('\t')), "a.b - Stretch(10%)");

    const CliRun b = Exec({"stretch", "--percentage", "5", input, Out("s2.bmp")});
    const CliRun c = Exec({"stretch", input, "--percentage=5", Out("s3.bmp")});
    ASSERT_EQ(b.code, 0) << b.err;
    ASSERT_EQ(c.code, 0) << c.err;
    EXPECT_EQ(b.out.substr(0, b.out.find('\t')), "a.b - Stretch(5%)");
    EXPECT_EQ(ReadFileBytes(Out("s2.bmp")), ReadFileBytes(Out("s3.bmp")));

    auto expected = Load(input);
    expected->Stretch(5);
    EXPECT_EQ(Pixels(*Load(Out("s2.bmp"))), Pixels(*expected));

    const CliRun tcf = Exec({"tcf", "--nonlinear", "--k1=-0.3", input, Out("t.bmp")});
    ASSERT_EQ(tcf.code, 0) << tcf.err;
    EXPECT_EQ(tcf.out.substr(0, tcf.out.find('\t')), "a.b-3CF(2,-0.3,-0.4,30,100)");
}

TEST_F(Cli, JsonReport)
{
    const CliRun run = Exec({"ghe", input, Out("j.bmp"), "--report", "json"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out.rfind("{\"title\": \"a.b - GHE\", \"seconds\": ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\"width\": 64, \"height\": 48}"), std::string::npos) << run.out;
}

TEST_F(Cli, RefusalExitsOneWithTheMessageAndWritesNothing)
{
    const CliRun run = Exec({"unsharp", "--mask", "49", input, Out("r.bmp")});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "Size of mask is not adequate\n");
    EXPECT_FALSE(fs::exists(Out("r.bmp")));
}

TEST_F(Cli, BadValuesAndUsageExitTwo)
{
    const std::vector<std::vector<std::string>> cases = {
        {"stretch", "--percentage", "41", input, Out("x.bmp")},
        {"gamma", "--gamma", "abc", input, Out("x.bmp")},
        {"tahe", "--threshold", "11", input, Out("x.bmp")},
        {"stretch", "--window", "3", input, Out("x.bmp")},
        {"nosuch", input, Out("x.bmp")},
        {"ghe", input},
        {"ghe", input, Out("x.bmp"), "--report", "xml"},
        {"stretch", input, Out("x.bmp"), "--percentage"},
        {},
    };
    for (const auto& args : cases) {
        const CliRun run = Exec(args);
        EXPECT_EQ(run.code, 2) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(run.err.empty());
        EXPECT_FALSE(fs::exists(Out("x.bmp")));
    }
    EXPECT_NE(Exec({"stretch", "--percentage", "41", input, Out("x.bmp")}).err.find("Please enter an integer between 0 and 40."),
              std::string::npos);
}

TEST_F(Cli, UnreadableInputExitsTwo)
{
    const std::string junk = Out("junk.jpg");
    std::ofstream(junk) << "not a picture";
    for (const std::string& path : {junk, Out("missing.bmp")}) {
        const CliRun run = Exec({"ghe", path, Out("y.bmp")});
        EXPECT_EQ(run.code, 2);
        EXPECT_EQ(run.err, "Image load error!\n");
        EXPECT_FALSE(fs::exists(Out("y.bmp")));
    }
}

TEST_F(Cli, HelpListsEveryCommand)
{
    const CliRun run = Exec({"--help"});
    ASSERT_EQ(run.code, 0);
    for (const char* name : {"gray", "stretch", "gamma", "ghe", "tghe", "ahe", "tahe", "clhe", "unsharp", "lowpass", "tcf",
                             "jgace", "gray-tghe", "tcf-tghe", "gray-or-tcf-tghe", "--screen-width-mm"})
        EXPECT_NE(run.out.find(name), std::string::npos) << name;
}

TEST_F(Cli, BatchWritesEachResultUnderItsTitleAndGoesOnAfterFailures)
{
    const std::string second = Out("second.bmp");
    ASSERT_TRUE(MakePhotoLike(30, 30, 9)->SaveAsBmp(second));
    const std::string broken = Out("broken.jpg");
    std::ofstream(broken) << "no picture here";
    const std::string folder = Out("results");

    const CliRun run = Exec({"stretch", "-O", folder, input, broken, second});
    EXPECT_EQ(run.code, 2);
    EXPECT_TRUE(fs::exists(fs::path(folder) / "a.b - Stretch(10%).bmp"));
    EXPECT_TRUE(fs::exists(fs::path(folder) / "second - Stretch(10%).bmp"));
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2);
    EXPECT_NE(run.err.find(broken + ": Image load error!"), std::string::npos) << run.err;

    const CliRun json = Exec({"ghe", "--output-dir=" + folder, "--report", "json", input, second});
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_NE(json.out.find("\"output\": \"" + folder + "/a.b - GHE.bmp\""), std::string::npos) << json.out;
}

TEST_F(Cli, BatchNeverOverwritesItsInputsOrItsOwnResults)
{
    // gray into the input's own folder: the title of a.b.bmp is a.b, so its
    // result a.b.bmp would be the input itself.
    const auto before = ReadFileBytes(input);
    const CliRun run = Exec({"gray", "-O", dir, input});
    EXPECT_EQ(run.code, 3);
    EXPECT_EQ(ReadFileBytes(input), before);

    // Two inputs with the same title keep both results.
    fs::create_directories(Out("other"));
    const std::string twin = Out("other/a.b.bmp");
    ASSERT_TRUE(MakeUniform(26, 26, 9)->SaveAsBmp(twin));
    const CliRun both = Exec({"ghe", "-O", Out("twins"), input, twin});
    ASSERT_EQ(both.code, 0) << both.err;
    EXPECT_TRUE(fs::exists(Out("twins/a.b - GHE.bmp")));
    EXPECT_TRUE(fs::exists(Out("twins/a.b - GHE (2).bmp")));
}
