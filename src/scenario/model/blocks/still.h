// STILL: its inputs placed in their rectangles and held for FRAMES frames.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vorn {

class StillBlock final : public Block {
public:
    StillBlock();
    StillBlock(const StillBlock &other);
    ~StillBlock() override;

    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;
};

} // namespace vorn
