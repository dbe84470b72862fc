// Beat detection for a loaded song: libqm-dsp's TempoTrackV2 fed with the song's bass, so that
// the beats land on the kick a listener taps rather than on hi-hats or off-beat stabs.
#pragma once

#include <cstdint>
#include <vector>

namespace vorn {

class AudioClip;

struct BeatResult {
    double tempoBpm = 0;          // from the median interval between the beats; 0 without beats
    std::vector<int32_t> beatsMs; // song time at the file's own rate, ascending
};

// Analyses the whole clip (any rate, 8- or 16-bit, mono or stereo) and returns no beats for an
// unloaded or silent clip. The beats run from the first kick to the last: none are laid in the
// quiet before or after. Songs under about 3 s give too few kicks for a reliable tempo. The
// speed divisor does not matter. Reads the clip only; takes about 0.4 s for ten minutes. Work
// cancelled through the thread's CancelScope stops between steps and yields no beats.
BeatResult findBeats(const AudioClip &clip);

} // namespace vorn
