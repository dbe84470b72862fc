// Test pictures for the imaging tests: made from listed pixels or a seed, and read back a row
// at a time.
#pragma once

#include "support/datatable.h"
#include "support/pixelprobe.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace vorn::test {

// One row, its pixels listed left to right (alpha -1: a picture without an alpha plane).
inline ImagePtr rowOf(const std::vector<Rgba> &pixels)
{
    const bool alpha = pixels.empty() || pixels.front().a >= 0;
    ImagePtr image = alpha ? CreateImage(int32_t(pixels.size()), 1)
                           : CreateImageBuffer(int32_t(pixels.size()), 1, 24);
    for (size_t x = 0; x < pixels.size(); ++x)
        setPixel(*image, int32_t(x), 0, pixels[x]);
    return image;
}

// The pixels of row y, left to right.
inline std::vector<Rgba> rowPixels(const ImageBuffer &image, int32_t y = 0)
{
    std::vector<Rgba> row;
    for (int32_t x = 0; x < image.width; ++x)
        row.push_back(pixelAt(image, x, y));
    return row;
}

// A picture whose every pixel differs: colour and alpha from a seeded generator.
inline ImagePtr noisePicture(int32_t w, int32_t h, uint32_t seed)
{
    ImagePtr image = CreateImage(w, h);
    std::mt19937 gen(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            setPixel(*image, x, y,
                     {int(gen() & 255), int(gen() & 255), int(gen() & 255), int(gen() & 255)});
    return image;
}

// The numbers of a field, space-separated; "12K" is 12 x 1024.
inline std::vector<int64_t> numbers(const std::string &field)
{
    std::vector<int64_t> out;
    std::istringstream words(field);
    for (std::string word; words >> word;)
        out.push_back(std::stoll(word) * (word.back() == 'K' ? 1024 : 1));
    return out;
}

// A field of number groups separated by commas, e.g. points "x y, x y"; "-" holds none.
inline std::vector<std::vector<int64_t>> groups(const std::string &field)
{
    std::vector<std::vector<int64_t>> out;
    std::istringstream parts(field == "-" ? "" : field);
    for (std::string part; std::getline(parts, part, ',');)
        out.push_back(numbers(part));
    return out;
}

// Pixels written "r g b a, r g b a" (alpha -1: no alpha plane).
inline std::vector<Rgba> pixelsOf(const std::string &field)
{
    std::vector<Rgba> out;
    for (const auto &v : groups(field))
        out.push_back({int(v.at(0)), int(v.at(1)), int(v.at(2)), int(v.at(3))});
    return out;
}

} // namespace vorn::test
