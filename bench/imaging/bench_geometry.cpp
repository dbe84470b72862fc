// Benchmarks of the geometry operations: the area-averaging resampler beside Qt's smooth
// scaling of the same picture, and rotation.
#include "imaging/resample.h"
#include "imaging/rotate.h"

#include <benchmark/benchmark.h>

#include <QImage>

#include <random>

namespace {

// A photo-sized picture with varied pixels, opaque.
vorn::ImagePtr makePicture(int32_t w, int32_t h)
{
    vorn::ImagePtr image = vorn::CreateImage(w, h);
    std::mt19937 gen(1);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t *p = image->row(y);
        for (int32_t i = 0; i < 3 * w; ++i)
            p[i] = uint8_t(gen());
        std::fill(image->alphaRow(y), image->alphaRow(y) + w, uint8_t(255));
    }
    return image;
}

const vorn::ImageBuffer &photo()
{
    static const vorn::ImagePtr picture = makePicture(4000, 3000);
    return *picture;
}

void BM_ResampleImage_4000x3000_to_720x480(benchmark::State &state)
{
    const vorn::ImageBuffer &src = photo();
    for (auto _ : state) {
        vorn::ImagePtr out = vorn::ResampleImage(&src, 0, 0, 720 * 1024, 480 * 1024, 0, 0,
                                                 4000 * 1024, 3000 * 1024);
        benchmark::DoNotOptimize(out.get());
    }
}
// Process CPU time: Qt spreads large smooth scalings over a thread pool.
BENCHMARK(BM_ResampleImage_4000x3000_to_720x480)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// The same picture as a QImage with alpha (the engine's picture carries an alpha plane too).
void BM_QImageScaledSmooth_4000x3000_to_720x480(benchmark::State &state)
{
    const vorn::ImageBuffer &src = photo();
    QImage image(src.width, src.height, QImage::Format_ARGB32);
    for (int32_t y = 0; y < src.height; ++y) {
        const uint8_t *p = src.row(y);
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int32_t x = 0; x < src.width; ++x)
            line[x] = qRgba(p[3 * x + 2], p[3 * x + 1], p[3 * x], src.alphaRow(y)[x]);
    }
    for (auto _ : state) {
        QImage out = image.scaled(720, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_QImageScaledSmooth_4000x3000_to_720x480)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

void BM_ResampleImage_720x480_to_1920x1080(benchmark::State &state)
{
    const vorn::ImagePtr src = makePicture(720, 480);
    for (auto _ : state) {
        vorn::ImagePtr out = vorn::ResampleImage(src.get(), 300, 0, 1920 * 1024, 1080 * 1024,
                                                 100, 50, 720 * 1024 - 200, 480 * 1024 - 100);
        benchmark::DoNotOptimize(out.get());
    }
}
BENCHMARK(BM_ResampleImage_720x480_to_1920x1080)->Unit(benchmark::kMillisecond);

void BM_RotateImage_720x480_by_33(benchmark::State &state)
{
    const vorn::ImagePtr src = makePicture(720, 480);
    for (auto _ : state) {
        vorn::ImagePtr out = vorn::RotateImage(src.get(), 33);
        benchmark::DoNotOptimize(out.get());
    }
}
BENCHMARK(BM_RotateImage_720x480_by_33)->Unit(benchmark::kMillisecond);

} // namespace
