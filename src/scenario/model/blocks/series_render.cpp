// SERIES and MAIN: each frame is the picture of the input that covers it.
#include "scenario/model/blocks/series.h"

#include "scenario/model/blocks/renderhelp.h"

namespace vorn {

BlockInput *SeriesBlock::inputAt(int32_t frame, int32_t &local) const
{
    if (frame < 0)
        return nullptr;
    int64_t start = 0;
    for (const auto &input : inputs) {
        const int64_t length = input->frameCount();
        if (frame < start + length) {
            local = int32_t(frame - start);
            return input.get();
        }
        start += length;
    }
    return nullptr;  // at or beyond the end: no picture
}

ImageBuffer *SeriesBlock::render(int32_t frame)
{
    int32_t local = 0;
    BlockInput *input = inputAt(frame, local);
    if (!input)
        return nullptr;
    if (!input->linkVolumeAlpha)
        return input->render(local);
    // A picture that follows the song's volume is this block's own copy.
    render::InputPicture picture(input, local);
    return CopyImage(picture.get()).release();
}

void SeriesBlock::release(ImageBuffer *picture, int32_t frame)
{
    if (!picture)
        return;
    int32_t local = 0;
    BlockInput *input = inputAt(frame, local);
    if (!input || input->linkVolumeAlpha)
        FreeImage(picture);
    else
        input->release(picture, local);
}

int32_t SeriesBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    render::traceHead(*this, frame, lines);
    int32_t local = 0;
    BlockInput *input = inputAt(frame, local);
    return input ? render::traceInput(input, local, depth, lines) : 0;
}

} // namespace vorn
