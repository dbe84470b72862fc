// CROSSFADE: the inputs one after the other, overlapping by FRAMES frames.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vorn {

class CrossfadeBlock final : public Block {
public:
    CrossfadeBlock();
    CrossfadeBlock(const CrossfadeBlock &other);
    ~CrossfadeBlock() override;

    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t validate(Prompter *reportError) override;
    int32_t write(LineSink &out) const override;
};

} // namespace vorn
