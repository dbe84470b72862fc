// Benchmarks of the geometry operations: the area-averaging resampler beside Qt's smooth
// scaling of the same picture, and rotation.
#include "imaging/resample.h"
#include "imaging/rotate.h"

#include <benchmark/benchmark.h>

#include <QImage>

#include <ctime>
#include <random>

namespace {

using vorn::ImagePtr;

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

ImagePtr resamplePhoto(const vorn::ImageBuffer &src)
{
    return vorn::ResampleImage(&src, 0, 0, 720 * 1024, 480 * 1024, 0, 0, 4000 * 1024,
                               3000 * 1024);
}

// The same picture as a QImage. Qt's fastest smooth scaling of a picture with alpha is the
// premultiplied format (as fast as RGB32, which drops alpha); its plain ARGB32 path converts
// on the way and is several times slower, no fair measure.
QImage photoAsQImage(QImage::Format format)
{
    const vorn::ImageBuffer &src = photo();
    QImage image(src.width, src.height, QImage::Format_ARGB32);
    for (int32_t y = 0; y < src.height; ++y) {
        const uint8_t *p = src.row(y);
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int32_t x = 0; x < src.width; ++x)
            line[x] = qRgba(p[3 * x + 2], p[3 * x + 1], p[3 * x], src.alphaRow(y)[x]);
    }
    return image.convertToFormat(format);
}

QImage scaleWithQt(const QImage &image)
{
    return image.scaled(720, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

double processSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Process CPU time throughout: both spread large pictures over threads (ours over two, Qt over
// its pool), so the time of all their threads is what the work costs.
void BM_ResampleImage_4000x3000_to_720x480(benchmark::State &state)
{
    const vorn::ImageBuffer &src = photo();
    for (auto _ : state) {
        ImagePtr out = resamplePhoto(src);
        benchmark::DoNotOptimize(out.get());
    }
}
BENCHMARK(BM_ResampleImage_4000x3000_to_720x480)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

void BM_QImageScaledSmooth_4000x3000_to_720x480(benchmark::State &state)
{
    const QImage image = photoAsQImage(QImage::Format(state.range(0)));
    for (auto _ : state) {
        QImage out = scaleWithQt(image);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_QImageScaledSmooth_4000x3000_to_720x480)
    ->ArgName("format")
    ->Arg(QImage::Format_ARGB32_Premultiplied)
    ->Arg(QImage::Format_RGB32)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// Ours and Qt's premultiplied path alternating in one loop, so that both meet the same load on
// the machine: ratio is our CPU time over Qt's.
void BM_ResampleOverQt_4000x3000_to_720x480(benchmark::State &state)
{
    const vorn::ImageBuffer &src = photo();
    const QImage image = photoAsQImage(QImage::Format_ARGB32_Premultiplied);
    double ours = 0, qt = 0;
    for (auto _ : state) {
        const double t0 = processSeconds();
        ImagePtr out = resamplePhoto(src);
        const double t1 = processSeconds();
        QImage qtOut = scaleWithQt(image);
        const double t2 = processSeconds();
        benchmark::DoNotOptimize(out.get());
        benchmark::DoNotOptimize(qtOut.constBits());
        ours += t1 - t0;
        qt += t2 - t1;
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = ours * 1000.0 / n;
    state.counters["qt_ms"] = qt * 1000.0 / n;
    state.counters["ratio"] = ours / qt;
}
BENCHMARK(BM_ResampleOverQt_4000x3000_to_720x480)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

void BM_ResampleImage_720x480_to_1920x1080(benchmark::State &state)
{
    const vorn::ImagePtr src = makePicture(720, 480);
    for (auto _ : state) {
        ImagePtr out = vorn::ResampleImage(src.get(), 300, 0, 1920 * 1024, 1080 * 1024,
                                                 100, 50, 720 * 1024 - 200, 480 * 1024 - 100);
        benchmark::DoNotOptimize(out.get());
    }
}
BENCHMARK(BM_ResampleImage_720x480_to_1920x1080)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

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
