// ROTATE: its input turned from angleStart to angleEnd about a centre.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class RotateBlock final : public Block {
public:
    RotateBlock();
    RotateBlock(const RotateBlock &other);
    ~RotateBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;
    void dropCaches() override;

    // The inputs at `frame` fitted into their rectangles on a transparent screen-sized layer.
    ImagePtr composeLayer(int32_t frame);
    // Degrees at `frame`; a block of one frame keeps angleStart.
    int32_t angleAt(int32_t frame) const;

    int32_t angleStart = 0;   // degrees
    int32_t angleEnd = 360;
    bool hasCenter = false;   // CENTER given; linking sets the screen centre otherwise
    int32_t centerX = 0;
    int32_t centerY = 0;
    // The composed layer, kept between frames and shared read-only with renders in progress
    // (so the turning needs no lock); guarded by `lock`. cacheB holds the background plate.
    std::shared_ptr<const ImageBuffer> layerCache;
};

} // namespace vorn
