// Checkpoint completion and the millisecond <-> video-frame rounding.
#include "timeline/checkpoint.h"

#include <gtest/gtest.h>

#include <limits>

using namespace vorn;

namespace {
constexpr int32_t Int32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t Int32Min = std::numeric_limits<int32_t>::min();
} // namespace

TEST(Checkpoint, FramesRoundToNearest)
{
    const struct {
        int32_t ms, frame, rate, scale, msBack;
    } cases[] = {
        // 1.234 s * 29.97 = 36.98 -> 37; 37 frames = 1234.57 ms -> 1235.
        {1234, 37, 2997, 100, 1235},
        {0, 0, 2997, 100, 0},
        {1000, 30, 30, 1, 1000},
        // At 30 frames per second 550 ms is 16.5 frames and rounds up; 546 ms is 16.38.
        {550, 17, 30, 1, 567},
        {546, 16, 30, 1, 533},
        // Out-of-range results saturate.
        {Int32Max, Int32Max, 1000000, 1, 2147484},
        {Int32Min, Int32Min, 1000000, 1, -2147483},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(msToVideoFrame(c.ms, c.rate, c.scale), c.frame) << c.ms;
        EXPECT_EQ(videoFrameToMs(c.frame, c.rate, c.scale), c.msBack) << c.frame;
    }
    EXPECT_EQ(videoFrameToMs(Int32Max, 1, 1000000), Int32Max);
    EXPECT_EQ(videoFrameToMs(Int32Min, 1, 1000000), Int32Min);
}

TEST(Checkpoint, GivenFrameWinsOverTime)
{
    Checkpoint cf{5000, 37, {0, 255, 0, 255}};
    resolveCheckpoint(cf, 2997, 100);
    EXPECT_EQ(cf.frame, 37);
    EXPECT_EQ(cf.time, 1235);
    EXPECT_EQ(cf.colour, (Colour{0, 255, 0, 255}));

    Checkpoint ct{1234, -1, {}};
    resolveCheckpoint(ct, 2997, 100);
    EXPECT_EQ(ct.frame, 37);
    EXPECT_EQ(ct.time, 1234);

    // Written back as CF 37 and read again, the time becomes 1235.
    Checkpoint reread{-1, ct.frame, {}};
    resolveCheckpoint(reread, 2997, 100);
    EXPECT_EQ(reread.time, 1235);

    // A time out of range saturates.
    Checkpoint far{-1, Int32Max, {}};
    resolveCheckpoint(far, 1, Int32Max);
    EXPECT_EQ(far.time, Int32Max);
}

TEST(Checkpoint, RateThatCannotConvertLeavesRecordAndGivesZero)
{
    for (auto [rate, scale] : {std::pair{0, 100}, {2997, 0}, {0, 0}, {-30, 1}, {30, -1}}) {
        SCOPED_TRACE(testing::Message() << rate << "/" << scale);
        Checkpoint ct{1234, -1, {}};
        resolveCheckpoint(ct, rate, scale);
        EXPECT_EQ(ct, (Checkpoint{1234, -1, {}}));
        Checkpoint cf{-1, 37, {}};
        resolveCheckpoint(cf, rate, scale);
        EXPECT_EQ(cf, (Checkpoint{-1, 37, {}}));
        EXPECT_EQ(msToVideoFrame(1234, rate, scale), 0);
        EXPECT_EQ(videoFrameToMs(37, rate, scale), 0);
    }
}
