// MOSAIC: the input pixelated inside a moving target rectangle.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class MosaicBlock final : public Block {
public:
    MosaicBlock();
    MosaicBlock(const MosaicBlock &other);
    ~MosaicBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;

    int32_t sizeStart = 0;    // block size in pixels at the first frame
    int32_t sizeEnd = 0;      // and at the last
    bool hasTgtStart = false; // linking sets the full screen when not given
    Rect tgtStart;
    bool hasTgtEnd = false;
    Rect tgtEnd;
};

} // namespace vorn
