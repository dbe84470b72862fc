// ROTATE: its input turned from angleStart to angleEnd about a centre.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vorn {

class RotateBlock final : public Block {
public:
    RotateBlock();
    RotateBlock(const RotateBlock &other);
    ~RotateBlock() override;

    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;

    int32_t angleStart = 0;   // degrees
    int32_t angleEnd = 360;
    bool hasCenter = false;   // CENTER given; linking sets the screen centre otherwise
    int32_t centerX = 0;
    int32_t centerY = 0;
};

} // namespace vorn
