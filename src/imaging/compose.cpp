// DrawImage with its blend modes, and the cross-fade, shake and blur built on whole pictures.
#include "imaging/compose.h"

#include "base/cancel.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vorn {
namespace {

// x / 255 without a division, exact for 0 <= x <= 65535 - 255: the largest value the blends
// divide is 255 * 255 + 127. Kept in 16 bits so the compiler can vectorise the byte loops.
constexpr uint32_t div255(uint32_t x)
{
    return (x + 1 + (x >> 8)) >> 8;
}

constexpr bool div255IsExact()
{
    for (uint32_t x = 0; x <= 255 * 255 + 127; ++x) {
        if (div255(x) != x / 255)
            return false;
    }
    return true;
}
static_assert(div255IsExact());

// Rounding note: the blends are defined as trunc(v / 255 + 0.5) in double precision. v / 255 is
// never exactly half-way between integers (255 is odd) and never further than 1/510 from one,
// so that equals the integer (v + 127) / 255 for every v, which div255 computes.

// Pixels processed per step of the alpha blends; the per-byte alpha copy lives on the stack.
constexpr int32_t ChunkPixels = 512;

// Repeats each alpha byte three times so the colour loop can run over bytes. One 4-byte store
// per pixel, each overlapping the next one's first byte: a3 needs one byte of slack.
void spreadAlpha(uint8_t *a3, const uint8_t *a, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t four = a[i] * 0x01010101u;
        std::memcpy(a3 + 3 * ptrdiff_t(i), &four, 4);
    }
}

void maxAlpha(uint8_t *da, const uint8_t *sa, int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        da[i] = std::max(da[i], sa[i]);
}

// d = (s a + d (255 - a)) / 255 rounded; a = 255 gives s and a = 0 leaves d as it was.
void blendAlphaRow(uint8_t *d, const uint8_t *s, const uint8_t *a, int32_t n)
{
    uint8_t a3[3 * ChunkPixels + 1];
    for (int32_t start = 0; start < n; start += ChunkPixels) {
        const int32_t m = std::min(ChunkPixels, n - start);
        const uint8_t *sa = a + start;
        // Whole opaque or whole transparent stretches are common (pictures on a plate).
        // (min and max reduce in vector registers; per-pixel flags would not.)
        uint8_t lo = 255;
        uint8_t hi = 0;
        for (int32_t i = 0; i < m; ++i) {
            lo = std::min(lo, sa[i]);
            hi = std::max(hi, sa[i]);
        }
        const bool opaque = lo == 255;
        const bool clear = hi == 0;
        uint8_t *dp = d + 3 * ptrdiff_t(start);
        const uint8_t *sp = s + 3 * ptrdiff_t(start);
        if (opaque) {
            std::memcpy(dp, sp, size_t(3 * m));
            continue;
        }
        if (clear)
            continue;
        spreadAlpha(a3, sa, m);
        for (int32_t j = 0; j < 3 * m; ++j) {
            const uint16_t av = a3[j];
            const uint16_t v = uint16_t(sp[j] * av + dp[j] * uint16_t(255 - av) + 127);
            dp[j] = uint8_t(div255(v));
        }
    }
}

// d = max(d, s a / 255 rounded).
void blendLightenRow(uint8_t *d, const uint8_t *s, const uint8_t *a, int32_t n)
{
    uint8_t a3[3 * ChunkPixels + 1];
    for (int32_t start = 0; start < n; start += ChunkPixels) {
        const int32_t m = std::min(ChunkPixels, n - start);
        spreadAlpha(a3, a + start, m);
        uint8_t *dp = d + 3 * ptrdiff_t(start);
        const uint8_t *sp = s + 3 * ptrdiff_t(start);
        for (int32_t j = 0; j < 3 * m; ++j) {
            const uint8_t t = uint8_t(div255(uint16_t(sp[j] * a3[j] + 127)));
            dp[j] = std::max(dp[j], t);
        }
    }
}

