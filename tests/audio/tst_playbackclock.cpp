// The playback clock: timing reports as a sound server gives them (jittery, primed before a
// slow start, interrupted by an underrun, from a clock of its own) to a smooth position.
#include "audio/portaudio/playbackclock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vorn {
namespace {

constexpr double Rate = 176400.0;  // bytes per second: 44.1 kHz, 16-bit stereo
constexpr int64_t Chunk = 1764;    // bytes per report: 10 ms

// Where the listener truly is: bytes heard at time t (seconds) of a device that starts at
// `startS`, plays at `rateFactor` times the nominal rate and stalls for `stallS` at `stallAtS`.
struct Truth {
    double startS = 0, rateFactor = 1, stallAtS = 1e9, stallS = 0;
    double bytesAt(double t) const
    {
        double playing = std::max(0.0, t - startS);
        if (t > stallAtS)
            playing -= std::min(stallS, t - stallAtS);
        return playing * Rate * rateFactor;
    }
    // When byte b is heard (the inverse).
    double heardAt(double b) const
    {
        double t = startS + b / (Rate * rateFactor);
        return t > stallAtS ? t + stallS : t;
    }
};

} // namespace

TEST(PlaybackClock, FollowsTheReportsSmoothlyAndNeverGoesBack)
{
    // Each report is off by up to jitterMs either way; primedReports are made at once at t = 0,
    // before the device runs, stamped as heard primedSpacingMs apart from t = 0 on; from settleS
    // on the error stays within withinMs; reports are made leadMs before their bytes are heard.
    const struct {
        const char *name;
        Truth truth;
        double jitterMs;
        int primedReports;
        double primedSpacingMs, settleS, withinMs, leadMs = 10;
    } cases[] = {
        {"steady, 3 ms jitter", {}, 3.0, 0, 0, 1.0, 1.0},
        {"slow server start with pre-filled buffers", {1.5}, 0.5, 4, 10, 1.535, 1.0},
        {"pre-filled buffers stamped as heard at once", {0.15}, 0.5, 5, 0, 0.3, 1.0},
        {"pre-filled buffers, a device that starts at once", {}, 0.5, 5, 10, 0.02, 1.0, 50},
        {"a 100 ms underrun at 2 s", {0, 1, 2.0, 0.1}, 0.5, 0, 0, 2.4, 1.0},
        {"a device clock 1 % fast", {0, 1.01}, 0.5, 0, 0, 2.0, 0.5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PlaybackClock clock;
        clock.reset(Rate);
        const Truth &truth = c.truth;
        auto ns = [](double s) { return int64_t(std::llround(s * 1e9)); };
        int64_t nextByte = 0;
        for (int i = 0; i < c.primedReports; ++i, nextByte += Chunk)
            clock.report(0, ns(i * c.primedSpacingMs / 1000.0), nextByte, Chunk);
        // A report per chunk, made before it is heard, off by a repeatable jitter.
        uint32_t noise = 12345;
        auto jitter = [&] {
            noise = noise * 1103515245u + 12345u;
            return (double(noise >> 8) / double(1u << 24) * 2.0 - 1.0) * c.jitterMs / 1000.0;
        };
        double worstEarly = 0, worstLate = 0, worstAhead = 0;  // ahead: before the first sound
        int64_t last = 0;
        for (double t = 0; t < 5.0; t += 0.001) {
            while (truth.heardAt(double(nextByte)) - c.leadMs / 1000.0 <= t) {
                const double heard = truth.heardAt(double(nextByte));
                clock.report(ns(heard - c.leadMs / 1000.0), ns(heard + jitter()), nextByte, Chunk);
                nextByte += Chunk;
            }
            const int64_t bytes = clock.bytesAt(ns(t));
            ASSERT_GE(bytes, last) << "went back at " << t << " s";
            ASSERT_LE(bytes, nextByte) << "ran past what was handed over at " << t << " s";
            last = bytes;
            const double errorMs = (double(bytes) - truth.bytesAt(t)) / Rate * 1000.0;
            if (truth.bytesAt(t) <= 0)
                worstAhead = std::max(worstAhead, errorMs);
            if (t < c.settleS)
                worstEarly = std::max(worstEarly, std::abs(errorMs));
            else
                worstLate = std::max(worstLate, std::abs(errorMs));
        }
        EXPECT_LE(worstLate, c.withinMs);
        // Not a byte ahead while a server starts: the position waits for the sound.
        EXPECT_LE(worstAhead, 0.0);
        // Before it settles it is off by no more than the primed bytes or the stall.
        EXPECT_LE(worstEarly, 1000.0 * std::max(c.primedReports * Chunk / Rate, truth.stallS) + 2 * c.jitterMs + 1);
    }
}

} // namespace vorn
