#include "document/commands/title_format.h"

#include <cstdio>
#include <string>

std::string TrimRight(std::string text, std::string_view set)
{
    const std::size_t last = text.find_last_not_of(set);
    text.erase(last == std::string::npos ? 0 : last + 1);
    return text;
}

std::string FormatFixed(float value)
{
    // "%f" of a large float can be long; size the buffer from the first attempt.
    const double widened = value;
    const int length = std::snprintf(nullptr, 0, "%f", widened);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, "%f", widened);
    return text;
}

std::string FormatTrimmedFloat(float value)
{
    return TrimRight(TrimRight(FormatFixed(value), "0"), ".");
}

std::string FormatElapsedTime(std::int64_t ticks100ns)
{
    const std::int64_t micro = ticks100ns / 10;
    const std::int64_t milli = micro / 1000;
    const std::int64_t seconds = milli / 1000;
    const std::int64_t remainder = milli - seconds * 1000;
    std::string s = std::to_string(seconds);
    std::string r = std::to_string(remainder);
    // The zero flag pads a string argument on the left to the field width.
    if (r.size() < 3)
        r.insert(0, 3 - r.size(), '0');
    return s + "." + r;
}
