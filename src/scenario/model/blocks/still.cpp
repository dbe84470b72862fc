// STILL: copy, length, key frames and its lines.
#include "scenario/model/blocks/still.h"

#include "scenario/model/blocks/layout.h"

namespace vorn {

StillBlock::StillBlock() : Block(BlockKind::Still) {}
StillBlock::StillBlock(const StillBlock &other) : Block(other) {}
StillBlock::~StillBlock() = default;

bool StillBlock::isKeyFrame(int32_t frame)
{
    return frame == 0;
}

void StillBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    addKeyFrame(0, first, last, offset, out);
}

int32_t StillBlock::frameCount()
{
    return ownFrameCount(frames);
}

int32_t StillBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    for (const auto &input : inputs)
        print(layout::inputLine(*input) + layout::inputRectFields(*input) +
              (input->cutMode == MaxCut ? "\tMAX_CUT" : ""));
    print("\tBGCOLOR\t" + layout::rgbFields(bgColor));
    print("\tFRAMES\t\t" + num(frames));
    print("}");
    return print.result();
}

} // namespace vorn
