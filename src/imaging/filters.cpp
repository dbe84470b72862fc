// The colour filters of the IMAGE block.
#include "imaging/filters.h"

#include "base/cancel.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vorn {
namespace {

// Bytes per pixel of the depths the colour filters walk directly; 0 for the others.
int colourBytes(const ImageBuffer *image)
{
    if (!image || !image->pixels)
        return 0;
    return image->bitCount == 24 ? 3 : image->bitCount == 32 ? 4 : 0;
}

uint8_t clampByte(int v)
{
    return uint8_t(std::clamp(v, 0, 255));
}

// Calls fn(p) for every pixel of a 24/32-bit picture, p pointing at its blue byte. False when
// the work was cancelled part way.
template<typename Fn>
bool forEachPixel(ImageBuffer &image, int bytesPerPixel, Fn fn)
{
    for (int32_t y = 0; y < image.height; ++y) {
        if (cancelRequested())
            return false;
        uint8_t *p = image.row(y);
        for (int32_t x = 0; x < image.width; ++x, p += bytesPerPixel)
            fn(p);
    }
    return true;
}

// Copies the input and applies fn to every pixel of the copy.
template<typename Fn>
ImagePtr copyAndMap(const ImageBuffer *input, Fn fn)
{
    const int bpp = colourBytes(input);
    if (bpp == 0)
        return nullptr;
    ImagePtr out = CopyImage(input);
    if (!out)
        return nullptr;
    if (!forEachPixel(*out, bpp, fn))
        return nullptr;
    return out;
}

// The threshold of one channel's histogram: the walk from the brightest value downwards stops
// where the share of values walked plus the share of the range walked exceeds 2 f.
int discolorThreshold(const std::array<int64_t, 256> &counts, double n, double factor)
{
    int lo = 0;
    while (lo < 255 && counts[size_t(lo)] == 0)
        ++lo;
    int hi = 255;
    while (hi > 0 && counts[size_t(hi)] == 0)
        --hi;
    const double range = double(hi - lo + 1);
    double acc = 0;
    for (int v = hi; v > lo; --v) {
        acc += double(counts[size_t(v)]);
        if (double(hi - v + 1) * n / range + acc > 2.0 * factor * n)
            return v;
    }
    return lo;
}

} // namespace

ImagePtr SepiaImage(const ImageBuffer *input)
{
    const int bpp = colourBytes(input);
    if (bpp == 0)
        return nullptr;
    ImagePtr out = CreateImage(input->width, input->height);
    if (!out)
        return nullptr;
    // Fixed chroma Cb = 104, Cr = 142 around a luma; the integer divisions truncate toward
    // zero, which is what makes green 0 (not -1) for a luma of 1.
    constexpr int cb = 104 - 128;
    constexpr int cr = 142 - 128;
    for (int32_t y = 0; y < input->height; ++y) {
        const uint8_t *s = input->row(y);
        const uint8_t *sa = input->alpha ? input->alphaRow(y) : nullptr;
        uint8_t *d = out->row(y);
        uint8_t *da = out->alphaRow(y);
        for (int32_t x = 0; x < input->width; ++x, s += bpp, d += 3) {
            if (sa && sa[x] == 0)
                continue;  // stays transparent black
            const int luma = (299 * s[2] + 587 * s[1] + 114 * s[0]) / 1000;
            d[2] = clampByte((1000 * luma + cr * 1402) / 1000);
            d[1] = clampByte((1000 * luma - cb * 344 - cr * 714) / 1000);
            d[0] = clampByte((1000 * luma + cb * 1772) / 1000);
            da[x] = 255;
        }
    }
    return out;
}

ImagePtr MonoImage(const ImageBuffer *input)
{
    return copyAndMap(input, [](uint8_t *p) {
        // The weights add up to 1.01, so bright pixels can pass 255 before the limit.
        const double g = 0.31 * p[2] + 0.59 * p[1] + 0.11 * p[0] + 0.5;
        const uint8_t v = g >= 255.0 ? 255 : uint8_t(g);
        p[0] = p[1] = p[2] = v;
    });
}

ImagePtr NegaImage(const ImageBuffer *input)
{
    return copyAndMap(input, [](uint8_t *p) {
        p[0] = uint8_t(255 - p[0]);
        p[1] = uint8_t(255 - p[1]);
        p[2] = uint8_t(255 - p[2]);
    });
}

ImagePtr DiscolorImage(const ImageBuffer *input, double factor)
{
    const int bpp = colourBytes(input);
    if (bpp == 0)
        return nullptr;
    ImagePtr out = CopyImage(input);
    if (!out)
        return nullptr;
    if (input->width == 0 || input->height == 0)
        return out;
    std::array<std::array<int64_t, 256>, 3> counts{};  // indexed by byte: blue, green, red
    for (int32_t y = 0; y < input->height; ++y) {
        const uint8_t *p = input->row(y);
        for (int32_t x = 0; x < input->width; ++x, p += bpp) {
            ++counts[0][p[0]];
            ++counts[1][p[1]];
            ++counts[2][p[2]];
        }
    }
    const double n = double(input->width) * double(input->height);
    std::array<uint8_t, 3> threshold{};
    for (size_t c = 0; c < 3; ++c)
        threshold[c] = uint8_t(discolorThreshold(counts[c], n, factor));
    const bool done = forEachPixel(*out, bpp, [&](uint8_t *p) {
        for (size_t c = 0; c < 3; ++c)
            p[c] = p[c] <= threshold[c] ? 0 : 255;
    });
    return done ? std::move(out) : nullptr;
}

