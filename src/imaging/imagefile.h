// LoadImageFile: decoding image files (JPEG, PNG, BMP, GIF, anything Qt reads) into pictures.
#pragma once

#include "imaging/imagebuffer.h"

#include <filesystem>

namespace vorn {

// Decodes the whole picture at its stored size: 24-bit blue-green-red, rows bottom-up, no
// alpha plane (an alpha channel in the file is dropped, the colour kept as stored; no colour
// management, no EXIF rotation; an animation gives its first frame). The caller owns the result
// and usually adds an opaque alpha plane.
// None, without any message, when the file is missing, unreadable, not an image, truncated
// beyond what the decoder recovers, or declares a size whose plane would exceed MaxPlaneBytes.
// Thread-safe: may run on the render thread and the interface thread at once. A
// QGuiApplication is not needed.
ImagePtr LoadImageFile(const std::filesystem::path &path);

} // namespace vorn
