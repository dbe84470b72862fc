// PortAudioDevice: the real sound output, and the choice of device the program plays on.
#pragma once

#include "audio/sounddevice.h"

#include <memory>

namespace vorn {

// Plays on PortAudio's default output with the low latency PortAudio suggests for it. Buffers
// are copied to the stream from its realtime callback, which relays each finished buffer to a
// thread of the device that delivers the notifications. position() is what the listener hears
// now: each callback reports when its first byte will be heard (PortAudio's DAC time), and a
// PlaybackClock follows those reports on the steady clock, so the position moves smoothly
// between them and never goes back.
//
// PortAudio is initialised while at least one device object exists. ALSA's and JACK's
// diagnostics on stderr are silenced for the process.
class PortAudioDevice : public SoundDevice {
public:
    PortAudioDevice();
    ~PortAudioDevice() override;
    PortAudioDevice(const PortAudioDevice &) = delete;
    PortAudioDevice &operator=(const PortAudioDevice &) = delete;

    // True when PortAudio started and has a default output device.
    bool hasOutput() const;

    int32_t open(const SoundFormat &format, SoundCallback callback, void *instance) override;
    int32_t prepare(SoundBuffer &buffer) override;
    int32_t unprepare(SoundBuffer &buffer) override;
    int32_t write(SoundBuffer &buffer) override;
    int32_t reset() override;
    int32_t close() override;
    int32_t position(int64_t &bytesPlayed) override;
    // The host API and the device PortAudio plays on, e.g. "ALSA: default".
    std::string name() const override;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// The device an engine plays on: PortAudio when it has an output device, else a simulated
// device on the real clock, so that the cursor still moves and marks are still placed. The
// first time there is no output this is said once on stderr.
std::unique_ptr<SoundDevice> createDefaultSoundDevice();

// True once createDefaultSoundDevice() has fallen back to the simulated device (for the
// status bar).
bool soundDeviceMissing();

// Callbacks since the process started in which PortAudio said the device had run dry
// (`device`), and in which the engine had not queued enough to fill the buffer (`engine`): to
// tell a sound server's stalls from ours.
struct OutputUnderflows {
    uint64_t device = 0;
    uint64_t engine = 0;
};
OutputUnderflows outputUnderflows();

// What the program says when there is no sound device (UTF-8).
extern const char *const NoSoundDeviceMessage;

} // namespace vorn
