// CRegionSelect: zoom and scroll arithmetic, the rubber band and the painting of the picture and
// its rectangles.
#include "editor/regionselect.h"
#include "base/saturate.h"

#include "imaging/qimageconvert.h"

#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QResizeEvent>
#include <QShowEvent>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace vorn {

namespace {

constexpr int LineStep = 10;  // pixels per scroll-bar arrow click

bool drawn(const Rect &r)
{
    return r.left != r.right && r.top != r.bottom;
}

// Beyond this the raster engine's fixed-point line stepping is no longer exact, so such lines
// are cut to the visible box first.
constexpr double SafeCoordinate = 1 << 20;

// Liang-Barsky: the part of segment a-b inside box, or false when none is.
bool clipSegment(QPointF &a, QPointF &b, const QRectF &box)
{
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    double t0 = 0.0, t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(),
                         box.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const QPointF start = a;
    a = start + QPointF(dx * t0, dy * t0);
    b = start + QPointF(dx * t1, dy * t1);
    return true;
}

void drawSegment(QPainter &painter, QPoint a, QPoint b, const QRectF &box)
{
    const auto far = [](QPoint p) {
        return std::abs(double(p.x())) > SafeCoordinate || std::abs(double(p.y())) > SafeCoordinate;
    };
    if (!far(a) && !far(b)) {
        painter.drawLine(a, b);
        return;
    }
    QPointF fa(a), fb(b);
    if (clipSegment(fa, fb, box))
        painter.drawLine(fa.toPoint(), fb.toPoint());
}

} // namespace

const char *const CRegionSelect::AccessibleName = "領域";

CRegionSelect::CRegionSelect(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAccessibleName(QString::fromUtf8(AccessibleName));
    viewport()->setAccessibleName(QString::fromUtf8(AccessibleName));
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setAccessibleName(QStringLiteral("横スクロール"));
    verticalScrollBar()->setAccessibleName(QStringLiteral("縦スクロール"));
    horizontalScrollBar()->setSingleStep(LineStep);
    verticalScrollBar()->setSingleStep(LineStep);
    readClientSize();
    updateScrollBars();
}

CRegionSelect::~CRegionSelect() = default;

void CRegionSelect::setErrorHandler(std::function<void(const QString &)> handler)
{
    m_errorHandler = std::move(handler);
}

void CRegionSelect::reportError(const QString &text)
{
    // Later, from the event loop: the caller is usually still setting the dialog up, and a box
    // opened from within painting would be painted over and asked again.
    QTimer::singleShot(0, this, [this, text] {
        if (m_errorHandler)
            m_errorHandler(text);
        else
            QMessageBox::critical(this, QStringLiteral("Error"), text);
    });
}

void CRegionSelect::setPicture(const ImageBuffer *picture, int clampFlag)
{
    m_picture.reset();
    m_view = QImage();
    m_clampFlag = clampFlag;
    m_zoom = 1.0;
    m_fitted = false;
    if (picture && picture->width > 0 && picture->height > 0) {
        m_picture = CopyImage(picture);
        if (m_picture)
            m_view = ImageBufferToQImage(*m_picture, AlphaUse::Ignore);
        // Without a copy there is nothing to show; without the view the picture still gives
        // the geometry, and the window stays blank but usable.
        if (m_view.isNull())
            reportError(QStringLiteral("CreateDIBitmap failed."));
    }
    m_offsetX = m_offsetY = 0;
    readClientSize();
    recomputeScaledSize();
    if (isVisible())
        fit();
    updateScrollBars();
    cancelDrag();
    viewport()->update();
}

void CRegionSelect::setSelection(const Rect &rect)
{
    m_selection = rect;
    viewport()->update();
}

void CRegionSelect::setReference(const Rect &rect)
{
    m_reference = rect;
    viewport()->update();
}

void CRegionSelect::readClientSize()
{
    m_clientWidth = std::max(viewport()->width(), 0);
    m_clientHeight = std::max(viewport()->height(), 0);
}

void CRegionSelect::recomputeScaledSize()
{
    if (m_picture) {
        m_scaledWidth = truncToInt32(std::floor(m_picture->width * m_zoom + 0.5));
        m_scaledHeight = truncToInt32(std::floor(m_picture->height * m_zoom + 0.5));
    } else {
        m_scaledWidth = m_scaledHeight = 0;
    }
    clampOffsets();
}

void CRegionSelect::clampOffsets()
{
    m_offsetX = std::clamp(m_offsetX, -m_clientWidth, m_scaledWidth);
    m_offsetY = std::clamp(m_offsetY, -m_clientHeight, m_scaledHeight);
}

