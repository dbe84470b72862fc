// CProgressWnd: the waveform strip: the song's envelope, the playback cursor, the elapsed time
// and the hover line, with the time line's scroll bar and mouse wheel.
#pragma once

#include "app/scrollbasewnd.h"
#include "timeline/waveformrows.h"

#include <QList>
#include <QRect>
#include <QString>

#include <cstdint>

namespace vorn {

class AudioClip;

class CProgressWnd : public CScrollBaseWnd
{
    Q_OBJECT

public:
    // The accessible name of the strip.
    static const char *const AccessibleName;

    explicit CProgressWnd(TimeLine &timeLine, QWidget *parent = nullptr);
    ~CProgressWnd() override;

    // The song whose envelope is drawn, or null for none (a clip that is not loaded counts as
    // none). The clip belongs to the playback engine: it must stay alive until setSong gives
    // another one or null, so call setSong(nullptr) before dropping the engine that holds it.
    // Repaints.
    void setSong(const AudioClip *song);
    const AudioClip *song() const { return m_song; }
    bool hasSong() const;

    // The playback cursor at time-line position `position`, drawn by exclusive-or in red; a
    // repeated position does nothing. With ms != -1 the elapsed time "mm:ss.mmm" is drawn at the
    // top left and, while no hover line is drawn, sent to the play-time pane. The timer calls it
    // while playing, stop with (-1, 0), a click with (-1, clicked position).
    void drawCursor(int32_t ms, int32_t position);
    // Time-line position of the drawn cursor, -1 for none.
    int32_t cursorPosition() const { return m_cursorPos; }
    // Client y of the drawn hover line, -1 for none.
    int32_t hoverY() const { return m_hoverY; }

    // The mouse wheel as the main view forwards it (positive: away from the user, earlier in
    // time). Nothing at zoom 1; otherwise scrolls by a fiftieth of the span and repaints this
    // strip and the linked ones.
    void wheel(int32_t delta);

    void repaintStrip() override;

signals:
    // A click on the strip with a song loaded: playback should move to this sample frame
    // (AP_SEEK).
    void seekRequested(int32_t position);
    // Shift+drag over the strip chose the range [start, end) of sample frames (the shared
    // selection, already shown on every strip).
    void rangeSelected(int32_t start, int32_t end);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hoverAt(int32_t y) override;
    void hoverGone() override;
    void wheelEvent(QWheelEvent *event) override;
    void clientResized() override;

private:
    const WaveformRows &rows();
    void setHoverY(int32_t y);
    void updateTimeText();

    const AudioClip *m_song = nullptr;
    int32_t m_cursorPos = -1;
    int32_t m_hoverY = -1;
    int32_t m_selectAnchor = -1;  // where a Shift+drag began, -1 while none goes on
    QString m_timeText;  // drawn at the top left until the next repaint; empty for none
    QRect m_timeTextRect;
    // Envelope rows of the current view; remade when the view, size or song changes, so that
    // moving the cursor repaints only its rows.
    WaveformRows m_rows;
    StripView m_rowsView;
    const AudioClip *m_rowsSong = nullptr;
    bool m_rowsValid = false;
    QList<QRect> m_rowRects;  // kept between paints to save the allocation
};

} // namespace vorn