ImagePtr HighpassImage(const ImageBuffer *input)
{
    const int bpp = colourBytes(input);
    if (bpp == 0)
        return nullptr;
    const int32_t w = input->width;
    const int32_t h = input->height;
    ImagePtr out = CreateImageBuffer(w, h, 1);
    if (!out || w == 0 || h == 0)
        return out;

    // Contrast from the extremes and the mean of row means (integer divisions, as the
    // threshold has always been computed).
    int mn = 255;
    int mx = 0;
    int64_t meanSum = 0;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t *p = input->row(y);
        int64_t rowSum = 0;
        for (int32_t x = 0; x < w; ++x, p += bpp) {
            for (int c = 0; c < 3; ++c) {
                mn = std::min<int>(mn, p[c]);
                mx = std::max<int>(mx, p[c]);
                rowSum += p[c];
            }
        }
        meanSum += rowSum / (3 * int64_t(w));
    }
    const int64_t mean = meanSum / h;
    const double k = double(std::min<int64_t>(mx - mean, mean - mn)) / 256.0;

    // Laplacian per channel; neighbours outside the picture repeat the edge.
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t *rows[3] = {input->row(std::max(y - 1, 0)), input->row(y),
                                  input->row(std::min(y + 1, h - 1))};
        uint8_t *bits = out->row(y);
        for (int32_t x = 0; x < w; ++x) {
            const ptrdiff_t cols[3] = {ptrdiff_t(std::max(x - 1, 0)) * bpp, ptrdiff_t(x) * bpp,
                                       ptrdiff_t(std::min(x + 1, w - 1)) * bpp};
            bool edge = false;
            for (int c = 0; c < 3 && !edge; ++c) {
                int sum = 0;
                for (const uint8_t *r : rows)
                    for (ptrdiff_t col : cols)
                        sum += r[col + c];
                const int v = rows[1][cols[1] + c];
                const int laplacian = 9 * v - sum;  // 8 v minus the eight neighbours
                edge = laplacian > v * k;
            }
            if (edge)
                bits[x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    }
    return out;
}

ImagePtr ExpandTo24Bit(const ImageBuffer *input)
{
    if (!input || !input->pixels)
        return nullptr;
    if (input->bitCount == 24)
        return CopyImage(input);
    if (input->bitCount != 1)
        return nullptr;
    ImagePtr out = CreateImageBuffer(input->width, input->height, 24);
    if (!out)
        return nullptr;
    for (int32_t y = 0; y < input->height; ++y) {
        const uint8_t *bits = input->row(y);
        uint8_t *d = out->row(y);
        for (int32_t x = 0; x < input->width; ++x, d += 3) {
            if (bits[x / 8] & (0x80 >> (x % 8)))
                d[0] = d[1] = d[2] = 255;
        }
    }
    return out;
}

ImagePtr KeepChannel(const ImageBuffer *input, int channel)
{
    if (channel < 0 || channel > 2)
        return nullptr;
    const int kept = 2 - channel;  // red is byte 2
    return copyAndMap(input, [kept](uint8_t *p) {
        for (int b = 0; b < 3; ++b) {
            if (b != kept)
                p[b] = 0;
        }
    });
}

ImagePtr PhotoFrameImage(const ImageBuffer *input, int32_t percent)
{
    const int bpp = colourBytes(input);
    if (bpp == 0)
        return nullptr;
    ImagePtr out = CopyImage(input);
    if (!out)
        return nullptr;
    const int32_t w = out->width;
    const int32_t h = out->height;
    // int64: a large percent must not wrap; a negative one gives no border.
    const int64_t t = std::max<int64_t>(0, int64_t(std::max(w, h)) * percent / 100);
    const int32_t rows = int32_t(std::min<int64_t>(t, h));
    for (int32_t y = 0; y < rows; ++y) {
        std::memset(out->row(y), 255, size_t(out->stride));
        std::memset(out->row(h - 1 - y), 255, size_t(out->stride));
    }
    const int32_t cols = int32_t(std::min<int64_t>(t, w));
    for (int32_t y = 0; y < h; ++y) {
        uint8_t *r = out->row(y);
        for (int32_t x = 0; x < cols; ++x) {
            std::memset(r + ptrdiff_t(x) * bpp, 255, 3);
            std::memset(r + ptrdiff_t(w - 1 - x) * bpp, 255, 3);
        }
    }
    return out;
}

int32_t ThroughColorImage(ImageBuffer &picture, uint8_t r, uint8_t g, uint8_t b)
{
    const int bpp = colourBytes(&picture);
    if (bpp == 0 || !picture.alpha)
        return -1;
    for (int32_t y = 0; y < picture.height; ++y) {
        const uint8_t *p = picture.row(y);
        uint8_t *a = picture.alphaRow(y);
        for (int32_t x = 0; x < picture.width; ++x, p += bpp) {
            if (p[0] == b && p[1] == g && p[2] == r)
                a[x] = 0;
        }
    }
    return 0;
}

} // namespace vorn
