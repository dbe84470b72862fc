// Shared pieces of frame rendering: input pictures, pending counts, plates, tracing.
#include "scenario/model/blocks/renderhelp.h"

#include "base/result.h"
#include "imaging/compose.h"
#include "imaging/resample.h"
#include "scenario/model/scenario.h"

#include <cstring>
#include <mutex>

namespace vorn::render {

InputPicture::InputPicture(BlockInput *input, int32_t frame)
    : m_input(input), m_frame(frame), m_image(input ? input->render(frame) : nullptr)
{
}

InputPicture::~InputPicture()
{
    release();
}

void InputPicture::release()
{
    if (m_image)
        m_input->release(m_image, m_frame);
    m_image = nullptr;
}

ImageBuffer *InputPicture::take()
{
    ImageBuffer *image = m_image;
    m_image = nullptr;
    return image;
}

bool screenSize(const Block &block, int32_t &width, int32_t &height)
{
    if (!block.scenario || block.scenario->screenWidth < 1 || block.scenario->screenHeight < 1)
        return false;
    width = block.scenario->screenWidth;
    height = block.scenario->screenHeight;
    return true;
}

int64_t interpolate(int64_t start, int64_t end, int64_t frame, int64_t count)
{
    if (count < 2)
        return start;
    int64_t product = 0;
    if (!__builtin_mul_overflow(end - start, frame, &product))
        return start + product / (count - 1);
    // Only absurd values get here; long double keeps 64 bits of the quotient.
    return start + int64_t(static_cast<long double>(end - start) * frame / (count - 1));
}

double interpolateReal(double start, double end, int64_t frame, int64_t count)
{
    if (count < 2)
        return start;
    return (end - start) / double(count - 1) * double(frame) + start;
}

bool ensureAlpha(ImageBuffer &picture)
{
    return picture.alpha ? true : setOpaque(picture);
}

bool setOpaque(ImageBuffer &picture)
{
    if (!picture.alpha && AddAlphaPlane(&picture) != Ok)
        return false;
    std::memset(picture.alpha.get(), 255, size_t(picture.alphaStride) * size_t(picture.height));
    return true;
}

ImagePtr copyWithAlpha(const ImageBuffer *picture)
{
    ImagePtr copy = CopyImage(picture);
    if (!copy || !ensureAlpha(*copy))
        return nullptr;
    return copy;
}

const ImageBuffer *withAlpha(const ImageBuffer *picture, ImagePtr &holder)
{
    if (!picture || picture->alpha)
        return picture;
    holder = copyWithAlpha(picture);
    return holder.get();
}

ImagePtr makeBackgroundPlate(Block &block, int32_t frame)
{
    int32_t width = 0, height = 0;
    if (!screenSize(block, width, height))
        return nullptr;
    ImagePtr plate = CreateFilledImage(width, height, block.bgColor.red, block.bgColor.green,
                                       block.bgColor.blue, 0);
    if (!plate || !block.bgImage)
        return plate;
    ImagePtr fitted;
    {
        InputPicture picture(block.bgImage.get(), frame);
        if (!picture)
            return nullptr;
        fitted = FitImage(picture.get(), width, height, FIT_INSIDE);
    }
    if (!fitted)
        return nullptr;
    DrawImage(*plate, fitted.get(), 0, 0, BLEND_ALPHA);
    return plate;
}

void beginRender(Block &block)
{
    std::lock_guard guard(block.lock);
    ++block.pending;
}

void traceHead(const Block &block, int32_t frame, std::vector<std::string> &lines)
{
    lines.emplace_back(kindKeyword(block.kind));
    lines.push_back(std::to_string(frame));
    lines.push_back(block.file.value_or(SjisString()));
}

int32_t traceInput(BlockInput *input, int32_t frame, int32_t depth,
                   std::vector<std::string> &lines)
{
    if (!input)
        return Failed;
    return input->trace(frame, depth + 1, lines) < 0 ? Failed : Ok;
}

int32_t traceAllInputs(Block &block, int32_t frame, int32_t depth,
                       std::vector<std::string> &lines)
{
    traceHead(block, frame, lines);
    for (auto &input : block.inputs)
        if (traceInput(input.get(), frame, depth, lines) < 0)
            return Failed;
    return Ok;
}

} // namespace vorn::render
