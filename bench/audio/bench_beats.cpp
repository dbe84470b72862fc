// Benchmark of beat detection: a ten-minute generated dance song (44.1 kHz 16-bit stereo,
// 128 BPM, hi-hats and off-beat stabs) analysed whole. Goal: at most 2 s on one core.
#include "audio/audioclip.h"
#include "audio/beattracker.h"
#include "support/beatsong.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

void BM_FindBeatsTenMinutes(benchmark::State &state)
{
    vorn::test::BeatSongRecipe recipe;
    recipe.bpm = 128;
    recipe.offbeatStabs = true;
    recipe.seconds = 600;
    const vorn::test::BeatSong song = vorn::test::beatSong(recipe);
    const auto path = std::filesystem::temp_directory_path() /
                      ("vorn-bench-beats-" + std::to_string(::getpid()) + ".wav");
    vorn::test::writeFile(path, song.wav);
    vorn::AudioClip clip;
    clip.setPath(path);
    const bool loaded = clip.load();
    std::filesystem::remove(path);
    if (!loaded) {
        state.SkipWithError("the generated song did not load");
        return;
    }
    size_t beats = 0;
    for (auto _ : state) {
        const vorn::BeatResult result = vorn::findBeats(clip);
        beats = result.beatsMs.size();
        benchmark::DoNotOptimize(result.beatsMs.data());
    }
    // A check that the work was real: 128 BPM for ten minutes is about 1,280 beats.
    state.counters["beats"] = double(beats);
}
BENCHMARK(BM_FindBeatsTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
