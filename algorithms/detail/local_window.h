// The window walk shared by the local equalizations (AHE, TAHE, CLHE).
//
// Window rule: the window of pixel (x, y) is the n x n square centred on it
// (n odd, half-width h = (n - 1) / 2) cut to the image, never shifted or
// mirrored, so a border pixel's window is smaller than n x n and its area is
// the product of the two cut extents. Every count reads a snapshot of the
// input; results go to the live buffer, so the order of the pixels does not
// matter and row bands can run on several cores with identical output.
//
// The walk hands each pixel's window counts (levels <= v, levels == v, levels
// <= a threshold, area, whole or cut) to a kernel that turns them into the
// new level; AHE, TAHE and CLHE differ only in their kernels. Two ways of
// counting give the same counts:
//
// Small windows (n <= 15): direct comparison, 16 pixels at a time in byte
// lanes (CountDirectly below).
//
// Larger windows: each row band keeps one histogram per column, covering the
// rows of the current output row's window (cut at the top and bottom of the
// image), and moves them down one row per output row: two count updates per
// column. Columns outside the image are kept as empty histograms, so a window
// cut at the left or right edge is simply a window over some empty columns and
// border pixels cost what interior pixels cost. The histograms are split into
// 16 coarse bins of 16 levels and 16 fine segments:
//   - the coarse window histogram slides one column per pixel (16 counts in,
//     16 out);
//   - a fine segment of the window histogram is brought up to date only when a
//     pixel's level falls into it, by sliding it over the columns it missed or,
//     if it has fallen far behind, by summing it afresh over the window;
//   - the count of levels <= v is then the coarse counts below v's segment
//     plus the fine counts of that segment up to v: two masked 16-lane sums.
// Counts are 16-bit while a window holds at most 65535 pixels (n <= 255) and
// 32-bit beyond. Sixteen-bit sums wrap harmlessly in between: every quantity
// read out is a true count of at most n * n pixels.
//
// Areas and counts are ints: an image holds fewer than 2^31 pixels (import
// stops at 2^28).
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "algorithms/detail/local_window_strips.h"
#include "core/dib_image.h"
#include "core/large_buffer.h"
#include "core/messages.h"
#include "core/parallel.h"

namespace local_window {

inline constexpr char kWindowMessage[] = "Size of window is not adequate";
inline constexpr char kOutOfMemoryMessage[] = "Out of memory!";

// n odd, at least 3, and no larger than either side of the image.
inline bool WindowFits(int n, int width, int height)
{
    return n >= 3 && n % 2 == 1 && n <= width && n <= height;
}

// A kernel (AHE, TAHE, CLHE) provides:
//   static constexpr bool kCountsAt, kCountsBelow: which optional counts it reads;
//   int threshold: the level kCountsBelow counts up to;
//   bool Wants(v): whether a pixel of level v is rewritten at all;
//   uint8_t Map<kInterior>(v, counts): its new level. kInterior says the
//   caller knows at compile time that the window is whole (counts.interior
//   is then true as well), so a kernel may use a table for area n * n.

// What a kernel learns about the window of one pixel of level v.
struct WindowCounts {
    int atMost;     // snapshot levels <= v, the pixel itself included
    int at;         // snapshot levels == v (only when Kernel::kCountsAt)
    int below;      // levels <= the kernel's threshold (0 unless Kernel::kCountsBelow)
    int area;       // pixels in the cut window
    bool interior;  // the window is the full n x n square
};

namespace detail {

inline constexpr int kBins = 16;  // coarse bins, each a segment of 16 levels

// Sixteen counts, a coarse histogram or one fine segment, as a few 16-byte
// vectors (GCC/Clang vector extensions: SSE2 on baseline x86-64, NEON on ARM).
// Wider generic vectors would be split by the compiler and kept in memory;
// native-width parts stay in registers.
template <typename Count>
struct Lanes {
    typedef Count Part __attribute__((vector_size(16)));
    // The same vector read in place from a count table: may alias
    // the counts, no alignment promised.
    typedef Count InPlace __attribute__((vector_size(16), may_alias, aligned(alignof(Count))));
    static constexpr int kParts = static_cast<int>(kBins * sizeof(Count) / 16);
    static constexpr int kPerPart = static_cast<int>(16 / sizeof(Count));
    Part part[kParts];

