// CDibImage: the one image type of Lumivex.
//
// An image holds a single 8-bit grayscale picture as a packed buffer of gray
// levels, m_nWidth x m_nHeight bytes with no row padding. Row 0 is the BOTTOM
// row of the picture and row indices grow upward; column 0 is the left edge.
// The level of column x in row y is m_pBits[y * m_nWidth + x]. Every
// enhancement operation reads and writes this buffer in place.
//
// Before its gray face exists (after LoadFromFile, before ConvertToGray) the
// image holds the decoded colour raster in m_pBitmap, so a picture whose gray
// conversion failed can still be shown.
//
// Operations return non-zero for success and 0 for failure; a failure the
// user must see is reported through ShowMessage (core/messages.h) where it is
// detected. Nothing here throws to the caller.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "core/clamp_to_byte.h"
#include "core/rgb_raster.h"

class CDibImage {
public:
    CDibImage();
    virtual ~CDibImage();
    CDibImage(const CDibImage&) = delete;             // copies go through CopyFrom
    CDibImage& operator=(const CDibImage&) = delete;

    // --- Pixel store (dib_image.cpp) -------------------------------------
    bool HasPixels() const { return m_pBits != nullptr; }
    // No bounds check: 0 <= x < m_nWidth, 0 <= y < m_nHeight (y = 0 is the bottom row).
    std::uint8_t GetPixel(int x, int y) const { return m_pBits[static_cast<std::size_t>(y) * m_nWidth + x]; }
    void CopyPixelsTo(std::uint8_t* dst) const;
    void CopyPixelsFrom(const std::uint8_t* src);
    std::size_t PixelCount() const { return static_cast<std::size_t>(m_nWidth) * static_cast<std::size_t>(m_nHeight); }
    // Recounts m_pHistogram from the current pixels; "Histogram error" without pixels.
    bool ComputeHistogram();
    // Histogram, then the lowest and highest occupied levels.
    void ComputeRange();
    // Makes this image an independent gray copy of src (converting src first if needed).
    bool CopyFrom(CDibImage* src);
    // Gives the image a gray face of the given size, all levels 0 (for tests, benches, tools).
    bool CreateGray(int width, int height);

    // --- Import (image_import.cpp) ---------------------------------------
    // Reads and decodes a BMP or JPEG file into the colour raster. At most once per image.
    bool LoadFromFile(const std::string& path);
    // Decodes an in-memory BMP or JPEG file into the colour raster (what LoadFromFile does after reading).
    bool LoadFromMemory(const std::uint8_t* data, std::size_t size);
    // Weighs the colour raster into the gray face: ClampToByte(float(s * 0.01f * 255 / 255)).
    bool ConvertToGray();

    // --- Export (bmp_write.cpp) -------------------------------------------
    // Writes an 8-bit gray BMP, bottom-up rows padded to 4 bytes. Never leaves a
    // partial file: the bytes go to a temporary file that replaces path on success.
    bool SaveAsBmp(const std::string& path) const;

    // --- Neighbourhood operators (box_filter.cpp, gradient_map.cpp) --------
    // Plane of n x n box means: half-up rounding inside, truncation in the border band.
    std::unique_ptr<std::uint8_t[]> BoxFilter(int n) const;
    // Plane of signed 3 x 3 edge strengths, -255..255, outermost rows and columns 0.
    std::unique_ptr<float[]> GradientMap() const;

    // --- Point operations (algorithms/point_operations.cpp) ---------------
    int Stretch(int percentage);
    int GammaCorrect(float gamma);

    // --- Global histogram equalization (algorithms/ghe.cpp) ---------------
    int Ghe();
    int Tghe(int threshold);

    // --- Local equalizations (algorithms/ahe.cpp, algorithms/clhe.cpp) ----
    int Ahe(int windowSize);
    int Tahe(int windowSize, int threshold);
    int Clhe(int windowSize, float alpha);
    // The same; unchanged, when given, must hold exactly this image's levels
    // (the source a command's working copy was made from): the windows are then
    // counted there and the image needs no second whole-image buffer. One of
    // another size, or the image itself, is ignored.
    int Ahe(int windowSize, const CDibImage* unchanged);
    int Tahe(int windowSize, int threshold, const CDibImage* unchanged);
    int Clhe(int windowSize, float alpha, const CDibImage* unchanged);

    // --- Spatial filters (algorithms/unsharp_mask.cpp, three_channel_filter.cpp, jgace.cpp)
    int UnsharpMask(int maskSize, float gain);
    int ThreeChannelFilter(float K, float K1, float K2, int nonlinear, std::uint8_t BLOW, std::uint8_t BHI);
    int Jgace(int d, int JND0, float gamma);
    // The same; unchanged, when given, must hold exactly this image's levels
    // (the source a command's working copy was made from): they are read from
    // there and the image needs no second whole-image buffer. One of another
    // size, or the image itself, is ignored.
    int Jgace(int d, int JND0, float gamma, const CDibImage* unchanged);

    // The pixels of other, for the operations above that take an unchanged copy:
    // null unless other is a different image of the same size with a buffer of
    // its own. The caller vouches that its levels are this image's (the command
    // pipeline passes the source it has just copied); builds with assertions
    // compare them, so the tests check every such call.
    const std::uint8_t* SamePixelsIn(const CDibImage* other) const;

    // --- Members ---------------------------------------------------------
    // The decoded colour picture until the gray face replaces it; null otherwise.
    std::unique_ptr<CRgbRaster> m_pBitmap;
    // Packed gray levels, row 0 at the bottom; null until the gray face exists.
    std::unique_ptr<std::uint8_t[]> m_pBits;
    int m_nWidth = 0;
    int m_nHeight = 0;
    // 256 counts, allocated by the first ComputeHistogram and reused afterwards.
    std::unique_ptr<std::array<int, 256>> m_pHistogram;
    std::uint8_t m_nMaxLevel = 0;
    std::uint8_t m_nMinLevel = 0;

private:
    // True once LoadFromFile has been tried: an image is loaded at most once.
    bool m_bLoadTried = false;
};
