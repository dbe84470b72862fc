// Accuracy of findBeats on multi-instrument songs composed as MIDI and rendered with a General
// MIDI sound font (scripts/make-beat-songs, run by the test set-up), against aubio's tracker on
// the same songs. Prints the table of F-measures (±70 ms, the first 5 s left out).
#include "audio/audioclip.h"
#include "audio/beattracker.h"
#include "support/aubiobeats.h"
#include "support/beatsong.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vorn {
namespace {

// Each song scripts/make-beat-songs renders (a .wav and its .beats) must score at least MinF.
constexpr double MinF = 0.8;
constexpr double MinMeanF = 0.9;
constexpr double ToleranceMs = 70;
constexpr double SkippedMs = 5000;

TEST(BeatSongsTest, OursOnEverySongAndAheadOfAubio)
{
    const std::filesystem::path dir = VORN_BEAT_SONGS_DIR;
    std::vector<std::string> songs;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".beats")
            songs.push_back(entry.path().stem().string());
    std::sort(songs.begin(), songs.end());
    ASSERT_FALSE(songs.empty()) << "nothing rendered in " << dir;
    double oursSum = 0, aubioSum = 0;
    std::printf("%-28s %6s %6s %7s %6s\n", "song", "ours", "aubio", "bpm", "conf");
    for (const std::string &name : songs) {
        SCOPED_TRACE(name);
        std::vector<double> truth;
        std::ifstream in(dir / (name + ".beats"));
        for (double seconds = 0; in >> seconds;)
            truth.push_back(seconds * 1000);
        AudioClip clip;
        clip.setPath(dir / (name + ".wav"));
        ASSERT_FALSE(truth.empty());
        ASSERT_TRUE(clip.load());

        const BeatResult ours = findBeats(clip);
        const double oursF = test::beatFMeasure(truth, ours.beatsMs, ToleranceMs, SkippedMs);
        const double aubioF = test::beatFMeasure(truth, test::aubioBeatsMs(clip), ToleranceMs, SkippedMs);
        std::printf("%-28s %6.3f %6.3f %7.1f %6.2f\n", name.c_str(), oursF, aubioF, ours.tempoBpm, ours.confidence);
        EXPECT_GE(oursF, MinF);
        // Nothing is laid in the silence before the song's first note.
        EXPECT_TRUE(ours.beatsMs.empty() || ours.beatsMs.front() >= truth.front() - ToleranceMs);
        oursSum += oursF;
        aubioSum += aubioF;
    }
    const double count = double(songs.size());
    std::printf("%-28s %6.3f %6.3f\n", "mean", oursSum / count, aubioSum / count);
    std::fflush(stdout);
    EXPECT_GE(oursSum / count, MinMeanF);
    EXPECT_GT(oursSum, aubioSum);
}

} // namespace
} // namespace vorn
