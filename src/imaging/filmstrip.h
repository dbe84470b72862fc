// The film strip of a FILM block: bands, frame separators and sprocket holes.
#pragma once

#include "imaging/imagebuffer.h"

#include <cstdint>

namespace vorn {

class Prompter;

// Length in pixels of a strip of n frames across a window of `size` pixels: u * 13 * n + u * 3
// with u = size / 16 (frames are 13 u apart). Computed in 64 bits.
int64_t FilmStripLength(int32_t size, int32_t n);
// Distance between the first and the last frame separator: u * 13 * (n - 1).
int64_t FilmFrameOffset(int32_t size, int32_t n);

// A window of width x height onto a strip of n frames in colour (red, green, blue) on black,
// scrolled by `offset` pixels along its running direction (horizontal when `horizontal` is
// non-zero). The picture is one pixel longer along the running direction than asked:
// (width + 1) x height or width x (height + 1). Alpha is all 0; the caller sets it. New
// picture owned by the caller; none when the size is unusable or memory runs out (reported
// through `errors`, may be null).
ImagePtr MakeFilmStrip(int32_t n, int32_t horizontal, int32_t offset, int32_t width,
                       int32_t height, uint8_t red, uint8_t green, uint8_t blue,
                       Prompter *errors);

} // namespace vorn
