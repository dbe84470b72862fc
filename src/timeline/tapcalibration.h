// Tap calibration: how early or late a listener taps against a click track, and the track.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vorn {

// The click track a listener taps along to: Count clicks IntervalMs apart (100 beats a
// minute), the first at LeadMs, then TailMs of silence.
struct ClickTrack {
    static constexpr int Count = 24;
    static constexpr int32_t IntervalMs = 600;
    static constexpr int32_t LeadMs = 1000;
    static constexpr int32_t TailMs = 1000;
    static constexpr uint32_t Rate = 44100;

    static int32_t clickMs(int i) { return LeadMs + i * IntervalMs; }
    static int32_t lengthMs() { return LeadMs + (Count - 1) * IntervalMs + TailMs; }
    // The track as a WAV file (16-bit stereo at Rate): the engine's strip-0 click at each click.
    static std::vector<uint8_t> wavBytes();
};

struct Calibration {
    bool ok = false;
    double offsetMs = 0;      // median of tap - click: positive when the listener taps late
    double spreadMs = 0;      // median absolute deviation from it
    int used = 0;             // taps that counted
    std::string refusal;      // why not, for the user (UTF-8), when not ok
};

// The first DroppedTaps taps (the listener finding the beat) do not count; each other tap is
// paired with its nearest click within half an interval (others do not count). Fewer than
// MinTaps counted, or a spread over MaxSpreadMs, is refused with a request to try again.
constexpr int DroppedTaps = 4;
constexpr int MinTaps = 12;
constexpr double MaxSpreadMs = 25.0;
Calibration calibrateTaps(std::span<const double> tapMs);

} // namespace vorn
