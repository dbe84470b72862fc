// Tests of the PortAudio output on this machine's default device (skipped without one, e.g.
// without a PulseAudio server), and of the fallback to the simulated device.
#include "audio/caudioplay.h"
#include "audio/portaudio/portaudiodevice.h"
#include "audio/simulateddevice.h"
#include "said.h"
#include "support/tempdir.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace vorn {
namespace {

using namespace std::chrono_literals;

using Notifications = test::Said<SoundNotification>;

// Opens `device` for 16-bit stereo, plays `blocks` 64 KiB blocks of silence through two
// buffers, each written again as soon as it is reported done, and closes it: the position
// never runs backwards nor ahead of what the device took, and counts from 0 again after a reset.
void playBlocks(SoundDevice &device, int blocks)
{
    Notifications notifications;
    ASSERT_EQ(device.open({2, 16, 44100, 4}, &Notifications::callback, &notifications), 0);
    ASSERT_EQ(notifications.waitFor(SoundNotification::Opened).first, 1);
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
        ASSERT_GE(notifications.waitFor(SoundNotification::BufferDone, done).first, done);
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
    ASSERT_EQ(notifications.waitFor(SoundNotification::Closed).first, 1);
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
    auto log = std::make_shared<test::Said<AudioReply>>();  // outlives an early return
    CAudioPlay engine([log](AudioReply reply, int32_t) { log->add(reply); });
    engine.setPath(path);
    engine.post(AP_LOAD);
    ASSERT_EQ(log->waitFor(AP_LOADED).first, 1);
    engine.post(AP_PLAY);
    ASSERT_EQ(log->waitFor(AP_STARTED).first, 1);
    ASSERT_EQ(log->waitFor(AP_FINISHED).first, 1);
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
    ASSERT_TRUE(first && second);
    EXPECT_EQ(dynamic_cast<SimulatedDevice *>(first.get()) != nullptr, !output);
    EXPECT_EQ(soundDeviceMissing(), !output);
    const size_t at = said.find(NoSoundDeviceMessage);
    EXPECT_EQ(at != std::string::npos, !output) << said;
    EXPECT_EQ(said.find(NoSoundDeviceMessage, at + 1), std::string::npos) << said;
    playBlocks(*first, 2);
}

} // namespace
} // namespace vorn
