// CUT: fields, copy, length, the frame mapping, key frames, validation and its lines.
#include "scenario/model/blocks/cut.h"

#include "base/result.h"
#include "scenario/model/blocks/layout.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace vorn {

CutBlock::CutBlock() : Block(BlockKind::Cut) {}

CutBlock::CutBlock(const CutBlock &other)
    : Block(other), start(other.start), end(other.end), skip(other.skip)
{
}

CutBlock::~CutBlock() = default;

int32_t CutBlock::mappedFrame(int32_t frame) const
{
    // SKIP 0 passes the reader (its bound is >= 0); it would divide by zero, so it holds each
    // picture for one frame like SKIP 1.
    const int64_t step = skip < 1 ? 1 : skip;
    const int64_t held = (frame / step) * step;
    const int64_t mapped = start >= end ? int64_t(start) - held : int64_t(start) + held;
    return int32_t(std::clamp<int64_t>(mapped, INT32_MIN, INT32_MAX));
}

bool CutBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    if (frame == 0 || frame == total - 1)
        return true;
    BlockInput *input = firstInput();
    return input && input->isKeyFrame(mappedFrame(frame));
}

void CutBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    const int64_t total = frameCount();
    addKeyFrame(0, first, last, offset, out);
    addKeyFrame(total - 1, first, last, offset, out);
    BlockInput *input = firstInput();
    if (!input)
        return;
    // Frame f shows input frame start +- held, held = f rounded down to a multiple of the step:
    // an input key frame k comes back as the `step` frames that hold it.
    const int64_t step = skip < 1 ? 1 : skip;
    const bool forward = start < end;
    const int64_t heldFirst = first / step * step;
    const int64_t heldLast = last / step * step;
    const int64_t low = forward ? start + heldFirst : start - heldLast;
    const int64_t high = forward ? start + heldLast : start - heldFirst;
    if (forward && step == 1) {
        input->collectKeyFrames(low, high, offset - start, out);
        return;
    }
    KeyFrameSink inputFrames;
    input->collectKeyFrames(low, high, 0, inputFrames);
    for (const int64_t k : inputFrames.frames) {
        const int64_t held = forward ? k - start : start - k;
        if (held < 0 || held % step != 0)
            continue;
        for (int64_t frame = std::max(held, first); frame <= std::min(held + step - 1, last); ++frame)
            out.add(offset + frame);
    }
}

int32_t CutBlock::frameCount()
{
    return ownFrameCount(std::llabs(int64_t(end) - start) + 1);
}

int32_t CutBlock::validate(Prompter *reportError)
{
    BlockInput *input = firstInput();
    const int32_t inputLength = input ? input->frameCount() : 0;
    const auto inRange = [inputLength](int32_t value) { return value >= 0 && value < inputLength; };
    if (!inRange(start) || !inRange(end)) {
        report(reportError,
               fillMessage("ブロック CUT では、入力ブロック %s に対して不正なフレーム番号が指定されています。",
                           {input ? sjisToUtf8(input->nameOf()) : std::string()}));
        return Failed;
    }
    return Ok;
}

int32_t CutBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    if (const BlockInput *input = firstInput())
        print(layout::inputLine(*input));
    if (skip != 1)
        print("\tSKIP\t\t" + num(skip));
    if (start != 0)
        print("\tSTART\t\t" + num(start));
    if (end != -1)
        print("\tEND\t\t" + num(end));
    print("}");
    return print.result();
}

} // namespace vorn
