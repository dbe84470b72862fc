// Checkpoint completion and the millisecond <-> video-frame rounding.
#include "timeline/checkpoint.h"

#include "support/datatable.h"

#include <gtest/gtest.h>

#include <limits>

using namespace vorn;

// Each row of data/checkpoints.tsv converts ms to a frame and the frame back to ms, and
// completes a record given only its time (giving the frame) and one given only its frame
// (giving the ms back); a rate that cannot convert leaves the records as they were.
TEST(Checkpoint, FramesRoundToNearestAndTheGivenFrameWins)
{
    const Colour green{0, 255, 0, 255};
    for (const test::Row &row : test::readTable("tests/timeline/data/checkpoints.tsv")) {
        const int32_t ms = std::stoi(row[0]), rate = std::stoi(row[1]), scale = std::stoi(row[2]);
        const int32_t frameOut = std::stoi(row[3]), msBack = std::stoi(row[4]);
        SCOPED_TRACE(testing::Message() << ms << " at " << rate << "/" << scale);
        const bool converts = rate > 0 && scale > 0;
        EXPECT_EQ(msToVideoFrame(ms, rate, scale), frameOut);
        const int32_t frame = converts ? frameOut : 37;
        EXPECT_EQ(videoFrameToMs(frame, rate, scale), msBack);
        Checkpoint timed{ms, -1, green};
        resolveCheckpoint(timed, rate, scale);
        EXPECT_EQ(timed, (Checkpoint{ms, converts ? frameOut : -1, green}));
        Checkpoint framed{5000, frame, green};  // a given frame overrides the time
        resolveCheckpoint(framed, rate, scale);
        EXPECT_EQ(framed, (Checkpoint{converts ? msBack : 5000, frame, green}));
    }
    constexpr int32_t Max = std::numeric_limits<int32_t>::max(), Min = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(videoFrameToMs(Max, 1, 1000000), Max);
    EXPECT_EQ(videoFrameToMs(Min, 1, 1000000), Min);
}
