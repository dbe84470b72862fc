// SimulatedDevice: a sound device that consumes buffers against a clock, real or test-driven.
#pragma once

#include "audio/sounddevice.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vorn {

class SimulatedDevice;

// The simulated hardware: a clock and a queue of buffers that plays at the opened format's
// rate. It outlives the SimulatedDevice that drives it, so that a test can move its clock,
// watch what was written and make it fail while the engine owns the device.
//
// With the driven clock time stands still until advance() moves it; the notifications that
// fall due are then delivered on the thread that called advance(). With the real-time clock a
// thread of its own delivers them when they fall due.
//
// Playback model: the device plays continuously while buffers are queued; when the queue runs
// dry it waits in silence and the next write starts playing at the time of that write.
// Like a strict wave-out driver it refuses to write an unprepared buffer, to unprepare or
// close while buffers are queued, and to open twice.
//
// Every public member is thread-safe. Notifications are delivered with the card's lock held,
// so they keep their order; the callback must only relay.
class SimulatedSoundCard {
public:
    enum class Clock { RealTime, Driven };
    enum class Call { Open, Prepare, Unprepare, Write, Reset, Close, Position };

    // One buffer as it was handed to write().
    struct Written {
        int64_t startByte = 0;  // bytes written before it since open
        uint8_t head[8] = {};   // its first bytes
        uint64_t hash = 0;      // of all its bytes, to spot later changes
        bool silent = false;    // every byte is the format's silence
        std::vector<uint8_t> bytes; // all of them, when recorded with bytes
    };

    struct Stats {
        bool open = false;
        SoundFormat format;
        int opens = 0;
        int closes = 0;          // successful closes
        int writes = 0;
        int resets = 0;
        int prepares = 0;
        int unprepares = 0;
        int queued = 0;          // buffers written and not yet played or reset
        int buffersDone = 0;     // BufferDone notifications delivered
        int changedWhileQueued = 0; // buffers whose bytes changed between write and done
        int misuse = 0;          // calls refused because they broke the device's rules
        bool closeHeld = false;  // a Closed notification waits for acknowledgeClose()
        bool openHeld = false;   // an Opened notification waits for acknowledgeOpen()
        bool detachedWhileHeld = false; // the driver let go before its close was acknowledged
        bool attached = false;   // a SimulatedDevice drives the card
    };

    explicit SimulatedSoundCard(Clock clock);
    ~SimulatedSoundCard();
    SimulatedSoundCard(const SimulatedSoundCard &) = delete;
    SimulatedSoundCard &operator=(const SimulatedSoundCard &) = delete;

    // Microseconds of device time since the card was made.
    int64_t nowUs() const;
    // Driven clock only: moves time on and delivers what falls due.
    void advance(int64_t microseconds);
    // The bytes a listener would have heard since open at the current time (no notification).
    int64_t bytesPlayed() const;

    // Fault injection. The next call of that kind fails (once).
    void failNext(Call call);
    // The output breaks while open: playing stops, Failed is delivered, and from then on every
    // call but close() fails until the device is opened again.
    void breakOutput();
    // While held, a successful close delivers its Closed only when acknowledgeClose() is called.
    void holdCloseAcknowledgement(bool hold);
    // Delivers a held Closed; false when none was held.
    bool acknowledgeClose();
    // While held, a successful open delivers its Opened only when acknowledgeOpen() is called,
    // or just before the Closed of that run, which keeps the notifications in order.
    void holdOpenAcknowledgement(bool hold);
    bool acknowledgeOpen();

    // Keeps a record of every written buffer (off by default: the program's fallback device
    // plays for hours), with a copy of its bytes when asked to.
    void setRecording(bool on, bool withBytes = false);
    std::vector<Written> written() const;

    Stats stats() const;
    // Waits until the predicate holds for the current stats, or the timeout passes. The
    // predicate is re-evaluated after every change of the card.
    bool waitUntil(const std::function<bool(const Stats &)> &predicate,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    friend class SimulatedDevice;

    struct Queued {
        SoundBuffer *buffer;
        int64_t endByte;  // cumulative bytes written up to and including this buffer
        uint64_t hash;
    };

    // Calls from SimulatedDevice.
    void attach(SimulatedDevice *device);
    void detach(SimulatedDevice *device);
    int32_t open(const SoundFormat &format, SoundCallback callback, void *instance);
    int32_t prepare(SoundBuffer &buffer);
    int32_t unprepare(SoundBuffer &buffer);
    int32_t write(SoundBuffer &buffer);
    int32_t reset();
    int32_t close();
    int32_t position(int64_t &bytesPlayed);

    int64_t nowUsLocked() const;
    int64_t playedLocked(int64_t nowUs) const;
    int64_t dueUsLocked() const;
    void processLocked(int64_t nowUs);
    void notifyLocked(SoundNotification notification);
    bool consumeFailure(Call call);
    void changedLocked() { m_changed.notify_all(); }
    void tickerLoop();

    const Clock m_clock;
    const std::chrono::steady_clock::time_point m_origin;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    int64_t m_drivenNowUs = 0;

    SimulatedDevice *m_device = nullptr;
    SoundCallback m_callback = nullptr;
    void *m_instance = nullptr;
    int64_t m_bytesPerSec = 0;
    std::deque<Queued> m_queue;
    int64_t m_queuedEndByte = 0;   // bytes written since open or reset
    int64_t m_completedBytes = 0;  // bytes of buffers played to their end
    int64_t m_runStartUs = 0;      // when the current stretch of gapless playback began
    int64_t m_runStartByte = 0;    // and at which byte
    bool m_broken = false;
    bool m_heldClose = false;
    bool m_holdClose = false;
    bool m_heldOpen = false;
    bool m_holdOpen = false;
    bool m_recording = false;
    bool m_recordingBytes = false;
    std::vector<Written> m_written;
    std::vector<Call> m_failNext;
    Stats m_stats;

    bool m_stopTicker = false;
    std::thread m_ticker;
};

// The SoundDevice that drives a SimulatedSoundCard. Destroying it closes the card's output
// and stops its notifications.
class SimulatedDevice : public SoundDevice {
public:
    explicit SimulatedDevice(std::shared_ptr<SimulatedSoundCard> card);
    ~SimulatedDevice() override;

    int32_t open(const SoundFormat &format, SoundCallback callback, void *instance) override;
    int32_t prepare(SoundBuffer &buffer) override;
    int32_t unprepare(SoundBuffer &buffer) override;
    int32_t write(SoundBuffer &buffer) override;
    int32_t reset() override;
    int32_t close() override;
    int32_t position(int64_t &bytesPlayed) override;
    std::string name() const override { return "simulated"; }

private:
    std::shared_ptr<SimulatedSoundCard> m_card;
};

} // namespace vorn
