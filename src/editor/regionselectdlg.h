// CRegionSelectDlg: the modal dialog "領域の選択" in which a property page lets the user pick
// a rectangle on a picture.
#pragma once

#include "base/geometry.h"
#include "imaging/imagebuffer.h"

#include <QDialog>

#include <array>
#include <cstdint>

class QLineEdit;
class QPushButton;
class QString;

namespace vorn {

class CRegionSelect;

// Reads an edit's text as a number: leading blanks and one sign allowed, reading stops at the
// first non-digit, no digits read as 0, and a value beyond the int32 range becomes its nearest
// end instead of wrapping.
int32_t RegionTextToInt32(const QString &text);

// Use: construct, set picture, selection and (optionally) reference, run(), and on 1 read
// selection(). The page may free its picture as soon as setPicture has returned.
//
// The four edits show the selection as decimal numbers. Typing into one moves the red
// rectangle at once, as typed (left may exceed right); a drag on the picture writes the four
// numbers, ordered. selection() orders them.
class CRegionSelectDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int IdOk = 1;
    static constexpr int IdCancel = 2;
    enum Edge { Left, Top, Right, Bottom, EdgeCount };

    explicit CRegionSelectDlg(QWidget *parent = nullptr);
    ~CRegionSelectDlg() override;

    // Passes both to the picker, which copies the picture (see CRegionSelect::setPicture).
    void setPicture(const ImageBuffer *picture, int clampFlag);
    // Writes the four numbers into the edits ("%d"), which sets the picker's selection.
    void setSelection(const Rect &rect);
    // The blue rectangle on the picker (drawn, not edited).
    void setReference(const Rect &rect);
    // The four edits read with RegionTextToInt32, ordered so that left <= right and
    // top <= bottom.
    Rect selection() const;

    // Modal: IdOk when the user pressed OK, IdCancel otherwise.
    int run();

    // For tests and accessibility checks.
    CRegionSelect *picker() const { return m_picker; }
    QLineEdit *edit(Edge edge) const { return m_edits[edge]; }
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *zoomInButton() const { return m_zoomIn; }
    QPushButton *zoomOutButton() const { return m_zoomOut; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeControls();
    void editChanged();
    void picked(const Rect &rect);

    CRegionSelect *m_picker = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_zoomIn = nullptr;
    QPushButton *m_zoomOut = nullptr;
    std::array<QLineEdit *, EdgeCount> m_edits{};
};

} // namespace vorn
