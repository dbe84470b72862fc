// CUT: each frame is the input's picture at the mapped frame, passed through.
#include "scenario/model/blocks/cut.h"

#include "scenario/model/blocks/renderhelp.h"

namespace vorn {

ImageBuffer *CutBlock::render(int32_t frame)
{
    BlockInput *input = firstInput();
    return input ? input->render(mappedFrame(frame)) : nullptr;
}

void CutBlock::release(ImageBuffer *picture, int32_t frame)
{
    if (!picture)
        return;
    if (BlockInput *input = firstInput())
        input->release(picture, mappedFrame(frame));
    else
        FreeImage(picture);
}

int32_t CutBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    render::traceHead(*this, frame, lines);
    return render::traceInput(firstInput(), mappedFrame(frame), depth, lines);
}

} // namespace vorn
