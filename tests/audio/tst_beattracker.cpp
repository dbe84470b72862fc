// Tests of findBeats on generated dance songs whose beats are known: every format the player
// loads, tempi from 70 to 180 BPM, quiet and loud, with hi-hats and loud off-beat stabs.
#include "audio/audioclip.h"
#include "audio/beattracker.h"
#include "base/cancel.h"
#include "support/datatable.h"
#include "support/beatsong.h"
#include "support/tempdir.h"
#include "support/wavclip.h"

#include <gtest/gtest.h>

#include <random>

namespace vorn {
namespace {

// The rows of data/trackersongs.tsv.
TEST(BeatTrackerTest, FindsTheKicksOfGeneratedSongs)
{
    const test::TempDir dir;
    for (const test::Row &row : test::readTable("tests/audio/data/trackersongs.tsv")) {
        SCOPED_TRACE(row[0]);
        auto number = [&](size_t i, double otherwise) { return row[i] == "-" ? otherwise : std::stod(row[i]); };
        const test::BeatSongRecipe recipe{number(1, 0), uint16_t(number(2, 0)), uint16_t(number(3, 0)),
                                          uint32_t(number(4, 0)), number(5, 0), number(6, 0), row[7] == "1",
                                          row[8] == "1", number(9, 0.4), number(10, 1e9)};
        const test::BeatSong song = test::beatSong(recipe);
        const auto clip = test::loadWav(dir.path() / "song.wav", song.wav);
        ASSERT_TRUE(clip);
        clip->setSpeed(int32_t(number(11, 1)));
        const BeatResult result = findBeats(*clip);
        EXPECT_GE(test::beatFMeasure(song.beatsMs, result.beatsMs, 70), 0.9)
            << "tempo " << result.tempoBpm << ", " << result.beatsMs.size() << " beats for " << song.beatsMs.size();
        EXPECT_NEAR(result.tempoBpm, recipe.bpm, 1.0);
        EXPECT_TRUE(std::is_sorted(result.beatsMs.begin(), result.beatsMs.end()));
        ASSERT_FALSE(result.beatsMs.empty());
        // The last beat found is the song's last, or the one before at the very end of a song.
        EXPECT_NEAR(result.beatsMs.back(), song.beatsMs.back(), 60000 / recipe.bpm + 70);
    }
}

// No song, silence, and a detection cancelled through the thread's flag on a song with beats
// give no beats; noise has onsets everywhere and a beat nowhere, and a confidence that tells
// the user to tap by hand.
TEST(BeatTrackerEdgeTest, NoBeatsWhereThereIsNoBeatToFind)
{
    AudioClip unloaded;
    EXPECT_TRUE(findBeats(unloaded).beatsMs.empty());
    const test::TempDir dir;
    const auto silence = test::loadWav(dir.path() / "song.wav", test::wavBytes({}, std::vector<uint8_t>(44100 * 4 * 5, 0)));
    ASSERT_TRUE(silence);
    const BeatResult result = findBeats(*silence);
    EXPECT_TRUE(result.beatsMs.empty());
    EXPECT_EQ(result.tempoBpm, 0);

    const auto song = test::loadWav(dir.path() / "song.wav", test::beatSong({120, 2, 16, 44100, 20, 0.9, true, false}).wav);
    ASSERT_TRUE(song);
    CancelFlag flag;
    flag.cancel();
    {
        const CancelScope scope(&flag);
        EXPECT_TRUE(findBeats(*song).beatsMs.empty());
    }
    EXPECT_FALSE(findBeats(*song).beatsMs.empty());

    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-8000, 8000);
    const auto noise = test::loadWav(dir.path() / "song.wav", test::wav16Bytes(2, 44100, 44100 * 12, [&](int, int32_t) {
        return int16_t(sample(random));
    }));
    ASSERT_TRUE(noise);
    EXPECT_LT(findBeats(*noise).confidence, 0.3);
}

} // namespace
} // namespace vorn
