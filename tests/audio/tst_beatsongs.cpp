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

// The songs scripts/make-beat-songs renders; each must score at least MinF.
const char *const Songs[] = {
    "ballad-68-drumless", "bossa-120", "reggae-88-offbeat-chords", "funk-104-ghost-notes",
    "hiphop-90-swung-16ths", "waltz-162-three-four", "dnb-174-break", "rock-170", "pop-96",
    "pop-128-electronic", "swing-140", "accelerando-100-120", "quiet-intro-8s",
    "solo-strummed-guitar-84", "fermata-92", "six-eight-100", "shuffle-110",
    "tempo-change-100-132", "drum-break-116", "acoustic-folk-100", "techno-124",
    "house-122-offbeat-bass", "rnb-76-sixteenth-hats", "country-train-150",
    "punk-180-four-on-the-floor", "power-ballad-64", "slow-jam-60-eighth-bass",
};
constexpr double MinF = 0.8;
constexpr double MinMeanF = 0.9;
constexpr double ToleranceMs = 70;
constexpr double SkippedMs = 5000;

TEST(BeatSongsTest, OursOnEverySongAndAheadOfAubio)
{
    const std::filesystem::path dir = VORN_BEAT_SONGS_DIR;
    double oursSum = 0, aubioSum = 0;
    std::printf("%-28s %6s %6s %7s %6s\n", "song", "ours", "aubio", "bpm", "conf");
    for (const char *name : Songs) {
        SCOPED_TRACE(name);
        std::vector<double> truth;
        std::ifstream in(dir / (std::string(name) + ".beats"));
        for (double seconds = 0; in >> seconds;)
            truth.push_back(seconds * 1000);
        AudioClip clip;
        clip.setPath(dir / (std::string(name) + ".wav"));
        ASSERT_FALSE(truth.empty());
        ASSERT_TRUE(clip.load());

        const BeatResult ours = findBeats(clip);
        const double oursF = test::beatFMeasure(truth, ours.beatsMs, ToleranceMs, SkippedMs);
        const double aubioF = test::beatFMeasure(truth, test::aubioBeatsMs(clip), ToleranceMs, SkippedMs);
        std::printf("%-28s %6.3f %6.3f %7.1f %6.2f\n", name, oursF, aubioF, ours.tempoBpm, ours.confidence);
        EXPECT_GE(oursF, MinF);
        // Nothing is laid in the silence before the song's first note.
        EXPECT_TRUE(ours.beatsMs.empty() || ours.beatsMs.front() >= truth.front() - ToleranceMs);
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
