// ImageBuffer: the engine's picture record (bottom-up rows, blue-green-red, separate alpha
// plane) and its creation, copying and pixel addressing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vorn {

// One picture. Rows are stored bottom-up, as a Windows device-independent bitmap: row y
// (y = 0 is the top of the picture) starts at byte (height - y - 1) * stride, so GDI-style
// code and files written by the renderer agree byte for byte. 24-bit pixels are blue, green,
// red. The alpha plane, when present, uses the same row order with alphaStride; 0 is
// transparent, 255 opaque. Bytes of a row beyond its last pixel carry no meaning.
struct ImageBuffer {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    int32_t bitCount = 0;  // 1, 8, 24 or 32
    std::unique_ptr<uint8_t[]> pixels;  // stride * height bytes
    std::unique_ptr<uint8_t[]> alpha;   // alphaStride * height bytes, or null
    int32_t alphaStride = 0;            // width rounded up to a multiple of 4

    uint8_t *row(int32_t y) { return pixels.get() + rowStart(y, stride); }
    const uint8_t *row(int32_t y) const { return pixels.get() + rowStart(y, stride); }
    uint8_t *alphaRow(int32_t y) { return alpha.get() + rowStart(y, alphaStride); }
    const uint8_t *alphaRow(int32_t y) const { return alpha.get() + rowStart(y, alphaStride); }

private:
    ptrdiff_t rowStart(int32_t y, int32_t rowBytes) const
    {
        return static_cast<ptrdiff_t>(height - y - 1) * rowBytes;
    }
};

// Engine operations return new pictures owned by the caller; dropping the pointer frees them.
using ImagePtr = std::unique_ptr<ImageBuffer>;

// The largest plane the engine allocates (pixels or alpha). Anything larger is treated like an
// allocation failure: the operation returns none instead of wrapping a size.
inline constexpr int64_t MaxPlaneBytes = int64_t(1) << 30;

// A hint for a freshly allocated, not yet written block of tens of megabytes (a photo's
// plane): back it with huge pages where the system offers them on request, so that the first
// writes fault a few hundred times instead of thousands. Does nothing for small blocks or
// where unsupported; never fails.
void AdviseLargeBlock(void *data, size_t bytes);

// Bytes per row for a width and bit count; -1 for an invalid bit count or a negative width.
int32_t RowStride(int32_t width, int32_t bitCount);

// All pixel bytes 0, no alpha plane. None for an invalid bit count, a negative or too large
// size, or when memory runs out.
ImagePtr CreateImageBuffer(int32_t width, int32_t height, int32_t bitCount);
// As CreateImageBuffer, but the pixel bytes are left as the allocator gave them (the bytes
// that pad each row to its stride are still 0): for a caller that writes every pixel at once,
// where zero-filling a large plane first would only cost time.
ImagePtr CreateImageBufferUninitialised(int32_t width, int32_t height, int32_t bitCount);
// 24-bit with an alpha plane, everything 0 (transparent black).
ImagePtr CreateImage(int32_t width, int32_t height);
ImagePtr CreateFilledImage(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b,
                           uint8_t a);
// Adds a zeroed alpha plane; 0, or -1 when memory runs out or the buffer is null.
int32_t AddAlphaPlane(ImageBuffer *buffer);
// Deep copy (pixels and, when present, alpha). None for a null input or when memory runs out.
ImagePtr CopyImage(const ImageBuffer *buffer);
// Frees a picture; null is ignored. For code that holds a released raw pointer.
void FreeImage(ImageBuffer *buffer);

// Byte offsets, unclamped (24-bit only for PixelOffset).
ptrdiff_t PixelOffset(const ImageBuffer &buffer, int32_t x, int32_t y);
ptrdiff_t AlphaOffset(const ImageBuffer &buffer, int32_t x, int32_t y);
// x and y clamped into the picture, then the offset for the buffer's bit count (0 for others).
ptrdiff_t ClampedPixelOffset(const ImageBuffer &buffer, int32_t x, int32_t y);

// Channel 0 red, 1 green, 2 blue. Coordinates are clamped into the picture.
uint8_t GetChannel(const ImageBuffer &buffer, int32_t x, int32_t y, int channel);
void SetChannel(ImageBuffer &buffer, int32_t x, int32_t y, int channel, uint8_t value);
void SetPixelRgb(ImageBuffer &buffer, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b);

// Reverses the order of the rows in place (pixels only).
void FlipImageRows(ImageBuffer &buffer);

} // namespace vorn
