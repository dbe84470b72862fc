// Rotation of a picture by whole degrees about its centre.
#pragma once

#include "imaging/imagebuffer.h"

#include <cstdint>

namespace vorn {

// Turns the picture by `degrees` (any integer; positive turns counter-clockwise on screen)
// into the bounding box of the turned picture, nearest sample, 22.10 fixed-point stepping.
// Colour is premultiplied by the source alpha; pixels that no source pixel reaches are
// transparent black. The source must be 24-bit with an alpha plane. New picture owned by the
// caller; none for a missing or unsuitable source or when the result would be too large or
// memory runs out.
ImagePtr RotateImage(const ImageBuffer *source, int32_t degrees);

} // namespace vorn
