// Resampling: the area-averaging resampler, its nearest-neighbour variant and fitting a picture
// into a frame with its aspect ratio kept.
#pragma once

#include "imaging/imagebuffer.h"

#include <cstdint>

namespace vorn {

// Flags of FitImage (and of PanZoomImage, which shares FIT_NEAREST).
inline constexpr int32_t FIT_INSIDE = 1;   // whole picture visible, transparent bars
inline constexpr int32_t FIT_COVER = 2;    // canvas filled, the longer side cropped
inline constexpr int32_t FIT_NEAREST = 8;  // nearest sample instead of area averaging

// Maps the source area (srcX, srcY, srcW, srcH) onto the destination area (dstX, dstY, dstW,
// dstH); all eight are fixed point with 1024 units per pixel. Each output pixel is the mean of
// the source area it covers, every source pixel weighted by its covered part to 1/1024 pixel,
// blue, green, red and alpha alike, rounded once at the end. Only the fraction of the
// destination start matters (a negative start is moved into 0..1023); the result is
// ceil((dstX + dstW) / 1024) - floor(dstX / 1024) wide (likewise high), and the caller places
// it. The source must be 24-bit with an alpha plane and the source area must lie inside it.
// New picture owned by the caller; none for a missing or unsuitable source, an empty or
// outside source area, a destination size of 0 or less, or when memory runs out.
ImagePtr ResampleImage(const ImageBuffer *source, int32_t dstX, int32_t dstY, int32_t dstW,
                       int32_t dstH, int32_t srcX, int32_t srcY, int32_t srcW, int32_t srcH);

// Same arguments, sizes and failures; each output pixel copies one source pixel (colour and
// alpha unchanged): column c takes c * srcCols / outW + srcX / 1024, rows likewise.
ImagePtr ResampleImageNearest(const ImageBuffer *source, int32_t dstX, int32_t dstY,
                              int32_t dstW, int32_t dstH, int32_t srcX, int32_t srcY,
                              int32_t srcW, int32_t srcH);

// Scales the picture to fit width x height with its aspect ratio kept and centres it on a
// transparent canvas of exactly width x height: FIT_INSIDE (wins over FIT_COVER) leaves
// transparent bars, FIT_COVER crops the overflow symmetrically; add FIT_NEAREST for nearest
// sampling. None without either fit flag, for a missing source, a size of 0 or less, or when
// memory runs out.
ImagePtr FitImage(const ImageBuffer *source, int32_t width, int32_t height, int32_t flags);

} // namespace vorn
