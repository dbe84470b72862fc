// CScrollBaseWnd: what the waveform strip and the mark strips share: the time line they show,
// the position <-> row mapping of their client area, the selection band and the linked strips.
#pragma once

#include "timeline/timeline.h"

#include <QFrame>
#include <QList>
#include <QPointer>
#include <QString>

#include <cstdint>

class QMouseEvent;
class QPainter;
class QScrollBar;

namespace vorn {

// Fills every rectangle with one colour in a single painter call: exactly the rectangles'
// pixels, for the strips' one-pixel lines.
void fillRects(QPainter &painter, const QList<QRect> &rects, const QColor &colour);

// A strip is a sunken frame around a client area; all geometry (rows, mouse y, width, height)
// is in client coordinates, whose origin is the inside corner of the frame. When the vertical
// scroll bar shows, it takes its width from the client area, as a window's own bar would.
//
// Every strip is an interface-thread object. The TimeLine is shared with the other strips and
// owned by the main view; it must outlive the strip.
//
// "Repaint" below means repaintStrip(): the strip is drawn again from its state and forgets the
// lines drawn over it (the playback cursor, hover lines, a lit fill), as the next timer tick or
// mouse move draws them again. An ordinary paint event (exposure) keeps them.
class CScrollBaseWnd : public QFrame
{
    Q_OBJECT

public:
    // Status-bar panes written by the strips and the preview window.
    enum StatusPane : int {
        PlayTimePane = 1,     // the playing or hovered time of the waveform strip
        MarkTimePane = 2,     // the hovered mark's time
        PreviewFramePane = 3, // the preview window's frame number or "レンダリング中"
    };

    explicit CScrollBaseWnd(TimeLine &timeLine, QWidget *parent = nullptr);
    ~CScrollBaseWnd() override;

    TimeLine &timeLine() const { return m_timeLine; }
    // Client size: the inside of the frame less a shown scroll bar.
    int32_t clientWidth() const;
    int32_t clientHeight() const;
    StripView view() const { return m_timeLine.view(clientWidth(), clientHeight()); }
    int32_t posToY(int32_t position) const { return view().posToY(position); }
    int32_t yToPos(int32_t y) const { return view().yToPos(y); }

    // The waveform strip's scroll bar, shown only while the zoom is not 1; null for strips that
    // were never made scrollable.
    QScrollBar *scrollBar() const { return m_scrollBar; }
    bool isScrollable() const { return m_scrollBar != nullptr; }
    // Gives the strip its vertical scroll bar (the waveform strip, once, at creation).
    void makeScrollable();

    // Time-line operations. Each recalculates the shared TimeLine and updates this strip's
    // scroll bar, so the main view calls them on the waveform strip; zoom and scroll repaint
    // this strip, the linked strips are the caller's (the main view repaints the mark strips).
    void setTotal(int32_t total);
    void resetView();  // zoom 1, top 0; set the total right after
    void zoomIn();
    void zoomOut();
    void scrollTo(int32_t position);
    // Highlighted range in positions, (-1, -1) for none; repaints this strip.
    void setSelection(int32_t start, int32_t end);
    // Puts range, page and position of the TimeLine into the scroll bar and shows it only when
    // the zoom is not 1; a change of its visibility resizes the client area.
    void recalc();

    // Strips repainted when this one ends a scroll, in the order they were linked.
    void link(CScrollBaseWnd *strip);
    QList<CScrollBaseWnd *> linked() const;
    void repaintLinked();

    // Draws the strip again from its state; see the class comment.
    virtual void repaintStrip();

signals:
    // Text for a status-bar pane (StatusPane); an empty text clears it.
    void statusText(int pane, const QString &text);
    // The mouse moved over the strip: the main view should take the keyboard focus so that the
    // arrow and Delete keys reach it.
    void focusToView();

protected:
    // The client area in widget coordinates.
    QRect clientRect() const;
    // y of a mouse position in client coordinates.
    int32_t clientY(const QPointF &widgetPos) const;
    // Fills rows [y1, y2) of the highlighted range with (0, 0, 204); the painter is in client
    // coordinates.
    void paintSelectionBand(QPainter &painter, const StripView &view) const;
    // Marks client rows [y, y + 1) for painting, when y is inside the client area.
    void updateRow(int32_t y);
    // Marks the whole client area for painting (widget coordinates).
    void updateClient();
    // Called after the client size changed (also when the scroll bar appears or goes).
    virtual void clientResized() {}
    // Draws the frame and readies the painter for the client area: clipped to it, in client
    // coordinates. Returns the exposed part of the client in client coordinates, empty for none.
    QRect beginClientPaint(QPainter &painter, const QRect &exposed);

    // The mouse over the client: a move inside it asks for the keyboard focus (focusToView) and
    // calls hoverAt with the client row; the first move outside the client, or leaving the
    // widget, after such a move calls hoverGone.
    virtual void hoverAt(int32_t y) = 0;
    virtual void hoverGone() = 0;

    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void layoutClient();
    void onScrollAction(int action);
    void endScroll();
    bool eventFilter(QObject *watched, QEvent *event) override;

    TimeLine &m_timeLine;
    QScrollBar *m_scrollBar = nullptr;
    QList<QPointer<CScrollBaseWnd>> m_linked;
    bool m_mouseInside = false;  // moved over the client since the last leave
};

} // namespace vorn
