// Row walk of the waveform strip over AudioClip::rowEnvelope.
#include "timeline/waveformrows.h"

#include "audio/audioclip.h"
#include "base/saturate.h"

#include <algorithm>

namespace vorn {

int32_t waveformCentreX(int channel, int channelCount, int32_t width)
{
    if (channelCount == 1)
        return width / 2;
    return channel == 0 ? width / 4 : clampToInt32(int64_t(width) * 3 / 4);
}

std::vector<int32_t> waveformCentreLines(int channelCount, int32_t width)
{
    if (channelCount == 1)
        return {width / 2};
    return {waveformCentreX(0, 2, width), waveformCentreX(1, 2, width)};
}

WaveformRows waveformRows(const AudioClip &song, const StripView &view)
{
    WaveformRows result;
    if (!song.isLoaded() || view.height < 1 || view.span < 1 || view.top < 0)
        return result;
    result.channelCount = std::clamp(song.channels(), 0, 2);
    result.samplesPerRow = std::max(view.span / view.height, 1);
    // Reading about a hundred frames per row keeps the cost of a strip independent of the zoom.
    result.step = std::max(result.samplesPerRow / 100, 1);

    const int64_t end64 = int64_t(view.top) + view.span;
    const int32_t end = clampToInt32(end64);
    std::array<int32_t, 2> centre{};
    for (int c = 0; c < result.channelCount; ++c)
        centre[size_t(c)] = waveformCentreX(c, result.channelCount, view.width);

    result.rows.reserve(size_t((int64_t(view.span) + result.samplesPerRow - 1) / result.samplesPerRow));
    for (int64_t p = view.top; p < end; p += result.samplesPerRow) {
        WaveformRow row;
        row.y = view.posToY(int32_t(p));
        for (int c = 0; c < result.channelCount; ++c) {
            const AudioClip::Envelope envelope = song.rowEnvelope(
                int32_t(p), result.samplesPerRow, result.step, end, view.width, c);
            row.xFrom[size_t(c)] = clampToInt32(int64_t(centre[size_t(c)]) + envelope.positive);
            row.xTo[size_t(c)] = clampToInt32(int64_t(centre[size_t(c)]) + envelope.negative);
        }
        result.rows.push_back(row);
    }
    return result;
}

} // namespace vorn
