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
#include "core/gray_weights.h"
#include "core/large_buffer.h"

namespace {

// Real files have about ten scans; thousands of tiny scans only burn time.
constexpr int kMaxScans = 500;

// libjpeg's working memory beyond its coefficient buffer (tables, row groups).
constexpr long kJpegBaseMemory = 16L << 20;

// Colour rows decoded per call: enough to amortise the call, few enough that
// they stay in the cache until they are weighed.
constexpr int kBatchRows = 16;

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

// The gray face is allocated before the first scanline; its pages are touched
// as rows arrive, so a file that ends early never touches those it lacks.
bool MakeGrayFace(CRgbRaster& out, int width, int height) noexcept
{
    out.width = width;
    out.height = height;
    out.rgb.clear();
    out.gray = TryMakeLargeArray<std::uint8_t>(out.PixelCount());
    return out.gray != nullptr;
}

std::uint8_t MultiplyRounded(unsigned a, unsigned b)
{
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

void CmykRowToGray(const JSAMPLE* cmyk, int width, bool adobeInverted, std::uint8_t* gray)
{
    for (int x = 0; x < width; ++x, cmyk += 4) {
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
        gray[x] = GrayOfColour(MultiplyRounded(c, k), MultiplyRounded(m, k), MultiplyRounded(y, k));
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
        // r = g = b = the sample, whose gray level is the sample itself.
        cinfo.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        // The same colours as JCS_RGB, padded to four bytes for the weighing.
        cinfo.out_color_space = JCS_EXT_RGBX;
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
    const int components = cinfo.out_color_space == JCS_GRAYSCALE ? 1 : 4;
    if (cinfo.output_components != components || !MakeGrayFace(out, width, height)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const bool cmyk = cinfo.out_color_space == JCS_CMYK;
    const bool adobeInverted = cinfo.saw_Adobe_marker;
    // Colour rows are decoded a few at a time into libjpeg's pool and weighed
    // at once, while they are in the cache; gray rows go straight to their place.
    JSAMPARRAY colourRows = nullptr;
    if (components == 4)
        colourRows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                cinfo.output_width * 4, kBatchRows);

    while (cinfo.output_scanline < cinfo.output_height) {
        const int first = static_cast<int>(cinfo.output_scanline);
        const int wanted = std::min(kBatchRows, height - first);
        JSAMPROW targets[kBatchRows];
        for (int i = 0; i < wanted; ++i)
            targets[i] = colourRows ? colourRows[i] : out.GrayRow(first + i);
        const int got = static_cast<int>(jpeg_read_scanlines(&cinfo, targets, static_cast<JDIMENSION>(wanted)));
        if (got <= 0) {
            jpeg_destroy_decompress(&cinfo);
            return false;
        }
        for (int i = 0; colourRows && i < got; ++i) {
            if (cmyk)
                CmykRowToGray(colourRows[i], width, adobeInverted, out.GrayRow(first + i));
            else
                WeighRgbxRow(colourRows[i], static_cast<std::size_t>(width), out.GrayRow(first + i));
        }
    }
    // Reads on to the end-of-image marker, so damage after the last row is seen too.
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}
