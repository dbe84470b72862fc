// SimulatedDevice: buffers consumed against a real or driven clock, with fault injection.
#include "audio/simulateddevice.h"

#include <algorithm>
#include <cstring>

namespace vorn {

namespace {

constexpr int64_t MicrosPerSecond = 1000000;

uint64_t hashBytes(const uint8_t *data, int32_t length)
{
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (int32_t i = 0; i < length; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

// dt × rate / 10^6 without overflowing for long runs: split dt into whole seconds and the rest.
int64_t bytesIn(int64_t dtUs, int64_t bytesPerSec)
{
    return dtUs / MicrosPerSecond * bytesPerSec + dtUs % MicrosPerSecond * bytesPerSec / MicrosPerSecond;
}

} // namespace

SimulatedSoundCard::SimulatedSoundCard(Clock clock)
    : m_clock(clock), m_origin(std::chrono::steady_clock::now())
{
    if (m_clock == Clock::RealTime)
        m_ticker = std::thread([this] { tickerLoop(); });
}

SimulatedSoundCard::~SimulatedSoundCard()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopTicker = true;
        m_callback = nullptr;
        changedLocked();
    }
    if (m_ticker.joinable())
        m_ticker.join();
}

int64_t SimulatedSoundCard::nowUs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return nowUsLocked();
}

int64_t SimulatedSoundCard::nowUsLocked() const
{
    if (m_clock == Clock::Driven)
        return m_drivenNowUs;
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now()
                                                                 - m_origin)
        .count();
}

void SimulatedSoundCard::advance(int64_t microseconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_clock != Clock::Driven || microseconds <= 0)
        return;
    m_drivenNowUs += microseconds;
    processLocked(m_drivenNowUs);
    changedLocked();
}

int64_t SimulatedSoundCard::bytesPlayed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return playedLocked(nowUsLocked());
}

// Bytes heard by nowUs: the current run plays at the format's rate from its start and cannot
// run past what was written.
int64_t SimulatedSoundCard::playedLocked(int64_t nowUs) const
{
    if (m_queue.empty() || m_bytesPerSec <= 0)
        return m_completedBytes;
    const int64_t dt = std::max<int64_t>(0, nowUs - m_runStartUs);
    int64_t played = std::min(m_queuedEndByte, m_runStartByte + bytesIn(dt, m_bytesPerSec));
    const int32_t align = std::max(1, m_stats.format.blockAlign);
    played -= played % align;
    return std::max(played, m_completedBytes);
}

// When the buffer at the head of the queue will have been played, or -1 when nothing plays.
int64_t SimulatedSoundCard::dueUsLocked() const
{
    if (m_queue.empty() || m_bytesPerSec <= 0)
        return -1;
    const int64_t bytes = m_queue.front().endByte - m_runStartByte;
    const int64_t whole = bytes / m_bytesPerSec;
    const int64_t rest = bytes % m_bytesPerSec;
    return m_runStartUs + whole * MicrosPerSecond + (rest * MicrosPerSecond + m_bytesPerSec - 1) / m_bytesPerSec;
}

void SimulatedSoundCard::processLocked(int64_t nowUs)
{
    while (!m_queue.empty()) {
        const Queued &head = m_queue.front();
        if (playedLocked(nowUs) < head.endByte)
            break;
        if (hashBytes(head.buffer->data, head.buffer->length) != head.hash)
            ++m_stats.changedWhileQueued;
        m_completedBytes = head.endByte;
        m_queue.pop_front();
        --m_stats.queued;
        ++m_stats.buffersDone;
        notifyLocked(SoundNotification::BufferDone);
    }
}

void SimulatedSoundCard::notifyLocked(SoundNotification notification)
{
    if (m_callback)
        m_callback(m_instance, notification);
    changedLocked();
}

bool SimulatedSoundCard::consumeFailure(Call call)
{
    auto it = std::find(m_failNext.begin(), m_failNext.end(), call);
    if (it == m_failNext.end())
        return false;
    m_failNext.erase(it);
    return true;
}

void SimulatedSoundCard::failNext(Call call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failNext.push_back(call);
}

