// The one processing pipeline that the desktop program and lumivex-cli share.
//
// copy the source image, read the clock, run the command's operation on the
// copy, read the clock, and name the result: source title + the command's
// suffix. Only the operation is timed. A refused operation yields nothing (its
// message has been shown) and the source is never changed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/dib_image.h"
#include "document/commands/command_table.h"

struct CommandResult {
    std::unique_ptr<CDibImage> image;  // the processed copy
    std::string title;                 // source title + suffix
    std::int64_t elapsedTicks = 0;     // 100-nanosecond ticks spent in the operation
    std::string elapsed;               // FormatElapsedTime(elapsedTicks), e.g. "0.047"
};

// Runs command on a copy of source with values (in the command's parameter
// order). Returns nothing when the source has no gray face that can be copied
// ("Conversion to gray scale failed!") or the operation refused its values.
std::optional<CommandResult> RunCommand(const CommandSpec& command, CDibImage& source, std::string_view sourceTitle,
                                        const ParamValues& values);
