// FILM: fields, copy, length, key frames and its lines.
#include "scenario/model/blocks/film.h"

#include "scenario/model/blocks/layout.h"

namespace vorn {

FilmBlock::FilmBlock() : Block(BlockKind::Film)
{
    color = Colour{80, 24, 0, 0};
}

// The strip pictures are not copied: the copy builds its own.
FilmBlock::FilmBlock(const FilmBlock &other)
    : Block(other),
      direction(other.direction),
      inputCount(other.inputCount),
      filmLength(other.filmLength)
{
}

FilmBlock::~FilmBlock() = default;

bool FilmBlock::isKeyFrame(int32_t frame)
{
    if (frame == 0 || frame == frames - 1)
        return true;
    // Key frames every half input interval; with too few inputs or frames for a non-zero
    // interval there are none besides the ends.
    if (inputCount < 2)
        return false;
    const int32_t interval = (frames / (inputCount - 1)) / 2;
    return interval > 0 && frame % interval == 0;
}

void FilmBlock::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    addKeyFrame(0, first, last, offset, out);
    addKeyFrame(int64_t(frames) - 1, first, last, offset, out);
    if (inputCount < 2)
        return;
    const int64_t interval = (frames / (inputCount - 1)) / 2;
    if (interval <= 0)
        return;
    for (int64_t frame = (first + interval - 1) / interval * interval; frame <= last;
         frame += interval)
        out.add(offset + frame);
}

int32_t FilmBlock::frameCount()
{
    return ownFrameCount(frames);
}

int32_t FilmBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    for (const auto &input : inputs)
        print(layout::inputLine(*input));
    if (const auto line = layout::directionLine(direction); !line.empty())
        print(line);
    print("\tCOLOR\t" + layout::rgbFields(color));
    print("\tBGCOLOR\t" + layout::rgbFields(bgColor));
    print("\tFRAMES\t\t" + num(frames));
    print("}");
    return print.result();
}

} // namespace vorn
