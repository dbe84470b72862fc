// DRAW: fields, copy (with its own shapes), length, key frames and its lines.
#include "scenario/model/blocks/draw.h"

#include "scenario/model/blocks/layout.h"

namespace vorn {

DrawBlock::DrawBlock() : Block(BlockKind::Draw) {}

// Shapes are copied deeply; the picture is left absent.
DrawBlock::DrawBlock(const DrawBlock &other) : Block(other), size(other.size)
{
    shapes.reserve(other.shapes.size());
    for (const auto &shape : other.shapes)
        shapes.push_back(shape->clone());
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
