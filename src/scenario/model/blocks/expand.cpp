// EXPAND: fields, copy, length, key frames, validation and its lines.
#include "scenario/model/blocks/expand.h"

#include "base/result.h"
#include "scenario/model/blocks/layout.h"

namespace vorn {

ExpandBlock::ExpandBlock() : Block(BlockKind::Expand) {}

ExpandBlock::ExpandBlock(const ExpandBlock &other)
    : Block(other), direction(other.direction), expandIn(other.expandIn)
{
}

ExpandBlock::~ExpandBlock() = default;

bool ExpandBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    return isStartMiddleOrEnd(frame, total);
}

void ExpandBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    addStartMiddleAndEnd(frameCount(), first, last, offset, out);
}

int32_t ExpandBlock::frameCount()
{
    if (frameCountCache >= 0)
        return frameCountCache;
    return cacheFrameCount(firstInputLength());
}

int32_t ExpandBlock::validate(Prompter *reportError)
{
    if (expandIn == 0) {
        report(reportError,
               fillMessage("ブロック %s に、( IN | OUT ) が定義されていません。", {displayName()}));
        return Failed;
    }
    return Ok;
}

int32_t ExpandBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    if (const BlockInput *input = firstInput())
        print(layout::inputLine(*input));
    print(expandIn == 1 ? "\tIN" : "\tOUT");
    if (const auto line = layout::directionLine(direction); !line.empty())
        print(line);
    print("}");
    return print.result();
}

} // namespace vorn
