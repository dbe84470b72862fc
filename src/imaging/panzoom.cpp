// PanZoomImage: one frame of the linear source / destination / clip movement of ACTION blocks.
#include "imaging/panzoom.h"

#include "base/result.h"
#include "imaging/compose.h"
#include "imaging/resample.h"

#include <limits>

namespace vorn {
namespace {

// A coordinate at frame t of n in 1/1024 pixel: start x 1024 plus the share of the way, with
// 64-bit intermediates. n below 2 stays at the start.
int64_t movedUnits(int32_t start, int32_t end, int64_t t, int64_t n)
{
    const int64_t base = int64_t(start) * 1024;
    if (n < 2)
        return base;
    return base + (int64_t(end) - start) * 1024 * t / (n - 1);
}

// The same in whole pixels (clip rectangles move by whole pixels).
int64_t movedPixels(int32_t start, int32_t end, int64_t t, int64_t n)
{
    if (n < 2)
        return start;
    return start + (int64_t(end) - start) * t / (n - 1);
}

bool fitsInt32(int64_t v)
{
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

} // namespace

int32_t PanZoomImage(ImageBuffer *destination, const ImageBuffer *source, int32_t canvasWidth,
                     int32_t canvasHeight, const PanZoomRects &rects, int32_t t, int32_t n,
                     int32_t flags)
{
    if (!destination || !source)
        return CannotOpen;

    const Rect &s0 = rects.srcStart, &s1 = rects.srcEnd;
    const Rect &d0 = rects.dstStart, &d1 = rects.dstEnd;
    const int64_t sl = movedUnits(s0.left, s1.left, t, n);
    const int64_t st = movedUnits(s0.top, s1.top, t, n);
    const int64_t sr = movedUnits(s0.right, s1.right, t, n);
    const int64_t sb = movedUnits(s0.bottom, s1.bottom, t, n);
    const int64_t dl = movedUnits(d0.left, d1.left, t, n);
    const int64_t dt = movedUnits(d0.top, d1.top, t, n);
    const int64_t dr = movedUnits(d0.right, d1.right, t, n);
    const int64_t db = movedUnits(d0.bottom, d1.bottom, t, n);
    for (int64_t v : {sl, st, sr - sl, sb - st, dl, dt, dr - dl, db - dt}) {
        if (!fitsInt32(v))
            return Failed;
    }

    auto resample = (flags & FIT_NEAREST) ? ResampleImageNearest : ResampleImage;
    ImagePtr scaled = resample(source, int32_t(dl), int32_t(dt), int32_t(dr - dl),
                               int32_t(db - dt), int32_t(sl), int32_t(st), int32_t(sr - sl),
                               int32_t(sb - st));
    // An empty source or destination area, or a source area beside the picture, shows
    // nothing; anything else that fails to scale has run out of memory.
    const bool empty = sr <= sl || sb <= st || dr <= dl || db <= dt || (sl >> 10) >= source->width
                       || (st >> 10) >= source->height || ((sr + 1023) >> 10) <= 0
                       || ((sb + 1023) >> 10) <= 0;
    if (!scaled && !empty)
        return Failed;

    const int64_t cl = movedPixels(rects.clipStart.left, rects.clipEnd.left, t, n);
    const int64_t ct = movedPixels(rects.clipStart.top, rects.clipEnd.top, t, n);
    const int64_t cr = movedPixels(rects.clipStart.right, rects.clipEnd.right, t, n);
    const int64_t cb = movedPixels(rects.clipStart.bottom, rects.clipEnd.bottom, t, n);
    if (cr <= cl || cb <= ct || !scaled)
        return Ok;  // nothing visible
    if (!fitsInt32(cr - cl) || !fitsInt32(cb - ct) || !fitsInt32(-cl) || !fitsInt32(-ct))
        return Failed;

    // The scaled picture is placed on the canvas at the destination start truncated toward
    // zero, and the clip is cut out of the canvas. When the clip lies inside the canvas the
    // canvas adds nothing but a copy: the scaled picture goes straight into the cut-out.
    const int64_t placeX = dl / 1024, placeY = dt / 1024;
    ImagePtr cut = CreateImage(int32_t(cr - cl), int32_t(cb - ct));
    if (!cut)
        return Failed;
    if (cl >= 0 && ct >= 0 && cr <= canvasWidth && cb <= canvasHeight) {
        if (fitsInt32(placeX - cl) && fitsInt32(placeY - ct))
            DrawImage(*cut, scaled.get(), int32_t(placeX - cl), int32_t(placeY - ct), BLEND_COPY);
    } else {
        ImagePtr canvas = CreateImage(canvasWidth, canvasHeight);
        if (!canvas)
            return Failed;
        DrawImage(*canvas, scaled.get(), int32_t(placeX), int32_t(placeY), BLEND_COPY);
        scaled.reset();
        DrawImage(*cut, canvas.get(), int32_t(-cl), int32_t(-ct), BLEND_COPY);
    }
    DrawImage(*destination, cut.get(), int32_t(cl), int32_t(ct),
              (flags & BLEND_LIGHTEN) ? BLEND_LIGHTEN : BLEND_ALPHA);
    return Ok;
}

} // namespace vorn
