// CMarkWnd: one mark strip: the marks of one colour (or the scenario's key frames), the flash
// just before a mark is reached, the hovered mark and the click that shows its picture.
#pragma once

#include "app/scrollbasewnd.h"
#include "timeline/markstrip.h"
#include "timeline/markstrips.h"

#include <QList>
#include <QRect>
#include <QString>

#include <cstdint>

namespace vorn {

class CMarkWnd : public CScrollBaseWnd
{
    Q_OBJECT

public:
    // The accessible names of strips 0 to 3 ("マーク 1" ... "マーク 3", "キーフレーム").
    static QString accessibleNameFor(int index);

    // Shows `strip` (one of the main view's MarkStrips, which outlives the window); `index` 0
    // to 3 names the strip for assistive technology.
    CMarkWnd(TimeLine &timeLine, MarkStrip &strip, int index, QWidget *parent = nullptr);
    ~CMarkWnd() override;

    MarkStrip &strip() const { return m_strip; }
    int index() const { return m_index; }

    // Recolours the strip and its marks; repaints.
    void setColour(uint8_t red, uint8_t green, uint8_t blue);

    // Mark operations; each repaints the strip. Adding does not light the strip (a tick does).
    void addMark(int32_t timeMs, int32_t position);
    // The Delete key: removes the first mark at the hovered position; false when nothing was
    // hovered.
    bool removeHoveredMark();
    // Removes every mark and forgets the hover, the lit state and the selected mark.
    void clear();

    // One timer tick while playing (the main view calls it for strips 0 to 3 in order): a
    // request adds a mark at (ms, position) and lights the strip; otherwise the strip is lit
    // while a mark lies 1 to 49 ms ahead of ms. Lighting fills the client with the strip's
    // colour; going dark repaints.
    void tick(bool request, int32_t ms, int32_t position);
    // True while the client shows the lit fill.
    bool showsLit() const { return m_showLit; }

    // Draws the marks again; forgets the hovered mark and the lit fill (not the lit state).
    void repaintStrip() override;

signals:
    // A click on a hovered mark (now the selected mark): the main view should show the picture
    // at this time-line position (VM_SHOW_FRAME) and repaint the mark strips.
    void showFrameRequested(int32_t position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void hoverAt(int32_t y) override;
    void hoverGone() override;
    void wheelEvent(QWheelEvent *event) override;
    void clientResized() override;

private:
    void setHover(int32_t position);

    MarkStrip &m_strip;
    int m_index = 0;
    bool m_showLit = false;
    QList<QRect> m_lineRects;    // kept between paints to save the allocation
};

} // namespace vorn
