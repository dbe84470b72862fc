// EXPAND: the input's picture stretched from a moving edge line.
#include "scenario/model/blocks/expand.h"

#include "scenario/model/blocks/renderhelp.h"

#include <algorithm>
#include <cstring>

namespace vorn {

ImageBuffer *ExpandBlock::render(int32_t frame)
{
    int32_t width = 0, height = 0;
    if (!render::screenSize(*this, width, height))
        return nullptr;
    ImagePtr out;
    {
        render::InputPicture input(firstInput(), frame);
        out = CopyImage(input.get());
    }
    if (!out)
        return nullptr;
    if (out->bitCount != 24 || out->width < 1 || out->height < 1)
        return out.release();

    const int64_t total = frameCount();
    const bool in = expandIn == 1;
    const bool vertical = direction == DirectionUp || direction == DirectionDown;
    const int64_t side = (vertical ? height : width) - 1;
    // The edge line moves across the screen; a block of one frame shows its first frame.
    const int64_t moved = render::interpolate(0, side, frame, total);
    const bool fromFar = (direction == DirectionUp || direction == DirectionLeft) == in;
    const int64_t line = fromFar ? side - moved : moved;
    const bool fillsBefore = direction == DirectionUp || direction == DirectionLeft;
    const int32_t extent = vertical ? out->height : out->width;
    const auto p = int32_t(std::clamp<int64_t>(line, 0, extent - 1));
    const int32_t first = fillsBefore ? 0 : p + 1;
    const int32_t last = fillsBefore ? p - 1 : extent - 1;

    if (vertical) {
        const size_t bytes = size_t(out->width) * 3;
        for (int32_t y = first; y <= last; ++y)
            std::memcpy(out->row(y), out->row(p), bytes);
    } else {
        for (int32_t y = 0; y < out->height; ++y) {
            uint8_t *row = out->row(y);
            for (int32_t x = first; x <= last; ++x)
                std::memcpy(row + 3 * x, row + 3 * p, 3);
        }
    }
    return out.release();
}

void ExpandBlock::release(ImageBuffer *picture, int32_t)
{
    FreeImage(picture);
}

int32_t ExpandBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    return render::traceAllInputs(*this, frame, depth, lines);
}

} // namespace vorn
