// DrawImage throughput for the per-frame compositing of the preview (720 x 480 pictures).
#include "imaging/compose.h"

#include <benchmark/benchmark.h>

using namespace vorn;

namespace {

constexpr int32_t Width = 720;
constexpr int32_t Height = 480;

// A picture with colour noise and an alpha ramp that is partial almost everywhere, with an
// opaque and a transparent band so every path of the blend is taken.
ImagePtr partialAlphaPicture()
{
    ImagePtr image = CreateImage(Width, Height);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < Height; ++y) {
        uint8_t *p = image->row(y);
        uint8_t *a = image->alphaRow(y);
        for (int32_t x = 0; x < Width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            p[3 * x] = uint8_t(seed >> 24);
            p[3 * x + 1] = uint8_t(seed >> 16);
            p[3 * x + 2] = uint8_t(seed >> 8);
            a[x] = y < 40 ? 255 : y < 80 ? 0 : uint8_t((x + y) & 255);
        }
    }
    return image;
}

void drawMode(benchmark::State &state, int32_t mode)
{
    ImagePtr source = partialAlphaPicture();
    ImagePtr destination = CreateFilledImage(Width, Height, 30, 60, 90, 128);
    for (auto _ : state) {
        DrawImage(*destination, source.get(), 0, 0, mode);
        benchmark::DoNotOptimize(destination->pixels.get());
        benchmark::ClobberMemory();
    }
    // Destination colour bytes touched per call.
    state.SetBytesProcessed(int64_t(state.iterations()) * 3 * Width * Height);
}

void BM_DrawImageAlpha(benchmark::State &state) { drawMode(state, BLEND_ALPHA); }
void BM_DrawImageLighten(benchmark::State &state) { drawMode(state, BLEND_LIGHTEN); }
void BM_DrawImageAdd(benchmark::State &state) { drawMode(state, BLEND_ADD); }

void BM_MixImages(benchmark::State &state)
{
    ImagePtr a = partialAlphaPicture();
    ImagePtr b = CreateFilledImage(Width, Height, 30, 60, 90, 128);
    for (auto _ : state) {
        ImagePtr mixed = MixImages(a.get(), b.get(), 37);
        benchmark::DoNotOptimize(mixed.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 3 * Width * Height);
}

} // namespace

BENCHMARK(BM_DrawImageAlpha);
BENCHMARK(BM_DrawImageLighten);
BENCHMARK(BM_DrawImageAdd);
BENCHMARK(BM_MixImages);
