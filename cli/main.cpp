// lumivex-cli: the processing commands of the workbench, headless, for batches.
//
//   lumivex-cli COMMAND [OPTIONS] INPUT OUTPUT.bmp [--report json]
//   lumivex-cli COMMAND [OPTIONS] --output-dir DIR INPUT... [--report json]
//
// With an output folder every input gives DIR/TITLE.bmp, a line per file, and
// a failure of one file does not stop the others; the exit code is then the
// highest of the files' codes.
// Every command reads its options with the dialogs' field rules and range
// checks, runs through the same pipeline as the desktop program and writes an
// 8-bit gray BMP. Exit codes: 0 written; 1 the operation refused its
// parameters (its message on stderr, nothing written); 2 usage error, bad
// option value, or input that cannot be read; 3 the output could not be written.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "core/messages.h"
#include "core/parallel.h"
#include "core/screen_metrics.h"
#include "document/commands/command_table.h"
#include "document/commands/parameters.h"
#include "document/commands/pipeline.h"
#include "document/commands/title_format.h"

namespace {

enum ExitCode { kWritten = 0, kRefused = 1, kUsage = 2, kWriteFailed = 3 };

constexpr std::string_view kProgram = "lumivex-cli";

void PrintUsage(std::FILE* out)
{
    std::fprintf(out,
                 "Usage: %s COMMAND [OPTIONS] INPUT OUTPUT.bmp [--report json]\n"
                 "       %s COMMAND [OPTIONS] -O DIR INPUT... [--report json]\n"
                 "\n"
                 "Reads a BMP or JPEG file, converts it to 8-bit gray, applies COMMAND and writes\n"
                 "the result as an 8-bit gray BMP. Prints TITLE<TAB>Time (s):S.MMM, or with\n"
                 "--report json one JSON object with title, seconds, width and height.\n"
                 "With -O DIR (--output-dir DIR) each input is written to DIR/TITLE.bmp, one line\n"
                 "per file, and a file that fails does not stop the others.\n"
                 "Options take --name VALUE or --name=VALUE.\n"
                 "\n"
                 "Commands and their options, with defaults:\n"
                 "  gray\n                      the gray image itself\n",
                 std::string(kProgram).c_str(), std::string(kProgram).c_str());
    for (const CommandSpec& command : Commands()) {
        std::string line("  ");
        line += command.cliName;
        if (!command.params.empty())
            line.resize(std::max<std::size_t>(line.size(), 20), ' ');
        for (const ParamSpec& param : command.params) {
            line += " --" + std::string(param.cliName);
            if (param.type != ParamType::Bool)
                line += " " + FormatParamValue(param.defaultValue);
            if (param.minimum && param.maximum)
                line += " (" + FormatParamValue(param.type == ParamType::Float ? ParamValue(static_cast<float>(*param.minimum))
                                                                               : ParamValue(static_cast<int>(*param.minimum))) +
                        ".." +
                        FormatParamValue(param.type == ParamType::Float ? ParamValue(static_cast<float>(*param.maximum))
                                                                        : ParamValue(static_cast<int>(*param.maximum))) +
                        ")";
        }
        if (command.cliName == "jgace")
            line += " --screen-width-mm 508 --screen-width-px 1920";
        std::fprintf(out, "%s\n%22s%s\n", line.c_str(), "", std::string(command.prompt).c_str());
    }
    std::fprintf(out,
                 "\n"
                 "General options:\n"
                 "  -O, --output-dir DIR   write each result to DIR/TITLE.bmp (several inputs)\n"
                 "  --report json          print a JSON object instead of the line\n"
                 "  --threads N            worker threads (default: LUMIVEX_THREADS or all cores)\n"
                 "  --help                 this text\n"
                 "\n"
                 "Exit codes: 0 written; 1 the operation refused its parameters; 2 usage error,\n"
                 "bad option value or unreadable input; 3 the output could not be written.\n"
                 "With several inputs the highest code of any file.\n");
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fprintf(stderr, "Try '%s --help'.\n", std::string(kProgram).c_str());
    return kUsage;
}

// The file title: the file name without its extension (everything before the
// last "."; the whole name when it has none). a.b.jpg gives a.b.
std::string FileTitle(const std::string& path)
{
    const std::string name = std::filesystem::path(path).filename().string();
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

struct Options {
    std::string command;
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::optional<std::string>>> named;  // name, value
    std::optional<std::string> outputDir;
    bool json = false;
    bool help = false;
    std::optional<int> threads;
};

// Splits argv into the command, the named options and the positional arguments.
// Returns an error text on malformed input.
std::optional<std::string> ParseArguments(int argc, char** argv, const CommandSpec* command, Options& options)
{
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i)
                options.positional.push_back(argv[i]);
            break;
        }
        if (arg == "-O") {
            if (i + 1 >= argc)
                return std::string("Option -O needs a folder.");
            options.outputDir = argv[++i];
            continue;
        }
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            options.positional.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (const std::size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "help") {
            options.help = true;
            continue;
        }
        const bool isFlag = command && command->ParamIndex(name) >= 0 &&
                            command->params[command->ParamIndex(name)].type == ParamType::Bool;
        if (!value && !isFlag) {
            if (i + 1 >= argc)
                return "Option --" + name + " needs a value.";
            value = argv[++i];
        }
        if (name == "report") {
            if (*value != "json")
                return "Unknown report format '" + *value + "' (only json is known).";
            options.json = true;
        } else if (name == "output-dir") {
            options.outputDir = *value;
        } else if (name == "threads") {
            const auto threads = ParseIntField(*value);
            if (!threads || *threads < 1)
                return "Option --threads needs a positive integer.";
            options.threads = *threads;
        } else {
            options.named.emplace_back(name, value);
        }
    }
    return std::nullopt;
}