void SimulatedSoundCard::breakOutput()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stats.open || m_broken)
        return;
    m_broken = true;
    m_queue.clear();
    m_stats.queued = 0;
    notifyLocked(SoundNotification::Failed);
}

void SimulatedSoundCard::holdCloseAcknowledgement(bool hold)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holdClose = hold;
}

bool SimulatedSoundCard::acknowledgeClose()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_heldClose)
        return false;
    m_heldClose = false;
    m_stats.closeHeld = false;
    notifyLocked(SoundNotification::Closed);
    return true;
}

void SimulatedSoundCard::holdOpenAcknowledgement(bool hold)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holdOpen = hold;
}

bool SimulatedSoundCard::acknowledgeOpen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_heldOpen)
        return false;
    m_heldOpen = false;
    m_stats.openHeld = false;
    notifyLocked(SoundNotification::Opened);
    return true;
}

void SimulatedSoundCard::setRecording(bool on, bool withBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recording = on;
    m_recordingBytes = on && withBytes;
}

std::vector<SimulatedSoundCard::Written> SimulatedSoundCard::written() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_written;
}

SimulatedSoundCard::Stats SimulatedSoundCard::stats() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stats;
}

bool SimulatedSoundCard::waitUntil(const std::function<bool(const Stats &)> &predicate,
                                   std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return predicate(m_stats); });
}

void SimulatedSoundCard::attach(SimulatedDevice *device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_device = device;
    m_stats.attached = true;
    changedLocked();
}

void SimulatedSoundCard::detach(SimulatedDevice *device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_device != device)
        return;
    if (m_heldClose)
        m_stats.detachedWhileHeld = true;
    m_heldClose = false;
    m_stats.closeHeld = false;
    m_heldOpen = false;
    m_stats.openHeld = false;
    m_device = nullptr;
    m_callback = nullptr;
    m_instance = nullptr;
    m_queue.clear();
    m_stats.queued = 0;
    m_stats.open = false;
    m_stats.attached = false;
    changedLocked();
}

int32_t SimulatedSoundCard::open(const SoundFormat &format, SoundCallback callback, void *instance)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stats.open) {
        ++m_stats.misuse;
        return -1;
    }
    if (consumeFailure(Call::Open))
        return -1;
    const bool valid = (format.channels == 1 || format.channels == 2)
                       && (format.bitsPerSample == 8 || format.bitsPerSample == 16)
                       && format.samplesPerSec > 0
                       && format.blockAlign == format.channels * format.bitsPerSample / 8;
    if (!valid)
        return -1;
    m_stats.open = true;
    m_stats.format = format;
    ++m_stats.opens;
    m_callback = callback;
    m_instance = instance;
    m_bytesPerSec = int64_t(format.samplesPerSec) * format.blockAlign;
    m_queue.clear();
    m_stats.queued = 0;
    m_queuedEndByte = m_completedBytes = m_runStartByte = 0;
    m_runStartUs = nowUsLocked();
    m_broken = false;
    if (m_holdOpen) {
        m_heldOpen = true;
        m_stats.openHeld = true;
        changedLocked();
    } else {
        notifyLocked(SoundNotification::Opened);
    }
    return 0;
}

int32_t SimulatedSoundCard::prepare(SoundBuffer &buffer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stats.open || m_broken || consumeFailure(Call::Prepare))
        return -1;
    if (!buffer.data || buffer.length <= 0) {
        ++m_stats.misuse;
        return -1;
    }
    buffer.prepared = true;
    ++m_stats.prepares;
    changedLocked();
    return 0;
}

int32_t SimulatedSoundCard::unprepare(SoundBuffer &buffer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stats.open || consumeFailure(Call::Unprepare))
        return -1;
    for (const Queued &queued : m_queue) {
        if (queued.buffer == &buffer) {
            ++m_stats.misuse;  // still playing
            return -1;
        }
    }
    buffer.prepared = false;
    ++m_stats.unprepares;
    changedLocked();
    return 0;
}

