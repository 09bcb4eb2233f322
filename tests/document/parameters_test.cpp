#include <gtest/gtest.h>

#include "document/commands/command_table.h"
#include "document/commands/parameters.h"

namespace {

// Reads text into the named parameter of the command with the given CLI name.
std::optional<std::string> Read(std::string_view command, std::string_view param, std::string_view text, ParamValue* out = nullptr)
{
    const CommandSpec* spec = FindCommandByCliName(command);
    const int index = spec->ParamIndex(param);
    ParamValue value = spec->params[index].defaultValue;
    auto error = ReadParamField(spec->params[index], text, value);
    if (out)
        *out = value;
    return error;
}

}  // namespace

TEST(ParamFields, IntegerRule)
{
    EXPECT_EQ(ParseIntField("45"), 45);
    EXPECT_EQ(ParseIntField(" \t-7  "), -7);
    EXPECT_EQ(ParseIntField("+3"), 3);
    for (const char* bad : {"", " ", "4.5", "12a", "a", "1 2", "--1", "0x10", "99999999999"})
        EXPECT_FALSE(ParseIntField(bad)) << bad;
}

TEST(ParamFields, ByteRule)
{
    EXPECT_EQ(ParseByteField(" 255 "), 255);
    EXPECT_EQ(ParseByteField("0"), 0);
    for (const char* bad : {"256", "-1", "-0", "", "x", "1.0"})
        EXPECT_FALSE(ParseByteField(bad)) << bad;
}

TEST(ParamFields, NumberRule)
{
    EXPECT_EQ(ParseFloatField("2.3"), 2.3f);
    EXPECT_EQ(ParseFloatField(" -0.2\t"), -0.2f);
    EXPECT_EQ(ParseFloatField(".5"), 0.5f);
    EXPECT_EQ(ParseFloatField("5."), 5.0f);
    EXPECT_EQ(ParseFloatField("1e1"), 10.0f);
    EXPECT_EQ(ParseFloatField("+2E-1"), 0.2f);
    for (const char* bad : {"", ".", "e5", "1e", "inf", "nan", "0x1p3", "1,5", "2.3.4", "1e999", "abc"})
        EXPECT_FALSE(ParseFloatField(bad)) << bad;
}

TEST(ParamFields, OnlyThirtyOneCharactersCount)
{
    // Thirty-one spaces push the digit out of the field.
    EXPECT_FALSE(ParseIntField(std::string(31, ' ') + "5"));
    EXPECT_EQ(ParseIntField(std::string(30, ' ') + "5"), 5);
}

TEST(ParamFields, MessagesAndRanges)
{
    struct Case {
        const char* command;
        const char* param;
        const char* text;
        const char* message;  // nullptr: accepted
    };
    const Case cases[] = {
        {"stretch", "percentage", "40", nullptr},
        {"stretch", "percentage", "0", nullptr},
        {"stretch", "percentage", "41", "Please enter an integer between 0 and 40."},
        {"stretch", "percentage", "-1", "Please enter an integer between 0 and 40."},
        {"stretch", "percentage", "ten", "Please enter an integer."},
        {"stretch", "percentage", "", "Please enter an integer."},
        {"gamma", "gamma", "30", nullptr},
        {"gamma", "gamma", "0", nullptr},
        {"gamma", "gamma", "30.5", "Please enter a number between 0 and 30."},
        {"gamma", "gamma", "x", "Please enter a number."},
        {"tahe", "threshold", "10", nullptr},
        {"tahe", "threshold", "11", "Please enter an integer between 0 and 10."},
        {"tahe", "threshold", "256", "Please enter an integer between 0 and 255."},
        {"tahe", "threshold", "-1", "Please enter an integer between 0 and 255."},
        {"tghe", "threshold", "100", nullptr},
        {"tghe", "threshold", "101", "Please enter an integer between 0 and 100."},
        {"tcf", "blow", "256", "Please enter an integer between 0 and 255."},
        {"tcf", "bhi", "255", nullptr},
        {"tcf", "k1", "abc", "Please enter a number."},
        {"ahe", "window", "-45", nullptr},
        {"clhe", "alpha", "7", nullptr},
        {"jgace", "distance", "1.5", "Please enter an integer."},
    };
    for (const Case& c : cases) {
        const auto error = Read(c.command, c.param, c.text);
        if (c.message)
            EXPECT_EQ(error, std::string(c.message)) << c.command << " " << c.param << " '" << c.text << "'";
        else
            EXPECT_FALSE(error) << c.command << " " << c.param << " '" << c.text << "': " << *error;
    }
}

TEST(ParamFields, ValuesAsTheyAreShown)
{
    EXPECT_EQ(FormatParamValue(2.3f), "2.3");
    EXPECT_EQ(FormatParamValue(-0.2f), "-0.2");
    EXPECT_EQ(FormatParamValue(3.0f), "3");
    EXPECT_EQ(FormatParamValue(45), "45");
    EXPECT_EQ(FormatParamValue(std::uint8_t{10}), "10");
    EXPECT_EQ(FormatParamValue(false), "0");
}
