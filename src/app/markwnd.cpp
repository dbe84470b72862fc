// CMarkWnd: painting the marks, the lit fill and the exclusive-or hover line, and the mouse.
#include "app/markwnd.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

namespace vorn {

namespace {

const QColor Background(0, 0, 0);
const QColor SelectedMarkColour(255, 255, 255);
const QColor HoverColour(255, 255, 255);

QColor toQColor(Colour colour)
{
    return QColor(colour.red, colour.green, colour.blue);
}

} // namespace

QString CMarkWnd::accessibleNameFor(int index)
{
    if (index == MarkStrips::KeyFrameStrip)
        return QStringLiteral("キーフレーム");
    return QStringLiteral("マーク %1").arg(index + 1);
}

CMarkWnd::CMarkWnd(TimeLine &timeLine, MarkStrip &strip, int index, QWidget *parent)
    : CScrollBaseWnd(timeLine, parent), m_strip(strip), m_index(index)
{
    setAccessibleName(accessibleNameFor(index));
    setAccessibleDescription(index == MarkStrips::KeyFrameStrip
                                 ? QStringLiteral("シナリオのキーフレーム")
                                 : QStringLiteral("チェックポイントのマーク"));
}

CMarkWnd::~CMarkWnd() = default;

void CMarkWnd::setColour(uint8_t red, uint8_t green, uint8_t blue)
{
    m_strip.setColour(Colour{red, green, blue, 255});
    repaintStrip();
}

void CMarkWnd::addMark(int32_t timeMs, int32_t position)
{
    m_strip.addMark(timeMs, position);
    repaintStrip();
}

bool CMarkWnd::removeHoveredMark()
{
    if (!m_strip.removeHoveredMark())
        return false;
    repaintStrip();
    return true;
}

void CMarkWnd::clear()
{
    m_strip.clear(timeLine());
    repaintStrip();
}

void CMarkWnd::tick(bool request, int32_t ms, int32_t position)
{
    switch (m_strip.tick(request, ms, position)) {
    case LitChange::LightUp:
        // The fill paints over the hover line, which the strip has forgotten.
        m_showLit = true;
        updateClient();
        break;
    case LitChange::GoDark:
        repaintStrip();
        break;
    case LitChange::None:
        break;
    }
}

void CMarkWnd::repaintStrip()
{
    m_showLit = false;
    m_strip.setHoverPos(-1);
    CScrollBaseWnd::repaintStrip();
}

void CMarkWnd::clientResized()
{
    repaintStrip();
}

void CMarkWnd::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect dirty = beginClientPaint(painter, event->rect());
    if (dirty.isEmpty())
        return;
    const StripView v = view();

    if (m_showLit) {
        painter.fillRect(dirty, toQColor(m_strip.colour()));
    } else {
        painter.fillRect(dirty, Background);
        if (timeLine().total() == 0)
            return;
        paintSelectionBand(painter, v);
        // Only the rows being painted are drawn, so a moving hover line costs two rows.
        m_lineRects.clear();
        for (const Mark &mark : m_strip.marks()) {
            const int32_t y = v.posToY(mark.position);
            if (v.isLineVisible(y) && y >= dirty.top() && y <= dirty.bottom())
                m_lineRects.append(QRect(0, y, v.width, 1));
        }
        fillRects(painter, m_lineRects, toQColor(m_strip.colour()));
        if (timeLine().selectedMark() != -1) {
            const int32_t y = v.posToY(timeLine().selectedMark());
            if (v.isLineVisible(y))
                painter.fillRect(QRect(0, y, v.width, 1), SelectedMarkColour);
        }
    }

    if (m_strip.hoverPos() != -1 && v.width > 0) {
        const int32_t y = v.posToY(m_strip.hoverPos());
        if (v.isLineVisible(y)) {
            painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            painter.fillRect(QRect(0, y, v.width, 1), HoverColour);
        }
    }
}

void CMarkWnd::setHover(int32_t position)
{
    const int32_t old = m_strip.hoverPos();
    if (old == position)
        return;
    if (old != -1)
        updateRow(posToY(old));
    m_strip.setHoverPos(position);
    if (position != -1)
        updateRow(posToY(position));
}

void CMarkWnd::hoverAt(int32_t y)
{
    const std::optional<size_t> nearest = m_strip.nearestMark(view(), y);
    if (!nearest) {
        setHover(-1);
        return;
    }
    const Mark &mark = m_strip.marks()[*nearest];
    setHover(mark.position);
    emit statusText(MarkTimePane, QString::fromStdString(formatTimeText(mark.time)));
}

void CMarkWnd::hoverGone()
{
    setHover(-1);
    emit statusText(MarkTimePane, QString());
}

void CMarkWnd::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_strip.hoverPos() == -1)
        return;
    const int32_t position = m_strip.hoverPos();
    timeLine().setSelectedMark(position);
    emit showFrameRequested(position);
}

void CMarkWnd::wheelEvent(QWheelEvent *event)
{
    // Only the waveform strip scrolls: the wheel goes on to the main view, which forwards it.
    event->ignore();
}

} // namespace vorn
