// Benchmark of beat detection: a ten-minute generated dance song (44.1 kHz 16-bit stereo,
// 128 BPM, hi-hats and off-beat stabs) analysed whole, by ours and, as the peer, by aubio's
// tracker on the same clip. Goals: at most 1 s CPU on one core, and at most 64 MiB allocated on
// top of the decoded song (the "peak_MiB" counter: the most the analysis held at once).
#include "audio/audioclip.h"
#include "audio/beattracker.h"
#include "support/aubiobeats.h"
#include "support/beatsong.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <unistd.h>

// Every allocation through operator new counted, for the analysis's peak.
namespace {
std::atomic<size_t> g_live{0};
std::atomic<size_t> g_peak{0};
} // namespace

void *operator new(size_t size)
{
    void *p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    const size_t live = g_live += malloc_usable_size(p);
    size_t peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return p;
}
void operator delete(void *p) noexcept
{
    if (p)
        g_live -= malloc_usable_size(p);
    std::free(p);
}
void operator delete(void *p, size_t) noexcept
{
    operator delete(p);
}

namespace {

const vorn::AudioClip &tenMinuteSong()
{
    static const std::unique_ptr<vorn::AudioClip> clip = [] {
        vorn::test::BeatSongRecipe recipe;
        recipe.bpm = 128;
        recipe.offbeatStabs = true;
        recipe.seconds = 600;
        const auto path = std::filesystem::temp_directory_path() /
                          ("vorn-bench-beats-" + std::to_string(::getpid()) + ".wav");
        vorn::test::writeFile(path, vorn::test::beatSong(recipe).wav);
        auto loaded = std::make_unique<vorn::AudioClip>();
        loaded->setPath(path);
        const bool ok = loaded->load();
        std::filesystem::remove(path);
        return ok ? std::move(loaded) : nullptr;
    }();
    return *clip;
}

void BM_FindBeatsTenMinutes(benchmark::State &state)
{
    const vorn::AudioClip &clip = tenMinuteSong();
    if (!clip.isLoaded()) {
        state.SkipWithError("the generated song did not load");
        return;
    }
    size_t beats = 0;
    g_peak = g_live.load();
    const size_t before = g_live;
    for (auto _ : state) {
        const vorn::BeatResult result = vorn::findBeats(clip);
        beats = result.beatsMs.size();
        benchmark::DoNotOptimize(result.beatsMs.data());
    }
    state.counters["peak_MiB"] = double(g_peak - before) / (1024 * 1024);
    // A check that the work was real: 128 BPM for ten minutes is about 1,280 beats.
    state.counters["beats"] = double(beats);
}
BENCHMARK(BM_FindBeatsTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_AubioTenMinutes(benchmark::State &state)
{
    const vorn::AudioClip &clip = tenMinuteSong();
    if (!clip.isLoaded()) {
        state.SkipWithError("the generated song did not load");
        return;
    }
    size_t beats = 0;
    for (auto _ : state) {
        const std::vector<double> found = vorn::test::aubioBeatsMs(clip);
        beats = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["beats"] = double(beats);
}
BENCHMARK(BM_AubioTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
