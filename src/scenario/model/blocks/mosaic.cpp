// MOSAIC: fields, copy, length, key frames and its lines.
#include "scenario/model/blocks/mosaic.h"

#include "scenario/model/blocks/layout.h"

namespace vorn {

MosaicBlock::MosaicBlock() : Block(BlockKind::Mosaic) {}

MosaicBlock::MosaicBlock(const MosaicBlock &other)
    : Block(other),
      sizeStart(other.sizeStart),
      sizeEnd(other.sizeEnd),
      hasTgtStart(other.hasTgtStart),
      tgtStart(other.tgtStart),
      hasTgtEnd(other.hasTgtEnd),
      tgtEnd(other.tgtEnd)
{
}

MosaicBlock::~MosaicBlock() = default;

bool MosaicBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    return isStartMiddleOrEnd(frame, total);
}

void MosaicBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    addStartMiddleAndEnd(frameCount(), first, last, offset, out);
}

int32_t MosaicBlock::frameCount()
{
    if (frameCountCache >= 0)
        return frameCountCache;
    return cacheFrameCount(firstInputLength());
}

int32_t MosaicBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    if (const BlockInput *input = firstInput())
        print(layout::inputLine(*input));
    print("\tSIZE_START\t" + num(sizeStart));
    print("\tSIZE_END\t" + num(sizeEnd));
    if (hasTgtStart)
        print("\tTGT_START" + layout::rectFields(tgtStart));
    if (hasTgtEnd)
        print("\tTGT_END\t" + layout::rectFields(tgtEnd));
    print("}");
    return print.result();
}

} // namespace vorn
