// SHADE: a copy of the input's picture blurred a number of times that moves from start to end.
#include "scenario/model/blocks/shade.h"

#include "imaging/compose.h"
#include "scenario/model/blocks/renderhelp.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace vorn {

namespace {

bool sameColours(const ImageBuffer &a, const ImageBuffer &b)
{
    if (a.width != b.width || a.height != b.height || a.bitCount != b.bitCount)
        return false;
    const size_t rowBytes = size_t(a.width) * size_t(a.bitCount / 8);
    for (int32_t y = 0; y < a.height; ++y)
        if (std::memcmp(a.row(y), b.row(y), rowBytes) != 0)
            return false;
    return true;
}

// `picture` blurred `count` times, or none when memory runs out. The blur rounds, so pictures
// settle: once a pass changes nothing, more passes change nothing either, and once a pass gives
// back the picture of two passes before, the passes alternate between two pictures and the
// parity of the remaining count picks one. Both end the work early with the same result. The
// worst patterns tried (a checkerboard) settle within about half their longer side; the cap,
// far beyond that, bounds the work of a frame should some picture never settle.
ImagePtr blurTimes(ImagePtr picture, int64_t count)
{
    const int64_t cap = 2 * (int64_t(picture->width) + picture->height) + 64;
    ImagePtr twoBack;
    for (int64_t done = 0; done < count && done < cap; ++done) {
        ImagePtr next = BlurImage(picture.get());
        if (!next)
            return nullptr;
        if (sameColours(*next, *picture))
            return picture;
        if (twoBack && sameColours(*next, *twoBack))
            return (count - done - 1) % 2 == 0 ? std::move(next) : std::move(picture);
        twoBack = std::move(picture);
        picture = std::move(next);
    }
    return picture;
}

} // namespace

int32_t ShadeBlock::blursAt(int32_t frame)
{
    const double value = render::interpolateReal(start, end, frame, frameCount()) + 0.5;
    if (value < 1)
        return 0;
    return value >= double(INT32_MAX) ? INT32_MAX : int32_t(std::trunc(value));
}

ImageBuffer *ShadeBlock::render(int32_t frame)
{
    ImagePtr out;
    {
        render::InputPicture input(firstInput(), frame);
        out = CopyImage(input.get());
    }
    if (!out)
        return nullptr;
    const int32_t count = blursAt(frame);
    if (count == 0)
        return out.release();
    // The blur works on colour only; the picture keeps its transparency.
    std::unique_ptr<uint8_t[]> alpha = std::move(out->alpha);
    const int32_t alphaStride = out->alphaStride;
    out = blurTimes(std::move(out), count);
    if (!out)
        return nullptr;
    out->alpha = std::move(alpha);
    out->alphaStride = out->alpha ? alphaStride : 0;
    return out.release();
}

} // namespace vorn