    static Lanes Load(const Count* p)
    {
        Lanes v;
        for (int i = 0; i < kParts; ++i)
            v.part[i] = *reinterpret_cast<const InPlace*>(p + i * kPerPart);
        return v;
    }
    Count operator[](unsigned lane) const { return part[lane / kPerPart][lane % kPerPart]; }

    Lanes& operator+=(const Lanes& o)
    {
        for (int i = 0; i < kParts; ++i)
            part[i] += o.part[i];
        return *this;
    }
    // this += in - out, in wrap-around arithmetic.
    void Slide(const Count* in, const Count* out)
    {
        const Lanes a = Load(in), b = Load(out);
        for (int i = 0; i < kParts; ++i)
            part[i] += a.part[i] - b.part[i];
    }
    // Sum of the lanes of this that maskThis keeps and of the lanes of o that
    // maskOther keeps.
    int MaskedSum(const Count* maskThis, const Lanes& o, const Count* maskOther) const
    {
        const Lanes a = Load(maskThis), b = Load(maskOther);
        Part sum = (part[0] & a.part[0]) + (o.part[0] & b.part[0]);
        for (int i = 1; i < kParts; ++i)
            sum += (part[i] & a.part[i]) + (o.part[i] & b.part[i]);
        if constexpr (sizeof(Count) == 2) {
            sum += __builtin_shufflevector(sum, sum, 4, 5, 6, 7, 0, 1, 2, 3);
            sum += __builtin_shufflevector(sum, sum, 2, 3, 0, 1, 4, 5, 6, 7);
            sum += __builtin_shufflevector(sum, sum, 1, 0, 2, 3, 4, 5, 6, 7);
        } else {
            sum += __builtin_shufflevector(sum, sum, 2, 3, 0, 1);
            sum += __builtin_shufflevector(sum, sum, 1, 0, 2, 3);
        }
        return static_cast<int>(sum[0]);
    }
};

// kLane[m] keeps the first m lanes of a vector.
template <typename Count>
struct Masks {
    static constexpr std::array<std::array<Count, kBins>, kBins + 1> Make()
    {
        std::array<std::array<Count, kBins>, kBins + 1> masks{};
        for (int m = 0; m <= kBins; ++m)
            for (int k = 0; k < kBins; ++k)
                masks[m][k] = k < m ? static_cast<Count>(~Count{0}) : Count{0};
        return masks;
    }
    alignas(64) static constexpr std::array<std::array<Count, kBins>, kBins + 1> kLane = Make();
};

// The running state of one row band: column histograms and the window of the
// current pixel.
template <typename Count, typename Kernel>
class CWindowBand {
    using V = Lanes<Count>;

public:
    CWindowBand(const std::uint8_t* snapshot, int width, int height, int n, const Kernel& kernel)
        : m_snap(snapshot), m_width(width), m_height(height), m_n(n), m_h((n - 1) / 2),
          m_columns(static_cast<std::size_t>(width) + n), m_kernel(kernel)
    {
    }

    bool Allocate()
    {
        // Padded column p holds image column p - h - 1; the window of pixel x
        // covers padded columns x + 1 .. x + n.
        m_fine.reset(new (std::nothrow) Count[kBins * m_columns * kBins]());
        m_coarse.reset(new (std::nothrow) Count[m_columns * kBins]());
        if (Kernel::kCountsBelow)
            m_below.reset(new (std::nothrow) int[m_columns]());
        return m_fine && m_coarse && (!Kernel::kCountsBelow || m_below);
    }

