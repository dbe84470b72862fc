// Tap calibration: the median offset of generated taps, and the refusals.
#include "timeline/tapcalibration.h"

#include "support/tempdir.h"
#include "support/wavclip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace vorn;

TEST(TapCalibration, MedianOffsetOrARefusal)
{
    const struct {
        const char *name;
        double offsetMs;
        double noiseMs;       // spread evenly over this either way, in a shuffled order
        int taps;             // on the first clicks, in order
        double firstFourMs;   // added to the first four taps (finding the beat)
        bool ok;
    } cases[] = {
        {"35 ms late, 15 ms of noise", 35, 15, 24, 0, true},
        {"20 ms early, 5 ms of noise", -20, 5, 24, 0, true},
        {"the first four taps are far off", 35, 15, 24, 250, true},
        {"scattered", 35, 90, 24, 0, false},
        {"too few", 35, 5, DroppedTaps + MinTaps - 1, 0, false},
        {"just enough", 35, 5, DroppedTaps + MinTaps, 0, true},
        {"an even count: the mean of the middle two", 35, 45, DroppedTaps + MinTaps, 0, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> taps;
        for (int i = 0; i < c.taps; ++i) {
            // 31 steps from -noise to +noise, visited in a scrambled order.
            const double n = ((i * 13) % 31 - 15) / 15.0 * c.noiseMs;
            taps.push_back(ClickTrack::clickMs(i) + c.offsetMs + n + (i < 4 ? c.firstFourMs : 0));
        }
        const Calibration result = calibrateTaps(taps);
        EXPECT_EQ(result.ok, c.ok) << result.refusal;
        EXPECT_EQ(result.refusal.empty(), c.ok);
        if (c.ok) {
            EXPECT_NEAR(result.offsetMs, c.offsetMs, 2.0);
        }
    }
}

// The track is a song the player loads, of the whole length, with a click starting on the
// sample of each click time.
TEST(TapCalibration, ClickTrackHasItsClicksWhereTheyAreCounted)
{
    const test::TempDir dir;
    const auto clip = test::loadWav(dir.path() / "clicks.wav", ClickTrack::wavBytes());
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->lengthMs(), ClickTrack::lengthMs());
    const int32_t frames = clip->streamLength();
    ASSERT_EQ(frames, int64_t(ClickTrack::lengthMs()) * ClickTrack::Rate / 1000);
    int onsets = 0;
    for (int32_t f = 1; f < frames; ++f) {
        if (clip->sampleAt(0, f) != 0 && clip->sampleAt(0, f - 1) == 0 && (f < 4 || clip->sampleAt(0, f - 2) == 0)) {
            EXPECT_EQ(f, int64_t(ClickTrack::clickMs(onsets)) * ClickTrack::Rate / 1000);
            ++onsets;
        }
    }
    EXPECT_EQ(onsets, ClickTrack::Count);
}
