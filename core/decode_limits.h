// Size limits shared by the image decoders.
//
// A file's header may claim any size. Before anything is allocated, the
// claimed picture is checked against two bounds:
//  - kMaxImagePixels for every picture (2^28 pixels: a 768 MiB colour raster
//    and a 256 MiB gray buffer), whatever the format;
//  - for formats whose pixel count the file's length cannot vouch for (RLE
//    BMP, JPEG), a budget that grows with the file: 1024 pixels per byte, but
//    never less than 2^24 pixels. Huffman-coded JPEG needs at least about one
//    byte per 256 to 512 pixels even for a flat picture, and RLE one byte per
//    127 pixels unless it skips whole rows, so real files stay far inside it;
//    arithmetic-coded flat pictures and RLE files that skip most rows are
//    covered by the 2^24 floor. An uncompressed BMP needs no budget: its
//    rows must be present in the file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 28;

// Files above 1 GiB are refused before they are read.
inline constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t{1} << 30;

inline constexpr std::uint64_t kMinPixelBudget = std::uint64_t{1} << 24;
inline constexpr std::uint64_t kPixelsPerFileByte = 1024;

// Largest pixel count a compressed file of fileBytes bytes may declare.
inline std::uint64_t PixelBudgetForFile(std::size_t fileBytes)
{
    const std::uint64_t bytes = std::min<std::uint64_t>(fileBytes, kMaxImagePixels);
    return std::min(kMaxImagePixels, std::max(kMinPixelBudget, bytes * kPixelsPerFileByte));
}
