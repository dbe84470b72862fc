// LoadImageFile: decoding image files (JPEG, PNG, BMP, GIF, anything Qt reads) into pictures.
#pragma once

#include "imaging/imagebuffer.h"

#include <filesystem>

namespace vorn {

// The most pixels a picture may have: sixteen times the screen (room for pan and zoom into a
// part of it), and never less than MinPicturePixels. A small file can declare a huge picture
// (a few hundred bytes of JPEG decode to gigabytes), so the size is tested before decoding.
inline constexpr int64_t MinPicturePixels = int64_t(8192) * 8192;
int64_t PicturePixelBudget(int32_t screenWidth, int32_t screenHeight);

// What a picture's header says, read without decoding its pixels.
struct ImageFileHeader {
    bool readable = false;  // a picture the decoder can read
    int32_t width = 0;      // 0 x 0: a format that tells its size only when decoded
    int32_t height = 0;
    // Whether the picture fits `pixelBudget` pixels and the engine's plane size.
    bool fits(int64_t pixelBudget) const;
};
ImageFileHeader ReadImageFileHeader(const std::filesystem::path &path);

// Decodes the whole picture at its stored size: 24-bit blue-green-red, rows bottom-up, no
// alpha plane (an alpha channel in the file is dropped, the colour kept as stored; no colour
// management, no EXIF rotation; an animation gives its first frame). The caller owns the result
// and usually adds an opaque alpha plane.
// None, without any message, when the file is missing, unreadable, not an image, a JPEG or
// PNG that is cut short or damaged in its structure, or declares more than `pixelBudget`
// pixels or a plane over MaxPlaneBytes.
// Thread-safe: may run on the render thread and the interface thread at once. A
// QGuiApplication is not needed.
// Decoded files are remembered (see below), so rendering the same picture frame after frame
// decodes it once; the result is always the caller's own copy, free to change.
ImagePtr LoadImageFile(const std::filesystem::path &path,
                       int64_t pixelBudget = MinPicturePixels);

// The decoded-file cache behind LoadImageFile: pictures keyed by path and the file's identity
// (device, inode, size, modification and change time), least recently used dropped first
// once their pixel bytes exceed the budget. A file that changes is decoded again.
inline constexpr int64_t DefaultImageFileCacheBytes = int64_t(128) << 20;

struct ImageFileCacheStats {
    int64_t hits = 0;
    int64_t misses = 0;
    int64_t bytes = 0;  // pixel bytes held
    int32_t entries = 0;
};

// Sets the byte budget (0 turns caching off), empties the cache and resets the counters.
void SetImageFileCacheBudget(int64_t bytes);
ImageFileCacheStats GetImageFileCacheStats();

} // namespace vorn
