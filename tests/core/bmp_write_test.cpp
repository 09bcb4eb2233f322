// BMP export: byte layout, round trips, and saves that fail without harming what was there.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/dib_image.h"
#include "core/file_error.h"
#include "core/messages.h"
#include "tests/support/test_images.h"

using testing_support::DataPath;
using testing_support::MakeImage;
using testing_support::MakeRandom;
using testing_support::Pixels;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t U32At(const Bytes& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path)
{
    const Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::set<std::string> Entries(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

mode_t ModeOf(const std::string& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

struct SaveOutcome {
    bool saved = false;
    std::vector<std::string> messages;
};

SaveOutcome Save(const CDibImage& image, const std::string& path)
{
    CMessageCapture capture;
    SaveOutcome outcome;
    outcome.saved = image.SaveAsBmp(path);
    outcome.messages = capture.Messages();
    return outcome;
}

// Saves in a child process: as an ordinary user (root may write anywhere, so
// permission tests drop to "nobody" when run as root), optionally with a limit
// on the size of files the process may write.
SaveOutcome SaveInChild(const CDibImage& image, const std::string& path, rlim_t fileSizeLimit = RLIM_INFINITY)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(channel[0]);
        bool ready = true;
        if (::geteuid() == 0)
            ready = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        if (fileSizeLimit != RLIM_INFINITY) {
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            ready = ready && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        }
        if (!ready)
            ::_exit(2);
        const SaveOutcome outcome = Save(image, path);
        std::string text;
        for (const std::string& message : outcome.messages)
            text += message + "\n";
        if (::write(channel[1], text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            ::_exit(2);
        ::_exit(outcome.saved ? 0 : 1);
    }
    ::close(channel[1]);
    std::string text;
    char buffer[512];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "child could not be set up";
    SaveOutcome outcome;
    outcome.saved = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        outcome.messages.push_back(text.substr(start, end - start));
    return outcome;
}

std::unique_ptr<CDibImage> Reload(const std::string& path)
{
    auto image = std::make_unique<CDibImage>();
    if (!image->LoadFromFile(path) || !image->ConvertToGray())
        return nullptr;
    return image;
}

// ---------------------------------------------------------------------------
// Layout

TEST(SaveAsBmp, FourByTwoExactBytes)
{
    const std::string path = TempDir("bmp_write_4x2") + "/out.bmp";
    auto image = MakeImage({{1, 2, 3, 4}, {250, 251, 252, 253}});
    ASSERT_TRUE(image->SaveAsBmp(path));
    const Bytes file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 1086u);
    const Bytes headers = {
        'B', 'M', 0x3E, 0x04, 0, 0, 0, 0, 0, 0, 0x36, 0x04, 0, 0,  // bfSize 1086, bfOffBits 1078
        40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 8, 0,           // size, width, height, planes, bits
        0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,            // BI_RGB, biSizeImage 8, no resolution
        0, 1, 0, 0, 0, 0, 0, 0,                                    // 256 colours used, 0 important
    };
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 54), headers);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(Bytes(file.begin() + 54 + 4 * i, file.begin() + 58 + 4 * i), (Bytes{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0})) << i;
    EXPECT_EQ(Bytes(file.begin() + 1078, file.end()), (Bytes{1, 2, 3, 4, 250, 251, 252, 253}));
}

TEST(SaveAsBmp, FiveByThreePadsEachRowWithThreeZeros)
{
    const std::string path = TempDir("bmp_write_5x3") + "/out.bmp";
    auto image = MakeImage({{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, {11, 12, 13, 14, 15}});
    ASSERT_TRUE(image->SaveAsBmp(path));
    const Bytes file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 1102u);
    EXPECT_EQ(U32At(file, 2), 1102u);
    EXPECT_EQ(U32At(file, 34), 24u);
    EXPECT_EQ(Bytes(file.begin() + 1078, file.end()),
              (Bytes{1, 2, 3, 4, 5, 0, 0, 0, 6, 7, 8, 9, 10, 0, 0, 0, 11, 12, 13, 14, 15, 0, 0, 0}));
}

