// Cost of repainting the time-line strips: the waveform strip, 1,000 rows over a ten-minute
// 44.1 kHz stereo song at every zoom, and a mark strip holding 2,000 marks.
#include "app/markwnd.h"
#include "app/progresswnd.h"
#include "audio/audioclip.h"
#include "timeline/markstrips.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
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
constexpr int StripHeight = 1000;
constexpr int StripWidth = 160;
constexpr int Edge = 2;  // the strips' sunken frame

void ensureApplication()
{
    static std::unique_ptr<QApplication> app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "bench_strips";
        static char *argv[] = {name, nullptr};
        return std::make_unique<QApplication>(argc, argv);
    }();
}

void putLe(std::string &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

// Written to the temporary folder once, loaded, and the file removed.
const AudioClip &song()
{
    static const std::unique_ptr<AudioClip> clip = [] {
        const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                           ("vorn-bench-strips-" + std::to_string(::getpid()) + ".wav");
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
        // A 440 Hz tone whose loudness swells every few seconds, so rows differ in width.
        for (int32_t f = 0; f < Frames; ++f) {
            const double t = double(f) / Rate;
            const double level = 0.05 + 0.25 * std::fabs(std::sin(t * 0.7));
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
            std::fprintf(stderr, "bench_strips: the generated song did not load\n");
            std::exit(1);
        }
        return loaded;
    }();
    return *clip;
}

// A whole repaint after the view changed: the envelope rows are walked again and every row,
// centre line and the band drawn into a raster image like the window's backing store.
void BM_WaveformStripRepaint(benchmark::State &state)
{
    ensureApplication();
    const AudioClip &clip = song();
    TimeLine timeLine;
    CProgressWnd wave(timeLine);
    wave.resize(StripWidth + 2 * Edge, StripHeight + 2 * Edge);
    wave.setTotal(clip.endPosition());
    while (timeLine.zoom() < state.range(0))
        wave.zoomIn();
    wave.scrollTo(clip.endPosition() / 2 - timeLine.span() / 2);
    wave.setSelection(timeLine.top() + timeLine.span() / 4, timeLine.top() + timeLine.span() / 2);
    QImage target(wave.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        wave.setSong(&clip);  // forgets the rows made for the previous paint
        wave.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.counters["zoom"] = double(timeLine.zoom());
}
BENCHMARK(BM_WaveformStripRepaint)->RangeMultiplier(2)->Range(1, 64)->Unit(benchmark::kMicrosecond);

// The rows kept: a paint of the same view (exposure, or the cursor's rows) draws only.
void BM_WaveformStripPaintOnly(benchmark::State &state)
{
    ensureApplication();
    const AudioClip &clip = song();
    TimeLine timeLine;
    CProgressWnd wave(timeLine);
    wave.resize(StripWidth + 2 * Edge, StripHeight + 2 * Edge);
    wave.setTotal(clip.endPosition());
    wave.setSong(&clip);
    QImage target(wave.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        wave.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_WaveformStripPaintOnly)->Unit(benchmark::kMicrosecond);

// A mark strip of 1,000 rows with 2,000 marks spread over the song, the selected mark and a
// band.
void BM_MarkStripRepaint(benchmark::State &state)
{
    ensureApplication();
    TimeLine timeLine;
    MarkStrips strips;
    CMarkWnd mark(timeLine, strips.strip(0), 0);
    mark.resize(StripWidth + 2 * Edge, StripHeight + 2 * Edge);
    timeLine.setTotal(Frames);
    for (int32_t i = 0; i < 2000; ++i)
        strips.strip(0).addMark(i * 300, int32_t(int64_t(Frames) * i / 2000));
    timeLine.setSelection(Frames / 4, Frames / 2);
    timeLine.setSelectedMark(Frames / 3);
    QImage target(mark.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        mark.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.counters["marks"] = double(strips.strip(0).marks().size());
}
BENCHMARK(BM_MarkStripRepaint)->Unit(benchmark::kMicrosecond);

// A mark strip without marks: the frame and the background alone, for comparison.
void BM_EmptyMarkStrip(benchmark::State &state)
{
    ensureApplication();
    TimeLine timeLine;
    MarkStrips strips;
    CMarkWnd mark(timeLine, strips.strip(0), 0);
    mark.resize(StripWidth + 2 * Edge, StripHeight + 2 * Edge);
    timeLine.setTotal(Frames);
    QImage target(mark.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        mark.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_EmptyMarkStrip)->Unit(benchmark::kMicrosecond);

} // namespace
