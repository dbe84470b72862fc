// CAudioPlay: the playback thread, its message handling, double buffering and position.
#include "audio/caudioplay.h"

#include "audio/portaudio/portaudiodevice.h"
#include "audio/timestretch.h"
#include "base/check.h"
#include "base/saturate.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <thread>

namespace vorn {

namespace {

constexpr int32_t BlockBytes = AudioClip::BlockBytes;

// Held around every sound-device call of every engine: the interface thread asks for the
// position while the engine thread drives the device.
// Never destroyed: an engine thread may still be closing its device while the program exits.
std::mutex &deviceLock()
{
    static std::mutex *lock = new std::mutex;
    return *lock;
}

// The interface thread's 5 ms tick would rather skip a reading than stall behind a slow
// device call (an open can take a while): it tries the lock for at most this long.
constexpr std::chrono::milliseconds PositionLockWait{20};

bool lockWithin(std::unique_lock<std::mutex> &lock, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!lock.try_lock()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// Live engine threads, so that the program can let them finish before it exits.
struct EngineCount {
    std::mutex mutex;
    std::condition_variable changed;
    int live = 0;
};

EngineCount &engineCount()
{
    static EngineCount *count = new EngineCount;  // outlives detached engine threads
    return *count;
}

} // namespace

class CAudioPlay::Engine {
public:
    Engine(AudioReplySink sink, SoundDeviceFactory factory, Options options)
        : m_sink(std::move(sink)), m_factory(std::move(factory)), m_options(options)
    {
    }

    void post(int32_t message, int32_t wParam)
    {
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (m_ended)
                return;
            m_queue.push_back({message, wParam});
        }
        m_queueChanged.notify_one();
    }

    void run();
    bool waitEnded(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_queueMutex);
        return m_queueChanged.wait_for(lock, timeout, [this] { return m_ended; });
    }

    int32_t positionAt(std::chrono::steady_clock::time_point at, int32_t &ms, int32_t &frames) const;
    void setPath(const std::filesystem::path &path);
    void setSpeed(int32_t divisor);
    void setVideoLength(int32_t ms);
    void setLoop(int32_t first, int32_t end)
    {
        std::lock_guard<std::mutex> lock(m_clicksMutex);
        m_loopFirst = first;
        m_loopEnd = end;
    }
    std::mutex &clipMutex() const { return m_clipMutex; }
    const std::string &deviceNameLocked() const { return m_deviceName; }
    void setMarkClicks(std::shared_ptr<const MarkClicks> clicks)
    {
        std::lock_guard<std::mutex> lock(m_clicksMutex);
        m_clicks = std::move(clicks);
    }

    std::atomic<int32_t> m_state{Empty};
    std::atomic<int32_t> m_readPosition{0};
    std::atomic<bool> m_quitWait{false};
    std::atomic<bool> m_keepPitch{false};
    std::atomic<bool> m_hasCpuClock{false};
    std::atomic<clockid_t> m_cpuClock{};
    AudioClip m_clip;

private:
    struct Message {
        int32_t message;
        int32_t wParam;
    };

    static void deviceCallback(void *instance, SoundNotification notification);

    bool popMessage(Message &message, std::chrono::steady_clock::time_point deadline, bool timed);
    bool handle(const Message &message);
    void reply(AudioReply reply, int32_t wParam)
    {
        if (m_sink)
            m_sink(reply, wParam);
    }

    bool load();
    void play();
    void start();
    void refill();
    void stop();
    void pause();
    void seek(int32_t position);
    void deviceClosed();
    void deviceFailed();
    void quit();

    bool openDevice();
    bool closeDevice(bool resetFirst);
    bool fill();
    void readSong(uint8_t *dst, int32_t frames, int32_t clickDivisor);
    int64_t wrapSong(int64_t frame) const;
    bool queue();
    void closeIfDrained();
    void abandonPlayback(AudioReply reply);
    template<typename Call> int32_t deviceCall(Call call)
    {
        std::lock_guard<std::mutex> lock(deviceLock());
        return call(*m_device);
    }

