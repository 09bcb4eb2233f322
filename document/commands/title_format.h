// Text helpers for result titles and the elapsed-time pane.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Removes the longest run at the end of text made only of characters of set.
std::string TrimRight(std::string text, std::string_view set);

// value widened to double and written with "%f": 2.3f gives "2.300000".
std::string FormatFixed(float value);

// "%f", then the trailing "0" run removed, then the trailing "." run: 2.3 -> "2.3", 2 -> "2", 0 -> "0".
std::string FormatTrimmedFloat(float value);

// Elapsed time from a count of 100-nanosecond ticks: seconds, ".", milliseconds
// padded with zeros to three digits ("%s.%03s" with zero padding of the string).
// 47 ms gives "0.047", 3 s 5 ms "3.005", 12.3 s "12.300". Sub-millisecond parts
// are dropped (truncation toward zero), so anything under 1 ms is "0.000".
std::string FormatElapsedTime(std::int64_t ticks100ns);
