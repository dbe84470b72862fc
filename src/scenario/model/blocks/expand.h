// EXPAND (EXPANDIN, EXPANDOUT): the input stretched from a moving edge line.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class ExpandBlock final : public Block {
public:
    ExpandBlock();
    ExpandBlock(const ExpandBlock &other);
    ~ExpandBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t validate(Prompter *reportError) override;
    int32_t write(LineSink &out) const override;

    int32_t direction = 0;    // DirectionUp, DirectionDown, DirectionLeft, DirectionRight
    int32_t expandIn = 0;     // 1 IN, anything else OUT; 0 = not given (rejected by validate)
};

} // namespace vorn
