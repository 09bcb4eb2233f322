#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "algorithms/jgace_stages.h"
#include "core/dib_image.h"
#include "core/parallel.h"
#include "core/screen_metrics.h"
#include "tests/support/test_images.h"

namespace {

using testing_support::MakeImage;
using testing_support::MakePhotoLike;
using testing_support::MakeRandom;
using testing_support::MakeUniform;
using testing_support::Pixels;

// ---------------------------------------------------------------------------
// A plain reimplementation, written from the rules pixel by pixel with no
// attempt at speed: every block statistic is a direct loop, and every pixel
// finds its gain by looking its region up in the table of corners, strips and
// tiles.
// ---------------------------------------------------------------------------

struct Reference {
    int width = 0, height = 0, W = 1, h = 0, BX = 0, BY = 0;
    std::vector<float> F;
    float T = 0, MEANG = 0, KAPPA = 0;
    int V = 0;
    std::vector<bool> flat;

    float Fat(int bx, int by) const { return F[by * BX + bx]; }
    int Xr() const { return (BX - 1) * W + h; }
    int Yb() const { return (BY - 1) * W + h; }

    // Number of table regions holding pixel (x, y); the gain of the last one in g.
    int Regions(int x, int y, double* g) const
    {
        const int xr = Xr(), yb = Yb();
        const float span = static_cast<float>(W - 1);
        auto in = [](int v, int lo, int hi) { return v >= lo && v < hi; };
        int hits = 0;
        if (in(x, 0, h) && in(y, 0, h)) { ++hits; *g = Fat(0, 0); }
        if (in(x, 0, h) && in(y, yb, height)) { ++hits; *g = Fat(0, BY - 1); }
        if (in(x, xr, width) && in(y, 0, h)) { ++hits; *g = Fat(BX - 1, 0); }
        if (in(x, xr, width) && in(y, yb, height)) { ++hits; *g = Fat(BX - 1, BY - 1); }
        for (int bx = 0; bx <= BX - 2; ++bx) {
            const int c0 = bx * W + h;
            if (!in(x, c0, c0 + W))
                continue;
            const float a = static_cast<float>(x - c0);
            const float b = static_cast<float>(W - 1 - (x - c0));
            if (in(y, 0, h)) {
                ++hits;
                *g = ((double)b * Fat(bx, 0) + (double)a * Fat(bx + 1, 0)) / (double)span;
            }
            if (in(y, yb, height)) {
                ++hits;
                *g = ((double)b * Fat(bx, BY - 1) + (double)a * Fat(bx + 1, BY - 1)) / (double)span;
            }
        }
        for (int by = 0; by <= BY - 2; ++by) {
            const int r0 = by * W + h;
            if (!in(y, r0, r0 + W))
                continue;
            const float a = static_cast<float>(y - r0);
            const float b = static_cast<float>(W - 1 - (y - r0));
            if (in(x, 0, h)) {
                ++hits;
                *g = ((double)b * Fat(0, by) + (double)a * Fat(0, by + 1)) / (double)span;
            }
            if (in(x, xr, width)) {
                ++hits;
                *g = ((double)b * Fat(BX - 1, by) + (double)a * Fat(BX - 1, by + 1)) / (double)span;
            }
        }
        for (int by = 0; by <= BY - 2; ++by) {
            for (int bx = 0; bx <= BX - 2; ++bx) {
                const int c0 = bx * W + h, r0 = by * W + h;
                if (!in(x, c0, c0 + W) || !in(y, r0, r0 + W))
                    continue;
                ++hits;
                const long long i = x - c0, j = y - r0, n = W - 1;
                const long long w00 = (n - i) * (n - j), w01 = i * (n - j), w10 = (n - i) * j, w11 = i * j;
                const double sum = (((double)w01 * Fat(bx + 1, by) + (double)w11 * Fat(bx + 1, by + 1)) +
                                    (double)w00 * Fat(bx, by)) +
                                   (double)w10 * Fat(bx, by + 1);
                *g = sum / (double)(w00 + w01 + w10 + w11);
            }
        }
        return hits;
    }
};

Reference ReferenceGeometry(int width, int height)
{
    Reference ref;
    ref.width = width;
    ref.height = height;
    ref.W = width / 16;
    if (ref.W % 2 == 0)
        ref.W += 1;
    ref.h = ref.W / 2;
    ref.BX = width / ref.W;
    ref.BY = height / ref.W;
    return ref;
}

// Runs the whole operation plainly; returns the output pixels and leaves the
// block quantities in ref.
std::vector<std::uint8_t> ReferenceJgace(const CDibImage& image, int d, int JND0, float gamma,
                                         const ScreenMetrics& screen, Reference& ref)
{
    const int width = image.m_nWidth, height = image.m_nHeight;
    ref = ReferenceGeometry(width, height);
    std::vector<std::uint8_t> out = Pixels(image);
    if (ref.W == 1 || ref.BY == 0)
        return out;
    const int W = ref.W, BX = ref.BX, BY = ref.BY, NB = BX * BY, WW = W * W;
    const auto Mplane = image.BoxFilter(W);
    const auto Gplane = image.GradientMap();
    auto G = [&](int x, int y) { return Gplane[y * width + x]; };
    auto M = [&](int x, int y) { return (int)Mplane[y * width + x]; };
    auto D = [&](int x, int y) { return (int)image.GetPixel(x, y) - M(x, y); };

    std::vector<float> B(NB);
    int H[256] = {};
    for (int k = 0; k < NB; ++k) {
        const int x0 = (k % BX) * W, y0 = (k / BX) * W;
        double sum = 0.0;
        for (int y = y0; y < y0 + W; ++y)
            for (int x = x0; x < x0 + W; ++x)
                sum += G(x, y);
        B[k] = (float)sum;
        const double a = std::fabs(sum / WW);
        int r = (int)a;
        if (a - r > 0.5)
            r += 1;
        H[r] += 1;
    }
    int i = 0;
    while (i < 255 && H[i + 1] >= H[i])
        ++i;
    while (i < 255 && H[i + 1] < H[i])
        ++i;
    const int V = i;

    std::vector<bool> background(NB);
    double acc = 0.0;
    int nb = 0;
    for (int k = 0; k < NB; ++k) {
        if ((int)std::fabs((double)B[k] / WW) < V) {
            background[k] = true;
            acc += B[k];
            ++nb;
        }
    }
    const float MEANG = (float)(acc / ((double)nb * WW));
    float s2 = 0.0f;
    for (int k = 0; k < NB; ++k) {
        if (!background[k])
            continue;
        const int x0 = (k % BX) * W, y0 = (k / BX) * W;
        for (int y = y0; y < y0 + W; ++y)
            for (int x = x0; x < x0 + W; ++x) {
                const double t = (double)MEANG - std::fabs((double)G(x, y));
                s2 = (float)((double)s2 + t * t);
            }
    }
    const double sigma = std::sqrt((double)s2 / ((double)nb * WW));
    const float T = (float)(std::fabs((double)MEANG) + (double)1.5f * sigma);

    std::vector<int> C(NB);
    int CMAX = 0;
    for (int k = 0; k < NB; ++k) {
        const int x0 = (k % BX) * W, y0 = (k / BX) * W;
        for (int y = y0; y < y0 + W; ++y)
            for (int x = x0; x < x0 + W; ++x)
                if (std::fabs(G(x, y)) >= T)
                    C[k] += 1;
        CMAX = std::max(CMAX, C[k]);
    }
    const float L = (float)((double)CMAX * (double)0.1f);
    const float pitch = (float)((double)(float)screen.widthMm / (double)screen.widthPx);
    const float KAPPA = (float)((std::pow(0.4 * (double)MEANG, 4.0) + 1.0) + 0.6);

    ref.F.assign(NB, 1.0f);
    ref.flat.assign(NB, false);
    for (int k = 0; k < NB; ++k) {
        if ((double)C[k] < (double)L) {
            ref.flat[k] = true;
            ref.F[k] = KAPPA;
            continue;
        }
        const int x0 = (k % BX) * W, y0 = (k / BX) * W;
        int cH = 0, cV = 0;
        for (int y = y0; y <= y0 + W - 2; ++y)
            for (int x = x0; x <= x0 + W - 2; ++x) {
                if ((G(x, y) > 0) != (G(x + 1, y) > 0))
                    ++cH;
                if ((G(x, y) > 0) != (G(x, y + 1) > 0))
                    ++cV;
            }
        int n = 0;
        double s = 0.0;
        for (int y = y0; y < y0 + W; ++y)
            for (int x = x0; x < x0 + W; ++x)
                if ((double)std::abs(D(x, y)) > (double)T) {
                    ++n;
                    s += std::abs(D(x, y));
                }
        const double A = n == 0 ? 1.0 : s / n;
        const double z = cH > cV ? (double)cH / WW : (double)cV / WW;
        const double f = ((z * d) * 3.14) / ((double)pitch * (double)360.0f);
        const double J = (std::exp(0.166 * f) * JND0) * (double)gamma;
        if (A < J)
            ref.F[k] = (float)(J / A);
    }
    ref.T = T;
    ref.MEANG = MEANG;
    ref.KAPPA = KAPPA;
    ref.V = V;

    int notOnce = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double g = 0.0;
            notOnce += ref.Regions(x, y, &g) != 1 ? 1 : 0;
            out[y * width + x] = ClampToByte((float)((double)D(x, y) * g + (double)M(x, y)));
        }
    EXPECT_EQ(notOnce, 0) << "pixels not in exactly one gain region";
    return out;
}

