// CROSSFADE: copy, length and input starts, key frames, validation and its lines.
#include "scenario/model/blocks/crossfade.h"

#include "base/result.h"
#include "scenario/model/blocks/layout.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vorn {
namespace {

struct Span {
    int64_t start;
    int64_t length;
    bool covers(int64_t frame) const { return start <= frame && frame < start + length; }
};

// Input i starts where the previous one ends less the overlap: s0 = 0, s(i+1) = s(i) + C(i) - F.
std::vector<Span> spans(const std::vector<std::unique_ptr<BlockInput>> &inputs, int32_t overlap)
{
    std::vector<Span> result;
    int64_t start = 0;
    for (const auto &input : inputs) {
        const int64_t length = input->frameCount();
        result.push_back({start, length});
        start += length - overlap;
    }
    return result;
}

} // namespace

CrossfadeBlock::CrossfadeBlock() : Block(BlockKind::Crossfade) {}
CrossfadeBlock::CrossfadeBlock(const CrossfadeBlock &other) : Block(other) {}
CrossfadeBlock::~CrossfadeBlock() = default;

bool CrossfadeBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    if (frame == 0 || frame == total - 1)
        return true;
    const auto span = spans(inputs, frames);
    const auto edge = [this](int64_t local) {
        return local == 0 || local == frames || local == frames / 2;
    };
    for (size_t i = 0; i < span.size(); ++i) {
        if (!span[i].covers(frame))
            continue;
        const int64_t local = frame - span[i].start;
        if ((i > 0 && edge(local)) || inputs[i]->isKeyFrame(int32_t(local)))
            return true;
        if (i + 1 < span.size() && span[i + 1].covers(frame)) {
            const int64_t next = frame - span[i + 1].start;
            if (edge(next) || inputs[i + 1]->isKeyFrame(int32_t(next)))
                return true;
        }
        return false;
    }
    return false;
}

int32_t CrossfadeBlock::frameCount()
{
    if (frameCountCache >= 0)
        return frameCountCache;
    int64_t total = 0;
    const auto span = spans(inputs, frames);
    for (size_t i = 0; i < span.size(); ++i) {
        inputs[i]->startOffset = int32_t(std::clamp<int64_t>(span[i].start, INT32_MIN, INT32_MAX));
        total += span[i].length;
    }
    if (!inputs.empty())
        total -= int64_t(inputs.size() - 1) * frames;
    return cacheFrameCount(total);
}

int32_t CrossfadeBlock::validate(Prompter *reportError)
{
    for (size_t i = 0; i < inputs.size(); ++i) {
        const bool inner = i != 0 && i + 1 != inputs.size();
        const int64_t needed = inner ? int64_t(2) * frames : frames;
        if (inputs[i]->frameCount() < needed) {
            report(reportError,
                   fillMessage("ブロック %s では、入力ブロック %s に対して不正な対象フレーム数が指定されています。",
                               {displayName(), sjisToUtf8(inputs[i]->nameOf())}));
            return Failed;
        }
    }
    return Ok;
}

int32_t CrossfadeBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    for (const auto &input : inputs)
        print(layout::inputLine(*input));
    print("\tFRAMES\t\t" + num(frames));
    print("}");
    return print.result();
}

} // namespace vorn
