#include <random>

#include <gtest/gtest.h>

#include "core/box_quotient.h"
#include "core/box_rows.h"
#include "core/dib_image.h"
#include "core/parallel.h"
#include "tests/support/test_images.h"

using namespace testing_support;

namespace {

// The two rules written out directly: central pixels average the n x n mask
// (stopping at the image edge for even n) and round half up through float;
// band pixels average the clipped mask and truncate.
std::vector<std::uint8_t> ReferenceBox(const CDibImage& image, int n)
{
    const int W = image.m_nWidth, H = image.m_nHeight;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(W) * H, 0);
    if (n <= 0)
        return out;
    const int h = (n - 1) / 2;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const bool central = y >= h && y < H - h && x >= h && x < W - h;
            long long total = 0;
            if (central) {
                const int top = std::min(y - h, H - n);
                const int left = std::min(x - h, W - n);
                for (int r = top; r < top + n; ++r)
                    for (int c = left; c < left + n; ++c)
                        total += image.GetPixel(c, r);
                const double N = static_cast<float>(static_cast<double>(n) * n);
                out[static_cast<std::size_t>(y) * W + x] = ClampToByte(static_cast<float>(total / N));
            } else {
                long long count = 0;
                for (int r = std::max(0, y - h); r <= std::min(H - 1, y + h); ++r)
                    for (int c = std::max(0, x - h); c <= std::min(W - 1, x + h); ++c) {
                        total += image.GetPixel(c, r);
                        ++count;
                    }
                out[static_cast<std::size_t>(y) * W + x] = static_cast<std::uint8_t>(total / count);
            }
        }
    }
    return out;
}

std::vector<std::uint8_t> Plane(const CDibImage& image, int n)
{
    const auto plane = image.BoxFilter(n);
    return std::vector<std::uint8_t>(plane.get(), plane.get() + image.PixelCount());
}

}  // namespace

TEST(BoxFilter, CentreAndBorderOfASinglePeak)
{
    auto image = MakeImage({{0, 0, 0}, {0, 255, 0}, {0, 0, 0}});
    EXPECT_EQ(Plane(*image, 3), (std::vector<std::uint8_t>{63, 42, 63, 42, 28, 42, 63, 42, 63}));
}

TEST(BoxFilter, HalfRoundsUpInsideAndDownInTheBand)
{
    // A 2 x 2 mask averaging {100, 101, 100, 101} gives 100.5: 101 in the central
    // region, 100 in the band, where the same clipped window truncates.
    auto image = MakeImage({{100, 101}, {100, 101}});
    const auto plane = Plane(*image, 2);
    EXPECT_EQ(plane[0], 101);  // central (n = 2 has h = 0: every pixel is central)
    auto wide = MakeImage({{100, 101, 100, 101}, {101, 100, 101, 100}, {100, 101, 100, 101}, {101, 100, 101, 100}});
    // n = 4: h = 1; corner (0,0) is in the band with the clipped 3 x 3 mask -> {100,101,101,100} = 100.5 -> 100.
    EXPECT_EQ(Plane(*wide, 4)[0], 100);
}

TEST(BoxFilter, SpecialSizes)
{
    auto image = MakeRandom(13, 9, 1);
    EXPECT_EQ(Plane(*image, 1), Pixels(*image));
    EXPECT_EQ(Plane(*image, 0), std::vector<std::uint8_t>(13 * 9, 0));
    EXPECT_EQ(Plane(*image, -3), std::vector<std::uint8_t>(13 * 9, 0));
    auto uniform = MakeUniform(11, 8, 93);
    EXPECT_EQ(Plane(*uniform, 3), std::vector<std::uint8_t>(88, 93));
    EXPECT_EQ(Plane(*uniform, 8), std::vector<std::uint8_t>(88, 93));
}

TEST(BoxFilter, MatchesDirectSumsOnRandomImages)
{
    std::mt19937 rng(42);
    for (int trial = 0; trial < 60; ++trial) {
        const int W = 1 + static_cast<int>(rng() % 30);
        const int H = 1 + static_cast<int>(rng() % 30);
        auto image = trial % 3 == 0 ? MakePhotoLike(W, H, trial) : MakeRandom(W, H, trial);
        for (int n = 0; n <= std::min(W, H); ++n)
            ASSERT_EQ(Plane(*image, n), ReferenceBox(*image, n)) << W << "x" << H << " n=" << n;
    }
}

TEST(BoxFilter, OversizedMaskStaysInsideTheImage)
{
    // Callers refuse these sizes; the filter must still read nothing outside.
    auto image = MakeRandom(5, 9, 2);
    const auto plane = Plane(*image, 7);
    EXPECT_EQ(plane.size(), 45u);
}

