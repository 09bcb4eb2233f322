#include "document/commands/command_table.h"

#include <cstdio>
#include <cstring>

#include "core/box_rows.h"
#include "core/messages.h"
#include "document/commands/title_format.h"

namespace {

using Kind = DialogControl::Kind;

// Every template starts with OK and Cancel, 50 x 14, at (x, 7) and (x, 24).
std::vector<DialogControl> WithButtons(int buttonX, std::vector<DialogControl> fields)
{
    std::vector<DialogControl> controls{
        {Kind::DefaultButton, 1, "OK", buttonX, 7, 50, 14},
        {Kind::Button, 2, "Cancel", buttonX, 24, 50, 14},
    };
    controls.insert(controls.end(), fields.begin(), fields.end());
    return controls;
}

const DialogTemplate kStretchDlg{133, "CStretchDlg", "StretchDLG", 186, 71,
    WithButtons(129, {{Kind::Label, -1, "Percentage =", 13, 11, 44, 8}, {Kind::Edit, 1002, "", 15, 25, 37, 12}})};

const DialogTemplate kGammaDlg{134, "CGammaDlg", "Gamma correction", 186, 58,
    WithButtons(129, {{Kind::Label, -1, "Factor gamma =", 7, 7, 52, 8}, {Kind::Edit, 1002, "", 17, 20, 33, 15}})};

const DialogTemplate kAheDlg{137, "CAheDlg", "AHE", 186, 63,
    WithButtons(129, {{Kind::Label, -1, "Size of window =", 7, 9, 54, 8}, {Kind::Edit, 1002, "", 16, 25, 36, 12}})};

const DialogTemplate kClheDlg{138, "CClheDlg", "CLHE", 186, 90,
    WithButtons(129, {{Kind::Label, -1, "Factor alpha =", 7, 7, 46, 8},
                      {Kind::Edit, 1002, "", 19, 20, 32, 12},
                      {Kind::Label, -1, "Size of window =", 7, 49, 54, 8},
                      {Kind::Edit, 1003, "", 19, 61, 32, 12}})};

const DialogTemplate kUnsharpDlg{139, "CUnsharpDlg", "Unsharp Masking", 186, 90,
    WithButtons(129, {{Kind::Label, -1, "Size of mask =", 12, 7, 47, 8},
                      {Kind::Edit, 1002, "", 12, 22, 29, 16},
                      {Kind::Label, -1, "Gain =", 12, 46, 22, 8},
                      {Kind::Edit, 1003, "", 12, 58, 29, 16}})};

const DialogTemplate kTcfDlg{140, "CTcfDlg", "Three Channel Filtering", 253, 147,
    WithButtons(196, {{Kind::Label, -1, "K =", 7, 13, 12, 8},
                      {Kind::Label, -1, "K1 =", 7, 35, 16, 8},
                      {Kind::Label, -1, "K2 =", 7, 57, 16, 8},
                      {Kind::Edit, 1002, "", 39, 10, 36, 14},
                      {Kind::Edit, 1003, "", 39, 32, 36, 14},
                      {Kind::Edit, 1004, "", 39, 54, 36, 14},
                      {Kind::CheckBox, 1026, "Nonlinear contrast stretching", 100, 90, 110, 30},
                      {Kind::Label, -1, "BLOW=", 7, 90, 23, 9},
                      {Kind::Label, -1, "BHI=", 7, 116, 29, 13},
                      {Kind::Edit, 1005, "", 39, 88, 36, 14},
                      {Kind::Edit, 1006, "", 39, 112, 36, 14}})};

const DialogTemplate kTaheDlg{150, "CTaheDlg", "TAHE", 186, 97,
    WithButtons(129, {{Kind::Label, -1, "Size of window =", 7, 9, 54, 8},
                      {Kind::Edit, 1002, "", 16, 24, 32, 12},
                      {Kind::Label, -1, "Threshold =", 7, 48, 38, 8},
                      {Kind::Edit, 1004, "", 16, 61, 32, 12}})};

const DialogTemplate kTgheDlg{151, "CTgheDlg", "TGHE", 186, 60,
    WithButtons(129, {{Kind::Label, -1, "Threshold =", 7, 7, 38, 8}, {Kind::Edit, 1004, "", 16, 20, 32, 12}})};

const DialogTemplate kLowpassDlg{158, "CLowpassDlg", "Lowpass Filtering", 186, 90,
    WithButtons(129, {{Kind::Label, -1, "Size of mask =", 12, 7, 47, 8}, {Kind::Edit, 1002, "", 12, 22, 29, 16}})};

const DialogTemplate kJgaceDlg{159, "CJgaceDlg", "JGACE", 215, 94,
    WithButtons(158, {{Kind::Edit, 1002, "", 48, 7, 42, 17},
                      {Kind::Edit, 1003, "", 48, 32, 42, 17},
                      {Kind::Edit, 1004, "", 48, 58, 42, 17},
                      {Kind::Label, -1, "d =", 15, 11, 26, 17},
                      {Kind::Label, -1, "gamma=", 15, 60, 26, 17},
                      {Kind::Label, -1, "JND0 =", 15, 33, 26, 17}})};

std::string Printf(const char* format, auto... args)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

// --- Global -------------------------------------------------------------------

int RunStretch(CDibImage& work, CDibImage&, const ParamValues& v)
{
    return work.Stretch(AsInt(v[0]));
}

std::string StretchSuffix(const ParamValues& v)
{
    return Printf(" - Stretch(%d%%)", AsInt(v[0]));
}

int RunGamma(CDibImage& work, CDibImage&, const ParamValues& v)
{
    return work.GammaCorrect(AsFloat(v[0]));
}

std::string GammaSuffix(const ParamValues& v)
{
    return " - Gamma(" + FormatTrimmedFloat(AsFloat(v[0])) + ")";
}

int RunGhe(CDibImage& work, CDibImage&, const ParamValues&)
{
    return work.Ghe();
}

std::string GheSuffix(const ParamValues&)
{
    return " - GHE";
}

int RunTghe(CDibImage& work, CDibImage&, const ParamValues& v)
{
    return work.Tghe(AsByte(v[0]));
}

std::string TgheSuffix(const ParamValues& v)
{
    // The title has always read THGE; saved result names depend on it.
    return Printf(" - THGE(%d)", static_cast<int>(AsByte(v[0])));
}

// --- Local --------------------------------------------------------------------

int RunAhe(CDibImage& work, CDibImage& source, const ParamValues& v)
{
    return work.Ahe(AsInt(v[0]), &source);
}

std::string AheSuffix(const ParamValues& v)
{
    return Printf(" - AHE(%d)", AsInt(v[0]));
}

// CLHE exchanges alpha first, then the window size.
int RunClhe(CDibImage& work, CDibImage& source, const ParamValues& v)
{
    return work.Clhe(AsInt(v[1]), AsFloat(v[0]), &source);
}

std::string ClheSuffix(const ParamValues& v)
{
    // Only the zeros are trimmed: the decimal point stays ("1." for alpha 1).
    const std::string text = Printf(" - CLHE(%d,", AsInt(v[1])) + FormatFixed(AsFloat(v[0]));
    return TrimRight(text, "0") + ")";
}

int RunTahe(CDibImage& work, CDibImage& source, const ParamValues& v)
{
    return work.Tahe(AsInt(v[0]), AsByte(v[1]), &source);
}

std::string TaheSuffix(const ParamValues& v)
{
    return Printf(" - TAHE(%d,%d)", AsInt(v[0]), static_cast<int>(AsByte(v[1])));
}

// --- Filtering ----------------------------------------------------------------

int RunUnsharp(CDibImage& work, CDibImage&, const ParamValues& v)
{
    return work.UnsharpMask(AsInt(v[0]), AsFloat(v[1]));
}

std::string UnsharpSuffix(const ParamValues& v)
{
    const std::string text = Printf(" - Unsharp(%d,", AsInt(v[0])) + FormatFixed(AsFloat(v[1]));
    return TrimRight(TrimRight(text, "0"), ".") + ")";
}

int RunTcf(CDibImage& work, CDibImage&, const ParamValues& v)
{
    return work.ThreeChannelFilter(AsFloat(v[0]), AsFloat(v[1]), AsFloat(v[2]), AsBool(v[3]) ? 1 : 0, AsByte(v[4]),
                                   AsByte(v[5]));
}

std::string TcfSuffix(const ParamValues& v)
{
    return "-3CF(" + FormatTrimmedFloat(AsFloat(v[0])) + "," + FormatTrimmedFloat(AsFloat(v[1])) + "," +
           FormatTrimmedFloat(AsFloat(v[2])) + "," + std::to_string(AsByte(v[4])) + "," + std::to_string(AsByte(v[5])) + ")";
}

// JGACE exchanges d, gamma, JND0 (the dialog's order) and is called with d, JND0, gamma.
int RunJgace(CDibImage& work, CDibImage& source, const ParamValues& v)
{
    return work.Jgace(AsInt(v[0]), AsInt(v[2]), AsFloat(v[1]), &source);
}

std::string JgaceSuffix(const ParamValues&)
{
    return " - JGACE";
}

int RunLowpass(CDibImage& work, CDibImage&, const ParamValues& v)
{
    return LowpassFilter(work, AsInt(v[0]));
}

std::string LowpassSuffix(const ParamValues& v)
{
    return Printf(" - LowPass(%d)", AsInt(v[0]));
}

// --- Combination --------------------------------------------------------------

int RunGrayTghe(CDibImage& work, CDibImage& source, const ParamValues&)
{
    return GrayTghe(work, source);
}

int RunTcfTghe(CDibImage& work, CDibImage& source, const ParamValues&)
{
    return TcfTghe(work, source);
}

int RunGrayOrTcfTghe(CDibImage& work, CDibImage& source, const ParamValues&)
{
    return GrayOrTcfTghe(work, source);
}

std::string GrayTgheSuffix(const ParamValues&)
{
    return " - GRAY+TGHE";
}

std::string TcfTgheSuffix(const ParamValues&)
{
    return " - TCF+TGHE";
}

std::string GrayOrTcfTgheSuffix(const ParamValues&)
{
    return "-GRAY_TCF+TGHE";
}

ParamSpec IntParam(std::string_view cli, std::string_view member, int control, std::string_view label, int value)
{
    return {cli, member, ParamType::Int, control, label, value, std::nullopt, std::nullopt};
}

ParamSpec FloatParam(std::string_view cli, std::string_view member, int control, std::string_view label, float value)
{
    return {cli, member, ParamType::Float, control, label, value, std::nullopt, std::nullopt};
}

ParamSpec ByteParam(std::string_view cli, std::string_view member, int control, std::string_view label, int value)
{
    return {cli, member, ParamType::Byte, control, label, static_cast<std::uint8_t>(value), std::nullopt, std::nullopt};
}

ParamSpec Ranged(ParamSpec spec, double minimum, double maximum)
{
    spec.minimum = minimum;
    spec.maximum = maximum;
    return spec;
}

std::vector<CommandSpec> BuildCommands()
{
    return {
        {32772, "stretch", "&Global", "&Contrast stretching", "Contrast stretching", false, &kStretchDlg,
         {Ranged(IntParam("percentage", "m_nPercentage", 1002, "Percentage =", 10), 0, 40)}, StretchSuffix, RunStretch},
        {32773, "gamma", "&Global", "&Gamma correction", "Gamma correction", false, &kGammaDlg,
         {Ranged(FloatParam("gamma", "m_fGamma", 1002, "Factor gamma =", 2.3f), 0, 30)}, GammaSuffix, RunGamma},
        {32774, "ghe", "&Global", "G&HE", "Global Histogram Equalization", false, nullptr, {}, GheSuffix, RunGhe},
        {32784, "tghe", "&Global", "&TGHE", "Threshold Global Histogram Equalization", true, &kTgheDlg,
         {Ranged(ByteParam("threshold", "m_byThreshold", 1004, "Threshold =", 10), 0, 100)}, TgheSuffix, RunTghe},

        {32775, "ahe", "&Local", "&AHE", "Adaptive Histogram Equalization", false, &kAheDlg,
         {IntParam("window", "m_nWindowSize", 1002, "Size of window =", 45)}, AheSuffix, RunAhe},
        {32776, "clhe", "&Local", "&CLHE", "Modified Constrained Local Histogram Equalization", false, &kClheDlg,
         {FloatParam("alpha", "m_fAlpha", 1002, "Factor alpha =", 0.7f),
          IntParam("window", "m_nWindowSize", 1003, "Size of window =", 45)},
         ClheSuffix, RunClhe},
        {32781, "tahe", "&Local", "&TAHE", "Threshold Adaptive Histogram Equalization", true, &kTaheDlg,
         {IntParam("window", "m_nWindowSize", 1002, "Size of window =", 45),
          Ranged(ByteParam("threshold", "m_byThreshold", 1004, "Threshold =", 10), 0, 10)},
         TaheSuffix, RunTahe},

        {32777, "unsharp", "Fil&tering", "&Unsharp masking", "Unsharp masking", false, &kUnsharpDlg,
         {IntParam("mask", "m_nMaskSize", 1002, "Size of mask =", 35), FloatParam("gain", "m_fGain", 1003, "Gain =", 2.0f)},
         UnsharpSuffix, RunUnsharp},
        {32778, "tcf", "Fil&tering", "&Three channel filtering", "Three channel filtering", false, &kTcfDlg,
         {FloatParam("k", "m_fK", 1002, "K =", 2.0f), FloatParam("k1", "m_fK1", 1003, "K1 =", -0.2f),
          FloatParam("k2", "m_fK2", 1004, "K2 =", -0.4f),
          {"nonlinear", "m_bNonlinear", ParamType::Bool, 1026, "Nonlinear contrast stretching", false, std::nullopt, std::nullopt},
          ByteParam("blow", "m_byBlow", 1005, "BLOW=", 30), ByteParam("bhi", "m_byBhi", 1006, "BHI=", 100)},
         TcfSuffix, RunTcf},
        {32789, "jgace", "Fil&tering", "&JGACE", "JGACE", true, &kJgaceDlg,
         {IntParam("distance", "m_nD", 1002, "d =", 200), FloatParam("gamma", "m_fGamma", 1004, "gamma=", 3.0f),
          IntParam("jnd0", "m_nJnd0", 1003, "JND0 =", 1)},
         JgaceSuffix, RunJgace},
        {32790, "lowpass", "Fil&tering", "&Lowpass filtering", "Lowpass filtering", true, &kLowpassDlg,
         {IntParam("mask", "m_nMaskSize", 1002, "Size of mask =", 25)}, LowpassSuffix, RunLowpass},

        {32798, "gray-tghe", "&Combination", "&Gray+TGHE", "THGE only for dark images", false, nullptr, {}, GrayTgheSuffix,
         RunGrayTghe},
        {32796, "tcf-tghe", "&Combination", "&TCF+TGHE", "TGHE for dark images + Three Channel Filtering for others", false,
         nullptr, {}, TcfTgheSuffix, RunTcfTghe},
        {32797, "gray-or-tcf-tghe", "&Combination", "Gray &or TCF + TGHE", "Choose gray or filtered image", false, nullptr, {},
         GrayOrTcfTgheSuffix, RunGrayOrTcfTghe},
    };
}

}  // namespace

