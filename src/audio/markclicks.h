// MarkClicks: short clicks at the user's marks, mixed into the engine's output blocks.
#pragma once

#include "audio/sounddevice.h"

#include <array>
#include <cstdint>
#include <vector>

namespace vorn {

// Where the clicks go: for each of the three mark strips, the marks' sample frames in
// ascending order. One timbre per strip: strip 0 the highest, strip 2 the lowest.
struct MarkClicks {
    static constexpr int StripCount = 3;
    std::array<std::vector<int32_t>, StripCount> positions;

    // Sorts each strip's positions (they arrive in the order the marks were made).
    void sort();
};

// The click of each strip: a cosine burst that starts at its full height on the mark's own
// sample and dies away within ClickMs of listening time. Its pitch and length are given in
// listening time, so at half or quarter speed (the device playing the song's samples slower)
// it is written shorter in song samples and higher, and sounds the same.
constexpr double ClickMs = 12.0;
constexpr double ClickLevel = 0.2;  // of full scale: heard over the song, not masking it
constexpr std::array<double, MarkClicks::StripCount> ClickHz{{2000.0, 1400.0, 1000.0}};

// Mixes into `block` (`bytes` of `format`'s samples, holding song frames from `firstFrame` on)
// every click that sounds within it, also those of marks just before it whose click has not
// died away yet; `songRate` is the song's own frames per second and `divisor` the speed. Sums
// saturate at full scale. Runs on the engine thread while it fills a block: no allocation.
void MixMarkClicks(uint8_t *block, int32_t bytes, int32_t firstFrame, const MarkClicks &clicks,
                   const SoundFormat &format, uint32_t songRate, int32_t divisor);

} // namespace vorn
