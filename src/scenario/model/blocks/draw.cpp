// DRAW: fields, copy (with its own shapes), length, key frames and its lines.
#include "scenario/model/blocks/draw.h"

#include "scenario/model/blocks/layout.h"

#include <new>

namespace vorn {

DrawBlock::DrawBlock() : Block(BlockKind::Draw) {}

// Shapes are copied deeply; the picture is left absent.
DrawBlock::DrawBlock(const DrawBlock &other) : Block(other), size(other.size)
{
    shapes.reserve(other.shapes.size());
    for (const auto &shape : other.shapes) {
        auto copy = shape->clone();
        if (!copy)
            throw std::bad_alloc();  // the copy fails as a whole rather than lose a shape
        shapes.push_back(std::move(copy));
    }
}

DrawBlock::~DrawBlock() = default;

bool DrawBlock::isKeyFrame(int32_t)
{
    return true;
}

int32_t DrawBlock::frameCount()
{
    return cacheFrameCount(0);
}

int32_t DrawBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    print("\tSIZE\t\t" + num(size.width) + "\t" + num(size.height));
    print("\tCOLOR\t" + layout::rgbFields(color) + "\t" + num(color.alpha));
    for (const auto &shape : shapes)
        print.merge(shape->Write(out));
    print("}");
    return print.result();
}

} // namespace vorn
