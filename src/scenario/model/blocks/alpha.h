// ALPHA: the input's alpha scaled from start/255 to end/255.
#pragma once

#include "scenario/model/blocks/rampblock.h"

namespace vorn {

class AlphaBlock final : public RampBlock {
public:
    AlphaBlock() : RampBlock(BlockKind::Alpha, 255, 255) {}
    AlphaBlock(const AlphaBlock &other) = default;

    ImageBuffer *render(int32_t frame) override;
};

} // namespace vorn
