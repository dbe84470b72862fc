// Tests of findBeats on generated dance songs whose beats are known: every format the player
// loads, tempi from 70 to 180 BPM, quiet and loud, with hi-hats and loud off-beat stabs.
#include "audio/audioclip.h"
#include "audio/beattracker.h"
#include "base/cancel.h"
#include "support/beatsong.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace vorn {
namespace {

using test::BeatSongRecipe;

struct SongRow {
    const char *name;
    BeatSongRecipe recipe;
    int32_t speedDivisor = 1;
};

BeatSongRecipe recipe(double bpm, uint16_t channels, uint16_t bits, uint32_t rate, double level, bool hats, bool stabs)
{
    BeatSongRecipe s;
    s.bpm = bpm;
    s.channels = channels;
    s.bitsPerSample = bits;
    s.samplesPerSec = rate;
    s.level = level;
    s.hats = hats;
    s.offbeatStabs = stabs;
    return s;
}

BeatSongRecipe shortSong(BeatSongRecipe s, double seconds)
{
    s.seconds = seconds;
    return s;
}

constexpr double Loud = 0.9;
constexpr double Quiet = 0.03;

const SongRow Songs[] = {
    {"Bpm70Stereo16Bit44kLoudHats", recipe(70, 2, 16, 44100, Loud, true, false)},
    {"Bpm70Mono8Bit22kLoudStabs", recipe(70, 1, 8, 22050, Loud, true, true)},
    {"Bpm84Stereo8Bit44kQuietStabs", recipe(84, 2, 8, 44100, Quiet, true, true)},
    {"Bpm97Mono16Bit22kQuietHats", recipe(97, 1, 16, 22050, Quiet, true, false)},
    {"Bpm110Stereo16Bit22kLoudStabs", recipe(110, 2, 16, 22050, Loud, true, true)},
    {"Bpm124Mono16Bit44kLoudKickOnly", recipe(124, 1, 16, 44100, Loud, false, false)},
    {"Bpm128Stereo16Bit44kLoudStabs", recipe(128, 2, 16, 44100, Loud, true, true)},
    {"Bpm140Mono8Bit44kLoudHats", recipe(140, 1, 8, 44100, Loud, true, false)},
    {"Bpm150Stereo8Bit22kLoudStabs", recipe(150, 2, 8, 22050, Loud, true, true)},
    {"Bpm163Stereo16Bit44kQuietStabs", recipe(163, 2, 16, 44100, Quiet, true, true)},
    {"Bpm174Mono16Bit22kLoudStabs", recipe(174, 1, 16, 22050, Loud, true, true)},
    {"Bpm180Stereo16Bit44kLoudHats", recipe(180, 2, 16, 44100, Loud, true, false)},
    {"Bpm180Mono8Bit22kLoudStabs", recipe(180, 1, 8, 22050, Loud, true, true)},
    // Played at quarter speed, the song's times stay those of the file's own rate.
    {"Bpm128QuarterSpeed", recipe(128, 2, 16, 44100, Loud, true, true), 4},
    // Shorter than the tracker's six-second tempo window.
    {"Bpm120FourSeconds", shortSong(recipe(120, 2, 16, 44100, Loud, true, true), 4)},
};

// Failures name the row, not its bytes.
void PrintTo(const SongRow &row, std::ostream *out)
{
    *out << row.name;
}

class BeatTrackerTest : public ::testing::TestWithParam<SongRow> {
protected:
    test::TempDir m_dir;
};

TEST_P(BeatTrackerTest, FindsTheKicks)
{
    const SongRow &row = GetParam();
    const test::BeatSong song = test::beatSong(row.recipe);
    const auto path = m_dir.path() / "song.wav";
    test::writeFile(path, song.wav);
    AudioClip clip;
    clip.setPath(path);
    ASSERT_TRUE(clip.load());
    clip.setSpeed(row.speedDivisor);

    const BeatResult result = findBeats(clip);
    EXPECT_GE(test::beatFMeasure(song.beatsMs, result.beatsMs, 70), 0.9)
        << "tempo " << result.tempoBpm << ", " << result.beatsMs.size() << " beats for "
        << song.beatsMs.size();
    EXPECT_NEAR(result.tempoBpm, row.recipe.bpm, 1.0);
    EXPECT_TRUE(std::is_sorted(result.beatsMs.begin(), result.beatsMs.end()));
}

INSTANTIATE_TEST_SUITE_P(GeneratedSongs, BeatTrackerTest, ::testing::ValuesIn(Songs),
                         [](const ::testing::TestParamInfo<SongRow> &info) { return std::string(info.param.name); });

TEST(BeatTrackerEdgeTest, UnloadedClipAndSilenceHaveNoBeats)
{
    AudioClip unloaded;
    EXPECT_TRUE(findBeats(unloaded).beatsMs.empty());

    test::TempDir dir;
    const auto path = dir.path() / "silence.wav";
    test::writeFile(path, test::wavBytes(test::WavLayout{}, std::vector<uint8_t>(44100 * 4 * 5, 0)));
    AudioClip silence;
    silence.setPath(path);
    ASSERT_TRUE(silence.load());
    const BeatResult result = findBeats(silence);
    EXPECT_TRUE(result.beatsMs.empty());
    EXPECT_EQ(result.tempoBpm, 0);
}

// Work cancelled through the thread's flag stops and yields nothing, on a song with beats.
TEST(BeatTrackerEdgeTest, CancelledDetectionFindsNothing)
{
    test::TempDir dir;
    const auto path = dir.path() / "song.wav";
    test::writeFile(path, test::beatSong(recipe(120, 2, 16, 44100, Loud, true, false)).wav);
    AudioClip clip;
    clip.setPath(path);
    ASSERT_TRUE(clip.load());
    CancelFlag flag;
    flag.cancel();
    const CancelScope scope(&flag);
    EXPECT_TRUE(findBeats(clip).beatsMs.empty());
}

// Noise has onsets everywhere and a beat nowhere: the confidence tells the user to tap by hand.
TEST(BeatTrackerEdgeTest, NoiseHasLowConfidence)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-8000, 8000);
    std::vector<uint8_t> data;
    for (int i = 0; i < 44100 * 2 * 12; ++i)
        test::putU16(data, uint16_t(int16_t(sample(random))));
    test::TempDir dir;
    const auto path = dir.path() / "noise.wav";
    test::writeFile(path, test::wavBytes(test::WavLayout{}, data));
    AudioClip noise;
    noise.setPath(path);
    ASSERT_TRUE(noise.load());
    EXPECT_LT(findBeats(noise).confidence, 0.3);
}

} // namespace
} // namespace vorn
