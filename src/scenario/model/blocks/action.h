// ACTION, ZOOM, SLIDE and FOCUS: pan and zoom over the input picture.
#pragma once

#include "imaging/panzoom.h"
#include "scenario/model/block.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class ActionBlock final : public Block {
public:
    explicit ActionBlock(BlockKind kind = BlockKind::Action);  // Action, Zoom, Slide or Focus
    ActionBlock(const ActionBlock &other);
    ~ActionBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out) override;
    int32_t frameCount() override;
    int32_t validate(Prompter *reportError) override;
    int32_t write(LineSink &out) const override;
    void dropCaches() override;

    // The source, destination and display rectangles for a source picture of this size:
    // sources cut back to the picture, keep-aspect fitting applied.
    PanZoomRects rectanglesFor(int32_t sourceWidth, int32_t sourceHeight) const;

    bool keepAspect = false;  // 1 for FOCUS
    int32_t afterimage = 0;   // AFTERIMAGE: earlier positions drawn fainter
    bool hasSrcStart = false;
    Rect srcStart;
    bool hasSrcEnd = false;
    Rect srcEnd;
    Rect dstStart;
    Rect dstEnd;
    Rect dspStart;
    Rect dspEnd;
    // The input's picture, kept between frames and shared read-only with renders in progress
    // (so the pan and zoom needs no lock); guarded by `lock`. cacheB holds the background plate.
    std::shared_ptr<const ImageBuffer> sourceCache;
};

} // namespace vorn
