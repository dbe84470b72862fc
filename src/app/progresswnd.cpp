// CProgressWnd: painting the envelope, the exclusive-or cursor and hover line, and the mouse.
#include "app/progresswnd.h"

#include "audio/audioclip.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

namespace vorn {

namespace {

const QColor Background(0, 0, 0);
const QColor WaveformColour(0, 255, 0);
const QColor CentreLineColour(0, 0, 255);
const QColor CursorColour(255, 0, 0);
const QColor TimeTextColour(0, 255, 0);
const QColor HoverColour(255, 255, 0);

// The elapsed time is drawn inside (0, 0)-(100, 100), top-left aligned.
const QRect TimeTextBox(0, 0, 100, 100);

// A horizontal line across the client drawn by exclusive-or: the pixels become the line's
// colour XOR what lies under them, and drawing it twice restores them.
void xorLine(QPainter &painter, int32_t y, int32_t width, const QColor &colour)
{
    if (width < 1)
        return;
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.fillRect(QRect(0, y, width, 1), colour);
    painter.restore();
}

} // namespace

const char *const CProgressWnd::AccessibleName = "波形";

CProgressWnd::CProgressWnd(TimeLine &timeLine, QWidget *parent) : CScrollBaseWnd(timeLine, parent)
{
    setAccessibleName(QString::fromUtf8(AccessibleName));
    setAccessibleDescription(QStringLiteral("曲の波形と再生位置"));
}

CProgressWnd::~CProgressWnd() = default;

void CProgressWnd::setSong(const AudioClip *song)
{
    m_song = song;
    m_rowsValid = false;
    repaintStrip();
}

bool CProgressWnd::hasSong() const
{
    return m_song && m_song->isLoaded();
}

void CProgressWnd::repaintStrip()
{
    m_cursorPos = -1;
    m_hoverY = -1;
    m_timeText.clear();
    m_timeTextRect = QRect();
    CScrollBaseWnd::repaintStrip();
}

void CProgressWnd::clientResized()
{
    m_rowsValid = false;
    repaintStrip();
}

const WaveformRows &CProgressWnd::rows()
{
    const StripView current = view();
    const bool same = m_rowsValid && m_rowsSong == m_song && m_rowsView.top == current.top &&
                      m_rowsView.span == current.span && m_rowsView.width == current.width &&
                      m_rowsView.height == current.height;
    if (!same) {
        m_rows = hasSong() ? waveformRows(*m_song, current) : WaveformRows{};
        m_rowsView = current;
        m_rowsSong = m_song;
        m_rowsValid = true;
    }
    return m_rows;
}

void CProgressWnd::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect dirty = beginClientPaint(painter, event->rect());
    if (dirty.isEmpty())
        return;

    const StripView v = view();
    painter.fillRect(dirty, Background);

    int channelCount = 0;
    if (hasSong()) {
        paintSelectionBand(painter, v);
        const WaveformRows &envelope = rows();
        channelCount = envelope.channelCount;
        // Each row is a line from centre + positive to centre + negative pixels; as a line to a
        // point, the start pixel is drawn and the end one is not. A silent row (both 0) still
        // leaves one dot on the centre line. The rows go to the painter in one call.
        m_rowRects.clear();
        for (const WaveformRow &row : envelope.rows) {
            if (row.y < dirty.top() || row.y > dirty.bottom())
                continue;
            for (int c = 0; c < channelCount; ++c) {
                const int32_t from = row.xFrom[size_t(c)];
                const int32_t to = row.xTo[size_t(c)];
                int32_t left = from;
                int32_t right = from;
                if (from > to)
                    left = to + 1;
                else if (from < to)
                    right = to - 1;
                m_rowRects.append(QRect(left, row.y, right - left + 1, 1));
            }
        }
        fillRects(painter, m_rowRects, WaveformColour);
    }

    for (int32_t x : waveformCentreLines(hasSong() ? channelCount : 0, v.width))
        painter.fillRect(QRect(x, 0, 1, v.height), CentreLineColour);

    if (!m_timeText.isEmpty()) {
        painter.fillRect(m_timeTextRect, Background);
        painter.setPen(TimeTextColour);
        painter.drawText(TimeTextBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         m_timeText);
    }
    if (m_cursorPos != -1)
        xorLine(painter, v.posToY(m_cursorPos), v.width, CursorColour);
    if (m_hoverY != -1)
        xorLine(painter, m_hoverY, v.width, HoverColour);
}

void CProgressWnd::drawCursor(int32_t ms, int32_t position)
{
    if (position == m_cursorPos)
        return;
    if (m_cursorPos != -1)
        updateRow(posToY(m_cursorPos));
    m_cursorPos = position;
    updateRow(posToY(position));
    if (ms == -1)
        return;
    m_timeText = QString::fromStdString(formatTimeText(ms));
    updateTimeText();
    if (m_hoverY == -1)
        emit statusText(PlayTimePane, m_timeText);
}

void CProgressWnd::updateTimeText()
{
    const QRect old = m_timeTextRect;
    m_timeTextRect = QFontMetrics(font())
                         .boundingRect(TimeTextBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                                       m_timeText)
                         .intersected(TimeTextBox);
    const QPoint origin = clientRect().topLeft();
    update(old.united(m_timeTextRect).translated(origin).intersected(clientRect()));
}

void CProgressWnd::setHoverY(int32_t y)
{
    if (y == m_hoverY)
        return;
    if (m_hoverY != -1)
        updateRow(m_hoverY);
    m_hoverY = y;
    if (y != -1)
        updateRow(y);
}

void CProgressWnd::hoverAt(int32_t y)
{
    setHoverY(y);
    if (hasSong()) {
        const int32_t position = yToPos(y);
        emit statusText(PlayTimePane,
                        QString::fromStdString(formatTimeText(m_song->sampleFramesToMs(position))));
    }
}

void CProgressWnd::hoverGone()
{
    setHoverY(-1);
    emit statusText(PlayTimePane, QString());
}

void CProgressWnd::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !hasSong())
        return;
    const int32_t y = clientY(event->position());
    if (y < 0 || y >= clientHeight())
        return;
    const int32_t position = yToPos(y);
    if (event->modifiers() & Qt::ShiftModifier) {
        // Shift+drag selects a range instead of moving the playback.
        m_selectAnchor = position;
        return;
    }
    emit seekRequested(position);
    drawCursor(-1, position);
}

void CProgressWnd::mouseMoveEvent(QMouseEvent *event)
{
    if (m_selectAnchor >= 0 && (event->buttons() & Qt::LeftButton)) {
        const int32_t y = std::clamp(clientY(event->position()), 0, std::max(0, clientHeight() - 1));
        const int32_t position = yToPos(y);
        setSelection(std::min(m_selectAnchor, position), std::max(m_selectAnchor, position));
        repaintLinked();
    }
    CScrollBaseWnd::mouseMoveEvent(event);
}

void CProgressWnd::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_selectAnchor < 0)
        return;
    m_selectAnchor = -1;
    const int32_t start = timeLine().selectionStart();
    const int32_t end = timeLine().selectionEnd();
    if (start >= 0 && end > start)
        emit rangeSelected(start, end);
}

void CProgressWnd::wheel(int32_t delta)
{
    if (!timeLine().wheel(delta))
        return;
    recalc();
    repaintLinked();
    repaintStrip();
}

void CProgressWnd::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0 && event->angleDelta().x() != 0) {
        event->ignore();  // a sideways turn is not the time line's
        return;
    }
    wheel(delta);
    event->accept();
}

} // namespace vorn