std::string FirstDifference(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want, int width)
{
    for (std::size_t i = 0; i < want.size(); ++i)
        if (got[i] != want[i]) {
            std::ostringstream text;
            text << "first difference at x " << i % width << ", y " << i / width << ": got " << int(got[i])
                 << ", want " << int(want[i]);
            return text.str();
        }
    return "";
}

class JgaceTest : public ::testing::Test {
protected:
    void SetUp() override { ResetScreenMetrics(); }
    void TearDown() override
    {
        ResetScreenMetrics();
        SetWorkerThreadCount(0);
    }
};

// The stage quantities of the production code for one image.
struct Stages {
    jgace::Grid grid;
    std::unique_ptr<std::uint8_t[]> mean;
    std::unique_ptr<float[]> gradient;
    jgace::Planes planes;
    std::vector<double> sums;
    int V = 0;
    jgace::Background background;
    float T = 0;
    std::vector<std::uint8_t> flat;
    float kappa = 0;

    explicit Stages(const CDibImage& image)
    {
        grid = jgace::MakeGrid(image.m_nWidth, image.m_nHeight);
        mean = image.BoxFilter(grid.W);
        gradient = image.GradientMap();
        planes = {image.m_nWidth, image.m_nHeight, image.m_pBits.get(), mean.get(), gradient.get()};
        sums = jgace::BlockGradientSums(grid, gradient.get());
        V = jgace::ValleyLevel(jgace::ActivityHistogram(sums, grid.Area()));
        background = jgace::FindBackground(jgace::StoredBlockSums(sums), grid.Area(), V);
        T = jgace::EdgeThreshold(grid, gradient.get(), background);
        flat = jgace::FlatBlocks(jgace::EdgeCounts(grid, gradient.get(), T));
        kappa = jgace::FlatGain(background.meanGradient);
    }

    std::vector<float> Gains(int d, int JND0, float gamma) const
    {
        jgace::Parameters p;
        p.d = d;
        p.JND0 = JND0;
        p.gamma = gamma;
        p.pitch = jgace::PixelPitch(CurrentScreenMetrics());
        return jgace::BlockGains(grid, planes, flat, T, kappa, p);
    }
};

// ---------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------

TEST_F(JgaceTest, GridFollowsTheWidth)
{
    struct Case {
        int width, height, W, h, BX, BY;
    };
    for (const Case c : {Case{512, 100, 33, 16, 15, 3}, Case{600, 37, 37, 18, 16, 1}, Case{640, 480, 41, 20, 15, 11},
                         Case{530, 66, 33, 16, 16, 2}, Case{31, 31, 1, 0, 31, 31}, Case{16, 5, 1, 0, 16, 5},
                         Case{15, 2, 1, 0, 15, 2}, Case{32, 2, 3, 1, 10, 0}, Case{1, 1, 1, 0, 1, 1},
                         Case{0, 0, 1, 0, 0, 0}, Case{4000, 3000, 251, 125, 15, 11}}) {
        const jgace::Grid g = jgace::MakeGrid(c.width, c.height);
        EXPECT_EQ(g.W, c.W) << c.width;
        EXPECT_EQ(g.h, c.h) << c.width;
        EXPECT_EQ(g.BX, c.BX) << c.width;
        EXPECT_EQ(g.BY, c.BY) << c.width << "x" << c.height;
        EXPECT_EQ(g.W % 2, 1);
        EXPECT_LE(g.W, std::max(c.width, 1));
    }
    const jgace::Grid vga = jgace::MakeGrid(640, 480);
    EXPECT_EQ(vga.Xr(), 594);
    EXPECT_EQ(vga.Yb(), 430);
}

// Block gains that tell every block apart, so a pixel reading the wrong block
// shows. Their magnitudes spread over many binades: only then do the weighted
// sums of a tile round, and the order of its terms shows.
std::vector<float> DistinctGains(std::size_t count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
    std::uniform_int_distribution<int> exponent(-40, 40);
    std::vector<float> F(count);
    for (float& f : F)
        f = std::ldexp(mantissa(rng), exponent(rng));
    return F;
}

TEST_F(JgaceTest, GainRegionsCoverEveryPixelOnceAndGainRowMatchesTheTable)
{
    std::vector<double> gains;
    for (int width = 32; width <= 140; width += 3) {
        const int W = jgace::MakeGrid(width, 1).W;
        for (const int height : {W, W + 1, 2 * W - 1, 2 * W, 3 * W + 2, 4 * W + W / 2}) {
            const jgace::Grid grid = jgace::MakeGrid(width, height);
            Reference ref = ReferenceGeometry(width, height);
            ref.F = DistinctGains(grid.BlockCount(), width * 1000 + height);
            gains.assign(width, -1.0);
            for (int y = 0; y < height; ++y) {
                jgace::GainRow(grid, ref.F, y, gains.data());
                for (int x = 0; x < width; ++x) {
                    double want = -1.0;
                    ASSERT_EQ(ref.Regions(x, y, &want), 1) << width << "x" << height << " at " << x << "," << y;
                    ASSERT_EQ(gains[x], want) << width << "x" << height << " at " << x << "," << y;
                }
            }
        }
    }
}

