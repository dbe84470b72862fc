// FILM: the inputs on a moving film strip.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class FilmBlock final : public Block {
public:
    FilmBlock();
    FilmBlock(const FilmBlock &other);
    ~FilmBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;
    void dropCaches() override;

    // The inputs at `frame` fitted into three quarters of the screen; empty when one fails.
    std::vector<ImagePtr> fitInputs(int32_t frame, int32_t width, int32_t height);

    int32_t direction = 0;    // DirectionUp, DirectionDown, DirectionLeft, DirectionRight
    int32_t inputCount = 0;   // number of inputs, set by the reader
    int32_t filmLength = 0;   // pixels the strip moves over the whole block, set by the reader
    std::vector<ImagePtr> stripCache;  // one fitted picture per input; empty = absent; `lock`
};

} // namespace vorn
