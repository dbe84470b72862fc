// STILL: its inputs placed in their rectangles and held for FRAMES frames.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class StillBlock final : public Block {
public:
    StillBlock();
    StillBlock(const StillBlock &other);
    ~StillBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;

    // The inputs at `frame` fitted into their rectangles on the bgColor plate; none when an
    // input gives no picture.
    ImagePtr compose(int32_t frame);
};

} // namespace vorn