void PrintResult(const std::string& title, std::int64_t ticks, const CDibImage& image, bool json, const std::string* input,
                 const std::string* output)
{
    if (json) {
        std::string extra;
        if (input)
            extra += ", \"input\": " + JsonString(*input);
        if (output)
            extra += ", \"output\": " + JsonString(*output);
        std::printf("{\"title\": %s, \"seconds\": %.6f, \"width\": %d, \"height\": %d%s}\n", JsonString(title).c_str(),
                    static_cast<double>(ticks / 10) / 1e6, image.m_nWidth, image.m_nHeight, extra.c_str());
    } else {
        std::printf("%s\tTime (s):%s\n", title.c_str(), FormatElapsedTime(ticks).c_str());
    }
    std::fflush(stdout);
}

// Reads input, runs the command (or none for gray) and writes the result to
// output. In a batch the input and output are named in the report.
int ProcessFile(const CommandSpec* command, const ParamValues& values, const std::string& input, const std::string& output,
                bool json, bool batch)
{
    CDibImage source;
    if (!source.LoadFromFile(input)) {
        ShowMessage("Image load error!");
        return kUsage;
    }
    if (!source.ConvertToGray()) {
        ShowMessage("Conversion to gray scale failed!");
        return kUsage;
    }

    const std::string sourceTitle = FileTitle(input);
    std::string title = sourceTitle;
    std::int64_t ticks = 0;
    const CDibImage* result = &source;
    std::optional<CommandResult> processed;
    if (command) {
        processed = RunCommand(*command, source, sourceTitle, values);
        if (!processed)
            return kRefused;
        title = processed->title;
        ticks = processed->elapsedTicks;
        result = processed->image.get();
    }

    if (!result->SaveAsBmp(output))
        return kWriteFailed;
    PrintResult(title, ticks, *result, json, batch ? &input : nullptr, batch ? &output : nullptr);
    return kWritten;
}

// The title a file will get, known before it is processed: the output name in a batch.
std::string PlannedTitle(const CommandSpec* command, const ParamValues& values, const std::string& input)
{
    return FileTitle(input) + (command ? command->suffix(values) : std::string());
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code error;
    return std::filesystem::equivalent(a, b, error);
}

