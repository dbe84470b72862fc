// Cost of repainting the time-line strips: the waveform strip, 1,000 rows over a ten-minute
// 44.1 kHz stereo song at every zoom, and a mark strip holding 2,000 marks.
#include "app/markwnd.h"
#include "app/progresswnd.h"
#include "audio/audioclip.h"
#include "support/generatedsong.h"
#include "timeline/markstrips.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace vorn;

constexpr int32_t Frames = bench::SongFrames;
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

const AudioClip &song()
{
    // Quiet, so that rows differ in width.
    static const std::unique_ptr<AudioClip> clip = bench::generatedSong("bench_strips", 0.05, 0.25);
    return *clip;
}

// The strip painted into a raster image like the window's backing store, once per iteration,
// each time after `before`.
template <typename Before>
void paintEach(benchmark::State &state, QWidget &strip, Before before)
{
    QImage target(strip.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        before();
        strip.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}

// A whole repaint after the view changed: the envelope rows are walked again and every row,
// centre line and the band drawn.
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
    // A new song forgets the rows made for the previous paint.
    paintEach(state, wave, [&] { wave.setSong(&clip); });
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
    paintEach(state, wave, [] {});
}
BENCHMARK(BM_WaveformStripPaintOnly)->Unit(benchmark::kMicrosecond);

// A mark strip of 1,000 rows painted again and again; with marks, they are spread over the song
// and one of them is selected, with a band.
void markStripRepaint(benchmark::State &state, int32_t marks)
{
    ensureApplication();
    TimeLine timeLine;
    MarkStrips strips;
    CMarkWnd mark(timeLine, strips.strip(0), 0);
    mark.resize(StripWidth + 2 * Edge, StripHeight + 2 * Edge);
    timeLine.setTotal(Frames);
    for (int32_t i = 0; i < marks; ++i)
        strips.strip(0).addMark(i * 300, int32_t(int64_t(Frames) * i / marks));
    if (marks > 0) {
        timeLine.setSelection(Frames / 4, Frames / 2);
        timeLine.setSelectedMark(Frames / 3);
    }
    paintEach(state, mark, [] {});
    state.counters["marks"] = double(strips.strip(0).marks().size());
}

void BM_MarkStripRepaint(benchmark::State &state)
{
    markStripRepaint(state, 2000);
}
BENCHMARK(BM_MarkStripRepaint)->Unit(benchmark::kMicrosecond);

// Without marks: the frame and the background alone, for comparison.
void BM_EmptyMarkStrip(benchmark::State &state)
{
    markStripRepaint(state, 0);
}
BENCHMARK(BM_EmptyMarkStrip)->Unit(benchmark::kMicrosecond);

} // namespace