// The tile rows of both forms, for spans with and without a partial last vector.
TEST_F(JgaceTest, TileRowFormsAgree)
{
    if (!jgace::TileRowAvx512Supported())
        GTEST_SKIP() << "no AVX-512 on this processor";
    const std::vector<float> gains = DistinctGains(4, 3);
    for (const int W : {3, 5, 9, 33, 37, 251}) {
        for (int j = 0; j < W; j += (W > 40 ? 17 : 1)) {
            std::vector<double> portable(W), wide(W);
            jgace::TileRow(W, j, gains[0], gains[1], gains[2], gains[3], portable.data());
            jgace::TileRowAvx512(W, j, gains[0], gains[1], gains[2], gains[3], wide.data());
            ASSERT_EQ(wide, portable) << "W " << W << " j " << j;
        }
    }
}

TEST_F(JgaceTest, VgaGeometry)
{
    const jgace::Grid grid = jgace::MakeGrid(640, 480);
    std::vector<float> F(grid.BlockCount());
    for (std::size_t k = 0; k < F.size(); ++k)
        F[k] = static_cast<float>(k + 1);
    std::vector<double> gains(640);
    auto at = [&](int x, int y) {
        jgace::GainRow(grid, F, y, gains.data());
        return gains[x];
    };
    auto block = [&](int bx, int by) { return static_cast<double>(F[grid.BlockIndex(bx, by)]); };
    // Corners and the centres of the corner blocks.
    EXPECT_EQ(at(0, 0), block(0, 0));
    EXPECT_EQ(at(20, 20), block(0, 0));
    EXPECT_EQ(at(639, 479), block(14, 10));
    EXPECT_EQ(at(594, 430), block(14, 10));
    EXPECT_EQ(at(0, 479), block(0, 10));
    EXPECT_EQ(at(639, 0), block(14, 0));
    // Interior tiles span columns 20..593 and rows 20..429; a block centre carries its own gain.
    EXPECT_EQ(at(20 + 41 * 3, 20 + 41 * 5), block(3, 5));
    EXPECT_EQ(at(593, 429), block(14, 10));  // last tile pixel = next block centre (span W - 1)
    // Outside the tiles the gain varies along one direction only.
    EXPECT_EQ(at(100, 0), at(100, 19));
    EXPECT_EQ(at(100, 430), at(100, 479));
    EXPECT_EQ(at(0, 300), at(19, 300));
    EXPECT_EQ(at(594, 300), at(639, 300));
}

TEST_F(JgaceTest, ColumnsBeyondTheLastBlockTakeTheRightBorderGain)
{
    // 530 wide: W = 33, BX = 16, blocks end at column 527; 528 and 529 belong to no block.
    const jgace::Grid grid = jgace::MakeGrid(530, 100);
    ASSERT_EQ(grid.W, 33);
    ASSERT_EQ(grid.BX, 16);
    ASSERT_EQ(grid.Xr(), 511);
    const std::vector<float> F = DistinctGains(grid.BlockCount(), 7);
    std::vector<double> gains(530);
    for (int y = 0; y < 100; ++y) {
        jgace::GainRow(grid, F, y, gains.data());
        for (int x = 511; x < 530; ++x)
            EXPECT_EQ(gains[x], gains[511]) << x << "," << y;
    }
    // Rows 99 (from BY * W = 99 on) likewise repeat the top border row gains.
    std::vector<double> top(530);
    jgace::GainRow(grid, F, grid.Yb(), gains.data());
    jgace::GainRow(grid, F, 99, top.data());
    EXPECT_EQ(gains, top);
}

TEST_F(JgaceTest, OneBlockRowGainDependsOnTheColumnOnly)
{
    // 200 x 20: W = 13, BY = 1, BX = 15.
    const jgace::Grid grid = jgace::MakeGrid(200, 20);
    ASSERT_EQ(grid.BY, 1);
    const std::vector<float> F = DistinctGains(grid.BlockCount(), 3);
    std::vector<double> first(200), row(200);
    jgace::GainRow(grid, F, 0, first.data());
    for (int y = 1; y < 20; ++y) {
        jgace::GainRow(grid, F, y, row.data());
        EXPECT_EQ(row, first) << "row " << y;
    }
    for (int x = 0; x < grid.h; ++x)
        EXPECT_EQ(first[x], F[0]);
    for (int x = grid.Xr(); x < 200; ++x)
        EXPECT_EQ(first[x], F[grid.BX - 1]);
    // Halfway between the first two centres (a = 6 of 12).
    const double want = (6.0 * static_cast<double>(F[0]) + 6.0 * static_cast<double>(F[1])) / 12.0;
    EXPECT_EQ(first[grid.h + 6], want);

    // And the whole operation agrees with the plain version on such an image.
    auto image = MakePhotoLike(200, 20, 11);
    Reference ref;
    const auto expected = ReferenceJgace(*image, 200, 1, 3.0f, CurrentScreenMetrics(), ref);
    ASSERT_EQ(image->Jgace(200, 1, 3.0f), 1);
    EXPECT_EQ(FirstDifference(Pixels(*image), expected, 200), "");
}

TEST_F(JgaceTest, GainRowForOnePixelBlocksUsesEachPixelsOwnBlock)
{
    const jgace::Grid grid = jgace::MakeGrid(20, 4);
    ASSERT_EQ(grid.W, 1);
    const std::vector<float> F = DistinctGains(grid.BlockCount(), 5);
    std::vector<double> gains(20);
    for (int y = 0; y < 4; ++y) {
        jgace::GainRow(grid, F, y, gains.data());
        for (int x = 0; x < 20; ++x) {
            EXPECT_EQ(gains[x], F[grid.BlockIndex(x, y)]);
            EXPECT_TRUE(std::isfinite(gains[x]));
        }
    }
}

// ---------------------------------------------------------------------------
// Stages on small hand-made inputs
// ---------------------------------------------------------------------------

TEST_F(JgaceTest, ActivityBinSendsExactHalvesDown)
{
    struct Case {
        double sum;
        std::int64_t area;
        int bin;
    };
    for (const Case c : {Case{10, 4, 2}, Case{-10, 4, 2}, Case{11, 4, 3}, Case{2, 4, 0}, Case{3, 4, 1},
                         Case{7, 10, 1}, Case{0, 9, 0}, Case{255.0 * 9, 9, 255}, Case{-254.5 * 2, 2, 254},
                         Case{254.75 * 4, 4, 255}, Case{4.5 * 1089 + 1, 1089, 5}}) {
        EXPECT_EQ(jgace::ActivityBin(c.sum, c.area), c.bin) << c.sum << " / " << c.area;
    }
}

