#include "core/dib_image.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <vector>

#include "core/large_buffer.h"
#include "core/messages.h"
#include "core/parallel.h"

CDibImage::CDibImage() = default;

CDibImage::~CDibImage() = default;

void CDibImage::CopyPixelsTo(std::uint8_t* dst) const
{
    std::memcpy(dst, m_pBits.get(), PixelCount());
}

void CDibImage::CopyPixelsFrom(const std::uint8_t* src)
{
    std::memcpy(m_pBits.get(), src, PixelCount());
}

bool CDibImage::ComputeHistogram()
{
    if (!m_pBits) {
        ShowMessage("Histogram error");
        return false;
    }
    if (!m_pHistogram)
        m_pHistogram = std::make_unique<std::array<int, 256>>();
    std::array<int, 256>& histogram = *m_pHistogram;
    histogram.fill(0);

    // Each band of rows counts into its own tables and the bands are added up
    // afterwards: integer sums, so the counts never depend on the split. Within
    // a band eight interleaved tables break the store-to-load chain when
    // neighbouring pixels share a level, the common case in photographs (four
    // left a 6-cycle chain per four pixels on runs of equal levels).
    constexpr int kTables = 8;
    const std::uint8_t* pixels = m_pBits.get();
    const int width = m_nWidth;
    const int rows = m_nHeight;
    const int bands = std::max(1, std::min(WorkerThreadCount(), rows / 256));
    std::vector<std::array<int, 256>> bandCounts(static_cast<std::size_t>(bands));
    ParallelForBands(bands, 1, [&](int first, int end) {
        for (int band = first; band < end; ++band) {
            const std::size_t begin = static_cast<std::size_t>(static_cast<long long>(rows) * band / bands) * width;
            const std::size_t stop = static_cast<std::size_t>(static_cast<long long>(rows) * (band + 1) / bands) * width;
            std::array<std::array<int, 256>, kTables> partial{};
            const std::uint8_t* p = pixels;
            std::size_t i = begin;
            for (; i + kTables <= stop; i += kTables)
                for (int t = 0; t < kTables; ++t)
                    ++partial[t][p[i + t]];
            for (; i < stop; ++i)
                ++partial[0][p[i]];
            std::array<int, 256>& out = bandCounts[static_cast<std::size_t>(band)];
            out.fill(0);
            for (const std::array<int, 256>& table : partial)
                for (int level = 0; level < 256; ++level)
                    out[level] += table[level];
        }
    });
    for (const std::array<int, 256>& counts : bandCounts)
        for (int level = 0; level < 256; ++level)
            histogram[level] += counts[level];
    return true;
}

void CDibImage::ComputeRange()
{
    if (!ComputeHistogram())
        return;
    const std::array<int, 256>& histogram = *m_pHistogram;
    m_nMaxLevel = m_pBits[0];
    m_nMinLevel = m_pBits[0];
    for (int i = 0; i < 256; ++i) {
        if (histogram[i] <= 0)
            continue;
        if (i > m_nMaxLevel)
            m_nMaxLevel = static_cast<std::uint8_t>(i);
        else if (i < m_nMinLevel)
            m_nMinLevel = static_cast<std::uint8_t>(i);
    }
}

bool CDibImage::CopyFrom(CDibImage* src)
{
    if (src == nullptr || src == this)
        return false;
    if (!src->HasPixels())
        src->ConvertToGray();
    // A source that still has no gray face cannot be copied; the caller sees
    // the failure instead of an image whose buffer does not exist.
    if (!src->HasPixels())
        return false;

    std::unique_ptr<std::uint8_t[]> bits = TryMakeLargeArray<std::uint8_t>(src->PixelCount());
    if (!bits)
        return false;
    std::memcpy(bits.get(), src->m_pBits.get(), src->PixelCount());

    m_nWidth = src->m_nWidth;
    m_nHeight = src->m_nHeight;
    m_nMaxLevel = src->m_nMaxLevel;
    m_nMinLevel = src->m_nMinLevel;
    m_pBitmap.reset();
    m_pHistogram.reset();  // the copy recounts when asked
    m_pBits = std::move(bits);
    return true;
}

bool CDibImage::CreateGray(int width, int height)
{
    if (width < 0 || height < 0)
        return false;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::unique_ptr<std::uint8_t[]> bits = TryMakeLargeArray<std::uint8_t>(count);
    if (!bits)
        return false;
    std::fill_n(bits.get(), count, std::uint8_t{0});
    m_pBitmap.reset();
    m_pHistogram.reset();
    m_pBits = std::move(bits);
    m_nWidth = width;
    m_nHeight = height;
    m_nMinLevel = 0;
    m_nMaxLevel = 0;
    return true;
}

const std::uint8_t* CDibImage::SamePixelsIn(const CDibImage* other) const
{
    if (!other || other == this || !other->m_pBits || !m_pBits || other->m_nWidth != m_nWidth ||
        other->m_nHeight != m_nHeight || other->m_pBits.get() == m_pBits.get())
        return nullptr;
    // Comparing 12 MB costs as much as a whole pass of some operations, so
    // release builds trust the caller.
    assert(std::memcmp(other->m_pBits.get(), m_pBits.get(), PixelCount()) == 0);
    return other->m_pBits.get();
}
