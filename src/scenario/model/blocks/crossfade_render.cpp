// CROSSFADE: the inputs one after the other, mixed where two of them overlap.
#include "scenario/model/blocks/crossfade.h"

#include "imaging/compose.h"
#include "imaging/resample.h"
#include "scenario/model/blocks/renderhelp.h"

namespace vorn {

CrossfadeBlock::Covering CrossfadeBlock::coveringAt(int32_t frame) const
{
    Covering found;
    int64_t start = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const int64_t length = inputs[i]->frameCount();
        if (start <= frame && frame < start + length) {
            found.first = inputs[i].get();
            found.firstFrame = int32_t(frame - start);
            if (i + 1 < inputs.size() && frames > 0) {
                const int64_t next = start + length - frames;
                if (next <= frame && frame < next + inputs[i + 1]->frameCount()) {
                    found.second = inputs[i + 1].get();
                    found.secondFrame = int32_t(frame - next);
                }
            }
            return found;
        }
        start += length - frames;
    }
    return found;
}

ImageBuffer *CrossfadeBlock::render(int32_t frame)
{
    const Covering covering = coveringAt(frame);
    if (!covering.first)
        return nullptr;
    if (!covering.second)
        return covering.first->render(covering.firstFrame);
    render::InputPicture a(covering.first, covering.firstFrame);
    render::InputPicture b(covering.second, covering.secondFrame);
    if (!a || !b)
        return nullptr;
    // The mix needs alpha planes and equal sizes: a picture without alpha counts as opaque,
    // and a second picture of another size is fitted into the first one's.
    ImagePtr firstHolder, secondHolder;
    const ImageBuffer *first = render::withAlpha(a.get(), firstHolder);
    const ImageBuffer *second = b.get();
    if (!first)
        return nullptr;
    if (second->width != first->width || second->height != first->height) {
        secondHolder = FitImage(second, first->width, first->height, FIT_INSIDE);
        second = secondHolder.get();
    } else {
        second = render::withAlpha(second, secondHolder);
    }
    const auto percent = int32_t(int64_t(covering.secondFrame) * 100 / frames);
    return MixImages(first, second, percent).release();
}

void CrossfadeBlock::release(ImageBuffer *picture, int32_t frame)
{
    if (!picture)
        return;
    const Covering covering = coveringAt(frame);
    if (covering.second || !covering.first)
        FreeImage(picture);
    else
        covering.first->release(picture, covering.firstFrame);
}

int32_t CrossfadeBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    render::traceHead(*this, frame, lines);
    const Covering covering = coveringAt(frame);
    if (covering.first && render::traceInput(covering.first, covering.firstFrame, depth, lines) < 0)
        return -1;
    if (covering.second && render::traceInput(covering.second, covering.secondFrame, depth, lines) < 0)
        return -1;
    return 0;
}

} // namespace vorn