    void Run(int yBegin, int yEnd, std::uint8_t* out)
    {
        // Where level v of padded column 0 sits in the fine table.
        for (unsigned v = 0; v < 256; ++v)
            m_levelOffset[v] = (v >> 4) * m_columns * kBins + (v & 15);
        for (int r = std::max(0, yBegin - m_h); r <= std::min(m_height - 1, yBegin + m_h); ++r)
            CountRow(r);
        for (int y = yBegin; y < yEnd; ++y) {
            if (y > yBegin) {
                if (y - m_h - 1 >= 0 && y + m_h < m_height)
                    MoveRow(y - m_h - 1, y + m_h);
                else if (y - m_h - 1 >= 0)
                    UncountRow(y - m_h - 1);
                else if (y + m_h < m_height)
                    CountRow(y + m_h);
            }
            WalkRow(y, out + static_cast<std::size_t>(y) * m_width);
        }
    }

private:
    const Count* Coarse(std::size_t p) const { return m_coarse.get() + p * kBins; }

    // Adds the row in to the column histograms and takes the row out out of
    // them; either may be null. Both at once is the common case: the window's
    // top row leaves as its new bottom row arrives.
    void UpdateColumns(const std::uint8_t* in, const std::uint8_t* out)
    {
        Count* const fine = m_fine.get();
        Count* const coarse = m_coarse.get();
        int* const below = m_below.get();
        const std::size_t* const offset = m_levelOffset.data();
        const int threshold = m_kernel.threshold;
        for (int c = 0; c < m_width; ++c) {
            const std::size_t p = static_cast<std::size_t>(m_h) + 1 + c;
            if (out) {
                const unsigned v = out[c];
                --fine[offset[v] + p * kBins];
                --coarse[p * kBins + (v >> 4)];
                if constexpr (Kernel::kCountsBelow)
                    below[p] -= static_cast<int>(v) <= threshold;
            }
            if (in) {
                const unsigned v = in[c];
                ++fine[offset[v] + p * kBins];
                ++coarse[p * kBins + (v >> 4)];
                if constexpr (Kernel::kCountsBelow)
                    below[p] += static_cast<int>(v) <= threshold;
            }
        }
    }
    const std::uint8_t* Row(int r) const { return m_snap + static_cast<std::size_t>(r) * m_width; }
    void CountRow(int r) { UpdateColumns(Row(r), nullptr); }
    void UncountRow(int r) { UpdateColumns(nullptr, Row(r)); }
    void MoveRow(int rOut, int rIn) { UpdateColumns(Row(rIn), Row(rOut)); }

    // The running window of one output row. Everything the pixel loop touches
    // is held here, in locals: the byte stores of the results may alias any
    // memory the compiler cannot see is private, and would otherwise force
    // every count back to memory after every pixel.
    struct RowWindow {
        const Kernel kernel;
        const Count* fine;
        const Count* coarseColumns;
        const int* belowColumns;
        int width, n, h, rows;
        V coarse;
        int below;
        V segments[kBins];
        int position[kBins];  // the pixel each fine segment describes

        // Fine segment bin of the window histogram, brought to pixel x: slid
        // over the columns it missed (two columns per step), or summed afresh
        // (n columns) when it is further behind than half a window.
        [[gnu::always_inline]] V Refresh(unsigned bin, int x)
        {
            // gap >= 1: a pixel refreshes one segment, once.
            const int gap = x - position[bin];
            const Count* column = fine + bin * static_cast<std::size_t>(width + n) * kBins;
            V segment;
            if (gap <= h) {
                segment = segments[bin];
                for (int p = position[bin] + 1; p <= x; ++p)
                    segment.Slide(column + static_cast<std::size_t>(p + n) * kBins, column + static_cast<std::size_t>(p) * kBins);
            } else {
                segment = V{};
                const int first = std::max(x + 1, h + 1);
                const int last = std::min(x + n, width + h);
                for (int p = first; p <= last; ++p)
                    segment += V::Load(column + static_cast<std::size_t>(p) * kBins);
            }
            segments[bin] = segment;
            position[bin] = x;
            return segment;
        }

