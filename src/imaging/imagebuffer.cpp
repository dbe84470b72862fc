// Creation, copying and addressing of ImageBuffer.
#include "imaging/imagebuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <sys/mman.h>

namespace vorn {
namespace {

std::unique_ptr<uint8_t[]> allocatePlane(int64_t bytes, bool zeroed = true)
{
    if (bytes < 0 || bytes > MaxPlaneBytes)
        return nullptr;
    // Value-initialised (every byte 0) unless the caller writes them all; nothrow so a failure
    // is a plain "none".
    const int64_t size = bytes > 0 ? bytes : 1;
    std::unique_ptr<uint8_t[]> plane(new (std::nothrow) uint8_t[size]);
    if (!plane)
        return nullptr;
    AdviseLargeBlock(plane.get(), size_t(size));
    if (zeroed)
        std::memset(plane.get(), 0, size_t(size));
    return plane;
}

// The bytes of a row that hold pixels (the rest pads it to the stride).
int64_t usedRowBytes(int64_t width, int32_t bitCount)
{
    return bitCount == 1 ? (width + 7) / 8 : width * (bitCount / 8);
}

// -1 when the rounded width does not fit an int32 (such a plane could not be allocated anyway).
int32_t alphaStrideFor(int32_t width)
{
    const int64_t bytes = (int64_t(width) + 3) & ~int64_t(3);
    return bytes > INT32_MAX ? -1 : static_cast<int32_t>(bytes);
}

int32_t clampTo(int32_t v, int32_t size)
{
    return std::clamp(v, 0, std::max(size - 1, 0));
}

int channelByte(int channel)
{
    // Pixels are stored blue, green, red: red (channel 0) is byte 2.
    return 2 - channel;
}

} // namespace

void AdviseLargeBlock(void *data, size_t bytes)
{
#ifdef MADV_HUGEPAGE
    // Only whole 2 MiB pages inside the block; smaller blocks gain nothing.
    constexpr uintptr_t hugePage = uintptr_t(2) << 20;
    if (!data || bytes < 2 * hugePage)
        return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(hugePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);  // a hint only
#else
    (void)data;
    (void)bytes;
#endif
}

int32_t RowStride(int32_t width, int32_t bitCount)
{
    if (width < 0)
        return -1;
    const int64_t w = width;
    int64_t bytes;
    switch (bitCount) {
    case 1: bytes = ((w + 7) / 8 + 3) & ~int64_t(3); break;
    case 8: bytes = (w + 3) & ~int64_t(3); break;
    case 24: bytes = (3 * w + 3) & ~int64_t(3); break;
    case 32: bytes = 4 * w; break;
    default: return -1;
    }
    return bytes > INT32_MAX ? -1 : static_cast<int32_t>(bytes);
}

namespace {

ImagePtr createBuffer(int32_t width, int32_t height, int32_t bitCount, bool zeroed)
{
    const int32_t stride = RowStride(width, bitCount);
    if (stride < 0 || height < 0)
        return nullptr;
    auto image = std::unique_ptr<ImageBuffer>(new (std::nothrow) ImageBuffer);
    if (!image)
        return nullptr;
    image->pixels = allocatePlane(int64_t(stride) * height, zeroed);
    if (!image->pixels)
        return nullptr;
    image->width = width;
    image->height = height;
    image->stride = stride;
    image->bitCount = bitCount;
    image->alphaStride = alphaStrideFor(width);
    if (!zeroed) {
        // Padding stays defined, so pictures written out byte for byte are reproducible.
        const int64_t used = usedRowBytes(width, bitCount);
        if (used < stride) {
            for (int32_t y = 0; y < height; ++y)
                std::memset(image->row(y) + used, 0, size_t(stride - used));
        }
    }
    return image;
}

} // namespace

ImagePtr CreateImageBuffer(int32_t width, int32_t height, int32_t bitCount)
{
    return createBuffer(width, height, bitCount, true);
}

ImagePtr CreateImageBufferUninitialised(int32_t width, int32_t height, int32_t bitCount)
{
    return createBuffer(width, height, bitCount, false);
}

ImagePtr CreateImage(int32_t width, int32_t height)
{
    auto image = CreateImageBuffer(width, height, 24);
    if (!image || AddAlphaPlane(image.get()) != 0)
        return nullptr;
    return image;
}

ImagePtr CreateFilledImage(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b,
                           uint8_t a)
{
    auto image = CreateImage(width, height);
    if (!image)
        return nullptr;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *p = image->row(y);
        for (int32_t x = 0; x < width; ++x, p += 3) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
    std::memset(image->alpha.get(), a, size_t(image->alphaStride) * size_t(height));
    return image;
}

int32_t AddAlphaPlane(ImageBuffer *buffer)
{
    if (!buffer)
        return -1;
    buffer->alphaStride = alphaStrideFor(buffer->width);
    if (buffer->alphaStride < 0)
        return -1;
    buffer->alpha = allocatePlane(int64_t(buffer->alphaStride) * buffer->height);
    return buffer->alpha ? 0 : -1;
}

ImagePtr CopyImage(const ImageBuffer *buffer)
{
    if (!buffer)
        return nullptr;
    // Both planes are copied whole, padding included, so nothing needs zeroing first.
    auto copy = createBuffer(buffer->width, buffer->height, buffer->bitCount, false);
    if (!copy)
        return nullptr;
    std::memcpy(copy->pixels.get(), buffer->pixels.get(),
                size_t(buffer->stride) * size_t(buffer->height));
    if (buffer->alpha) {
        copy->alphaStride = buffer->alphaStride;
        copy->alpha = allocatePlane(int64_t(buffer->alphaStride) * buffer->height, false);
        if (!copy->alpha)
            return nullptr;
        std::memcpy(copy->alpha.get(), buffer->alpha.get(),
                    size_t(buffer->alphaStride) * size_t(buffer->height));
    }
    return copy;
}

void FreeImage(ImageBuffer *buffer)
{
    delete buffer;
}

ptrdiff_t PixelOffset(const ImageBuffer &buffer, int32_t x, int32_t y)
{
    return ptrdiff_t(buffer.height - y - 1) * buffer.stride + 3 * ptrdiff_t(x);
}

ptrdiff_t AlphaOffset(const ImageBuffer &buffer, int32_t x, int32_t y)
{
    return ptrdiff_t(buffer.height - y - 1) * buffer.alphaStride + x;
}

ptrdiff_t ClampedPixelOffset(const ImageBuffer &buffer, int32_t x, int32_t y)
{
    x = clampTo(x, buffer.width);
    y = clampTo(y, buffer.height);
    const ptrdiff_t rowStart = ptrdiff_t(buffer.height - y - 1) * buffer.stride;
    switch (buffer.bitCount) {
    case 1: return rowStart + x / 8;
    case 8: return rowStart + x;
    case 24: return rowStart + 3 * ptrdiff_t(x);
    case 32: return rowStart + 4 * ptrdiff_t(x);
    default: return 0;
    }
}

uint8_t GetChannel(const ImageBuffer &buffer, int32_t x, int32_t y, int channel)
{
    if (buffer.width <= 0 || buffer.height <= 0)
        return 0;
    const ptrdiff_t offset = ClampedPixelOffset(buffer, x, y);
    switch (buffer.bitCount) {
    case 24:
    case 32: return buffer.pixels[offset + channelByte(channel)];
    case 1: {
        const int bit = 7 - clampTo(x, buffer.width) % 8;
        return (buffer.pixels[offset] >> bit) & 1 ? 255 : 0;
    }
    default: return 0;
    }
}

void SetChannel(ImageBuffer &buffer, int32_t x, int32_t y, int channel, uint8_t value)
{
    if (buffer.width <= 0 || buffer.height <= 0)
        return;
    const ptrdiff_t offset = ClampedPixelOffset(buffer, x, y);
    switch (buffer.bitCount) {
    case 24:
    case 32: buffer.pixels[offset + channelByte(channel)] = value; break;
    case 1: {
        const uint8_t mask = uint8_t(0x80 >> (clampTo(x, buffer.width) % 8));
        if (value)
            buffer.pixels[offset] |= mask;
        else
            buffer.pixels[offset] &= uint8_t(~mask);
        break;
    }
    default: break;
    }
}

void SetPixelRgb(ImageBuffer &buffer, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b)
{
    if (buffer.bitCount == 1) {
        SetChannel(buffer, x, y, 0, (r | g | b) ? 255 : 0);
        return;
    }
    SetChannel(buffer, x, y, 0, r);
    SetChannel(buffer, x, y, 1, g);
    SetChannel(buffer, x, y, 2, b);
}

void FlipImageRows(ImageBuffer &buffer)
{
    uint8_t *p = buffer.pixels.get();
    const size_t stride = size_t(buffer.stride);
    for (int32_t i = 0; i < buffer.height / 2; ++i)
        std::swap_ranges(p + i * stride, p + (i + 1) * stride,
                         p + size_t(buffer.height - 1 - i) * stride);
}

} // namespace vorn