TEST_F(JgaceTest, ValleyWalks)
{
    auto histogram = [](std::initializer_list<int> head) {
        std::array<int, 256> H{};
        std::copy(head.begin(), head.end(), H.begin());
        return H;
    };
    EXPECT_EQ(jgace::ValleyLevel(histogram({1})), 1);             // one block in bin 0
    EXPECT_EQ(jgace::ValleyLevel(histogram({5, 3, 1, 2, 7})), 2);  // peak at 0
    EXPECT_EQ(jgace::ValleyLevel(histogram({0, 2, 2, 1, 1, 4})), 3);
    EXPECT_EQ(jgace::ValleyLevel(histogram({1, 3, 9, 4, 0, 0, 6})), 4);
    EXPECT_EQ(jgace::ValleyLevel(histogram({0, 0, 0, 5})), 4);
    EXPECT_EQ(jgace::ValleyLevel(histogram({})), 255);  // all equal: the climb runs to the end

    std::array<int, 256> rising{};
    for (int i = 0; i < 256; ++i)
        rising[i] = i;
    EXPECT_EQ(jgace::ValleyLevel(rising), 255);

    std::array<int, 256> falling{};  // peak at 1, then strictly down to bin 255
    for (int i = 1; i < 256; ++i)
        falling[i] = 1000 - i;
    EXPECT_EQ(jgace::ValleyLevel(falling), 255);

    std::array<int, 256> lastBin{};
    lastBin[255] = 3;
    EXPECT_EQ(jgace::ValleyLevel(lastBin), 255);
}

TEST_F(JgaceTest, BackgroundTruncatesWhereTheHistogramRounds)
{
    // Mean magnitude 0.7: bin 1 but background for V = 1.
    EXPECT_EQ(jgace::ActivityBin(7.0, 10), 1);
    EXPECT_TRUE(jgace::IsBackgroundBlock(7.0f, 10, 1));
    EXPECT_TRUE(jgace::IsBackgroundBlock(-19.0f, 10, 2));  // 1.9 -> 1
    EXPECT_FALSE(jgace::IsBackgroundBlock(-19.0f, 10, 1));
    EXPECT_FALSE(jgace::IsBackgroundBlock(20.0f, 10, 2));  // exactly 2

    // MEANG is signed: +9 and -27 over two 9-pixel background blocks give -1; the third block is not background.
    const jgace::Background bg = jgace::FindBackground({9.0f, -27.0f, 90.0f}, 9, 4);
    EXPECT_EQ(bg.count, 2u);
    EXPECT_EQ(bg.isBackground, (std::vector<std::uint8_t>{1, 1, 0}));
    EXPECT_EQ(bg.meanGradient, -1.0f);

    const jgace::Background none = jgace::FindBackground({90.0f}, 9, 4);
    EXPECT_EQ(none.count, 0u);
    EXPECT_EQ(none.meanGradient, 0.0f);
}

jgace::Grid HandGrid(int width, int height, int W)
{
    jgace::Grid g;
    g.width = width;
    g.height = height;
    g.W = W;
    g.h = W / 2;
    g.BX = width / W;
    g.BY = height / W;
    return g;
}

TEST_F(JgaceTest, EdgeThresholdOnHandMadeGradients)
{
    // One 3 x 3 background block, MEANG = 0: s2 = 9 + 16, sigma = sqrt(25 / 9), T = 1.5 * 5 / 3.
    const jgace::Grid grid = HandGrid(3, 3, 3);
    const float G[9] = {3, 0, 0, 0, 0, 0, 0, 0, -4};
    jgace::Background bg;
    bg.isBackground = {1};
    bg.count = 1;
    bg.meanGradient = 0.0f;
    EXPECT_EQ(jgace::EdgeThreshold(grid, G, bg), 2.5f);

    // MEANG = 1 shifts every term: (1-3)^2 + 7 * 1 + (1-4)^2 = 20.
    bg.meanGradient = 1.0f;
    EXPECT_EQ(jgace::EdgeThreshold(grid, G, bg), static_cast<float>(1.0 + 1.5 * std::sqrt(20.0 / 9.0)));

    // Detailed blocks do not count; without background sigma is 0.
    bg.isBackground = {0};
    bg.count = 0;
    bg.meanGradient = 0.0f;
    EXPECT_EQ(jgace::EdgeThreshold(grid, G, bg), 0.0f);
}

TEST_F(JgaceTest, EdgeThresholdSumsInFloatInVisitingOrder)
{
    // Two 3 x 3 background blocks, MEANG = 0: one term of 2^24 and seventeen of 1.
    // Near 2^24 a float holds only even numbers and an added 1 is a tie that
    // rounds to even, so where the big term comes in the visiting order decides
    // how many of the ones survive.
    const jgace::Grid grid = HandGrid(6, 3, 3);
    jgace::Background bg;
    bg.isBackground = {1, 1};
    bg.count = 2;
    bg.meanGradient = 0.0f;
    auto thresholdWithBigTermAt = [&](int x, int y) {
        std::vector<float> G(18, 1.0f);
        G[static_cast<std::size_t>(y) * 6 + x] = 4096.0f;  // (0 - 4096)^2 = 2^24
        return jgace::EdgeThreshold(grid, G.data(), bg);
    };
    auto threshold = [](double s2) { return static_cast<float>(1.5 * std::sqrt(s2 / 18.0)); };
    // First visited: every 1 after it is lost.
    EXPECT_EQ(thresholdWithBigTermAt(0, 0), threshold(16777216.0));
    // Last pixel of block 0: the eight ones before it survive (2^24 + 8), the nine after it do not.
    EXPECT_EQ(thresholdWithBigTermAt(2, 2), threshold(16777224.0));
    // First pixel of block 1, visited after all of block 0: 9 + 2^24 ties to 2^24 + 8.
    EXPECT_EQ(thresholdWithBigTermAt(3, 0), threshold(16777224.0));
    // Row before column inside a block: (0, 1) comes after (2, 0), so three ones survive -> 2^24 + 4 (tie to even).
    EXPECT_EQ(thresholdWithBigTermAt(0, 1), threshold(16777220.0));
}

TEST_F(JgaceTest, EdgeCountsIncludeMagnitudesEqualToT)
{
    const jgace::Grid grid = HandGrid(6, 3, 3);
    const float G[18] = {3, -3, 2, 0, 0, 4,  //
                         1, 0, -5, 0, 3, 0,  //
                         0, 0, 0, -2, 0, 0};
    EXPECT_EQ(jgace::EdgeCounts(grid, G, 3.0f), (std::vector<int>{3, 2}));
    EXPECT_EQ(jgace::EdgeCounts(grid, G, 2.5f), (std::vector<int>{3, 2}));
    EXPECT_EQ(jgace::EdgeCounts(grid, G, 0.0f), (std::vector<int>{9, 9}));
}

// ---------------------------------------------------------------------------
// Block statistics: stages 3, 6, 7 and 9 without the gradient plane
// ---------------------------------------------------------------------------

