// SaveAsBmp: the gray face as an uncompressed 8-bit BMP file.
//
// Byte layout, all fields little-endian, S = the width rounded up to a
// multiple of 4, H = the height:
//   0   "BM", bfSize = 1078 + S * H, two reserved 0 words, bfOffBits = 1078
//   14  BITMAPINFOHEADER: 40, width, +H (rows bottom-up), 1 plane, 8 bits,
//       BI_RGB, biSizeImage = S * H, 0 and 0 pixels per metre, 256 colours used, 0 important
//   54  256 colour-table entries i = (blue i, green i, red i, 0): the gray ramp,
//       so each pixel byte is its gray level
//   1078  H rows of S bytes, buffer row 0 (the bottom of the picture) first,
//       each the row's levels followed by S - width zero bytes; nothing after.
// A 4 x 2 image gives 1086 bytes; a 5 x 3 image 1102 bytes with 3 zero bytes
// closing each row.
//
// A save never destroys what was there: the bytes go to a new file beside the
// target (same folder, so the rename cannot cross file systems), are flushed
// to the disk, and only then is the new file renamed over the target. On any
// failure the temporary file is removed and the target is untouched. A target
// we may not write is refused as the direct write would have been: an
// existing read-only file, a folder, a device. A symbolic link is followed,
// so the file it points to is replaced and the link stays. A replaced file
// keeps its mode (and owner, where permitted); a new file gets 0666 less the umask.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "core/dib_image.h"
#include "core/file_error.h"

namespace {

constexpr std::uint32_t kHeadersBytes = 14 + 40 + 4 * 256;

void PutU16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v)
{
    PutU16(p, v & 0xFFFF);
    PutU16(p + 2, v >> 16);
}

std::array<std::uint8_t, kHeadersBytes> MakeHeaders(int width, int height, std::uint32_t imageBytes)
{
    std::array<std::uint8_t, kHeadersBytes> h{};
    h[0] = 'B';
    h[1] = 'M';
    PutU32(&h[2], kHeadersBytes + imageBytes);            // bfSize
    PutU32(&h[10], kHeadersBytes);                        // bfOffBits
    PutU32(&h[14], 40);                                   // biSize
    PutU32(&h[18], static_cast<std::uint32_t>(width));    // biWidth
    PutU32(&h[22], static_cast<std::uint32_t>(height));   // biHeight
    PutU16(&h[26], 1);                                    // biPlanes
    PutU16(&h[28], 8);                                    // biBitCount
    PutU32(&h[34], imageBytes);                           // biSizeImage
    PutU32(&h[46], 256);                                  // biClrUsed
    for (int i = 0; i < 256; ++i) {
        std::uint8_t* entry = &h[54 + 4 * i];
        entry[0] = entry[1] = entry[2] = static_cast<std::uint8_t>(i);
    }
    return h;
}

// The temporary file: closed and removed unless Commit renamed it into place.
class CTempFile {
public:
    CTempFile() = default;
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;
    ~CTempFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }

    // Creates a fresh file in folder; returns 0 or the errno of the failure.
    int Create(const std::string& folder)
    {
        static std::atomic<std::uint64_t> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME, &now);
            std::uint64_t tag = (static_cast<std::uint64_t>(::getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec)
                ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
            std::string name = folder + "/.lumivex-save-";
            for (int digit = 0; digit < 12; ++digit, tag >>= 4)
                name += "0123456789abcdef"[tag & 15];
            name += ".tmp";
            m_fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd >= 0) {
                m_path = name;
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    int Descriptor() const { return m_fd; }

    // Flushes, closes and renames the file over target; returns 0 or an errno.
    int Commit(const std::string& target)
    {
        if (::fsync(m_fd) != 0)
            return errno;
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            return errno;
        if (::rename(m_path.c_str(), target.c_str()) != 0)
            return errno;
        m_path.clear();
        return 0;
    }

private:
    int m_fd = -1;
    std::string m_path;
};

// Writes all n bytes; returns 0 or the errno of the failure.
int WriteAll(int fd, const std::uint8_t* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t done = ::write(fd, p, n);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (done == 0)
            return EIO;
        p += done;
        n -= static_cast<std::size_t>(done);
    }
    return 0;
}

// The file a save replaces: the path itself, or what a symbolic link points to.
std::string ResolveTarget(const std::string& path)
{
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes the file; returns 0 or the errno to report.
int WriteBmp(const std::string& target, const std::uint8_t* bits, int width, int height, std::uint32_t stride)
{
    const std::string::size_type slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    if (slash != std::string::npos && slash + 1 == target.size())
        return EISDIR;  // "folder/": no file name

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT)
        return errno;
    if (exists) {
        if (S_ISDIR(existing.st_mode))
            return EISDIR;
        if (!S_ISREG(existing.st_mode))
            return EACCES;
        if (::access(target.c_str(), W_OK) != 0)
            return errno;
    }

    CTempFile temp;
    if (const int error = temp.Create(folder))
        return error;
    const int fd = temp.Descriptor();
    if (exists) {
        // Best effort: owner first, since changing it may clear mode bits.
        [[maybe_unused]] const int owned = ::fchown(fd, existing.st_uid, existing.st_gid);
        [[maybe_unused]] const int moded = ::fchmod(fd, existing.st_mode & 07777);
    }

    const std::uint32_t imageBytes = stride * static_cast<std::uint32_t>(height);
    const auto headers = MakeHeaders(width, height, imageBytes);
    if (const int error = WriteAll(fd, headers.data(), headers.size()))
        return error;

    // Whole padded rows, about 1 MiB at a time; the padding stays zero.
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, (std::size_t{1} << 20) / stride);
    std::vector<std::uint8_t> chunk(std::min<std::size_t>(rowsPerChunk, static_cast<std::size_t>(height)) * stride, 0);
    for (int y = 0; y < height;) {
        const int rows = static_cast<int>(std::min<std::size_t>(rowsPerChunk, static_cast<std::size_t>(height - y)));
        for (int r = 0; r < rows; ++r)
            std::copy_n(bits + static_cast<std::size_t>(y + r) * width, width, chunk.data() + static_cast<std::size_t>(r) * stride);
        if (const int error = WriteAll(fd, chunk.data(), static_cast<std::size_t>(rows) * stride))
            return error;
        y += rows;
    }

    if (const int error = temp.Commit(target))
        return error;
    SyncFolder(folder);
    return 0;
}

}  // namespace

bool CDibImage::SaveAsBmp(const std::string& path) const
{
    if (!m_pBits || m_nWidth < 0 || m_nHeight < 0)
        return false;
    const std::uint64_t stride = (static_cast<std::uint64_t>(m_nWidth) * 8 + 31) / 32 * 4;
    // bfSize is a 32-bit field: larger pictures cannot be written as BMP.
    if (kHeadersBytes + stride * static_cast<std::uint64_t>(m_nHeight) > std::numeric_limits<std::uint32_t>::max()) {
        ReportFileError(EFBIG, path);
        return false;
    }
    int error = 0;
    try {
        error = WriteBmp(ResolveTarget(path), m_pBits.get(), m_nWidth, m_nHeight, static_cast<std::uint32_t>(stride));
    } catch (const std::bad_alloc&) {
        error = ENOMEM;  // the row buffer or a path string; the temporary file is gone already
    }
    if (error != 0) {
        ReportFileError(error, path);
        return false;
    }
    return true;
}
