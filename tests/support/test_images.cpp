#include "tests/support/test_images.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <unistd.h>

namespace testing_support {

std::unique_ptr<CDibImage> MakeImage(const std::vector<std::vector<int>>& rows)
{
    auto image = std::make_unique<CDibImage>();
    const int height = static_cast<int>(rows.size());
    const int width = height > 0 ? static_cast<int>(rows[0].size()) : 0;
    image->CreateGray(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image->m_pBits[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(rows[y][x]);
    return image;
}

std::unique_ptr<CDibImage> MakeUniform(int width, int height, std::uint8_t level)
{
    auto image = std::make_unique<CDibImage>();
    image->CreateGray(width, height);
    std::fill_n(image->m_pBits.get(), image->PixelCount(), level);
    return image;
}

std::unique_ptr<CDibImage> MakeRandom(int width, int height, unsigned seed)
{
    auto image = std::make_unique<CDibImage>();
    image->CreateGray(width, height);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> level(0, 255);
    for (std::size_t i = 0; i < image->PixelCount(); ++i)
        image->m_pBits[i] = static_cast<std::uint8_t>(level(rng));
    return image;
}

std::unique_ptr<CDibImage> MakePhotoLike(int width, int height, unsigned seed)
{
    auto image = std::make_unique<CDibImage>();
    image->CreateGray(width, height);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 6.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / std::max(width, 1);
            const double v = static_cast<double>(y) / std::max(height, 1);
            double level = 40.0 + 120.0 * u + 50.0 * v;
            level += 35.0 * std::sin(12.0 * u + 3.0 * std::cos(9.0 * v));
            level += ((x / 37 + y / 53) % 2 == 0) ? 18.0 : -18.0;
            level += noise(rng);
            image->m_pBits[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(std::clamp(level, 0.0, 255.0));
        }
    }
    return image;
}

std::unique_ptr<CDibImage> MakeUnconvertible()
{
    auto image = std::make_unique<CDibImage>();
    image->m_pBitmap = std::make_unique<CRgbRaster>();
    image->m_pBitmap->width = 2;
    image->m_pBitmap->height = 2;
    image->m_pBitmap->rgb.assign(3, 0);
    image->m_nWidth = 2;
    image->m_nHeight = 2;
    return image;
}

std::vector<std::vector<int>> Rows(const CDibImage& image)
{
    std::vector<std::vector<int>> rows(image.m_nHeight, std::vector<int>(image.m_nWidth));
    for (int y = 0; y < image.m_nHeight; ++y)
        for (int x = 0; x < image.m_nWidth; ++x)
            rows[y][x] = image.GetPixel(x, y);
    return rows;
}

std::vector<std::uint8_t> Pixels(const CDibImage& image)
{
    return std::vector<std::uint8_t>(image.m_pBits.get(), image.m_pBits.get() + image.PixelCount());
}

std::string DataPath(const std::string& relative)
{
    return std::string(LUMIVEX_TEST_DATA) + "/" + relative;
}

std::string TempDir(const std::string& name)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("lumivex_test_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_support