    AudioReplySink m_sink;
    SoundDeviceFactory m_factory;
    const Options m_options;

    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::deque<Message> m_queue;
    bool m_ended = false;

    // Guards the clip's setters against the load and the open on the engine thread.
    mutable std::mutex m_clipMutex;
    bool m_loadInProgress = false;
    bool m_loaded = false;
    int32_t m_pendingVideoLengthMs = -1;
    std::string m_deviceName;

    // Read by position() on the interface thread: the device pointer and the base position
    // change only under the device lock; the format values are set once by the load.
    std::unique_ptr<SoundDevice> m_device;
    int32_t m_basePosition = 0;
    int64_t m_deviceBytesPerSec = 0;  // bytes the open device plays per second of wall time
    int32_t m_positionDivisor = 1;    // device frames per song frame: the stretch's divisor, or 1
    int32_t m_runLoopFirst = 0;       // the run's loop [first, end) in song frames; empty: none
    int32_t m_runLoopEnd = 0;
    std::atomic<int32_t> m_blockAlign{0};
    std::atomic<uint32_t> m_avgBytesPerSec{0};

    // Set by the interface thread, read by fill().
    std::mutex m_clicksMutex;
    std::shared_ptr<const MarkClicks> m_clicks;
    int32_t m_loopFirst = 0;
    int32_t m_loopEnd = 0;

    // Engine thread only.
    SoundFormat m_runFormat;   // the format and speed of the device run
    int32_t m_runDivisor = 1;
    uint32_t m_songRate = 0;
    std::unique_ptr<TimeStretch> m_stretch;  // kept between runs of the same speed
    bool m_runStretched = false;
    int64_t m_runOutFrames = 0;              // device frames filled in this run
    std::unique_ptr<uint8_t[]> m_feedBlock;  // song frames on their way into the stretch
    std::unique_ptr<uint8_t[]> m_blocks[2];
    SoundBuffer m_headers[2];
    int32_t m_bufferIndex = 0;
    bool m_filled[2] = {false, false};
    bool m_deviceOpen = false;       // opened and not yet closed by us
    bool m_deviceNeedsClose = false; // a close failed: try again before the next open
    int32_t m_queuedBuffers = 0;     // written in this run and not yet reported done
    // Notifications still owed by the device. Each run's notifications arrive before the
    // next run's Opened, so while a Closed is owed every BufferDone or Failed belongs to a run
    // already closed, and only the last owed Opened belongs to the open device.
    int32_t m_opensPending = 0;
    int32_t m_closesPending = 0;
};

void CAudioPlay::Engine::deviceCallback(void *instance, SoundNotification notification)
{
    // Relays only: the engine thread does the work.
    auto *engine = static_cast<Engine *>(instance);
    switch (notification) {
    case SoundNotification::Opened:
        engine->post(AP_DEVICE_OPENED, 0);
        break;
    case SoundNotification::Closed:
        engine->post(AP_DEVICE_CLOSED, 0);
        break;
    case SoundNotification::BufferDone:
        engine->post(AP_BUFFER_DONE, 0);
        break;
    case SoundNotification::Failed:
        engine->post(AP_DEVICE_FAILED, 0);
        break;
    }
}

bool CAudioPlay::Engine::popMessage(Message &message, std::chrono::steady_clock::time_point deadline,
                                    bool timed)
{
    std::unique_lock<std::mutex> lock(m_queueMutex);
    auto ready = [this] { return !m_queue.empty(); };
    if (timed) {
        if (!m_queueChanged.wait_until(lock, deadline, ready))
            return false;
    } else {
        m_queueChanged.wait(lock, ready);
    }
    message = m_queue.front();
    m_queue.pop_front();
    return true;
}

