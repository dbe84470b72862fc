// Tests of findBeats on generated dance songs whose beats are known: every format the player
// loads, tempi from 70 to 180 BPM, quiet and loud, with hi-hats and loud off-beat stabs.
#include "audio/audioclip.h"
#include "audio/beattracker.h"
#include "base/cancel.h"
#include "support/beatsong.h"
#include "support/tempdir.h"
#include "support/wavclip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace vorn {
namespace {

struct SongRow {
    const char *name;
    test::BeatSongRecipe recipe;  // bpm, channels, bits, rate, seconds, level, hats, stabs, first and last beat
    int32_t speedDivisor = 1;
};

constexpr double Loud = 0.9;
constexpr double Quiet = 0.03;

const SongRow Songs[] = {
    {"Bpm70Stereo16Bit44kLoudHats", {70, 2, 16, 44100, 20, Loud, true, false}},
    {"Bpm70Mono8Bit22kLoudStabs", {70, 1, 8, 22050, 20, Loud, true, true}},
    {"Bpm84Stereo8Bit44kQuietStabs", {84, 2, 8, 44100, 20, Quiet, true, true}},
    {"Bpm97Mono16Bit22kQuietHats", {97, 1, 16, 22050, 20, Quiet, true, false}},
    {"Bpm124Mono16Bit44kLoudKickOnly", {124, 1, 16, 44100, 20, Loud, false, false}},
    {"Bpm128Stereo16Bit44kLoudStabs", {128, 2, 16, 44100, 20, Loud, true, true}},
    {"Bpm163Stereo16Bit44kQuietStabs", {163, 2, 16, 44100, 20, Quiet, true, true}},
    {"Bpm180Mono8Bit22kLoudStabs", {180, 1, 8, 22050, 20, Loud, true, true}},
    // Played at quarter speed, the song's times stay those of the file's own rate.
    {"Bpm128QuarterSpeed", {128, 2, 16, 44100, 20, Loud, true, true}, 4},
    // Six seconds of silence after the last beat: the tracker lays none there.
    {"Bpm120SilentEnd", {120, 2, 16, 44100, 20, Loud, true, true, 0.4, 14}},
    // Shorter than the tracker's six-second tempo window.
    {"Bpm120FourSeconds", {120, 2, 16, 44100, 4, Loud, true, true}},
};

// Failures name the row, not its bytes.
void PrintTo(const SongRow &row, std::ostream *out)
{
    *out << row.name;
}

class BeatTrackerTest : public ::testing::TestWithParam<SongRow> {};

TEST_P(BeatTrackerTest, FindsTheKicks)
{
    const SongRow &row = GetParam();
    const test::BeatSong song = test::beatSong(row.recipe);
    const test::TempDir dir;
    const auto clip = test::loadWav(dir.path() / "song.wav", song.wav);
    ASSERT_TRUE(clip);
    clip->setSpeed(row.speedDivisor);
    const BeatResult result = findBeats(*clip);
    EXPECT_GE(test::beatFMeasure(song.beatsMs, result.beatsMs, 70), 0.9)
        << "tempo " << result.tempoBpm << ", " << result.beatsMs.size() << " beats for " << song.beatsMs.size();
    EXPECT_NEAR(result.tempoBpm, row.recipe.bpm, 1.0);
    EXPECT_TRUE(std::is_sorted(result.beatsMs.begin(), result.beatsMs.end()));
    ASSERT_FALSE(result.beatsMs.empty());
    // The last beat found is the song's last, or the one before at the very end of a song.
    EXPECT_NEAR(result.beatsMs.back(), song.beatsMs.back(), 60000 / row.recipe.bpm + 70);
}

INSTANTIATE_TEST_SUITE_P(GeneratedSongs, BeatTrackerTest, ::testing::ValuesIn(Songs),
                         [](const ::testing::TestParamInfo<SongRow> &info) { return std::string(info.param.name); });

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

    const auto song = test::loadWav(dir.path() / "song.wav", test::beatSong({120, 2, 16, 44100, 20, Loud, true, false}).wav);
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
    std::vector<uint8_t> data;
    for (int i = 0; i < 44100 * 2 * 12; ++i)
        test::putU16(data, uint16_t(int16_t(sample(random))));
    const auto noise = test::loadWav(dir.path() / "song.wav", test::wavBytes({}, data));
    ASSERT_TRUE(noise);
    EXPECT_LT(findBeats(*noise).confidence, 0.3);
}

} // namespace
} // namespace vorn