// The statistics pass against the plane-based stages, block by block, on
// images with small and large blocks, odd sizes and rows beyond the last block.
TEST_F(JgaceTest, BlockStatisticsEqualThePlaneStages)
{
    struct Case {
        int width, height;
        bool photo;
        unsigned seed;
    };
    const Case cases[] = {{64, 40, true, 1}, {97, 131, false, 2}, {530, 70, true, 3},
                          {600, 121, true, 4}, {700, 90, false, 5}, {47, 200, true, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        auto image = c.photo ? MakePhotoLike(c.width, c.height, c.seed) : MakeRandom(c.width, c.height, c.seed);
        const Stages stages(*image);
        for (const int threads : {1, 3}) {
            SetWorkerThreadCount(threads);
            const jgace::BlockStatistics statistics = jgace::GatherBlockStatistics(stages.grid, image->m_pBits.get());
            EXPECT_EQ(statistics.gradientSums, stages.sums);
            for (int by = 0; by < stages.grid.BY; ++by) {
                for (int bx = 0; bx < stages.grid.BX; ++bx) {
                    const jgace::Crossings want = jgace::CountCrossings(stages.grid, stages.gradient.get(), bx, by);
                    const jgace::Crossings got = statistics.crossings[stages.grid.BlockIndex(bx, by)];
                    EXPECT_EQ(got.horizontal, want.horizontal) << bx << "," << by;
                    EXPECT_EQ(got.vertical, want.vertical) << bx << "," << by;
                }
            }
            EXPECT_EQ(jgace::EdgeThresholdFromCounts(stages.grid, image->m_pBits.get(), statistics, stages.background),
                      stages.T);
            for (const float T : {stages.T, 0.0f, -1.0f, 3.0f, 17.5f, 255.0f, 300.0f, NAN})
                EXPECT_EQ(jgace::EdgeCountsFromCounts(statistics, T), jgace::EdgeCounts(stages.grid, stages.gradient.get(), T))
                    << "T " << T;
        }
    }
}

// Adding a block's terms by their counts must give the float the chain gives,
// whatever the order of the terms, whenever it accepts the block; the cases
// include integer and half-integer means, whose terms land exactly between two
// floats at some binades.
TEST_F(JgaceTest, CountedTermsEqualTheChainInAnyOrder)
{
    std::mt19937 random(12345);
    int accepted = 0;
    int refused = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const float meanG = trial % 3 == 0 ? static_cast<float>(random() % 40)
                            : trial % 3 == 1 ? static_cast<float>(random() % 80) / 2
                                             : std::uniform_real_distribution<float>(-20, 40)(random);
        std::array<double, 256> terms{};
        for (int m = 0; m < 256; ++m) {
            const double diff = meanG - std::fabs(static_cast<double>(m));
            terms[m] = diff * diff;
        }
        std::array<std::uint32_t, 256> counts{};
        std::vector<int> sequence;
        const int distinct = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < distinct; ++i) {
            const int m = static_cast<int>(random() % 60);
            const int n = 1 + static_cast<int>(random() % 400);
            counts[m] += n;
            sequence.insert(sequence.end(), n, m);
        }
        const float start = std::ldexp(1.0f + std::uniform_real_distribution<float>(0, 1)(random),
                                       static_cast<int>(random() % 30));
        float fast = start;
        if (!jgace::AddCountedTerms(fast, terms, counts)) {
            EXPECT_EQ(fast, start);
            ++refused;
            continue;
        }
        ++accepted;
        for (int order = 0; order < 2; ++order) {
            std::shuffle(sequence.begin(), sequence.end(), random);
            float chain = start;
            for (const int m : sequence)
                chain = static_cast<float>(chain + terms[m]);
            ASSERT_EQ(fast, chain) << "trial " << trial << ", MEANG " << meanG << ", from " << start;
        }
    }
    // Both ways are taken often.
    EXPECT_GT(accepted, 500);
    EXPECT_GT(refused, 100);
}

// The chain in whole spacings against the float chain itself, step by step
// in effect: long runs from zero through many binades, with means that make
// ties, and magnitudes from small to the largest.
TEST_F(JgaceTest, TermChainEqualsTheFloatChain)
{
    std::mt19937 random(99);
    for (int trial = 0; trial < 60; ++trial) {
        const float meanG = trial % 3 == 0 ? static_cast<float>(random() % 40)
                            : trial % 3 == 1 ? static_cast<float>(random() % 80) / 2 - 5
                                             : std::uniform_real_distribution<float>(-30, 60)(random);
        std::array<double, 256> terms{};
        for (int m = 0; m < 256; ++m) {
            const double diff = meanG - std::fabs(static_cast<double>(m));
            terms[m] = diff * diff;
        }
        const int range = trial % 4 == 0 ? 256 : 1 + static_cast<int>(random() % 30);
        std::vector<std::int16_t> values(20000 + random() % 20000);
        for (auto& v : values)
            v = static_cast<std::int16_t>(static_cast<int>(random() % range) * (random() % 2 ? 1 : -1));
        float plain = trial % 5 == 0 ? std::ldexp(1.0f, 20) : 0.0f;
        jgace::TermChain chain(terms);
        float fast = plain;
        // In pieces of assorted lengths, as the rows of blocks arrive.
        std::size_t at = 0;
        while (at < values.size()) {
            const std::size_t n = std::min(values.size() - at, static_cast<std::size_t>(1 + random() % 700));
            for (std::size_t i = at; i < at + n; ++i)
                plain = static_cast<float>(plain + terms[std::abs(static_cast<int>(values[i]))]);
            fast = chain.Add(fast, values.data() + at, static_cast<int>(n));
            ASSERT_EQ(fast, plain) << "trial " << trial << ", MEANG " << meanG << ", after " << at + n;
            at += n;
        }
    }
}

// A sum that starts at zero, or would reach the next binade, or meets a tie is refused.
TEST_F(JgaceTest, CountedTermsRefuseWhatTheyCannotAddExactly)
{
    std::array<double, 256> terms{};
    for (int m = 0; m < 256; ++m)
        terms[m] = static_cast<double>(m) * m;  // MEANG = 0
    std::array<std::uint32_t, 256> counts{};
    counts[1] = 10;
    float s2 = 0.0f;
    EXPECT_FALSE(jgace::AddCountedTerms(s2, terms, counts));
    // From 2^24 a float holds even numbers only: a term of 1 is a tie.
    s2 = 16777216.0f;
    EXPECT_FALSE(jgace::AddCountedTerms(s2, terms, counts));
    // Terms of 4 add exactly: 2^24 + 40.
    counts = {};
    counts[2] = 10;
    EXPECT_TRUE(jgace::AddCountedTerms(s2, terms, counts));
    EXPECT_EQ(s2, 16777256.0f);
    // Just below 2^25 the next binade is near.
    s2 = 33554400.0f;
    EXPECT_FALSE(jgace::AddCountedTerms(s2, terms, counts));
    EXPECT_EQ(s2, 33554400.0f);
}