TEST(SaveAsBmp, RoundTripsEveryPadding)
{
    const std::string dir = TempDir("bmp_write_round_trip");
    struct Size {
        int width;
        int height;
    };
    for (const Size size : {Size{1, 1}, Size{1, 7}, Size{2, 3}, Size{3, 3}, Size{4, 3}, Size{5, 3}, Size{6, 2}, Size{7, 2},
                            Size{8, 2}, Size{9, 4}, Size{301, 5}, Size{9, 1}}) {
        SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
        auto image = MakeRandom(size.width, size.height, static_cast<unsigned>(size.width * 31 + size.height));
        const std::string path = dir + "/w" + std::to_string(size.width) + "h" + std::to_string(size.height) + ".bmp";
        ASSERT_TRUE(image->SaveAsBmp(path));
        const std::size_t stride = (size.width + 3) / 4 * 4;
        const Bytes file = ReadFileBytes(path);
        ASSERT_EQ(file.size(), 1078 + stride * size.height);
        for (int y = 0; y < size.height; ++y)
            for (std::size_t pad = size.width; pad < stride; ++pad)
                EXPECT_EQ(file[1078 + y * stride + pad], 0);
        auto back = Reload(path);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->m_nWidth, size.width);
        EXPECT_EQ(back->m_nHeight, size.height);
        EXPECT_EQ(Pixels(*back), Pixels(*image));
    }
}

TEST(SaveAsBmp, PhotoRowsAreTheGrayBufferBottomFirst)
{
    auto photo = Reload(DataPath("photos/chelsea_451x300.jpg"));
    ASSERT_NE(photo, nullptr);
    const std::string path = TempDir("bmp_write_photo") + "/chelsea.bmp";
    ASSERT_TRUE(photo->SaveAsBmp(path));
    const Bytes file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 1078u + 452 * 300);
    for (int y = 0; y < 300; ++y) {
        const std::uint8_t* row = file.data() + 1078 + y * 452;
        ASSERT_TRUE(std::equal(row, row + 451, photo->m_pBits.get() + y * 451)) << "row " << y;
        ASSERT_EQ(row[451], 0);
    }
    auto back = Reload(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(Pixels(*back), Pixels(*photo));
}

// ---------------------------------------------------------------------------
// Replacing files

TEST(SaveAsBmp, ReplacesAnExistingFileKeepingItsMode)
{
    const std::string dir = TempDir("bmp_write_replace");
    const std::string path = dir + "/out.bmp";
    WriteFile(path, "old contents");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    auto image = MakeImage({{9, 8, 7}});
    ASSERT_TRUE(image->SaveAsBmp(path));
    EXPECT_EQ(ReadFileBytes(path).size(), 1082u);
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"out.bmp"}));
}

TEST(SaveAsBmp, NewFileGetsTheUsualMode)
{
    const std::string dir = TempDir("bmp_write_mode");
    const mode_t mask = ::umask(022);
    ::umask(mask);
    auto image = MakeImage({{1}});
    ASSERT_TRUE(image->SaveAsBmp(dir + "/new.bmp"));
    EXPECT_EQ(ModeOf(dir + "/new.bmp"), 0666u & ~mask);
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"new.bmp"}));
}

TEST(SaveAsBmp, SymbolicLinkKeepsPointingAtTheNewFile)
{
    const std::string dir = TempDir("bmp_write_link");
    WriteFile(dir + "/real.bmp", "old");
    ASSERT_EQ(::symlink("real.bmp", (dir + "/link.bmp").c_str()), 0);
    auto image = MakeImage({{1, 2}});
    ASSERT_TRUE(image->SaveAsBmp(dir + "/link.bmp"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.bmp"));
    EXPECT_EQ(ReadFileBytes(dir + "/real.bmp").size(), 1082u);
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"link.bmp", "real.bmp"}));
}

// ---------------------------------------------------------------------------
// Failures: a message naming the path, false, and nothing changed on disk.

TEST(SaveAsBmp, OpenFailuresReportTheirCause)
{
    const std::string dir = TempDir("bmp_write_failures");
    WriteFile(dir + "/plain.txt", "not a folder");
    std::filesystem::create_directory(dir + "/folder.bmp");
    struct Case {
        std::string path;
        std::string message;
    };
    const std::vector<Case> cases = {
        {dir + "/missing/out.bmp", dir + "/missing/out.bmp was not found."},
        {dir + "/plain.txt/out.bmp", dir + "/plain.txt/out.bmp contains an invalid path."},
        {dir + "/folder.bmp", "Access to " + dir + "/folder.bmp was denied."},
        {dir + "/folder.bmp/", "Access to " + dir + "/folder.bmp/ was denied."},
        {dir + "/" + std::string(300, 'x') + ".bmp", dir + "/" + std::string(300, 'x') + ".bmp contains an invalid path."},
    };
    auto image = MakeImage({{1, 2, 3}});
    for (const Case& c : cases) {
        const SaveOutcome outcome = Save(*image, c.path);
        EXPECT_FALSE(outcome.saved) << c.path;
        EXPECT_EQ(outcome.messages, std::vector<std::string>{c.message});
    }
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"plain.txt", "folder.bmp"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir + "/folder.bmp"));
    EXPECT_EQ(ReadText(dir + "/plain.txt"), "not a folder");
}

