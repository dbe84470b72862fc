// CAudioPlay: the playback engine, one worker thread per song with its own message queue.
#pragma once

#include "audio/audioclip.h"
#include "audio/markclicks.h"
#include "audio/sounddevice.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace vorn {

// Messages posted to the engine thread. The device notifications are posted by the engine's
// own device callback; AP_PLAY, AP_STOP, AP_PAUSE, AP_SEEK, AP_LOAD and AP_QUIT come from the
// interface thread.
enum AudioMessage : int32_t {
    AP_LOAD = 0x40B,
    AP_PLAY = 0x40C,
    AP_STOP = 0x40D,
    AP_PAUSE = 0x40E,
    AP_QUIT = 0x40F,
    AP_SEEK = 0x410,  // wParam: time-line position in sample frames
    AP_DEVICE_OPENED = 0x421,
    AP_DEVICE_CLOSED = 0x422,
    AP_BUFFER_DONE = 0x423,
    AP_DEVICE_FAILED = 0x424,  // the output broke while open (stream error, unplugged)
};

// Replies posted by the engine thread to its owner.
enum AudioReply : int32_t {
    AP_LOADED = 0x415,     // 0 loaded, 1 failed (the engine then ends)
    AP_STARTED = 0x416,    // 0 playing, 1 the device could not be opened or started
    AP_STOPPED = 0x417,    // 0 stopped, 1 the device failed and playback stopped
    AP_PAUSED = 0x418,     // 0 paused, 1 the device failed while pausing
    AP_RESTARTED = 0x41A,  // 0: playing again after a seek
    AP_FINISHED = 0x41B,   // 0: the read position reached the end of the time line
};

// Receives the engine's replies. Called on the engine thread, in order, until the engine
// thread ends (which may be after the CAudioPlay handle has been dropped): capture nothing that
// may die first. The desktop wraps it in a queued call to its own thread.
using AudioReplySink = std::function<void(AudioReply reply, int32_t wParam)>;

// Makes the sound device of an engine; called once on the engine thread, during the load.
using SoundDeviceFactory = std::function<std::unique_ptr<SoundDevice>()>;

struct AudioPlayOptions {
    // How long a quit waits for the device to acknowledge its close before giving up on it.
    std::chrono::milliseconds closeAcknowledgeTimeout{3000};
};

// The playback engine of one song. The object is the interface thread's handle on a worker
// thread that owns the song (AudioClip), the two 64 KiB playback blocks and the sound device.
//
// States: Ready -AP_PLAY-> Opening -opened-> Playing; Playing -AP_SEEK-> Seeking -closed,
// reopened-> Playing (AP_RESTARTED); Playing, Opening or Seeking -AP_STOP/AP_PAUSE-> Stopping
// or Pausing -closed-> Ready. Playing reaches the end -> Ready (AP_FINISHED), and the device is
// closed once the queued blocks have played. Whenever the device refuses a call or reports a
// failure, it is closed and the engine returns to Ready with a reply whose wParam is 1.
// Playback always starts on a 64 KiB boundary of the song: seeking rounds up to one, and a
// pause keeps the read position, so that resuming skips the blocks that were queued.
//
// Threads: every member is called from the interface thread. Commands are posted and answered
// through the reply sink; no member waits for the engine thread except position(), which waits
// at most a few milliseconds for the device lock. Posting AP_QUIT ends the thread without
// waiting; the handle may be dropped at any time (dropping it posts AP_QUIT), and whatever the
// thread still uses lives until the thread has ended.
class CAudioPlay {
public:
    enum State : int32_t {
        Empty = 0,
        Ready = 1,
        Opening = 2,
        Playing = 3,
        Stopping = 4,
        Pausing = 5,
        Seeking = 6,
    };

    using Options = AudioPlayOptions;

    // Starts the engine thread. Without a factory the program's default device is used
    // (PortAudio, or the simulated real-time device when there is no output).
    CAudioPlay(AudioReplySink sink, SoundDeviceFactory deviceFactory = {}, Options options = {});
    ~CAudioPlay();
    CAudioPlay(const CAudioPlay &) = delete;
    CAudioPlay &operator=(const CAudioPlay &) = delete;

    // The song to load; call before posting AP_LOAD.
    void setPath(const std::filesystem::path &path);
    void post(AudioMessage message, int32_t wParam = 0);

    State state() const;
    // Sample frame that the next buffer will be filled from (a multiple of 64 KiB of bytes).
    int32_t readPosition() const;
    // What the listener hears now, in song time at any speed: 0 with ms and frames set, or -1
    // (outputs untouched) when no device is playing or the device is busy.
    int32_t position(int32_t &ms, int32_t &frames) const;
    // What the listener heard at `at` on the steady clock (a moment just past, such as a key
    // press): the position now less the song played since, never before the start of the
    // current device run. A moment in the future counts as now. Results as position().
    int32_t positionAt(std::chrono::steady_clock::time_point at, int32_t &ms, int32_t &frames) const;

    // The name of the sound device the song plays on (SoundDevice::name); empty before
    // AP_LOADED(0).
    std::string deviceName() const;
    // The song. Read it only after AP_LOADED(0); change it only through the setters below.
    const AudioClip &clip() const;
    // 1, 2 or 4; takes effect at the next play. Offered while Ready.
    void setSpeed(int32_t divisor);
    // At half and quarter speed: true stretches the song so that it keeps its pitch, false
    // plays it slower and lower. Takes effect at the next play; off until set.
    void setKeepPitch(bool keep);
    // Plays song frames [firstFrame, endFrame) over and over from the next play on (a play
    // outside them starts at firstFrame); an empty range plays no loop.
    void setLoop(int32_t firstFrame, int32_t endFrame);
    // The scenario's video length; raises the clip's end position.
    void setVideoLength(int32_t ms);
    // Clicks to mix into the output at these marks from the next block filled on (about the
    // next 0.4 s of song at normal speed); null for none.
    void setMarkClicks(std::shared_ptr<const MarkClicks> clicks);

    // Waits until the engine thread has ended; true when it has.
    bool waitEnded(std::chrono::milliseconds timeout) const;
    // True while the engine thread waits for the device to acknowledge its close at quit.
    bool quitWaiting() const;
    // CPU time the engine thread has used so far, in nanoseconds (for measurements).
    int64_t threadCpuNs() const;

    // Waits until every engine thread of the process has ended (program exit); true when
    // none is left.
    static bool waitForAllEngines(std::chrono::milliseconds timeout);

    class Engine;

private:
    std::shared_ptr<Engine> m_engine;
};

} // namespace vorn
