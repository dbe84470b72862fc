// SHAKE: copy, length, key frames and its lines.
#include "scenario/model/blocks/shake.h"

#include "scenario/model/blocks/layout.h"

namespace vorn {

ShakeBlock::ShakeBlock() : Block(BlockKind::Shake) {}

ShakeBlock::ShakeBlock(const ShakeBlock &other)
    : Block(other)
{
}

ShakeBlock::~ShakeBlock() = default;

bool ShakeBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    return frame == 0 || frame == total - 1;
}

void ShakeBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    addKeyFrame(0, first, last, offset, out);
    addKeyFrame(int64_t(frameCount()) - 1, first, last, offset, out);
}

int32_t ShakeBlock::frameCount()
{
    if (frameCountCache >= 0)
        return frameCountCache;
    return cacheFrameCount(firstInputLength());
}

int32_t ShakeBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    if (const BlockInput *input = firstInput())
        print(layout::inputLine(*input));
    print("}");
    return print.result();
}

} // namespace vorn
