// ImageBuffer to QImage: bottom-up blue-green-red rows become top-down Qt rows.
#include "imaging/qimageconvert.h"

namespace vorn {

QImage ImageBufferToQImage(const ImageBuffer &picture, AlphaUse alpha)
{
    if ((picture.bitCount != 24 && picture.bitCount != 32) || picture.width < 1 ||
        picture.height < 1 || !picture.pixels)
        return {};
    const bool keepAlpha = alpha == AlphaUse::Keep;
    QImage image(picture.width, picture.height,
                 keepAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const int bytesPerPixel = picture.bitCount / 8;
    const bool hasAlpha = keepAlpha && picture.alpha;
    for (int32_t y = 0; y < picture.height; ++y) {
        const uint8_t *source = picture.row(y);
        uchar *out = image.scanLine(y);
        if (keepAlpha) {
            const uint8_t *alphaRow = hasAlpha ? picture.alphaRow(y) : nullptr;
            for (int32_t x = 0; x < picture.width; ++x) {
                const uint8_t *pixel = source + x * bytesPerPixel;
                out[4 * x + 0] = pixel[2];
                out[4 * x + 1] = pixel[1];
                out[4 * x + 2] = pixel[0];
                out[4 * x + 3] = alphaRow ? alphaRow[x] : 255;
            }
        } else {
            // RGB32 pixels are the 32-bit value 0xffRRGGBB; the alpha plane is left out.
            auto *row = reinterpret_cast<uint32_t *>(out);
            for (int32_t x = 0; x < picture.width; ++x) {
                const uint8_t *pixel = source + x * bytesPerPixel;
                row[x] = 0xff000000u | uint32_t(pixel[2]) << 16 | uint32_t(pixel[1]) << 8 |
                         uint32_t(pixel[0]);
            }
        }
    }
    return image;
}

} // namespace vorn
