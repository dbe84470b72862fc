// CROSSFADE: the inputs one after the other, overlapping by FRAMES frames.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class CrossfadeBlock final : public Block {
public:
    CrossfadeBlock();
    CrossfadeBlock(const CrossfadeBlock &other);
    ~CrossfadeBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t validate(Prompter *reportError) override;
    int32_t write(LineSink &out) const override;

    // The first input covering a frame and, inside an overlap, the next one too.
    struct Covering {
        BlockInput *first = nullptr;
        int32_t firstFrame = 0;
        BlockInput *second = nullptr;
        int32_t secondFrame = 0;
    };
    Covering coveringAt(int32_t frame) const;
};

} // namespace vorn
