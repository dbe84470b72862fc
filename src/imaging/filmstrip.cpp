// MakeFilmStrip and the strip's length arithmetic.
#include "imaging/filmstrip.h"

#include "base/prompter.h"
#include "imaging/shapecanvas.h"

#include <algorithm>
#include <limits>

namespace vorn {
namespace {

void report(Prompter *errors, const char *message)
{
    if (errors)
        errors->showError(message);
}

// First index k >= 0 of the sequence start + k * step (step > 0) whose item [x, x + extent)
// can reach the visible range x > -extent; earlier items are skipped without drawing.
int64_t firstVisible(int64_t start, int64_t step, int64_t extent)
{
    const int64_t behind = -extent - start;  // need start + k * step > -extent
    if (behind < 0)
        return 0;
    return behind / step;
}

// A sprocket hole: black, with rounded corners (GDI's RoundRect with a 5 x 5 corner ellipse
// on a rectangle this small leaves out just the corner pixels). Right and bottom lie just
// outside the hole.
void hole(ShapeCanvas &canvas, int64_t left, int64_t top, int64_t right, int64_t bottom)
{
    if (right - left >= 3 && bottom - top >= 3) {
        canvas.fillRect(left + 1, top, right - 1, bottom, 0);
        canvas.fillRect(left, top + 1, right, bottom - 1, 0);
    } else {
        canvas.fillRect(left, top, right, bottom, 0);
    }
}

} // namespace

int64_t FilmStripLength(int32_t size, int32_t n)
{
    const int64_t u = size >> 4;
    return u * 13 * n + u * 3;
}

int64_t FilmFrameOffset(int32_t size, int32_t n)
{
    const int64_t u = size >> 4;
    return u * 13 * (int64_t(n) - 1);
}

ImagePtr MakeFilmStrip(int32_t n, int32_t horizontal, int32_t offset, int32_t width,
                       int32_t height, uint8_t red, uint8_t green, uint8_t blue,
                       Prompter *errors)
{
    // One pixel longer along the running direction, so the caller can shift by a fraction.
    const int64_t W = horizontal ? int64_t(width) + 1 : width;
    const int64_t H = horizontal ? height : int64_t(height) + 1;
    if (width <= 0 || height <= 0 || W > std::numeric_limits<int32_t>::max()
        || H > std::numeric_limits<int32_t>::max()) {
        report(errors, "ビットマップの作成に失敗しました。");
        return nullptr;
    }
    ShapeCanvas canvas{int32_t(W), int32_t(H)};
    if (!canvas.isValid()) {
        report(errors, "ビットマップの作成に失敗しました。");
        return nullptr;
    }
    const uint32_t film = (uint32_t(red) << 16) | (uint32_t(green) << 8) | blue;
    const int64_t off = offset;

    if (horizontal) {
        const int64_t u = W >> 4;
        const int64_t L = FilmStripLength(int32_t(W), n);
        canvas.fillRect(0, 0, W, height / 8, film);
        canvas.fillRect(0, 7 * H / 8, W, height, film);
        if (u > 0) {
            const int64_t step = 13 * u;
            for (int64_t x = u - off + firstVisible(u - off, step, u) * step;
                 x < L - off && x < W; x += step)
                canvas.fillRect(x, 0, x + u, height, film);
        }
        // Holes every 13/14 of a frame unit; a strip too short for that (u = 1) still steps
        // by a pixel instead of never advancing.
        const int64_t step = std::max<int64_t>(u * 13 / 14, 1);
        const int64_t holeW = W / 32, holeH = 7 * H / 120;
        const int64_t top1 = H / 30, top2 = H * 218 / 240;
        for (int64_t x = -off + firstVisible(-off, step, holeW) * step; x < L - off && x < W;
             x += step) {
            hole(canvas, x, top1, x + holeW, top1 + holeH);
            hole(canvas, x, top2, x + holeW, top2 + holeH);
        }
    } else {
        const int64_t u = H >> 4;
        const int64_t L = FilmStripLength(int32_t(H), n);
        canvas.fillRect(0, 0, width / 8, H, film);
        canvas.fillRect(7 * W / 8, 0, W, H, film);
        if (u > 0) {
            const int64_t step = 13 * u;
            for (int64_t y = u - off + firstVisible(u - off, step, u) * step;
                 y < L - off && y < H; y += step)
                canvas.fillRect(0, y, width, y + u, film);
        }
        const int64_t step = std::max<int64_t>(u * 13 / 8, 1);
        const int64_t holeW = 7 * W / 120, holeH = H / 20;
        const int64_t left1 = W / 30, left2 = W * 218 / 240;
        for (int64_t y = -off + firstVisible(-off, step, holeH) * step; y < L - off && y < H;
             y += step) {
            hole(canvas, left1, y, left1 + holeW, y + holeH);
            hole(canvas, left2, y, left2 + holeW, y + holeH);
        }
    }

    ImagePtr out = canvas.toImage();
    if (!out)
        report(errors, "画像の作成に失敗しました。");
    return out;
}

} // namespace vorn
