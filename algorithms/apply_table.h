// Sends every pixel through a 256-entry table: the last step of the point and
// global operations. Private to algorithms/.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// pixels[i] = table[pixels[i]] for every i, on several cores, with 64-byte
// vector lookups where the processor has them (AVX-512 VBMI). Each pixel is
// read and written once, so neither the split nor the path changes a byte.
void ApplyTable(std::uint8_t* pixels, std::size_t count, const std::array<std::uint8_t, 256>& table);

// The two paths over one stretch of pixels, for the tests.
void ApplyTableScalar(std::uint8_t* pixels, std::size_t count, const std::uint8_t* table);
// Returns false, doing nothing, when the processor lacks the instructions.
bool ApplyTableVector(std::uint8_t* pixels, std::size_t count, const std::uint8_t* table);
