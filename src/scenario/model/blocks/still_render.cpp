// STILL: composing the inputs once into the kept still picture and handing out copies.
#include "scenario/model/blocks/still.h"

#include "imaging/compose.h"
#include "imaging/resample.h"
#include "scenario/model/blocks/renderhelp.h"

#include <mutex>

namespace vorn {

ImagePtr StillBlock::compose(int32_t frame)
{
    int32_t width = 0, height = 0;
    if (!render::screenSize(*this, width, height))
        return nullptr;
    ImagePtr still = CreateFilledImage(width, height, bgColor.red, bgColor.green, bgColor.blue, 0);
    if (!still)
        return nullptr;
    for (auto &input : inputs) {
        ImagePtr fitted;
        {
            render::InputPicture picture(input.get(), frame);
            if (!picture)
                return nullptr;
            fitted = FitImage(picture.get(), input->rect.width(), input->rect.height(),
                              input->cutMode == MaxCut ? FIT_COVER : FIT_INSIDE);
        }
        if (!fitted)
            return nullptr;
        DrawImage(*still, fitted.get(), input->rect.left, input->rect.top, BLEND_ALPHA);
    }
    return still;
}

ImageBuffer *StillBlock::render(int32_t frame)
{
    {
        std::lock_guard guard(lock);
        ++pending;
        if (cacheA)
            return CopyImage(cacheA.get()).release();
    }
    // Composed without the lock, since it renders the inputs; a render on another thread
    // may have kept its own still meanwhile, and then that one is used.
    ImagePtr built = compose(frame);
    ImageBuffer *out = nullptr;
    {
        std::lock_guard guard(lock);
        if (!cacheA)
            cacheA = std::move(built);
        out = CopyImage(cacheA.get()).release();
    }
    if (!out)
        render::finishRelease(*this, frame);
    return out;
}

void StillBlock::release(ImageBuffer *picture, int32_t frame)
{
    if (!picture)
        return;
    FreeImage(picture);
    render::finishRelease(*this, frame);
}

int32_t StillBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    return render::traceAllInputs(*this, frame, depth, lines);
}

} // namespace vorn
