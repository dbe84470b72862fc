// FILM: the moving film strip with the inputs' pictures (fitted once and kept) in its frames,
// shifted by a fraction of a pixel every frame.
#include "scenario/model/blocks/film.h"

#include "imaging/compose.h"
#include "imaging/filmstrip.h"
#include "imaging/filters.h"
#include "imaging/resample.h"
#include "scenario/model/blocks/renderhelp.h"
#include "scenario/model/scenario.h"

#include <cstdint>
#include <mutex>

namespace vorn {

std::vector<ImagePtr> FilmBlock::fitInputs(int32_t frame, int32_t width, int32_t height)
{
    std::vector<ImagePtr> fitted;
    for (auto &input : inputs) {
        render::InputPicture picture(input.get(), frame);
        if (!picture)
            return {};
        ImagePtr small = FitImage(picture.get(), width * 3 / 4, height * 3 / 4, FIT_INSIDE);
        if (!small)
            return {};
        fitted.push_back(std::move(small));
    }
    return fitted;
}

ImageBuffer *FilmBlock::render(int32_t frame)
{
    int32_t width = 0, height = 0;
    // The sub-pixel shift works in 1/1024 pixel within 32 bits.
    if (!render::screenSize(*this, width, height) || inputCount < 1 ||
        int64_t(width) * 1024 > INT32_MAX || int64_t(height) * 1024 > INT32_MAX)
        return nullptr;
    const bool vertical = direction == DirectionUp || direction == DirectionDown;
    const bool forward = direction == DirectionUp || direction == DirectionLeft;
    const int64_t length = filmLength;
    // Share of the way in 1/1024 pixel; a block of one frame stays where it starts.
    const int64_t last = int64_t(frames) - 1;
    const int64_t done = last < 1 ? 0 : (forward ? frame : last - frame);
    const int64_t offset = last < 1 ? (forward ? 0 : length) : length * done / last;
    const int64_t shift = last < 1 ? (forward ? 0 : length * 1024) : length * 1024 * done / last;
    const int32_t fraction = int32_t(((shift % 1024) + 1024) % 1024);

    // The strip: film colour opaque, its black (holes, gaps) see-through. Pure black film is
    // drawn as (1, 0, 0) so that it survives the see-through pass, then made black again.
    const bool blackFilm = color.red == 0 && color.green == 0 && color.blue == 0;
    ImagePtr strip = MakeFilmStrip(inputCount, vertical ? 0 : 1, int32_t(offset), width, height,
                                   blackFilm ? 1 : color.red, color.green, color.blue,
                                   scenario ? scenario->prompter : nullptr);
    if (!strip || !render::setOpaque(*strip) || ThroughColorImage(*strip, 0, 0, 0) != 0)
        return nullptr;
    if (blackFilm) {
        for (int32_t y = 0; y < strip->height; ++y) {
            uint8_t *row = strip->row(y);
            for (int32_t x = 0; x < strip->width; ++x)
                row[3 * x + 2] = 0;
        }
    }

    ImagePtr canvas = CreateFilledImage(width + 1, height + 1, bgColor.red, bgColor.green,
                                        bgColor.blue, 0);
    if (!canvas)
        return nullptr;
    DrawImage(*canvas, strip.get(), 0, 0, BLEND_ALPHA);
    strip.reset();

    std::unique_lock guard(lock);
    ++pending;
    if (stripCache.empty()) {
        // Fitted without the lock (the inputs are other blocks); kept unless a render on
        // another thread kept its own first.
        guard.unlock();
        std::vector<ImagePtr> fitted = fitInputs(frame, width, height);
        guard.lock();
        if (stripCache.empty())
            stripCache = std::move(fitted);
    }
    if (stripCache.empty()) {
        guard.unlock();
        render::finishRelease(*this, frame);
        return nullptr;
    }
    // The kept pictures are only read here; drawing them under the lock calls no other block.
    const int64_t count = int64_t(stripCache.size());
    for (int64_t i = 0; i < count; ++i) {
        const ImageBuffer *picture = stripCache[size_t(forward ? i : count - 1 - i)].get();
        const int64_t along = (vertical ? int64_t(height) * 13 / 16 : int64_t(width) * 13 / 16) * i;
        if (vertical)
            DrawImage(*canvas, picture, width / 8, int32_t(along + height / 8 - offset),
                      BLEND_ALPHA);
        else
            DrawImage(*canvas, picture, int32_t(along + width / 8 - offset), height / 8,
                      BLEND_ALPHA);
    }
    guard.unlock();

    ImagePtr out = vertical
                       ? ResampleImage(canvas.get(), 0, 0, width * 1024, height * 1024, 0, fraction,
                                       width * 1024, height * 1024)
                       : ResampleImage(canvas.get(), 0, 0, width * 1024, height * 1024, fraction, 0,
                                       width * 1024, height * 1024);
    if (!out) {
        render::finishRelease(*this, frame);
        return nullptr;
    }
    return out.release();
}

void FilmBlock::release(ImageBuffer *picture, int32_t frame)
{
    if (!picture)
        return;
    FreeImage(picture);
    render::finishRelease(*this, frame);
}

int32_t FilmBlock::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    return render::traceAllInputs(*this, frame, depth, lines);
}

void FilmBlock::dropCaches()
{
    stripCache.clear();
    Block::dropCaches();
}

} // namespace vorn
