// MIX: the inputs that run at a frame drawn into their rectangles over the background plate.
#include "scenario/model/blocks/mix.h"

#include "imaging/compose.h"
#include "imaging/resample.h"
#include "scenario/model/blocks/renderhelp.h"

#include <mutex>

namespace vorn {

namespace {

bool runsAt(BlockInput &input, int32_t frame)
{
    return input.offset <= frame && int64_t(frame) < int64_t(input.offset) + input.frameCount();
}

} // namespace

ImageBuffer *MixBlock::render(int32_t frame)
{
    ImagePtr out;
    {
        std::lock_guard guard(lock);
        ++pending;
        out = CopyImage(cacheB.get());
    }
    if (!out) {
        // Made without the lock: the plate renders the BGIMAGE block.
        ImagePtr plate = render::makeBackgroundPlate(*this, frame);
        std::lock_guard guard(lock);
        if (!cacheB)
            cacheB = std::move(plate);
        out = CopyImage(cacheB.get());
    }
    const int32_t mode = mixMode == ModeOr ? BLEND_OR : BLEND_ALPHA;
    for (auto &input : inputs) {
        if (!out)
            break;
        if (!runsAt(*input, frame))
            continue;
        render::InputPicture picture(input.get(), frame - input->offset);
        if (!picture) {
            out.reset();
            break;
        }
        const Rect &rect = input->rect;
        if (picture.get()->width == rect.width() && picture.get()->height == rect.height()) {
            DrawImage(*out, picture.get(), rect.left, rect.top, mode);
            continue;
        }
        ImagePtr fitted = FitImage(picture.get(), rect.width(), rect.height(), FIT_INSIDE);
        if (!fitted) {
            out.reset();
            break;
        }
        DrawImage(*out, fitted.get(), rect.left, rect.top, mode);
    }
    if (!out) {
        render::finishRelease(*this, frame);
        return nullptr;
    }
    return out.release();
}

void MixBlock::release(ImageBuffer *picture, int32_t frame)
{
    if (!picture)
        return;
    FreeImage(picture);
    // `frames` is 0 here, so the plate goes whenever nothing is pending: a moving BGIMAGE is
    // followed frame by frame.
    render::finishRelease(*this, frame);
}

int32_t MixBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    render::traceHead(*this, frame, lines);
    for (auto &input : inputs)
        if (runsAt(*input, frame) &&
            render::traceInput(input.get(), frame - input->offset, depth, lines) < 0)
            return -1;
    return 0;
}

} // namespace vorn