void CAudioPlay::Engine::run()
{
    clockid_t clock{};
    if (pthread_getcpuclockid(pthread_self(), &clock) == 0) {
        m_cpuClock.store(clock);
        m_hasCpuClock.store(true);
    }

    for (;;) {
        Message message{};
        popMessage(message, {}, false);
        if (!handle(message))
            break;
    }

    // Nothing of the device may outlive the thread: its callback points at this object.
    {
        std::lock_guard<std::mutex> lock(deviceLock());
        if (m_device && m_deviceOpen) {
            m_device->reset();
            for (SoundBuffer &header : m_headers)
                if (header.prepared)
                    m_device->unprepare(header);
            m_device->close();
        }
        m_device.reset();
    }
    m_blocks[0].reset();
    m_blocks[1].reset();
    m_hasCpuClock.store(false);
    m_state.store(Empty);
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_ended = true;
        m_queue.clear();
    }
    m_queueChanged.notify_all();
}

bool CAudioPlay::Engine::handle(const Message &message)
{
    switch (message.message) {
    case AP_LOAD:
        return load();
    case AP_PLAY:
        play();
        break;
    case AP_STOP:
        stop();
        break;
    case AP_PAUSE:
        pause();
        break;
    case AP_QUIT:
        quit();
        return false;
    case AP_SEEK:
        seek(message.wParam);
        break;
    case AP_DEVICE_OPENED:
        start();
        break;
    case AP_DEVICE_CLOSED:
        deviceClosed();
        break;
    case AP_BUFFER_DONE:
        refill();
        break;
    case AP_DEVICE_FAILED:
        deviceFailed();
        break;
    default:
        break;
    }
    return true;
}

bool CAudioPlay::Engine::load()
{
    if (m_state.load() != Empty || m_loaded) {
        // A second load must not end an engine that already holds its song.
        reply(AP_LOADED, 1);
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(m_clipMutex);
        m_loadInProgress = true;
    }
    bool ok = m_clip.load();
    if (ok) {
        // Zeroed, like the blocks the headers point at from the start.
        m_blocks[0].reset(new (std::nothrow) uint8_t[BlockBytes]());
        m_blocks[1].reset(new (std::nothrow) uint8_t[BlockBytes]());
        const size_t feedBytes = size_t(TimeStretch::MaxFeedFrames) * size_t(std::max(1, m_clip.blockAlign()));
        m_feedBlock.reset(new (std::nothrow) uint8_t[feedBytes]());
        ok = m_blocks[0] && m_blocks[1] && m_feedBlock;
    }
    std::unique_ptr<SoundDevice> device;
    if (ok) {
        device = m_factory ? m_factory() : createDefaultSoundDevice();
        // Without a device the song still loads; playing then answers AP_STARTED(1).
    }
    {
        std::lock_guard<std::mutex> lock(m_clipMutex);
        m_loadInProgress = false;
        m_loaded = ok;
        if (device)
            m_deviceName = device->name();
        if (ok && m_pendingVideoLengthMs >= 0)
            m_clip.setVideoLength(m_pendingVideoLengthMs);
        m_pendingVideoLengthMs = -1;
    }
    if (!ok) {
        reply(AP_LOADED, 1);
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        m_headers[i].data = m_blocks[i].get();
        m_headers[i].length = BlockBytes;
        m_headers[i].prepared = false;
    }
    m_blockAlign.store(m_clip.blockAlign());
    m_avgBytesPerSec.store(m_clip.avgBytesPerSec());
    {
        std::lock_guard<std::mutex> lock(deviceLock());
        m_device = std::move(device);
        m_basePosition = 0;
    }
    m_readPosition.store(0);
    m_state.store(Ready);
    reply(AP_LOADED, 0);
    return true;
}

