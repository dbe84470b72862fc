// PlaybackClock: where a sound device's output stands between its timing reports.
#pragma once

#include <cstdint>

namespace vorn {

// Follows the song bytes a listener has heard, from the device's timing reports ("byte B of the
// stream reaches the listener at time T"), with a delay-locked loop on the monotonic clock: the
// line bytes = b0 + rate * (t - t0) is pulled towards each report, its phase by a share of the
// error and its rate by a smaller one, so that coarse or jittery reports give a smooth position.
//
// A report that disagrees with the line by more than RelockMs starts the line afresh: the
// output stalled (an underrun), or the reports before were wrong. PortAudio primes a stream's
// buffer before it runs and reports those bytes as heard as if it had started at once; a
// sound server may take a second or more to start (PulseAudio through ALSA's pulse plugin
// does on a busy machine), and the first report after the start is the first true one.
//
// What it answers never goes back and never passes the bytes handed to the device so far.
// Until the device shows that it plays, the answer holds at the start: it plays once a report
// was made (called back) at least 3/4 of its bytes' duration after the report before it, the
// device having taken that much meanwhile; the line then follows that report. Primed buffers
// are handed over in a burst, so they never show it, whatever times they were stamped with; a
// device that starts at once shows it one callback after the burst, one that starts late with
// its first callback. Once playing, a line that starts afresh behind the last answer holds the
// answer until it catches up.
// Not thread-safe: the device serialises its callers. Times in steady-clock nanoseconds.
class PlaybackClock {
public:
    static constexpr double RelockMs = 5.0;
    static constexpr double BandwidthHz = 0.5;  // of the loop: slow enough to average jitter

    // Forgets everything: a new run of the device at `bytesPerSecond`.
    void reset(double bytesPerSecond);
    // Byte `startByte` is heard at `heardAtNs`; `bytes` more were handed over with it, by a
    // callback made at `madeAtNs`.
    void report(int64_t madeAtNs, int64_t heardAtNs, int64_t startByte, int64_t bytes);
    // The bytes heard at `nowNs`: 0 before the first trusted report.
    int64_t bytesAt(int64_t nowNs);

    bool locked() const { return m_locked; }
    bool playing() const { return m_playing; }

private:
    double m_nominalRate = 0;  // bytes per nanosecond
    double m_rate = 0;
    bool m_locked = false;
    int64_t m_t0 = 0;
    double m_b0 = 0;
    int64_t m_lastReportNs = 0;
    int64_t m_handedOver = 0;  // end of the newest report's bytes
    int64_t m_lastAnswer = 0;
    bool m_playing = false;
    int64_t m_lastMadeNs = 0;  // when the newest report was made
};

} // namespace vorn