        // The pixels x0 .. x1 - 1; kInterior: all of them have the full n x n
        // window. Slides the coarse window and the threshold count along.
        template <bool kInterior>
        [[gnu::always_inline]] void Walk(const std::uint8_t* row, std::uint8_t* outRow, int x0, int x1)
        {
            for (int x = x0; x < x1; ++x) {
                const unsigned v = row[x];
                if (kernel.Wants(static_cast<std::uint8_t>(v))) {
                    const unsigned bin = v >> 4, level = v & 15;
                    const V segment = Refresh(bin, x);
                    WindowCounts counts;
                    counts.atMost = coarse.MaskedSum(Masks<Count>::kLane[bin].data(), segment, Masks<Count>::kLane[level + 1].data());
                    counts.at = segment[level];
                    counts.below = below;
                    if constexpr (kInterior) {
                        counts.area = n * n;
                        counts.interior = true;
                    } else {
                        const int cols = std::min(width - 1, x + h) - std::max(0, x - h) + 1;
                        counts.area = cols * rows;
                        counts.interior = false;
                    }
                    outRow[x] = kernel.template Map<kInterior>(static_cast<std::uint8_t>(v), counts);
                }
                if (x + 1 < width) {
                    const std::size_t in = static_cast<std::size_t>(x) + 1 + n, out = static_cast<std::size_t>(x) + 1;
                    coarse.Slide(coarseColumns + in * kBins, coarseColumns + out * kBins);
                    if constexpr (Kernel::kCountsBelow)
                        below += belowColumns[in] - belowColumns[out];
                }
            }
        }
    };

    void WalkRow(int y, std::uint8_t* outRow)
    {
        const std::uint8_t* row = m_snap + static_cast<std::size_t>(y) * m_width;
        RowWindow w{m_kernel, m_fine.get(), m_coarse.get(), m_below.get(), m_width, m_n, m_h,
                    std::min(m_height - 1, y + m_h) - std::max(0, y - m_h) + 1, V{}, 0, {}, {}};
        for (int p = 1; p <= m_n; ++p)
            w.coarse += V::Load(Coarse(p));
        if constexpr (Kernel::kCountsBelow)
            for (int p = 1; p <= m_n; ++p)
                w.below += m_below[p];
        // The column histograms moved since the last row: every fine segment is stale.
        std::fill(std::begin(w.position), std::end(w.position), INT_MIN / 2);

        if (w.rows == m_n) {
            w.template Walk<false>(row, outRow, 0, m_h);
            w.template Walk<true>(row, outRow, m_h, m_width - m_h);
            w.template Walk<false>(row, outRow, m_width - m_h, m_width);
        } else {
            w.template Walk<false>(row, outRow, 0, m_width);
        }
    }

