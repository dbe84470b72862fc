// TimeLine: the scroll and zoom state that all five strips share, and the strips' geometry.
#pragma once

#include <cstdint>
#include <string>

namespace vorn {

// One strip's view of the time line: the visible stretch [top, top + span) of time-line
// positions on a client area of width x height pixels, time running downwards. Painters take
// this value instead of reaching into the widget. Positions are sample frames of the song (or
// video frames when none is loaded); they are signed because the scroll arithmetic subtracts
// them freely.
struct StripView {
    int32_t top = 0;
    int32_t span = 0;
    int32_t width = 0;
    int32_t height = 0;

    // Client row of a position: truncate((p - top) * height / span + 0.5), in double precision.
    // A span below 1 counts as 1 (an empty stretch still maps without dividing by zero);
    // results beyond int32 stop at its ends.
    int32_t posToY(int32_t position) const;
    // Position at a client row: truncate(y * span / height + 0.5) + top, in double precision.
    // A height below 1 counts as 1; the result stops at the ends of int32.
    int32_t yToPos(int32_t y) const;
    // Lines (marks, the selected mark, the hover line) are drawn only when 0 <= y <= height.
    bool isLineVisible(int32_t y) const { return y >= 0 && y <= height; }
};

// The highlighted range's band: rows y1 <= y < y2 across the whole width; empty when y2 <= y1.
// Each edge is -1 when above the client and height when at or below its bottom.
struct SelectionBand {
    int32_t y1 = 0;
    int32_t y2 = 0;
    bool isEmpty() const { return y2 <= y1; }
};

// The waveform strip's vertical scroll bar as a record: positions run from minimum to maximum
// with a page of span (so the largest thumb position is maximum - page + 1); shown only when
// zoomed in.
struct ScrollBarState {
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t page = 0;
    int32_t position = 0;
    bool visible = false;
};

enum class ScrollCode {
    LineUp,
    LineDown,
    PageUp,
    PageDown,
    ThumbPosition,
    ThumbTrack,
    EndScroll,
};

// Shared by the waveform strip and the four mark strips; owned by the main view. Interface
// thread only. Every operation keeps 0 <= top and top + span <= total (scrolling keeps top
// one short of total - span, as the scroll bar does).
class TimeLine {
public:
    static constexpr int32_t MaxZoom = 64;

    int32_t total() const { return m_total; }
    int32_t zoom() const { return m_zoom; }
    int32_t span() const { return m_span; }
    int32_t top() const { return m_top; }
    int32_t selectionStart() const { return m_selectionStart; }
    int32_t selectionEnd() const { return m_selectionEnd; }
    // Position of the mark last clicked, -1 for none.
    int32_t selectedMark() const { return m_selectedMark; }
    void setSelectedMark(int32_t position) { m_selectedMark = position; }

    // Length in positions; a negative length counts as 0. Recalculates.
    void setTotal(int32_t total);
    // Zoom 1, top 0; the span follows at the next setTotal.
    void resetView();
    // span = total / zoom, then top is pulled back inside [0, total - span].
    void recalc();
    // Doubles the zoom (at most 64) keeping the centre: top moves by a quarter of the old span.
    void zoomIn();
    // Halves the zoom (at least 1) keeping the centre: top moves back by half the old span,
    // even at zoom 1, before recalc clamps it.
    void zoomOut();
    void scrollTo(int32_t position);
    // Highlighted range (first, last) in positions; (-1, -1) for none.
    void setSelection(int32_t start, int32_t end);

    // A scroll-bar action of the waveform strip. trackPosition is the thumb's position for
    // ThumbPosition / ThumbTrack; 0 is ignored (the thumb at the very top leaves top alone).
    // Afterwards top is kept within [0, total - span - 1]. Returns true for EndScroll, when the
    // linked mark strips must repaint; the waveform strip repaints itself for every code.
    bool scroll(ScrollCode code, int32_t trackPosition = 0);
    // The mouse wheel: delta <= 0 scrolls later, > 0 earlier, by span / 50 (at least 1),
    // within [0, total - span - 1]. Does nothing at zoom 1 and returns false; otherwise returns
    // true: the caller updates the scroll bar and repaints every strip.
    bool wheel(int32_t delta);

    ScrollBarState scrollBar() const;
    StripView view(int32_t width, int32_t height) const { return {m_top, m_span, width, height}; }
    SelectionBand selectionBand(const StripView &view) const;

private:
    void setTopClamped(int64_t top);
    void keepScrollRange();

    int32_t m_total = 0;
    int32_t m_zoom = 1;
    int32_t m_span = 0;
    int32_t m_top = 0;
    int32_t m_selectionStart = -1;
    int32_t m_selectionEnd = -1;
    int32_t m_selectedMark = -1;
};

// "mm:ss.mmm" from ms / 60000, (ms / 1000) % 60 and ms % 1000, for the status-bar panes.
std::string formatTimeText(int32_t ms);

} // namespace vorn
