// ACTION, ZOOM, SLIDE and FOCUS: the kept input picture panned and zoomed over the kept
// background plate, with keep-aspect fitting and fainter after-images.
#include "scenario/model/blocks/action.h"

#include "imaging/compose.h"
#include "imaging/panzoom.h"
#include "scenario/model/blocks/renderhelp.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace vorn {
namespace {

// Coordinates beyond this many pixels cannot be drawn (the pan and zoom works in 1/1024
// pixel within 32 bits); holding them here keeps every product below in 64 bits.
constexpr int64_t Reach = int64_t(1) << 22;

int32_t held(int64_t value)
{
    return int32_t(std::clamp(value, -Reach, Reach));
}

// Rectangles here run from left/top to just outside right/bottom (right - left wide).
Rect exclusive(const Rect &rect)
{
    return {held(rect.left), held(rect.top), held(int64_t(rect.right) + 1),
            held(int64_t(rect.bottom) + 1)};
}

int64_t w(const Rect &r) { return int64_t(r.right) - r.left; }
int64_t h(const Rect &r) { return int64_t(r.bottom) - r.top; }

// Cuts a source area back to the picture's edges.
void clampInto(Rect &rect, int32_t width, int32_t height)
{
    rect.left = std::max(rect.left, 0);
    rect.top = std::max(rect.top, 0);
    rect.right = std::min(rect.right, width);
    rect.bottom = std::min(rect.bottom, height);
}

bool usable(const Rect &a, const Rect &b)
{
    return w(a) > 0 && h(a) > 0 && w(b) > 0 && h(b) > 0;
}

// SLIDE: the destination shrunk to the source's aspect, centred on its own centre.
void fitDestination(const Rect &src, Rect &dst)
{
    if (!usable(src, dst) || w(dst) * h(src) == h(dst) * w(src))
        return;
    if (w(dst) * h(src) < h(dst) * w(src)) {
        const int64_t height = w(dst) * h(src) / w(src);
        const int64_t c = int64_t(dst.top) + dst.bottom;
        dst.top = int32_t((c - height) / 2);
        dst.bottom = int32_t((c + height) / 2);
    } else {
        const int64_t width = h(dst) * w(src) / h(src);
        const int64_t c = int64_t(dst.left) + dst.right;
        dst.left = int32_t((c - width) / 2);
        dst.right = int32_t((c + width) / 2);
    }
}

// FOCUS: the same fitting about the destination's middle, halves taken separately.
void fitDestinationAboutMiddle(const Rect &src, Rect &dst)
{
    if (!usable(src, dst))
        return;
    if (w(dst) * h(src) < h(dst) * w(src)) {
        const int64_t height = w(dst) * h(src) / w(src);
        const int64_t m = (int64_t(dst.top) + dst.bottom) / 2;
        dst.top = int32_t(m - height / 2);
        dst.bottom = int32_t(height / 2 + m);
    } else {
        const int64_t width = h(dst) * w(src) / h(src);
        const int64_t m = (int64_t(dst.left) + dst.right) / 2;
        dst.left = int32_t(m - width / 2);
        dst.right = int32_t(width / 2 + m);
    }
}

// ACTION and ZOOM: the source cropped to the destination's aspect, centred.
void cropSource(Rect &src, const Rect &dst)
{
    if (!usable(src, dst))
        return;
    if (w(dst) * h(src) <= h(dst) * w(src)) {
        const int64_t width = h(src) * w(dst) / h(dst);
        const int64_t cut = (w(src) - width) / 2;
        src.left = int32_t(src.left + cut);
        src.right = int32_t(src.right - cut);
    } else {
        const int64_t height = w(src) * h(dst) / w(dst);
        const int64_t cut = (h(src) - height) / 2;
        src.top = int32_t(src.top + cut);
        src.bottom = int32_t(src.bottom - cut);
    }
}

} // namespace

