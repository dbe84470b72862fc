// IMAGE: building the finished picture (file or BLOCK_FRAME, then the options chain) and
// handing out copies of it.
#include "scenario/model/blocks/image.h"

#include "imaging/compose.h"
#include "imaging/filters.h"
#include "imaging/imagefile.h"
#include "imaging/rotate.h"
#include "scenario/model/blocks/renderhelp.h"
#include "scenario/model/scenario.h"

#include <cstring>

namespace vorn {
namespace {

// Replaces `picture` by the result of a filter; false (picture none) when the filter failed.
template <typename Filter>
bool apply(ImagePtr &picture, Filter filter)
{
    picture = filter(picture.get());
    return picture != nullptr;
}

} // namespace

ImagePtr ImageBlock::buildPicture()
{
    ImagePtr picture;
    if (file) {
        const auto local = localFilePath();
        picture = local ? LoadImageFile(*local, pictureBudget()) : nullptr;
        if (!picture) {
            if (scenario)
                scenario->notePictureFailure(pictureFailureText());
            return nullptr;
        }
    } else {
        render::InputPicture input(firstInput(), blockFrame);
        picture = CopyImage(input.get());
    }
    if (!picture || !render::ensureAlpha(*picture))
        return nullptr;

    // The options always apply in this order, whatever order the file gave them in.
    if ((options & ThroughColor) && ThroughColorImage(*picture, color.red, color.green, color.blue) != 0)
        return nullptr;
    if (options & Clip) {
        ImagePtr clipped = CreateImage(clip.width(), clip.height());
        if (!clipped)
            return nullptr;
        DrawImage(*clipped, picture.get(), -clip.left, -clip.top, BLEND_ALPHA);
        picture = std::move(clipped);
    }
    if ((options & PhotoFrame) &&
        !apply(picture, [this](const ImageBuffer *p) { return PhotoFrameImage(p, photoFrame); }))
        return nullptr;
    if ((options & Sepia) && !apply(picture, SepiaImage))
        return nullptr;
    if ((options & Mono) && !apply(picture, MonoImage))
        return nullptr;
    if ((options & Nega) && !apply(picture, NegaImage))
        return nullptr;
    if ((options & Discolor) &&
        !apply(picture, [](const ImageBuffer *p) { return DiscolorImage(p, 0.5); }))
        return nullptr;
    if ((options & Angle) &&
        !apply(picture, [this](const ImageBuffer *p) { return RotateImage(p, angle); }))
        return nullptr;
    if (options & Highpass) {
        // The edge map is a 1-bit picture without alpha: widen it and give it back the alpha
        // plane the picture had before the filter.
        ImagePtr edges = HighpassImage(picture.get());
        ImagePtr wide = ExpandTo24Bit(edges.get());
        if (!wide || wide->width != picture->width || wide->height != picture->height)
            return nullptr;
        wide->alpha = std::move(picture->alpha);
        wide->alphaStride = picture->alphaStride;
        picture = std::move(wide);
        if (!render::ensureAlpha(*picture))
            return nullptr;
    }
    for (const auto &[bit, channel] : {std::pair{Red, 0}, std::pair{Green, 1}, std::pair{Blue, 2}}) {
        if ((options & bit) &&
            !apply(picture, [ch = channel](const ImageBuffer *p) { return KeepChannel(p, ch); }))
            return nullptr;
    }
    return picture;
}

// The picture is built for each render and handed out itself. Keeping it in `image` and
// handing out a copy would cost a full-size copy per frame for nothing: the kept picture goes
// with the first release anyway, and the decoded file is remembered by LoadImageFile.
ImageBuffer *ImageBlock::render(int32_t)
{
    return buildPicture().release();
}

void ImageBlock::release(ImageBuffer *picture, int32_t)
{
    FreeImage(picture);
}

int32_t ImageBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    render::traceHead(*this, frame, lines);
    if (file)
        return 0;
    return render::traceInput(firstInput(), blockFrame, depth, lines);
}

} // namespace vorn
