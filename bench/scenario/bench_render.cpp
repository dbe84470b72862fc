// Rendering benchmarks: an ACTION pan and zoom over a 4000 x 3000 JPEG on a 720 x 480 screen,
// with its caches warm and from cold (JPEG decode included), each beside Qt doing the same
// crop and smooth scale.
#include "base/prompter.h"
#include "base/scenariopath.h"
#include "imaging/imagefile.h"
#include "scenario/model/blocks.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <QRect>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <unistd.h>

namespace {

constexpr int32_t Frames = 300;
// Source rectangles of the pan (inclusive corners): a 2000 x 1333 area moving and shrinking
// to 1600 x 1067.
constexpr QRect SrcStart(0, 0, 2000, 1333);
constexpr QRect SrcEnd(2200, 1700, 1600, 1067);

class PrintPrompter final : public vorn::Prompter {
public:
    void showError(std::string_view text) override
    {
        std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
    }
    bool askYesNo(std::string_view) override { return true; }
};

// A directory with a 4000 x 3000 JPEG of gradients, shapes and noise (so it does not compress
// to nothing) and the scenario that pans over it.
struct Fixture {
    std::filesystem::path dir;
    std::filesystem::path jpeg;
    PrintPrompter prompter;
    vorn::Scenario scenario;
    vorn::ActionBlock *pan = nullptr;

    Fixture()
    {
        dir = std::filesystem::temp_directory_path() /
              ("vorn-bench-render-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        jpeg = dir / "photo.jpg";
        QImage image(4000, 3000, QImage::Format_RGB32);
        std::mt19937 gen(7);
        for (int y = 0; y < image.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int noise = int(gen() % 24);
                line[x] = qRgb((x / 16 + noise) & 255, (y / 12 + noise) & 255, ((x + y) / 28) & 255);
            }
        }
        {
            QPainter painter(&image);
            painter.setBrush(QColor(240, 200, 80));
            painter.drawEllipse(QRect(2500, 600, 900, 900));
            painter.setBrush(QColor(30, 70, 40));
            painter.drawRect(QRect(0, 2200, 4000, 800));
        }
        image.save(QString::fromStdString(jpeg.string()), "JPEG", 90);

        const std::string text =
            "SCREEN 720 480\r\n"
            "IMAGE \"photo\" { FILE \"photo.jpg\" }\r\n"
            "ACTION \"pan\" {\r\n"
            "  INPUT \"photo\"\r\n"
            "  SRC_START " + rect(SrcStart) + "  SRC_END " + rect(SrcEnd) + "\r\n"
            "  DST_START 0 0 719 479  DST_END 0 0 719 479\r\n"
            "  DSP_START 0 0 719 479  DSP_END 0 0 719 479\r\n"
            "  FRAMES " + std::to_string(Frames) + "\r\n"
            "}\r\n"
            "MAIN { INPUT \"pan\" }\r\n";
        const auto file = dir / "pan.txt";
        std::ofstream(file, std::ios::binary) << text;
        scenario.prompter = &prompter;
        if (vorn::load(scenario, vorn::pathToSjis(file).value()) != 0 || vorn::link(scenario) != 0)
            std::abort();
        pan = dynamic_cast<vorn::ActionBlock *>(scenario.findBlock("pan"));
    }
    ~Fixture()
    {
        std::error_code error;
        std::filesystem::remove_all(dir, error);
    }

    static std::string rect(const QRect &r)
    {
        return std::to_string(r.left()) + " " + std::to_string(r.top()) + " " +
               std::to_string(r.right()) + " " + std::to_string(r.bottom());
    }

    // The source area at a frame, as the pan interpolates it (whole pixels are close enough
    // for the comparison).
    static QRect sourceAt(int32_t frame)
    {
        const auto lerp = [frame](int a, int b) { return a + (b - a) * frame / (Frames - 1); };
        return QRect(QPoint(lerp(SrcStart.left(), SrcEnd.left()), lerp(SrcStart.top(), SrcEnd.top())),
                     QPoint(lerp(SrcStart.right(), SrcEnd.right()),
                            lerp(SrcStart.bottom(), SrcEnd.bottom())));
    }

    // Forgets every kept picture: the block's caches and the decoded-file cache.
    void makeCold()
    {
        {
            std::lock_guard guard(pan->lock);
            pan->sourceCache.reset();
            pan->cacheB.reset();
        }
        vorn::SetImageFileCacheBudget(vorn::DefaultImageFileCacheBytes);
    }
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

// Frames 0 .. Frames - 2 over and over: the last frame, which drops the caches, never comes.
void BM_ActionPanZoom_Warm(benchmark::State &state)
{
    Fixture &f = fixture();
    f.scenario.release(f.scenario.render(0), 0);
    int32_t frame = 0;
    for (auto _ : state) {
        vorn::ImageBuffer *picture = f.scenario.render(frame);
        benchmark::DoNotOptimize(picture);
        f.scenario.release(picture, frame);
        frame = (frame + 1) % (Frames - 1);
    }
}
BENCHMARK(BM_ActionPanZoom_Warm)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The same crops and scales with Qt, on the picture decoded once.
void BM_QtCopyScaled_Warm(benchmark::State &state)
{
    Fixture &f = fixture();
    const QImage image(QString::fromStdString(f.jpeg.string()));
    int32_t frame = 0;
    for (auto _ : state) {
        QImage out = image.copy(Fixture::sourceAt(frame))
                         .scaled(720, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(out.constBits());
        frame = (frame + 1) % (Frames - 1);
    }
}
BENCHMARK(BM_QtCopyScaled_Warm)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Frame 0 from nothing kept: the JPEG decoded, the picture built and kept, the frame drawn.
void BM_ActionPanZoom_FirstFrame(benchmark::State &state)
{
    Fixture &f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        f.makeCold();
        state.ResumeTiming();
        vorn::ImageBuffer *picture = f.scenario.render(0);
        benchmark::DoNotOptimize(picture);
        f.scenario.release(picture, 0);
    }
    f.makeCold();
}
BENCHMARK(BM_ActionPanZoom_FirstFrame)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Qt alone: decode the JPEG, then the same crop and scale.
void BM_QtDecodeCopyScaled_FirstFrame(benchmark::State &state)
{
    Fixture &f = fixture();
    const QString path = QString::fromStdString(f.jpeg.string());
    for (auto _ : state) {
        const QImage image(path);
        QImage out = image.copy(Fixture::sourceAt(0))
                         .scaled(720, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_QtDecodeCopyScaled_FirstFrame)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace
