// Import: file -> decoded colour raster -> gray face.
//
// LoadFromFile reads the whole file with one read and hands the bytes to the
// decoder; LoadFromMemory picks BMP or JPEG by the bytes themselves (a file
// named .jpg that holds a BMP is a BMP); ConvertToGray weighs the colour
// raster into the packed gray buffer, turning the top-down raster rows into
// the bottom-up buffer order.
//
// The gray rule, for 8-bit channels (channel maximum M = 255):
//   s = 30 r + 59 g + 11 b                 (exact integer, 0..25500)
//   v = s * double(0.01f) * 255 / 255      (double; 0.01f is slightly below 1/100)
//   gray = ClampToByte(float(v))
// which equals (30 r + 59 g + 11 b + 50) / 100 with the remainder dropped, for
// every r, g, b. Pure red gives 77 (76.5 goes up), green 150, blue 28.
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
#include "core/dib_image.h"
#include "core/jpeg_read.h"
#include "core/large_buffer.h"
#include "core/messages.h"
#include "core/parallel.h"

namespace {

constexpr int kMaxWeightedSum = 30 * 255 + 59 * 255 + 11 * 255;

// Gray level of every possible weighted sum s, by the rule above.
const std::array<std::uint8_t, kMaxWeightedSum + 1>& GrayOfWeightedSum()
{
    static const auto table = [] {
        std::array<std::uint8_t, kMaxWeightedSum + 1> levels{};
        const double hundredth = static_cast<double>(0.01f);
        for (int s = 0; s <= kMaxWeightedSum; ++s)
            levels[s] = ClampToByte(static_cast<float>(s * hundredth * 255.0 / 255.0));
        return levels;
    }();
    return table;
}

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
        const std::size_t expected = static_cast<std::size_t>(raster->width) * static_cast<std::size_t>(raster->height) * 3;
        if (!decoded || raster->width <= 0 || raster->height <= 0 || raster->rgb.size() != expected)
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
    if (!m_pBitmap)
        return false;
    const CRgbRaster& raster = *m_pBitmap;
    const int width = raster.width;
    const int height = raster.height;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (width <= 0 || height <= 0 || raster.rgb.size() != count * 3)
        return false;

    std::unique_ptr<std::uint8_t[]> bits;
    try {
        bits = MakeLargeArray<std::uint8_t>(count);
    } catch (const std::bad_alloc&) {
        // The colour raster stays, so the conversion can be tried again.
        ShowMessage("Out of memory!");
        return false;
    }

    const auto& gray = GrayOfWeightedSum();
    std::uint8_t* out = bits.get();
    // Buffer row y is raster row height - 1 - y: the buffer starts at the bottom.
    ParallelForBands(height, std::max(1, (1 << 18) / width), [&](int begin, int end) {
        // Locals, not captures, so the byte stores cannot alias them.
        const int w = width;
        const int h = height;
        const std::uint8_t* table = gray.data();
        const CRgbRaster& rgb = raster;
        for (int y = begin; y < end; ++y) {
            const std::uint8_t* src = rgb.Row(h - 1 - y);
            std::uint8_t* dst = out + static_cast<std::size_t>(y) * w;
            for (int x = 0; x < w; ++x, src += 3)
                dst[x] = table[30 * src[0] + 59 * src[1] + 11 * src[2]];
        }
    });

    m_nWidth = width;
    m_nHeight = height;
    m_pBits = std::move(bits);
    m_pBitmap.reset();
    m_pHistogram.reset();
    return true;
}
