#include "algorithms/apply_table.h"

#include <numeric>
#include <random>
#include <vector>

#include <gtest/gtest.h>

TEST(ApplyTable, VectorAndScalarPathsAgree)
{
    std::mt19937 rng(3);
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table)
        entry = static_cast<std::uint8_t>(rng());
    // Lengths around the 64-byte vector width, and every level at least once.
    for (std::size_t length : {0u, 1u, 63u, 64u, 65u, 255u, 256u, 1000u, 70001u}) {
        std::vector<std::uint8_t> pixels(length);
        for (std::size_t i = 0; i < length; ++i)
            pixels[i] = static_cast<std::uint8_t>(i < 256 ? i : rng());
        std::vector<std::uint8_t> expected(pixels);
        for (auto& p : expected)
            p = table[p];

        std::vector<std::uint8_t> scalar(pixels);
        ApplyTableScalar(scalar.data(), scalar.size(), table.data());
        EXPECT_EQ(scalar, expected) << length;

        std::vector<std::uint8_t> vector(pixels);
        if (ApplyTableVector(vector.data(), vector.size(), table.data()))
            EXPECT_EQ(vector, expected) << length;

        std::vector<std::uint8_t> whole(pixels);
        ApplyTable(whole.data(), whole.size(), table);
        EXPECT_EQ(whole, expected) << length;
    }
}
