// DRAW: vector shapes (lines, polygons, ellipses) drawn in one colour.
#pragma once

#include "scenario/model/block.h"
#include "imaging/shapes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class DrawBlock final : public Block {
public:
    DrawBlock();
    DrawBlock(const DrawBlock &other);
    ~DrawBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    void dropCaches() override;
    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t write(LineSink &out) const override;

    struct Size {
        int32_t width = 0;
        int32_t height = 0;
        friend bool operator==(const Size &, const Size &) = default;
    };

    ShapeList shapes;  // file order
    ImagePtr image;    // the finished picture; guarded by `lock`
    Size size;         // SIZE
    // `color` is the line colour, `bgColor` the background.
};

} // namespace vorn
