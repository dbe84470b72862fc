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

void MarkStrip::splice(size_t index, size_t eraseCount, std::span<const Mark> insert)
{
    index = std::min(index, m_marks.size());
    eraseCount = std::min(eraseCount, m_marks.size() - index);
    const auto at = m_marks.erase(m_marks.begin() + ptrdiff_t(index),
                                  m_marks.begin() + ptrdiff_t(index + eraseCount));
    const auto inserted = m_marks.insert(at, insert.begin(), insert.end());
    for (auto it = inserted; it != inserted + ptrdiff_t(insert.size()); ++it)
        it->colour = m_colour;
}

std::optional<size_t> MarkStrip::hoveredIndex() const
{
    if (m_hoverPos == -1)
        return std::nullopt;
    for (size_t i = 0; i < m_marks.size(); ++i)
        if (m_marks[i].position == m_hoverPos)
            return i;
    return std::nullopt;
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
    m_lightPending = false;
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
    if (m_lightPending) {
        m_lightPending = false;
        toLight = true;
    }
    if (request) {
        addMark(ms, position);
        toLight = true;
    } else if (!toLight) {
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
