// Beat detection for a loaded song: the beat a listener taps, from onsets over several bands, a
// tempo followed through the song, and libqm-dsp's TempoTrackV2 to place the beats.
#pragma once

#include <cstdint>
#include <vector>

namespace vorn {

class AudioClip;

struct BeatResult {
    double tempoBpm = 0;          // from the median interval between the beats; 0 without beats
    std::vector<int32_t> beatsMs; // song time at the file's own rate, ascending
    double confidence = 0;        // 0 (guesswork: better tapped by hand) to 1 (beats on clear onsets)
};

// Analyses the whole clip (any rate, 8- or 16-bit, mono or stereo) and returns no beats for an
// unloaded or silent clip. The beats run from the first onset to the last: none are laid in the
// quiet before or after. Songs under about 3 s give too few kicks for a reliable tempo. The
// speed divisor does not matter. Reads the clip only; takes well under a second for ten minutes.
// Work cancelled through the thread's CancelScope stops between steps and yields no beats.
BeatResult findBeats(const AudioClip &clip);

} // namespace vorn
