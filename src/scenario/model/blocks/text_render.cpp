// TEXT: drawing the prepared display text (and turning it) into the finished picture.
#include "scenario/model/blocks/text.h"

#include "imaging/rotate.h"
#include "imaging/textimage.h"
#include "scenario/model/blocks/renderhelp.h"
#include "scenario/model/scenario.h"

#include <mutex>

namespace vorn {

ImageBuffer *TextBlock::render(int32_t)
{
    std::lock_guard guard(lock);
    if (!image) {
        // Without validation (a copy not yet linked) the text as read is drawn.
        const SjisString &text = displayString ? *displayString : string.value_or(SjisString());
        ImagePtr drawn = DrawTextImage(text, size.width, size.height, font.value_or(SjisString()),
                                       fontWidth, fontHeight, align, valign, frameOffset, color,
                                       bgColor, scenario ? scenario->prompter : nullptr);
        if (drawn && (options & Angle))
            drawn = RotateImage(drawn.get(), angle);
        if (!drawn)
            return nullptr;
        image = std::move(drawn);
    }
    return CopyImage(image.get()).release();
}

void TextBlock::release(ImageBuffer *picture, int32_t)
{
    if (!picture)
        return;
    FreeImage(picture);
    std::lock_guard guard(lock);
    image.reset();
}

int32_t TextBlock::trace(int32_t frame, int32_t, std::vector<std::string> &lines)
{
    render::traceHead(*this, frame, lines);
    return 0;
}

void TextBlock::dropCaches()
{
    image.reset();
    Block::dropCaches();
}

} // namespace vorn
