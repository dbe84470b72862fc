// Checkpoint: a scenario's CHECKPOINT entry, and the rule that completes its time or frame.
#pragma once

#include "base/geometry.h"

#include <cstdint>

namespace vorn {

struct Checkpoint {
    int32_t time = -1;   // milliseconds; -1 when not given
    int32_t frame = -1;  // video frame; -1 when not given
    Colour colour{255, 255, 255, 255};
    friend bool operator==(const Checkpoint &, const Checkpoint &) = default;
};

// Completes a checkpoint from the scenario's frame rate (frames per second = frameRate / scale):
// a given frame wins and sets the time; otherwise the time sets the frame. A frame rate or
// scale of 0 (or below) cannot convert: the missing value is then left as it is (-1).
void resolveCheckpoint(Checkpoint &checkpoint, int32_t frameRate, int32_t scale);

// Video frames and milliseconds at frameRate / scale frames per second, rounded to the nearest
// integer; 0 when the rate cannot convert (frameRate or scale <= 0).
int32_t msToVideoFrame(int32_t ms, int32_t frameRate, int32_t scale);
int32_t videoFrameToMs(int32_t frame, int32_t frameRate, int32_t scale);

} // namespace vorn
