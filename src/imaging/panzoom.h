// One frame of a linear pan and zoom: source, destination and clip rectangles moving from
// their start to their end over a block's frames.
#pragma once

#include "base/geometry.h"
#include "imaging/imagebuffer.h"

#include <cstdint>

namespace vorn {

// The rectangles of PanZoomImage, each a pair (start at frame 0, end at frame n - 1), in whole
// pixels. Here right and bottom lie just outside the area (its width is right - left); do not
// use Rect::width() on them.
struct PanZoomRects {
    Rect srcStart, srcEnd;
    Rect dstStart, dstEnd;
    Rect clipStart, clipEnd;
};

// Draws frame t of n (t = 0 .. n - 1): the source area at frame t is scaled (ResampleImage, or
// ResampleImageNearest with FIT_NEAREST in `flags`) to the destination area at frame t on a
// transparent canvasWidth x canvasHeight canvas; the clip area at frame t is cut out of the
// canvas and drawn onto `destination` at the clip's position with BLEND_LIGHTEN when that bit
// is in `flags`, else BLEND_ALPHA. Source positions move in 1/1024 pixel, clip positions in
// whole pixels. n = 1 shows the start rectangles. Returns 0; -4 (CannotOpen) when a picture is
// missing; -1 when memory runs out or a size is unusable (nothing is drawn then).
int32_t PanZoomImage(ImageBuffer *destination, const ImageBuffer *source, int32_t canvasWidth,
                     int32_t canvasHeight, const PanZoomRects &rects, int32_t t, int32_t n,
                     int32_t flags);

} // namespace vorn
