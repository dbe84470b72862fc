// MarkClicks: the click bursts and their mixing into 8- and 16-bit blocks.
#include "audio/markclicks.h"

#include <algorithm>
#include <cmath>

namespace vorn {

void MarkClicks::sort()
{
    for (auto &strip : positions)
        std::sort(strip.begin(), strip.end());
}

void MixMarkClicks(uint8_t *block, int32_t bytes, int32_t firstFrame, const MarkClicks &clicks,
                   const SoundFormat &format, uint32_t songRate, int32_t divisor)
{
    if (!block || bytes <= 0 || format.blockAlign <= 0 || songRate == 0 || divisor <= 0)
        return;
    const int64_t frames = bytes / format.blockAlign;
    // Song frames per listening second are songRate / divisor.
    const double framesPerListeningSec = double(songRate) / divisor;
    const int64_t clickFrames = std::max<int64_t>(1, int64_t(ClickMs / 1000.0 * framesPerListeningSec));
    const int64_t blockStart = firstFrame;
    const int64_t blockEnd = blockStart + frames;
    for (int k = 0; k < MarkClicks::StripCount; ++k) {
        const std::vector<int32_t> &marks = clicks.positions[size_t(k)];
        const double step = 2.0 * M_PI * ClickHz[size_t(k)] / framesPerListeningSec;
        // Decays to about 1 % (e^-4.6) by the end of the click.
        const double decay = 4.6 / double(clickFrames);
        auto it = std::lower_bound(marks.begin(), marks.end(), int32_t(std::max<int64_t>(
                                                                   INT32_MIN, blockStart - clickFrames + 1)));
        for (; it != marks.end() && *it < blockEnd; ++it) {
            const int64_t from = std::max<int64_t>(*it, blockStart);
            const int64_t to = std::min<int64_t>(int64_t(*it) + clickFrames, blockEnd);
            for (int64_t f = from; f < to; ++f) {
                const double t = double(f - *it);
                const double v = ClickLevel * std::cos(step * t) * std::exp(-decay * t);
                uint8_t *frame = block + (f - blockStart) * format.blockAlign;
                for (int c = 0; c < format.channels; ++c) {
                    if (format.bitsPerSample == 16) {
                        uint8_t *p = frame + c * 2;
                        const int32_t s = int16_t(uint16_t(p[0] | (p[1] << 8)));
                        const int32_t mixed = std::clamp(s + int32_t(std::lround(v * 32767.0)), -32768, 32767);
                        p[0] = uint8_t(mixed & 0xFF);
                        p[1] = uint8_t((mixed >> 8) & 0xFF);
                    } else {
                        uint8_t *p = frame + c;
                        p[0] = uint8_t(std::clamp(int32_t(p[0]) + int32_t(std::lround(v * 127.0)), 0, 255));
                    }
                }
            }
        }
    }
}

} // namespace vorn
