// MarkStrips: checkpoints into and out of the strips, key-frame marks and the CHECKPOINT text.
#include "timeline/markstrips.h"

#include "audio/audioclip.h"
#include "base/saturate.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

namespace vorn {

std::optional<int32_t> keyFrameTimeMs(int32_t frame, int32_t frameRate, int32_t scale)
{
    if (frameRate <= 0 || scale <= 0)
        return std::nullopt;
    // frame * 1000 * scale passes int32 after about twelve minutes at SCALE 100, so the product
    // is formed in 64 bits. Where even that would overflow, the quotient is far beyond int32
    // (frameRate is at most 2^31 - 1) and saturates.
    const int64_t frameMs = int64_t(frame) * 1000;
    if (std::llabs(frameMs) > std::numeric_limits<int64_t>::max() / scale)
        return frameMs < 0 ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    return clampToInt32(frameMs * scale / frameRate);
}

MarkStrips::MarkStrips()
{
    for (int k = 0; k < StripCount; ++k)
        m_strips[size_t(k)].setColour(StripColours[size_t(k)]);
}

int MarkStrips::stripForColour(Colour colour)
{
    switch (colour.packedRgb()) {
    case 65280:
        return 1;
    case 65535:
        return 0;
    default:
        return 2;
    }
}

void MarkStrips::addCheckpoints(std::span<const Checkpoint> checkpoints, const AudioClip &song)
{
    for (const Checkpoint &checkpoint : checkpoints)
        strip(stripForColour(checkpoint.colour))
            .addMark(checkpoint.time, song.msToSampleFrames(checkpoint.time));
}

void MarkStrips::rebuildKeyFrameMarks(TimeLine &timeLine, std::span<const int32_t> keyFrames,
                                      int32_t frameRate, int32_t scale, const AudioClip *song)
{
    MarkStrip &marks = strip(KeyFrameStrip);
    marks.clear(timeLine);
    const bool withSong = song && song->isLoaded();
    for (const int32_t f : keyFrames) {
        const std::optional<int32_t> time = keyFrameTimeMs(f, frameRate, scale);
        if (withSong) {
            if (time)
                marks.addMark(*time, song->msToSampleFrames(*time));
        } else {
            marks.addMark(time.value_or(0), f);
        }
    }
}

unsigned MarkStrips::removeHoveredMark()
{
    unsigned repaint = 0;
    for (int k = 0; k < WrittenStripCount; ++k) {
        if (strip(k).removeHoveredMark())
            repaint |= 1u << k;
    }
    return repaint;
}

void MarkStrips::clearAll(TimeLine &timeLine)
{
    for (MarkStrip &s : m_strips)
        s.clear(timeLine);
}

std::string MarkStrips::buildCheckpointText(int32_t frameRate, int32_t scale) const
{
    std::vector<Mark> marks;
    for (int k = 0; k < WrittenStripCount; ++k) {
        const std::vector<Mark> &stripMarks = strip(k).marks();
        marks.insert(marks.end(), stripMarks.begin(), stripMarks.end());
    }
    std::stable_sort(marks.begin(), marks.end(),
                     [](const Mark &a, const Mark &b) { return a.time < b.time; });

    std::string text = "CHECKPOINT\r\n{\r\n";
    char line[96];
    for (const Mark &mark : marks) {
        std::snprintf(line, sizeof line, "\tCF\t%d\t%d\t%d\t%d\t# %d\r\n",
                      int(msToVideoFrame(mark.time, frameRate, scale)), int(mark.colour.red),
                      int(mark.colour.green), int(mark.colour.blue), int(mark.time));
        text += line;
    }
    text += "}\r\n";
    return text;
}

MarkClicks MarkStrips::clickPositions() const
{
    MarkClicks clicks;
    for (int k = 0; k < WrittenStripCount; ++k)
        for (const Mark &mark : m_strips[size_t(k)].marks())
            clicks.positions[size_t(k)].push_back(mark.position);
    clicks.sort();
    return clicks;
}

} // namespace vorn
