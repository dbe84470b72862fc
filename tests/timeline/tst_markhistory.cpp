// Mark history: each change to the marks, undone and redone, gives back the strips exactly.
#include "timeline/markhistory.h"

#include "timeline/markstrips.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace vorn;

namespace {

using Snapshot = std::array<std::vector<Mark>, 3>;

Snapshot snapshot(const MarkStrips &s) { return {s.strip(0).marks(), s.strip(1).marks(), s.strip(2).marks()}; }

// Strips with marks in an unsorted order and two marks sharing a position, as taps leave them.
void fill(MarkStrips &strips)
{
    for (const auto &[k, ms, position] : {std::array{0, 500, 50}, {0, 100, 10}, {1, 300, 30}, {1, 200, 20},
                                          {1, 301, 30}, {2, 900, 90}})
        strips.strip(k).addMark(ms, position);
}

Mark mark(int32_t ms, int32_t position) { return {ms, position, {}}; }

} // namespace

TEST(MarkHistory, UndoAndRedoRestoreTheStripsExactly)
{
    const std::vector<Mark> beats{mark(1000, 100), mark(1500, 150), mark(2000, 200)};
    const struct {
        const char *name;
        std::function<unsigned(MarkStrips &, MarkHistory &)> change;
        unsigned repaint;
    } cases[] = {
        {"tap", [](MarkStrips &, MarkHistory &h) { return h.addMark(1, 250, 25); }, 2u},
        {"delete the first of two marks at the hover",
         [](MarkStrips &s, MarkHistory &h) { s.strip(1).setHoverPos(30); return h.removeHoveredMark(); }, 2u},
        {"beat fill", [&](MarkStrips &, MarkHistory &h) { return h.appendMarks(2, beats); }, 4u},
        {"snap", [](MarkStrips &, MarkHistory &h) { return h.moveMark(0, 1, 120, 12); }, 1u},
        {"label file",
         [](MarkStrips &, MarkHistory &h) { return h.replaceAll({{{mark(7, 7)}, {}, {mark(9, 9), mark(8, 8)}}}); }, 7u},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        MarkStrips strips;
        fill(strips);
        MarkHistory history(strips);
        const Snapshot before = snapshot(strips);
        EXPECT_EQ(c.change(strips, history), c.repaint);
        const Snapshot after = snapshot(strips);
        EXPECT_NE(after, before);
        for (int k = 0; k < 3; ++k)
            for (const Mark &m : after[size_t(k)])
                EXPECT_EQ(m.colour, strips.strip(k).colour());  // marks wear their strip's colour
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(history.undo(), c.repaint);
            EXPECT_EQ(snapshot(strips), before);
            EXPECT_FALSE(history.canUndo());
            EXPECT_EQ(history.redo(), c.repaint);
            EXPECT_EQ(snapshot(strips), after);
            EXPECT_FALSE(history.canRedo());
        }
    }
}

// Several steps go back in reverse order; a new change drops what could be redone; clearing
// forgets everything; changes that change nothing are no step.
TEST(MarkHistory, StepsUndoInReverseAndNewChangesDropRedo)
{
    MarkStrips strips;
    fill(strips);
    MarkHistory history(strips);
    std::vector<Snapshot> states{snapshot(strips)};
    history.addMark(0, 600, 60);
    states.push_back(snapshot(strips));
    strips.strip(0).setHoverPos(10);
    history.removeHoveredMark();
    states.push_back(snapshot(strips));
    history.addMark(2, 950, 95);
    states.push_back(snapshot(strips));

    for (size_t i = states.size() - 1; i > 0; --i) {
        history.undo();
        EXPECT_EQ(snapshot(strips), states[i - 1]);
    }
    EXPECT_EQ(history.undo(), 0u);
    history.redo();
    EXPECT_EQ(snapshot(strips), states[1]);
    history.addMark(1, 1, 1);
    EXPECT_FALSE(history.canRedo());

    EXPECT_EQ(history.addMark(3, 1, 1), 0u);  // the key-frame strip is not the user's
    EXPECT_EQ(history.appendMarks(0, {}), 0u);
    EXPECT_EQ(history.replaceAll(snapshot(strips)), 0u);
    strips.strip(2).setHoverPos(12345);  // a hover where no mark is: repainted, then forgotten
    EXPECT_EQ(history.removeHoveredMark(), 1u << 2);
    EXPECT_EQ(history.removeHoveredMark(), 0u);  // nothing hovered
    history.clear();
    EXPECT_FALSE(history.canUndo());
    EXPECT_FALSE(history.canRedo());
}
