// MarkStrip: adding, removing and finding marks, and when a strip flashes.
#include "timeline/markstrip.h"

#include <algorithm>
#include <cstdlib>

namespace vorn {

void MarkStrip::setColour(Colour colour)
{
    m_colour = colour;
    for (Mark &mark : m_marks)
        mark.colour = colour;
}

void MarkStrip::addMark(int32_t timeMs, int32_t position)
{
    m_marks.push_back({timeMs, position, m_colour});
}

bool MarkStrip::removeHoveredMark()
{
    if (m_hoverPos == -1)
        return false;
    const auto found = std::find_if(m_marks.begin(), m_marks.end(),
                                    [this](const Mark &mark) { return mark.position == m_hoverPos; });
    if (found != m_marks.end())
        m_marks.erase(found);
    m_hoverPos = -1;
    return true;
}

void MarkStrip::clear(TimeLine &timeLine)
{
    m_marks.clear();
    m_hoverPos = -1;
    m_lit = false;
    timeLine.setSelectedMark(-1);
}

std::optional<size_t> MarkStrip::nearestMark(const StripView &view, int32_t y) const
{
    std::optional<size_t> nearest;
    int64_t nearestDistance = 0;
    for (size_t i = 0; i < m_marks.size(); ++i) {
        // 64-bit: rows of far-off marks saturate at the ends of int32.
        const int64_t distance = std::llabs(int64_t(view.posToY(m_marks[i].position)) - y);
        if (!nearest || distance < nearestDistance) {
            nearest = i;
            nearestDistance = distance;
        }
    }
    return nearest;
}

bool MarkStrip::hasMarkJustAhead(int32_t ms) const
{
    return std::any_of(m_marks.begin(), m_marks.end(), [ms](const Mark &mark) {
        const int64_t ahead = int64_t(mark.time) - ms;
        return ahead > 0 && ahead < 50;
    });
}

LitChange MarkStrip::tick(bool request, int32_t ms, int32_t position)
{
    bool toLight = false;
    if (request) {
        addMark(ms, position);
        toLight = true;
    } else {
        toLight = hasMarkJustAhead(ms);
    }
    if (toLight && !m_lit) {
        m_lit = true;
        m_hoverPos = -1;
        return LitChange::LightUp;
    }
    if (!toLight && m_lit) {
        m_lit = false;
        return LitChange::GoDark;
    }
    return LitChange::None;
}

} // namespace vorn
