// DRAW: drawing the shapes into the finished picture.
#include "scenario/model/blocks/draw.h"

#include "scenario/model/blocks/renderhelp.h"
#include "scenario/model/scenario.h"

#include <mutex>

namespace vorn {

ImageBuffer *DrawBlock::render(int32_t)
{
    std::lock_guard guard(lock);
    if (!image) {
        image = DrawShapesImage(size.width, size.height, shapes, color, bgColor,
                                scenario ? scenario->prompter : nullptr);
        if (!image)
            return nullptr;
    }
    return CopyImage(image.get()).release();
}

void DrawBlock::release(ImageBuffer *picture, int32_t)
{
    if (!picture)
        return;
    FreeImage(picture);
    std::lock_guard guard(lock);
    image.reset();
}

int32_t DrawBlock::trace(int32_t frame, int32_t, std::vector<std::string> &lines)
{
    render::traceHead(*this, frame, lines);
    return 0;
}

void DrawBlock::dropCaches()
{
    image.reset();
    Block::dropCaches();
}

} // namespace vorn
