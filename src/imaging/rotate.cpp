// RotateImage: nearest-sample rotation about the centre with fixed-point stepping.
#include "imaging/rotate.h"

#include "base/cancel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace vorn {
namespace {

// floor(a / b) for b > 0.
int64_t floorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The columns k in [0, count) for which lo <= start + k * step < hi, as [first, end).
// The sampled position is linear in k, so the set is one interval.
void insideRange(int64_t start, int64_t step, int64_t lo, int64_t hi, int64_t count,
                 int64_t &first, int64_t &end)
{
    if (step == 0) {
        const bool inside = start >= lo && start < hi;
        first = inside ? 0 : count;
        end = inside ? count : 0;
        return;
    }
    if (step < 0) {
        // start + k * step in [lo, hi)  <=>  -start + k * (-step) in (-hi, -lo]
        //                              <=>  -start + k * (-step) in [-hi + 1, -lo + 1)
        insideRange(-start, -step, -hi + 1, -lo + 1, count, first, end);
        return;
    }
    // smallest k with start + k * step >= lo, smallest k with start + k * step >= hi
    first = std::max<int64_t>(0, -floorDiv(start - lo, step));
    end = std::min<int64_t>(count, -floorDiv(start - hi, step));
    if (end < first)
        end = first;
}

} // namespace

ImagePtr RotateImage(const ImageBuffer *source, int32_t degrees)
{
    if (!source || source->bitCount != 24 || !source->pixels)
        return nullptr;
    const int64_t W = source->width, H = source->height;

    // The remainder keeps the sign of the angle; the factors are rounded half up and then
    // truncated toward zero, so cos 180 degrees is -1023/1024 and the half-turned picture is
    // one part in 1024 smaller: kept, because stored scenarios were tuned on these pictures.
    const double a = double(degrees % 360) * std::numbers::pi / 180.0;
    const double C = std::cos(a), S = std::sin(a);
    const double newWd = std::trunc(std::fabs(double(H) * S) + std::fabs(double(W) * C) + 0.5);
    const double newHd = std::trunc(std::fabs(double(H) * C) + std::fabs(double(W) * S) + 0.5);
    if (newWd > std::numeric_limits<int32_t>::max() || newHd > std::numeric_limits<int32_t>::max())
        return nullptr;
    const int32_t newW = static_cast<int32_t>(newWd);
    const int32_t newH = static_cast<int32_t>(newHd);
    ImagePtr out = CreateImage(newW, newH);
    if (!out)
        return nullptr;

    const int64_t c = static_cast<int64_t>(std::trunc(C * 1024 + 0.5));
    const int64_t s = static_cast<int64_t>(std::trunc(S * 1024 + 0.5));
    const int64_t hwNew = newW / 2, hhNew = newH / 2;
    const int64_t hw = W / 2, hh = H / 2;
    // Source column (u >> 10) + hw lies in [0, W) exactly when u lies in
    // [-hw * 1024, (W - hw) * 1024); likewise v for the rows. 64-bit positions, so no picture
    // size can wrap them.
    const int64_t uLo = -hw * 1024, uHi = (W - hw) * 1024;
    const int64_t vLo = -hh * 1024, vHi = (H - hh) * 1024;
    const bool hasAlpha = source->alpha != nullptr;

    for (int32_t y = 0; y < newH; ++y) {
        if (cancelRequested())
            return nullptr;
        const int64_t u0 = -hwNew * c - (y - hhNew) * s;
        const int64_t v0 = (y - hhNew) * c - hwNew * s;
        int64_t first, end, first2, end2;
        insideRange(u0, c, uLo, uHi, newW, first, end);
        insideRange(v0, s, vLo, vHi, newW, first2, end2);
        first = std::max(first, first2);
        end = std::min(end, end2);
        if (first >= end)
            continue;  // the row lies outside the source: transparent black already
        int64_t u = u0 + first * c;
        int64_t v = v0 + first * s;
        uint8_t *dst = out->row(y) + 3 * first;
        uint8_t *dstAlpha = out->alphaRow(y) + first;
        for (int64_t x = first; x < end; ++x) {
            const int64_t sxp = (u >> 10) + hw;
            const int64_t syp = (v >> 10) + hh;
            u += c;
            v += s;
            const uint8_t *p = source->row(int32_t(syp)) + 3 * sxp;
            // Colour is premultiplied by the source alpha (integer division by 255).
            const uint32_t A = hasAlpha ? source->alphaRow(int32_t(syp))[sxp] : 255;
            if (A == 255) {
                dst[0] = p[0];
                dst[1] = p[1];
                dst[2] = p[2];
            } else {
                dst[0] = uint8_t(p[0] * A / 255);
                dst[1] = uint8_t(p[1] * A / 255);
                dst[2] = uint8_t(p[2] * A / 255);
            }
            *dstAlpha = uint8_t(A);
            dst += 3;
            ++dstAlpha;
        }
    }
    return out;
}

} // namespace vorn
