// Mark and MarkStrip: one strip's checkpoints as the user placed them, and its hover/lit rules.
#pragma once

#include "base/geometry.h"
#include "timeline/timeline.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vorn {

struct Mark {
    int32_t time = 0;      // song time, milliseconds
    int32_t position = 0;  // time-line position: a sample frame, or a video frame without a song
    Colour colour;         // always the colour of the strip that holds the mark
    friend bool operator==(const Mark &, const Mark &) = default;
};

// What a mark strip's painter does after a timer tick.
enum class LitChange {
    None,
    LightUp,  // fill the whole client with the strip's colour
    GoDark,   // repaint the strip normally
};

// One strip's marks, in the order they were added: never sorted, and several marks may share a
// time or a position. Owns its marks by value. Interface thread only.
class MarkStrip {
public:
    explicit MarkStrip(Colour colour = {}) : m_colour(colour) {}

    Colour colour() const { return m_colour; }
    // Also recolours the marks held, since a mark always shows its strip's colour.
    void setColour(Colour colour);

    const std::vector<Mark> &marks() const { return m_marks; }
    void addMark(int32_t timeMs, int32_t position);
    // Replaces `eraseCount` marks from `index` on with `insert` (recoloured to the strip);
    // index and count are clamped to the list. The one edit undo and redo are built from.
    void splice(size_t index, size_t eraseCount, std::span<const Mark> insert);
    // Index of the mark the Delete key would remove: the first at the hovered position.
    std::optional<size_t> hoveredIndex() const;

    // Position of the hovered mark, -1 for none.
    int32_t hoverPos() const { return m_hoverPos; }
    void setHoverPos(int32_t position) { m_hoverPos = position; }

    // With a hovered position: removes the first mark (in list order) at that position, forgets
    // the hover and returns true (the strip must repaint). Without one: nothing, false.
    bool removeHoveredMark();
    // Removes every mark, forgets the hover, the lit state and the time line's selected mark.
    void clear(TimeLine &timeLine);

    // Index of the mark whose line lies nearest to client row y: the first of those with the
    // smallest |posToY(position) - y|, visible or not. None when the strip is empty.
    std::optional<size_t> nearestMark(const StripView &view, int32_t y) const;
    // True when a mark lies 1 to 49 ms ahead of the playback time: 0 < time - ms < 50.
    bool hasMarkJustAhead(int32_t ms) const;

    bool isLit() const { return m_lit; }
    // A mark was added between ticks (a key press while playing): the next tick lights the
    // strip as a request would.
    void lightAtNextTick() { m_lightPending = true; }
    // One timer tick while playing: a pending key request adds a mark at the playback time and
    // position and lights the strip; otherwise the strip is lit while a mark is just ahead.
    // Lighting forgets the hover (the fill paints over its line).
    LitChange tick(bool request, int32_t ms, int32_t position);

private:
    Colour m_colour;
    std::vector<Mark> m_marks;
    int32_t m_hoverPos = -1;
    bool m_lit = false;
    bool m_lightPending = false;
};

} // namespace vorn
