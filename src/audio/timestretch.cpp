// TimeStretch: Rubber Band in real-time mode, with its start delay taken out.
#include "audio/timestretch.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vorn {

namespace {

using RB = RubberBand::RubberBandStretcher;

// R3 (the finer engine) with crisp transients: measured on 10 ms bursts, the attacks it puts
// out sit within about 4.5 ms (1/2 speed) and 7 ms (1/4) of song time of where the song has them,
// mostly a little early. R2 scatters them from 10 ms early to 21 ms late, R2 with
// mixed or smooth transients sits 3 to 10 ms off, and R3's short window doubles the scatter.
constexpr RB::Options Options = RB::OptionProcessRealTime | RB::OptionEngineFiner
                                | RB::OptionTransientsCrisp | RB::OptionChannelsTogether;

} // namespace

TimeStretch::TimeStretch(uint32_t rate, int32_t channels, int32_t bitsPerSample, int32_t divisor)
    : m_stretcher(std::make_unique<RB>(rate, size_t(std::max(1, channels)), Options,
                                       double(divisor), 1.0)),
      m_channels(std::max(1, channels)), m_bits(bitsPerSample), m_divisor(divisor),
      m_planes(size_t(m_channels), std::vector<float>(MaxFeedFrames)),
      m_pointers(size_t(m_channels))
{
    m_stretcher->setMaxProcessSize(MaxFeedFrames);
    for (int32_t c = 0; c < m_channels; ++c)
        m_pointers[size_t(c)] = m_planes[size_t(c)].data();
    reset();
}

TimeStretch::~TimeStretch() = default;

void TimeStretch::reset()
{
    m_stretcher->reset();
    // Silence ahead of the song, so that its first frame is not faded in; the delay that
    // remains is dropped from the output.
    int64_t pad = int64_t(m_stretcher->getPreferredStartPad());
    for (float *plane : m_pointers)
        std::fill(plane, plane + MaxFeedFrames, 0.0f);
    while (pad > 0) {
        const int32_t n = int32_t(std::min<int64_t>(pad, MaxFeedFrames));
        process(m_pointers.data(), n);
        pad -= n;
    }
    m_toDrop = int64_t(m_stretcher->getStartDelay());
}

int32_t TimeStretch::framesWanted() const
{
    return int32_t(std::clamp<size_t>(m_stretcher->getSamplesRequired(), 1, MaxFeedFrames));
}

void TimeStretch::process(const float *const *channels, int32_t frames)
{
    m_stretcher->process(channels, size_t(frames), false);
}

void TimeStretch::feed(const uint8_t *pcm, int32_t frames)
{
    frames = std::clamp(frames, 0, MaxFeedFrames);
    for (int32_t f = 0; f < frames; ++f) {
        for (int32_t c = 0; c < m_channels; ++c) {
            const int64_t i = int64_t(f) * m_channels + c;
            float v = 0.0f;
            if (m_bits == 16)
                v = float(int16_t(uint16_t(pcm[2 * i] | (pcm[2 * i + 1] << 8)))) / 32768.0f;
            else
                v = float(int32_t(pcm[i]) - 128) / 128.0f;
            m_planes[size_t(c)][size_t(f)] = v;
        }
    }
    process(m_pointers.data(), frames);
}

int32_t TimeStretch::take(uint8_t *pcm, int32_t frames)
{
    int32_t written = 0;
    while (written < frames) {
        const int available = m_stretcher->available();
        if (available <= 0)
            break;
        int64_t want = std::min<int64_t>(available, MaxFeedFrames);
        if (m_toDrop == 0)
            want = std::min<int64_t>(want, frames - written);
        else
            want = std::min<int64_t>(want, m_toDrop);
        const size_t got = m_stretcher->retrieve(m_pointers.data(), size_t(want));
        if (got == 0)
            break;
        if (m_toDrop > 0) {
            m_toDrop -= int64_t(got);
            continue;
        }
        for (size_t f = 0; f < got; ++f) {
            for (int32_t c = 0; c < m_channels; ++c) {
                const float v = std::clamp(m_planes[size_t(c)][f], -1.0f, 1.0f);
                const int64_t i = (int64_t(written) + int64_t(f)) * m_channels + c;
                if (m_bits == 16) {
                    const auto s = uint16_t(int16_t(std::lrint(v * 32767.0f)));
                    pcm[2 * i] = uint8_t(s & 0xFF);
                    pcm[2 * i + 1] = uint8_t(s >> 8);
                } else {
                    pcm[i] = uint8_t(std::clamp<long>(std::lrint(v * 127.0f) + 128, 0, 255));
                }
            }
        }
        written += int32_t(got);
    }
    return written;
}

} // namespace vorn
