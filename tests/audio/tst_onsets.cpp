// Onsets of generated songs whose hits are known, and taps snapped onto them.
#include "audio/onsets.h"

#include "support/beatsong.h"
#include "support/tempdir.h"
#include "support/wavclip.h"

#include <gtest/gtest.h>

namespace vorn {

TEST(Onsets, TapsNearAHitSnapOntoItAndOthersStay)
{
    // offBeatsQuiet: nothing sounds halfway between the beats.
    const struct { const char *name; test::BeatSongRecipe recipe; bool offBeatsQuiet; } cases[] = {
        {"kicks, 16-bit stereo", {120, 2, 16, 44100, 8, 0.8, false, false, 0.4}, true},
        {"kicks and hats, 8-bit mono", {100, 1, 8, 22050, 8, 0.8, true, false, 0.3}, false},
        {"kicks a few steps above silence, 8-bit stereo", {90, 2, 8, 44100, 8, 0.02, false, false, 0.5}, true},
    };
    test::TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const test::BeatSong song = test::beatSong(c.recipe);
        const auto clip = test::loadWav(dir.path() / "song.wav", song.wav);
        ASSERT_TRUE(clip);
        const std::vector<int32_t> onsets = findOnsets(OnsetSource::of(*clip));
        ASSERT_TRUE(std::is_sorted(onsets.begin(), onsets.end()));
        const int32_t window = clip->msToSampleFrames(40);
        const double beatMs = 60000.0 / c.recipe.bpm;
        for (double hit : song.beatsMs) {
            for (double jitter : {-30.0, -17.0, 0.0, 12.0, 30.0}) {
                const int32_t tap = clip->msToSampleFrames(int32_t(hit + jitter + 0.5));
                const int32_t snapped = nearestOnset(onsets, tap, window);
                ASSERT_GE(snapped, 0) << "beat " << hit << ", jitter " << jitter;
                EXPECT_NEAR(clip->sampleFramesToMs(snapped), hit, 2.0) << "jitter " << jitter;
            }
            if (c.offBeatsQuiet) {
                EXPECT_EQ(nearestOnset(onsets, clip->msToSampleFrames(int32_t(hit + beatMs / 2)), window), -1);
            }
        }
    }
    EXPECT_EQ(nearestOnset({}, 100, 40), -1);
}

} // namespace vorn
