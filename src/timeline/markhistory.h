// MarkHistory: undo and redo of every change to the user's marks (strips 0 to 2).
#pragma once

#include "timeline/markstrip.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace vorn {

class MarkStrips;

// Makes the changes to the marks of strips 0 to 2 and remembers each as one step that undo
// takes back and redo makes again, exactly: the same marks in the same list order. A step is
// a list of splices (strip, index, marks removed, marks inserted), so a tap costs one mark of
// memory whatever the strips hold.
//
// Changes made to the strips behind its back (loading a scenario, clearing) leave the history
// stale: clear() it whenever the strips are refilled. Interface thread only.
//
// The operations that change strips return the strips to repaint as a bit set (bit k for
// strip k); 0 when nothing changed.
class MarkHistory {
public:
    // Steps kept; the oldest are forgotten beyond this.
    static constexpr size_t MaxSteps = 1000;

    explicit MarkHistory(MarkStrips &strips) : m_strips(strips) {}

    // A tap: a mark at the end of strip k (0 to 2).
    unsigned addMark(int strip, int32_t timeMs, int32_t position);
    // The Delete key: the first mark at the hovered position of whichever strip has one.
    unsigned removeHoveredMark();
    // Marks added at the end of strip k in one step (detected beats).
    unsigned appendMarks(int strip, std::span<const Mark> marks);
    // Moves mark `index` of strip k to a new time and position in one step (a snapped tap).
    unsigned moveMark(int strip, size_t index, int32_t timeMs, int32_t position);
    // Strips 0 to 2 replaced as a whole in one step (a label file read in).
    unsigned replaceAll(const std::array<std::vector<Mark>, 3> &marks);

    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    unsigned undo();
    unsigned redo();
    // Forgets every step (a new scenario or song).
    void clear();
    // Counts every change made through the history, and every clear: whoever keeps a copy of
    // the marks (the engine's clicks) knows from it when to take a new one.
    uint64_t revision() const { return m_revision; }

private:
    struct Splice {
        int strip = 0;
        size_t index = 0;
        std::vector<Mark> removed;
        std::vector<Mark> inserted;
    };
    using Step = std::vector<Splice>;

    // Applies a new step and records it; a new step drops what could be redone.
    unsigned record(Step step);
    unsigned apply(const Step &step, bool forward);
    // Takes the newest step of `from` back (or makes it again, `forward`) and keeps it in `to`.
    unsigned replay(std::deque<Step> &from, std::deque<Step> &to, bool forward);

    MarkStrips &m_strips;
    std::deque<Step> m_undo;
    std::deque<Step> m_redo;
    uint64_t m_revision = 0;
};

} // namespace vorn
