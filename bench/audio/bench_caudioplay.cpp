// Benchmarks of the playback engine: on the simulated device with a driven clock, position
// accuracy against the device clock and the engine thread's CPU time while playing; on the
// program's default device (a PulseAudio null sink in a test session), the position against
// the wall clock.
#include "audio/caudioplay.h"
#include "audio/portaudio/portaudiodevice.h"
#include "audio/simulateddevice.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vorn {
namespace {

using namespace std::chrono_literals;

constexpr int64_t StepUs = 5000;              // the interface thread's timer
constexpr int64_t PlayUs = 10 * 1000000;      // ten seconds of playback

// A 16-bit stereo 44,100 Hz song of `seconds`, written once per run.
std::filesystem::path songFile(int seconds)
{
    const auto path = std::filesystem::temp_directory_path()
                      / ("vorn_bench_caudioplay_" + std::to_string(getpid()) + "_"
                         + std::to_string(seconds) + ".wav");
    if (std::filesystem::exists(path))
        return path;
    const uint32_t dataBytes = uint32_t(seconds) * 176400;
    std::vector<uint8_t> bytes;
    auto u16 = [&](uint16_t v) { bytes.push_back(uint8_t(v)); bytes.push_back(uint8_t(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(uint16_t(v)); u16(uint16_t(v >> 16)); };
    auto tag = [&](const char *t) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(uint8_t(t[i]));
    };
    tag("RIFF"); u32(36 + dataBytes); tag("WAVE");
    tag("fmt "); u32(16); u16(1); u16(2); u32(44100); u32(176400); u16(4); u16(16);
    tag("data"); u32(dataBytes);
    for (uint32_t i = 0; i < dataBytes / 2; ++i)
        u16(uint16_t(i * 37));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                 std::streamsize(bytes.size()));
    static std::vector<std::filesystem::path> written;
    if (written.empty())
        std::atexit([] {
            for (const auto &file : written)
                std::filesystem::remove(file);
        });
    written.push_back(path);
    return path;
}

struct Waiter {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<AudioReply> replies;
    bool waitFor(AudioReply reply)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 10s, [&] {
            return std::find(replies.begin(), replies.end(), reply) != replies.end();
        });
    }
};

struct Run {
    std::vector<double> errorsMs;
    double engineCpuPercent = 0;
    bool ok = false;
};

// An engine on `card` whose replies go to `waiter`, loading the twelve-second song.
std::unique_ptr<CAudioPlay> loadingEngine(std::shared_ptr<SimulatedSoundCard> card, std::shared_ptr<Waiter> waiter)
{
    auto engine = std::make_unique<CAudioPlay>(
        [waiter](AudioReply reply, int32_t) {
            std::lock_guard<std::mutex> lock(waiter->mutex);
            waiter->replies.push_back(reply);
            waiter->changed.notify_all();
        },
        [card] { return std::make_unique<SimulatedDevice>(card); });
    engine->setPath(songFile(12));
    engine->post(AP_LOAD);
    return engine;
}