ParamValues CommandSpec::Defaults() const
{
    ParamValues values;
    values.reserve(params.size());
    for (const ParamSpec& param : params)
        values.push_back(param.defaultValue);
    return values;
}

int CommandSpec::ParamIndex(std::string_view name) const
{
    for (std::size_t i = 0; i < params.size(); ++i)
        if (params[i].cliName == name)
            return static_cast<int>(i);
    return -1;
}

const std::vector<CommandSpec>& Commands()
{
    static const std::vector<CommandSpec> commands = BuildCommands();
    return commands;
}

const CommandSpec* FindCommand(int id)
{
    for (const CommandSpec& command : Commands())
        if (command.id == id)
            return &command;
    return nullptr;
}

const CommandSpec* FindCommandByCliName(std::string_view cliName)
{
    for (const CommandSpec& command : Commands())
        if (command.cliName == cliName)
            return &command;
    return nullptr;
}

int LowpassFilter(CDibImage& work, int maskSize)
{
    // Negative sizes have no mean plane; they are refused like oversized ones.
    if (maskSize > work.m_nWidth || maskSize > work.m_nHeight || maskSize < 0) {
        ShowMessage("Size of mask is not adequate");
        return 0;
    }
    if (!work.m_pBits)
        return 0;
    if (maskSize < 1) {
        // Size 0 gives the plane of zeros of BoxFilter's rule.
        work.m_pBits = work.BoxFilter(maskSize);
        return 1;
    }
    // Each mean row replaces its image row as soon as it exists: no second
    // whole-image plane, and none of the page faults of fresh memory.
    const int masks[] = {maskSize};
    const int width = work.m_nWidth;
    StreamBoxMeansInPlace(work.m_pBits.get(), width, work.m_nHeight, masks, [width](int, int) -> BoxRowConsumer {
        return [width](int, const std::uint8_t* const* means, std::uint8_t* row) {
            std::memcpy(row, means[0], static_cast<std::size_t>(width));
        };
    });
    return 1;
}
