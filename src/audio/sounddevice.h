// SoundDevice: the small double-buffered output that the playback engine drives.
#pragma once

#include <cstdint>
#include <string>

namespace vorn {

// What the device is opened with: the song's layout at the rate it is to be played at (the
// file's rate divided by the playback speed).
struct SoundFormat {
    int32_t channels = 0;       // 1 or 2
    int32_t bitsPerSample = 0;  // 8 (unsigned) or 16 (signed little-endian)
    uint32_t samplesPerSec = 0; // frames per second of device time
    int32_t blockAlign = 0;     // bytes per frame = channels * bitsPerSample / 8
};

// One block of samples handed to the device. The caller owns the memory; from write() until
// its BufferDone notification (or a reset) the device reads it and the caller must not touch
// the bytes.
struct SoundBuffer {
    uint8_t *data = nullptr;
    int32_t length = 0;     // bytes, a multiple of blockAlign
    bool prepared = false;  // set by prepare(), cleared by unprepare()
};

enum class SoundNotification {
    Opened,     // once per successful open()
    Closed,     // once per successful close()
    BufferDone, // once for each written buffer that has been played to its end
    Failed,     // the device stopped by itself while open (stream error, unplugged output)
};

// Called by the device with the instance given to open(). It may run on a thread of the
// device or inside open() and close(); it must only relay (post a message, set a flag) and
// must never call back into the device.
using SoundCallback = void (*)(void *instance, SoundNotification notification);

// Double-buffered output with the meaning of the classic wave-out calls: open with a format and
// a notification callback, prepare the buffers, write them in turn, reset (drop what is queued,
// position back to 0) and close.
//
// Threads: the device does not serialise its callers; the engine holds one lock around every
// call. Notifications arrive in order: every notification of one open-close run comes before
// the Opened of the next, and after the Closed of a run nothing more of it arrives. Buffers
// dropped by reset() get no BufferDone. Destroying the device closes it and stops all
// notifications before the destructor returns.
//
// Results are the system's int32 codes: 0 success, -1 failure.
class SoundDevice {
public:
    virtual ~SoundDevice() = default;

    virtual int32_t open(const SoundFormat &format, SoundCallback callback, void *instance) = 0;
    virtual int32_t prepare(SoundBuffer &buffer) = 0;
    virtual int32_t unprepare(SoundBuffer &buffer) = 0;
    // Queues a prepared buffer behind those already queued; playback starts with the first.
    virtual int32_t write(SoundBuffer &buffer) = 0;
    virtual int32_t reset() = 0;
    virtual int32_t close() = 0;
    // Bytes the listener has heard since open (or since the last reset), a multiple of
    // blockAlign. Fails when the device is not open.
    virtual int32_t position(int64_t &bytesPlayed) = 0;
    // Which output this is, for settings kept per output (UTF-8).
    virtual std::string name() const { return "default"; }
};

} // namespace vorn
