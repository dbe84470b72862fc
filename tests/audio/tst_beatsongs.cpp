// Accuracy of findBeats on multi-instrument songs composed as MIDI and rendered with a General
// MIDI sound font (scripts/make-beat-songs, run by the test set-up), against aubio's tracker on
// the same songs. Prints the table of F-measures (±70 ms, the first 5 s left out).
#include "audio/audioclip.h"
#include "audio/beattracker.h"
#include "support/aubiobeats.h"
#include "support/beatsong.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vorn {
namespace {

struct SongRow {
    const char *name;
    double minF;  // the least this song may score
};

const SongRow Songs[] = {
    {"ballad-68-drumless", 0.8},
    {"bossa-120", 0.8},
    {"reggae-88-offbeat-chords", 0.8},
    {"funk-104-ghost-notes", 0.8},
    {"hiphop-90-swung-16ths", 0.8},
    {"waltz-162-three-four", 0.8},
    {"dnb-174-break", 0.8},
    {"rock-170", 0.8},
    {"pop-96", 0.8},
    {"pop-128-electronic", 0.8},
    {"swing-140", 0.8},
    {"accelerando-100-120", 0.8},
    {"quiet-intro-8s", 0.8},
    {"solo-strummed-guitar-84", 0.8},
    {"fermata-92", 0.8},
    {"six-eight-100", 0.8},
    {"shuffle-110", 0.8},
    {"tempo-change-100-132", 0.8},
    {"drum-break-116", 0.8},
    {"acoustic-folk-100", 0.8},
    {"techno-124", 0.8},
    {"house-122-offbeat-bass", 0.8},
    {"rnb-76-sixteenth-hats", 0.8},
    {"country-train-150", 0.8},
    {"punk-180-four-on-the-floor", 0.8},
    {"power-ballad-64", 0.8},
    {"slow-jam-60-eighth-bass", 0.8},
};
constexpr double MinMeanF = 0.9;
constexpr double ToleranceMs = 70;
constexpr double SkippedMs = 5000;

std::vector<double> truthMs(const std::filesystem::path &path)
{
    std::vector<double> beats;
    std::ifstream in(path);
    double seconds = 0;
    while (in >> seconds)
        beats.push_back(seconds * 1000);
    return beats;
}

TEST(BeatSongsTest, OursOnEverySongAndAheadOfAubio)
{
    const std::filesystem::path dir = VORN_BEAT_SONGS_DIR;
    double oursSum = 0, aubioSum = 0;
    std::printf("%-28s %6s %6s %7s %6s\n", "song", "ours", "aubio", "bpm", "conf");
    for (const SongRow &row : Songs) {
        SCOPED_TRACE(row.name);
        const std::vector<double> truth = truthMs(dir / (std::string(row.name) + ".beats"));
        AudioClip clip;
        clip.setPath(dir / (std::string(row.name) + ".wav"));
        ASSERT_FALSE(truth.empty());
        ASSERT_TRUE(clip.load());

        const BeatResult ours = findBeats(clip);
        const double oursF = test::beatFMeasure(truth, ours.beatsMs, ToleranceMs, SkippedMs);
        const double aubioF = test::beatFMeasure(truth, test::aubioBeatsMs(clip), ToleranceMs, SkippedMs);
        std::printf("%-28s %6.3f %6.3f %7.1f %6.2f\n", row.name, oursF, aubioF, ours.tempoBpm, ours.confidence);
        EXPECT_GE(oursF, row.minF);
        // Nothing is laid in the silence before the song's first note.
        if (!ours.beatsMs.empty()) {
            EXPECT_GE(ours.beatsMs.front(), truth.front() - ToleranceMs);
        }
        oursSum += oursF;
        aubioSum += aubioF;
    }
    const double count = double(std::size(Songs));
    std::printf("%-28s %6.3f %6.3f\n", "mean", oursSum / count, aubioSum / count);
    std::fflush(stdout);
    EXPECT_GE(oursSum / count, MinMeanF);
    EXPECT_GT(oursSum, aubioSum);
}

} // namespace
} // namespace vorn
