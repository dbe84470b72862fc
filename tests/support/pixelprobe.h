// Reading and writing single pixels (colour and alpha) of test pictures, with readable failures.
#pragma once

#include "imaging/imagebuffer.h"

#include <algorithm>
#include <ostream>

namespace vorn::test {

// One pixel as red, green, blue and alpha; alpha -1 when the picture has no alpha plane.
struct Rgba {
    int r = 0;
    int g = 0;
    int b = 0;
    int a = -1;
    bool operator==(const Rgba &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Rgba &p)
{
    return os << "(" << p.r << ", " << p.g << ", " << p.b << " / " << p.a << ")";
}

// Reads the raw bytes (no clamping: x and y must be inside the picture).
inline Rgba pixelAt(const ImageBuffer &image, int32_t x, int32_t y)
{
    const uint8_t *p = image.row(y) + 3 * x;
    return {p[2], p[1], p[0], image.alpha ? image.alphaRow(y)[x] : -1};
}

inline void setPixel(ImageBuffer &image, int32_t x, int32_t y, Rgba p)
{
    const uint8_t bgr[3] = {uint8_t(p.b), uint8_t(p.g), uint8_t(p.r)};
    std::copy(bgr, bgr + 3, image.row(y) + 3 * x);
    if (image.alpha && p.a >= 0)
        image.alphaRow(y)[x] = uint8_t(p.a);
}

// True when two pictures have the same size, depth, colour of every pixel and alpha plane
// (padding bytes are ignored).
inline bool samePixels(const ImageBuffer &a, const ImageBuffer &b)
{
    if (a.width != b.width || a.height != b.height || a.bitCount != b.bitCount
        || bool(a.alpha) != bool(b.alpha))
        return false;
    for (int32_t y = 0; y < a.height; ++y)
        for (int32_t x = 0; x < a.width; ++x)
            if (!(pixelAt(a, x, y) == pixelAt(b, x, y)))
                return false;
    return true;
}

} // namespace vorn::test