void CRegionSelect::updateScrollBars()
{
    // Changing a range may show or hide a bar, which resizes the viewport and comes back here
    // through resizeEvent; every value is therefore read from the members at the moment it is
    // set.
    const bool outer = m_settingBars;
    m_settingBars = true;
    // A bar's positions run over [-client, scaled]: the extent (scaled + 2 x client) less one
    // page. Qt shows an as-needed bar exactly while that range is not empty, that is while the
    // extent exceeds the client size.
    QScrollBar *h = horizontalScrollBar();
    h->setRange(-m_clientWidth, m_scaledWidth);
    h->setPageStep(m_clientWidth);
    h->setValue(m_offsetX);
    QScrollBar *v = verticalScrollBar();
    v->setRange(-m_clientHeight, m_scaledHeight);
    v->setPageStep(m_clientHeight);
    v->setValue(m_offsetY);
    m_settingBars = outer;
}

void CRegionSelect::scrollContentsBy(int, int)
{
    if (m_settingBars)
        return;
    scrolled();
}

void CRegionSelect::scrolled()
{
    // Every position the bar offers is taken, 0 included (the edge of the picture at the edge
    // of the window).
    m_offsetX = horizontalScrollBar()->value();
    m_offsetY = verticalScrollBar()->value();
    clampOffsets();
    cancelDrag();
    viewport()->update();
}

void CRegionSelect::fit()
{
    if (!m_picture || m_clientWidth <= 0 || m_clientHeight <= 0)
        return;
    const int64_t pw = m_picture->width, ph = m_picture->height;
    if (pw * m_clientHeight < ph * m_clientWidth)
        m_zoom = double(m_clientHeight) / double(ph);
    else
        m_zoom = double(m_clientWidth) / double(pw);
    m_fitted = true;
    recomputeScaledSize();
    m_offsetX = (m_scaledWidth - m_clientWidth) / 2;
    m_offsetY = (m_scaledHeight - m_clientHeight) / 2;
    clampOffsets();
    updateScrollBars();
    cancelDrag();
    viewport()->update();
}

bool CRegionSelect::zoomIn()
{
    if (!m_picture)
        return false;
    const double zoom = m_zoom * 2.0;
    if (!(m_picture->width * zoom < ZoomInLimit && m_picture->height * zoom < ZoomInLimit))
        return false;
    m_zoom = zoom;
    // The point at the centre of the view stays there.
    m_offsetX = clampToInt32((int64_t(m_offsetX) + m_clientWidth / 2) * 2 - m_clientWidth / 2);
    m_offsetY = clampToInt32((int64_t(m_offsetY) + m_clientHeight / 2) * 2 - m_clientHeight / 2);
    recomputeScaledSize();
    updateScrollBars();
    cancelDrag();
    viewport()->update();
    return true;
}

bool CRegionSelect::zoomOut()
{
    if (!m_picture)
        return false;
    const double zoom = m_zoom / 2.0;
    if (!(m_picture->width * zoom > ZoomOutLimit && m_picture->height * zoom > ZoomOutLimit))
        return false;
    m_zoom = zoom;
    m_offsetX = clampToInt32((int64_t(m_offsetX) + m_clientWidth / 2) / 2 - m_clientWidth / 2);
    m_offsetY = clampToInt32((int64_t(m_offsetY) + m_clientHeight / 2) / 2 - m_clientHeight / 2);
    recomputeScaledSize();
    updateScrollBars();
    cancelDrag();
    viewport()->update();
    return true;
}

QPoint CRegionSelect::clientToPicture(QPoint client) const
{
    // The zoom is positive whenever it is set; the guard keeps a broken state from dividing
    // by zero.
    const double zoom = m_zoom > 0.0 ? m_zoom : 1.0;
    return {truncToInt32(std::floor((double(client.x()) + m_offsetX) / zoom + 0.5)),
            truncToInt32(std::floor((double(client.y()) + m_offsetY) / zoom + 0.5))};
}

QPoint CRegionSelect::pictureToClient(QPoint picture) const
{
    return {truncToInt32(std::floor(picture.x() * m_zoom + 0.5) - m_offsetX),
            truncToInt32(std::floor(picture.y() * m_zoom + 0.5) - m_offsetY)};
}

void CRegionSelect::resizeEvent(QResizeEvent *event)
{
    // Called for the frame and for the viewport; the client size is the viewport's.
    QAbstractScrollArea::resizeEvent(event);
    const int32_t width = m_clientWidth, height = m_clientHeight;
    readClientSize();
    if (width == m_clientWidth && height == m_clientHeight)
        return;
    if (m_picture && !m_fitted && isVisible()) {
        fit();
        return;
    }
    recomputeScaledSize();
    updateScrollBars();
    cancelDrag();
}