int32_t SimulatedSoundCard::write(SoundBuffer &buffer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stats.open || m_broken || consumeFailure(Call::Write))
        return -1;
    const int32_t align = std::max(1, m_stats.format.blockAlign);
    if (!buffer.prepared || !buffer.data || buffer.length <= 0 || buffer.length % align != 0) {
        ++m_stats.misuse;
        return -1;
    }
    const int64_t now = nowUsLocked();
    processLocked(now);
    if (m_queue.empty()) {
        // The device sat idle (or has just been opened): this buffer starts a new run now.
        m_runStartUs = now;
        m_runStartByte = m_queuedEndByte;
    }
    const uint64_t hash = hashBytes(buffer.data, buffer.length);
    if (m_recording) {
        Written record;
        record.startByte = m_queuedEndByte;
        std::memcpy(record.head, buffer.data, std::min<size_t>(sizeof record.head, size_t(buffer.length)));
        record.hash = hash;
        const uint8_t silence = m_stats.format.bitsPerSample == 8 ? 128 : 0;
        record.silent = std::all_of(buffer.data, buffer.data + buffer.length,
                                    [silence](uint8_t b) { return b == silence; });
        if (m_recordingBytes)
            record.bytes.assign(buffer.data, buffer.data + buffer.length);
        m_written.push_back(record);
    }
    m_queuedEndByte += buffer.length;
    m_queue.push_back({&buffer, m_queuedEndByte, hash});
    ++m_stats.queued;
    ++m_stats.writes;
    changedLocked();
    return 0;
}

int32_t SimulatedSoundCard::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stats.open || m_broken || consumeFailure(Call::Reset))
        return -1;
    m_queue.clear();
    m_stats.queued = 0;
    m_queuedEndByte = m_completedBytes = m_runStartByte = 0;
    m_runStartUs = nowUsLocked();
    ++m_stats.resets;
    changedLocked();
    return 0;
}

int32_t SimulatedSoundCard::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stats.open || consumeFailure(Call::Close))
        return -1;
    if (!m_queue.empty()) {
        if (!m_broken) {
            ++m_stats.misuse;  // still playing: reset first
            return -1;
        }
        m_queue.clear();
        m_stats.queued = 0;
    }
    m_stats.open = false;
    m_broken = false;
    ++m_stats.closes;
    if (m_heldOpen) {
        m_heldOpen = false;
        m_stats.openHeld = false;
        notifyLocked(SoundNotification::Opened);
    }
    if (m_holdClose) {
        m_heldClose = true;
        m_stats.closeHeld = true;
        changedLocked();
    } else {
        notifyLocked(SoundNotification::Closed);
    }
    return 0;
}

int32_t SimulatedSoundCard::position(int64_t &bytesPlayed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stats.open || m_broken || consumeFailure(Call::Position))
        return -1;
    bytesPlayed = playedLocked(nowUsLocked());
    return 0;
}

void SimulatedSoundCard::tickerLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopTicker) {
        processLocked(nowUsLocked());
        const int64_t due = dueUsLocked();
        if (due < 0)
            m_changed.wait(lock);
        else
            m_changed.wait_until(lock, m_origin + std::chrono::microseconds(due));
    }
}

SimulatedDevice::SimulatedDevice(std::shared_ptr<SimulatedSoundCard> card) : m_card(std::move(card))
{
    m_card->attach(this);
}

SimulatedDevice::~SimulatedDevice()
{
    m_card->detach(this);
}

int32_t SimulatedDevice::open(const SoundFormat &format, SoundCallback callback, void *instance)
{
    return m_card->open(format, callback, instance);
}

int32_t SimulatedDevice::prepare(SoundBuffer &buffer)
{
    return m_card->prepare(buffer);
}

int32_t SimulatedDevice::unprepare(SoundBuffer &buffer)
{
    return m_card->unprepare(buffer);
}

int32_t SimulatedDevice::write(SoundBuffer &buffer)
{
    return m_card->write(buffer);
}

int32_t SimulatedDevice::reset()
{
    return m_card->reset();
}

int32_t SimulatedDevice::close()
{
    return m_card->close();
}

int32_t SimulatedDevice::position(int64_t &bytesPlayed)
{
    return m_card->position(bytesPlayed);
}

} // namespace vorn
