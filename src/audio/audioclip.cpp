// AudioClip: reading a WAV song whole through libsndfile, and its time and envelope arithmetic.
#include "audio/audioclip.h"

#include "base/check.h"
#include "base/saturate.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include <sys/mman.h>

namespace vorn {

namespace {

// Song files are read one at a time, whichever thread loads them.
std::mutex &loadLock()
{
    static std::mutex lock;
    return lock;
}

// A WAVEFORMATEX's cbSize is 16 bits, so no honest format block is longer than this; the cap
// keeps a lying chunk size from asking for gigabytes.
constexpr uint32_t MaxFormatBytes = 18 + 65535;

// The largest byte count whose 64 KiB round-up still fits a signed 32-bit size.
constexpr int64_t MaxDataBytes = int64_t(std::numeric_limits<int32_t>::max()) - (AudioClip::BlockBytes - 1);

uint16_t readU16(const std::vector<uint8_t> &block, int offset)
{
    if (block.size() < size_t(offset) + 2)
        return 0;
    return uint16_t(block[offset] | (block[offset + 1] << 8));
}

uint32_t readU32(const std::vector<uint8_t> &block, int offset)
{
    if (block.size() < size_t(offset) + 4)
        return 0;
    return uint32_t(block[offset]) | (uint32_t(block[offset + 1]) << 8)
           | (uint32_t(block[offset + 2]) << 16) | (uint32_t(block[offset + 3]) << 24);
}

void writeU32(std::vector<uint8_t> &block, int offset, uint32_t value)
{
    if (block.size() < size_t(offset) + 4)
        return;
    for (int i = 0; i < 4; ++i)
        block[offset + i] = uint8_t(value >> (8 * i));
}

// a × b, pinned to the int64 range instead of overflowing.
int64_t saturatingMultiply(int64_t a, int64_t b)
{
    int64_t product = 0;
    if (!__builtin_mul_overflow(a, b, &product))
        return product;
    return (a < 0) != (b < 0) ? std::numeric_limits<int64_t>::min()
                              : std::numeric_limits<int64_t>::max();
}

// Closes the file on every path out of load().
struct SndFileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

// The declared size of the first chunk with this id, or false when there is none.
bool chunkSize(SNDFILE *file, const char id[4], uint32_t &size)
{
    SF_CHUNK_INFO query{};
    std::memcpy(query.id, id, 4);
    query.id_size = 4;
    SF_CHUNK_ITERATOR *it = sf_get_chunk_iterator(file, &query);
    if (!it)
        return false;
    SF_CHUNK_INFO info{};
    if (sf_get_chunk_size(it, &info) != SF_ERR_NO_ERROR)
        return false;
    size = info.datalen;
    return true;
}

bool readFormatChunk(SNDFILE *file, std::vector<uint8_t> &format)
{
    SF_CHUNK_INFO query{};
    std::memcpy(query.id, "fmt ", 4);
    query.id_size = 4;
    SF_CHUNK_ITERATOR *it = sf_get_chunk_iterator(file, &query);
    if (!it)
        return false;
    SF_CHUNK_INFO info{};
    if (sf_get_chunk_size(it, &info) != SF_ERR_NO_ERROR)
        return false;
    const uint32_t size = info.datalen;
    if (size < 16 || size > MaxFormatBytes)
        return false;
    format.assign(size, 0);
    info.data = format.data();
    info.datalen = size;
    if (sf_get_chunk_data(it, &info) != SF_ERR_NO_ERROR || info.datalen != size)
        return false;
    return true;
}

// The envelope of a zoomed-out strip touches a few bytes on every page of a song of a hundred
// megabytes; in 2 MiB pages those reads stop missing the TLB. Only the aligned interior of the
// buffer can be advised, and the advice is only a hint.
void adviseHugePages(uint8_t *buffer, size_t size)
{
    constexpr uintptr_t HugePage = 2 * 1024 * 1024;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(buffer) + HugePage - 1) & ~(HugePage - 1);
    const uintptr_t stop = (reinterpret_cast<uintptr_t>(buffer) + size) & ~(HugePage - 1);
    if (stop > start)
        madvise(reinterpret_cast<void *>(start), stop - start, MADV_HUGEPAGE);
}

} // namespace

