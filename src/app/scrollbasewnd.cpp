// CScrollBaseWnd: client geometry, the shared time line's operations, the scroll bar and the
// selection band.
#include "app/scrollbasewnd.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace vorn {

namespace {

const QColor SelectionColour(0, 0, 204);

} // namespace

void fillRects(QPainter &painter, const QList<QRect> &rects, const QColor &colour)
{
    if (rects.isEmpty())
        return;
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRects(rects.constData(), int(rects.size()));
    painter.restore();
}

CScrollBaseWnd::CScrollBaseWnd(TimeLine &timeLine, QWidget *parent)
    : QFrame(parent), m_timeLine(timeLine)
{
    // A sunken two-pixel edge around the client area, as the strips' client edge.
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setMouseTracking(true);
    // Painting covers the whole client area; the frame is drawn over the rest.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    layoutClient();
}

CScrollBaseWnd::~CScrollBaseWnd() = default;

void CScrollBaseWnd::makeScrollable()
{
    if (m_scrollBar)
        return;
    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    m_scrollBar->setAccessibleName(QStringLiteral("波形のスクロールバー"));
    // The keys belong to the main view; the bar answers the mouse only.
    m_scrollBar->setFocusPolicy(Qt::NoFocus);
    m_scrollBar->hide();
    m_scrollBar->installEventFilter(this);
    connect(m_scrollBar, &QAbstractSlider::actionTriggered, this, &CScrollBaseWnd::onScrollAction);
    recalc();
}

void CScrollBaseWnd::setTotal(int32_t total)
{
    m_timeLine.setTotal(total);
    recalc();
}

void CScrollBaseWnd::resetView()
{
    m_timeLine.resetView();
}

void CScrollBaseWnd::zoomIn()
{
    m_timeLine.zoomIn();
    recalc();
    repaintStrip();
}

void CScrollBaseWnd::zoomOut()
{
    m_timeLine.zoomOut();
    recalc();
    repaintStrip();
}

void CScrollBaseWnd::scrollTo(int32_t position)
{
    m_timeLine.scrollTo(position);
    recalc();
    repaintStrip();
}

void CScrollBaseWnd::setSelection(int32_t start, int32_t end)
{
    m_timeLine.setSelection(start, end);
    repaintStrip();
}

void CScrollBaseWnd::recalc()
{
    m_timeLine.recalc();
    if (!m_scrollBar)
        return;
    const ScrollBarState bar = m_timeLine.scrollBar();
    // The record's range is [minimum, maximum] with a page: the thumb's largest position is
    // maximum - page + 1, which is the top of Qt's range.
    const int64_t last = int64_t(bar.maximum) - bar.page + 1;
    m_scrollBar->setRange(bar.minimum, int(std::clamp<int64_t>(last, bar.minimum, INT32_MAX)));
    m_scrollBar->setPageStep(std::max(bar.page, 1));
    m_scrollBar->setSingleStep(std::max(bar.page / 20, 1));
    m_scrollBar->setValue(bar.position);
    if (m_scrollBar->isVisibleTo(this) != bar.visible) {
        m_scrollBar->setVisible(bar.visible);
        layoutClient();
    }
}

void CScrollBaseWnd::link(CScrollBaseWnd *strip)
{
    m_linked.append(strip);
}

QList<CScrollBaseWnd *> CScrollBaseWnd::linked() const
{
    QList<CScrollBaseWnd *> strips;
    for (const QPointer<CScrollBaseWnd> &strip : m_linked)
        if (strip)
            strips.append(strip.data());
    return strips;
}

void CScrollBaseWnd::repaintLinked()
{
    for (CScrollBaseWnd *strip : linked())
        strip->repaintStrip();
}

void CScrollBaseWnd::repaintStrip()
{
    updateClient();
}

int32_t CScrollBaseWnd::clientWidth() const
{
    const int32_t inside = std::max(contentsRect().width(), 0);
    if (!m_scrollBar || !m_scrollBar->isVisibleTo(this))
        return inside;
    return inside - std::min(m_scrollBar->sizeHint().width(), inside);
}

