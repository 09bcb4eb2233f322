// Box means one row at a time, for operations that use each mean row at once
// instead of keeping whole mean planes (core/box_filter.cpp holds the rules).
//
// A whole-image mean plane costs a 12 MB write, a 12 MB re-read and, on fresh
// memory, thousands of page faults; a consumer that mixes or writes each row as
// soon as it exists needs only a few kilobytes of running sums and row buffers.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/box_quotient.h"

// Which code computes the central means: the fastest the processor allows, or
// the portable code every x86-64 runs (the tests compare both with the rule).
enum class BoxKernel { Best, Portable };

// What every stream of one mask size over one image shares: geometry and the
// quotient of the central rule.
class CBoxPlan {
public:
    CBoxPlan(int width, int height, int n, BoxKernel kernel = BoxKernel::Best);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int Size() const { return m_n; }
    // How far from row y the rows read for its means lie: y - Below() .. y + Above().
    int Below() const { return m_half + 1; }
    int Above() const { return m_half + (m_n % 2 == 0 ? 1 : 0); }
    // True when the central means use the 16-lane vector code.
    bool Vector() const { return m_vector; }

private:
    friend class CBoxRows;
    int m_width;
    int m_height;
    int m_n;
    int m_half;
    bool m_centralDefined;
    bool m_vector;
    CBoxMagic32 m_magic;
    CBoxQuotient m_quotient;
};

// The means of rows firstRow, firstRow + 1, ... of one image, in that order.
// rows[r] points at the width levels of row r for every row of the image. The
// table is read each time a row is needed, so a caller that overwrites a row may
// point its entry at a copy of the original levels instead.
class CBoxRows {
public:
    CBoxRows(const CBoxPlan& plan, const std::uint8_t* const* rows, int firstRow);

    // Writes the width means of row NextRow() to out and moves on by one row.
    void Next(std::uint8_t* out);
    int NextRow() const { return m_y; }

private:
    const std::uint8_t* Row(int r) const { return m_rows[r]; }
    void Move(std::vector<std::uint32_t>& sums, int enter, int leave) const;

    const CBoxPlan& m_plan;
    const std::uint8_t* const* m_rows;
    int m_y;
    // Band rows [m_bandFirst, m_bandLast]: the mask of row y clipped to the image.
    std::vector<std::uint32_t> m_bandSum;
    int m_bandFirst = 0;
    int m_bandLast = -1;
    // Central rows [m_top, m_top + n) for even n, whose mask is not centred.
    std::vector<std::uint32_t> m_centralSum;
    int m_top = 0;
};

// One call per image row: y, the mean rows of the masks asked for (means[i] for
// masks[i], computed from the original levels), and the image row y itself,
// which the consumer may overwrite.
using BoxRowConsumer = std::function<void(int y, const std::uint8_t* const* means, std::uint8_t* row)>;

// Streams the means of one or more mask sizes over an image that its consumer
// rewrites in place. Row bands run on several cores; makeConsumer(firstRow,
// endRow) is called once per band, on the band's thread, and its consumer then
// sees the rows of that band in ascending order. Each band starts its sums
// afresh from the original levels (saved where a neighbour may already have
// overwritten them), so the means never depend on the number of bands.
void StreamBoxMeansInPlace(std::uint8_t* pixels, int width, int height, std::span<const int> masks,
                           const std::function<BoxRowConsumer(int firstRow, int endRow)>& makeConsumer,
                           BoxKernel kernel = BoxKernel::Best, int bands = 0);
