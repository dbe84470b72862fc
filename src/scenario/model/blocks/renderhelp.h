// Pieces of frame rendering shared by the block kinds: input pictures handed back on every
// path, the pending count, the background plate, interpolation and tracing.
#pragma once

#include "imaging/imagebuffer.h"
#include "scenario/model/block.h"
#include "scenario/model/blockinput.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vorn::render {

// The picture of one input at one frame, handed back to that input when this goes out of
// scope (or at release()). Empty when the input is null or gives none.
class InputPicture {
public:
    InputPicture(BlockInput *input, int32_t frame);
    ~InputPicture();
    InputPicture(const InputPicture &) = delete;
    InputPicture &operator=(const InputPicture &) = delete;

    ImageBuffer *get() const { return m_image; }
    explicit operator bool() const { return m_image != nullptr; }
    // Hands the picture back now.
    void release();
    // Gives up ownership: the caller now hands it back to the input itself.
    ImageBuffer *take();

private:
    BlockInput *m_input;
    int32_t m_frame;
    ImageBuffer *m_image = nullptr;
};

// The owner scenario's screen size; false without a scenario or with a size below 1.
bool screenSize(const Block &block, int32_t &width, int32_t &height);

// start + (end - start) * frame / (count - 1), truncated toward zero, in 64 bits. A block of one
// frame (count below 2) stays at its start.
int64_t interpolate(int64_t start, int64_t end, int64_t frame, int64_t count);
// The same in double precision: (end - start) / (count - 1) * frame + start.
double interpolateReal(double start, double end, int64_t frame, int64_t count);

// Gives a picture without an alpha plane an opaque one. False when memory runs out.
bool ensureAlpha(ImageBuffer &picture);
// Sets every alpha value to 255, adding the plane when there is none. False when memory runs
// out.
bool setOpaque(ImageBuffer &picture);
// The copy of a picture with an alpha plane (opaque when the original had none); none when
// memory runs out or the picture is missing.
ImagePtr copyWithAlpha(const ImageBuffer *picture);

// The picture itself when it has an alpha plane; otherwise an opaque copy kept in `holder`.
// None when memory runs out or the picture is missing.
const ImageBuffer *withAlpha(const ImageBuffer *picture, ImagePtr &holder);

// The background plate of STILL, ROTATE, the ACTION class and MIX: a screen-sized picture in
// bgColor with alpha 0, with the bgImage input's picture at `frame` fitted inside and drawn
// over it. Renders the bgImage input, so never call it while holding the block's lock. None
// when the screen size is unknown, memory runs out or the bgImage input gives no picture.
ImagePtr makeBackgroundPlate(Block &block, int32_t frame);

// Under the block's lock: raises pending (a render started).
void beginRender(Block &block);
// Under the block's lock: lowers pending and, when `frame` is the block's last frame of
// `frames` or later and nothing is pending any more, drops its caches (still under the lock).
// A render that ends with no picture calls it too, as if its picture had been released.
inline void finishRelease(Block &block, int32_t frame)
{
    std::lock_guard guard(block.lock);
    if (block.pending > 0)
        --block.pending;
    if (int64_t(frame) >= int64_t(block.frames) - 1 && block.pending == 0)
        block.dropCaches();
}

// Appends the kind keyword, the frame and `file` (empty when absent).
void traceHead(const Block &block, int32_t frame, std::vector<std::string> &lines);
// The input's trace at its own frame one level deeper; -1 when the input is missing or fails.
int32_t traceInput(BlockInput *input, int32_t frame, int32_t depth,
                   std::vector<std::string> &lines);
// traceHead, then every input at the same frame in order (STILL, ROTATE, FILM, one-input
// kinds whose input frame equals their own).
int32_t traceAllInputs(Block &block, int32_t frame, int32_t depth,
                       std::vector<std::string> &lines);

} // namespace vorn::render