int ProcessBatch(const CommandSpec* command, const ParamValues& values, const Options& options)
{
    namespace fs = std::filesystem;
    const fs::path dir = *options.outputDir;
    std::error_code error;
    fs::create_directories(dir, error);
    if (!fs::is_directory(dir, error)) {
        std::fprintf(stderr, "Cannot create the output folder %s.\n", dir.string().c_str());
        return kWriteFailed;
    }

    // Messages name the file they are about, so a long batch stays readable.
    std::string current;
    SetMessageHandler([&current](const std::string& text) { std::fprintf(stderr, "%s: %s\n", current.c_str(), text.c_str()); });

    std::vector<std::string> used;
    int worst = kWritten;
    for (const std::string& input : options.positional) {
        current = input;
        // Two inputs with the same title would overwrite each other's result:
        // later ones get " (2)", " (3)", ... instead.
        const std::string title = PlannedTitle(command, values, input);
        std::string name = title + ".bmp";
        for (int n = 2; std::find(used.begin(), used.end(), name) != used.end(); ++n)
            name = title + " (" + std::to_string(n) + ").bmp";
        used.push_back(name);
        const fs::path output = dir / name;

        // Never write a result over one of the batch's own inputs.
        const bool clobbers = std::any_of(options.positional.begin(), options.positional.end(),
                                          [&](const std::string& other) { return SameFile(output, other); });
        int code;
        if (clobbers) {
            ShowMessage("The result " + output.string() + " would replace an input file; it was not written.");
            code = kWriteFailed;
        } else {
            code = ProcessFile(command, values, input, output.string(), options.json, true);
        }
        worst = std::max(worst, code);
    }
    return worst;
}

}  // namespace

int main(int argc, char** argv)
{
    // Operations report refusals as fixed texts; the command line shows them on stderr.
    SetMessageHandler([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });

    if (argc < 2)
        return UsageError("Missing COMMAND.");
    const std::string commandName = argv[1];
    if (commandName == "--help" || commandName == "-h" || commandName == "help") {
        PrintUsage(stdout);
        return kWritten;
    }
    const CommandSpec* command = FindCommandByCliName(commandName);
    if (!command && commandName != "gray")
        return UsageError("Unknown command '" + commandName + "'.");

    Options options;
    if (auto error = ParseArguments(argc, argv, command, options))
        return UsageError(*error);
    if (options.help) {
        PrintUsage(stdout);
        return kWritten;
    }
    if (!options.outputDir && options.positional.size() != 2)
        return UsageError("Expected INPUT and OUTPUT.bmp.");
    if (options.outputDir && options.positional.empty())
        return UsageError("Expected at least one INPUT.");

    ParamValues values = command ? command->Defaults() : ParamValues{};
    ScreenMetrics screen = CurrentScreenMetrics();
    for (const auto& [name, value] : options.named) {
        const bool isJgace = command && command->cliName == "jgace";
        if (isJgace && (name == "screen-width-mm" || name == "screen-width-px")) {
            const auto number = ParseIntField(*value);
            if (!number || *number <= 0)
                return UsageError("Option --" + name + " needs a positive integer.");
            (name == "screen-width-mm" ? screen.widthMm : screen.widthPx) = *number;
            continue;
        }
        const int index = command ? command->ParamIndex(name) : -1;
        if (index < 0)
            return UsageError("Unknown option --" + name + " for " + commandName + ".");
        const ParamSpec& spec = command->params[index];
        if (spec.type == ParamType::Bool) {
            const std::string text = value.value_or("1");
            if (text != "0" && text != "1")
                return UsageError("Option --" + name + " takes no value, or 0 or 1.");
            values[index] = text == "1";
            continue;
        }
        if (auto error = ReadParamField(spec, *value, values[index]))
            return UsageError(*error + " (option --" + name + ")");
    }
    if (options.threads)
        SetWorkerThreadCount(*options.threads);
    SetScreenMetrics(screen);

    if (!options.outputDir)
        return ProcessFile(command, values, options.positional[0], options.positional[1], options.json, false);
    return ProcessBatch(command, values, options);
}
