// MOSAIC: the input's picture pixelated inside a moving target rectangle.
#include "scenario/model/blocks/mosaic.h"

#include "imaging/compose.h"
#include "imaging/resample.h"
#include "scenario/model/blocks/renderhelp.h"

#include <algorithm>
#include <cstdint>

namespace vorn {

ImageBuffer *MosaicBlock::render(int32_t frame)
{
    const int64_t total = frameCount();
    render::InputPicture input(firstInput(), frame);
    if (!input)
        return nullptr;
    const ImageBuffer &picture = *input.get();
    ImagePtr out = CopyImage(&picture);
    if (!out || !render::ensureAlpha(*out))
        return nullptr;

    // Block size in 1/1024 pixel, at least one pixel.
    const int64_t size = std::max<int64_t>(
        render::interpolate(int64_t(sizeStart) * 1024, int64_t(sizeEnd) * 1024, frame, total), 1024);
    const int64_t w = picture.width, h = picture.height;
    // The resampler works in 1/1024 pixel within 32 bits: a wider picture stays as it is.
    if (w * 1024 > INT32_MAX || h * 1024 > INT32_MAX)
        return out.release();
    // One sample per block; a block larger than the picture still leaves one.
    const int64_t smallW = std::max<int64_t>((w * 1024) / size, 1) * 1024;
    const int64_t smallH = std::max<int64_t>((h * 1024) / size, 1) * 1024;
    ImagePtr small = ResampleImage(&picture, 0, 0, int32_t(smallW), int32_t(smallH), 0, 0,
                                   int32_t(w * 1024 - 1), int32_t(h * 1024 - 1));
    input.release();
    ImagePtr big = ResampleImage(small.get(), 0, 0, int32_t(w * 1024 - 1), int32_t(h * 1024 - 1),
                                 0, 0, int32_t(smallW), int32_t(smallH));
    small.reset();
    if (!big)
        return nullptr;

    const Rect target{
        int32_t(render::interpolate(tgtStart.left, tgtEnd.left, frame, total)),
        int32_t(render::interpolate(tgtStart.top, tgtEnd.top, frame, total)),
        int32_t(render::interpolate(tgtStart.right, tgtEnd.right, frame, total)),
        int32_t(render::interpolate(tgtStart.bottom, tgtEnd.bottom, frame, total)),
    };
    if (target.width() < 1 || target.height() < 1)
        return out.release();
    ImagePtr patch = CreateImage(target.width(), target.height());
    if (!patch)
        return nullptr;
    DrawImage(*patch, big.get(), -target.left, -target.top, BLEND_ALPHA);
    DrawImage(*out, patch.get(), target.left, target.top, BLEND_ALPHA);
    return out.release();
}

void MosaicBlock::release(ImageBuffer *picture, int32_t)
{
    FreeImage(picture);
}

int32_t MosaicBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    return render::traceAllInputs(*this, frame, depth, lines);
}

} // namespace vorn
