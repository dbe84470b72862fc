// The waveform strip's geometry: which horizontal lines show the song's envelope, and where the
// channel centre lines stand.
#pragma once

#include "timeline/timeline.h"

#include <array>
#include <cstdint>
#include <vector>

namespace vorn {

class AudioClip;

// One pixel row of the envelope: per channel a horizontal line at y from x = xFrom (centre +
// positive pixels) to x = xTo (centre + negative pixels). Only channels < channelCount are set.
struct WaveformRow {
    int32_t y = 0;
    std::array<int32_t, 2> xFrom{};
    std::array<int32_t, 2> xTo{};
};

struct WaveformRows {
    int channelCount = 0;
    int32_t samplesPerRow = 0;  // spp: span / height, at least 1
    int32_t step = 0;           // every step-th frame is read: spp / 100, at least 1
    std::vector<WaveformRow> rows;
};

// x of a channel's centre line: width / 4 and 3 * width / 4 for a stereo song, width / 2 for mono.
int32_t waveformCentreX(int channel, int channelCount, int32_t width);

// The centre lines to draw (vertical, y 0 to height): one at width / 2 for a mono song, two at
// width / 4 and 3 * width / 4 when the song is stereo or none is loaded (channelCount 0).
std::vector<int32_t> waveformCentreLines(int channelCount, int32_t width);

// Walks the visible stretch [view.top, view.top + view.span) of a loaded song in rows of spp
// frames: a row starts at every p = top + n * spp below top + span, is drawn at posToY(p), and
// reads every step-th frame of the row through AudioClip::rowEnvelope. Rows past the bottom
// edge are included (drawing clips them). No rows when the song is not loaded, the height or
// span is below 1, or top is negative.
WaveformRows waveformRows(const AudioClip &song, const StripView &view);

} // namespace vorn
