// MarkHistory: marks changed through splices that can be played backwards.
#include "timeline/markhistory.h"

#include "timeline/markstrips.h"

namespace vorn {

unsigned MarkHistory::addMark(int strip, int32_t timeMs, int32_t position)
{
    if (strip < 0 || strip >= MarkStrips::WrittenStripCount)
        return 0;
    const MarkStrip &s = m_strips.strip(strip);
    return record({{strip, s.marks().size(), {}, {{timeMs, position, s.colour()}}}});
}

unsigned MarkHistory::removeHoveredMark()
{
    for (int k = 0; k < MarkStrips::WrittenStripCount; ++k) {
        MarkStrip &s = m_strips.strip(k);
        if (s.hoverPos() == -1)
            continue;
        const auto index = s.hoveredIndex();
        s.setHoverPos(-1);
        if (!index)
            return 1u << k;  // the hover is gone: the strip repaints, nothing to undo
        return record({{k, *index, {s.marks()[*index]}, {}}});
    }
    return 0;
}

unsigned MarkHistory::appendMarks(int strip, std::span<const Mark> marks)
{
    if (strip < 0 || strip >= MarkStrips::WrittenStripCount || marks.empty())
        return 0;
    const size_t end = m_strips.strip(strip).marks().size();
    return record({{strip, end, {}, {marks.begin(), marks.end()}}});
}

unsigned MarkHistory::moveMark(int strip, size_t index, int32_t timeMs, int32_t position)
{
    if (strip < 0 || strip >= MarkStrips::WrittenStripCount)
        return 0;
    const MarkStrip &s = m_strips.strip(strip);
    if (index >= s.marks().size())
        return 0;
    const Mark before = s.marks()[index];
    return record({{strip, index, {before}, {{timeMs, position, before.colour}}}});
}

unsigned MarkHistory::replaceAll(const std::array<std::vector<Mark>, 3> &marks)
{
    Step step;
    for (int k = 0; k < MarkStrips::WrittenStripCount; ++k) {
        const std::vector<Mark> &now = m_strips.strip(k).marks();
        if (now != marks[size_t(k)])
            step.push_back({k, 0, now, marks[size_t(k)]});
    }
    return step.empty() ? 0 : record(std::move(step));
}

unsigned MarkHistory::record(Step step)
{
    const unsigned changed = apply(step, true);
    m_undo.push_back(std::move(step));
    if (m_undo.size() > MaxSteps)
        m_undo.pop_front();
    m_redo.clear();
    return changed;
}

unsigned MarkHistory::apply(const Step &step, bool forward)
{
    ++m_revision;
    unsigned changed = 0;
    auto one = [&](const Splice &splice) {
        MarkStrip &s = m_strips.strip(splice.strip);
        const std::vector<Mark> &out = forward ? splice.removed : splice.inserted;
        const std::vector<Mark> &in = forward ? splice.inserted : splice.removed;
        s.splice(splice.index, out.size(), in);
        s.setHoverPos(-1);
        changed |= 1u << splice.strip;
    };
    // Backwards in reverse order, so that every splice meets the list it was made on.
    if (forward) {
        for (const Splice &splice : step)
            one(splice);
    } else {
        for (auto it = step.rbegin(); it != step.rend(); ++it)
            one(*it);
    }
    return changed;
}

unsigned MarkHistory::undo()
{
    return replay(m_undo, m_redo, false);
}

unsigned MarkHistory::redo()
{
    return replay(m_redo, m_undo, true);
}

unsigned MarkHistory::replay(std::deque<Step> &from, std::deque<Step> &to, bool forward)
{
    if (from.empty())
        return 0;
    Step step = std::move(from.back());
    from.pop_back();
    const unsigned changed = apply(step, forward);
    to.push_back(std::move(step));
    return changed;
}

void MarkHistory::clear()
{
    ++m_revision;
    m_undo.clear();
    m_redo.clear();
}

} // namespace vorn