int32_t CScrollBaseWnd::clientHeight() const
{
    return std::max(contentsRect().height(), 0);
}

QRect CScrollBaseWnd::clientRect() const
{
    return QRect(contentsRect().topLeft(), QSize(clientWidth(), clientHeight()));
}

int32_t CScrollBaseWnd::clientY(const QPointF &widgetPos) const
{
    return int32_t(std::floor(widgetPos.y())) - contentsRect().top();
}

void CScrollBaseWnd::paintSelectionBand(QPainter &painter, const StripView &view) const
{
    const SelectionBand band = m_timeLine.selectionBand(view);
    if (!band.isEmpty())
        painter.fillRect(QRect(0, band.y1, view.width, band.y2 - band.y1), SelectionColour);
}

void CScrollBaseWnd::updateRow(int32_t y)
{
    if (y >= 0 && y < clientHeight())
        update(QRect(contentsRect().left(), contentsRect().top() + y, clientWidth(), 1));
}

void CScrollBaseWnd::updateClient()
{
    update(clientRect());
}

QRect CScrollBaseWnd::beginClientPaint(QPainter &painter, const QRect &exposed)
{
    drawFrame(&painter);
    const QRect client = clientRect();
    const QRect dirty = exposed.intersected(client).translated(-client.topLeft());
    if (!dirty.isEmpty()) {
        painter.setClipRect(client);
        painter.translate(client.topLeft());
    }
    return dirty;
}

void CScrollBaseWnd::mouseMoveEvent(QMouseEvent *event)
{
    const int32_t y = clientY(event->position());
    if (y < 0 || y >= clientHeight()) {
        leaveEvent(event);
        return;
    }
    m_mouseInside = true;
    emit focusToView();
    hoverAt(y);
}

void CScrollBaseWnd::leaveEvent(QEvent *)
{
    if (!m_mouseInside)
        return;
    m_mouseInside = false;
    hoverGone();
}

void CScrollBaseWnd::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    layoutClient();
}

// The size notification: the client area is what the frame and a shown scroll bar leave.
void CScrollBaseWnd::layoutClient()
{
    if (m_scrollBar && m_scrollBar->isVisibleTo(this)) {
        const QRect inside = contentsRect();
        const int32_t width = clientWidth();
        m_scrollBar->setGeometry(inside.left() + width, inside.top(), inside.width() - width,
                                 inside.height());
    }
    m_timeLine.recalc();
    clientResized();
}

void CScrollBaseWnd::onScrollAction(int action)
{
    ScrollCode code;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        code = ScrollCode::LineUp;
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        code = ScrollCode::LineDown;
        break;
    case QAbstractSlider::SliderPageStepSub:
        code = ScrollCode::PageUp;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        code = ScrollCode::PageDown;
        break;
    case QAbstractSlider::SliderMove:
        code = ScrollCode::ThumbTrack;
        break;
    default:
        // Codes the time line does not know still end in its clamp below.
        code = ScrollCode::ThumbPosition;
        break;
    }
    const int32_t track = action == QAbstractSlider::SliderMove ? m_scrollBar->sliderPosition() : 0;
    m_timeLine.scroll(code, track);
    // The slider applies its own step after this signal; the time line's top wins instead.
    m_scrollBar->setSliderPosition(m_timeLine.top());
    repaintStrip();
}

void CScrollBaseWnd::endScroll()
{
    m_timeLine.scroll(ScrollCode::EndScroll);
    if (m_scrollBar)
        m_scrollBar->setValue(m_timeLine.top());
    repaintLinked();
    repaintStrip();
}

bool CScrollBaseWnd::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scrollBar) {
        if (event->type() == QEvent::Wheel) {
            // The wheel scrolls the time line the same way wherever the strip is turned.
            QCoreApplication::sendEvent(this, event);
            return true;
        }
        if (event->type() == QEvent::Enter) {
            // The bar is outside the client area: reaching it is leaving the strip.
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(this, &leave);
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            // The end of a scroll comes after the bar has handled the release (and a dragged
            // thumb has reported its last position).
            QMetaObject::invokeMethod(this, &CScrollBaseWnd::endScroll, Qt::QueuedConnection);
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace vorn
