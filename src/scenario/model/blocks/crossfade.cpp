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

void CrossfadeBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    const int64_t total = frameCount();
    addKeyFrame(0, first, last, offset, out);
    addKeyFrame(total - 1, first, last, offset, out);
    const auto span = spans(inputs, frames);
    // A frame asks the first input that covers it and the one after, when that covers it too.
    // With lengths of at least the overlap (what validation asks) starts and ends both rise and
    // the first covering input is found by halving; otherwise by looking at each.
    bool rising = true;
    for (size_t i = 1; i < span.size(); ++i)
        rising = rising && span[i].start >= span[i - 1].start &&
                 span[i].start + span[i].length >= span[i - 1].start + span[i - 1].length;
    const auto firstCovering = [&](int64_t frame) -> size_t {
        if (rising) {
            const auto it = std::upper_bound(span.begin(), span.end(), frame,
                                             [](int64_t f, const Span &s) { return f < s.start + s.length; });
            return it != span.end() && it->covers(frame) ? size_t(it - span.begin()) : span.size();
        }
        for (size_t i = 0; i < span.size(); ++i)
            if (span[i].covers(frame))
                return i;
        return span.size();
    };
    // A candidate frame of input j counts when j is the first covering input (its edges only
    // from the second input on) or the one after it.
    const auto consider = [&](size_t j, int64_t local, bool isEdge) {
        const int64_t frame = span[j].start + local;
        if (local < 0 || local >= span[j].length || frame < first || frame > last)
            return;
        const size_t i = firstCovering(frame);
        if ((j == i && (!isEdge || j > 0)) || (i != span.size() && j == i + 1))
            out.add(offset + frame);
    };
    for (size_t j = 0; j < span.size(); ++j) {
        if (span[j].start > last || span[j].start + span[j].length <= first)
            continue;
        for (const int64_t edge : {int64_t(0), int64_t(frames), int64_t(frames / 2)})
            consider(j, edge, true);
        KeyFrameSink inputFrames;
        inputs[j]->collectKeyFrames(first - span[j].start, last - span[j].start, 0, inputFrames);
        for (const int64_t local : inputFrames.frames)
            consider(j, local, false);
    }
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
