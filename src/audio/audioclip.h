// AudioClip: the song held wholly in memory, its format and the millisecond / sample-frame
// arithmetic that every time-line position goes through.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace vorn {

// Time-line positions and lengths are int32 sample frames; they are signed because the time
// line and the scroll arithmetic subtract positions freely. Song times are int32 milliseconds.
class AudioClip {
public:
    // Offsets of the fields read from the WAVEFORMATEX block.
    static constexpr int ChannelsOffset = 2;
    static constexpr int SamplesPerSecOffset = 4;
    static constexpr int AvgBytesPerSecOffset = 8;
    static constexpr int BitsPerSampleOffset = 14;
    static constexpr int32_t MinDataBytes = 131072;  // shorter songs are refused
    // Sample rates outside this range are refused (the lowest telephone rate is 8 kHz; the
    // fastest converters take 768 kHz).
    static constexpr uint32_t MinSamplesPerSec = 1000;
    static constexpr uint32_t MaxSamplesPerSec = 768000;
    static constexpr int32_t BlockBytes = 65536;     // playback quantum; buffers round up to it

    struct Envelope {
        int32_t positive = 0;  // pixels right of the centre line
        int32_t negative = 0;  // pixels left of it (zero or negative)
    };

    AudioClip() = default;
    AudioClip(const AudioClip &) = delete;
    AudioClip &operator=(const AudioClip &) = delete;

    void setPath(std::filesystem::path path) { m_path = std::move(path); }
    const std::filesystem::path &path() const { return m_path; }

    // Reads the WAV file named by path(): the 'fmt ' chunk byte for byte and the data chunk's
    // bytes as stored. Fails (false) when already loaded, when the file is unreadable or not
    // PCM 8/16-bit mono/stereo, holds fewer than MinDataBytes, lies about its sizes, has a
    // sample rate outside MinSamplesPerSec ... MaxSamplesPerSec or a byte rate other than
    // rate × blockAlign, or memory runs out. Serialised by a process-wide load lock. Runs on
    // the playback thread.
    bool load();
    bool isLoaded() const { return m_loaded; }

    // 1, 2 or 4: rebuilds deviceFormat() with the rates divided. Call only while not playing.
    void setSpeed(int32_t divisor);
    int32_t speedDivisor() const { return m_speedDivisor; }

    // Length of the scenario's video; raises endPosition() to cover it plus 1999 ms.
    // May be called from the interface thread while the engine reads endPosition().
    void setVideoLength(int32_t ms);
    int32_t videoLengthMs() const { return m_videoLengthMs; }

    // On a signed 16-bit scale; 0 beyond the buffer. frame must be >= 0.
    int32_t sampleAt(int channel, int32_t frame) const;

    // Song time at every speed: both use the file's format, never the device format.
    int32_t msToSampleFrames(int32_t ms) const;
    int32_t sampleFramesToMs(int32_t frames) const;

    // One row of the waveform strip for one channel: the scaled mean of the positive and of the
    // negative sample values over [rowStart, rowStart + spp), reading every step-th frame and
    // stopping at end.
    Envelope rowEnvelope(int32_t rowStart, int32_t spp, int32_t step, int32_t end, int32_t width,
                         int channel) const;

    const std::vector<uint8_t> &format() const { return m_format; }
    const std::vector<uint8_t> &deviceFormat() const { return m_deviceFormat; }
    int32_t channels() const;
    uint32_t samplesPerSec() const;
    uint32_t avgBytesPerSec() const;
    int32_t bitsPerSample() const;
    uint32_t deviceSamplesPerSec() const;
    uint32_t deviceAvgBytesPerSec() const;

    int32_t blockAlign() const { return m_blockAlign; }
    int32_t streamLength() const { return m_streamLength; }
    int32_t lengthMs() const { return m_lengthMs; }
    int32_t bufferSize() const { return m_bufferSize; }
    int32_t endPosition() const { return m_endPosition.load(std::memory_order_relaxed); }
    // The sample buffer: bufferSize() bytes, silence past the stream's data.
    const uint8_t *samples() const { return m_samples.get(); }
    // The silence byte of this format: 128 for 8-bit data, 0 for 16-bit.
    uint8_t silenceByte() const { return bitsPerSample() == 8 ? 128 : 0; }

    // Frees the samples and formats (the engine ends from Ready this way).
    void unload();

private:
    void raiseEndPosition();

    std::filesystem::path m_path;
    std::vector<uint8_t> m_format;
    std::vector<uint8_t> m_deviceFormat;
    std::unique_ptr<uint8_t[]> m_samples;
    int32_t m_speedDivisor = 1;
    int32_t m_blockAlign = 0;
    int32_t m_bufferSize = 0;
    int32_t m_streamLength = 0;
    int32_t m_lengthMs = 0;
    int32_t m_videoLengthMs = 0;
    std::atomic<int32_t> m_endPosition{0};
    bool m_loaded = false;
};

} // namespace vorn