bool AudioClip::load()
{
    if (m_loaded)
        return false;

    std::lock_guard<std::mutex> guard(loadLock());

    // The clip either loads whole or stays empty: a failure drops whatever was read so far.
    auto fail = [this] {
        unload();
        return false;
    };
    fail();

    // Only regular files: opening a FIFO would wait for a writer that may never come.
    std::error_code error;
    if (!std::filesystem::is_regular_file(m_path, error))
        return fail();

    SF_INFO info{};
    SndFilePtr file(sf_open(m_path.c_str(), SFM_READ, &info));
    if (!file)
        return fail();

    // RIFF WAVE only, little-endian: the samples go to the device exactly as stored.
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX)
        return fail();
    if ((info.format & SF_FORMAT_ENDMASK) == SF_ENDIAN_BIG)
        return fail();

    if (!readFormatChunk(file.get(), m_format))
        return fail();
    const int32_t bits = bitsPerSample();
    const int32_t channelCount = channels();
    if (bits != 16 && bits != 8)
        return fail();
    if (channelCount != 1 && channelCount != 2)
        return fail();
    // The bytes are handed to the device as linear PCM, so a compressed coding that happens to
    // use 8 bits (A-law, mu-law) is refused rather than played as noise.
    const int coding = info.format & SF_FORMAT_SUBMASK;
    if ((bits == 16 && coding != SF_FORMAT_PCM_16) || (bits == 8 && coding != SF_FORMAT_PCM_U8))
        return fail();
    if (info.channels != channelCount)
        return fail();
    setSpeed(1);
    // Every time is converted through the byte rate: a field that disagrees with the sample
    // rate (1 byte a second makes a 2-minute song 596 hours long) would put every mark and
    // checkpoint at a wrong time, so such a file is refused rather than trusted. So is a rate
    // no sound device plays.
    const uint32_t rate = samplesPerSec();
    if (rate < MinSamplesPerSec || rate > MaxSamplesPerSec
        || uint64_t(avgBytesPerSec()) != uint64_t(rate) * uint32_t(m_blockAlign))
        return fail();

    // A truncated file opens with its frame count clipped to what is there: compare with the
    // data chunk's own size so that a cut-off song fails instead of loading shorter.
    uint32_t declaredBytes = 0;
    if (!chunkSize(file.get(), "data", declaredBytes))
        return fail();
    if (info.frames < 0 || uint64_t(info.frames) != declaredBytes / uint32_t(m_blockAlign))
        return fail();

    const int64_t bytes = int64_t(m_blockAlign) * info.frames;
    if (bytes < MinDataBytes || bytes > MaxDataBytes)
        return fail();
    m_streamLength = int32_t(info.frames);
    m_bufferSize = (int32_t(bytes) + (BlockBytes - 1)) / BlockBytes * BlockBytes;

    // The read fills the front; only the tail needs silence, which spares touching the whole
    // buffer twice.
    m_samples.reset(new (std::nothrow) uint8_t[size_t(m_bufferSize)]);
    if (!m_samples)
        return fail();
    adviseHugePages(m_samples.get(), size_t(m_bufferSize));
    std::memset(m_samples.get() + bytes, silenceByte(), size_t(m_bufferSize - bytes));

    // Reading the format chunk may have moved the file position.
    if (sf_seek(file.get(), 0, SEEK_SET) != 0)
        return fail();
    if (sf_read_raw(file.get(), m_samples.get(), bytes) != bytes)
        return fail();
    file.reset();

    m_lengthMs = sampleFramesToMs(m_streamLength);
    const int32_t bufferFrames = m_bufferSize / m_blockAlign;
    if (bufferFrames > endPosition())
        m_endPosition.store(bufferFrames, std::memory_order_relaxed);
    m_loaded = true;
    raiseEndPosition();
    return true;
}

void AudioClip::setSpeed(int32_t divisor)
{
    VORN_CHECK(divisor == 1 || divisor == 2 || divisor == 4, return);
    m_speedDivisor = divisor;
    m_blockAlign = channels() * bitsPerSample() / 8;
    m_deviceFormat = m_format;
    writeU32(m_deviceFormat, SamplesPerSecOffset, samplesPerSec() / uint32_t(divisor));
    writeU32(m_deviceFormat, AvgBytesPerSecOffset, avgBytesPerSec() / uint32_t(divisor));
}

void AudioClip::setVideoLength(int32_t ms)
{
    m_videoLengthMs = ms;
    raiseEndPosition();
}

void AudioClip::raiseEndPosition()
{
    if (m_format.empty())
        return;
    // The int32 sum wraps where it overflows and is then read as unsigned; doing it in
    // unsigned arithmetic gives the same bits without the overflow.
    const uint32_t ms = uint32_t(m_videoLengthMs) + 1999u;
    const int32_t e = truncToInt32(double(ms) * avgBytesPerSec() / (m_blockAlign * 1000.0) + 0.5);
    if (e > endPosition())
        m_endPosition.store(e, std::memory_order_relaxed);
}

