// Small helpers shared by the unit tests: images from literal rows, random images, data paths.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/dib_image.h"

namespace testing_support {

// An image whose buffer rows are given in BUFFER order: rows[0] is row 0 (the bottom row).
std::unique_ptr<CDibImage> MakeImage(const std::vector<std::vector<int>>& rows);

// An image width x height filled with one level.
std::unique_ptr<CDibImage> MakeUniform(int width, int height, std::uint8_t level);

// An image of random levels, reproducible from seed.
std::unique_ptr<CDibImage> MakeRandom(int width, int height, unsigned seed);

// A photo-like image: smooth gradients, texture and some noise, reproducible from seed.
std::unique_ptr<CDibImage> MakePhotoLike(int width, int height, unsigned seed);

// A 2 x 2 image still in the colour state whose raster cannot become gray (its
// sizes disagree), as after a failed conversion.
std::unique_ptr<CDibImage> MakeUnconvertible();

// The buffer rows of an image, row 0 first.
std::vector<std::vector<int>> Rows(const CDibImage& image);

// The packed buffer as a vector.
std::vector<std::uint8_t> Pixels(const CDibImage& image);

// Path of a file under tests/data.
std::string DataPath(const std::string& relative);

// A fresh empty directory for a test's output files.
std::string TempDir(const std::string& name);

// Whole file as bytes (empty when it cannot be read).
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

}  // namespace testing_support
