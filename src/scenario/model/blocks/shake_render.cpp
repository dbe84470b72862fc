// SHAKE: the input's picture shifted side to side frame by frame.
#include "scenario/model/blocks/shake.h"

#include "imaging/compose.h"
#include "scenario/model/blocks/renderhelp.h"

namespace vorn {

ImageBuffer *ShakeBlock::render(int32_t frame)
{
    render::InputPicture input(firstInput(), frame);
    return ShakeImage(input.get(), frame).release();
}

void ShakeBlock::release(ImageBuffer *picture, int32_t)
{
    FreeImage(picture);
}

int32_t ShakeBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    return render::traceAllInputs(*this, frame, depth, lines);
}

} // namespace vorn
