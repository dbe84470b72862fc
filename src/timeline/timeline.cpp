// TimeLine scrolling and zooming, and the position <-> pixel-row mapping of the strips.
#include "timeline/timeline.h"

#include "base/saturate.h"

#include <algorithm>
#include <cstdio>

namespace vorn {

int32_t StripView::posToY(int32_t position) const
{
    const double divisor = span < 1 ? 1.0 : double(span);
    return truncToInt32((double(position) - top) * height / divisor + 0.5);
}

int32_t StripView::yToPos(int32_t y) const
{
    const double divisor = height < 1 ? 1.0 : double(height);
    // The rounded offset is added as an integer, as the row's position is top plus whole rows.
    return clampToInt32(int64_t(truncToInt32(double(y) * span / divisor + 0.5)) + top);
}

void TimeLine::setTotal(int32_t total)
{
    m_total = std::max<int32_t>(total, 0);
    recalc();
}

void TimeLine::resetView()
{
    m_zoom = 1;
    m_top = 0;
}

void TimeLine::recalc()
{
    m_span = m_total / m_zoom;
    if (int64_t(m_top) + m_span > m_total)
        m_top = m_total - m_span;
    else if (m_top < 0)
        m_top = 0;
}

void TimeLine::setTopClamped(int64_t top)
{
    m_top = clampToInt32(top);
}

void TimeLine::zoomIn()
{
    const int32_t oldSpan = m_span;
    m_zoom = std::min(m_zoom * 2, MaxZoom);
    setTopClamped(int64_t(m_top) + oldSpan / 4);
    recalc();
}

void TimeLine::zoomOut()
{
    const int32_t oldSpan = m_span;
    m_zoom = std::max(m_zoom / 2, 1);
    setTopClamped(int64_t(m_top) - oldSpan / 2);
    recalc();
}

void TimeLine::scrollTo(int32_t position)
{
    m_top = position;
    recalc();
}

void TimeLine::setSelection(int32_t start, int32_t end)
{
    m_selectionStart = start;
    m_selectionEnd = end;
}

// The scroll bar's own range stops one short of total - span; recalc allows total - span.
// Both are kept as they are, so a page down stops where the scroll bar's thumb does.
void TimeLine::keepScrollRange()
{
    const int64_t last = int64_t(m_total) - m_span;
    if (m_top >= last)
        setTopClamped(last - 1);
    if (m_top < 0)
        m_top = 0;
}

bool TimeLine::scroll(ScrollCode code, int32_t trackPosition)
{
    int64_t top = m_top;
    bool linkedRepaint = false;
    switch (code) {
    case ScrollCode::LineUp:
        top -= m_span / 20;
        break;
    case ScrollCode::LineDown:
        top += m_span / 20;
        break;
    case ScrollCode::PageUp:
        top -= m_span;
        break;
    case ScrollCode::PageDown:
        top += m_span;
        break;
    case ScrollCode::ThumbPosition:
    case ScrollCode::ThumbTrack:
        if (trackPosition != 0)
            top = trackPosition;
        break;
    case ScrollCode::EndScroll:
        linkedRepaint = true;
        break;
    }
    setTopClamped(top);
    keepScrollRange();
    return linkedRepaint;
}

bool TimeLine::wheel(int32_t delta)
{
    if (m_zoom == 1)
        return false;
    const int32_t step = std::max(m_span / 50, 1);
    const int64_t last = int64_t(m_total) - m_span - 1;
    if (delta <= 0) {
        if (m_top < last)
            setTopClamped(std::min(int64_t(m_top) + step, last));
    } else if (m_top >= 1) {
        m_top = std::max(m_top - step, 0);
    }
    return true;
}

ScrollBarState TimeLine::scrollBar() const
{
    return {0, m_total, m_span, m_top, m_zoom != 1};
}

SelectionBand TimeLine::selectionBand(const StripView &view) const
{
    auto edge = [&view](int32_t position) {
        const int32_t y = view.posToY(position);
        if (y < 0)
            return -1;
        if (y >= view.height)
            return view.height;
        return y;
    };
    return {edge(m_selectionStart), edge(m_selectionEnd)};
}

std::string formatTimeText(int32_t ms)
{
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d.%03d", ms / 60000, (ms / 1000) % 60, ms % 1000);
    return text;
}

} // namespace vorn
