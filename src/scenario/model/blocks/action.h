// ACTION, ZOOM, SLIDE and FOCUS: pan and zoom over the input picture.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vorn {

class ActionBlock final : public Block {
public:
    explicit ActionBlock(BlockKind kind = BlockKind::Action);  // Action, Zoom, Slide or Focus
    ActionBlock(const ActionBlock &other);
    ~ActionBlock() override;

    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t validate(Prompter *reportError) override;
    int32_t write(LineSink &out) const override;

    bool keepAspect = false;  // 1 for FOCUS
    int32_t afterimage = 0;   // AFTERIMAGE: earlier positions drawn fainter
    bool hasSrcStart = false;
    Rect srcStart;
    bool hasSrcEnd = false;
    Rect srcEnd;
    Rect dstStart;
    Rect dstEnd;
    Rect dspStart;
    Rect dspEnd;
};

} // namespace vorn