PanZoomRects ActionBlock::rectanglesFor(int32_t sourceWidth, int32_t sourceHeight) const
{
    PanZoomRects r;
    r.srcStart = hasSrcStart ? exclusive(srcStart) : Rect{0, 0, sourceWidth, sourceHeight};
    r.srcEnd = hasSrcEnd ? exclusive(srcEnd) : Rect{0, 0, sourceWidth, sourceHeight};
    r.dstStart = exclusive(dstStart);
    r.dstEnd = exclusive(dstEnd);
    r.clipStart = exclusive(dspStart);
    r.clipEnd = exclusive(dspEnd);
    clampInto(r.srcStart, sourceWidth, sourceHeight);
    clampInto(r.srcEnd, sourceWidth, sourceHeight);
    if (keepAspect) {
        if (kind == BlockKind::Slide) {
            fitDestination(r.srcStart, r.dstStart);
            fitDestination(r.srcEnd, r.dstEnd);
        } else if (kind == BlockKind::Focus) {
            fitDestinationAboutMiddle(r.srcStart, r.dstStart);
            r.dstEnd = r.dstStart;
        } else {
            cropSource(r.srcStart, r.dstStart);
            cropSource(r.srcEnd, r.dstEnd);
        }
    }
    return r;
}

ImageBuffer *ActionBlock::render(int32_t frame)
{
    int32_t width = 0, height = 0;
    if (!render::screenSize(*this, width, height))
        return nullptr;

    std::shared_ptr<const ImageBuffer> src;
    ImagePtr out;
    {
        std::lock_guard guard(lock);
        ++pending;
        src = sourceCache;
        out = CopyImage(cacheB.get());
    }
    // Missing parts are made without the lock (they render other blocks) and kept unless a
    // render on another thread kept its own first.
    if (!src) {
        ImagePtr copy;
        {
            render::InputPicture input(firstInput(), frame);
            copy = render::copyWithAlpha(input.get());
        }
        std::shared_ptr<const ImageBuffer> built(copy.release());
        std::lock_guard guard(lock);
        if (!sourceCache)
            sourceCache = built;
        src = sourceCache;
    }
    if (!out) {
        ImagePtr plate = render::makeBackgroundPlate(*this, frame);
        std::lock_guard guard(lock);
        if (!cacheB)
            cacheB = std::move(plate);
        out = CopyImage(cacheB.get());
    }
    if (!src || !out) {
        render::finishRelease(*this, frame);
        return nullptr;
    }

    const PanZoomRects rects = rectanglesFor(src->width, src->height);
    int32_t result = 0;
    if (afterimage < 1 || frame <= 0) {
        result = PanZoomImage(out.get(), src.get(), width, height, rects, frame, frames, 0);
    } else {
        // The current position first, then up to `afterimage` earlier ones, each fainter,
        // lightening only what is already there.
        for (int32_t k = 0; k <= afterimage && frame - k >= 0 && result == 0; ++k) {
            if (k == 0) {
                result = PanZoomImage(out.get(), src.get(), width, height, rects, frame, frames,
                                      BLEND_LIGHTEN);
                continue;
            }
            ImagePtr trail = CopyImage(src.get());
            if (!trail) {
                result = -1;
                break;
            }
            const double factor = double(afterimage + 1 - k) / double(afterimage + 1);
            const size_t bytes = size_t(trail->alphaStride) * size_t(trail->height);
            uint8_t *alpha = trail->alpha.get();
            for (size_t i = 0; i < bytes; ++i)
                alpha[i] = uint8_t(std::trunc(alpha[i] * factor + 0.5));
            result = PanZoomImage(out.get(), trail.get(), width, height, rects, frame - k,
                                  frames, BLEND_LIGHTEN);
        }
    }
    if (result != 0) {
        render::finishRelease(*this, frame);
        return nullptr;
    }
    return out.release();
}

void ActionBlock::release(ImageBuffer *picture, int32_t frame)
{
    if (!picture)
        return;
    FreeImage(picture);
    render::finishRelease(*this, frame);
}

int32_t ActionBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    return render::traceAllInputs(*this, frame, depth, lines);
}

void ActionBlock::dropCaches()
{
    sourceCache.reset();
    Block::dropCaches();
}

} // namespace vorn
