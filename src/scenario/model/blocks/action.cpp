// ACTION, ZOOM, SLIDE and FOCUS: fields, copy, length, key frames, validation and their lines.
#include "scenario/model/blocks/action.h"

#include "base/result.h"
#include "scenario/model/blocks/layout.h"

namespace vorn {

ActionBlock::ActionBlock(BlockKind kind) : Block(kind), keepAspect(kind == BlockKind::Focus) {}

ActionBlock::ActionBlock(const ActionBlock &other)
    : Block(other),
      keepAspect(other.keepAspect),
      afterimage(other.afterimage),
      hasSrcStart(other.hasSrcStart),
      srcStart(other.srcStart),
      hasSrcEnd(other.hasSrcEnd),
      srcEnd(other.srcEnd),
      dstStart(other.dstStart),
      dstEnd(other.dstEnd),
      dspStart(other.dspStart),
      dspEnd(other.dspEnd)
{
}

ActionBlock::~ActionBlock() = default;

bool ActionBlock::isKeyFrame(int32_t frame)
{
    return isStartMiddleOrEnd(frame, frames);
}

void ActionBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    addStartMiddleAndEnd(frames, first, last, offset, out);
}

int32_t ActionBlock::frameCount()
{
    return ownFrameCount(frames);
}

int32_t ActionBlock::validate(Prompter *reportError)
{
    if (afterimage > frames) {
        report(reportError, fillMessage("ブロック %s では、不正な残像フレーム数が指定されています。",
                                        {displayName()}));
        return Failed;
    }
    return Ok;
}

int32_t ActionBlock::write(LineSink &out) const
{
    const bool action = kind == BlockKind::Action;
    LinePrinter print(out);
    print.merge(writeHead(out));
    if (const BlockInput *input = firstInput())
        print(layout::inputLine(*input));
    if (action || kind == BlockKind::Zoom) {
        // Without SRC_START / SRC_END the whole input picture is used; writing a zero
        // rectangle instead would read back as a one-pixel source.
        if (hasSrcStart)
            print("\tSRC_START" + layout::rectFields(srcStart));
        if (hasSrcEnd)
            print("\tSRC_END\t" + layout::rectFields(srcEnd));
    }
    if (action || kind == BlockKind::Slide) {
        print("\tDST_START" + layout::rectFields(dstStart));
        print("\tDST_END\t" + layout::rectFields(dstEnd));
    }
    if (action || kind == BlockKind::Focus) {
        print("\tDSP_START" + layout::rectFields(dspStart));
        print("\tDSP_END\t" + layout::rectFields(dspEnd));
    }
    if (keepAspect)
        print("\tKEEP_ASPECT");
    if (afterimage != 0)
        print("\tAFTERIMAGE\t\t" + num(afterimage));
    print("\tBGCOLOR\t" + layout::rgbFields(bgColor));
    if (bgImage)
        print("\tBGIMAGE\t\t" + inQuotes(bgImage->nameOf()));
    print("\tFRAMES\t\t" + num(frames));
    print("}");
    return print.result();
}

} // namespace vorn
