// CUT: a range of the input's frames, forwards or backwards, with frames skipped.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class CutBlock final : public Block {
public:
    CutBlock();
    CutBlock(const CutBlock &other);
    ~CutBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t validate(Prompter *reportError) override;
    int32_t write(LineSink &out) const override;

    int32_t start = 0;
    int32_t end = -1;         // -1 = not given
    int32_t skip = 1;         // each picture is held for `skip` frames

    // The input frame shown at `frame`. A skip below 1 is taken as 1.
    int32_t mappedFrame(int32_t frame) const;
};

} // namespace vorn