TEST_F(JgaceTest, FlatLimitAndFlatBlocks)
{
    EXPECT_EQ(jgace::FlatLimit(0), 0.0f);
    EXPECT_EQ(jgace::FlatLimit(10), static_cast<float>(10 * 0.10000000149011612));
    EXPECT_EQ(jgace::FlatLimit(1089), static_cast<float>(1089 * 0.10000000149011612));
    EXPECT_EQ(jgace::FlatLimit(9), 0.900000036f);  // 9 * 0.1 would round to 0.899999976f
    // CMAX 10 gives L = 1 (rounded to float): only the blocks without edge pixels are flat.
    EXPECT_EQ(jgace::FlatBlocks({0, 10, 1, 0}), (std::vector<std::uint8_t>{1, 0, 0, 1}));
    // No edge pixel anywhere: L = 0 and nothing is below it, every block is detailed.
    EXPECT_EQ(jgace::FlatBlocks({0, 0}), (std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(jgace::FlatBlocks({}), (std::vector<std::uint8_t>{}));
}

TEST_F(JgaceTest, PitchAndFlatGain)
{
    EXPECT_EQ(jgace::PixelPitch({508, 1920}), static_cast<float>(508.0 / 1920.0));
    EXPECT_EQ(jgace::PixelPitch({1, 3}), static_cast<float>(1.0 / 3.0));
    EXPECT_EQ(jgace::PixelPitch({0, 1920}), jgace::PixelPitch({508, 1920}));
    EXPECT_EQ(jgace::FlatGain(0.0f), 1.6f);
    EXPECT_EQ(jgace::FlatGain(5.0f), 17.6f);   // (0.4 * 5)^4 = 16
    EXPECT_EQ(jgace::FlatGain(-5.0f), 17.6f);  // even power
    EXPECT_EQ(jgace::FlatGain(0.25f), static_cast<float>((std::pow(0.1, 4.0) + 1.0) + 0.6));
}

TEST_F(JgaceTest, CrossingsOnHandMadeGradients)
{
    // Rows in buffer order (row 0 first).
    const jgace::Grid grid = HandGrid(3, 3, 3);
    const float G[9] = {1, -1, 0,  //
                        0, 2, 2,   //
                        0, 0, 0};
    const jgace::Crossings c = jgace::CountCrossings(grid, G, 0, 0);
    EXPECT_EQ(c.horizontal, 2);  // (0,0)-(1,0), (0,1)-(1,1)
    EXPECT_EQ(c.vertical, 3);    // (0,0)-(0,1), (1,0)-(1,1), (1,1)-(1,2)

    // The last column and row are not start positions: a sign change between
    // block 0's last column and block 1's first does not count.
    const jgace::Grid two = HandGrid(6, 3, 3);
    const float H[18] = {0, 0, 0, 5, 5, 5,  //
                         0, 0, 0, 5, 5, 5,  //
                         0, 0, 0, 5, 5, 5};
    EXPECT_EQ(jgace::CountCrossings(two, H, 0, 0).horizontal, 0);
    EXPECT_EQ(jgace::CountCrossings(two, H, 1, 0).horizontal, 0);
}

TEST_F(JgaceTest, DetailAmplitudeCountsStrictlyAboveT)
{
    const jgace::Grid grid = HandGrid(3, 3, 3);
    const std::uint8_t pixels[9] = {10, 14, 7, 12, 12, 12, 20, 9, 12};
    const std::uint8_t mean[9] = {12, 12, 12, 12, 12, 12, 12, 12, 12};
    const float G[9] = {};
    const jgace::Planes planes{3, 3, pixels, mean, G};
    // |D| = 2, 2, 5, 0, 0, 0, 8, 3, 0.
    EXPECT_EQ(jgace::DetailAmplitude(grid, planes, 0, 0, 2.0f), (5.0 + 8.0 + 3.0) / 3.0);  // 2 is not above 2
    EXPECT_EQ(jgace::DetailAmplitude(grid, planes, 0, 0, 1.5f), (2.0 + 2.0 + 5.0 + 8.0 + 3.0) / 5.0);
    EXPECT_EQ(jgace::DetailAmplitude(grid, planes, 0, 0, 8.0f), 1.0);  // nothing above: 1.0
    EXPECT_EQ(jgace::DetailAmplitude(grid, planes, 0, 0, 7.99f), 8.0);
    EXPECT_EQ(jgace::DetailAmplitude(grid, planes, 0, 0, -1.0f), 20.0 / 9.0);  // every pixel, zeros too
    EXPECT_EQ(jgace::DetailAmplitude(grid, planes, 0, 0, NAN), 1.0);
}

// Both forms of the amplitude on every block of images with small and large
// blocks (tails shorter and longer than a vector), for thresholds from below
// zero to beyond 255.
TEST_F(JgaceTest, DetailAmplitudeFormsAgree)
{
    if (!jgace::DetailAmplitudeAvx512Supported())
        GTEST_SKIP() << "no AVX-512 on this processor";
    for (const auto& [width, height] : {std::pair{64, 40}, std::pair{530, 70}, std::pair{1100, 140}}) {
        for (const bool photo : {true, false}) {
            auto image = photo ? MakePhotoLike(width, height, 5) : MakeRandom(width, height, 6);
            const Stages stages(*image);
            for (const float T : {-1.0f, 0.0f, 0.5f, 3.0f, 17.81f, 100.0f, 254.0f, 254.5f, 255.0f, 300.0f, NAN}) {
                for (int by = 0; by < stages.grid.BY; ++by) {
                    for (int bx = 0; bx < stages.grid.BX; ++bx) {
                        ASSERT_EQ(jgace::DetailAmplitudeAvx512(stages.grid, stages.planes, bx, by, T),
                                  jgace::DetailAmplitudePortable(stages.grid, stages.planes, bx, by, T))
                            << width << "x" << height << " block " << bx << "," << by << " T " << T;
                    }
                }
            }
        }
    }
}

TEST_F(JgaceTest, FrequencyThresholdAndGain)
{
    const float pitch = 0.25f;
    // A tie takes the vertical count; 3.14 and 360 as written.
    EXPECT_EQ(jgace::DominantFrequency({4, 4}, 9, 200, pitch), ((4.0 / 9.0 * 200) * 3.14) / (0.25 * 360.0));
    EXPECT_EQ(jgace::DominantFrequency({6, 2}, 9, 200, pitch), ((6.0 / 9.0 * 200) * 3.14) / 90.0);
    EXPECT_EQ(jgace::DominantFrequency({1, 7}, 9, 0, pitch), 0.0);  // d = 0
    // pitch * 360 is formed in double: exact, where a float product would round.
    const float screen = jgace::PixelPitch({508, 1920});
    ASSERT_NE(static_cast<double>(screen * 360.0f), static_cast<double>(screen) * 360.0);
    EXPECT_EQ(jgace::DominantFrequency({5, 3}, 25, 200, screen),
              ((5.0 / 25.0 * 200) * 3.14) / (static_cast<double>(screen) * 360.0));
    EXPECT_EQ(jgace::VisibilityThreshold(0.0, 1, 3.0f), 3.0);
    EXPECT_EQ(jgace::VisibilityThreshold(2.0, 2, 1.5f), (std::exp(0.332) * 2) * 1.5);
    EXPECT_EQ(jgace::VisibilityThreshold(5.0, 0, 3.0f), 0.0);

    EXPECT_EQ(jgace::DetailedBlockGain(1.0, 3.0), 3.0f);
    EXPECT_EQ(jgace::DetailedBlockGain(7.0, 3.0), 1.0f);
    EXPECT_EQ(jgace::DetailedBlockGain(3.0, 3.0), 1.0f);  // A < J strictly
    EXPECT_EQ(jgace::DetailedBlockGain(3.0, 10.0), static_cast<float>(10.0 / 3.0));
    EXPECT_EQ(jgace::DetailedBlockGain(2.0, 1e300), FLT_MAX);
    EXPECT_EQ(jgace::DetailedBlockGain(2.0, INFINITY), FLT_MAX);
    EXPECT_EQ(jgace::DetailedBlockGain(2.0, NAN), 1.0f);
    EXPECT_EQ(jgace::DetailedBlockGain(2.0, -5.0), 1.0f);
}

TEST_F(JgaceTest, EnhancedLevelRoundsOnceToFloatThenHalfUp)
{
    EXPECT_EQ(jgace::EnhancedLevel(0, 3.0, 100), 100);
    EXPECT_EQ(jgace::EnhancedLevel(5, 1.5, 100), 108);   // 107.5 -> 108
    EXPECT_EQ(jgace::EnhancedLevel(-5, 1.5, 100), 93);   // 92.5 -> 93
    EXPECT_EQ(jgace::EnhancedLevel(-50, 3.0, 100), 0);   // -50
    EXPECT_EQ(jgace::EnhancedLevel(50, 4.0, 100), 255);  // 300
    EXPECT_EQ(jgace::EnhancedLevel(0, FLT_MAX, 100), 100);
    EXPECT_EQ(jgace::EnhancedLevel(200, FLT_MAX, 55), 255);
    EXPECT_EQ(jgace::EnhancedLevel(-1, FLT_MAX, 55), 0);
    // 0.49999999999 in double becomes 0.5f: the float rounding decides.
    EXPECT_EQ(jgace::EnhancedLevel(1, 0.49999999999, 0), 1);
}

// ---------------------------------------------------------------------------
// The whole operation
// ---------------------------------------------------------------------------

// Both row forms against EnhancedLevel, for every detail and mean, with gains
// from ordinary to beyond any level, negative, zero and the saturated extremes.
TEST_F(JgaceTest, EnhanceRowsEqualEnhancedLevel)
{
    std::vector<double> gainChoices = {0.0, 1.0, 1.5, 2.0, 0.999999, 3.25, -0.5, 1e-300, 7.3e5, -7.3e5,
                                       static_cast<double>(FLT_MAX), -static_cast<double>(FLT_MAX), 1.0 / 3.0};
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i)
        gainChoices.push_back(std::uniform_real_distribution<double>(0.0, 6.0)(random));
    const int width = 256 * 256 + 5;  // every (pixel, mean) pair, and a tail
    std::vector<std::uint8_t> source(width);
    std::vector<std::uint8_t> mean(width);
    for (int i = 0; i < width; ++i) {
        source[i] = static_cast<std::uint8_t>(i >> 8);
        mean[i] = static_cast<std::uint8_t>(i);
    }
    std::vector<double> gains(width);
    std::vector<std::uint8_t> portable(width);
    std::vector<std::uint8_t> vector(width);
    for (const double g : gainChoices) {
        std::fill(gains.begin(), gains.end(), g);
        jgace::EnhanceRowPortable(source.data(), mean.data(), gains.data(), width, portable.data());
        for (int i = 0; i < width; ++i)
            ASSERT_EQ(portable[i], jgace::EnhancedLevel(source[i] - mean[i], g, mean[i])) << "g " << g << " at " << i;
        if (jgace::EnhanceRowAvx512Supported()) {
            jgace::EnhanceRowAvx512(source.data(), mean.data(), gains.data(), width, vector.data());
            ASSERT_EQ(vector, portable) << "g " << g;
        }
    }
    if (jgace::EnhanceRowAvx512Supported()) {
        // In place, with a different gain in every lane.
        for (int i = 0; i < width; ++i)
            gains[i] = gainChoices[static_cast<std::size_t>(i) % gainChoices.size()];
        jgace::EnhanceRowPortable(source.data(), mean.data(), gains.data(), width, portable.data());
        std::vector<std::uint8_t> inPlace = source;
        jgace::EnhanceRowAvx512(inPlace.data(), mean.data(), gains.data(), width, inPlace.data());
        EXPECT_EQ(inPlace, portable);
    }
}

TEST_F(JgaceTest, UniformImageIsUnchanged)
{
    for (const auto& size : {std::pair{64, 40}, std::pair{32, 3}, std::pair{530, 40}}) {
        auto image = MakeUniform(size.first, size.second, 137);
        const auto before = Pixels(*image);
        EXPECT_EQ(image->Jgace(200, 1, 3.0f), 1);
        EXPECT_EQ(Pixels(*image), before) << size.first << "x" << size.second;
    }
}

TEST_F(JgaceTest, MatchesPlainVersionOnAssortedImages)
{
    struct Case {
        int width, height;
        bool photo;
        unsigned seed;
        int d, JND0;
        float gamma;
    };
    const Case cases[] = {
        {64, 40, true, 1, 200, 1, 3.0f},   {100, 37, false, 2, 200, 1, 3.0f},
        {97, 131, true, 3, 500, 2, 1.5f},  {530, 70, true, 4, 200, 1, 3.0f},
        {33, 3, false, 5, 200, 1, 3.0f},   {47, 200, true, 6, 350, 3, 2.25f},
        {320, 240, true, 7, 200, 1, 3.0f}, {161, 90, false, 8, 1000, 4, 0.7f},
        {260, 50, true, 9, 0, 1, 3.0f},    {200, 120, true, 10, 200, 0, 3.0f},
        {640, 200, true, 11, 200, 1, 3.0f}, {577, 111, false, 12, 300, 2, 2.0f},
    };
    bool sawFlat = false, sawDetailedGain = false, sawDetailedOne = false;
    for (const Case& c : cases) {
        auto source = c.photo ? MakePhotoLike(c.width, c.height, c.seed) : MakeRandom(c.width, c.height, c.seed);
        Reference ref;
        const auto expected = ReferenceJgace(*source, c.d, c.JND0, c.gamma, CurrentScreenMetrics(), ref);
        for (std::size_t k = 0; k < ref.F.size(); ++k) {
            sawFlat |= ref.flat[k];
            sawDetailedGain |= !ref.flat[k] && ref.F[k] != 1.0f;
            sawDetailedOne |= !ref.flat[k] && ref.F[k] == 1.0f;
        }
        for (const int threads : {1, 2, 7}) {
            SetWorkerThreadCount(threads);
            CDibImage image;
            image.CopyFrom(source.get());
            ASSERT_EQ(image.Jgace(c.d, c.JND0, c.gamma), 1);
            EXPECT_EQ(FirstDifference(Pixels(image), expected, c.width), "")
                << c.width << "x" << c.height << " seed " << c.seed << ", " << threads << " threads";
        }
    }
    // The images exercise every kind of block gain.
    EXPECT_TRUE(sawFlat);
    EXPECT_TRUE(sawDetailedGain);
    EXPECT_TRUE(sawDetailedOne);
}

TEST_F(JgaceTest, MatchesPlainVersionOnRealPhotos)
{
    // The camera is wide enough for the block statistics, the others take the gradient plane.
    for (const char* name : {"photos/hubble_dark_400x300.bmp", "photos/coins_302x303.bmp", "photos/camera_512x512.bmp"}) {
        CDibImage source;
        ASSERT_TRUE(source.LoadFromFile(testing_support::DataPath(name)));
        ASSERT_TRUE(source.ConvertToGray());
        Reference ref;
        const auto expected = ReferenceJgace(source, 200, 1, 3.0f, CurrentScreenMetrics(), ref);
        CDibImage image;
        image.CopyFrom(&source);
        ASSERT_EQ(image.Jgace(200, 1, 3.0f), 1);
        EXPECT_EQ(FirstDifference(Pixels(image), expected, image.m_nWidth), "") << name;
        EXPECT_NE(Pixels(image), Pixels(source)) << name;
    }
}

// Reading the pixels from an unchanged copy, with the mean made in the image's
// own buffer, gives the same bytes at any thread count; an image of another
// size, or the image itself, is not used.
TEST_F(JgaceTest, UnchangedCopyGivesTheSameResult)
{
    for (const auto& [width, height] : {std::pair{530, 70}, std::pair{640, 200}, std::pair{300, 90}}) {
        auto source = MakePhotoLike(width, height, 21);
        CDibImage expected;
        ASSERT_TRUE(expected.CopyFrom(source.get()));
        ASSERT_EQ(expected.Jgace(200, 1, 3.0f), 1);
        for (const int threads : {1, 2, 7}) {
            SetWorkerThreadCount(threads);
            CDibImage work;
            ASSERT_TRUE(work.CopyFrom(source.get()));
            ASSERT_EQ(work.Jgace(200, 1, 3.0f, source.get()), 1);
            EXPECT_EQ(Pixels(work), Pixels(expected)) << width << "x" << height << ", " << threads << " threads";
            EXPECT_EQ(Pixels(*source), Pixels(*MakePhotoLike(width, height, 21)));  // the copy is only read
        }
        SetWorkerThreadCount(0);
        // An image of another size is ignored rather than read.
        auto other = MakePhotoLike(width + 1, height, 22);
        CDibImage work;
        ASSERT_TRUE(work.CopyFrom(source.get()));
        ASSERT_EQ(work.Jgace(200, 1, 3.0f, other.get()), 1);
        EXPECT_EQ(Pixels(work), Pixels(expected));
        CDibImage self;
        ASSERT_TRUE(self.CopyFrom(source.get()));
        ASSERT_EQ(self.Jgace(200, 1, 3.0f, &self), 1);
        EXPECT_EQ(Pixels(self), Pixels(expected));
    }
}

TEST_F(JgaceTest, ScreenMetricsChangeThePitch)
{
    ASSERT_TRUE(SetScreenMetrics({300, 2400}));
    auto source = MakePhotoLike(160, 100, 21);
    Reference ref;
    const auto expected = ReferenceJgace(*source, 200, 1, 3.0f, CurrentScreenMetrics(), ref);
    CDibImage image;
    image.CopyFrom(source.get());
    image.Jgace(200, 1, 3.0f);
    EXPECT_EQ(FirstDifference(Pixels(image), expected, 160), "");
}

TEST_F(JgaceTest, ZeroThresholdKeepsDetailedBlocksAtOneAndFlatBlocksAtKappa)
{
    auto image = MakePhotoLike(320, 200, 31);
    const Stages stages(*image);
    for (const auto& [JND0, gamma] : {std::pair{0, 3.0f}, std::pair{1, 0.0f}}) {
        const std::vector<float> F = stages.Gains(200, JND0, gamma);
        int flat = 0, detailed = 0;
        for (std::size_t k = 0; k < F.size(); ++k) {
            if (stages.flat[k]) {
                EXPECT_EQ(F[k], stages.kappa);
                ++flat;
            } else {
                EXPECT_EQ(F[k], 1.0f);
                ++detailed;
            }
        }
        EXPECT_GT(flat, 0);
        EXPECT_GT(detailed, 0);
    }
    EXPECT_NE(stages.kappa, 1.0f);
}

TEST_F(JgaceTest, ZeroDistanceUsesTheThresholdAtZeroFrequency)
{
    auto image = MakeRandom(160, 100, 41);
    const Stages stages(*image);
    const std::vector<float> F = stages.Gains(0, 2, 4.0f);  // J = 8 everywhere
    for (int by = 0; by < stages.grid.BY; ++by)
        for (int bx = 0; bx < stages.grid.BX; ++bx) {
            const std::size_t k = stages.grid.BlockIndex(bx, by);
            if (stages.flat[k])
                continue;
            const double A = jgace::DetailAmplitude(stages.grid, stages.planes, bx, by, stages.T);
            EXPECT_EQ(F[k], A < 8.0 ? static_cast<float>(8.0 / A) : 1.0f);
        }
    // Random levels have large details, so raise J past them too.
    const std::vector<float> high = stages.Gains(0, 100, 4.0f);  // J = 400
    for (std::size_t k = 0; k < high.size(); ++k) {
        if (!stages.flat[k]) {
            EXPECT_GT(high[k], 1.0f);
        }
    }
}

TEST_F(JgaceTest, HugeGainsSaturateInsteadOfTurningPixelsBlack)
{
    // A gain beyond the float range is held at FLT_MAX: pixels without detail keep
    // their mean and the others go to 0 or 255, none become NaN (black) by accident.
    auto image = MakePhotoLike(160, 100, 51);
    CDibImage work;
    work.CopyFrom(image.get());
    const Stages stages(*image);
    ASSERT_EQ(work.Jgace(2000000000, 2000000000, 1e30f), 1);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * 160 + x;
            if (stages.planes.Detail(i) == 0) {
                EXPECT_EQ(work.m_pBits[i], stages.mean[i]) << x << "," << y;
            }
        }
}

