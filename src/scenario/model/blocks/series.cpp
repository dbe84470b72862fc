// SERIES and MAIN: copy, length and input starts, key frames and their lines.
#include "scenario/model/blocks/series.h"

#include "scenario/model/blocks/layout.h"

#include <algorithm>
#include <cstdint>

namespace vorn {

SeriesBlock::SeriesBlock(BlockKind kind) : Block(kind) {}
SeriesBlock::SeriesBlock(const SeriesBlock &other) : Block(other) {}
SeriesBlock::~SeriesBlock() = default;

bool SeriesBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    if (frame == 0 || frame == total - 1)
        return true;
    int64_t start = 0;
    for (const auto &input : inputs) {
        const int64_t length = input->frameCount();
        if (frame >= start && frame < start + length)
            return input->isKeyFrame(int32_t(frame - start));
        start += length;
    }
    return false;
}

void SeriesBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    const int64_t total = frameCount();
    addKeyFrame(0, first, last, offset, out);
    addKeyFrame(total - 1, first, last, offset, out);
    int64_t start = 0;
    for (const auto &input : inputs) {
        if (start > last)
            break;
        const int64_t length = input->frameCount();
        if (start + length > first)
            input->collectKeyFrames(first - start, last - start, offset + start, out);
        start += length;
    }
}

int32_t SeriesBlock::frameCount()
{
    if (frameCountCache >= 0)
        return frameCountCache;
    int64_t total = 0;
    for (auto &input : inputs) {
        input->startOffset = int32_t(std::min<int64_t>(total, INT32_MAX));
        total += input->frameCount();
    }
    return cacheFrameCount(total);
}

int32_t SeriesBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    for (const auto &input : inputs)
        print(layout::inputLine(*input) + (input->linkVolumeAlpha ? "\t\tALINK_VOLUME_ALPHA" : ""));
    print("}");
    return print.result();
}

} // namespace vorn
