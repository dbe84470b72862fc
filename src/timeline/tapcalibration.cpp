// Tap calibration: the median offset of the taps, refused when too few or too scattered.
#include "timeline/tapcalibration.h"

#include "audio/markclicks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vorn {

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

void put16(std::vector<uint8_t> &out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t> &out, uint32_t v)
{
    put16(out, uint16_t(v));
    put16(out, uint16_t(v >> 16));
}

} // namespace

std::vector<uint8_t> ClickTrack::wavBytes()
{
    const uint32_t frames = uint32_t(int64_t(lengthMs()) * Rate / 1000);
    std::vector<uint8_t> samples(size_t(frames) * 4, 0);
    MarkClicks clicks;
    for (int i = 0; i < Count; ++i)
        clicks.positions[0].push_back(int32_t(int64_t(clickMs(i)) * Rate / 1000));
    const SoundFormat format{2, 16, Rate, 4};
    // Twice over: a click the listener must not miss.
    for (int pass = 0; pass < 2; ++pass)
        MixMarkClicks(samples.data(), int32_t(samples.size()), 0, clicks, format, Rate, 1);
    std::vector<uint8_t> out;
    out.reserve(44 + samples.size());
    for (const char *tag : {"RIFF"})
        out.insert(out.end(), tag, tag + 4);
    put32(out, uint32_t(36 + samples.size()));
    for (const char *tag : {"WAVE", "fmt "})
        out.insert(out.end(), tag, tag + 4);
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, 2);  // stereo, as songs mostly are: the output runs as it will for them
    put32(out, Rate);
    put32(out, Rate * 4);
    put16(out, 4);
    put16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, uint32_t(samples.size()));
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

Calibration calibrateTaps(std::span<const double> tapMs)
{
    std::vector<double> taps(tapMs.begin(), tapMs.end());
    std::sort(taps.begin(), taps.end());
    std::vector<double> offsets;
    for (size_t i = size_t(DroppedTaps); i < taps.size(); ++i) {
        // The nearest click, by rounding to the click grid.
        const double beat = std::round((taps[i] - ClickTrack::LeadMs) / ClickTrack::IntervalMs);
        if (beat < 0 || beat >= ClickTrack::Count)
            continue;
        const double offset = taps[i] - ClickTrack::clickMs(int(beat));
        if (std::abs(offset) < ClickTrack::IntervalMs / 2.0)
            offsets.push_back(offset);
    }
    Calibration result;
    result.used = int(offsets.size());
    char text[256];
    if (result.used < MinTaps) {
        std::snprintf(text, sizeof text,
                      "タップが少なすぎます（%d 回）。クリックに合わせて、もう一度お試しください。",
                      result.used);
        result.refusal = text;
        return result;
    }
    result.offsetMs = median(offsets);
    std::vector<double> deviations;
    for (double offset : offsets)
        deviations.push_back(std::abs(offset - result.offsetMs));
    result.spreadMs = median(deviations);
    if (result.spreadMs > MaxSpreadMs) {
        std::snprintf(text, sizeof text,
                      "タップのばらつきが大きすぎます（%.0f ms）。クリックに合わせて、もう一度お試しください。",
                      result.spreadMs);
        result.refusal = text;
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace vorn
