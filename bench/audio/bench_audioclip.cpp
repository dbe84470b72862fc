// Benchmarks of AudioClip: loading a 10-minute song against plain reads of the same bytes, and
// one waveform strip's row envelopes at every zoom.
#include "audio/audioclip.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t Rate = 44100;
constexpr uint32_t Seconds = 600;
constexpr uint32_t DataBytes = Rate * 4 * Seconds;  // 105,840,000

void putU32(std::ofstream &out, uint32_t v)
{
    const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.write(b, 4);
}

void putU16(std::ofstream &out, uint16_t v)
{
    const char b[2] = {char(v), char(v >> 8)};
    out.write(b, 2);
}

// A 10-minute 44.1 kHz 16-bit stereo song in /tmp, written on first use: a 440 Hz tone whose
// loudness swells every second, so that the envelope has something to measure.
const std::filesystem::path &songPath()
{
    static const std::filesystem::path path = [] {
        const auto p = std::filesystem::temp_directory_path() / "vorn-bench-10min.wav";
        std::error_code error;
        if (std::filesystem::file_size(p, error) == 44 + uintmax_t(DataBytes))
            return p;
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write("RIFF", 4);
        putU32(out, 36 + DataBytes);
        out.write("WAVEfmt ", 8);
        putU32(out, 16);
        putU16(out, 1);
        putU16(out, 2);
        putU32(out, Rate);
        putU32(out, Rate * 4);
        putU16(out, 4);
        putU16(out, 16);
        out.write("data", 4);
        putU32(out, DataBytes);
        std::vector<char> second(Rate * 4);
        for (uint32_t s = 0; s < Seconds; ++s) {
            for (uint32_t i = 0; i < Rate; ++i) {
                const double t = double(i) / Rate;
                const double v = std::sin(2 * std::numbers::pi * 440 * t) * (0.2 + 0.7 * t) * 32767;
                const auto sample = uint16_t(int16_t(v));
                for (int c = 0; c < 2; ++c) {
                    second[4 * i + 2 * c] = char(sample);
                    second[4 * i + 2 * c + 1] = char(sample >> 8);
                }
            }
            out.write(second.data(), std::streamsize(second.size()));
        }
        return p;
    }();
    return path;
}

void BM_LoadSong(benchmark::State &state)
{
    const auto &path = songPath();
    for (auto _ : state) {
        vorn::AudioClip clip;
        clip.setPath(path);
        if (!clip.load())
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(clip.samples());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * DataBytes);
}
BENCHMARK(BM_LoadSong)->Unit(benchmark::kMillisecond);

// Reads the whole file into buffer with read(2); false on a short read.
bool readAll(const std::filesystem::path &path, char *buffer, size_t size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    size_t done = 0;
    while (fd >= 0 && done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    if (fd >= 0)
        ::close(fd);
    return done == size;
}

// The comparison: the file's bytes read into a fresh buffer with read(2), as a load must.
void BM_ReadFileBytes(benchmark::State &state)
{
    const auto &path = songPath();
    const size_t size = std::filesystem::file_size(path);
    for (auto _ : state) {
        std::unique_ptr<char[]> buffer(new char[size]);
        if (!readAll(path, buffer.get(), size))
            state.SkipWithError("short read");
        benchmark::DoNotOptimize(buffer.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * DataBytes);
}
BENCHMARK(BM_ReadFileBytes)->Unit(benchmark::kMillisecond);

// The copy alone: the same reads into one buffer whose pages are already mapped.
void BM_ReadIntoMappedBuffer(benchmark::State &state)
{
    const auto &path = songPath();
    const size_t size = std::filesystem::file_size(path);
    std::vector<char> buffer(size);
    for (auto _ : state) {
        if (!readAll(path, buffer.data(), size))
            state.SkipWithError("short read");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * DataBytes);
}
BENCHMARK(BM_ReadIntoMappedBuffer)->Unit(benchmark::kMillisecond);

// Both in one loop, alternating, so the ratio is measured under the same conditions.
void BM_LoadOverRead(benchmark::State &state)
{
    const auto &path = songPath();
    const size_t size = std::filesystem::file_size(path);
    double loadSeconds = 0;
    double readSeconds = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        {
            std::ifstream in(path, std::ios::binary);
            std::unique_ptr<char[]> buffer(new char[size]);
            in.read(buffer.get(), std::streamsize(size));
            benchmark::DoNotOptimize(buffer.get());
        }
        auto t1 = std::chrono::steady_clock::now();
        {
            vorn::AudioClip clip;
            clip.setPath(path);
            benchmark::DoNotOptimize(clip.load());
        }
        auto t2 = std::chrono::steady_clock::now();
        readSeconds += std::chrono::duration<double>(t1 - t0).count();
        loadSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["ratio"] = loadSeconds / readSeconds;
}
BENCHMARK(BM_LoadOverRead)->Unit(benchmark::kMillisecond)->Iterations(10);

// One 1,000-row strip of a stereo song, the way the waveform strip walks it: span = end / zoom,
// spp = span / rows, step = spp / 100, two channels per row.
void BM_EnvelopeStrip(benchmark::State &state)
{
    static vorn::AudioClip clip;
    static const bool loaded = [] {
        clip.setPath(songPath());
        return clip.load();
    }();
    if (!loaded) {
        state.SkipWithError("load failed");
        return;
    }
    const int32_t zoom = int32_t(state.range(0));
    constexpr int32_t Rows = 1000;
    constexpr int32_t Width = 200;
    const int32_t span = clip.endPosition() / zoom;
    const int32_t first = (clip.endPosition() - span) / 2;
    const int32_t end = first + span;
    const int32_t spp = std::max(span / Rows, 1);
    const int32_t step = std::max(spp / 100, 1);
    for (auto _ : state) {
        int64_t total = 0;
        for (int32_t p = first; p < end; p += spp)
            for (int c = 0; c < 2; ++c) {
                const auto e = clip.rowEnvelope(p, spp, step, end, Width, c);
                total += e.positive - e.negative;
            }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_EnvelopeStrip)->DenseRange(1, 64, 1)->Unit(benchmark::kMicrosecond);

} // namespace
