// Checkpoint time / video-frame completion and the millisecond <-> video-frame rounding.
#include "timeline/checkpoint.h"

#include "base/saturate.h"

namespace vorn {

namespace {
bool rateConverts(int32_t frameRate, int32_t scale)
{
    return frameRate > 0 && scale > 0;
}
} // namespace

// The operations are evaluated left to right exactly as written, so that values that fall
// near .5 round the same way in every place that converts.
int32_t msToVideoFrame(int32_t ms, int32_t frameRate, int32_t scale)
{
    if (!rateConverts(frameRate, scale))
        return 0;
    return truncToInt32(ms / 1000.0 * frameRate / scale + 0.5);
}

int32_t videoFrameToMs(int32_t frame, int32_t frameRate, int32_t scale)
{
    if (!rateConverts(frameRate, scale))
        return 0;
    return truncToInt32(frame * 1000.0 * scale / frameRate + 0.5);
}

void resolveCheckpoint(Checkpoint &checkpoint, int32_t frameRate, int32_t scale)
{
    if (!rateConverts(frameRate, scale))
        return;
    if (checkpoint.frame != -1)
        checkpoint.time = videoFrameToMs(checkpoint.frame, frameRate, scale);
    else
        checkpoint.frame = msToVideoFrame(checkpoint.time, frameRate, scale);
}

} // namespace vorn
