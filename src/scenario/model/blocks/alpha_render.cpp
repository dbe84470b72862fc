// ALPHA: a copy of the input's picture with its alpha scaled from start/255 to end/255.
#include "scenario/model/blocks/alpha.h"

#include "scenario/model/blocks/renderhelp.h"

#include <algorithm>
#include <cmath>

namespace vorn {

ImageBuffer *AlphaBlock::render(int32_t frame)
{
    ImagePtr out;
    {
        render::InputPicture input(firstInput(), frame);
        out = render::copyWithAlpha(input.get());
    }
    if (!out)
        return nullptr;
    const double factor = render::interpolateReal(start, end, frame, frameCount()) / 255.0;
    const size_t bytes = size_t(out->alphaStride) * size_t(out->height);
    uint8_t *alpha = out->alpha.get();
    // Values beyond 0..255 (a factor above one) are held at the ends of the byte.
    for (size_t i = 0; i < bytes; ++i)
        alpha[i] = uint8_t(std::clamp(std::trunc(alpha[i] * factor + 0.5), 0.0, 255.0));
    return out.release();
}

} // namespace vorn
