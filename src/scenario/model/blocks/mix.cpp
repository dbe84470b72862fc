// MIX: fields, copy, length and input offsets, key frames and its lines.
#include "scenario/model/blocks/mix.h"

#include "scenario/model/blocks/layout.h"

#include <algorithm>

namespace vorn {

MixBlock::MixBlock() : Block(BlockKind::Mix) {}
MixBlock::MixBlock(const MixBlock &other) : Block(other), mixMode(other.mixMode) {}
MixBlock::~MixBlock() = default;

bool MixBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    if (frame == 0 || frame == total - 1)
        return true;
    for (const auto &input : inputs) {
        if (input->offset > frame)
            continue;
        const int64_t end = int64_t(input->offset) + input->frameCount();
        if (frame == input->offset || frame == end - 1)
            return true;
        if (frame < end && input->isKeyFrame(frame - input->offset))
            return true;
    }
    return false;
}

void MixBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    const int64_t total = frameCount();
    addKeyFrame(0, first, last, offset, out);
    addKeyFrame(total - 1, first, last, offset, out);
    for (const auto &input : inputs) {
        const int64_t start = input->offset;
        const int64_t end = start + input->frameCount();
        addKeyFrame(start, first, last, offset, out);
        if (end - 1 >= start)
            addKeyFrame(end - 1, first, last, offset, out);
        if (start <= last && end > first)
            input->collectKeyFrames(first - start, last - start, offset + start, out);
    }
}

int32_t MixBlock::frameCount()
{
    if (frameCountCache >= 0)
        return frameCountCache;
    int64_t total = 0;
    for (auto &input : inputs) {
        input->startOffset = input->offset;
        total = std::max(total, int64_t(input->offset) + input->frameCount());
    }
    return cacheFrameCount(total);
}

int32_t MixBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    for (const auto &input : inputs)
        print(layout::inputLine(*input) + layout::inputRectFields(*input) + "\tOFFSET\t" +
              num(input->offset));
    if (mixMode == ModeOr)
        print("\tOR");
    if (bgImage)
        print("\tBGIMAGE\t\t" + inQuotes(bgImage->nameOf()));
    print("}");
    return print.result();
}

} // namespace vorn
