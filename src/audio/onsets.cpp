// Onsets: an energy-rise detector over short hops, and the nearest onset to a tap.
#include "audio/onsets.h"

#include "audio/audioclip.h"

#include <algorithm>
#include <cmath>

namespace vorn {

namespace {
constexpr int32_t Hop = 128;          // 2.9 ms at 44.1 kHz: the detector's resolution
constexpr int History = 4;            // hops the energy is compared with
constexpr double RiseDb = 6.0;
constexpr double FloorDb = -60.0;     // quieter hops count as silence
constexpr int32_t MinGapMs = 50;
} // namespace

OnsetSource OnsetSource::of(const AudioClip &song)
{
    return {song.samples(), song.bufferSize(), song.channels(), song.bitsPerSample(),
            song.samplesPerSec()};
}

std::vector<int32_t> findOnsets(const OnsetSource &song)
{
    const int32_t channels = song.channels;
    const int32_t bytesPerSample = song.bitsPerSample == 16 ? 2 : song.bitsPerSample == 8 ? 1 : 0;
    const int32_t blockAlign = channels * bytesPerSample;
    if (!song.samples || channels <= 0 || blockAlign <= 0 || song.samplesPerSec == 0)
        return {};
    auto sampleAt = [&](int32_t c, int32_t f) -> int32_t {
        const uint8_t *p = song.samples + int64_t(f) * blockAlign + c * bytesPerSample;
        return bytesPerSample == 2 ? int16_t(uint16_t(p[0] | (p[1] << 8))) : (int32_t(p[0]) - 128) * 256;
    };
    const int32_t frames = song.bytes / blockAlign;
    const int32_t hops = frames / Hop;
    // Mean square per hop of the channels' mix, on a full scale of 1.
    std::vector<double> energy(size_t(std::max(0, hops)), 0.0);
    for (int32_t h = 0; h < hops; ++h) {
        double sum = 0;
        for (int32_t f = h * Hop; f < (h + 1) * Hop; ++f) {
            double mixed = 0;
            for (int32_t c = 0; c < channels; ++c)
                mixed += sampleAt(c, f);
            mixed /= 32768.0 * channels;
            sum += mixed * mixed;
        }
        energy[size_t(h)] = sum / Hop;
    }
    const double floor = std::pow(10.0, FloorDb / 10.0);
    const double rise = std::pow(10.0, RiseDb / 10.0);
    std::vector<std::pair<int32_t, double>> candidates;  // hop, strength
    for (int32_t h = History; h < hops; ++h) {
        double before = 0;
        for (int i = 1; i <= History; ++i)
            before += energy[size_t(h - i)];
        before = std::max(before / History, floor);
        if (energy[size_t(h)] > floor && energy[size_t(h)] >= rise * before)
            candidates.push_back({h, energy[size_t(h)] / before});
    }
    // Of candidates closer than the gap, the strongest stands for them.
    const int32_t gapHops = std::max<int32_t>(1, int32_t(int64_t(song.samplesPerSec) * MinGapMs / 1000 / Hop));
    std::vector<int32_t> onsets;
    for (size_t i = 0; i < candidates.size();) {
        size_t best = i;
        size_t j = i + 1;
        while (j < candidates.size() && candidates[j].first - candidates[j - 1].first < gapHops) {
            if (candidates[j].second > candidates[best].second)
                best = j;
            ++j;
        }
        // To the frame: the first one, from the hop before the jump on, that stands clear of
        // what came before (4 times its level) and of the noise (a tenth of the hop's peak).
        const int32_t h = candidates[best].first;
        double before = 0;
        for (int k = 1; k <= History; ++k)
            before += energy[size_t(h - k)];
        auto level = [&](int32_t f) {
            double mixed = 0;
            for (int32_t c = 0; c < channels; ++c)
                mixed += sampleAt(c, f);
            return std::abs(mixed / (32768.0 * channels));
        };
        double peak = 0;
        for (int32_t f = h * Hop; f < (h + 1) * Hop; ++f)
            peak = std::max(peak, level(f));
        const double threshold = std::max(4.0 * std::sqrt(before / History), 0.1 * peak);
        int32_t onset = h * Hop;
        for (int32_t f = (h - 1) * Hop; f < (h + 1) * Hop; ++f) {
            if (level(f) > threshold) {
                onset = f;
                break;
            }
        }
        onsets.push_back(onset);
        i = j;
    }
    return onsets;
}

int32_t nearestOnset(std::span<const int32_t> onsets, int32_t position, int32_t window)
{
    const auto at = std::lower_bound(onsets.begin(), onsets.end(), position);
    int32_t best = -1;
    int64_t bestDistance = int64_t(window) + 1;
    for (auto it : {at, at == onsets.begin() ? onsets.end() : at - 1}) {
        if (it == onsets.end())
            continue;
        const int64_t distance = std::llabs(int64_t(*it) - position);
        if (distance < bestDistance) {
            best = *it;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace vorn
