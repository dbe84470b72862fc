// SHADE: a copy of the input's picture blurred a number of times that moves from start to end.
#include "scenario/model/blocks/shade.h"

#include "imaging/compose.h"
#include "scenario/model/blocks/renderhelp.h"

#include <cmath>

namespace vorn {

int32_t ShadeBlock::blursAt(int32_t frame)
{
    const double value = render::interpolateReal(start, end, frame, frameCount()) + 0.5;
    return value < 1 ? 0 : int32_t(std::trunc(value));
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
    for (int32_t i = 0; i < count && out; ++i)
        out = BlurImage(out.get());
    if (!out)
        return nullptr;
    out->alpha = std::move(alpha);
    out->alphaStride = out->alpha ? alphaStride : 0;
    return out.release();
}

} // namespace vorn