TEST(BoxFilter, SameResultForAnyNumberOfThreads)
{
    // Tall enough for several row bands; each band starts its sums afresh.
    auto image = MakePhotoLike(37, 300, 8);
    for (int n : {1, 2, 3, 4, 7, 8, 25, 26, 37}) {
        SetWorkerThreadCount(1);
        const auto single = Plane(*image, n);
        EXPECT_EQ(single, ReferenceBox(*image, n)) << n;
        for (int threads : {2, 7}) {
            SetWorkerThreadCount(threads);
            EXPECT_EQ(Plane(*image, n), single) << n << " with " << threads << " threads";
        }
    }
    SetWorkerThreadCount(0);
}

TEST(BoxFilter, EveryWayOfDividingGivesTheRule)
{
    // Table, multiply-high and plain division must agree for every mask sum.
    for (int n : {1, 2, 25, 129, 256}) {
        const CBoxQuotient fast(n, 0);                 // no table: multiply-high up to 256
        const CBoxQuotient table(n, 1u << 30);         // a table where it is small enough
        const std::uint64_t last = 255ull * n * n;
        for (std::uint64_t S = 0; S <= last; ++S) {
            const std::uint8_t rule = fast.Divide(S);
            ASSERT_EQ(fast(S), rule) << n << " " << S;
            ASSERT_EQ(table(S), rule) << n << " " << S;
        }
    }
}

TEST(BoxFilter, MasksBeyond256DivideAsTheRuleSays)
{
    // Too large for a quotient table and for the multiply-high: the plain
    // division. Checked on the central pixels, whose masks are whole.
    auto image = MakePhotoLike(290, 268, 12);
    for (int n : {257, 258, 263}) {
        const auto plane = Plane(*image, n);
        const int h = (n - 1) / 2;
        const double N = static_cast<float>(static_cast<double>(n) * n);
        for (int y = h; y < image->m_nHeight - h; y += 3) {
            for (int x = h; x < image->m_nWidth - h; x += 3) {
                const int top = std::min(y - h, image->m_nHeight - n);
                const int left = std::min(x - h, image->m_nWidth - n);
                long long total = 0;
                for (int r = top; r < top + n; ++r)
                    for (int c = left; c < left + n; ++c)
                        total += image->GetPixel(c, r);
                ASSERT_EQ(plane[static_cast<std::size_t>(y) * image->m_nWidth + x],
                          ClampToByte(static_cast<float>(total / N)))
                    << n << " at " << x << "," << y;
            }
        }
    }
}

TEST(BoxFilter, ThirtyTwoBitMultiplyHighGivesTheRuleForEveryMaskUpTo256)
{
    // Both the rule and (2S + N) * multiplier >> shift are non-decreasing in S,
    // so they agree on every sum once they agree on both sides of every step of
    // the rounded mean: where it becomes q, for q = 1 .. 255, and at both ends.
    for (int n = 1; n <= 256; ++n) {
        const CBoxMagic32 magic = CBoxMagic32::For(n);
        const std::uint64_t N = static_cast<std::uint64_t>(n) * n;
        const CBoxQuotient rule(n, 0);
        ASSERT_GE(magic.shift, 32) << n;
        auto check = [&](std::uint64_t S) {
            ASSERT_EQ(magic.Mean(static_cast<std::uint32_t>(S), static_cast<std::uint32_t>(N)), rule.Divide(S))
                << n << " " << S;
        };
        check(0);
        check(255 * N);
        for (std::uint64_t q = 1; q <= 255; ++q) {
            const std::uint64_t step = ((2 * q - 1) * N + 1) / 2;  // the least S with (2S + N) / 2N >= q
            ASSERT_EQ((2 * step + N) / (2 * N), q);
            ASSERT_EQ((2 * step - 2 + N) / (2 * N), q - 1);
            check(step - 1);
            check(step);
        }
    }
    // And every sum of the masks the filters use most.
    for (int n : {7, 25, 35, 256}) {
        const CBoxMagic32 magic = CBoxMagic32::For(n);
        const CBoxQuotient rule(n, 0);
        for (std::uint32_t S = 0; S <= 255u * n * n; ++S)
            ASSERT_EQ(magic.Mean(S, n * n), rule.Divide(S)) << n << " " << S;
    }
}

