// ROTATE: the screen-sized layer of its inputs, kept, turned about the centre every frame over
// the kept background plate.
#include "scenario/model/blocks/rotate.h"

#include "imaging/compose.h"
#include "imaging/resample.h"
#include "imaging/rotate.h"
#include "scenario/model/blocks/renderhelp.h"

#include <cmath>
#include <mutex>
#include <numbers>

namespace vorn {

ImagePtr RotateBlock::composeLayer(int32_t frame)
{
    int32_t width = 0, height = 0;
    if (!render::screenSize(*this, width, height))
        return nullptr;
    ImagePtr layer = CreateImage(width, height);
    if (!layer)
        return nullptr;
    for (auto &input : inputs) {
        ImagePtr fitted;
        {
            render::InputPicture picture(input.get(), frame);
            if (!picture)
                return nullptr;
            fitted = FitImage(picture.get(), input->rect.width(), input->rect.height(),
                              FIT_INSIDE);
        }
        if (!fitted)
            return nullptr;
        DrawImage(*layer, fitted.get(), input->rect.left, input->rect.top, BLEND_ALPHA);
    }
    return layer;
}

int32_t RotateBlock::angleAt(int32_t frame) const
{
    return int32_t(render::interpolate(angleStart, angleEnd, frame, frames));
}

ImageBuffer *RotateBlock::render(int32_t frame)
{
    int32_t width = 0, height = 0;
    if (!render::screenSize(*this, width, height))
        return nullptr;
    const int64_t a = angleAt(frame);

    // Where the layer's centre goes so that (centerX, centerY) stays in place: the offset of
    // the turning centre from the layer's centre, turned the other way, in 1/1024 units.
    const double rho = double((-a) % 360) * std::numbers::pi / 180.0;
    const int64_t c = int64_t(std::cos(rho) * 1024 + 0.5);
    const int64_t s = int64_t(std::sin(rho) * 1024 + 0.5);
    const int64_t dx = int64_t(centerX) - width / 2;
    const int64_t dy = int64_t(centerY) - height / 2;
    const int64_t rx = (dx * c - dy * s) >> 10;
    const int64_t ry = (dx * s + dy * c) >> 10;

    std::shared_ptr<const ImageBuffer> layer;
    ImagePtr out;
    {
        std::lock_guard guard(lock);
        ++pending;
        layer = layerCache;
        out = CopyImage(cacheB.get());
    }
    // Missing parts are built without the lock (they render other blocks) and kept unless a
    // render on another thread kept its own first.
    if (!layer) {
        std::shared_ptr<const ImageBuffer> built(composeLayer(frame).release());
        std::lock_guard guard(lock);
        if (!layerCache)
            layerCache = built;
        layer = layerCache;
    }
    if (!out) {
        ImagePtr plate = render::makeBackgroundPlate(*this, frame);
        std::lock_guard guard(lock);
        if (!cacheB)
            cacheB = std::move(plate);
        out = CopyImage(cacheB.get());
    }
    ImagePtr turned = layer ? RotateImage(layer.get(), int32_t(a)) : nullptr;
    if (!turned || !out) {
        render::finishRelease(*this, frame);
        return nullptr;
    }
    DrawImage(*out, turned.get(), int32_t(centerX - (turned->width / 2 + rx)),
              int32_t(centerY - (turned->height / 2 + ry)), BLEND_ALPHA);
    return out.release();
}

void RotateBlock::release(ImageBuffer *picture, int32_t frame)
{
    if (!picture)
        return;
    FreeImage(picture);
    render::finishRelease(*this, frame);
}

int32_t RotateBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    return render::traceAllInputs(*this, frame, depth, lines);
}

void RotateBlock::dropCaches()
{
    layerCache.reset();
    Block::dropCaches();
}

} // namespace vorn
