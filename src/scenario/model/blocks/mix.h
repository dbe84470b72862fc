// MIX: the inputs drawn together, each in its rectangle from its offset on.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class MixBlock final : public Block {
public:
    MixBlock();
    MixBlock(const MixBlock &other);
    ~MixBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;

    enum Mode : int32_t { ModePlain = 256, ModeOr = 512 };

    int32_t mixMode = ModePlain;
};

} // namespace vorn
