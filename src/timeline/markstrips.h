// MarkStrips: the four mark strips in their fixed order and colours, the checkpoints that move
// between them and a scenario, and the CHECKPOINT text built from them.
#pragma once

#include "audio/markclicks.h"
#include "base/geometry.h"
#include "timeline/checkpoint.h"
#include "timeline/markstrip.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vorn {

class AudioClip;

// Song time of video frame f for key-frame marks: (f * 1000 * scale) / frameRate, truncated.
// Computed in 64 bits so long scenarios do not wrap; the result stops at the ends of int32.
// Empty when the rate cannot convert (frameRate or scale <= 0).
std::optional<int32_t> keyFrameTimeMs(int32_t frame, int32_t frameRate, int32_t scale);

// Owned by the main view; interface thread only.
class MarkStrips {
public:
    static constexpr int StripCount = 4;
    static constexpr int WrittenStripCount = 3;  // strips 0 to 2 hold the user's checkpoints
    static constexpr int KeyFrameStrip = 3;      // shows the scenario's key frames, never written
    static constexpr std::array<Colour, StripCount> StripColours{{
        {0, 255, 255, 255},
        {0, 255, 0, 255},
        {204, 204, 0, 255},
        {204, 0, 0, 255},
    }};

    MarkStrips();

    // k in 0 .. StripCount - 1.
    MarkStrip &strip(int k) { return m_strips[size_t(k)]; }
    const MarkStrip &strip(int k) const { return m_strips[size_t(k)]; }

    // The strip a scenario checkpoint of this colour returns to: packed 65280 (0, 255, 0) is
    // strip 1, 65535 (0, 255, 255) strip 0, any other colour strip 2.
    static int stripForColour(Colour colour);

    // Puts a scenario's checkpoints back, in list order, at msToSampleFrames(time) of the song
    // that loaded with it. The marks take their strip's colour, not the record's.
    void addCheckpoints(std::span<const Checkpoint> checkpoints, const AudioClip &song);

    // Refills the key-frame strip (clearing it first, which forgets the selected mark): a mark
    // for every frame f of `keyFrames` (ascending, as Scenario::keyFrames gives them), at time
    // keyFrameTimeMs(f) and position msToSampleFrames(time) with a loaded song, or f without one
    // (song null or not loaded). When the rate cannot convert no time exists: with a song no
    // mark is added, without one the marks sit at their frames with time 0.
    void rebuildKeyFrameMarks(TimeLine &timeLine, std::span<const int32_t> keyFrames,
                              int32_t frameRate, int32_t scale, const AudioClip *song);

    // The Delete key: removes the hovered mark of strips 0 to 2. Returns the strips that must
    // repaint as a bit set (bit k for strip k).
    unsigned removeHoveredMark();
    // Clears all four strips (installing a scenario).
    void clearAll(TimeLine &timeLine);

    // The CHECKPOINT block for the clipboard, with CR LF line ends: every mark of strips 0 to 2
    // ordered by time (marks of equal time keep strip order, then list order), one
    // "\tCF\t<frame>\t<r>\t<g>\t<b>\t# <ms>" line each; frames at frameRate / scale frames per
    // second (0 when the rate cannot convert).
    std::string buildCheckpointText(int32_t frameRate, int32_t scale) const;

    // The positions of the marks of strips 0 to 2, sorted, for the engine's clicks.
    MarkClicks clickPositions() const;

private:
    std::array<MarkStrip, StripCount> m_strips;
};

} // namespace vorn
