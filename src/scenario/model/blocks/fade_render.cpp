// FADE: the input mixed from or toward a colour at its ends.
#include "scenario/model/blocks/fade.h"

#include "imaging/compose.h"
#include "scenario/model/blocks/renderhelp.h"

namespace vorn {

int32_t FadeBlock::colourShareAt(int32_t frame)
{
    const bool fadesIn = fadeMode == ModeIn || fadeMode == ModeInOut;
    const bool fadesOut = fadeMode == ModeOut || fadeMode == ModeInOut;
    const int64_t total = frameCount();
    if (frames <= 0)
        return -1;
    if (fadesIn && frame < frames)
        return int32_t(int64_t(frame) * 100 / frames);
    if (fadesOut && frame >= total - frames)
        return int32_t((int64_t(frame) - (total - frames)) * 100 / frames);
    return -1;
}

ImageBuffer *FadeBlock::render(int32_t frame)
{
    const int32_t share = colourShareAt(frame);
    if (share < 0)
        return firstInput() ? firstInput()->render(frame) : nullptr;
    render::InputPicture input(firstInput(), frame);
    ImagePtr holder;
    const ImageBuffer *picture = render::withAlpha(input.get(), holder);
    if (!picture)
        return nullptr;
    // The colour plate takes the picture's own size, which is the screen's for every picture
    // a scenario places; a picture of another size still fades instead of vanishing.
    ImagePtr plate = CreateFilledImage(picture->width, picture->height, bgColor.red,
                                       bgColor.green, bgColor.blue, 0);
    const bool fadingIn = (fadeMode == ModeIn || fadeMode == ModeInOut) && frame < frames;
    ImagePtr mixed = fadingIn ? MixImages(plate.get(), picture, share)
                              : MixImages(picture, plate.get(), share);
    return mixed.release();
}

void FadeBlock::release(ImageBuffer *picture, int32_t frame)
{
    if (!picture)
        return;
    if (colourShareAt(frame) >= 0 || !firstInput())
        FreeImage(picture);
    else
        firstInput()->release(picture, frame);
}

int32_t FadeBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    return render::traceAllInputs(*this, frame, depth, lines);
}

} // namespace vorn