void lightenRow(uint8_t *d, const uint8_t *s, int32_t bytes)
{
    for (int32_t j = 0; j < bytes; ++j)
        d[j] = std::max(d[j], s[j]);
}

void addRow(uint8_t *d, const uint8_t *s, int32_t bytes)
{
    for (int32_t j = 0; j < bytes; ++j)
        d[j] = uint8_t(std::min(255, d[j] + s[j]));
}

void orRow(uint8_t *d, const uint8_t *s, int32_t bytes)
{
    for (int32_t j = 0; j < bytes; ++j)
        d[j] |= s[j];
}

bool isPicture(const ImageBuffer *image)
{
    return image && image->bitCount == 24 && image->pixels;
}

} // namespace

void DrawImage(ImageBuffer &destination, const ImageBuffer *source, int32_t x, int32_t y,
               int32_t mode)
{
    if (!isPicture(&destination) || !destination.alpha || !isPicture(source))
        return;
    if (source == &destination) {
        // Drawing a picture onto itself reads what it writes: draw from a copy.
        ImagePtr copy = CopyImage(source);
        if (copy)
            DrawImage(destination, copy.get(), x, y, mode);
        return;
    }
    if (mode != BLEND_ALPHA && mode != BLEND_OR && mode != BLEND_ADD && mode != BLEND_COPY
        && mode != BLEND_LIGHTEN)
        return;

    // Visible source columns i0..i1-1 and rows j0..j1-1 (int64: x + width must not wrap).
    const int64_t i0 = std::max<int64_t>(0, -int64_t(x));
    const int64_t i1 = std::min<int64_t>(source->width, int64_t(destination.width) - x);
    const int64_t j0 = std::max<int64_t>(0, -int64_t(y));
    const int64_t j1 = std::min<int64_t>(source->height, int64_t(destination.height) - y);
    if (i0 >= i1 || j0 >= j1)
        return;
    const int32_t n = int32_t(i1 - i0);
    const int32_t colourBytes = 3 * n;
    const bool srcAlpha = source->alpha != nullptr;

    for (int32_t j = int32_t(j0); j < int32_t(j1); ++j) {
        // A cancelled render drops the whole picture: the rows left undone do not matter.
        if (cancelRequested())
            return;
        const int32_t dy = y + j;
        const int32_t dx = int32_t(x + i0);
        uint8_t *d = destination.pixels.get() + PixelOffset(destination, dx, dy);
        uint8_t *da = destination.alpha.get() + AlphaOffset(destination, dx, dy);
        const uint8_t *s = source->pixels.get() + PixelOffset(*source, int32_t(i0), j);
        const uint8_t *sa =
            srcAlpha ? source->alpha.get() + AlphaOffset(*source, int32_t(i0), j) : nullptr;

        if (!sa) {
            // An opaque source: alpha becomes 255 everywhere it lands.
            switch (mode) {
            case BLEND_LIGHTEN: lightenRow(d, s, colourBytes); break;
            case BLEND_OR: orRow(d, s, colourBytes); break;
            default: std::memcpy(d, s, size_t(colourBytes)); break;  // ALPHA, ADD, COPY
            }
            std::memset(da, 255, size_t(n));
            continue;
        }
        switch (mode) {
        case BLEND_ALPHA:
            blendAlphaRow(d, s, sa, n);
            maxAlpha(da, sa, n);
            break;
        case BLEND_LIGHTEN:
            blendLightenRow(d, s, sa, n);
            maxAlpha(da, sa, n);
            break;
        case BLEND_ADD:
            addRow(d, s, colourBytes);
            maxAlpha(da, sa, n);
            break;
        case BLEND_OR:
            orRow(d, s, colourBytes);
            orRow(da, sa, n);
            break;
        case BLEND_COPY:
            std::memcpy(d, s, size_t(colourBytes));
            std::memcpy(da, sa, size_t(n));
            break;
        default: break;
        }
    }
}

