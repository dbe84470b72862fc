// ALPHA: fields, copy, length, key frames and its lines.
#include "scenario/model/blocks/alpha.h"

#include "scenario/model/blocks/layout.h"

namespace vorn {

AlphaBlock::AlphaBlock() : Block(BlockKind::Alpha) {}

AlphaBlock::AlphaBlock(const AlphaBlock &other)
    : Block(other),
      start(other.start),
      end(other.end)
{
}

AlphaBlock::~AlphaBlock() = default;

bool AlphaBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    return frame == 0 || frame == total - 1 || frame == total / 2;
}

int32_t AlphaBlock::frameCount()
{
    if (frameCountCache >= 0)
        return frameCountCache;
    return cacheFrameCount(firstInputLength());
}

int32_t AlphaBlock::write(LineSink &out) const
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

} // namespace vorn
