// CSceneVirtual: the base of every block property page: the name and frame-count texts, the
// colour and rectangle fields, the apply button, and the text helpers the pages share.
#pragma once

#include "base/geometry.h"
#include "base/sjis.h"
#include "editor/editorservices.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vorn {

class Block;
class BlockInput;

// An integer as typed: optional blanks and sign, then digits; anything after them is ignored,
// text that does not start with a number counts as 0, and values beyond int32 are clamped.
int32_t readTypedInteger(const QString &text);

// Four edit boxes for a rectangle (left, top, right, bottom).
struct RectFields {
    std::array<QLineEdit *, 4> edits{};
    void set(const Rect &rect);
    // Each text read as an integer, then ordered so that left <= right and top <= bottom.
    Rect get() const;
    void clear();
    void setEnabled(bool enabled);
};

// Edit boxes for red, green, blue and (where the page has one) alpha.
struct ColourFields {
    std::array<QLineEdit *, 4> edits{};  // edits[3] may be null
    void set(const Colour &colour);
    // Each text clamped to 0..255; without an alpha box the alpha of `base` is kept.
    Colour get(const Colour &base) const;
};

// Every page is used the same way: load(block) fills the controls from the block; prepare()
// turns typed texts into scenario bytes (false, after a message, when one cannot be); apply
// writes the prepared values into a block of the same kind (the scratch copy first, then the
// live block). The host runs that sequence when the apply button is pressed.
class CSceneVirtual : public QWidget {
    Q_OBJECT

public:
    static constexpr int PageWidth = 250;
    static constexpr int PageHeight = 360;

    CSceneVirtual(const EditorServices &services, QWidget *parent = nullptr);

    virtual void load(Block *block);
    virtual bool prepare() { return true; }
    virtual void apply(Block &block);

    Block *block() const { return m_block; }
    QPushButton *applyButton() const { return m_apply; }
    // The caption line naming the block family.
    QLabel *caption() const { return m_caption; }

signals:
    void applyRequested();

protected:
    // Rows of the page's form, in order. Each control gets the label (without '&') as its
    // accessible name.
    QFormLayout *form() const { return m_form; }
    // With `button`, a "…" button beside the edit, named after the label.
    QLineEdit *addTextRow(const QString &label, QPushButton **button = nullptr);
    QLineEdit *addNumberRow(const QString &label);
    QCheckBox *addCheckRow(const QString &label);
    // Check boxes in a grid of `columns`, filled row by row.
    std::vector<QCheckBox *> addCheckGrid(const QStringList &labels, int columns);
    RectFields addRectRow(const QString &label, QPushButton **pickButton = nullptr);
    ColourFields addColourRow(const QString &label, bool withAlpha);
    // Radio buttons in one row, one group; ids are the block's values.
    QButtonGroup *addRadioRow(const QString &label,
                              std::initializer_list<std::pair<QString, int>> buttons);
    // Ticks the button with this id, or none when no button has it.
    static void checkOnly(QButtonGroup *group, int id);
    QLabel *addNote(const QString &text);
    void addNameRow();
    void addFramesRow();
    // The single-input text (first input's name).
    void addInputRow(bool editable);
    // Shows or hides a form row (its label too).
    void setRowVisible(QWidget *field, bool visible);

    // Texts into scenario bytes; false after telling the user which field holds a character
    // Shift-JIS cannot.
    bool encode(const QString &text, const QString &label, SjisString &out);
    bool prepareInput();
    void applyInput(Block &block) const;
    // Opens the region picker; the normalised pick, or none when cancelled.
    std::optional<Rect> pickRegion(const RegionRequest &request);
    // The picker on a blank screen-sized picture in the block's background colour (made here, in
    // place of request.picture); none when cancelled, or, after a message, when there is no
    // block, no linked scenario or no memory for the picture.
    std::optional<Rect> pickOnBlankScreen(RegionRequest request);
    // The same for the rectangle of `fields`, clamped to the screen, which gets the pick.
    void pickOnBlankScreen(RectFields &fields);
    // Tells the user that no picture to pick a region on could be made.
    void showPickFailure() const;
    // The prompter for the editor's own messages.
    Prompter *prompter() const;

    static void setNumber(QLineEdit *edit, int32_t value);
    static int32_t number(const QLineEdit *edit);

    const EditorServices &m_services;
    Block *m_block = nullptr;
    QLabel *m_caption = nullptr;
    QLineEdit *m_nameEdit = nullptr;
    QLineEdit *m_framesEdit = nullptr;   // null on pages without a frame count
    QLineEdit *m_inputEdit = nullptr;    // null on pages without a single input
    bool m_inputEditable = false;
    SjisString m_inputBytes;

private:
    QFormLayout *m_form = nullptr;
    QPushButton *m_apply = nullptr;
};

} // namespace vorn
