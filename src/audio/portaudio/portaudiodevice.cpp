// PortAudioDevice: double-buffered output through PortAudio with latency-compensated position.
#include "audio/portaudio/portaudiodevice.h"

#include "audio/portaudio/playbackclock.h"
#include "audio/simulateddevice.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <semaphore>
#include <thread>

#include <time.h>

namespace vorn {

const char *const NoSoundDeviceMessage =
    "サウンドデバイスが見つかりません。音は出ませんが、再生位置は進みます。";

namespace {

void silentAlsaHandler(const char *, int, const char *, int, const char *, ...) {}
void silentJackHandler(const char *) {}

// libjack (pulled in by PortAudio) prints to stderr when no JACK server runs; its setters are
// looked up at run time so that no JACK header is needed.
void silenceAudioLibraries()
{
    snd_lib_error_set_handler(&silentAlsaHandler);
    using JackSetter = void (*)(void (*)(const char *));
    for (const char *name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (void *symbol = dlsym(RTLD_DEFAULT, name))
            reinterpret_cast<JackSetter>(symbol)(&silentJackHandler);
    }
}

// PortAudio is set up while any device object lives.
std::mutex &paMutex()
{
    static std::mutex *mutex = new std::mutex;  // devices may die on threads still running at exit
    return *mutex;
}
int paUsers = 0;
bool paReady = false;

bool acquirePortAudio()
{
    std::lock_guard<std::mutex> lock(paMutex());
    if (paUsers++ == 0) {
        silenceAudioLibraries();
        paReady = Pa_Initialize() == paNoError;
    }
    return paReady;
}

void releasePortAudio()
{
    std::lock_guard<std::mutex> lock(paMutex());
    if (--paUsers == 0 && paReady) {
        Pa_Terminate();
        paReady = false;
    }
}

constexpr double MinLatencySeconds = 0.060;

int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::atomic<bool> g_missingReported{false};
std::atomic<uint64_t> g_deviceUnderflows{0};
std::atomic<uint64_t> g_engineUnderflows{0};

} // namespace

struct PortAudioDevice::Impl {
    static constexpr uint32_t RingSize = 8;     // buffers queued at once (the engine uses 2)
    static constexpr uint32_t AnchorCount = 64; // callbacks remembered for the position

    // Where one callback's output meets the listener: its first byte is heard at heardAtNs
    // (steady clock), and it carried bytes bytes of the song from startByte on. Written by the
    // callback, read by position(); seq is odd while the slot is being written.
    struct Anchor {
        std::atomic<uint32_t> seq{0};
        std::atomic<uint64_t> index{0};
        std::atomic<int64_t> madeAtNs{0};
        std::atomic<int64_t> heardAtNs{0};
        std::atomic<int64_t> startByte{0};
        std::atomic<int64_t> bytes{0};
    };

    // A notification from the engine thread (open or close), with how many buffer and failure
    // notifications of the callback came before it.
    struct Event {
        SoundNotification notification;
        uint64_t doneBefore;
        uint64_t failedBefore;
    };

    bool initialised = false;
    PaDeviceIndex outputDevice = paNoDevice;
    PaStream *stream = nullptr;
    bool started = false;
    SoundFormat format;
    int64_t bytesPerSec = 0;
    double fallbackLatency = 0.0;
    uint8_t silence = 0;

    // Written by write() on the engine thread, consumed by the realtime callback.
    SoundBuffer *ring[RingSize] = {};
    std::atomic<uint32_t> ringHead{0};  // next to play (callback)
    std::atomic<uint32_t> ringTail{0};  // next free slot (engine thread)
    std::atomic<int32_t> headOffset{0}; // bytes of the head buffer already played (callback)
    std::atomic<int64_t> consumed{0};   // song bytes handed to the stream since open or reset

    Anchor anchors[AnchorCount];
    std::atomic<uint64_t> anchorWrites{0};
    // position()'s own: the anchors fed to the clock so far, and the clock.
    uint64_t anchorsRead = 0;
    PlaybackClock clock;

    std::atomic<uint64_t> doneCount{0};
    std::atomic<uint64_t> failedCount{0};
    std::atomic<bool> stopping{false};  // the stream is being stopped on purpose

    // The relay thread turns the callback's counters and the engine thread's events into
    // notifications, in order.
    std::counting_semaphore<> wake{0};
    std::mutex eventMutex;
    std::deque<Event> events;
    SoundCallback callback = nullptr;
    void *instance = nullptr;
    bool stopRelay = false;
    std::thread relay;