namespace {

std::vector<std::uint8_t> StreamedPlane(const CDibImage& image, int n, BoxKernel kernel, int firstRow = 0)
{
    const int W = image.m_nWidth, H = image.m_nHeight;
    const CBoxPlan plan(W, H, n, kernel);
    std::vector<const std::uint8_t*> rows(H);
    for (int r = 0; r < H; ++r)
        rows[r] = image.m_pBits.get() + static_cast<std::size_t>(r) * W;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(W) * H, 0);
    CBoxRows stream(plan, rows.data(), firstRow);
    for (int y = firstRow; y < H; ++y)
        stream.Next(out.data() + static_cast<std::size_t>(y) * W);
    return out;
}

}  // namespace

TEST(BoxFilter, VectorAndPortableRowStreamsFollowTheRules)
{
    // Widths around and beyond the 16 lanes of the vector code, with partial
    // last blocks, odd and even masks, and streams that start mid-image.
    std::mt19937 rng(7);
    for (int trial = 0; trial < 24; ++trial) {
        const int W = 1 + static_cast<int>(rng() % 70);
        const int H = 1 + static_cast<int>(rng() % 40);
        auto image = trial % 2 ? MakePhotoLike(W, H, trial) : MakeRandom(W, H, trial);
        for (int n = 0; n <= std::min(W, H); n += 1 + static_cast<int>(rng() % 3)) {
            const auto expected = ReferenceBox(*image, n);
            for (BoxKernel kernel : {BoxKernel::Best, BoxKernel::Portable}) {
                ASSERT_EQ(StreamedPlane(*image, n, kernel), expected)
                    << W << "x" << H << " n=" << n << " portable=" << (kernel == BoxKernel::Portable);
                const int first = H / 3;
                auto fromFirst = StreamedPlane(*image, n, kernel, first);
                std::fill_n(fromFirst.begin(), static_cast<std::size_t>(first) * W, 0);
                auto tail = expected;
                std::fill_n(tail.begin(), static_cast<std::size_t>(first) * W, 0);
                ASSERT_EQ(fromFirst, tail) << W << "x" << H << " n=" << n << " from row " << first;
            }
        }
    }
    // All levels 255: the largest sums of a large mask.
    auto white = MakeUniform(300, 260, 255);
    for (BoxKernel kernel : {BoxKernel::Best, BoxKernel::Portable})
        EXPECT_EQ(StreamedPlane(*white, 256, kernel), std::vector<std::uint8_t>(300 * 260, 255));
}

TEST(BoxFilter, InPlaceStreamsSeeTheOriginalLevelsWhateverTheBands)
{
    // The consumer overwrites every row as it goes; the means it is handed must
    // still be those of the untouched image, for any split into bands.
    auto image = MakePhotoLike(53, 97, 3);
    const auto original = Pixels(*image);
    for (const std::vector<int>& masks : {std::vector<int>{7, 25}, std::vector<int>{2, 9}, std::vector<int>{1}}) {
        std::vector<std::vector<std::uint8_t>> expected;
        for (int n : masks)
            expected.push_back(ReferenceBox(*image, n));
        for (BoxKernel kernel : {BoxKernel::Best, BoxKernel::Portable}) {
            for (int bands : {1, 2, 3, 7, 97}) {
                auto work = MakeImage(Rows(*image));
                std::vector<std::vector<std::uint8_t>> got(masks.size(), std::vector<std::uint8_t>(53 * 97, 0));
                std::vector<int> seen(97, 0);
                StreamBoxMeansInPlace(
                    work->m_pBits.get(), 53, 97, masks,
                    [&](int firstRow, int endRow) -> BoxRowConsumer {
                        return [&, firstRow, endRow, next = firstRow](int y, const std::uint8_t* const* means,
                                                                      std::uint8_t* row) mutable {
                            EXPECT_EQ(y, next++);
                            EXPECT_LT(y, endRow);
                            EXPECT_GE(y, firstRow);
                            ++seen[y];
                            for (std::size_t i = 0; i < masks.size(); ++i)
                                std::copy_n(means[i], 53, got[i].begin() + static_cast<std::ptrdiff_t>(y) * 53);
                            for (int x = 0; x < 53; ++x)
                                row[x] = static_cast<std::uint8_t>(255 - row[x]);
                        };
                    },
                    kernel, bands);
                EXPECT_EQ(seen, std::vector<int>(97, 1));
                for (std::size_t i = 0; i < masks.size(); ++i)
                    EXPECT_EQ(got[i], expected[i]) << "mask " << masks[i] << " bands " << bands;
                for (std::size_t i = 0; i < original.size(); ++i)
                    ASSERT_EQ(work->m_pBits[i], 255 - original[i]);
            }
        }
    }
}
