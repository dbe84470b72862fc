// TapTaker: the moment of a key press and the mark it makes.
#include "app/taptaker.h"

#include "audio/caudioplay.h"
#include "audio/onsets.h"
#include "timeline/markhistory.h"

namespace vorn {

std::chrono::steady_clock::time_point keyPressMoment(uint64_t timestampMs,
                                                     std::chrono::steady_clock::time_point now)
{
    using namespace std::chrono;
    if (timestampMs == 0)
        return now;
    const int64_t nowMs = duration_cast<milliseconds>(now.time_since_epoch()).count();
    // Both in 32 bits: the server's stamp wraps every 49.7 days, and so does the difference.
    const uint32_t age = uint32_t(nowMs) - uint32_t(timestampMs);
    if (age > uint32_t(MaxEventAgeMs))
        return now;  // from a clock of its own, or from the future
    const steady_clock::time_point pressed{milliseconds(nowMs - int64_t(age)) + microseconds(500)};
    return pressed < now ? pressed : now;
}

void TapTaker::press(int strip, std::chrono::steady_clock::time_point pressed,
                     const CAudioPlay *engine)
{
    if (strip < 0 || strip >= MarkStrips::WrittenStripCount)
        return;
    int32_t ms = 0;
    int32_t position = 0;
    if (m_takeOnTick || !engine || engine->state() != CAudioPlay::Playing
        || engine->positionAt(pressed - std::chrono::milliseconds(m_offsetMs), ms, position) != 0) {
        m_requests[size_t(strip)] = 1;
        return;
    }
    m_history.addMark(strip, ms, position);
    m_strips.strip(strip).lightAtNextTick();
    if (m_snap && onsetsReady()) {
        const AudioClip &song = engine->clip();
        const int32_t onset = nearestOnset(m_onsets, position, song.msToSampleFrames(SnapMs));
        if (onset >= 0 && onset != position)
            m_history.moveMark(strip, m_strips.strip(strip).marks().size() - 1,
                               song.sampleFramesToMs(onset), onset);
    }
}

void TapTaker::findOnsets(const AudioClip &song)
{
    forgetSong();
    m_search = std::async(std::launch::async,
                          [source = OnsetSource::of(song)] { return vorn::findOnsets(source); });
}

void TapTaker::forgetSong()
{
    if (m_search.valid())
        m_search.wait();
    m_search = {};
    m_onsets.clear();
}

bool TapTaker::onsetsReady()
{
    if (m_search.valid() && m_search.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        try {
            m_onsets = m_search.get();
        } catch (const std::exception &) {
            m_onsets.clear();  // out of memory: taps stay as pressed
        }
        m_search = {};
        return true;
    }
    return !m_search.valid() && !m_onsets.empty();
}

void TapTaker::takeRequests(int32_t ms, int32_t position)
{
    for (int k = 0; k < MarkStrips::WrittenStripCount; ++k) {
        if (!m_requests[size_t(k)])
            continue;
        m_requests[size_t(k)] = 0;
        m_history.addMark(k, ms, position);
        m_strips.strip(k).lightAtNextTick();
    }
}

} // namespace vorn
