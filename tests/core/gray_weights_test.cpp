#include "core/gray_weights.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The weighing in 16-bit lanes against the plain division, for every colour,
// in both pixel layouts.
TEST(GrayWeights, RowsEqualTheIntegerRuleForEveryColour)
{
    const std::size_t chunk = 1u << 16;  // colours per row: r fixed, g and b all
    std::vector<std::uint8_t> rgb(chunk * 3);
    std::vector<std::uint8_t> rgbx(chunk * 4, 0xA5);
    std::vector<std::uint8_t> fromRgb(chunk);
    std::vector<std::uint8_t> fromRgbx(chunk);
    std::size_t mismatches = 0;
    for (unsigned r = 0; r < 256; ++r) {
        for (std::size_t i = 0; i < chunk; ++i) {
            const auto g = static_cast<std::uint8_t>(i >> 8);
            const auto b = static_cast<std::uint8_t>(i);
            rgb[3 * i] = rgbx[4 * i] = static_cast<std::uint8_t>(r);
            rgb[3 * i + 1] = rgbx[4 * i + 1] = g;
            rgb[3 * i + 2] = rgbx[4 * i + 2] = b;
        }
        WeighRgbRow(rgb.data(), chunk, fromRgb.data());
        WeighRgbxRow(rgbx.data(), chunk, fromRgbx.data());
        for (std::size_t i = 0; i < chunk; ++i) {
            const unsigned expected = (30 * r + 59 * (i >> 8) + 11 * (i & 255) + 50) / 100;
            if ((fromRgb[i] != expected || fromRgbx[i] != expected) && ++mismatches <= 5)
                ADD_FAILURE() << "r=" << r << " g=" << (i >> 8) << " b=" << (i & 255) << ": " << int(fromRgb[i]) << " / "
                              << int(fromRgbx[i]) << ", expected " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

// Short rows and odd lengths take the loops' tails.
TEST(GrayWeights, ShortRows)
{
    const std::uint8_t rgbx[] = {255, 0, 0, 9, 0, 255, 0, 9, 0, 0, 255, 9};
    const std::uint8_t rgb[] = {255, 0, 0, 0, 255, 0, 0, 0, 255};
    std::uint8_t gray[3] = {};
    WeighRgbxRow(rgbx, 3, gray);
    EXPECT_EQ(gray[0], 77);
    EXPECT_EQ(gray[1], 150);
    EXPECT_EQ(gray[2], 28);
    std::uint8_t gray2[3] = {};
    WeighRgbRow(rgb, 3, gray2);
    EXPECT_EQ(gray2[0], 77);
    EXPECT_EQ(gray2[1], 150);
    EXPECT_EQ(gray2[2], 28);
    WeighRgbRow(rgb, 0, gray2);  // nothing to do, nothing read
}

}  // namespace
