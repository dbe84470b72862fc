// FADE (FADEIN, FADEOUT, FADEINOUT): the input faded from or to a colour.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class FadeBlock final : public Block {
public:
    FadeBlock();
    FadeBlock(const FadeBlock &other);
    ~FadeBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t validate(Prompter *reportError) override;
    int32_t write(LineSink &out) const override;

    // The colour's share in percent of the mix at `frame` (how far the fade has come), or -1
    // where the input's picture is passed through.
    int32_t colourShareAt(int32_t frame);

    enum Mode : int32_t { ModeNone = 0, ModeIn = 1, ModeOut = 2, ModeInOut = 3 };

    int32_t fadeMode = ModeNone;
    // The fade colour is kept in `bgColor`; `frames` is the length of each fade.
};

} // namespace vorn
