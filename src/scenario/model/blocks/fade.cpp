// FADE: fields, copy, length, key frames, validation and its lines.
#include "scenario/model/blocks/fade.h"

#include "base/result.h"
#include "scenario/model/blocks/layout.h"

namespace vorn {

FadeBlock::FadeBlock() : Block(BlockKind::Fade) {}

FadeBlock::FadeBlock(const FadeBlock &other) : Block(other), fadeMode(other.fadeMode) {}

FadeBlock::~FadeBlock() = default;

bool FadeBlock::isKeyFrame(int32_t frame)
{
    const int32_t total = frameCount();
    if (frame == 0 || frame == total - 1)
        return true;
    const bool fadesIn = fadeMode == ModeIn || fadeMode == ModeInOut;
    const bool fadesOut = fadeMode == ModeOut || fadeMode == ModeInOut;
    if (fadesIn && (frame == frames || frame == frames / 2))
        return true;
    if (fadesOut && frame == total - 1 - frames / 2)
        return true;
    BlockInput *input = firstInput();
    return input && input->isKeyFrame(frame);
}

void FadeBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    const int64_t total = frameCount();
    addKeyFrame(0, first, last, offset, out);
    addKeyFrame(total - 1, first, last, offset, out);
    if (fadeMode == ModeIn || fadeMode == ModeInOut) {
        addKeyFrame(frames, first, last, offset, out);
        addKeyFrame(frames / 2, first, last, offset, out);
    }
    if (fadeMode == ModeOut || fadeMode == ModeInOut)
        addKeyFrame(total - 1 - frames / 2, first, last, offset, out);
    if (BlockInput *input = firstInput())
        input->collectKeyFrames(first, last, offset, out);
}

int32_t FadeBlock::frameCount()
{
    if (frameCountCache >= 0)
        return frameCountCache;
    return cacheFrameCount(firstInputLength());
}

int32_t FadeBlock::validate(Prompter *reportError)
{
    if (fadeMode == ModeNone) {
        report(reportError, fillMessage("ブロック %s に、( IN | OUT | INOUT ) が定義されていません。",
                                        {displayName()}));
        return Failed;
    }
    BlockInput *input = firstInput();
    const int64_t inputLength = input ? input->frameCount() : 0;
    const int64_t fadeLength = fadeMode == ModeInOut ? int64_t(2) * frames : frames;
    if (fadeLength > inputLength) {
        report(reportError, fillMessage("ブロック %s では、不正な対象フレーム数が指定されています。",
                                        {displayName()}));
        return Failed;
    }
    return Ok;
}

int32_t FadeBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    if (const BlockInput *input = firstInput())
        print(layout::inputLine(*input));
    if (fadeMode == ModeIn)
        print("\tIN");
    else if (fadeMode == ModeOut)
        print("\tOUT");
    else if (fadeMode == ModeInOut)
        print("\tINOUT");
    print("\tCOLOR\t" + layout::rgbFields(bgColor));
    print("\tFRAMES\t\t" + num(frames));
    print("}");
    return print.result();
}

} // namespace vorn