TEST_F(JgaceTest, ImagesWithoutACompleteBlockRowAreUnchanged)
{
    // Lower than W: 640 x 40 has W = 41.
    auto low = MakeRandom(640, 40, 61);
    const auto before = Pixels(*low);
    EXPECT_EQ(low->Jgace(200, 1, 3.0f), 1);
    EXPECT_EQ(Pixels(*low), before);

    auto one = MakeRandom(64, 4, 62);  // W = 5
    const auto oneBefore = Pixels(*one);
    EXPECT_EQ(one->Jgace(200, 1, 3.0f), 1);
    EXPECT_EQ(Pixels(*one), oneBefore);
}

TEST_F(JgaceTest, NarrowImagesAreUnchanged)
{
    // Below 32 columns W = 1, D = 0 and the result is the image itself.
    for (const auto& size :
         {std::pair{31, 50}, std::pair{16, 16}, std::pair{3, 3}, std::pair{1, 1}, std::pair{20, 1}}) {
        auto image = MakeRandom(size.first, size.second, 71);
        const auto before = Pixels(*image);
        EXPECT_EQ(image->Jgace(200, 1, 3.0f), 1);
        EXPECT_EQ(Pixels(*image), before) << size.first << "x" << size.second;
    }
    CDibImage empty;
    EXPECT_EQ(empty.Jgace(200, 1, 3.0f), 1);
    auto zero = MakeUniform(0, 0, 0);
    EXPECT_EQ(zero->Jgace(200, 1, 3.0f), 1);
}

}  // namespace
