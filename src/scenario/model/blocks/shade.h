// SHADE: the input blurred from `start` to `end` times.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vorn {

class ShadeBlock final : public Block {
public:
    ShadeBlock();
    ShadeBlock(const ShadeBlock &other);
    ~ShadeBlock() override;

    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;

    int32_t start = 0;
    int32_t end = 0;
};

} // namespace vorn
