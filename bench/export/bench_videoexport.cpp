// The draft video of the bundled demo (900 frames, 720 x 480, 30 s with its song) on two render
// threads, beside its peer: the ffmpeg command line encoding the same frames, rendered to PNG
// files beforehand, with libx264 and the song in AAC, as a user would otherwise script it.
// Counters: frames per second (wall), times faster than real time, and the peak memory.
#include "base/prompter.h"
#include "export/videoexport.h"
#include "imaging/qimageconvert.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/loadscenario.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

const std::filesystem::path Demo = std::filesystem::path(VORN_SOURCE_DIR) / "examples/demo/demo.txt";

class PrintPrompter final : public vorn::Prompter {
public:
    void showError(std::string_view text) override
    {
        std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
    }
    bool askYesNo(std::string_view) override { return true; }
};

std::filesystem::path workFolder()
{
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() /
                    ("vorn-bench-video-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

double peakMiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// User and system time of this process so far: on a shared machine the wall time says more
// about the neighbours than about us.
double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](timeval t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void report(benchmark::State &state, int32_t frames, double seconds, double videoSeconds)
{
    state.counters["fps"] = frames / seconds;
    state.counters["x_realtime"] = videoSeconds / seconds;
}

void BM_ExportDemo(benchmark::State &state)
{
    PrintPrompter prompter;
    auto scenario = vorn::loadLinkedScenario(Demo, prompter);
    if (!scenario) {
        state.SkipWithError("the demo does not load");
        return;
    }
    const double videoSeconds = double(scenario->totalFrames) * scenario->scale / scenario->frameRate;
    vorn::VideoExportOptions options;
    options.threads = int32_t(state.range(0));
    const auto out = workFolder() / "ours.mp4";
    for (auto _ : state) {
        // A fresh copy each round: no picture cached from the round before.
        auto copy = vorn::loadLinkedScenario(Demo, prompter);
        const double cpuStart = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const auto result = vorn::exportVideo(*copy, out, options);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["cpu_s"] = cpuSeconds() - cpuStart;
        if (result.status != vorn::VideoExportStatus::Written) {
            state.SkipWithError("the export failed");
            return;
        }
        report(state, scenario->totalFrames, seconds, videoSeconds);
    }
    // This runs first, so the process's peak so far is the export's (and the scenario's).
    state.counters["peak_MiB"] = peakMiB();
    state.counters["file_MiB"] = double(std::filesystem::file_size(out)) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ExportDemo)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The peer: the same frames as PNG files (rendered here, not timed), then one ffmpeg run.
void BM_FfmpegFromPngs(benchmark::State &state)
{
    PrintPrompter prompter;
    auto scenario = vorn::loadLinkedScenario(Demo, prompter);
    if (!scenario) {
        state.SkipWithError("the demo does not load");
        return;
    }
    const auto frames = workFolder() / "frames";
    std::filesystem::create_directories(frames);
    for (int32_t f = 0; f < scenario->totalFrames; ++f) {
        vorn::ImageBuffer *picture = scenario->render(f);
        if (!picture) {
            state.SkipWithError("a frame did not render");
            return;
        }
        const QImage image = vorn::ImageBufferToQImage(*picture, vorn::AlphaUse::Ignore);
        scenario->release(picture, f);
        char name[32];
        std::snprintf(name, sizeof name, "f%04d.png", f);
        image.save(QString::fromStdString((frames / name).string()), "PNG", 50);
    }
    const double videoSeconds = double(scenario->totalFrames) * scenario->scale / scenario->frameRate;
    const std::string rate = std::to_string(scenario->frameRate) + "/" + std::to_string(scenario->scale);
    const auto song = Demo.parent_path() / "song.wav";
    // GNU time gives the child's own CPU time and peak memory.
    const auto measured = workFolder() / "peer-time.txt";
    const std::string command = "/usr/bin/time -f '%U %S %M' -o '" + measured.string() +
                                "' ffmpeg -v error -y -framerate " + rate + " -i '" +
                                (frames / "f%04d.png").string() + "' -i '" + song.string() +
                                "' -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p "
                                "-c:a aac -shortest '" + (workFolder() / "peer.mp4").string() + "'";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        if (status != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        report(state, scenario->totalFrames, seconds, videoSeconds);
        double user = 0, system = 0, peakKb = 0;
        if (std::FILE *file = std::fopen(measured.c_str(), "r")) {
            if (std::fscanf(file, "%lf %lf %lf", &user, &system, &peakKb) == 3) {
                state.counters["cpu_s"] = user + system;
                state.counters["peak_MiB"] = peakKb / 1024.0;
            }
            std::fclose(file);
        }
    }
    state.counters["file_MiB"] =
        double(std::filesystem::file_size(workFolder() / "peer.mp4")) / (1024.0 * 1024.0);
}
BENCHMARK(BM_FfmpegFromPngs)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    // Text blocks draw through Qt; no window is shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(workFolder());
    return 0;
}
