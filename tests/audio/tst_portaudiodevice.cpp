// Tests of the PortAudio output on this machine's default device; skipped without one.
#include "audio/caudioplay.h"
#include "audio/portaudio/portaudiodevice.h"
#include "audio/simulateddevice.h"
#include "support/tempdir.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace vorn {
namespace {

using namespace std::chrono_literals;

constexpr const char *NoOutput =
    "PortAudio has no default output device on this machine (no sound card, no ALSA default "
    "PCM); the engine falls back to the simulated device there";

struct Notifications {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<SoundNotification> log;

    static void callback(void *instance, SoundNotification notification)
    {
        auto *self = static_cast<Notifications *>(instance);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->log.push_back(notification);
        self->changed.notify_all();
    }
    bool waitFor(SoundNotification notification, int count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 20s, [&] {
            return std::count(log.begin(), log.end(), notification) >= count;
        });
    }
};

TEST(PortAudioDevice, PlaysBuffersInTurnAndReportsWhatWasHeard)
{
    PortAudioDevice device;
    if (!device.hasOutput())
        GTEST_SKIP() << NoOutput;

    SoundFormat format{2, 16, 44100, 4};
    Notifications notifications;
    ASSERT_EQ(device.open(format, &Notifications::callback, &notifications), 0);
    ASSERT_TRUE(notifications.waitFor(SoundNotification::Opened, 1));
    int64_t bytes = -1;
    ASSERT_EQ(device.position(bytes), 0);
    EXPECT_EQ(bytes, 0);

    std::vector<uint8_t> blocks[2] = {std::vector<uint8_t>(65536, 0), std::vector<uint8_t>(65536, 0)};
    SoundBuffer buffers[2];
    for (int i = 0; i < 2; ++i) {
        buffers[i].data = blocks[i].data();
        buffers[i].length = 65536;
        ASSERT_EQ(device.prepare(buffers[i]), 0);
    }
    SoundBuffer unprepared{blocks[0].data(), 65536, false};
    EXPECT_EQ(device.write(unprepared), -1);
    // Eight blocks, each written again as soon as it is reported done.
    ASSERT_EQ(device.write(buffers[0]), 0);
    ASSERT_EQ(device.write(buffers[1]), 0);
    int64_t previous = 0;
    int64_t firstBytes = -1;
    std::chrono::steady_clock::time_point firstTime;
    for (int done = 1; done <= 6; ++done) {
        ASSERT_TRUE(notifications.waitFor(SoundNotification::BufferDone, done));
        const auto now = std::chrono::steady_clock::now();
        ASSERT_EQ(device.position(bytes), 0);
        // What is heard never runs backwards, nor ahead of what the stream has taken.
        EXPECT_GE(bytes, previous);
        EXPECT_LE(bytes, int64_t(done + 1) * 65536);
        EXPECT_EQ(bytes % 4, 0);
        previous = bytes;
        if (done == 2) {
            firstBytes = bytes;
            firstTime = now;
        }
        if (done == 6) {
            // Between two readings the position moves at the rate of the format.
            const double seconds = std::chrono::duration<double>(now - firstTime).count();
            const double rate = double(bytes - firstBytes) / seconds;
            EXPECT_NEAR(rate, 176400.0, 176400.0 * 0.05);
        }
        if (done <= 4) {
            ASSERT_EQ(device.write(buffers[(done + 1) % 2]), 0);
        }
    }
    EXPECT_EQ(device.reset(), 0);
    ASSERT_EQ(device.position(bytes), 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(device.unprepare(buffers[0]), 0);
    EXPECT_EQ(device.unprepare(buffers[1]), 0);
    EXPECT_EQ(device.close(), 0);
    ASSERT_TRUE(notifications.waitFor(SoundNotification::Closed, 1));
    EXPECT_EQ(device.position(bytes), -1);
    EXPECT_EQ(device.close(), -1);
}

TEST(PortAudioDevice, TheEnginePlaysASongToTheEndOnTheDefaultDevice)
{
    {
        PortAudioDevice probe;
        if (!probe.hasOutput())
            GTEST_SKIP() << NoOutput;
    }
    const test::TempDir dir;  // removed also when an assertion returns early
    const auto path = dir.path() / "song.wav";
    test::WavLayout wav;
    test::writeFile(path, test::wavBytes(wav, test::indexData(2 * 65536, 16)));

    // The sink may outlive this scope if an assertion returns early: it owns what it touches.
    struct Log {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<AudioReply> replies;
    };
    auto log = std::make_shared<Log>();
    CAudioPlay engine([log](AudioReply reply, int32_t) {
        std::lock_guard<std::mutex> lock(log->mutex);
        log->replies.push_back(reply);
        log->changed.notify_all();
    });
    auto waitFor = [log](AudioReply reply) {
        std::unique_lock<std::mutex> lock(log->mutex);
        return log->changed.wait_for(lock, 20s, [&] {
            return std::find(log->replies.begin(), log->replies.end(), reply) != log->replies.end();
        });
    };
    engine.setPath(path);
    engine.post(AP_LOAD);
    ASSERT_TRUE(waitFor(AP_LOADED));
    engine.post(AP_PLAY);
    ASSERT_TRUE(waitFor(AP_STARTED));
    ASSERT_TRUE(waitFor(AP_FINISHED));
    EXPECT_EQ(engine.state(), CAudioPlay::Ready);
    engine.post(AP_QUIT);
    EXPECT_TRUE(engine.waitEnded(10s));
}

// Runs on every machine: without an output the program still gets a working device.
TEST(DefaultSoundDevice, FallsBackToTheSimulatedDeviceAndSaysSoOnce)
{
    bool hasOutput = false;
    {
        PortAudioDevice probe;
        hasOutput = probe.hasOutput();
    }
    ::testing::internal::CaptureStderr();
    std::unique_ptr<SoundDevice> first = createDefaultSoundDevice();
    std::unique_ptr<SoundDevice> second = createDefaultSoundDevice();
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(dynamic_cast<SimulatedDevice *>(first.get()) != nullptr, !hasOutput);
    EXPECT_EQ(soundDeviceMissing(), !hasOutput);
    size_t times = 0;
    for (size_t at = said.find(NoSoundDeviceMessage); at != std::string::npos;
         at = said.find(NoSoundDeviceMessage, at + 1))
        ++times;
    EXPECT_EQ(times, hasOutput ? 0u : 1u) << said;

    // The device opens, takes a buffer and reports a position from 0 on.
    SoundFormat format{2, 16, 44100, 4};
    Notifications notifications;
    ASSERT_EQ(first->open(format, &Notifications::callback, &notifications), 0);
    ASSERT_TRUE(notifications.waitFor(SoundNotification::Opened, 1));
    std::vector<uint8_t> block(65536, 0);
    SoundBuffer buffer{block.data(), 65536, false};
    ASSERT_EQ(first->prepare(buffer), 0);
    ASSERT_EQ(first->write(buffer), 0);
    int64_t bytes = -1;
    ASSERT_EQ(first->position(bytes), 0);
    EXPECT_GE(bytes, 0);
    EXPECT_LE(bytes, 65536);
    EXPECT_EQ(first->reset(), 0);
    EXPECT_EQ(first->unprepare(buffer), 0);
    EXPECT_EQ(first->close(), 0);
    ASSERT_TRUE(notifications.waitFor(SoundNotification::Closed, 1));
}

} // namespace
} // namespace vorn
