// SHADE: the input blurred from `start` to `end` times.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class ShadeBlock final : public Block {
public:
    ShadeBlock();
    ShadeBlock(const ShadeBlock &other);
    ~ShadeBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;

    // How many times the picture is blurred at `frame`.
    int32_t blursAt(int32_t frame);

    int32_t start = 0;
    int32_t end = 0;
};

} // namespace vorn