// Plays ten seconds at the given speed, reading the position every 5 ms of device time the way
// the interface timer does. The engine is allowed to refill before the clock moves on, as it
// would in real time, where a refill takes microseconds and a block lasts hundreds of ms.
Run playTenSeconds(int speed, bool clicks = false, bool keepPitch = false)
{
    Run run;
    auto card = std::make_shared<SimulatedSoundCard>(SimulatedSoundCard::Clock::Driven);
    auto waiter = std::make_shared<Waiter>();
    const auto owner = loadingEngine(card, waiter);
    CAudioPlay &engine = *owner;
    if (!waiter->waitFor(AP_LOADED) || engine.state() != CAudioPlay::Ready)
        return run;
    engine.setSpeed(speed);
    engine.setKeepPitch(keepPitch);
    if (clicks) {
        // A mark every quarter second on each strip: far more than anyone taps.
        auto marks = std::make_shared<MarkClicks>();
        for (int k = 0; k < MarkClicks::StripCount; ++k)
            for (int32_t frame = 4410 * k; frame < 12 * 44100; frame += 11025)
                marks->positions[size_t(k)].push_back(frame);
        engine.setMarkClicks(marks);
    }
    engine.post(AP_PLAY);
    if (!waiter->waitFor(AP_STARTED) || engine.state() != CAudioPlay::Playing)
        return run;

    const int64_t cpuBefore = engine.threadCpuNs();
    run.errorsMs.reserve(PlayUs / StepUs);
    for (int64_t t = StepUs; t <= PlayUs; t += StepUs) {
        const int done = card->stats().buffersDone;
        card->advance(StepUs);
        if (card->stats().buffersDone != done) {
            const int writes = done + 2;
            card->waitUntil([writes](const SimulatedSoundCard::Stats &s) { return s.writes >= writes + 1; });
        }
        int32_t ms = 0;
        int32_t frames = 0;
        if (engine.position(ms, frames) != 0)
            return run;
        // The clock's own answer: t of device time is t / speed of song time.
        const double trueMs = double(t) / 1000.0 / speed;
        run.errorsMs.push_back(std::fabs(ms - trueMs));
    }
    const int64_t cpuAfter = engine.threadCpuNs();
    run.engineCpuPercent = double(cpuAfter - cpuBefore) / double(PlayUs * 1000) * 100.0;
    engine.post(AP_QUIT);
    run.ok = engine.waitEnded(10s);
    return run;
}

