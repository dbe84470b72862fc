// Cost of walking the waveform strip's rows over a ten-minute 44.1 kHz stereo song, per zoom.
#include "audio/audioclip.h"
#include "timeline/timeline.h"
#include "timeline/waveformrows.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using namespace vorn;

constexpr uint32_t Rate = 44100;
constexpr int32_t Frames = 10 * 60 * int32_t(Rate);
constexpr int32_t StripHeight = 1000;
constexpr int32_t StripWidth = 160;

void putLe(std::string &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

// The song is written to /tmp once, loaded, and the file removed: the clip keeps it in memory.
const AudioClip &song()
{
    static const std::unique_ptr<AudioClip> clip = [] {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("vorn-bench-timeline-" + std::to_string(::getpid()) + ".wav");
        const uint32_t dataBytes = uint32_t(Frames) * 4;
        std::string out = "RIFF";
        putLe(out, 36 + dataBytes, 4);
        out += "WAVEfmt ";
        putLe(out, 16, 4);
        putLe(out, 1, 2);
        putLe(out, 2, 2);
        putLe(out, Rate, 4);
        putLe(out, Rate * 4, 4);
        putLe(out, 4, 2);
        putLe(out, 16, 2);
        out += "data";
        putLe(out, dataBytes, 4);
        out.reserve(out.size() + dataBytes);
        // A 440 Hz tone whose loudness swells every few seconds, so envelopes vary by row.
        for (int32_t f = 0; f < Frames; ++f) {
            const double t = double(f) / Rate;
            const double level = 0.2 + 0.7 * std::fabs(std::sin(t * 0.7));
            const double v = 32000.0 * level * std::sin(t * 2 * M_PI * 440.0);
            putLe(out, uint16_t(int16_t(v)), 2);
            putLe(out, uint16_t(int16_t(-v / 2)), 2);
        }
        std::ofstream(path, std::ios::binary).write(out.data(), std::streamsize(out.size()));
        auto loaded = std::make_unique<AudioClip>();
        loaded->setPath(path);
        const bool ok = loaded->load();
        std::filesystem::remove(path);
        if (!ok) {
            std::fprintf(stderr, "bench_timeline: the generated song did not load\n");
            std::exit(1);
        }
        return loaded;
    }();
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
