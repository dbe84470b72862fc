// ShapeCanvas: the black memory bitmap of shapes and film strips, and its copy into a picture.
#include "imaging/shapecanvas.h"

#include <algorithm>

namespace vorn {

ShapeCanvas::ShapeCanvas(int32_t width, int32_t height)
{
    // QImage refuses sizes it cannot allocate and returns a null image; the engine's own
    // plane limit applies as well, so a canvas never outgrows the picture it is copied into.
    if (width <= 0 || height <= 0 || int64_t(width) * height * 4 > MaxPlaneBytes)
        return;
    m_image = QImage(width, height, QImage::Format_RGB32);
    if (m_image.isNull())
        return;
    m_image.fill(Qt::black);
    m_painter.emplace(&m_image);
    m_painter->setRenderHint(QPainter::Antialiasing, false);
}

ShapeCanvas::~ShapeCanvas()
{
    if (m_painter)
        m_painter->end();
}

void ShapeCanvas::plot(int32_t x, int32_t y, uint32_t rgb)
{
    if (x < 0 || y < 0 || x >= m_image.width() || y >= m_image.height())
        return;
    reinterpret_cast<QRgb *>(m_image.scanLine(y))[x] = 0xff000000u | rgb;
}

void ShapeCanvas::fillRect(int64_t left, int64_t top, int64_t right, int64_t bottom,
                           uint32_t rgb)
{
    const int64_t l = std::max<int64_t>(left, 0), t = std::max<int64_t>(top, 0);
    const int64_t r = std::min<int64_t>(right, m_image.width());
    const int64_t b = std::min<int64_t>(bottom, m_image.height());
    if (l >= r || t >= b)
        return;
    for (int64_t y = t; y < b; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(m_image.scanLine(int(y)));
        std::fill(line + l, line + r, 0xff000000u | rgb);
    }
}

ImagePtr ShapeCanvas::toImage()
{
    if (m_image.isNull())
        return nullptr;
    if (m_painter) {
        m_painter->end();
        m_painter.reset();
    }
    ImagePtr out = CreateImage(m_image.width(), m_image.height());
    if (!out)
        return nullptr;
    // QImage rows run top-down, the picture's bottom-up: row() does the flip.
    for (int32_t y = 0; y < out->height; ++y) {
        const QRgb *src = reinterpret_cast<const QRgb *>(m_image.constScanLine(y));
        uint8_t *dst = out->row(y);
        for (int32_t x = 0; x < out->width; ++x) {
            dst[3 * x + 0] = uint8_t(qBlue(src[x]));
            dst[3 * x + 1] = uint8_t(qGreen(src[x]));
            dst[3 * x + 2] = uint8_t(qRed(src[x]));
        }
    }
    return out;
}

} // namespace vorn
