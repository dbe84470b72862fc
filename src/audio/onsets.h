// Onsets: where notes and hits start in a song, for snapping taps to what the song plays.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vorn {

class AudioClip;

// A song's samples as the detector reads them: taken from a loaded clip on the thread that
// owns it, so that the detector never reads the clip's format while the speed is changed.
struct OnsetSource {
    const uint8_t *samples = nullptr;  // must stay as they are while the detector runs
    int32_t bytes = 0;
    int32_t channels = 0;
    int32_t bitsPerSample = 0;         // 8 (unsigned) or 16
    uint32_t samplesPerSec = 0;

    static OnsetSource of(const AudioClip &song);
};

// The sample frames at which the song's loudness jumps: the energy of each 128-frame hop
// against the mean of the four before it, a rise of at least 6 dB over a floor 60 dB below
// full scale, the strongest rise within 50 ms kept, placed on the first frame that stands out.
// Ascending. Any thread; a few hundred ms of CPU per minute of song.
std::vector<int32_t> findOnsets(const OnsetSource &song);

// The onset nearest to `position` within `window` frames either way, or -1 when none is.
int32_t nearestOnset(std::span<const int32_t> onsets, int32_t position, int32_t window);

} // namespace vorn