TEST(SaveAsBmp, UnwritableFolderKeepsTheExistingFile)
{
    // The file itself is writable, but no new file can be made beside it.
    const std::string dir = TempDir("bmp_write_readonly_dir");
    const std::string path = dir + "/out.bmp";
    WriteFile(path, "precious");
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    auto image = MakeImage({{1, 2, 3}});
    const SaveOutcome outcome = SaveInChild(*image, path);
    ::chmod(dir.c_str(), 0755);
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{"Access to " + path + " was denied."});
    EXPECT_EQ(ReadText(path), "precious");
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"out.bmp"}));
}

TEST(SaveAsBmp, ReadOnlyFileIsNotReplaced)
{
    const std::string dir = TempDir("bmp_write_readonly_file");
    const std::string path = dir + "/out.bmp";
    WriteFile(path, "precious");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    auto image = MakeImage({{1, 2, 3}});
    const SaveOutcome outcome = SaveInChild(*image, path);
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{"Access to " + path + " was denied."});
    EXPECT_EQ(ReadText(path), "precious");
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"out.bmp"}));
}

TEST(SaveAsBmp, WriteFailureLeavesTheOldFileAndNoTemporary)
{
    const std::string dir = TempDir("bmp_write_write_failure");
    const std::string path = dir + "/out.bmp";
    WriteFile(path, "precious");
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    auto image = MakeRandom(100, 100, 7);
    const SaveOutcome outcome = SaveInChild(*image, path, 4000);  // dies in the pixel rows
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{"An unknown error occurred while accessing " + path + "."});
    EXPECT_EQ(ReadText(path), "precious");
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"out.bmp"}));
}

TEST(SaveAsBmp, ImageWithoutGrayFaceWritesNothing)
{
    const std::string dir = TempDir("bmp_write_empty");
    CDibImage image;
    const SaveOutcome outcome = Save(image, dir + "/out.bmp");
    EXPECT_FALSE(outcome.saved);
    EXPECT_TRUE(outcome.messages.empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(FileErrorText, FrameworkWordingPerCause)
{
    const std::string p = "C/x.bmp";
    const std::vector<std::pair<int, std::string>> cases = {
        {ENOENT, "C/x.bmp was not found."},
        {EACCES, "Access to C/x.bmp was denied."},
        {EPERM, "Access to C/x.bmp was denied."},
        {EROFS, "Access to C/x.bmp was denied."},
        {ENOSPC, "Disk full while accessing C/x.bmp."},
        {EDQUOT, "Disk full while accessing C/x.bmp."},
        {EMFILE, "C/x.bmp could not be opened because there are too many open files."},
        {ENFILE, "C/x.bmp could not be opened because there are too many open files."},
        {ENOTDIR, "C/x.bmp contains an invalid path."},
        {ENAMETOOLONG, "C/x.bmp contains an invalid path."},
        {EINVAL, "C/x.bmp contains an invalid path."},
        {EIO, "A hardware I/O error was reported while accessing C/x.bmp."},
        {EBADF, "An invalid file handle was associated with C/x.bmp."},
        {ETXTBSY, "A sharing violation occurred while accessing C/x.bmp."},
        {ENOLCK, "A locking violation occurred while accessing C/x.bmp."},
        {EFBIG, "An unknown error occurred while accessing C/x.bmp."},
        {0, "An unknown error occurred while accessing C/x.bmp."},
    };
    for (const auto& [error, text] : cases)
        EXPECT_EQ(FileErrorText(error, p), text) << error;
    EXPECT_EQ(FileErrorText(ENOENT, "100%1.bmp"), "100%1.bmp was not found.");  // %1 in the path stays
}

}  // namespace