bool CAudioPlay::Engine::openDevice()
{
    if (!m_device)
        return false;
    if (m_deviceNeedsClose) {
        if (deviceCall([](SoundDevice &d) { return d.close(); }) == 0)
            ++m_closesPending;
        m_deviceNeedsClose = false;
    }
    SoundFormat format;
    {
        std::lock_guard<std::mutex> lock(m_clipMutex);
        format.channels = m_clip.channels();
        format.bitsPerSample = m_clip.bitsPerSample();
        format.samplesPerSec = m_clip.deviceSamplesPerSec();
        format.blockAlign = m_clip.blockAlign();
        m_runDivisor = m_clip.speedDivisor();
        m_songRate = m_clip.samplesPerSec();
    }
    // Slow speeds with the pitch kept: the device runs at the song's own rate and plays the
    // stretched song, `divisor` device frames to each song frame.
    m_runStretched = m_runDivisor > 1 && m_keepPitch.load();
    if (m_runStretched) {
        format.samplesPerSec = m_songRate;
        if (!m_stretch || m_stretch->divisor() != m_runDivisor)
            m_stretch = std::make_unique<TimeStretch>(m_songRate, format.channels,
                                                      format.bitsPerSample, m_runDivisor);
        else
            m_stretch->reset();
    }
    m_runOutFrames = 0;
    m_runFormat = format;
    int32_t loopFirst = 0;
    int32_t loopEnd = 0;
    {
        std::lock_guard<std::mutex> lock(m_clicksMutex);
        loopFirst = std::max(0, m_loopFirst);
        loopEnd = std::min(m_loopEnd, m_clip.endPosition());
    }
    if (loopFirst >= loopEnd)
        loopFirst = loopEnd = 0;
    // A loop plays from its start unless the song is already inside it.
    const int32_t readPosition = m_readPosition.load();
    if (loopEnd > 0 && (readPosition < loopFirst || readPosition >= loopEnd))
        m_readPosition.store(loopFirst);
    int32_t result = 0;
    {
        std::lock_guard<std::mutex> lock(deviceLock());
        // Set with the open, so a position read in between never mixes two runs.
        m_basePosition = m_readPosition.load();
        m_deviceBytesPerSec = int64_t(format.samplesPerSec) * format.blockAlign;
        m_positionDivisor = m_runStretched ? m_runDivisor : 1;
        m_runLoopFirst = loopFirst;
        m_runLoopEnd = loopEnd;
        result = m_device->open(format, &Engine::deviceCallback, this);
    }
    if (result != 0)
        return false;
    m_deviceOpen = true;
    ++m_opensPending;
    m_queuedBuffers = 0;
    m_bufferIndex = 0;
    m_filled[0] = m_filled[1] = false;
    for (SoundBuffer &header : m_headers) {
        if (deviceCall([&header](SoundDevice &d) { return d.prepare(header); }) != 0) {
            closeDevice(false);
            return false;
        }
    }
    return true;
}

// Unprepares the headers and closes the device; true when the close succeeded (its Closed
// notification is then owed). The device counts as closed either way.
bool CAudioPlay::Engine::closeDevice(bool resetFirst)
{
    bool ok = true;
    if (resetFirst && deviceCall([](SoundDevice &d) { return d.reset(); }) != 0)
        ok = false;
    for (SoundBuffer &header : m_headers) {
        if (header.prepared)
            deviceCall([&header](SoundDevice &d) { return d.unprepare(header); });
        header.prepared = false;
    }
    if (deviceCall([](SoundDevice &d) { return d.close(); }) == 0) {
        ++m_closesPending;
        m_deviceNeedsClose = false;
    } else {
        ok = false;
        m_deviceNeedsClose = true;
    }
    m_deviceOpen = false;
    m_queuedBuffers = 0;
    m_filled[0] = m_filled[1] = false;
    return ok;
}

void CAudioPlay::Engine::play()
{
    const int32_t state = m_state.load();
    if (state == Seeking)
        return;  // the seek reopens the device by itself
    if (state != Ready) {
        reply(AP_STARTED, 1);
        return;
    }
    if (m_deviceOpen)
        closeDevice(true);  // the tail after the end was still playing: start afresh
    m_state.store(Opening);
    if (!openDevice()) {
        m_state.store(Ready);
        reply(AP_STARTED, 1);
    }
}

void CAudioPlay::Engine::start()
{
    if (m_opensPending > 0)
        --m_opensPending;
    if (m_opensPending > 0 || !m_deviceOpen || m_closesPending > 0)
        return;  // the Opened of a run that has been closed since
    const int32_t state = m_state.load();
    if (state != Opening && state != Seeking) {
        reply(AP_STARTED, 1);
        return;
    }
    const AudioReply answer = state == Opening ? AP_STARTED : AP_RESTARTED;
    m_state.store(Playing);
    // Each block goes to the device as soon as it is filled: a stretch takes a while to fill
    // one, and the first should sound without waiting for the second.
    bool ok = true;
    for (int i = 0; i < 2 && ok; ++i) {
        m_filled[m_bufferIndex] = fill();
        ok = queue();
        m_bufferIndex ^= 1;
    }
    if (!ok) {
        abandonPlayback(AP_STARTED);
        return;
    }
    reply(answer, 0);
    closeIfDrained();
}

