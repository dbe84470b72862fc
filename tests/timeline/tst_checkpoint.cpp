// Checkpoint completion and the millisecond <-> video-frame rounding.
#include "timeline/checkpoint.h"

#include <gtest/gtest.h>

#include <limits>

using namespace vorn;

namespace {
constexpr int32_t Max = std::numeric_limits<int32_t>::max();
constexpr int32_t Min = std::numeric_limits<int32_t>::min();
} // namespace

// Each row converts ms to a frame and `frame` back to ms, and completes a record given only its
// time (giving `frame`) and one given only its frame (giving `msBack`); a rate that cannot
// convert gives 0 and leaves the records as they were.
TEST(Checkpoint, FramesRoundToNearestAndTheGivenFrameWins)
{
    const struct {
        int32_t ms, rate, scale, frame, msBack;
    } cases[] = {
        // 1.234 s * 29.97 = 36.98 -> 37; 37 frames = 1234.57 ms -> 1235.
        {1234, 2997, 100, 37, 1235},
        {0, 2997, 100, 0, 0},
        {1000, 30, 1, 30, 1000},
        // At 30 frames per second 550 ms is 16.5 frames and rounds up; 546 ms is 16.38.
        {550, 30, 1, 17, 567},
        {546, 30, 1, 16, 533},
        // Out-of-range results saturate.
        {Max, 1000000, 1, Max, 2147484},
        {Min, 1000000, 1, Min, -2147483},
        // Rates that cannot convert.
        {1234, 0, 100, 0, 0},
        {1234, 2997, 0, 0, 0},
        {1234, 0, 0, 0, 0},
        {1234, -30, 1, 0, 0},
        {1234, 30, -1, 0, 0},
    };
    const Colour green{0, 255, 0, 255};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.ms << " at " << c.rate << "/" << c.scale);
        const bool converts = c.rate > 0 && c.scale > 0;
        EXPECT_EQ(msToVideoFrame(c.ms, c.rate, c.scale), c.frame);
        const int32_t frame = converts ? c.frame : 37;
        EXPECT_EQ(videoFrameToMs(frame, c.rate, c.scale), c.msBack);
        Checkpoint timed{c.ms, -1, green};
        resolveCheckpoint(timed, c.rate, c.scale);
        EXPECT_EQ(timed, (Checkpoint{c.ms, converts ? c.frame : -1, green}));
        Checkpoint framed{5000, frame, green};  // a given frame overrides the time
        resolveCheckpoint(framed, c.rate, c.scale);
        EXPECT_EQ(framed, (Checkpoint{converts ? c.msBack : 5000, frame, green}));
    }
    EXPECT_EQ(videoFrameToMs(Max, 1, 1000000), Max);
    EXPECT_EQ(videoFrameToMs(Min, 1, 1000000), Min);
}
