// The colour filters of the IMAGE block: sepia, mono, negative, discolour, high-pass, single
// channel, photo frame and through colour.
#pragma once

#include "imaging/imagebuffer.h"

#include <cstdint>

namespace vorn {

// Common contract: the input is a 24-bit (or 32-bit) picture and stays untouched; the result
// is a new picture owned by the caller. A missing input, an unsupported bit count or a failed
// allocation gives none. A missing alpha plane counts as opaque. Results keep the input's alpha
// plane (or its absence) unless stated otherwise.

// Luma re-toned with a fixed brown chroma. The result is 24-bit with an alpha plane: pixels
// with alpha 0 become transparent black, all others opaque.
ImagePtr SepiaImage(const ImageBuffer *input);
// Grey from 0.31 R + 0.59 G + 0.11 B, rounded, limited to 255.
ImagePtr MonoImage(const ImageBuffer *input);
// Every colour byte becomes 255 minus itself.
ImagePtr NegaImage(const ImageBuffer *input);
// Each channel becomes 0 or 255 by a threshold taken from its histogram; `factor` (the IMAGE
// block passes 0.5) moves the threshold.
ImagePtr DiscolorImage(const ImageBuffer *input, double factor);
// Edge map: a new 1-bit picture (set bit = white edge), no alpha plane.
ImagePtr HighpassImage(const ImageBuffer *input);
// 1-bit input: a new 24-bit picture, white where a bit is set, black elsewhere, no alpha
// plane. 24-bit input: CopyImage. Other depths: none.
ImagePtr ExpandTo24Bit(const ImageBuffer *input);
// Keeps channel 0 (red), 1 (green) or 2 (blue) and zeroes the two others. None for another
// channel number.
ImagePtr KeepChannel(const ImageBuffer *input, int channel);
// A white border max(width, height) * percent / 100 pixels wide on every side.
ImagePtr PhotoFrameImage(const ImageBuffer *input, int32_t percent);
// In place: every pixel whose colour is exactly (r, g, b) gets alpha 0. 0 on success, -1 when
// the picture is not 24/32-bit or has no alpha plane (nothing is changed then).
int32_t ThroughColorImage(ImageBuffer &picture, uint8_t r, uint8_t g, uint8_t b);

} // namespace vorn
