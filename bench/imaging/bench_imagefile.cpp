// LoadImageFile: decoding a full-HD JPEG or PNG (the PNG's data is also inflated once to prove
// it before decoding), and the same request answered from the decoded cache.
#include "imaging/imagefile.h"

#include <QImage>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>

using namespace vorn;
namespace fs = std::filesystem;

namespace {

// A 1920 x 1080 photo-like picture, dated an hour back so the cache trusts it; removed at exit.
struct TestPhoto {
    fs::path path;

    explicit TestPhoto(const char *format)
        : path(fs::temp_directory_path() /
               ("vorn-bench-photo-" + std::to_string(::getpid()) + "." + format))
    {
        QImage image(1920, 1080, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x & 255, y & 255, (x ^ y) & 255));
        image.save(QString::fromUtf8(path.c_str()), format, 90);
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    ~TestPhoto() { fs::remove(path); }
};

fs::path testPhoto(const char *format = "jpeg")
{
    static const TestPhoto jpeg("jpeg");
    static const TestPhoto png("png");
    return std::string_view(format) == "png" ? png.path : jpeg.path;
}

void BM_LoadImageFileDecode(benchmark::State &state, const char *format)
{
    const fs::path path = testPhoto(format);
    SetImageFileCacheBudget(0);
    for (auto _ : state) {
        ImagePtr image = LoadImageFile(path);
        if (!image)
            state.SkipWithError("the test photo did not load");
        benchmark::DoNotOptimize(image.get());
    }
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
}

void BM_LoadImageFileCached(benchmark::State &state)
{
    const fs::path path = testPhoto();
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
    LoadImageFile(path);
    for (auto _ : state) {
        ImagePtr image = LoadImageFile(path);
        if (!image)
            state.SkipWithError("the test photo did not load");
        benchmark::DoNotOptimize(image.get());
    }
}

} // namespace

BENCHMARK_CAPTURE(BM_LoadImageFileDecode, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadImageFileDecode, png, "png")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadImageFileCached)->Unit(benchmark::kMillisecond);
