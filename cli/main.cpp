// lumivex-cli: the processing commands of the workbench, headless, for batches.
//
//   lumivex-cli COMMAND [OPTIONS] INPUT OUTPUT.bmp [--report json]
//
// Every command reads its options with the dialogs' field rules and range
// checks, runs through the same pipeline as the desktop program and writes an
// 8-bit gray BMP. Exit codes: 0 written; 1 the operation refused its
// parameters (its message on stderr, nothing written); 2 usage error, bad
// option value, or input that cannot be read; 3 the output could not be written.
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
                 "\n"
                 "Reads a BMP or JPEG file, converts it to 8-bit gray, applies COMMAND and writes\n"
                 "the result as an 8-bit gray BMP. Prints TITLE<TAB>Time (s):S.MMM, or with\n"
                 "--report json one JSON object with title, seconds, width and height.\n"
                 "Options take --name VALUE or --name=VALUE.\n"
                 "\n"
                 "Commands:\n"
                 "  gray                 the gray image itself\n",
                 std::string(kProgram).c_str());
    for (const CommandSpec& command : Commands()) {
        std::string line("  ");
        line += command.cliName;
        for (const ParamSpec& param : command.params) {
            line += " --" + std::string(param.cliName);
            if (param.type != ParamType::Bool)
                line += " " + FormatParamValue(param.defaultValue);
            if (param.minimum && param.maximum)
                line += " [" + FormatParamValue(param.type == ParamType::Float ? ParamValue(static_cast<float>(*param.minimum))
                                                                               : ParamValue(static_cast<int>(*param.minimum))) +
                        ".." +
                        FormatParamValue(param.type == ParamType::Float ? ParamValue(static_cast<float>(*param.maximum))
                                                                        : ParamValue(static_cast<int>(*param.maximum))) +
                        "]";
        }
        if (command.cliName == "jgace")
            line += " --screen-width-mm 508 --screen-width-px 1920";
        std::fprintf(out, "%-22s %s\n", line.c_str(), std::string(command.prompt).c_str());
    }
    std::fprintf(out,
                 "\n"
                 "General options:\n"
                 "  --report json        print a JSON object instead of the line\n"
                 "  --threads N          worker threads (default: LUMIVEX_THREADS or all cores)\n"
                 "  --help               this text\n"
                 "\n"
                 "Exit codes: 0 written; 1 the operation refused its parameters; 2 usage error,\n"
                 "bad option value or unreadable input; 3 the output could not be written.\n");
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
    if (options.positional.size() != 2)
        return UsageError("Expected INPUT and OUTPUT.bmp.");

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

    const std::string& input = options.positional[0];
    const std::string& output = options.positional[1];

    CDibImage source;
    if (!source.LoadFromFile(input)) {
        std::fprintf(stderr, "Image load error!\n");
        return kUsage;
    }
    if (!source.ConvertToGray()) {
        std::fprintf(stderr, "Conversion to gray scale failed!\n");
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

    if (options.json) {
        std::printf("{\"title\": %s, \"seconds\": %.6f, \"width\": %d, \"height\": %d}\n", JsonString(title).c_str(),
                    static_cast<double>(ticks / 10) / 1e6, result->m_nWidth, result->m_nHeight);
    } else {
        std::printf("%s\tTime (s):%s\n", title.c_str(), FormatElapsedTime(ticks).c_str());
    }
    return kWritten;
}
