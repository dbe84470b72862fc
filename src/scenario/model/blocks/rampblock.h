// RampBlock: the common part of ALPHA and SHADE, per-frame effects on one input whose strength
// runs from `start` at the first frame to `end` at the last.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

class RampBlock : public Block {
public:
    // The block is as long as its input; key frames are the first, the middle and the last.
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    // The input line, then START and END.
    int32_t write(LineSink &out) const override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;

    int32_t start;
    int32_t end;

protected:
    RampBlock(BlockKind kind, int32_t startDefault, int32_t endDefault);
    RampBlock(const RampBlock &other) = default;
};

} // namespace vorn
