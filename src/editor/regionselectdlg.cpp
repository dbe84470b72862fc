// CRegionSelectDlg: the picker beside a column of buttons and the four edits of the rectangle.
#include "editor/regionselectdlg.h"
#include "base/saturate.h"
#include "base/leadinginteger.h"

#include "editor/regionselect.h"

#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>
#include <limits>
#include <utility>

namespace vorn {

namespace {

// The column of controls right of the picker.
constexpr int Margin = 10;
constexpr int ColumnSpace = 110;   // client width taken by the column and its margins
constexpr int ButtonWidth = 80;
constexpr int ButtonHeight = 25;
constexpr int ButtonPitch = 35;
constexpr int EditHeight = 20;
constexpr int FirstEditY = 150;
constexpr int EditPitch = 30;

const char *const EdgeNames[] = {"左", "上", "右", "下"};

} // namespace

int32_t RegionTextToInt32(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    const int64_t value = leadingInteger(
        std::u16string_view(QStringView(text).utf16(), size_t(text.size())), size_t(i));
    return clampToInt32(value);
}

CRegionSelectDlg::CRegionSelectDlg(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("領域の選択"));
    setAccessibleName(windowTitle());
    setSizeGripEnabled(true);

    m_picker = new CRegionSelect(this);

    const auto button = [this](const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setAccessibleName(text);
        return b;
    };
    m_ok = button(QStringLiteral("OK"));
    m_cancel = button(QStringLiteral("キャンセル"));
    m_zoomIn = button(QStringLiteral("拡大"));
    m_zoomOut = button(QStringLiteral("縮小"));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_zoomIn, &QPushButton::clicked, m_picker, &CRegionSelect::zoomIn);
    connect(m_zoomOut, &QPushButton::clicked, m_picker, &CRegionSelect::zoomOut);

    for (int e = 0; e < EdgeCount; ++e) {
        auto *edit = new QLineEdit(this);
        const QString name = QString::fromUtf8(EdgeNames[e]);
        edit->setAccessibleName(name);
        edit->setPlaceholderText(name);
        edit->setToolTip(name);
        connect(edit, &QLineEdit::textChanged, this, &CRegionSelectDlg::editChanged);
        m_edits[e] = edit;
    }
    connect(m_picker, &CRegionSelect::selectionPicked, this, &CRegionSelectDlg::picked);

    // Room for the whole column, and a picker that is more than its scroll bars.
    setMinimumSize(ColumnSpace + 100, FirstEditY + 3 * EditPitch + EditHeight + Margin);
    resize(640, 480);
    placeControls();
}

CRegionSelectDlg::~CRegionSelectDlg() = default;

void CRegionSelectDlg::setPicture(const ImageBuffer *picture, int clampFlag)
{
    m_picker->setPicture(picture, clampFlag);
}

void CRegionSelectDlg::setSelection(const Rect &rect)
{
    // Each edit's change notification sets the picker's selection from all four texts.
    picked(rect);
}

void CRegionSelectDlg::setReference(const Rect &rect)
{
    m_picker->setReference(rect);
}

Rect CRegionSelectDlg::selection() const
{
    const auto value = [this](Edge e) { return RegionTextToInt32(m_edits[e]->text()); };
    Rect r{value(Left), value(Top), value(Right), value(Bottom)};
    if (r.left > r.right)
        std::swap(r.left, r.right);
    if (r.top > r.bottom)
        std::swap(r.top, r.bottom);
    return r;
}

int CRegionSelectDlg::run()
{
    return exec() == QDialog::Accepted ? IdOk : IdCancel;
}

void CRegionSelectDlg::picked(const Rect &rect)
{
    m_edits[Left]->setText(QString::number(rect.left));
    m_edits[Top]->setText(QString::number(rect.top));
    m_edits[Right]->setText(QString::number(rect.right));
    m_edits[Bottom]->setText(QString::number(rect.bottom));
}

void CRegionSelectDlg::editChanged()
{
    // As typed: left may exceed right until selection() orders them.
    const auto value = [this](Edge e) { return RegionTextToInt32(m_edits[e]->text()); };
    m_picker->setSelection({value(Left), value(Top), value(Right), value(Bottom)});
}

void CRegionSelectDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    placeControls();
}

void CRegionSelectDlg::placeControls()
{
    const int w = width(), h = height();
    m_picker->setGeometry(Margin, Margin, std::max(w - ColumnSpace, 0),
                          std::max(h - 2 * Margin, 0));
    const int x = w - ColumnSpace + 20;
    const std::array<QPushButton *, 4> buttons{m_ok, m_cancel, m_zoomIn, m_zoomOut};
    for (int i = 0; i < 4; ++i)
        buttons[i]->setGeometry(x, Margin + i * ButtonPitch, ButtonWidth, ButtonHeight);
    for (int e = 0; e < EdgeCount; ++e)
        m_edits[e]->setGeometry(x, FirstEditY + e * EditPitch, ButtonWidth, EditHeight);
}

} // namespace vorn
