// ROTATE: fields, copy, length, key frames and its lines.
#include "scenario/model/blocks/rotate.h"

#include "scenario/model/blocks/layout.h"

namespace vorn {

RotateBlock::RotateBlock() : Block(BlockKind::Rotate) {}

RotateBlock::RotateBlock(const RotateBlock &other)
    : Block(other),
      angleStart(other.angleStart),
      angleEnd(other.angleEnd),
      hasCenter(other.hasCenter),
      centerX(other.centerX),
      centerY(other.centerY)
{
}

RotateBlock::~RotateBlock() = default;

bool RotateBlock::isKeyFrame(int32_t frame)
{
    return isStartMiddleOrEnd(frame, frames);
}

void RotateBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    addStartMiddleAndEnd(frames, first, last, offset, out);
}

int32_t RotateBlock::frameCount()
{
    return ownFrameCount(frames);
}

int32_t RotateBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    if (const BlockInput *input = firstInput())
        print(layout::inputLine(*input) + layout::inputRectFields(*input));
    if (hasCenter)
        print("\tCENTER\t\t" + num(centerX) + "\t" + num(centerY));
    print("\tANGLE\t\t" + num(angleStart) + "\t" + num(angleEnd));
    print("\tBGCOLOR\t" + layout::rgbFields(bgColor));
    if (bgImage)
        print("\tBGIMAGE\t\t" + inQuotes(bgImage->nameOf()));
    print("\tFRAMES\t\t" + num(frames));
    print("}");
    return print.result();
}

} // namespace vorn
