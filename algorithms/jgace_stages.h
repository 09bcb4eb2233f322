// The stages of JGACE, one function each, so they can be read and tested on their own.
//
// Private to algorithms/ (and its tests): CDibImage::Jgace (algorithms/jgace.cpp)
// runs them in order. Coordinates follow the pixel layout of CDibImage: index
// y * width + x, row 0 at the bottom. Blocks are W x W squares numbered
// k = by * BX + bx from the bottom-left one, left to right, then upward.
//
// Rounding points matter: a quantity declared float below is a double result
// rounded to float at that point, everything else is formed in double.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/screen_metrics.h"

namespace jgace {

// Stage 1. Block size W = width / 16, plus 1 if that is even (so W is odd and at
// least 1), centre offset h = W / 2, and BX x BY complete blocks. Columns from
// BX * W on and rows from BY * W on belong to no block.
struct Grid {
    int width = 0;
    int height = 0;
    int W = 1;
    int h = 0;
    int BX = 0;
    int BY = 0;

    std::size_t BlockCount() const { return static_cast<std::size_t>(BX) * static_cast<std::size_t>(BY); }
    std::size_t BlockIndex(int bx, int by) const { return static_cast<std::size_t>(by) * BX + bx; }
    // W * W, the pixel count of a block.
    std::int64_t Area() const { return static_cast<std::int64_t>(W) * W; }
    // Centre column of the last block column and centre row of the last block row.
    int Xr() const { return (BX - 1) * W + h; }
    int Yb() const { return (BY - 1) * W + h; }
};

Grid MakeGrid(int width, int height);

// Stage 2. The picture split into its W x W box mean M and the detail D = pixel - M,
// with the gradient map G beside them. D is formed on demand rather than stored.
struct Planes {
    int width = 0;
    int height = 0;
    const std::uint8_t* pixels = nullptr;
    const std::uint8_t* mean = nullptr;  // M = BoxFilter(W)
    const float* gradient = nullptr;     // G = GradientMap()

    int Detail(std::size_t i) const { return static_cast<int>(pixels[i]) - static_cast<int>(mean[i]); }
};

// Stage 3. The sum of G over every block. G holds whole numbers, so the sum is an
// exact integer: the value a double accumulation from 0.0 gives in any order.
std::vector<double> BlockGradientSums(const Grid& grid, const float* gradient);

// B[k]: the sums stored as float.
std::vector<float> StoredBlockSums(const std::vector<double>& sums);

// Bin of one block's mean magnitude a = |sum / area|: a rounded to the nearest
// whole number with exact halves going DOWN (2.5 -> 2, 2.5000001 -> 3), at most 255.
int ActivityBin(double sum, std::int64_t area);

// H: the number of blocks per bin.
std::array<int, 256> ActivityHistogram(const std::vector<double>& sums, std::int64_t area);

// Stage 4. V, the first valley after the first peak: climb while the next bin is
// not lower, then descend while it is lower. Neither walk passes bin 255.
int ValleyLevel(const std::array<int, 256>& H);

// Stage 5. A block is background when |B / area|, truncated toward zero, is below V.
// Truncation here, rounding in ActivityBin: a mean magnitude of 0.7 sits in
// bin 1 but is background for V = 1.
bool IsBackgroundBlock(float blockSum, std::int64_t area, int V);

struct Background {
    std::vector<std::uint8_t> isBackground;  // per block, 1 = background
    std::size_t count = 0;                   // n_b
    float meanGradient = 0.0f;               // MEANG, signed
};

// MEANG = (sum of B over background blocks, ascending k) / (n_b * area), as float.
// Without background blocks MEANG is 0 rather than 0 / 0 (see jgace.cpp).
Background FindBackground(const std::vector<float>& B, std::int64_t area, int V);

// Stage 6. T = |MEANG| + 1.5 * sigma as float, where sigma^2 is the mean of
// (MEANG - |G|)^2 over the background pixels, summed in a float in the visiting
// order (blocks ascending k, rows then columns). The float sum is one sequential
// chain: its rounding depends on the order, so it is never split.
float EdgeThreshold(const Grid& grid, const float* gradient, const Background& background);

// Stage 7. C[k], the pixels of block k with |G| >= T.
std::vector<int> EdgeCounts(const Grid& grid, const float* gradient, float T);

// L = CMAX * 0.1f as float.
float FlatLimit(int cmax);

// 1 for the flat blocks (C[k] < L), 0 for the detailed ones.
std::vector<std::uint8_t> FlatBlocks(const std::vector<int>& C);

// Stage 8. Millimetres per screen pixel, float(widthMm) / widthPx as float.
// Invalid metrics (a width not positive) count as the default ones.
float PixelPitch(const ScreenMetrics& metrics);

// KAPPA = ((0.4 * MEANG)^4 + 1.0) + 0.6 as float.
float FlatGain(float meanGradient);

// Stage 9. Sign changes of G between horizontal (cH) and vertical (cV)
// neighbours, starting from every pixel of the block but its last column and row.
struct Crossings {
    int horizontal = 0;
    int vertical = 0;
};
Crossings CountCrossings(const Grid& grid, const float* gradient, int bx, int by);

// A: the mean |D| over the pixels of the block with |D| > T, or 1.0 when there are none.
double DetailAmplitude(const Grid& grid, const Planes& planes, int bx, int by, float T);
// The same on any processor, and in AVX-512 lanes where DetailAmplitudeAvx512Supported().
double DetailAmplitudePortable(const Grid& grid, const Planes& planes, int bx, int by, float T);
bool DetailAmplitudeAvx512Supported();
double DetailAmplitudeAvx512(const Grid& grid, const Planes& planes, int bx, int by, float T);

// f = ((z * d) * 3.14) / (pitch * 360.0f), z the larger crossing count per pixel
// (the vertical one on a tie): cycles per degree of visual angle.
double DominantFrequency(const Crossings& crossings, std::int64_t area, int d, float pitch);

// J = (exp(0.166 * f) * JND0) * gamma.
double VisibilityThreshold(double f, int JND0, float gamma);

// J / A as float when A < J, else 1. A gain beyond the float range is kept at
// the largest float instead of becoming infinite (see jgace.cpp).
float DetailedBlockGain(double A, double J);

struct Parameters {
    int d = 200;
    int JND0 = 1;
    float gamma = 3.0f;
    float pitch = 0.0f;
};

// F: KAPPA for flat blocks, DetailedBlockGain for detailed ones. The crossings
// are counted from planes.gradient unless they are given per block.
std::vector<float> BlockGains(const Grid& grid, const Planes& planes, const std::vector<std::uint8_t>& flat, float T,
                              float kappa, const Parameters& parameters,
                              const std::vector<Crossings>* crossings = nullptr);

// Stages 3, 6, 7 and 9 without a gradient plane. One pass over the pixels makes
// each row of G (core/gradient_row.h) and folds it into per-block statistics:
// the exact sums of stage 3, the crossings of stage 9, and how many pixels of
// the block have each magnitude |G| = 0..255, from which stage 7's counts
// follow for any T, and stage 6's float sum in most blocks (below).
struct BlockStatistics {
    std::vector<double> gradientSums;
    std::vector<Crossings> crossings;
    std::vector<std::array<std::uint32_t, 256>> magnitudeCounts;
};
BlockStatistics GatherBlockStatistics(const Grid& grid, const std::uint8_t* pixels);

// Worth it where a block's 1 KiB of counts is small beside its pixels; below,
// the gradient plane is cheaper.
inline bool UseBlockStatistics(const Grid& grid) { return grid.Area() >= 1024; }

// Stage 6 from the magnitude counts, giving exactly EdgeThreshold's T.
//
// The chain s2 = float(s2 + t) only ever adds one of 256 terms t(|G|). While s2
// stays inside one binade [2^e, 2^(e+1)) every float there is a multiple of
// u = 2^(e-23), and a step adds k * u where k depends on the term, on e and,
// for a term that lands exactly halfway between two floats, on whether s2 / u
// is even or odd (ties go to even). So for a block whose terms never land on
// such a tie at this binade, and whose whole sum stays inside it, the steps
// can be added up in any order: s2 += sum over magnitudes of count * k. k is
// measured by taking the real step from 2^e (even) and 2^e + u (odd). Any other
// block (the first one, which starts from 0, and those that cross into the
// next binade or meet a tie) is summed pixel by pixel in the visiting order,
// with its rows of G made again from the pixels.
float EdgeThresholdFromCounts(const Grid& grid, const std::uint8_t* pixels, const BlockStatistics& statistics,
                              const Background& background);

// One block's steps of the float sum at once, if the rule above allows it:
// returns false, with s2 untouched, where the block must go pixel by pixel.
// terms[m] is (MEANG - m)^2 in double.
bool AddCountedTerms(float& s2, const std::array<double, 256>& terms, const std::array<std::uint32_t, 256>& counts);

// The chain s2 = float(s2 + terms[|v|]) over values in their order, with the
// same result step for step, but without the float round trip in each step:
// inside a binade s2 is held as a whole number S of spacings u and a step adds
// the spacings measured for that term (from S even or odd, which settles the
// ties). A step that would leave the binade, or a sum below FLT_MIN, is taken
// as the float step itself.
class TermChain {
public:
    explicit TermChain(const std::array<double, 256>& terms);
    float Add(float s2, const std::int16_t* values, int count);

private:
    void Measure(int exponent);

