// JPEG reader over libjpeg-turbo's classic API; the rules are listed in jpeg_read.h.
//
// libjpeg reports a fatal error by calling error_exit, which must not return.
// Ours jumps back to DecodeJpeg with longjmp. The jump must never skip a C++
// destructor, so DecodeJpeg keeps only C structures in its frame, the output
// raster is owned by the caller, libjpeg's own pool holds the row buffer, and
// everything that may throw runs in small helpers that catch what they throw.
#include "core/jpeg_read.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <new>

#include <jpeglib.h>
// After jpeglib.h: which messages exist depends on its configuration.
#include <jerror.h>

#include "core/decode_limits.h"
#include "core/large_buffer.h"

namespace {

// Real files have about ten scans; thousands of tiny scans only burn time.
constexpr int kMaxScans = 500;

// libjpeg's working memory beyond its coefficient buffer (tables, row groups).
constexpr long kJpegBaseMemory = 16L << 20;

struct JpegErrorManager {
    jpeg_error_mgr pub;  // first member: libjpeg sees only this part
    std::jmp_buf jump;
};

[[noreturn]] void FailDecoding(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings after which libjpeg goes on with made-up data (gray blocks, zero
// coefficients): the picture would be wrong, so the file is refused.
bool IsDamageWarning(int code)
{
    switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_NOT_SEQUENTIAL:
        return true;
    default:
        return false;
    }
}

// Warnings (level -1) and trace messages (level >= 0); nothing is printed.
void OnMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    if (IsDamageWarning(cinfo->err->msg_code))
        FailDecoding(cinfo);
    ++cinfo->err->num_warnings;
}

void OnOutputMessage(j_common_ptr) {}

void OnProgress(j_common_ptr cinfo)
{
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        FailDecoding(cinfo);
}

// Pixel count after padding to whole MCUs, which is what libjpeg's
// coefficient buffers cover.
std::uint64_t PaddedPixels(const jpeg_decompress_struct& cinfo)
{
    int maxH = 1;
    int maxV = 1;
    for (int c = 0; c < cinfo.num_components; ++c) {
        maxH = std::max(maxH, cinfo.comp_info[c].h_samp_factor);
        maxV = std::max(maxV, cinfo.comp_info[c].v_samp_factor);
    }
    const std::uint64_t mcuWidth = 8 * static_cast<std::uint64_t>(maxH);
    const std::uint64_t mcuHeight = 8 * static_cast<std::uint64_t>(maxV);
    const std::uint64_t width = (cinfo.image_width + mcuWidth - 1) / mcuWidth * mcuWidth;
    const std::uint64_t height = (cinfo.image_height + mcuHeight - 1) / mcuHeight * mcuHeight;
    return width * height;
}

// The raster's memory is reserved once and its rows are made as scanlines
// arrive, so a file that ends early never touches the pages of the rows it lacks.
bool ReserveRaster(CRgbRaster& out, int width, int height) noexcept
{
    try {
        out.width = width;
        out.height = height;
        out.rgb.clear();
        const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
        out.rgb.reserve(bytes);
        AdviseLargeBuffer(out.rgb.data(), bytes);
        return true;
    } catch (...) {
        return false;
    }
}

bool GrowRaster(CRgbRaster& out, std::size_t rows) noexcept
{
    try {
        out.rgb.resize(rows * static_cast<std::size_t>(out.width) * 3);
        return true;
    } catch (...) {
        return false;
    }
}

std::uint8_t MultiplyRounded(unsigned a, unsigned b)
{
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

void CmykRowToRgb(const JSAMPLE* cmyk, int width, bool adobeInverted, std::uint8_t* rgb)
{
    for (int x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        unsigned c = cmyk[0];
        unsigned m = cmyk[1];
        unsigned y = cmyk[2];
        unsigned k = cmyk[3];
        if (!adobeInverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        rgb[0] = MultiplyRounded(c, k);
        rgb[1] = MultiplyRounded(m, k);
        rgb[2] = MultiplyRounded(y, k);
    }
}

}  // namespace

bool HasJpegSignature(const std::uint8_t* data, std::size_t size)
{
    return data != nullptr && size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
}

bool DecodeJpeg(const std::uint8_t* data, std::size_t size, CRgbRaster& out)
{
    if (!HasJpegSignature(data, size))
        return false;

    jpeg_decompress_struct cinfo{};
    JpegErrorManager error{};
    jpeg_progress_mgr progress{};
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = FailDecoding;
    error.pub.emit_message = OnMessage;
    error.pub.output_message = OnOutputMessage;
    progress.progress_monitor = OnProgress;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);

    // Refuse before libjpeg allocates anything for the picture.
    const std::uint64_t pixels = std::uint64_t{cinfo.image_width} * cinfo.image_height;
    const std::uint64_t padded = PaddedPixels(cinfo);
    bool acceptable = pixels > 0 && padded <= PixelBudgetForFile(size);
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
        cinfo.out_color_space = JCS_RGB;  // libjpeg turns gray into r = g = b
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        break;
    default:
        acceptable = false;
        break;
    }
    if (!acceptable) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.mem->max_memory_to_use = kJpegBaseMemory + static_cast<long>(8 * padded);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    jpeg_start_decompress(&cinfo);

    const int width = static_cast<int>(cinfo.output_width);
    const int height = static_cast<int>(cinfo.output_height);
    const bool cmyk = cinfo.out_color_space == JCS_CMYK;
    if (cinfo.output_components != (cmyk ? 4 : 3) || !ReserveRaster(out, width, height)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const bool adobeInverted = cinfo.saw_Adobe_marker;
    JSAMPARRAY cmykRow = nullptr;
    if (cmyk)
        cmykRow = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, cinfo.output_width * 4, 1);

    while (cinfo.output_scanline < cinfo.output_height) {
        const int row = static_cast<int>(cinfo.output_scanline);
        if (!GrowRaster(out, static_cast<std::size_t>(row) + 1)) {
            jpeg_destroy_decompress(&cinfo);
            return false;
        }
        JSAMPROW target = cmyk ? cmykRow[0] : out.Row(row);
        if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) {
            jpeg_destroy_decompress(&cinfo);
            return false;
        }
        if (cmyk)
            CmykRowToRgb(cmykRow[0], width, adobeInverted, out.Row(row));
    }
    // Reads on to the end-of-image marker, so damage after the last row is seen too.
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}
