// ALPHA: the input's alpha scaled from start/255 to end/255.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class AlphaBlock final : public Block {
public:
    AlphaBlock();
    AlphaBlock(const AlphaBlock &other);
    ~AlphaBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;

    int32_t start = 255;
    int32_t end = 255;
};

} // namespace vorn
