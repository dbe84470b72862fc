// SERIES and MAIN: the inputs one after the other.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vorn {

class SeriesBlock final : public Block {
public:
    explicit SeriesBlock(BlockKind kind = BlockKind::Series);  // Series or Main
    SeriesBlock(const SeriesBlock &other);
    ~SeriesBlock() override;

    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;
};

} // namespace vorn