    const std::uint8_t* m_snap;
    int m_width, m_height, m_n, m_h;
    std::size_t m_columns;
    const Kernel& m_kernel;
    std::unique_ptr<Count[]> m_fine;    // [bin][padded column][16 levels]
    std::unique_ptr<Count[]> m_coarse;  // [padded column][bin]
    std::unique_ptr<int[]> m_below;     // [padded column]: levels <= threshold
    std::array<std::size_t, 256> m_levelOffset{};
};

// Small windows are counted directly: every pixel compares its level with
// the levels of its window, 16 neighbouring pixels at a time in byte lanes (a
// count of at most 15 * 15 = 225 fits a byte), which for n up to kDirectMax
// costs less than keeping histograms. Only the pixels whose window is cut at
// the left or right edge, and the few left over after the last group of 16,
// are counted one at a time.
inline constexpr int kDirectMax = 15;
static_assert(kDirectMax == 15, "CountDirectly is instantiated for every odd n from 3 to 15");

template <int n, typename Kernel>
void CountDirectly(const std::uint8_t* snap, std::uint8_t* out, int width, int height, int yBegin, int yEnd, const Kernel& kernel)
{
    typedef std::uint8_t Bytes __attribute__((vector_size(16)));
    typedef std::uint8_t BytesInPlace __attribute__((vector_size(16), may_alias, aligned(1)));
    const int h = (n - 1) / 2;
    auto row = [&](int y) { return snap + static_cast<std::size_t>(y) * width; };

    // One pixel at a time: its cut window counted level by level.
    auto countOne = [&](int x, int y) {
        const std::uint8_t v = row(y)[x];
        if (!kernel.Wants(v))
            return;
        const int x0 = std::max(0, x - h), x1 = std::min(width - 1, x + h);
        const int y0 = std::max(0, y - h), y1 = std::min(height - 1, y + h);
        WindowCounts counts{0, 0, 0, (x1 - x0 + 1) * (y1 - y0 + 1), x1 - x0 + 1 == n && y1 - y0 + 1 == n};
        for (int r = y0; r <= y1; ++r) {
            for (int c = x0; c <= x1; ++c) {
                const std::uint8_t level = row(r)[c];
                counts.atMost += level <= v;
                counts.at += level == v;
                if constexpr (Kernel::kCountsBelow)
                    counts.below += level <= kernel.threshold;
            }
        }
        out[static_cast<std::size_t>(y) * width + x] = kernel.template Map<false>(v, counts);
    };

    const Bytes threshold = Bytes{} + static_cast<std::uint8_t>(Kernel::kCountsBelow ? kernel.threshold : 0);
    const Bytes one = Bytes{} + 1;
    for (int y = yBegin; y < yEnd; ++y) {
        // Rows cut at the top and bottom of the image; the columns of the
        // pixels h .. width - h - 1 are never cut.
        const int r0 = std::max(0, y - h), r1 = std::min(height - 1, y + h);
        const int rows = r1 - r0 + 1;
        int x = 0;
        for (; x < h; ++x)
            countOne(x, y);
        for (; x + 16 <= width - h; x += 16) {
            const Bytes centre = *reinterpret_cast<const BytesInPlace*>(row(y) + x);
            Bytes atMost{}, at{}, below{};
            for (int r = r0; r <= r1; ++r) {
                const std::uint8_t* first = row(r) + x - h;
                for (int c = 0; c < n; ++c) {
                    const Bytes level = *reinterpret_cast<const BytesInPlace*>(first + c);
                    atMost += reinterpret_cast<Bytes>(level <= centre) & one;
                    if constexpr (Kernel::kCountsAt)
                        at += reinterpret_cast<Bytes>(level == centre) & one;
                    if constexpr (Kernel::kCountsBelow)
                        below += reinterpret_cast<Bytes>(level <= threshold) & one;
                }
            }
            std::uint8_t* target = out + static_cast<std::size_t>(y) * width + x;
            for (int lane = 0; lane < 16; ++lane) {
                const std::uint8_t v = centre[lane];
                if (!kernel.Wants(v))
                    continue;
                const WindowCounts counts{atMost[lane], at[lane], below[lane], n * rows, rows == n};
                target[lane] = rows == n ? kernel.template Map<true>(v, counts) : kernel.template Map<false>(v, counts);
            }
        }
        for (; x < width; ++x)
            countOne(x, y);
    }
}

template <typename Count, typename Kernel>
bool RunBands(const std::uint8_t* snapshot, std::uint8_t* out, int width, int height, int n, const Kernel& kernel)
{
    std::atomic<bool> failed{false};
    // A band first fills its column histograms over about n rows; bands of at
    // least n / 2 rows keep that set-up small beside the band's own work, and
    // bands of at least 16384 pixels pay for starting a thread.
    const int minRows = std::max({8, n / 2, (16384 + width - 1) / width});
    ParallelForBands(height, minRows, [&](int yBegin, int yEnd) {
        CWindowBand<Count, Kernel> band(snapshot, width, height, n, kernel);
        if (!band.Allocate()) {
            failed = true;
            return;
        }
        band.Run(yBegin, yEnd, out);
    });
    return !failed;
}

}  // namespace detail

// No vector twin: the portable walk only.
struct NoVectorKernel {};

// Rewrites every pixel of image that kernel.Wants with kernel.Map of its
// window counts. The caller has checked the pixel buffer and the window size.
// vectorKernel, the same mapping eight pixels at a time (local_window_strips.h),
// serves the wider windows where the processor has AVX-512.
// unchanged, when not null, holds exactly the image's pixels (checked by the
// caller) and serves as the snapshot, so no copy and no second buffer is made.
// Returns false, pixels unchanged, after "Out of memory!" when the snapshot (the
// strip walk's result buffer) or a band's tables cannot be had.
template <typename Kernel, typename VectorKernel = NoVectorKernel>
bool Equalize(CDibImage& image, int n, const Kernel& kernel, [[maybe_unused]] const VectorKernel& vectorKernel = {},
              const std::uint8_t* unchanged = nullptr)
{
    const std::size_t count = image.PixelCount();
    if constexpr (!std::is_same_v<VectorKernel, NoVectorKernel>) {
        if (unchanged && n >= strips::kMinWindow && n <= strips::kMaxWindow && strips::Supported()) {
            // An unchanged copy of the pixels is the snapshot; the result goes
            // straight to the image's own buffer.
            if (!strips::Equalize(unchanged, image.m_pBits.get(), image.m_nWidth, image.m_nHeight, n, vectorKernel)) {
                image.CopyPixelsFrom(unchanged);
                ShowMessage(kOutOfMemoryMessage);
                return false;
            }
            return true;
        }
        if (n >= strips::kMinWindow && n <= strips::kMaxWindow && strips::Supported()) {
            // The strip walk writes every pixel, so the pixels themselves are
            // the snapshot and the result goes to a fresh buffer that then
            // replaces them: no copy of the image.
            std::unique_ptr<std::uint8_t[]> result = TryMakeLargeArray<std::uint8_t>(count);
            if (!result || !strips::Equalize(image.m_pBits.get(), result.get(), image.m_nWidth, image.m_nHeight, n, vectorKernel)) {
                ShowMessage(kOutOfMemoryMessage);
                return false;
            }
            image.m_pBits = std::move(result);
            return true;
        }
    }
    // The snapshot: the unchanged copy where there is one, else a copy made here.
    std::unique_ptr<std::uint8_t[]> copy;
    if (!unchanged) {
        copy = TryMakeLargeArray<std::uint8_t>(count);
        if (!copy) {
            ShowMessage(kOutOfMemoryMessage);
            return false;
        }
        image.CopyPixelsTo(copy.get());
    }
    const std::uint8_t* snapshot = unchanged ? unchanged : copy.get();
    std::uint8_t* out = image.m_pBits.get();
    if (n <= detail::kDirectMax) {
        const int width = image.m_nWidth, height = image.m_nHeight;
        ParallelForBands(height, std::max(8, (16384 + width - 1) / width), [&](int yBegin, int yEnd) {
            // A window size known at compile time unrolls the n x n comparisons.
            const std::uint8_t* snap = snapshot;
            switch (n) {
            case 3: detail::CountDirectly<3>(snap, out, width, height, yBegin, yEnd, kernel); break;
            case 5: detail::CountDirectly<5>(snap, out, width, height, yBegin, yEnd, kernel); break;
            case 7: detail::CountDirectly<7>(snap, out, width, height, yBegin, yEnd, kernel); break;
            case 9: detail::CountDirectly<9>(snap, out, width, height, yBegin, yEnd, kernel); break;
            case 11: detail::CountDirectly<11>(snap, out, width, height, yBegin, yEnd, kernel); break;
            case 13: detail::CountDirectly<13>(snap, out, width, height, yBegin, yEnd, kernel); break;
            default: detail::CountDirectly<15>(snap, out, width, height, yBegin, yEnd, kernel); break;
            }
        });
        return true;
    }
    const bool done = n <= 255
        ? detail::RunBands<std::uint16_t>(snapshot, out, image.m_nWidth, image.m_nHeight, n, kernel)
        : detail::RunBands<std::uint32_t>(snapshot, out, image.m_nWidth, image.m_nHeight, n, kernel);
    if (!done) {
        image.CopyPixelsFrom(snapshot);
        ShowMessage(kOutOfMemoryMessage);
        return false;
    }
    return true;
}

}  // namespace local_window