// Song time, in frames, of `frame` counted on from the run's start without wrapping: inside
// the run's loop it wraps back to the loop's start.
int64_t CAudioPlay::Engine::wrapSong(int64_t frame) const
{
    if (m_runLoopEnd <= 0 || frame < m_runLoopEnd)
        return frame;
    return m_runLoopFirst + (frame - m_runLoopFirst) % (m_runLoopEnd - m_runLoopFirst);
}

// Copies `frames` song frames from the read position on into `dst` (silence past the song's
// data) with the mark clicks mixed in, wrapping at the end of the run's loop, and moves the
// read position on.
void CAudioPlay::Engine::readSong(uint8_t *dst, int32_t frames, int32_t clickDivisor)
{
    const int32_t blockAlign = m_blockAlign.load();
    std::shared_ptr<const MarkClicks> clicks;
    {
        std::lock_guard<std::mutex> lock(m_clicksMutex);
        clicks = m_clicks;
    }
    int32_t readPosition = m_readPosition.load();
    while (frames > 0) {
        int32_t n = frames;
        if (m_runLoopEnd > 0 && readPosition < m_runLoopEnd)
            n = std::min(n, m_runLoopEnd - readPosition);
        const int64_t bytes = int64_t(n) * blockAlign;
        const int64_t offset = int64_t(readPosition) * blockAlign;
        const int64_t available = std::clamp<int64_t>(m_clip.bufferSize() - offset, 0, bytes);
        if (available > 0)
            std::memcpy(dst, m_clip.samples() + offset, size_t(available));
        if (available < bytes)
            std::memset(dst + available, m_clip.silenceByte(), size_t(bytes - available));
        if (clicks)
            MixMarkClicks(dst, int32_t(bytes), readPosition, *clicks, m_runFormat, m_songRate,
                          clickDivisor);
        readPosition = clampToInt32(int64_t(readPosition) + n);
        if (m_runLoopEnd > 0 && readPosition == m_runLoopEnd)
            readPosition = m_runLoopFirst;
        dst += bytes;
        frames -= n;
    }
    m_readPosition.store(readPosition);
}

// Fills the current block with the next 64 KiB of output: the song from the read position on,
// or its stretch at a slow speed with the pitch kept. At the end of the time line the engine
// becomes Ready and fills nothing.
bool CAudioPlay::Engine::fill()
{
    if (m_state.load() != Playing)
        return false;
    const int32_t blockAlign = m_blockAlign.load();
    const int32_t blockFrames = BlockBytes / blockAlign;
    // The song time the block starts at: what has been read, or what has come out of the
    // stretch (which has read ahead).
    const int64_t next = m_runStretched ? m_basePosition + m_runOutFrames / m_runDivisor
                                        : m_readPosition.load();
    if (m_runLoopEnd <= 0 && next >= m_clip.endPosition()) {
        m_state.store(Ready);
        m_readPosition.store(0);
        reply(AP_FINISHED, 0);
        return false;
    }
    uint8_t *block = m_blocks[m_bufferIndex].get();
    if (!m_runStretched) {
        readSong(block, blockFrames, m_runDivisor);
        return true;
    }
    // The clicks go in before the stretch, at the song's own rate.
    int32_t have = 0;
    while (have < blockFrames) {
        const int32_t got = m_stretch->take(block + int64_t(have) * blockAlign, blockFrames - have);
        have += got;
        if (got == 0) {
            const int32_t wanted = m_stretch->framesWanted();
            readSong(m_feedBlock.get(), wanted, 1);
            m_stretch->feed(m_feedBlock.get(), wanted);
        }
    }
    m_runOutFrames += blockFrames;
    return true;
}

