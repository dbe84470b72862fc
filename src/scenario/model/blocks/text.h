// TEXT: lines of text drawn with a font, optionally filled from a photo's metadata.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

class TextBlock final : public Block {
public:
    TextBlock();
    TextBlock(const TextBlock &other);
    ~TextBlock() override;

    ImageBuffer *render(int32_t frame) override;
    void release(ImageBuffer *image, int32_t frame) override;
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines) override;
    void dropCaches() override;
    bool isKeyFrame(int32_t frame) override;
    int32_t frameCount() override;
    int32_t validate(Prompter *reportError) override;
    int32_t write(LineSink &out) const override;

    struct Size {
        int32_t width = 0;
        int32_t height = 0;
        friend bool operator==(const Size &, const Size &) = default;
    };

    enum Align : int32_t { AlignCenter = 1, AlignRight = 2, AlignLeft = 3 };
    enum VAlign : int32_t { VAlignCenter = 17, VAlignTop = 18, VAlignBottom = 19 };
    enum Option : int32_t { Angle = 0x020 };

    std::optional<SjisString> string;         // the STRING lines joined by CR LF
    std::optional<SjisString> displayString;  // `string` with photo placeholders filled, by validate
    ImagePtr image;                           // the finished picture; guarded by `lock`
    Size size;                                // SIZE
    std::optional<SjisString> font;           // FONT face name
    int32_t fontWidth = 20;
    int32_t fontHeight = 40;
    int32_t align = AlignCenter;
    int32_t valign = VAlignCenter;
    int32_t frameOffset = 0;                  // FRAME_OFFSET
    int32_t options = 0;
    int32_t angle = 0;                        // ANGLE, degrees; drawn only with the Angle option
};

} // namespace vorn
