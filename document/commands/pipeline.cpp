#include "document/commands/pipeline.h"

#include <chrono>

#include "core/messages.h"
#include "document/commands/title_format.h"

std::optional<CommandResult> RunCommand(const CommandSpec& command, CDibImage& source, std::string_view sourceTitle,
                                        const ParamValues& values)
{
    auto work = std::make_unique<CDibImage>();
    if (!work->CopyFrom(&source)) {
        ShowMessage("Conversion to gray scale failed!");
        return std::nullopt;
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const int ok = command.operation(*work, source, values);
    const Clock::time_point end = Clock::now();
    if (!ok)
        return std::nullopt;

    CommandResult result;
    result.image = std::move(work);
    result.title = std::string(sourceTitle) + command.suffix(values);
    result.elapsedTicks = std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count() / 100;
    result.elapsed = FormatElapsedTime(result.elapsedTicks);
    return result;
}
