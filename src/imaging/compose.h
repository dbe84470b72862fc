// Compositing (DrawImage and its blend modes) and the whole-picture operations transitions use:
// cross-fade, shake and blur.
#pragma once

#include "imaging/imagebuffer.h"

#include <cstdint>

namespace vorn {

// Modes of DrawImage. Geometry flag words reuse BLEND_LIGHTEN's bit.
inline constexpr int32_t BLEND_ALPHA = 0x100;    // source over destination by source alpha
inline constexpr int32_t BLEND_OR = 0x200;       // bitwise OR of colour and of alpha
inline constexpr int32_t BLEND_ADD = 0x800;      // colour added, saturating at 255
inline constexpr int32_t BLEND_COPY = 0x1000;    // colour and alpha replaced by the source's
inline constexpr int32_t BLEND_LIGHTEN = 0x2000; // per channel the larger one

// Draws `source` onto `destination` in place with its top-left pixel at (x, y) (may be
// negative; whatever falls outside the destination is cut). Both must be 24-bit and the
// destination must carry an alpha plane; a source without one counts as opaque. Anything
// else (null source, other depths, no overlap, an unknown mode) draws nothing. The
// destination's alpha never decreases except under BLEND_COPY. Results are exact to the
// rounding rules of each mode. The two pictures must not be the same buffer.
void DrawImage(ImageBuffer &destination, const ImageBuffer *source, int32_t x, int32_t y,
               int32_t mode);

// Cross-fade: percent (0..100) is the weight of `second`. Both 24-bit with alpha planes and of
// the same size, else none. Weights are out of 255 but divided by 256 (a shift), so the mix is
// slightly darker than its inputs and never overflows: white at 0 or 100 gives 254, two whites
// at 50 give 252. Alpha is the larger of the two. New picture owned by the caller.
ImagePtr MixImages(const ImageBuffer *first, const ImageBuffer *second, int32_t percent);

// One frame of a horizontal shake with a cycle of four: frame mod 4 = 1 the picture 5 pixels
// to the right, 3 to the left, 0 and 2 a 50 % mix of both. Uncovered strips are transparent.
// Negative frames continue the cycle backwards. None for a missing or non-24-bit input or
// on failure.
ImagePtr ShakeImage(const ImageBuffer *picture, int32_t frame);

// 3 x 3 mean filter with edge pixels repeated outside the picture; rounded to nearest. The
// result is 24-bit without an alpha plane (the input's alpha is not read). None for a missing
// or non-24-bit input or on failure.
ImagePtr BlurImage(const ImageBuffer *picture);

} // namespace vorn
