#include "document/commands/parameters.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

constexpr std::size_t kFieldChars = 31;

std::string_view TrimBlanks(std::string_view text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Optional sign, then digits only; the magnitude in 64 bits (saturating).
struct ParsedInteger {
    bool negative = false;
    bool hadSign = false;
    unsigned long long magnitude = 0;
};

std::optional<ParsedInteger> ParseInteger(std::string_view text)
{
    ParsedInteger result;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        result.hadSign = true;
        result.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    for (char c : text) {
        if (!IsDigit(c))
            return std::nullopt;
        if (result.magnitude < (1ull << 40))
            result.magnitude = result.magnitude * 10 + static_cast<unsigned>(c - '0');
    }
    return result;
}

// A decimal number: optional sign, digits with an optional fraction (at least one
// digit in all), optional exponent. No hexadecimal, no "inf" or "nan".
bool IsDecimalNumber(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t exponentDigits = 0;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return false;
    }
    return i == text.size();
}

std::string FormatG6(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", 6, value);
    return buffer;
}

std::string FormatLimit(ParamType type, double value)
{
    if (type == ParamType::Float)
        return FormatG6(static_cast<float>(value));
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
    return buffer;
}

std::string RangeMessage(const ParamSpec& spec)
{
    const std::string low = FormatLimit(spec.type, *spec.minimum);
    const std::string high = FormatLimit(spec.type, *spec.maximum);
    if (spec.type == ParamType::Float)
        return "Please enter a number between " + low + " and " + high + ".";
    return "Please enter an integer between " + low + " and " + high + ".";
}

}  // namespace

std::optional<int> ParseIntField(std::string_view text)
{
    const auto parsed = ParseInteger(TrimBlanks(text.substr(0, kFieldChars)));
    if (!parsed)
        return std::nullopt;
    const long long value = parsed->negative ? -static_cast<long long>(parsed->magnitude) : static_cast<long long>(parsed->magnitude);
    // A value the type cannot hold is not silently wrapped into another one.
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<std::uint8_t> ParseByteField(std::string_view text)
{
    const auto parsed = ParseInteger(TrimBlanks(text.substr(0, kFieldChars)));
    if (!parsed || parsed->negative || parsed->magnitude > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(parsed->magnitude);
}

std::optional<float> ParseFloatField(std::string_view text)
{
    std::string_view number = TrimBlanks(text.substr(0, kFieldChars));
    if (!IsDecimalNumber(number))
        return std::nullopt;
    const std::string copy(number);
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    // Numbers beyond the float range would become infinities: refuse them rather
    // than pass an infinite weight to an operation.
    if (errno == ERANGE && std::fabs(value) > 1.0)
        return std::nullopt;
    const float stored = static_cast<float>(value);
    if (!std::isfinite(stored))
        return std::nullopt;
    return stored;
}

std::string FormatParamValue(const ParamValue& value)
{
    char buffer[64];
    if (const int* i = std::get_if<int>(&value)) {
        std::snprintf(buffer, sizeof buffer, "%d", *i);
    } else if (const std::uint8_t* b = std::get_if<std::uint8_t>(&value)) {
        std::snprintf(buffer, sizeof buffer, "%u", static_cast<unsigned>(*b));
    } else if (const float* f = std::get_if<float>(&value)) {
        return FormatG6(*f);
    } else {
        return std::get<bool>(value) ? "1" : "0";
    }
    return buffer;
}

std::optional<std::string> ReadParamField(const ParamSpec& spec, std::string_view text, ParamValue& out)
{
    double numeric = 0.0;
    switch (spec.type) {
    case ParamType::Int: {
        const auto value = ParseIntField(text);
        if (!value)
            return std::string("Please enter an integer.");
        out = *value;
        numeric = *value;
        break;
    }
    case ParamType::Byte: {
        const auto value = ParseByteField(text);
        if (!value)
            return std::string("Please enter an integer between 0 and 255.");
        out = *value;
        numeric = *value;
        break;
    }
    case ParamType::Float: {
        const auto value = ParseFloatField(text);
        if (!value)
            return std::string("Please enter a number.");
        out = *value;
        numeric = *value;
        break;
    }
    case ParamType::Bool: {
        const std::string_view trimmed = TrimBlanks(text);
        out = !(trimmed.empty() || trimmed == "0");
        return std::nullopt;
    }
    }
    if (spec.minimum && spec.maximum) {
        // Float limits compare as floats, as the dialog's float members do.
        const double low = spec.type == ParamType::Float ? static_cast<float>(*spec.minimum) : *spec.minimum;
        const double high = spec.type == ParamType::Float ? static_cast<float>(*spec.maximum) : *spec.maximum;
        if (numeric < low || numeric > high)
            return RangeMessage(spec);
    }
    return std::nullopt;
}

int AsInt(const ParamValue& value)
{
    return std::get<int>(value);
}

float AsFloat(const ParamValue& value)
{
    return std::get<float>(value);
}

std::uint8_t AsByte(const ParamValue& value)
{
    return std::get<std::uint8_t>(value);
}

bool AsBool(const ParamValue& value)
{
    return std::get<bool>(value);
}