    static int streamCallback(const void *input, void *output, unsigned long frames,
                              const PaStreamCallbackTimeInfo *timeInfo,
                              PaStreamCallbackFlags flags, void *user);
    static void streamFinished(void *user);
    void relayLoop();
    void pushEvent(SoundNotification notification);
    void clearQueue();
    bool isQueued(const SoundBuffer *buffer) const;
};

// Realtime: copies and relays only. No allocation, no lock, no logging; everything it shares
// is an atomic or a buffer that the engine does not touch while it is queued.
int PortAudioDevice::Impl::streamCallback(const void *, void *output, unsigned long frames,
                                          const PaStreamCallbackTimeInfo *timeInfo,
                                          PaStreamCallbackFlags flags, void *user)
{
    Impl *d = static_cast<Impl *>(user);
    const int64_t nowNs = steadyNs();
    // The DAC time and the current time come from the same clock, so their difference is the
    // latency of this very buffer whatever clock PortAudio's host API uses.
    double latency = d->fallbackLatency;
    int64_t heardAtNs = 0;
    if (timeInfo && (timeInfo->outputBufferDacTime != 0.0 || timeInfo->currentTime != 0.0)) {
        const double measured = timeInfo->outputBufferDacTime - timeInfo->currentTime;
        if (measured >= 0.0 && measured < 2.0)
            latency = measured;
        // ALSA's host takes its times from the wall clock. When the current time is that clock,
        // the DAC time goes onto the steady clock directly: this callback may have been held up
        // between PortAudio reading the time and us reading it, which would shift the report.
        timespec wall{};
        if (latency == measured && clock_gettime(CLOCK_REALTIME, &wall) == 0) {
            const int64_t wallNs = int64_t(wall.tv_sec) * 1000000000 + wall.tv_nsec;
            const int64_t steadyAtWall = steadyNs();
            const double behind = double(wallNs) / 1e9 - timeInfo->currentTime;
            if (behind >= 0.0 && behind < 0.5)
                heardAtNs = steadyAtWall - (wallNs - int64_t(timeInfo->outputBufferDacTime * 1e9));
        }
    }
    if (heardAtNs == 0)
        heardAtNs = nowNs + int64_t(latency * 1e9);

    uint8_t *out = static_cast<uint8_t *>(output);
    const int64_t needed = int64_t(frames) * d->format.blockAlign;
    int64_t copied = 0;
    int32_t offset = d->headOffset.load(std::memory_order_relaxed);
    uint32_t head = d->ringHead.load(std::memory_order_relaxed);
    while (copied < needed) {
        if (head == d->ringTail.load(std::memory_order_acquire))
            break;  // underrun: the rest is silence
        SoundBuffer *buffer = d->ring[head % RingSize];
        const int64_t n = std::min<int64_t>(buffer->length - offset, needed - copied);
        std::memcpy(out + copied, buffer->data + offset, size_t(n));
        copied += n;
        offset += int32_t(n);
        if (offset >= buffer->length) {
            offset = 0;
            ++head;
            d->ringHead.store(head, std::memory_order_release);
            d->doneCount.fetch_add(1, std::memory_order_release);
            d->wake.release();
        }
    }
    if (flags & paOutputUnderflow)
        g_deviceUnderflows.fetch_add(1, std::memory_order_relaxed);
    if (copied < needed && !d->stopping.load(std::memory_order_relaxed))
        g_engineUnderflows.fetch_add(1, std::memory_order_relaxed);
    if (copied < needed)
        std::memset(out + copied, d->silence, size_t(needed - copied));
    d->headOffset.store(offset, std::memory_order_relaxed);

    const int64_t start = d->consumed.load(std::memory_order_relaxed);
    d->consumed.store(start + copied, std::memory_order_relaxed);
    const uint64_t index = d->anchorWrites.load(std::memory_order_relaxed);
    Anchor &anchor = d->anchors[index % AnchorCount];
    const uint32_t seq = anchor.seq.load(std::memory_order_relaxed);
    anchor.seq.store(seq + 1);
    anchor.index.store(index);
    anchor.madeAtNs.store(nowNs);
    anchor.heardAtNs.store(heardAtNs);
    anchor.startByte.store(start);
    anchor.bytes.store(copied);
    anchor.seq.store(seq + 2);
    d->anchorWrites.store(index + 1);
    return paContinue;
}

// Called when the stream stops; unless it was stopped on purpose the output has failed.
void PortAudioDevice::Impl::streamFinished(void *user)
{
    Impl *d = static_cast<Impl *>(user);
    if (!d->stopping.load()) {
        d->failedCount.fetch_add(1, std::memory_order_release);
        d->wake.release();
    }
}

void PortAudioDevice::Impl::pushEvent(SoundNotification notification)
{
    {
        std::lock_guard<std::mutex> lock(eventMutex);
        events.push_back({notification, doneCount.load(std::memory_order_acquire),
                          failedCount.load(std::memory_order_acquire)});
    }
    wake.release();
}

void PortAudioDevice::Impl::relayLoop()
{
    uint64_t doneDelivered = doneCount.load();
    uint64_t failedDelivered = failedCount.load();
    for (;;) {
        wake.acquire();
        std::deque<Event> pending;
        SoundCallback cb = nullptr;
        void *inst = nullptr;
        {
            std::lock_guard<std::mutex> lock(eventMutex);
            if (stopRelay)
                return;
            pending.swap(events);
            cb = callback;
            inst = instance;
        }
        auto deliverUpTo = [&](uint64_t done, uint64_t failed) {
            for (; doneDelivered < done; ++doneDelivered)
                if (cb)
                    cb(inst, SoundNotification::BufferDone);
            for (; failedDelivered < failed; ++failedDelivered)
                if (cb)
                    cb(inst, SoundNotification::Failed);
        };
        for (const Event &event : pending) {
            deliverUpTo(event.doneBefore, event.failedBefore);
            if (cb)
                cb(inst, event.notification);
        }
        deliverUpTo(doneCount.load(std::memory_order_acquire),
                    failedCount.load(std::memory_order_acquire));
    }
}

// Only while the stream is stopped.
void PortAudioDevice::Impl::clearQueue()
{
    ringHead.store(0);
    ringTail.store(0);
    headOffset.store(0);
    consumed.store(0);
    anchorWrites.store(0);
    anchorsRead = 0;
    clock.reset(double(bytesPerSec));
}

bool PortAudioDevice::Impl::isQueued(const SoundBuffer *buffer) const
{
    for (uint32_t i = ringHead.load(); i != ringTail.load(); ++i)
        if (ring[i % RingSize] == buffer)
            return true;
    return false;
}

PortAudioDevice::PortAudioDevice() : m_impl(std::make_unique<Impl>())
{
    m_impl->initialised = acquirePortAudio();
    if (m_impl->initialised)
        m_impl->outputDevice = Pa_GetDefaultOutputDevice();
    Impl *d = m_impl.get();
    d->relay = std::thread([d] { d->relayLoop(); });
}

PortAudioDevice::~PortAudioDevice()
{
    Impl *d = m_impl.get();
    if (d->stream) {
        d->stopping.store(true);
        Pa_AbortStream(d->stream);
        Pa_CloseStream(d->stream);
        d->stream = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(d->eventMutex);
        d->stopRelay = true;
        d->callback = nullptr;
    }
    d->wake.release();
    d->relay.join();
    if (d->initialised)
        releasePortAudio();
}

std::string PortAudioDevice::name() const
{
    if (!hasOutput())
        return "none";
    const PaDeviceInfo *info = Pa_GetDeviceInfo(m_impl->outputDevice);
    const PaHostApiInfo *host = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    return std::string(host && host->name ? host->name : "?") + ": " + (info && info->name ? info->name : "?");
}

bool PortAudioDevice::hasOutput() const
{
    return m_impl->initialised && m_impl->outputDevice != paNoDevice;
}

int32_t PortAudioDevice::open(const SoundFormat &format, SoundCallback callback, void *instance)
{
    Impl *d = m_impl.get();
    if (!hasOutput() || d->stream)
        return -1;
    if ((format.channels != 1 && format.channels != 2)
        || (format.bitsPerSample != 8 && format.bitsPerSample != 16) || format.samplesPerSec == 0
        || format.blockAlign != format.channels * format.bitsPerSample / 8)
        return -1;
    const PaDeviceInfo *info = Pa_GetDeviceInfo(d->outputDevice);
    if (!info)
        return -1;
    PaStreamParameters parameters{};
    parameters.device = d->outputDevice;
    parameters.channelCount = format.channels;
    parameters.sampleFormat = format.bitsPerSample == 16 ? paInt16 : paUInt8;
    // Not the shortest buffer: through ALSA's pulse plugin on a busy machine, 9 ms buffers (3 ms
    // callbacks at quarter speed) ran dry and the server took seconds to recover. The bytes
    // primed before a server runs no longer cost anything (the clock waits for the device to
    // call back at its own pace), and with 60 ms the position stayed steadier than with 30 ms
    // (the server's own latency is then about 90 ms; the position is latency-compensated).
    parameters.suggestedLatency = std::max(info->defaultLowOutputLatency, MinLatencySeconds);
    PaStream *stream = nullptr;
    // PortAudio takes an integral rate; 11025 / 4 plays at 2756 Hz like the divided format says.
    if (Pa_OpenStream(&stream, nullptr, &parameters, double(format.samplesPerSec),
                      paFramesPerBufferUnspecified, paNoFlag, &Impl::streamCallback, d)
        != paNoError)
        return -1;
    Pa_SetStreamFinishedCallback(stream, &Impl::streamFinished);
    d->stream = stream;
    d->started = false;
    d->format = format;
    const PaStreamInfo *streamInfo = Pa_GetStreamInfo(stream);
    const double rate = streamInfo && streamInfo->sampleRate > 0 ? streamInfo->sampleRate
                                                                 : double(format.samplesPerSec);
    d->bytesPerSec = int64_t(rate + 0.5) * format.blockAlign;
    d->fallbackLatency = streamInfo ? streamInfo->outputLatency : 0.0;
    d->silence = format.bitsPerSample == 8 ? 128 : 0;
    d->clearQueue();
    {
        std::lock_guard<std::mutex> lock(d->eventMutex);
        d->callback = callback;
        d->instance = instance;
    }
    d->pushEvent(SoundNotification::Opened);
    return 0;
}

int32_t PortAudioDevice::prepare(SoundBuffer &buffer)
{
    if (!m_impl->stream || !buffer.data || buffer.length <= 0)
        return -1;
    buffer.prepared = true;
    return 0;
}

int32_t PortAudioDevice::unprepare(SoundBuffer &buffer)
{
    if (!m_impl->stream || m_impl->isQueued(&buffer))
        return -1;
    buffer.prepared = false;
    return 0;
}

int32_t PortAudioDevice::write(SoundBuffer &buffer)
{
    Impl *d = m_impl.get();
    if (!d->stream || !buffer.prepared || buffer.length <= 0
        || buffer.length % d->format.blockAlign != 0)
        return -1;
    const uint32_t tail = d->ringTail.load(std::memory_order_relaxed);
    if (tail - d->ringHead.load(std::memory_order_acquire) >= Impl::RingSize)
        return -1;
    d->ring[tail % Impl::RingSize] = &buffer;
    d->ringTail.store(tail + 1, std::memory_order_release);
    if (!d->started) {
        d->stopping.store(false);
        if (Pa_StartStream(d->stream) != paNoError)
            return -1;
        d->started = true;
    } else if (Pa_IsStreamActive(d->stream) != 1) {
        return -1;  // the stream died under us
    }
    return 0;
}

int32_t PortAudioDevice::reset()
{
    Impl *d = m_impl.get();
    if (!d->stream)
        return -1;
    if (d->started) {
        d->stopping.store(true);
        Pa_AbortStream(d->stream);
        d->started = false;
    }
    d->clearQueue();
    return 0;
}

int32_t PortAudioDevice::close()
{
    Impl *d = m_impl.get();
    if (!d->stream)
        return -1;
    d->stopping.store(true);
    if (d->started)
        Pa_AbortStream(d->stream);
    const PaError error = Pa_CloseStream(d->stream);
    d->stream = nullptr;
    d->started = false;
    d->clearQueue();
    if (error != paNoError)
        return -1;
    d->pushEvent(SoundNotification::Closed);
    return 0;
}

int32_t PortAudioDevice::position(int64_t &bytesPlayed)
{
    Impl *d = m_impl.get();
    if (!d->stream)
        return -1;
    // The callbacks' reports since the last call, oldest first, into the clock; those already
    // overwritten in the ring are simply missed.
    const uint64_t writes = d->anchorWrites.load();
    uint64_t i = std::max(d->anchorsRead, writes > Impl::AnchorCount ? writes - Impl::AnchorCount : 0);
    for (; i < writes; ++i) {
        const Impl::Anchor &anchor = d->anchors[i % Impl::AnchorCount];
        const uint32_t seq = anchor.seq.load();
        if (seq & 1u)
            continue;
        const int64_t madeAtNs = anchor.madeAtNs.load();
        const int64_t heardAtNs = anchor.heardAtNs.load();
        const int64_t start = anchor.startByte.load();
        const int64_t bytes = anchor.bytes.load();
        if (anchor.seq.load() != seq || anchor.index.load() != i)
            continue;  // overwritten while read
        d->clock.report(madeAtNs, heardAtNs, start, bytes);
    }
    d->anchorsRead = writes;
    int64_t bytes = d->clock.bytesAt(steadyNs());
    bytes -= bytes % std::max(1, d->format.blockAlign);
    bytesPlayed = bytes;
    return 0;
}

std::unique_ptr<SoundDevice> createDefaultSoundDevice()
{
    auto device = std::make_unique<PortAudioDevice>();
    if (device->hasOutput())
        return device;
    device.reset();
    if (!g_missingReported.exchange(true))
        std::fprintf(stderr, "vorn: %s\n", NoSoundDeviceMessage);
    auto card = std::make_shared<SimulatedSoundCard>(SimulatedSoundCard::Clock::RealTime);
    return std::make_unique<SimulatedDevice>(std::move(card));
}

OutputUnderflows outputUnderflows()
{
    return {g_deviceUnderflows.load(), g_engineUnderflows.load()};
}

bool soundDeviceMissing()
{
    return g_missingReported.load();
}

} // namespace vorn
