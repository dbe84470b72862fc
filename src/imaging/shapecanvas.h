// ShapeCanvas: the black memory bitmap that shapes and film strips draw on in white (or film
// colour), and its copy into an ImageBuffer. Internal to the image engine and its tests.
#pragma once

#include "imaging/imagebuffer.h"

#include <QImage>
#include <QPainter>

#include <cstdint>
#include <optional>

namespace vorn {

// A width x height RGB32 picture, all black, with a painter that draws without anti-aliasing.
// Only colour is kept: the engine applies colour and transparency itself afterwards.
class ShapeCanvas {
public:
    ShapeCanvas(int32_t width, int32_t height);
    ~ShapeCanvas();
    ShapeCanvas(const ShapeCanvas &) = delete;
    ShapeCanvas &operator=(const ShapeCanvas &) = delete;

    // False when the bitmap could not be made (too large, out of memory).
    bool isValid() const { return !m_image.isNull(); }
    int32_t width() const { return m_image.width(); }
    int32_t height() const { return m_image.height(); }

    QPainter &painter() { return *m_painter; }
    // Sets one pixel to `rgb` (0xRRGGBB); pixels outside the bitmap are ignored.
    void plot(int32_t x, int32_t y, uint32_t rgb = 0xffffff);
    // Fills the pixels x in [left, right), y in [top, bottom), clipped to the bitmap, as
    // GDI's FillRect does.
    void fillRect(int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t rgb);

    // Ends painting and copies the bitmap into a new picture of the same size (24-bit, alpha
    // plane all 0). None when memory runs out.
    ImagePtr toImage();

private:
    QImage m_image;
    std::optional<QPainter> m_painter;
};

} // namespace vorn
