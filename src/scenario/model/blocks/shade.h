// SHADE: the input blurred from `start` to `end` times.
#pragma once

#include "scenario/model/blocks/rampblock.h"

namespace vorn {

class ShadeBlock final : public RampBlock {
public:
    ShadeBlock() : RampBlock(BlockKind::Shade, 0, 0) {}
    ShadeBlock(const ShadeBlock &other) = default;

    ImageBuffer *render(int32_t frame) override;

    // How many times the picture is blurred at `frame`.
    int32_t blursAt(int32_t frame);
};

} // namespace vorn