// Hands the current block to the device if it was filled. Also after the end was reached:
// the last block before the end still has to be heard.
bool CAudioPlay::Engine::queue()
{
    if (!m_filled[m_bufferIndex] || !m_deviceOpen)
        return true;
    m_filled[m_bufferIndex] = false;
    SoundBuffer &header = m_headers[m_bufferIndex];
    if (deviceCall([&header](SoundDevice &d) { return d.write(header); }) != 0)
        return false;
    ++m_queuedBuffers;
    return true;
}

void CAudioPlay::Engine::refill()
{
    if (!m_deviceOpen || m_closesPending > 0 || m_opensPending > 0)
        return;  // left over from a run that has been closed
    if (m_queuedBuffers > 0)
        --m_queuedBuffers;
    if (m_state.load() == Playing) {
        // The buffers are queued in turn, so the one reported done is the current one.
        m_filled[m_bufferIndex] = fill();
        if (!queue()) {
            abandonPlayback(AP_STOPPED);
            return;
        }
        m_bufferIndex ^= 1;
    }
    closeIfDrained();
}

// After the end the device plays out what is queued and is then closed, so that the next
// play opens it afresh.
void CAudioPlay::Engine::closeIfDrained()
{
    if (m_state.load() == Ready && m_deviceOpen && m_queuedBuffers == 0)
        closeDevice(false);
}

// The device refused a call while playing: give it up and return to Ready.
void CAudioPlay::Engine::abandonPlayback(AudioReply answer)
{
    if (m_deviceOpen)
        closeDevice(true);
    m_state.store(Ready);
    reply(answer, 1);
}

void CAudioPlay::Engine::stop()
{
    const int32_t state = m_state.load();
    if (state == Ready) {
        // A stop while stopped rewinds to the start.
        if (m_deviceOpen)
            closeDevice(true);
        m_readPosition.store(0);
        reply(AP_STOPPED, 0);
        return;
    }
    if (state != Playing && state != Opening && state != Seeking)
        return;
    m_readPosition.store(0);
    if (m_deviceOpen && !closeDevice(true)) {
        m_state.store(Ready);
        reply(AP_STOPPED, 1);
        return;
    }
    m_state.store(Stopping);
    if (m_closesPending == 0) {
        m_state.store(Ready);
        reply(AP_STOPPED, 0);
    }
}

void CAudioPlay::Engine::pause()
{
    const int32_t state = m_state.load();
    if (state != Playing && state != Opening && state != Seeking)
        return;
    // The read position stays: resuming starts at the first block not yet queued. A stretch
    // has read ahead of its output: resume where the output stopped.
    if (m_runStretched && (state == Playing))
        m_readPosition.store(clampToInt32(wrapSong(m_basePosition + m_runOutFrames / m_runDivisor)));
    if (m_deviceOpen && !closeDevice(true)) {
        m_state.store(Ready);
        reply(AP_PAUSED, 1);
        return;
    }
    m_state.store(Pausing);
    if (m_closesPending == 0) {
        m_state.store(Ready);
        reply(AP_PAUSED, 0);
    }
}

void CAudioPlay::Engine::seek(int32_t position)
{
    const int32_t state = m_state.load();
    bool failed = false;
    if (state == Playing) {
        m_state.store(Seeking);
        failed = !closeDevice(true);
    } else if (state == Ready && m_deviceOpen) {
        closeDevice(true);  // the tail after the end: the user has moved on
    }
    // Playback starts on a 64 KiB boundary of the sample buffer: round the byte offset up.
    const int64_t blockAlign = std::max(1, m_blockAlign.load());
    const int64_t frame = std::clamp<int64_t>(position, 0, std::max(0, m_clip.endPosition()));
    const int64_t offset = (frame * blockAlign + BlockBytes - 1) / BlockBytes * BlockBytes;
    const int64_t maxOffset = int64_t(std::numeric_limits<int32_t>::max()) / BlockBytes * BlockBytes;
    const int32_t readPosition = int32_t(std::min(offset, maxOffset) / blockAlign);
    m_readPosition.store(readPosition);
    {
        std::lock_guard<std::mutex> lock(deviceLock());
        m_basePosition = readPosition;
    }
    m_bufferIndex = 0;
    if (failed) {
        m_state.store(Ready);
        reply(AP_STOPPED, 1);
    }
}

