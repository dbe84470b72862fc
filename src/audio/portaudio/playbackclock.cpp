// PlaybackClock: a second-order delay-locked loop over the device's timing reports.
#include "audio/portaudio/playbackclock.h"

#include <algorithm>
#include <cmath>

namespace vorn {

void PlaybackClock::reset(double bytesPerSecond)
{
    *this = PlaybackClock();
    m_nominalRate = bytesPerSecond / 1e9;
    m_rate = m_nominalRate;
}

void PlaybackClock::report(int64_t madeAtNs, int64_t heardAtNs, int64_t startByte, int64_t bytes)
{
    m_handedOver = std::max(m_handedOver, startByte + bytes);
    if (m_nominalRate <= 0)
        return;
    // A callback that had to wait for room shows a device taking the bytes at its own pace,
    // and its report is one of a running device: the primed ones come in a burst.
    if (m_locked && double(madeAtNs - m_lastMadeNs) >= 0.75 * double(bytes) / m_nominalRate)
        m_playing = true;
    m_lastMadeNs = madeAtNs;
    const double predicted = m_b0 + m_rate * double(heardAtNs - m_t0);
    const double error = double(startByte) - predicted;
    if (!m_locked || std::abs(error) > RelockMs * 1e6 * m_nominalRate) {
        m_locked = true;
        m_t0 = heardAtNs;
        m_b0 = double(startByte);
        m_rate = m_nominalRate;
        m_lastReportNs = heardAtNs;
        return;
    }
    // Gains of a critically damped loop for the time since the last report: the phase takes
    // sqrt(2) * w * dt of the error, the rate w^2 * dt (w = 2 pi B), each at most the whole.
    const double dt = std::clamp(double(heardAtNs - m_lastReportNs) / 1e9, 0.0, 1.0);
    const double w = 2.0 * M_PI * BandwidthHz;
    const double phaseGain = std::min(1.0, std::sqrt(2.0) * w * dt);
    const double rateGain = std::min(1.0, w * w * dt);
    m_b0 = predicted + phaseGain * error;
    m_t0 = heardAtNs;
    // error / 1 s as a rate correction, kept within 2 % of the nominal rate.
    m_rate = std::clamp(m_rate + rateGain * error / 1e9, m_nominalRate * 0.98, m_nominalRate * 1.02);
    m_lastReportNs = heardAtNs;
}

int64_t PlaybackClock::bytesAt(int64_t nowNs)
{
    if (!m_locked || !m_playing)
        return m_lastAnswer;
    const double line = m_b0 + m_rate * double(nowNs - m_t0);
    const int64_t bytes = std::clamp<int64_t>(int64_t(std::floor(line)), 0, m_handedOver);
    m_lastAnswer = std::max(m_lastAnswer, bytes);
    return m_lastAnswer;
}

} // namespace vorn
