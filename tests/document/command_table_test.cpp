#include <set>

#include <gtest/gtest.h>

#include "document/commands/command_table.h"
#include "document/commands/title_format.h"

namespace {

std::string Suffix(std::string_view command, std::vector<std::pair<std::string, std::string>> overrides = {})
{
    const CommandSpec* spec = FindCommandByCliName(command);
    ParamValues values = spec->Defaults();
    for (const auto& [name, text] : overrides) {
        const int index = spec->ParamIndex(name);
        EXPECT_GE(index, 0) << name;
        EXPECT_FALSE(ReadParamField(spec->params[index], text, values[index])) << name << "=" << text;
    }
    return spec->suffix(values);
}

}  // namespace

TEST(CommandTable, FourteenCommandsWithUniqueNumbersAndNames)
{
    const auto& commands = Commands();
    ASSERT_EQ(commands.size(), 14u);
    std::set<int> ids;
    std::set<std::string_view> names;
    for (const CommandSpec& c : commands) {
        ids.insert(c.id);
        names.insert(c.cliName);
        EXPECT_EQ(c.dialog == nullptr, c.params.empty()) << c.cliName;
    }
    EXPECT_EQ(ids.size(), 14u);
    EXPECT_EQ(names.size(), 14u);
}

TEST(CommandTable, DefaultsShownAsTheDialogsShowThem)
{
    const std::pair<const char*, std::vector<std::string>> expected[] = {
        {"stretch", {"10"}}, {"gamma", {"2.3"}}, {"ahe", {"45"}}, {"clhe", {"0.7", "45"}}, {"unsharp", {"35", "2"}},
        {"tcf", {"2", "-0.2", "-0.4", "0", "30", "100"}}, {"tahe", {"45", "10"}}, {"tghe", {"10"}}, {"lowpass", {"25"}},
        {"jgace", {"200", "3", "1"}},
    };
    for (const auto& [name, texts] : expected) {
        const CommandSpec* spec = FindCommandByCliName(name);
        std::vector<std::string> shown;
        for (const ParamValue& v : spec->Defaults())
            shown.push_back(FormatParamValue(v));
        EXPECT_EQ(shown, texts) << name;
    }
    EXPECT_EQ(std::get<float>(FindCommandByCliName("clhe")->Defaults()[0]), 0.7f);
}

TEST(CommandTable, TitleSuffixOfEveryCommand)
{
    struct Case {
        const char* command;
        std::vector<std::pair<std::string, std::string>> values;
        const char* suffix;
    };
    const Case cases[] = {
        {"stretch", {}, " - Stretch(10%)"},
        {"stretch", {{"percentage", "0"}}, " - Stretch(0%)"},
        {"gamma", {}, " - Gamma(2.3)"},
        {"gamma", {{"gamma", "2"}}, " - Gamma(2)"},
        {"gamma", {{"gamma", "0.25"}}, " - Gamma(0.25)"},
        {"gamma", {{"gamma", "0"}}, " - Gamma(0)"},
        {"gamma", {{"gamma", "10"}}, " - Gamma(10)"},
        {"ghe", {}, " - GHE"},
        {"tghe", {}, " - THGE(10)"},
        {"tghe", {{"threshold", "0"}}, " - THGE(0)"},
        {"ahe", {}, " - AHE(45)"},
        {"ahe", {{"window", "-3"}}, " - AHE(-3)"},
        {"clhe", {}, " - CLHE(45,0.7)"},
        {"clhe", {{"alpha", "1"}}, " - CLHE(45,1.)"},
        {"clhe", {{"alpha", "0"}}, " - CLHE(45,0.)"},
        {"clhe", {{"alpha", "10"}, {"window", "3"}}, " - CLHE(3,10.)"},
        {"tahe", {}, " - TAHE(45,10)"},
        {"tahe", {{"window", "7"}, {"threshold", "3"}}, " - TAHE(7,3)"},
        {"unsharp", {}, " - Unsharp(35,2)"},
        {"unsharp", {{"gain", "1.5"}}, " - Unsharp(35,1.5)"},
        {"unsharp", {{"gain", "0"}}, " - Unsharp(35,0)"},
        {"unsharp", {{"gain", "-0.5"}, {"mask", "3"}}, " - Unsharp(3,-0.5)"},
        {"tcf", {}, "-3CF(2,-0.2,-0.4,30,100)"},
        {"tcf", {{"k", "12.5"}, {"k1", "0"}, {"nonlinear", "1"}, {"blow", "0"}}, "-3CF(12.5,0,-0.4,0,100)"},
        {"jgace", {{"distance", "0"}}, " - JGACE"},
        {"lowpass", {}, " - LowPass(25)"},
        {"gray-tghe", {}, " - GRAY+TGHE"},
        {"tcf-tghe", {}, " - TCF+TGHE"},
        {"gray-or-tcf-tghe", {}, "-GRAY_TCF+TGHE"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Suffix(c.command, c.values), c.suffix) << c.command;
}

TEST(TitleFormat, TrimmingAndElapsedTime)
{
    EXPECT_EQ(TrimRight("2.000000", "0"), "2.");
    EXPECT_EQ(TrimRight("000", "0"), "");
    EXPECT_EQ(FormatTrimmedFloat(2.3f), "2.3");
    EXPECT_EQ(FormatTrimmedFloat(0.1f), "0.1");
    EXPECT_EQ(FormatTrimmedFloat(100.0f), "100");
    EXPECT_EQ(FormatTrimmedFloat(1e-7f), "0");

    const std::pair<std::int64_t, const char*> times[] = {
        {470000, "0.047"}, {30050000, "3.005"}, {123000000, "12.300"}, {9999, "0.000"}, {10050000, "1.005"},
        {0, "0.000"}, {6000000000, "600.000"},
    };
    for (auto [ticks, text] : times)
        EXPECT_EQ(FormatElapsedTime(ticks), text) << ticks;
}
