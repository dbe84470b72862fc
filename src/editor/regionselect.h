// CRegionSelect: a picture shown at a chosen zoom, scrolled, with a selection dragged on it by
// the mouse and an optional reference rectangle beside it.
#pragma once

#include "base/geometry.h"
#include "imaging/imagebuffer.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace vorn {

// Interface thread only. Coordinates: "client" pixels are those of the viewport (the area
// inside the scroll bars); "picture" pixels are those of the picture at zoom 1. Rectangles are
// in picture pixels with both corners inclusive.
//
// The view: the picture is drawn scaled to scaledSize() with its top-left corner at
// -offset(); the offsets may be negative (the picture then starts inside the client area) and
// stay within [-client size, scaled size]. Every conversion is rounded half up and saturates at
// the int32 range, so no position far off the picture wraps.
class CRegionSelect : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static const char *const AccessibleName;  // "領域"
    // Zoom in is refused once either scaled side would reach this many pixels.
    static constexpr double ZoomInLimit = 10000.0;
    // Zoom out is refused once either scaled side would be this many pixels or fewer.
    static constexpr double ZoomOutLimit = 50.0;
    // The picture fills the part of the client area it leaves free with this grey.
    static constexpr QRgb Background = 0xff333333;
    static constexpr QRgb JoinColour = 0xff555555;      // lines from reference to selection
    static constexpr QRgb ReferenceColour = 0xff0000ff;
    static constexpr QRgb SelectionColour = 0xffff0000;

    explicit CRegionSelect(QWidget *parent = nullptr);
    ~CRegionSelect() override;

    // Keeps its own copy of `picture` (null, or a picture of zero size, shows none; a picture
    // that cannot be shown is reported once, and the view stays usable). Zoom returns to 1 and
    // the view is fitted once the picker is shown with a client area of some size. clampFlag 1
    // keeps the corners of a dragged selection on the picture; any other value leaves them
    // where the mouse was. Cancels a drag in progress.
    void setPicture(const ImageBuffer *picture, int clampFlag);
    const ImageBuffer *picture() const { return m_picture.get(); }
    int clampFlag() const { return m_clampFlag; }

    // The red rectangle, as given (not normalised). Drawn only when left != right and
    // top != bottom.
    void setSelection(const Rect &rect);
    Rect selection() const { return m_selection; }
    // The blue rectangle, drawn but never edited; same emptiness rule. When both are drawn,
    // grey lines join their corresponding corners.
    void setReference(const Rect &rect);
    Rect reference() const { return m_reference; }

    // Doubling / halving the zoom about the centre of the view; false (nothing changes) past
    // the limits above or without a picture.
    bool zoomIn();
    bool zoomOut();
    // The whole picture into the client area, centred. Does nothing without a picture or with
    // an empty client area.
    void fit();

    double zoom() const { return m_zoom; }
    QPoint offset() const { return {m_offsetX, m_offsetY}; }
    QSize scaledSize() const { return {m_scaledWidth, m_scaledHeight}; }
    QSize clientSize() const { return {m_clientWidth, m_clientHeight}; }
    bool isDragging() const { return m_dragging; }

    QPoint clientToPicture(QPoint client) const;
    QPoint pictureToClient(QPoint picture) const;

    // Replaces the message box ("Error") that reports a picture that cannot be shown; for tests.
    void setErrorHandler(std::function<void(const QString &)> handler);

signals:
    // A drag ended: the corners ordered (left <= right, top <= bottom) and, with clamp flag 1,
    // kept on the picture. The selection has already been set to it.
    void selectionPicked(const vorn::Rect &rect);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void readClientSize();
    void recomputeScaledSize();
    void clampOffsets();
    void updateScrollBars();
    void cancelDrag();
    void scrolled();
    void reportError(const QString &text);
    QRect rubberBand(const std::optional<QPoint> &corner) const;
    void updateRubberBand(const std::optional<QPoint> &corner);

    ImagePtr m_picture;   // our own copy
    QImage m_view;        // m_picture as drawn
    int m_clampFlag = 0;
    // The view was fitted since the picture was set. A hidden widget's size is not yet the one
    // it will be shown with, so fitting waits until it is shown.
    bool m_fitted = false;

    // The rubber band, in client pixels. A point the mouse has not given yet is empty (the
    // mouse may well be at (-1, -1) while it drags outside the window).
    bool m_dragging = false;
    QPoint m_dragStart;
    std::optional<QPoint> m_current;
    std::optional<QPoint> m_previous;

    Rect m_selection;
    Rect m_reference;

    int32_t m_clientWidth = 0;
    int32_t m_clientHeight = 0;
    int32_t m_scaledWidth = 0;
    int32_t m_scaledHeight = 0;
    int32_t m_offsetX = 0;
    int32_t m_offsetY = 0;
    double m_zoom = 1.0;

    bool m_settingBars = false;  // scroll bar changes made by the view itself, not the user
    std::function<void(const QString &)> m_errorHandler;
};

} // namespace vorn