int32_t AudioClip::sampleAt(int channel, int32_t frame) const
{
    if (!m_samples || frame < 0 || channel < 0)
        return 0;
    const int64_t index = int64_t(channels()) * frame + channel;
    if (bitsPerSample() == 16) {
        if (index * 2 + 1 >= m_bufferSize)
            return 0;
        const uint8_t *p = m_samples.get() + index * 2;
        return int16_t(uint16_t(p[0] | (p[1] << 8)));
    }
    if (index >= m_bufferSize)
        return 0;
    return (int32_t(m_samples[size_t(index)]) - 128) * 256;
}

int32_t AudioClip::msToSampleFrames(int32_t ms) const
{
    if (m_blockAlign <= 0)
        return 0;
    // A negative time reads as a very large unsigned one and saturates.
    return truncToInt32(double(uint32_t(ms)) * avgBytesPerSec() / (m_blockAlign * 1000.0) + 0.5);
}

int32_t AudioClip::sampleFramesToMs(int32_t frames) const
{
    const uint32_t rate = avgBytesPerSec();
    if (rate == 0)
        return 0;
    // The byte count is a 32-bit product read as unsigned: unsigned arithmetic wraps it
    // the same way without signed overflow.
    const uint32_t bytes = uint32_t(frames) * uint32_t(m_blockAlign);
    return truncToInt32(double(bytes) * 1000.0 / rate + 0.5);
}

AudioClip::Envelope AudioClip::rowEnvelope(int32_t rowStart, int32_t spp, int32_t step,
                                           int32_t end, int32_t width, int channel) const
{
    // Callers pass at least 1 for both; guarding here keeps a bad call from dividing by zero
    // or looping forever.
    if (spp < 1)
        spp = 1;
    if (step < 1)
        step = 1;
    // With step = spp / 100 a row reads at most 199 samples, so 32-bit sums would do; 64 bits
    // keep any other call free of overflow and give the same results.
    int64_t pos = 0;
    int64_t neg = 0;
    auto add = [&](int32_t v) {
        if (v < 1)
            neg += v;
        else
            pos += v;
    };
    const int64_t first = rowStart;
    const int64_t stop = std::min(first + spp, int64_t(end));
    const int32_t channelCount = channels();
    const int32_t bits = bitsPerSample();
    if (m_samples && channel >= 0 && first >= 0 && channelCount > 0 && (bits == 8 || bits == 16)) {
        // The same values sampleAt() gives, read straight from the buffer: frames past the
        // buffer read as 0 and add nothing, so the walk stops where the buffer ends.
        const int64_t bufferSamples = m_bufferSize / (bits / 8);
        const int64_t frameLimit = channel < bufferSamples
                                       ? (bufferSamples - channel + channelCount - 1) / channelCount
                                       : 0;
        const int64_t last = std::min(stop, frameLimit);
        const int64_t stride = int64_t(step) * channelCount;
        if (bits == 16) {
            const uint8_t *base = m_samples.get() + 2 * channel;
            for (int64_t f = first, index = first * channelCount; f < last; f += step, index += stride) {
                const uint8_t *q = base + 2 * index;
                add(int16_t(uint16_t(q[0] | (q[1] << 8))));
            }
        } else {
            const uint8_t *base = m_samples.get() + channel;
            for (int64_t f = first, index = first * channelCount; f < last; f += step, index += stride)
                add((int32_t(base[index]) - 128) * 256);
        }
    } else {
        for (int64_t f = first; f < stop; f += step)
            add(sampleAt(channel, int32_t(f)));
    }
    // C++ division truncates toward zero, as the drawing expects for the negative side.
    Envelope envelope;
    auto scale = [&](int64_t sum) {
        return clampToInt32(saturatingMultiply(saturatingMultiply(sum / spp, width), step) / 20000);
    };
    envelope.positive = scale(pos);
    envelope.negative = scale(neg);
    return envelope;
}

int32_t AudioClip::channels() const
{
    return readU16(m_format, ChannelsOffset);
}

uint32_t AudioClip::samplesPerSec() const
{
    return readU32(m_format, SamplesPerSecOffset);
}

uint32_t AudioClip::avgBytesPerSec() const
{
    return readU32(m_format, AvgBytesPerSecOffset);
}

int32_t AudioClip::bitsPerSample() const
{
    return readU16(m_format, BitsPerSampleOffset);
}

uint32_t AudioClip::deviceSamplesPerSec() const
{
    return readU32(m_deviceFormat, SamplesPerSecOffset);
}

uint32_t AudioClip::deviceAvgBytesPerSec() const
{
    return readU32(m_deviceFormat, AvgBytesPerSecOffset);
}

void AudioClip::unload()
{
    m_samples.reset();
    m_format.clear();
    m_deviceFormat.clear();
    m_blockAlign = m_bufferSize = m_streamLength = m_lengthMs = 0;
    m_loaded = false;
}

} // namespace vorn