void CAudioPlay::Engine::deviceClosed()
{
    if (m_closesPending == 0)
        return;
    if (--m_closesPending > 0)
        return;
    switch (m_state.load()) {
    case Stopping:
        m_state.store(Ready);
        reply(AP_STOPPED, 0);
        break;
    case Pausing:
        m_state.store(Ready);
        reply(AP_PAUSED, 0);
        break;
    case Seeking:
        // Open again at the new read position; the Opened that follows restarts playback.
        if (!m_deviceOpen && !openDevice()) {
            m_state.store(Ready);
            reply(AP_STARTED, 1);
        }
        break;
    default:
        break;
    }
}

void CAudioPlay::Engine::deviceFailed()
{
    if (!m_deviceOpen || m_closesPending > 0)
        return;  // about a run that is already closed
    const int32_t state = m_state.load();
    closeDevice(true);
    m_state.store(Ready);
    if (state == Opening || state == Seeking)
        reply(AP_STARTED, 1);
    else if (state == Playing)
        reply(AP_STOPPED, 1);
}

void CAudioPlay::Engine::quit()
{
    m_quitWait.store(true);
    if (m_deviceOpen)
        closeDevice(true);
    // Wait for the device to acknowledge every close, so that nothing of it is still running
    // when the thread ends; a device that never answers is given up after the timeout.
    const auto deadline = std::chrono::steady_clock::now() + m_options.closeAcknowledgeTimeout;
    while (m_closesPending > 0) {
        Message message{};
        if (!popMessage(message, deadline, true))
            break;
        if (message.message == AP_DEVICE_CLOSED)
            --m_closesPending;
    }
    m_quitWait.store(false);
}

int32_t CAudioPlay::Engine::positionAt(std::chrono::steady_clock::time_point at, int32_t &ms,
                                       int32_t &frames) const
{
    std::unique_lock<std::mutex> lock(deviceLock(), std::defer_lock);
    if (!lockWithin(lock, PositionLockWait))
        return -1;
    if (!m_device)
        return -1;
    int64_t bytes = 0;
    if (m_device->position(bytes) != 0)
        return -1;
    const auto readAt = std::chrono::steady_clock::now();
    const int64_t base = m_basePosition;
    const int64_t deviceBytesPerSec = m_deviceBytesPerSec;
    const int64_t divisor = m_positionDivisor;
    const int64_t loopFirst = m_runLoopFirst;
    const int64_t loopEnd = m_runLoopEnd;
    lock.unlock();

    const int64_t blockAlign = m_blockAlign.load();
    const uint32_t avgBytesPerSec = m_avgBytesPerSec.load();
    if (blockAlign <= 0 || avgBytesPerSec == 0 || bytes < 0)
        return -1;
    if (at < readAt) {
        // The device plays song bytes at its own (speed-divided) rate: wall time since `at`
        // is that many bytes back, in whole frames, but not before this run began.
        const int64_t agoNs =
            std::chrono::duration_cast<std::chrono::nanoseconds>(readAt - at).count();
        const int64_t back = int64_t(double(agoNs) * double(deviceBytesPerSec) / 1e9 + 0.5);
        bytes = std::max<int64_t>(0, bytes - back / blockAlign * blockAlign);
    }
    // Bytes played are song bytes when the device is slowed down; a stretched run plays
    // `divisor` device frames for each song frame. Both answers are song time.
    const int64_t played = bytes / blockAlign;
    int64_t songFrames = base + played / divisor;
    double songBytes = double(base * blockAlign) + double(bytes) / double(divisor);
    if (loopEnd > 0 && songFrames >= loopEnd) {
        const int64_t back = (songFrames - loopFirst) / (loopEnd - loopFirst) * (loopEnd - loopFirst);
        songFrames -= back;
        songBytes -= double(back * blockAlign);
    }
    frames = clampToInt32(songFrames);
    ms = truncToInt32(songBytes * 1000.0 / avgBytesPerSec + 0.5);
    return 0;
}

