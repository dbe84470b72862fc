// SERIES and MAIN: the inputs one after the other.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class SeriesBlock final : public Block {
public:
    explicit SeriesBlock(BlockKind kind = BlockKind::Series);  // Series or Main
    SeriesBlock(const SeriesBlock &other);
    ~SeriesBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;

    // The input covering `frame` and the frame local to it; null at or beyond the end.
    BlockInput *inputAt(int32_t frame, int32_t &local) const;
};

} // namespace vorn