ImagePtr MixImages(const ImageBuffer *first, const ImageBuffer *second, int32_t percent)
{
    if (!isPicture(first) || !isPicture(second) || !first->alpha || !second->alpha)
        return nullptr;
    if (first->width != second->width || first->height != second->height || percent < 0
        || percent > 100)
        return nullptr;
    ImagePtr out = CreateImage(first->width, first->height);
    if (!out)
        return nullptr;
    // Weights out of 255 but a shift by 8 divides by 256: the sum stays below 256 for any
    // inputs, so no clamping is needed, at the price of a slightly darker mix.
    const uint16_t w2 = uint16_t(percent * 255 / 100);
    const uint16_t w1 = uint16_t((100 - percent) * 255 / 100);
    const int32_t bytes = 3 * first->width;
    for (int32_t y = 0; y < first->height; ++y) {
        if (cancelRequested())
            return nullptr;
        const uint8_t *a = first->row(y);
        const uint8_t *b = second->row(y);
        uint8_t *d = out->row(y);
        for (int32_t j = 0; j < bytes; ++j)
            d[j] = uint8_t(((b[j] * w2) >> 8) + ((a[j] * w1) >> 8));
        const uint8_t *aa = first->alphaRow(y);
        const uint8_t *ba = second->alphaRow(y);
        uint8_t *da = out->alphaRow(y);
        for (int32_t x = 0; x < first->width; ++x)
            da[x] = std::max(aa[x], ba[x]);
    }
    return out;
}

namespace {

ImagePtr shifted(const ImageBuffer &picture, int32_t dx)
{
    ImagePtr out = CreateImage(picture.width, picture.height);
    if (out)
        DrawImage(*out, &picture, dx, 0, BLEND_ALPHA);
    return out;
}

} // namespace

ImagePtr ShakeImage(const ImageBuffer *picture, int32_t frame)
{
    if (!isPicture(picture))
        return nullptr;
    constexpr int32_t Amplitude = 5;
    switch ((frame % 4 + 4) % 4) {
    case 1: return shifted(*picture, Amplitude);
    case 3: return shifted(*picture, -Amplitude);
    default: {
        ImagePtr left = shifted(*picture, -Amplitude);
        ImagePtr right = shifted(*picture, Amplitude);
        if (!left || !right)
            return nullptr;
        return MixImages(left.get(), right.get(), 50);
    }
    }
}

ImagePtr BlurImage(const ImageBuffer *picture)
{
    if (!isPicture(picture))
        return nullptr;
    const int32_t w = picture->width;
    const int32_t h = picture->height;
    ImagePtr out = CreateImageBuffer(w, h, 24);
    if (!out || w == 0 || h == 0)
        return out;
    // Column sums of three rows per colour byte (at most 3 * 255), then three columns of them.
    std::unique_ptr<uint16_t[]> columns(new (std::nothrow) uint16_t[size_t(3) * size_t(w)]);
    if (!columns)
        return nullptr;
    for (int32_t y = 0; y < h; ++y) {
        if (cancelRequested())
            return nullptr;
        const uint8_t *up = picture->row(std::max(y - 1, 0));
        const uint8_t *mid = picture->row(y);
        const uint8_t *down = picture->row(std::min(y + 1, h - 1));
        for (int32_t j = 0; j < 3 * w; ++j)
            columns[size_t(j)] = uint16_t(up[j] + mid[j] + down[j]);
        uint8_t *d = out->row(y);
        for (int32_t x = 0; x < w; ++x) {
            const size_t left = size_t(std::max(x - 1, 0)) * 3;
            const size_t centre = size_t(x) * 3;
            const size_t right = size_t(std::min(x + 1, w - 1)) * 3;
            for (size_t c = 0; c < 3; ++c) {
                const int sum = columns[left + c] + columns[centre + c] + columns[right + c];
                // trunc(sum / 9 + 0.5): sum / 9 is never half-way (9 is odd), so this is exact.
                d[centre + c] = uint8_t((sum + 4) / 9);
            }
        }
    }
    return out;
}

} // namespace vorn
