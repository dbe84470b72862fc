// Tests of the PortAudio output on this machine's default device (skipped without one, e.g.
// without a PulseAudio server), and of the fallback to the simulated device.
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

// What a device or an engine said, in order; shared, so that it outlives an early return.
template<typename Event> struct Log {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Event> events;

    void add(Event e)
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(e);
        changed.notify_all();
    }
    static void callback(void *instance, Event e) { static_cast<Log *>(instance)->add(e); }
    bool waitFor(Event e, int count = 1)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return std::count(events.begin(), events.end(), e) >= count; });
    }
};
using Notifications = Log<SoundNotification>;

// Opens `device` for 16-bit stereo, plays `blocks` 64 KiB blocks of silence through two
// buffers, each written again as soon as it is reported done, and closes it: the position
// never runs backwards nor ahead of what the device took, and counts from 0 again after a reset.
void playBlocks(SoundDevice &device, int blocks)
{
    Notifications notifications;
    ASSERT_EQ(device.open({2, 16, 44100, 4}, &Notifications::callback, &notifications), 0);
    ASSERT_TRUE(notifications.waitFor(SoundNotification::Opened));
    int64_t bytes = -1;
    ASSERT_EQ(device.position(bytes), 0);
    EXPECT_EQ(bytes, 0);
    std::vector<uint8_t> memory(2 * 65536, 0);
    SoundBuffer buffers[2] = {{memory.data(), 65536, false}, {memory.data() + 65536, 65536, false}};
    EXPECT_EQ(device.write(buffers[0]), -1);  // not prepared
    for (SoundBuffer &buffer : buffers) {
        ASSERT_EQ(device.prepare(buffer), 0);
        ASSERT_EQ(device.write(buffer), 0);
    }
    int64_t previous = 0;
    for (int done = 1; done <= blocks; ++done) {
        ASSERT_TRUE(notifications.waitFor(SoundNotification::BufferDone, done));
        ASSERT_EQ(device.position(bytes), 0);
        EXPECT_GE(bytes, previous);
        EXPECT_LE(bytes, int64_t(done + 1) * 65536);
        EXPECT_EQ(bytes % 4, 0);
        previous = bytes;
        if (done + 2 <= blocks) {
            ASSERT_EQ(device.write(buffers[(done + 1) % 2]), 0);
        }
    }
    EXPECT_EQ(device.reset(), 0);
    ASSERT_EQ(device.position(bytes), 0);
    EXPECT_EQ(bytes, 0);
    for (SoundBuffer &buffer : buffers)
        EXPECT_EQ(device.unprepare(buffer), 0);
    EXPECT_EQ(device.close(), 0);
    ASSERT_TRUE(notifications.waitFor(SoundNotification::Closed));
    EXPECT_EQ(device.position(bytes), -1);
    EXPECT_EQ(device.close(), -1);
}

TEST(PortAudioDevice, PlaysBuffersInTurnAndTheEnginePlaysASongToTheEnd)
{
    if (!PortAudioDevice().hasOutput())
        GTEST_SKIP() << "no default output device (no sound server, no ALSA default PCM)";
    PortAudioDevice device;
    playBlocks(device, 6);

    const test::TempDir dir;
    const auto path = dir.path() / "song.wav";
    test::writeFile(path, test::wavBytes({}, test::indexData(2 * 65536, 16)));
    auto log = std::make_shared<Log<AudioReply>>();
    CAudioPlay engine([log](AudioReply reply, int32_t) { log->add(reply); });
    engine.setPath(path);
    engine.post(AP_LOAD);
    ASSERT_TRUE(log->waitFor(AP_LOADED));
    engine.post(AP_PLAY);
    ASSERT_TRUE(log->waitFor(AP_STARTED));
    ASSERT_TRUE(log->waitFor(AP_FINISHED));
    EXPECT_EQ(engine.state(), CAudioPlay::Ready);
    engine.post(AP_QUIT);
    EXPECT_TRUE(engine.waitEnded(10s));
}

// Runs on every machine: without an output the program still gets a working device.
TEST(DefaultSoundDevice, FallsBackToTheSimulatedDeviceAndSaysSoOnce)
{
    const bool output = PortAudioDevice().hasOutput();
    ::testing::internal::CaptureStderr();
    std::unique_ptr<SoundDevice> first = createDefaultSoundDevice();
    std::unique_ptr<SoundDevice> second = createDefaultSoundDevice();
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(dynamic_cast<SimulatedDevice *>(first.get()) != nullptr, !output);
    EXPECT_EQ(soundDeviceMissing(), !output);
    const size_t at = said.find(NoSoundDeviceMessage);
    EXPECT_EQ(at != std::string::npos, !output) << said;
    EXPECT_EQ(said.find(NoSoundDeviceMessage, at + 1), std::string::npos) << said;
    playBlocks(*first, 2);
}

} // namespace
} // namespace vorn
