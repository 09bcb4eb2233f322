// Import: file -> decoded colour raster -> gray face.
//
// LoadFromFile reads the whole file with one read and hands the bytes to the
// decoder; LoadFromMemory picks BMP or JPEG by the bytes themselves (a file
// named .jpg that holds a BMP is a BMP); ConvertToGray weighs the colour
// raster into the packed gray buffer, turning the top-down raster rows into
// the bottom-up buffer order (the JPEG reader hands over a raster that is
// already weighed; see core/rgb_raster.h).
//
// The gray rule, for 8-bit channels (channel maximum M = 255):
//   s = 30 r + 59 g + 11 b                 (exact integer, 0..25500)
//   v = s * double(0.01f) * 255 / 255      (double; 0.01f is slightly below 1/100)
//   gray = ClampToByte(float(v))
// which equals (30 r + 59 g + 11 b + 50) / 100 with the remainder dropped, for
// every r, g, b (core/gray_weights.h). Pure red gives 77 (76.5 goes up), green
// 150, blue 28.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <new>

#include "core/bmp_read.h"
#include "core/decode_limits.h"
#include "core/gray_weights.h"
#include "core/dib_image.h"
#include "core/jpeg_read.h"
#include "core/large_buffer.h"
#include "core/messages.h"
#include "core/parallel.h"

namespace {

// The decode operation that stands in for the platform's picture decoder.
std::unique_ptr<CRgbRaster> DecodePicture(const std::uint8_t* data, std::size_t size)
{
    try {
        auto raster = std::make_unique<CRgbRaster>();
        bool decoded = false;
        if (HasBmpSignature(data, size))
            decoded = DecodeBmp(data, size, *raster);
        else if (HasJpegSignature(data, size))
            decoded = DecodeJpeg(data, size, *raster);
        if (!decoded || !raster->Complete())
            return nullptr;
        return raster;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Closes a descriptor on every path out of LoadFromFile.
struct CFileDescriptor {
    int fd = -1;
    ~CFileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The whole file in one buffer; false for files that cannot be opened, are
// not regular files, are empty or are beyond kMaxImageFileBytes.
bool ReadWholeFile(const std::string& path, std::unique_ptr<std::uint8_t[]>& bytes, std::size_t& size)
{
    CFileDescriptor file;
    // O_NONBLOCK keeps a FIFO from blocking the open; regular files ignore it.
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file.fd < 0)
        return false;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (info.st_size <= 0 || static_cast<std::uint64_t>(info.st_size) > kMaxImageFileBytes)
        return false;
    size = static_cast<std::size_t>(info.st_size);
    bytes.reset(new (std::nothrow) std::uint8_t[size]);
    if (!bytes)
        return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(file.fd, bytes.get() + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    // A file that shrank while being read is not the file that was measured.
    return done == size;
}

}  // namespace

bool CDibImage::LoadFromFile(const std::string& path)
{
    // An image is loaded at most once, and never over a gray face of its own;
    // a file that cannot be read uses up that one load like a bad picture does.
    if (m_bLoadTried || m_pBitmap || m_pBits)
        return false;
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    if (!ReadWholeFile(path, bytes, size)) {
        m_bLoadTried = true;
        return false;
    }
    return LoadFromMemory(bytes.get(), size);
}

bool CDibImage::LoadFromMemory(const std::uint8_t* data, std::size_t size)
{
    if (m_bLoadTried || m_pBitmap || m_pBits)
        return false;
    m_bLoadTried = true;
    std::unique_ptr<CRgbRaster> raster = DecodePicture(data, size);
    if (!raster)
        return false;
    m_nWidth = raster->width;
    m_nHeight = raster->height;
    m_pBitmap = std::move(raster);
    return true;
}

bool CDibImage::ConvertToGray()
{
    if (!m_pBitmap || !m_pBitmap->Complete())
        return false;
    CRgbRaster& raster = *m_pBitmap;
    const int width = raster.width;
    const int height = raster.height;

    std::unique_ptr<std::uint8_t[]> bits;
    if (raster.gray) {
        // Weighed while decoding: the face is already the finished buffer.
        bits = std::move(raster.gray);
    } else {
        try {
            bits = MakeLargeArray<std::uint8_t>(raster.PixelCount());
        } catch (const std::bad_alloc&) {
            // The colour raster stays, so the conversion can be tried again.
            ShowMessage("Out of memory!");
            return false;
        }
        std::uint8_t* out = bits.get();
        // Buffer row y is raster row height - 1 - y: the buffer starts at the bottom.
        ParallelForBands(height, std::max(1, (1 << 18) / width), [&raster, out, width, height](int begin, int end) {
            for (int y = begin; y < end; ++y)
                WeighRgbRow(raster.Row(height - 1 - y), static_cast<std::size_t>(width),
                            out + static_cast<std::size_t>(y) * width);
        });
    }

    m_nWidth = width;
    m_nHeight = height;
    m_pBits = std::move(bits);
    m_pBitmap.reset();
    m_pHistogram.reset();
    return true;
}
