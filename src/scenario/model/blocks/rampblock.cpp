// RampBlock: length, key frames, lines, release and trace shared by ALPHA and SHADE.
#include "scenario/model/blocks/rampblock.h"

#include "scenario/model/blocks/layout.h"
#include "scenario/model/blocks/renderhelp.h"

namespace vorn {

RampBlock::RampBlock(BlockKind kind, int32_t startDefault, int32_t endDefault)
    : Block(kind), start(startDefault), end(endDefault)
{
}

bool RampBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    return isStartMiddleOrEnd(frame, total);
}

void RampBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    addStartMiddleAndEnd(frameCount(), first, last, offset, out);
}

int32_t RampBlock::frameCount()
{
    if (frameCountCache >= 0)
        return frameCountCache;
    return cacheFrameCount(firstInputLength());
}

int32_t RampBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    if (const BlockInput *input = firstInput())
        print(layout::inputLine(*input));
    print("\tSTART\t\t" + num(start));
    print("\tEND\t\t" + num(end));
    print("}");
    return print.result();
}

// Both kinds hand out a new picture of their own: it is simply freed.
void RampBlock::release(ImageBuffer *picture, int32_t)
{
    FreeImage(picture);
}

int32_t RampBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    return render::traceAllInputs(*this, frame, depth, lines);
}

} // namespace vorn
