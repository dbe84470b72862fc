// IMAGE: a picture file (FILE) or a frame of another block (BLOCK_FRAME), with its filters.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class ImageBlock final : public Block {
public:
    ImageBlock();
    ImageBlock(const ImageBlock &other);
    ~ImageBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t validate(Prompter *reportError) override;
    int32_t write(LineSink &out) const override;

    // The finished picture: the file or the BLOCK_FRAME picture with the options applied in
    // their fixed order; none when any step fails. Renders the first input for BLOCK_FRAME.
    ImagePtr buildPicture();
    // The most pixels the file's picture may have, from the linked scenario's screen.
    int64_t pictureBudget() const;
    // "ブロック NAME ファイル：FILE", noted with the scenario when the file gives no picture.
    std::string pictureFailureText() const;

    // options bits.
    enum Option : int32_t {
        Clip = 0x001,
        PhotoFrame = 0x002,
        Sepia = 0x004,
        Mono = 0x008,
        Nega = 0x010,
        Angle = 0x020,
        Discolor = 0x040,
        Highpass = 0x080,
        Red = 0x100,
        Green = 0x200,
        Blue = 0x400,
        ThroughColor = 0x800,
    };

    ImagePtr image;          // unused: render hands out each picture it builds
    Rect clip;               // CLIP
    int32_t options = 0;
    int32_t angle = 0;       // ANGLE, degrees
    int32_t photoFrame = 0;  // PHOTO_FRAME width
    int32_t blockFrame = 0;  // BLOCK_FRAME: the frame of the first input
    // The through-colour (THROUGH_COLOR) is kept in `color`.
};

} // namespace vorn
