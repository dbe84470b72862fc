// Cost of walking the waveform strip's rows over a ten-minute 44.1 kHz stereo song, per zoom.
#include "audio/audioclip.h"
#include "support/generatedsong.h"
#include "timeline/timeline.h"
#include "timeline/waveformrows.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace {

using namespace vorn;

constexpr int32_t StripHeight = 1000;
constexpr int32_t StripWidth = 160;

const AudioClip &song()
{
    // Loud, so that envelopes vary by row.
    static const std::unique_ptr<AudioClip> clip = bench::generatedSong("bench_timeline", 0.2, 0.7);
    return *clip;
}

// One whole strip of 1,000 rows at zoom 1, 2, 4 ... 64, scrolled to the middle of the song.
void BM_WaveformStrip(benchmark::State &state)
{
    const AudioClip &clip = song();
    TimeLine timeLine;
    timeLine.setTotal(clip.endPosition());
    while (timeLine.zoom() < state.range(0))
        timeLine.zoomIn();
    timeLine.scrollTo(clip.endPosition() / 2 - timeLine.span() / 2);
    const StripView view = timeLine.view(StripWidth, StripHeight);
    size_t rows = 0;
    for (auto _ : state) {
        const WaveformRows walk = waveformRows(clip, view);
        rows = walk.rows.size();
        benchmark::DoNotOptimize(walk.rows.data());
    }
    state.counters["rows"] = double(rows);
    state.counters["spp"] = double(std::max(view.span / view.height, 1));
}
BENCHMARK(BM_WaveformStrip)->RangeMultiplier(2)->Range(1, 64)->Unit(benchmark::kMicrosecond);

// The envelope alone for one row of one channel at zoom 1 (about 100 reads).
void BM_RowEnvelope(benchmark::State &state)
{
    const AudioClip &clip = song();
    const int32_t spp = clip.endPosition() / StripHeight;
    const int32_t start = clip.endPosition() / 2;
    for (auto _ : state)
        benchmark::DoNotOptimize(clip.rowEnvelope(start, spp, spp / 100, start + spp, StripWidth, 0));
}
BENCHMARK(BM_RowEnvelope)->Unit(benchmark::kNanosecond);

} // namespace