void BM_PositionError(benchmark::State &state)
{
    const int speed = int(state.range(0));
    const bool clicks = state.range(1) != 0;
    const bool keepPitch = state.range(2) != 0;
    std::vector<double> all;
    double cpu = 0;
    for (auto _ : state) {
        Run run = playTenSeconds(speed, clicks, keepPitch);
        if (!run.ok) {
            state.SkipWithError("playback did not run");
            return;
        }
        all.insert(all.end(), run.errorsMs.begin(), run.errorsMs.end());
        cpu = std::max(cpu, run.engineCpuPercent);
    }
    std::sort(all.begin(), all.end());
    state.counters["median_ms"] = all[all.size() / 2];
    state.counters["worst_ms"] = all.back();
    state.counters["samples"] = double(all.size());
    state.counters["engine_cpu_pct"] = cpu;
}
// The second argument mixes clicks at marks into the output: the engine thread's CPU with and
// without them side by side. The third keeps the pitch at the slow speeds (the stretch), whose
// CPU share is of ten seconds of listening.
BENCHMARK(BM_PositionError)
    ->ArgNames({"speed", "clicks", "pitch"})
    ->ArgsProduct({{1, 2, 4}, {0, 1}, {0}})
    ->Args({2, 0, 1})
    ->Args({4, 0, 1})
    ->Args({4, 1, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// From the play command to the first block handed to a device running in real time (which
// starts sounding at once): with the stretch, the first block waits for the stretcher to
// fill it, and a speed's first play makes the stretcher.
void BM_StartToFirstSample(benchmark::State &state)
{
    const int speed = int(state.range(0));
    const bool keepPitch = state.range(1) != 0;
    std::vector<double> ms;
    for (auto _ : state) {
        auto card = std::make_shared<SimulatedSoundCard>(SimulatedSoundCard::Clock::RealTime);
        auto waiter = std::make_shared<Waiter>();
        const auto owner = loadingEngine(card, waiter);
        CAudioPlay &engine = *owner;
        if (!waiter->waitFor(AP_LOADED)) {
            state.SkipWithError("no load");
            return;
        }
        engine.setSpeed(speed);
        engine.setKeepPitch(keepPitch);
        const auto start = std::chrono::steady_clock::now();
        engine.post(AP_PLAY);
        card->waitUntil([](const SimulatedSoundCard::Stats &s) { return s.writes >= 1; });
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        engine.post(AP_QUIT);
        engine.waitEnded(10s);
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["worst_ms"] = ms.back();
}
BENCHMARK(BM_StartToFirstSample)
    ->ArgNames({"speed", "pitch"})
    ->ArgsProduct({{2, 4}, {0, 1}})
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// The interface thread's side: one position reading while the engine plays.
void BM_PositionCall(benchmark::State &state)
{
    auto card = std::make_shared<SimulatedSoundCard>(SimulatedSoundCard::Clock::Driven);
    auto waiter = std::make_shared<Waiter>();
    const auto owner = loadingEngine(card, waiter);
    CAudioPlay &engine = *owner;
    engine.post(AP_PLAY);
    if (!waiter->waitFor(AP_STARTED)) {
        state.SkipWithError("playback did not start");
        return;
    }
    card->advance(100000);
    for (auto _ : state) {
        int32_t ms = 0;
        int32_t frames = 0;
        benchmark::DoNotOptimize(engine.position(ms, frames));
    }
    engine.post(AP_QUIT);
    engine.waitEnded(10s);
}
BENCHMARK(BM_PositionCall);

// The engine on the program's own device, read every 5 ms of wall time for 60 s (or
// VORN_BENCH_SECONDS) at the given speed. The listener's delay is a constant nobody can see
// from here, so the truth is the wall clock (in song time) less the median lag of the readings
// from 0.5 s of song on, and never before 0: while the sound server starts (a second or two on
// a busy machine) nothing is heard yet. The error is what the cursor and the taps would get
// wrong. Skipped without a sound device.
void BM_PositionAgainstWallClock(benchmark::State &state)
{
    const int speed = int(state.range(0));
    const char *secondsText = std::getenv("VORN_BENCH_SECONDS");
    const int seconds = secondsText ? std::max(1, std::atoi(secondsText)) : 60;
    if (!createDefaultSoundDevice() || soundDeviceMissing()) {
        state.SkipWithError("no sound device");
        return;
    }
    struct Reading {
        double wallSongMs;  // wall time since the play reply, in song time
        int32_t ms;
    };
    std::vector<Reading> readings;
    int backwards = 0;
    for (auto _ : state) {
        auto waiter = std::make_shared<Waiter>();
        CAudioPlay engine([waiter](AudioReply reply, int32_t) {
            std::lock_guard<std::mutex> lock(waiter->mutex);
            waiter->replies.push_back(reply);
            waiter->changed.notify_all();
        });
        engine.setPath(songFile(seconds / speed + 5));
        engine.post(AP_LOAD);
        if (!waiter->waitFor(AP_LOADED) || engine.state() != CAudioPlay::Ready) {
            state.SkipWithError("the song did not load");
            return;
        }
        engine.setSpeed(speed);
        engine.post(AP_PLAY);
        if (!waiter->waitFor(AP_STARTED) || engine.state() != CAudioPlay::Playing) {
            state.SkipWithError("playback did not start");
            return;
        }
        const OutputUnderflows before = outputUnderflows();
        const auto start = std::chrono::steady_clock::now();
        int32_t last = -1;
        for (auto at = start; at < start + std::chrono::seconds(seconds); at += 5ms) {
            std::this_thread::sleep_until(at);
            int32_t ms = 0;
            int32_t frames = 0;
            if (engine.position(ms, frames) != 0)
                continue;
            const double wallMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (ms < last)
                ++backwards;
            last = ms;
            readings.push_back({wallMs / speed, ms});
        }
        const OutputUnderflows after = outputUnderflows();
        state.counters["device_underflows"] = double(after.device - before.device);
        state.counters["engine_underflows"] = double(after.engine - before.engine);
        engine.post(AP_QUIT);
        engine.waitEnded(10s);
    }
    std::vector<double> lags;
    for (const Reading &r : readings)
        if (r.ms >= 500)
            lags.push_back(r.wallSongMs - r.ms);
    if (lags.size() < 100) {
        state.SkipWithError("too few readings");
        return;
    }
    std::sort(lags.begin(), lags.end());
    const double median = lags[lags.size() / 2];
    std::vector<double> errors;
    double earlyWorst = 0;  // while nothing is heard yet and in the first 2 s of sound
    double silentWorst = 0; // while nothing is heard yet
    std::vector<double> heard;  // from the first sound on
    for (const Reading &r : readings) {
        const double truth = std::max(0.0, r.wallSongMs - median);
        errors.push_back(std::fabs(r.ms - truth));
        if (truth * speed < 2000)
            earlyWorst = std::max(earlyWorst, errors.back());
        if (truth > 0)
            heard.push_back(errors.back());
        else
            silentWorst = std::max(silentWorst, errors.back());
    }
    std::sort(heard.begin(), heard.end());
    // The sound server may stall and start again (an underrun: a second or two of silence on
    // a busy machine, seen with PortAudio alone as well), which moves the lag for good. Against
    // the median lag of the readings within 0.5 s either way, a reading's error is what the
    // cursor gets wrong here and now: jitter and leaps, not the stalls themselves.
    std::vector<double> local;
    const size_t half = size_t(500 / 5);
    for (size_t i = 0; i < readings.size(); ++i) {
        if (readings[i].ms < 500)
            continue;
        std::vector<double> window;
        for (size_t j = i > half ? i - half : 0; j < std::min(readings.size(), i + half + 1); ++j)
            if (readings[j].ms >= 500)
                window.push_back(readings[j].wallSongMs - readings[j].ms);
        std::nth_element(window.begin(), window.begin() + long(window.size() / 2), window.end());
        local.push_back(std::fabs(readings[i].wallSongMs - readings[i].ms - window[window.size() / 2]));
    }
    // A sound card's clock is never exactly the system's: the null sink here runs 100-200 ppm
    // off the monotonic clock, which a constant lag turns into an error of several ms a
    // minute. Against a straight line fitted to the lags, only the position's own error is left.
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Reading &r : readings)
        if (r.ms >= 500) {
            const double lag = r.wallSongMs - r.ms;
            n += 1, sx += r.wallSongMs, sy += lag, sxx += r.wallSongMs * r.wallSongMs, sxy += r.wallSongMs * lag;
        }
    const double slope = (n * sxy - sx * sy) / std::max(1e-9, n * sxx - sx * sx);
    const double intercept = (sy - slope * sx) / n;
    std::vector<double> fitted;
    for (const Reading &r : readings)
        if (r.ms >= 500)
            fitted.push_back(std::fabs(r.wallSongMs - r.ms - (intercept + slope * r.wallSongMs)));
    std::sort(fitted.begin(), fitted.end());
    state.counters["drift_ppm"] = slope * 1e6;
    state.counters["fitted_median_ms"] = fitted[fitted.size() / 2];
    state.counters["fitted_worst_ms"] = fitted.back();
    std::sort(local.begin(), local.end());
    if (!local.empty()) {
        state.counters["local_median_ms"] = local[local.size() / 2];
        state.counters["local_p99_ms"] = local[local.size() * 99 / 100];
        state.counters["local_worst_ms"] = local.back();
    }
    std::sort(errors.begin(), errors.end());
    state.counters["heard_median_ms"] = heard.empty() ? -1 : heard[heard.size() / 2];
    state.counters["heard_worst_ms"] = heard.empty() ? -1 : heard.back();
    state.counters["before_sound_worst_ms"] = silentWorst;
    state.counters["median_ms"] = errors[errors.size() / 2];
    state.counters["p99_ms"] = errors[errors.size() * 99 / 100];
    state.counters["worst_ms"] = errors.back();
    state.counters["first_2s_worst_ms"] = earlyWorst;
    state.counters["backwards"] = backwards;
    state.counters["lag_ms"] = median * speed;  // wall time: what the device reports as delay
    state.counters["readings"] = double(readings.size());
}
BENCHMARK(BM_PositionAgainstWallClock)->Arg(1)->Arg(2)->Arg(4)->Iterations(1)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace vorn
