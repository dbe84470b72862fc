// TimeStretch: slows the song down without lowering its pitch, block by block, in real time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace RubberBand {
class RubberBandStretcher;
}

namespace vorn {

// Stretches interleaved 8-bit (unsigned) or 16-bit (signed) PCM by a whole divisor (2 or 4).
// The first output frame after reset() belongs to the first input frame fed after it: the
// stretcher's start delay is padded and dropped here, so that output frame k is song frame
// k / divisor of what was fed, and the engine can keep counting song time exactly.
// Engine thread only; allocates only in the constructor.
class TimeStretch {
public:
    TimeStretch(uint32_t rate, int32_t channels, int32_t bitsPerSample, int32_t divisor);
    ~TimeStretch();
    TimeStretch(const TimeStretch &) = delete;
    TimeStretch &operator=(const TimeStretch &) = delete;

    int32_t divisor() const { return m_divisor; }
    // Forgets everything fed so far; the next frame fed is the next frame output.
    void reset();
    // Input frames the stretcher wants before it can give more output (at least 1).
    int32_t framesWanted() const;
    // Feeds `frames` frames of PCM (at most maxFeedFrames()).
    void feed(const uint8_t *pcm, int32_t frames);
    // Writes up to `frames` stretched frames into `pcm`; returns how many it wrote.
    int32_t take(uint8_t *pcm, int32_t frames);
    static constexpr int32_t MaxFeedFrames = 4096;

private:
    void process(const float *const *channels, int32_t frames);

    std::unique_ptr<RubberBand::RubberBandStretcher> m_stretcher;
    const int32_t m_channels;
    const int32_t m_bits;
    const int32_t m_divisor;
    int64_t m_toDrop = 0;  // output frames of the start delay still to discard
    std::vector<std::vector<float>> m_planes;
    std::vector<float *> m_pointers;
};

} // namespace vorn