void CAudioPlay::Engine::setPath(const std::filesystem::path &path)
{
    std::lock_guard<std::mutex> lock(m_clipMutex);
    if (m_loadInProgress || m_loaded)
        return;
    m_clip.setPath(path);
}

void CAudioPlay::Engine::setSpeed(int32_t divisor)
{
    std::lock_guard<std::mutex> lock(m_clipMutex);
    VORN_CHECK(divisor == 1 || divisor == 2 || divisor == 4, return);
    if (m_loadInProgress || !m_loaded)
        return;  // the load starts at normal speed
    m_clip.setSpeed(divisor);
}

void CAudioPlay::Engine::setVideoLength(int32_t ms)
{
    std::lock_guard<std::mutex> lock(m_clipMutex);
    if (m_loadInProgress)
        m_pendingVideoLengthMs = ms;
    else
        m_clip.setVideoLength(ms);
}

CAudioPlay::CAudioPlay(AudioReplySink sink, SoundDeviceFactory deviceFactory, Options options)
    : m_engine(std::make_shared<Engine>(std::move(sink), std::move(deviceFactory), options))
{
    {
        std::lock_guard<std::mutex> lock(engineCount().mutex);
        ++engineCount().live;
    }
    // The thread keeps the engine alive until it has ended; the handle can go at any time.
    std::thread([engine = m_engine]() mutable {
        engine->run();
        engine.reset();
        std::lock_guard<std::mutex> lock(engineCount().mutex);
        --engineCount().live;
        engineCount().changed.notify_all();
    }).detach();
}

CAudioPlay::~CAudioPlay()
{
    m_engine->post(AP_QUIT, 0);
}

void CAudioPlay::setPath(const std::filesystem::path &path)
{
    m_engine->setPath(path);
}

void CAudioPlay::post(AudioMessage message, int32_t wParam)
{
    m_engine->post(message, wParam);
}

CAudioPlay::State CAudioPlay::state() const
{
    return State(m_engine->m_state.load());
}

int32_t CAudioPlay::readPosition() const
{
    return m_engine->m_readPosition.load();
}

int32_t CAudioPlay::position(int32_t &ms, int32_t &frames) const
{
    return m_engine->positionAt(std::chrono::steady_clock::time_point::max(), ms, frames);
}

int32_t CAudioPlay::positionAt(std::chrono::steady_clock::time_point at, int32_t &ms,
                               int32_t &frames) const
{
    return m_engine->positionAt(at, ms, frames);
}

const AudioClip &CAudioPlay::clip() const
{
    return m_engine->m_clip;
}

void CAudioPlay::setSpeed(int32_t divisor)
{
    m_engine->setSpeed(divisor);
}

void CAudioPlay::setVideoLength(int32_t ms)
{
    m_engine->setVideoLength(ms);
}

void CAudioPlay::setKeepPitch(bool keep)
{
    m_engine->m_keepPitch.store(keep);
}

void CAudioPlay::setLoop(int32_t firstFrame, int32_t endFrame)
{
    m_engine->setLoop(firstFrame, endFrame);
}

std::string CAudioPlay::deviceName() const
{
    std::lock_guard<std::mutex> lock(m_engine->clipMutex());
    return m_engine->deviceNameLocked();
}

void CAudioPlay::setMarkClicks(std::shared_ptr<const MarkClicks> clicks)
{
    m_engine->setMarkClicks(std::move(clicks));
}

bool CAudioPlay::waitEnded(std::chrono::milliseconds timeout) const
{
    return m_engine->waitEnded(timeout);
}

bool CAudioPlay::quitWaiting() const
{
    return m_engine->m_quitWait.load();
}

int64_t CAudioPlay::threadCpuNs() const
{
    if (!m_engine->m_hasCpuClock.load())
        return -1;
    timespec ts{};
    if (clock_gettime(m_engine->m_cpuClock.load(), &ts) != 0)
        return -1;
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool CAudioPlay::waitForAllEngines(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(engineCount().mutex);
    return engineCount().changed.wait_for(lock, timeout, [] { return engineCount().live == 0; });
}

} // namespace vorn
