// Command parameters: their types, how a field's text is read and checked, and how a value is shown.
//
// The parameter dialogs and lumivex-cli read values with the same rules and
// fail with the same texts, so a value that the dialog refuses is refused on
// the command line too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

enum class ParamType {
    Int,    // signed 32-bit, shown "%d"
    Byte,   // unsigned 8-bit, shown "%u"
    Float,  // single precision, shown "%.6g"
    Bool,   // a check box: 0 or 1
};

using ParamValue = std::variant<int, std::uint8_t, float, bool>;

struct ParamSpec {
    std::string_view cliName;   // option name on the command line, without dashes
    std::string_view member;    // the dialog member it is exchanged with
    ParamType type;
    int controlId;              // the dialog control it is shown in
    std::string_view label;     // the text beside that control
    ParamValue defaultValue;
    // Inclusive range the dialog enforces, if any (checked right after reading).
    std::optional<double> minimum;
    std::optional<double> maximum;
};

using ParamValues = std::vector<ParamValue>;

// The text a control shows for value: "%d", "%u", "%.6g"; "1"/"0" for a check box.
std::string FormatParamValue(const ParamValue& value);

// Reads a field's text into a value of spec's type and checks spec's range.
// Returns the error text the user must see, or nothing on success. Only the
// first 31 characters of the text count, as in the dialogs' edit fields.
std::optional<std::string> ReadParamField(const ParamSpec& spec, std::string_view text, ParamValue& out);

// Individual rules, exposed for tests and for callers that read a bare value.
std::optional<int> ParseIntField(std::string_view text);
std::optional<std::uint8_t> ParseByteField(std::string_view text);
std::optional<float> ParseFloatField(std::string_view text);

int AsInt(const ParamValue& value);
float AsFloat(const ParamValue& value);
std::uint8_t AsByte(const ParamValue& value);
bool AsBool(const ParamValue& value);
