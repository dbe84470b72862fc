// An ImageBuffer as a QImage, for the places that hand the engine's pictures to Qt: the preview
// window paints them, the command line saves them.
#pragma once

#include "imaging/imagebuffer.h"

#include <QImage>

namespace vorn {

enum class AlphaUse {
    Keep,    // RGBA8888 with the alpha plane (255 where the picture has none)
    Ignore,  // RGB32, the pixel bytes only, as a device-independent bitmap shows them
};

// Top row first, a deep copy. A null image for a bit count other than 24 or 32, an empty
// picture, or when memory runs out.
QImage ImageBufferToQImage(const ImageBuffer &picture, AlphaUse alpha = AlphaUse::Keep);

} // namespace vorn