void CRegionSelect::showEvent(QShowEvent *event)
{
    QAbstractScrollArea::showEvent(event);
    readClientSize();
    if (m_picture && !m_fitted) {
        fit();
        return;
    }
    recomputeScaledSize();
    updateScrollBars();
}

void CRegionSelect::cancelDrag()
{
    if (m_dragging) {
        updateRubberBand(m_current);
        m_dragging = false;
    }
    m_current.reset();
    m_previous.reset();
}

QRect CRegionSelect::rubberBand(const std::optional<QPoint> &corner) const
{
    // The drag rectangle as the platform draws it: from the start up to, not including, the
    // far corner.
    if (!corner)
        return {};
    const int left = std::min(m_dragStart.x(), corner->x());
    const int right = std::max(m_dragStart.x(), corner->x());
    const int top = std::min(m_dragStart.y(), corner->y());
    const int bottom = std::max(m_dragStart.y(), corner->y());
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

void CRegionSelect::updateRubberBand(const std::optional<QPoint> &corner)
{
    const QRect band = rubberBand(corner);
    if (band.isEmpty())
        return;
    // Only the one-pixel border changes.
    QRegion border(band);
    border -= band.adjusted(1, 1, -1, -1);
    viewport()->update(border);
}

void CRegionSelect::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_dragging)
        return;
    m_dragging = true;
    m_dragStart = event->position().toPoint();
    m_current.reset();
    m_previous.reset();
}

void CRegionSelect::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_previous = m_current;
    m_current = event->position().toPoint();
    updateRubberBand(m_previous);
    updateRubberBand(m_current);
}

void CRegionSelect::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    const QPoint end = m_current.value_or(m_dragStart);
    cancelDrag();

    const QPoint a = clientToPicture(m_dragStart);
    const QPoint b = clientToPicture(end);
    Rect rect{std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::max(a.x(), b.x()),
              std::max(a.y(), b.y())};
    if (m_clampFlag == 1) {
        // Without a picture the only place left on it is its origin.
        const int32_t lastX = m_picture ? m_picture->width - 1 : 0;
        const int32_t lastY = m_picture ? m_picture->height - 1 : 0;
        rect.left = std::clamp(rect.left, 0, lastX);
        rect.right = std::clamp(rect.right, 0, lastX);
        rect.top = std::clamp(rect.top, 0, lastY);
        rect.bottom = std::clamp(rect.bottom, 0, lastY);
    }
    m_selection = rect;
    viewport()->update();
    emit selectionPicked(rect);
}

void CRegionSelect::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), QColor::fromRgb(Background));

    // Nearest-neighbour stretching, as the platform's colour-on-colour mode: every pixel stays
    // a pixel of the picture.
    if (!m_view.isNull() && m_scaledWidth > 0 && m_scaledHeight > 0)
        painter.drawImage(QRect(-m_offsetX, -m_offsetY, m_scaledWidth, m_scaledHeight), m_view);

    // A pixel wider than the client on every side, so that cut lines still end off screen.
    const QRectF box(-2.0, -2.0, m_clientWidth + 4.0, m_clientHeight + 4.0);
    const auto corners = [this](const Rect &r) {
        return std::array<QPoint, 4>{pictureToClient({r.left, r.top}),
                                     pictureToClient({r.right, r.top}),
                                     pictureToClient({r.right, r.bottom}),
                                     pictureToClient({r.left, r.bottom})};
    };
    const auto outline = [&](const Rect &r, QRgb colour) {
        painter.setPen(QPen(QColor::fromRgb(colour), 0));
        const auto c = corners(r);
        for (int i = 0; i < 4; ++i)
            drawSegment(painter, c[i], c[(i + 1) % 4], box);
    };

    if (drawn(m_reference) && drawn(m_selection)) {
        painter.setPen(QPen(QColor::fromRgb(JoinColour), 0));
        const auto from = corners(m_reference);
        const auto to = corners(m_selection);
        for (int i = 0; i < 4; ++i)
            drawSegment(painter, from[i], to[i], box);
    }
    if (drawn(m_reference))
        outline(m_reference, ReferenceColour);
    if (drawn(m_selection))
        outline(m_selection, SelectionColour);

    // The rubber band inverts what lies under its border.
    const QRect band = m_dragging ? rubberBand(m_current) : QRect();
    if (!band.isEmpty()) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        QRegion border(band);
        border -= band.adjusted(1, 1, -1, -1);
        for (const QRect &part : border)
            painter.fillRect(part, Qt::white);
    }
}

} // namespace vorn
