// The vector shapes of a DRAW block (line, polygon, ellipse): their fields, how each draws
// itself white on black, the ellipse's rotation, and the lines each writes back.
#pragma once

#include "base/geometry.h"
#include "imaging/imagebuffer.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vorn {

class LineSink;
class Prompter;
class ShapeCanvas;

// One point of a line or polygon, in whole pixels of the DRAW block's picture.
struct ShapePoint {
    int32_t x = 0;
    int32_t y = 0;
    friend constexpr bool operator==(const ShapePoint &, const ShapePoint &) = default;
};

// Base of the shapes. Shapes are plain values built by the scenario reader and owned by their
// DRAW block; drawing never changes them, so one shape may be drawn from any thread while no
// thread edits it.
class Shape {
public:
    virtual ~Shape() = default;

    // Draws the shape in white (with its pen and, when filled, a white brush) onto a canvas
    // that starts black, with the pixel geometry of the classic Windows drawing calls (see
    // shapes.cpp). Returns 0.
    virtual int32_t Draw(ShapeCanvas &canvas) const = 0;
    // Turns a drawn layer into its final form. Returns the same layer when nothing changes,
    // a new one (the old one is dropped) when it does, or none when memory runs out.
    virtual ImagePtr Transform(ImagePtr layer) const;
    // Writes the shape's lines (an empty line, the keyword, the braced body) as Shift-JIS
    // bytes. 0, or the sink's negative code. The base writes nothing and returns -1.
    virtual int32_t Write(LineSink &out) const;
    // A deep copy of the same kind (a copied DRAW block owns its own shapes).
    virtual std::unique_ptr<Shape> clone() const = 0;

protected:
    Shape() = default;
    Shape(const Shape &) = default;
    Shape &operator=(const Shape &) = default;
};

// The shapes of a DRAW block, drawn and written in this order.
using ShapeList = std::vector<std::unique_ptr<Shape>>;

// An open polyline through its points. `points` holds the most recently added point first:
// that is the order in which they are drawn and written, the reverse of the file's order.
class ShapeLine : public Shape {
public:
    int32_t width = 0;   // pen width in pixels; 0 and 1 both give the one-pixel pen
    int32_t count = 0;   // points added (a RECT counts points it does not store)
    std::vector<ShapePoint> points;

    // Makes (x, y) the new head of `points` and increments `count`.
    void addPoint(int32_t x, int32_t y);
    // As addPoint for each of `fileOrder` in turn, in time linear in the points: a reader
    // collects a shape's points and adds them at once.
    void addPoints(std::span<const ShapePoint> fileOrder);

    int32_t Draw(ShapeCanvas &canvas) const override;
    int32_t Write(LineSink &out) const override;
    std::unique_ptr<Shape> clone() const override;
    ImagePtr Transform(ImagePtr layer) const override { return layer; }
};

// A closed polygon (POLYGON, and RECT read as four corners). Filled white when `fill` is 1,
// otherwise only its outline is drawn.
class ShapePolygon : public ShapeLine {
public:
    int32_t fill = 0;

    int32_t Draw(ShapeCanvas &canvas) const override;
    int32_t Write(LineSink &out) const override;
    std::unique_ptr<Shape> clone() const override;
};

// An ellipse inscribed in the region (left, top) .. (right, bottom), right and bottom just
// outside it (width right - left pixels), turned by `angle` degrees about the region's centre.
class ShapeEllipse : public Shape {
public:
    int32_t width = 1;   // pen width in pixels
    int32_t fill = 0;
    int32_t angle = 0;   // degrees; a positive angle turns counter-clockwise on screen
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Draw(ShapeCanvas &canvas) const override;
    // With angle mod 360 = 0 returns the layer itself; otherwise a new layer of the same size
    // in which the drawing is turned about the ellipse's centre (none when memory runs out).
    ImagePtr Transform(ImagePtr layer) const override;
    int32_t Write(LineSink &out) const override;
    std::unique_ptr<Shape> clone() const override;
};

// The picture of a DRAW block: each shape is drawn into a layer of its own, turned by its
// Transform, coloured with `line` (alpha = drawn brightness x line alpha / 255) and added onto
// the result, so overlapping shapes add their colours (saturating) and keep the larger alpha.
// Pixels no shape touched get `background` with its alpha. New picture owned by the caller;
// none for a size of 0 or less, too large a picture, or a drawing failure, which is reported
// through `errors` (may be null) with the message the user sees. Draws without fonts, so it
// needs no QGuiApplication and may run on any thread.
ImagePtr DrawShapesImage(int32_t width, int32_t height, const ShapeList &shapes, Colour line,
                         Colour background, Prompter *errors);

} // namespace vorn
