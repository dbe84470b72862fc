// Shapes of a DRAW block: GDI-compatible drawing, the ellipse's rotation, their written lines,
// and DrawShapesImage.
#include "imaging/shapes.h"

#include "base/cancel.h"
#include "base/linesink.h"
#include "base/result.h"
#include "base/prompter.h"
#include "imaging/compose.h"
#include "imaging/rotate.h"
#include "imaging/shapecanvas.h"

#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <numbers>
#include <string>
#include <vector>

namespace vorn {
namespace {

// Pixel geometry. The pictures these shapes reproduce were drawn by GDI, whose pixel centres
// lie on the integer grid, whose one-pixel lines light the first pixel but not the last, and
// whose fills take the pixels with centres inside, left and top edges included, right and
// bottom excluded, and whose ellipses span right - left pixels. Qt puts pixel centres at +0.5,
// includes line end pixels and makes ellipses a pixel wider, so thin lines, polygon fills and
// ellipses are rasterised here directly; the wide pens of lines and polygons go through
// QPainter (round caps and joins, as GDI's wide pens) with the points moved onto Qt's pixel
// centres.

// Products of two 32-bit coordinate differences need 64 bits, doubled 65: use 128.
__extension__ typedef __int128 Wide;

int64_t floorDiv(Wide a, Wide b)
{
    if (b < 0) {
        a = -a;
        b = -b;
    }
    const Wide q = a / b;
    return int64_t((a % b != 0 && a < 0) ? q - 1 : q);
}

// round(t / d) with halves going to the smaller value, d > 0: ceil((2t - d) / 2d).
int64_t roundHalfDown(Wide t, int64_t d)
{
    return -floorDiv(-(2 * t - d), Wide(2) * d);
}

// A one-pixel line from (x0, y0) to (x1, y1), last pixel excluded, by the grid-intersection
// diamond rule: one pixel per column for lines flatter than 45 degrees (a line exactly between
// two pixels lights the upper one), one per row for steeper lines (the left one).
void thinLine(ShapeCanvas &canvas, int64_t x0, int64_t y0, int64_t x1, int64_t y1)
{
    const int64_t dx = x1 - x0, dy = y1 - y0;
    const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    auto plot = [&](int64_t x, int64_t y) {
        if (x >= 0 && y >= 0 && x < canvas.width() && y < canvas.height())
            canvas.plot(int32_t(x), int32_t(y));
    };
    if (adx == 0 && ady == 0)
        return;
    if (adx >= ady) {
        const int64_t step = dx > 0 ? 1 : -1;
        int64_t first = 0, last = adx;  // i in [first, last)
        // Columns outside the canvas need no walk (the bounds keep a pixel to spare).
        if (step > 0) {
            first = std::max<int64_t>(0, -x0 - 1);
            last = std::min<int64_t>(adx, canvas.width() - x0 + 1);
        } else {
            first = std::max<int64_t>(0, x0 - canvas.width());
            last = std::min<int64_t>(adx, x0 + 2);
        }
        for (int64_t i = first; i < last; ++i)
            plot(x0 + i * step, y0 + roundHalfDown(Wide(i) * dy, adx));
    } else {
        const int64_t step = dy > 0 ? 1 : -1;
        int64_t first = 0, last = ady;
        if (step > 0) {
            first = std::max<int64_t>(0, -y0 - 1);
            last = std::min<int64_t>(ady, canvas.height() - y0 + 1);
        } else {
            first = std::max<int64_t>(0, y0 - canvas.height());
            last = std::min<int64_t>(ady, y0 + 2);
        }
        for (int64_t i = first; i < last; ++i)
            plot(x0 + roundHalfDown(Wide(i) * dx, ady), y0 + i * step);
    }
}

// Fills a polygon with the non-zero winding rule: pixel (x, y) is inside when the point
// (x, y) is, counting an edge crossing at x' for the pixels x >= x' on the left side of a
// span and x < x' on the right, and an edge for the rows top <= y < bottom. So a rectangle
// polygon (l, t)-(r, b) fills l..r-1 x t..b-1.
void fillPolygon(ShapeCanvas &canvas, const std::vector<ShapePoint> &points)
{
    const size_t n = points.size();
    if (n < 3)
        return;
    struct Crossing {
        int64_t x;  // first pixel at or right of the crossing
        int dir;
    };
    std::vector<Crossing> crossings;
    for (int32_t y = 0; y < canvas.height(); ++y) {
        if (cancelRequested())
            return;
        crossings.clear();
        for (size_t i = 0; i < n; ++i) {
            const ShapePoint &a = points[i];
            const ShapePoint &b = points[(i + 1) % n];
            if (a.y == b.y)
                continue;
            const bool down = a.y < b.y;
            const int64_t top = down ? a.y : b.y, bottom = down ? b.y : a.y;
            if (y < top || y >= bottom)
                continue;
            const ShapePoint &p = down ? a : b;
            const ShapePoint &q = down ? b : a;
            // x' = p.x + (y - p.y) (q.x - p.x) / (q.y - p.y); first pixel >= x' = ceil(x').
            const Wide num = Wide(int64_t(y) - p.y) * (int64_t(q.x) - p.x);
            const int64_t den = int64_t(q.y) - p.y;
            const int64_t xc = int64_t(p.x) - floorDiv(-num, den);
            crossings.push_back({xc, down ? 1 : -1});
        }
        if (crossings.empty())
            continue;
        std::sort(crossings.begin(), crossings.end(),
                  [](const Crossing &l, const Crossing &r) { return l.x < r.x; });
        int winding = 0;
        for (size_t k = 0; k + 1 < crossings.size(); ++k) {
            winding += crossings[k].dir;
            if (winding != 0)
                canvas.fillRect(crossings[k].x, y, crossings[k + 1].x, int64_t(y) + 1,
                                0xffffff);
        }
    }
}

QPen widePen(int32_t width)
{
    QPen pen(Qt::white);
    pen.setWidth(width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// GDI point (x, y) is the centre of pixel (x, y); in Qt that centre is (x + 0.5, y + 0.5).
QPointF centreOf(const ShapePoint &p)
{
    return QPointF(p.x + 0.5, p.y + 0.5);
}

void strokeOutline(ShapeCanvas &canvas, const std::vector<ShapePoint> &points, int32_t width,
                   bool closed)
{
    // A single point is a move without a line: nothing is drawn, whatever the pen.
    if (points.size() < 2)
        return;
    if (width <= 1) {
        for (size_t i = 0; i + 1 < points.size(); ++i) {
            if (i % 1024 == 0 && cancelRequested())
                return;
            thinLine(canvas, points[i].x, points[i].y, points[i + 1].x, points[i + 1].y);
        }
        if (closed)
            thinLine(canvas, points.back().x, points.back().y, points.front().x,
                     points.front().y);
        return;
    }
    QPainterPath path(centreOf(points.front()));
    for (size_t i = 1; i < points.size(); ++i)
        path.lineTo(centreOf(points[i]));
    if (closed)
        path.closeSubpath();
    QPainter &painter = canvas.painter();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(widePen(width));
    painter.drawPath(path);
}

// Pixels of an ellipse centred in the rectangle [l, r) x [t, b), with doubled radii dx and dy
// (the curve through the outermost pixel centres has r - l - 1 and b - t - 1): pixel (x, y)
// belongs to it when its centre lies inside or on the curve. For the one-pixel case the
// doubled radii are r - l and b - t, the ellipse inscribed in the pixels' outer edges.
struct EllipseDisc {
    int64_t l, t, r, b;
    int64_t dx, dy;

    bool contains(int64_t x, int64_t y) const
    {
        if (dx < 0 || dy < 0)
            return false;
        // Offsets from the centre, doubled: 2x - (l + r - 1).
        const Wide X = 2 * x - (l + r - 1), Y = 2 * y - (t + b - 1);
        const Wide DX = dx, DY = dy;
        if (DX == 0 || DY == 0)
            return (DX == 0 ? X == 0 : X * X <= DX * DX) && (DY == 0 ? Y == 0 : Y * Y <= DY * DY);
        constexpr Wide exactLimit = Wide(1) << 31;  // keeps the products below 2^126
        auto small = [&](Wide v) { return v < exactLimit && -v < exactLimit; };
        if (small(X) && small(Y) && small(DX) && small(DY))
            return X * X * DY * DY + Y * Y * DX * DX <= DX * DX * DY * DY;
        const long double x2 = (long double)(X) / (long double)(DX);
        const long double y2 = (long double)(Y) / (long double)(DY);
        return x2 * x2 + y2 * y2 <= 1.0L;
    }
};

int32_t writeLine(LineSink &out, const char *format, auto... values)
{
    char buffer[128];
    const int length = std::snprintf(buffer, sizeof buffer, format, values...);
    if (length < 0 || size_t(length) >= sizeof buffer)
        return Failed;
    return out.line(std::string_view(buffer, size_t(length)));
}

// Writes the given lines in order and stops at the first failure.
template<typename... Steps>
int32_t writeAll(Steps... steps)
{
    int32_t rc = 0;
    ((rc == 0 ? (rc = steps()) : rc), ...);
    return rc < 0 ? rc : 0;
}

// Points are stored newest first but written in the order they were added, so that reading a
// saved file gives back the same list: otherwise every save would turn the shape round and move
// the end pixel that a line leaves out.
int32_t writePoints(LineSink &out, const std::vector<ShapePoint> &points)
{
    for (auto p = points.rbegin(); p != points.rend(); ++p) {
        if (int32_t rc = writeLine(out, "\t\tPOINT\t%d\t%d", p->x, p->y); rc < 0)
            return rc;
    }
    return 0;
}

void report(Prompter *errors, const char *message)
{
    if (errors)
        errors->showError(message);
}

} // namespace

ImagePtr Shape::Transform(ImagePtr) const
{
    return nullptr;
}

int32_t Shape::Write(LineSink &) const
{
    return Failed;
}

void ShapeLine::addPoint(int32_t x, int32_t y)
{
    points.insert(points.begin(), ShapePoint{x, y});
    ++count;
}

void ShapeLine::addPoints(std::span<const ShapePoint> fileOrder)
{
    // One insertion at the head, newest first, instead of one per point.
    points.insert(points.begin(), fileOrder.rbegin(), fileOrder.rend());
    count += int32_t(std::min<size_t>(fileOrder.size(), size_t(INT32_MAX - count)));
}

int32_t ShapeLine::Draw(ShapeCanvas &canvas) const
{
    strokeOutline(canvas, points, width, false);
    return 0;
}

int32_t ShapeLine::Write(LineSink &out) const
{
    return writeAll([&] { return out.line(""); },
                    [&] { return out.line("\tLINE"); },
                    [&] { return out.line("\t{"); },
                    [&] { return writePoints(out, points); },
                    [&] { return writeLine(out, "\t\tWIDTH\t%d", width); },
                    [&] { return out.line("\t}"); });
}

std::unique_ptr<Shape> ShapeLine::clone() const
{
    return std::unique_ptr<Shape>(new (std::nothrow) ShapeLine(*this));
}

int32_t ShapePolygon::Draw(ShapeCanvas &canvas) const
{
    // The inside first, then the outline over it (a black brush leaves the inside as it is).
    if (fill == 1)
        fillPolygon(canvas, points);
    strokeOutline(canvas, points, width, true);
    return 0;
}

int32_t ShapePolygon::Write(LineSink &out) const
{
    return writeAll([&] { return out.line(""); },
                    [&] { return out.line("\tPOLYGON"); },
                    [&] { return out.line("\t{"); },
                    [&] { return writePoints(out, points); },
                    [&] { return writeLine(out, "\t\tWIDTH\t%d", width); },
                    [&] { return fill == 1 ? out.line("\t\tFILL") : 0; },
                    [&] { return out.line("\t}"); });
}

std::unique_ptr<Shape> ShapePolygon::clone() const
{
    return std::unique_ptr<Shape>(new (std::nothrow) ShapePolygon(*this));
}

int32_t ShapeEllipse::Draw(ShapeCanvas &canvas) const
{
    const int64_t l = std::min(left, right), r = std::max(left, right);
    const int64_t t = std::min(top, bottom), b = std::max(top, bottom);
    if (r - l < 1 || b - t < 1)
        return 0;
    // Doubled sizes keep the centre on the integer grid. The thin curve runs through the
    // centres of the outermost pixels (doubled radii r - l - 1 and b - t - 1); a pen of width
    // w covers the ring between that curve grown and shrunk by w / 2.
    const int64_t rx = r - l - 1, ry = b - t - 1;
    const int64_t pen = std::max<int32_t>(width, 1);
    const EllipseDisc outer{l, t, r, b, rx + pen, ry + pen};
    const EllipseDisc inner{l, t, r, b, rx - pen, ry - pen};
    const int64_t grow = (pen - 1) / 2 + 1;
    const int64_t x0 = std::max<int64_t>(l - grow, 0);
    const int64_t x1 = std::min<int64_t>(r + grow, canvas.width());
    const int64_t y0 = std::max<int64_t>(t - grow, 0);
    const int64_t y1 = std::min<int64_t>(b + grow, canvas.height());
    for (int64_t y = y0; y < y1; ++y) {
        for (int64_t x = x0; x < x1; ++x) {
            bool lit;
            if (pen == 1) {
                // One pixel: the pixels of the disc that touch its outside (4-neighbours), an
                // unbroken curve that spans exactly l..r-1 and t..b-1.
                lit = outer.contains(x, y)
                      && (fill == 1 || !outer.contains(x - 1, y) || !outer.contains(x + 1, y)
                          || !outer.contains(x, y - 1) || !outer.contains(x, y + 1));
            } else {
                lit = outer.contains(x, y) && (fill == 1 || !inner.contains(x, y));
            }
            if (lit)
                canvas.plot(int32_t(x), int32_t(y));
        }
    }
    return 0;
}

ImagePtr ShapeEllipse::Transform(ImagePtr layer) const
{
    if (!layer || angle % 360 == 0)
        return layer;
    const int64_t W = layer->width, H = layer->height;
    const int64_t cx = (int64_t(left) + right) / 2, cy = (int64_t(top) + bottom) / 2;
    // The ellipse centre's offset from the layer centre, turned the way RotateImage turns the
    // picture (by -angle in its sampling direction), in 22.10 fixed point.
    // -(angle % 360) rather than (-angle) % 360: the same turn, defined for INT32_MIN.
    const double a = double(-(angle % 360)) * std::numbers::pi / 180.0;
    const int64_t c = int64_t(std::trunc(std::cos(a) * 1024 + 0.5));
    const int64_t s = int64_t(std::trunc(std::sin(a) * 1024 + 0.5));
    const int64_t rx = ((cx - W / 2) * c - (cy - H / 2) * s) >> 10;
    const int64_t ry = ((cx - W / 2) * s + (cy - H / 2) * c) >> 10;

    // Opaque for the rotation (so the colour is not premultiplied away), transparent again
    // afterwards: the caller derives alpha from the drawn brightness.
    std::memset(layer->alpha.get(), 255, size_t(layer->alphaStride) * size_t(layer->height));
    ImagePtr rotated = RotateImage(layer.get(), angle);
    std::memset(layer->alpha.get(), 0, size_t(layer->alphaStride) * size_t(layer->height));
    if (!rotated)
        return nullptr;
    ImagePtr result = CreateImage(layer->width, layer->height);
    if (!result)
        return nullptr;
    const int64_t centreX = rotated->width / 2 + rx;
    const int64_t centreY = rotated->height / 2 + ry;
    DrawImage(*result, rotated.get(), int32_t(cx - centreX), int32_t(cy - centreY), BLEND_ALPHA);
    std::memset(result->alpha.get(), 0, size_t(result->alphaStride) * size_t(result->height));
    return result;
}

int32_t ShapeEllipse::Write(LineSink &out) const
{
    return writeAll(
        [&] { return out.line(""); },
        [&] { return out.line("\tELLIPSE"); },
        [&] { return out.line("\t{"); },
        [&] { return writeLine(out, "\t\tREGION\t%d\t%d\t%d\t%d", left, top, right, bottom); },
        [&] { return writeLine(out, "\t\tWIDTH\t%d", width); },
        [&] { return fill == 1 ? out.line("\t\tFILL") : 0; },
        [&] { return writeLine(out, "\t\tANGLE\t%d", angle); },
        [&] { return out.line("\t}"); });
}

std::unique_ptr<Shape> ShapeEllipse::clone() const
{
    return std::unique_ptr<Shape>(new (std::nothrow) ShapeEllipse(*this));
}

ImagePtr DrawShapesImage(int32_t width, int32_t height, const ShapeList &shapes, Colour line,
                         Colour background, Prompter *errors)
{
    static const char *const imageFailed = "画像の作成に失敗しました。";
    if (width <= 0 || height <= 0) {
        report(errors, "ビットマップの作成に失敗しました。");
        return nullptr;
    }
    ImagePtr result = CreateImage(width, height);
    auto covered = result ? std::unique_ptr<uint8_t[]>(new (std::nothrow)
                                                           uint8_t[size_t(result->alphaStride)
                                                                   * size_t(height)]())
                          : nullptr;
    if (!result || !covered) {
        report(errors, imageFailed);
        return nullptr;
    }

    for (const std::unique_ptr<Shape> &shape : shapes) {
        // A cancelled render drops its picture: no message.
        if (cancelRequested())
            return nullptr;
        if (!shape)
            continue;
        ImagePtr layer;
        {
            ShapeCanvas canvas(width, height);
            if (!canvas.isValid()) {
                report(errors, "ビットマップの作成に失敗しました。");
                return nullptr;
            }
            try {
                shape->Draw(canvas);
            } catch (const std::bad_alloc &) {
                report(errors, imageFailed);
                return nullptr;
            }
            layer = canvas.toImage();
            if (!layer) {
                report(errors, imageFailed);
                return nullptr;
            }
        }
        layer = shape->Transform(std::move(layer));
        if (!layer) {
            report(errors, imageFailed);
            return nullptr;
        }
        // Drawn brightness (the blue byte) becomes coverage: alpha = b x line alpha / 255.
        for (int32_t y = 0; y < height; ++y) {
            uint8_t *p = layer->row(y);
            uint8_t *a = layer->alphaRow(y);
            uint8_t *mark = covered.get() + (layer->alphaRow(y) - layer->alpha.get());
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t b = p[3 * x];
                if (b == 0)
                    continue;
                a[x] = uint8_t(b * line.alpha / 255);
                p[3 * x + 0] = line.blue;
                p[3 * x + 1] = line.green;
                p[3 * x + 2] = line.red;
                mark[x] = 1;
            }
        }
        DrawImage(*result, layer.get(), 0, 0, BLEND_ADD);
    }

    for (int32_t y = 0; y < height; ++y) {
        uint8_t *p = result->row(y);
        uint8_t *a = result->alphaRow(y);
        const uint8_t *mark = covered.get() + (result->alphaRow(y) - result->alpha.get());
        for (int32_t x = 0; x < width; ++x) {
            if (mark[x])
                continue;
            p[3 * x + 0] = background.blue;
            p[3 * x + 1] = background.green;
            p[3 * x + 2] = background.red;
            a[x] = background.alpha;
        }
    }
    return result;
}

} // namespace vorn
