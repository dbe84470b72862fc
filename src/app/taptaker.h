// TapTaker: arrow keys to marks, at the song position of the moment the key went down.
#pragma once

#include "timeline/markstrips.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <future>
#include <vector>

namespace vorn {

class AudioClip;
class CAudioPlay;
class MarkHistory;

// The moment on the steady clock at which a key event happened. `timestampMs` is the event's
// own time (QKeyEvent::timestamp()): X11 and Wayland stamp input with the monotonic clock in
// milliseconds, wrapped at 32 bits, which is the steady clock's own. A stamp that does not fit
// that clock (0, in the future, or more than MaxEventAgeMs old, as from a remote X server or a
// synthesised event) is not trusted: the event counts as happening `now`, when it is handled.
// A trusted stamp counts from the middle of its millisecond.
constexpr int64_t MaxEventAgeMs = 2000;
std::chrono::steady_clock::time_point keyPressMoment(uint64_t timestampMs,
                                                     std::chrono::steady_clock::time_point now);

// Turns arrow-key presses into marks of strips 0 to 2 through the history, so that each tap
// can be undone. While the engine plays, a press is a mark at once, at the engine's position
// for the moment of the press; otherwise (stopped, starting, no position to be had) it is a
// request that the first tick of playback honours at its own position. Either way the strip
// lights at the next tick. Interface thread only.
class TapTaker {
public:
    TapTaker(MarkStrips &strips, MarkHistory &history) : m_strips(strips), m_history(history) {}

    // A key for strip k (0 to 2) pressed at `pressed`. `engine` may be null.
    void press(int strip, std::chrono::steady_clock::time_point pressed, const CAudioPlay *engine);
    // One tick with a playback position: the pending requests become marks there.
    void takeRequests(int32_t ms, int32_t position);
    // 1 while strip k has a request waiting for a tick.
    int32_t request(int strip) const { return m_requests[size_t(strip)]; }

    // Takes every press as a request, as a tick-driven window did (for measuring against it).
    void setTakeOnTick(bool onTick) { m_takeOnTick = onTick; }
    // How late the listener taps, in milliseconds of wall time: every press counts from that
    // much earlier, which at half speed is half as much song. 0 at first.
    void setOffsetMs(int ms) { m_offsetMs = ms; }
    int offsetMs() const { return m_offsetMs; }

    // Snapping: with it on, a tap taken while playing moves to the song's nearest onset within
    // SnapMs of song time either way, as a step of its own, so that undo returns it to where
    // it was pressed. Until the onsets are found taps stay as pressed.
    static constexpr int32_t SnapMs = 40;
    void setSnap(bool on) { m_snap = on; }
    // Starts finding the onsets of `song` (loaded; its samples must stay until forgetSong()).
    void findOnsets(const AudioClip &song);
    // Waits for a search still running and forgets the onsets (before the song goes).
    void forgetSong();
    // True once the onsets of the current song are in.
    bool onsetsReady();

private:
    MarkStrips &m_strips;
    MarkHistory &m_history;
    std::array<int32_t, MarkStrips::WrittenStripCount> m_requests{};
    bool m_takeOnTick = false;
    int m_offsetMs = 0;
    bool m_snap = false;
    std::future<std::vector<int32_t>> m_search;
    std::vector<int32_t> m_onsets;
};

} // namespace vorn