    std::array<double, 256> m_terms;
    int m_exponent = INT32_MIN;
    double m_unit = 0.0;
    std::array<std::int64_t, 512> m_steps{};  // from an even S, then from an odd one
    std::array<std::int64_t, 256> m_limit{};
    bool m_ties = false;
};

// Stage 7 from the magnitude counts: the pixels with |G| >= T, per block.
std::vector<int> EdgeCountsFromCounts(const BlockStatistics& statistics, float T);

// Stage 10, one row j (0 .. W - 1) of a tile: the W gains of the bilinear rule
// between the block gains f00 (its own), f01 (right), f10 (above) and f11, on
// any processor and in 8 double lanes where TileRowAvx512Supported().
void TileRow(int W, int j, double f00, double f01, double f10, double f11, double* out);
bool TileRowAvx512Supported();
void TileRowAvx512(int W, int j, double f00, double f01, double f10, double f11, double* out);

// Stage 10. The gain of every pixel of row y (width entries): the block gains
// spread over the image by the corner, strip and tile regions.
void GainRow(const Grid& grid, const std::vector<float>& F, int y, double* gains);

// ClampToByte(float(D * g + M)).
std::uint8_t EnhancedLevel(int D, double g, std::uint8_t M);

// EnhancedLevel over one row of width pixels (source may be out itself), on any
// processor, and in AVX-512 lanes where EnhanceRowAvx512Supported().
void EnhanceRowPortable(const std::uint8_t* source, const std::uint8_t* mean, const double* gains, int width,
                        std::uint8_t* out);
bool EnhanceRowAvx512Supported();
void EnhanceRowAvx512(const std::uint8_t* source, const std::uint8_t* mean, const double* gains, int width,
                      std::uint8_t* out);

// Writes EnhancedLevel of every pixel to out (which may be planes.pixels itself:
// each pixel is read before it is written and by one worker only).
void ApplyGains(const Grid& grid, const Planes& planes, const std::vector<float>& F, std::uint8_t* out);

}  // namespace jgace
