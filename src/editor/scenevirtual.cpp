// The page base: shared rows, number and colour parsing, text encoding and the region picker.
#include "editor/scenevirtual.h"
#include "base/saturate.h"
#include "base/leadinginteger.h"

#include "base/prompter.h"
#include "scenario/model/block.h"
#include "scenario/model/blockinput.h"
#include "scenario/model/scenario.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <span>

namespace vorn {

int32_t readTypedInteger(const QString &text)
{
    const QString t = text.trimmed();
    const int64_t value = leadingInteger(
        std::u16string_view(QStringView(t).utf16(), size_t(t.size())));
    return clampToInt32(value);
}

void RectFields::set(const Rect &rect)
{
    const int32_t values[4] = {rect.left, rect.top, rect.right, rect.bottom};
    for (int i = 0; i < 4; ++i)
        edits[size_t(i)]->setText(QString::number(values[i]));
}

Rect RectFields::get() const
{
    Rect r{readTypedInteger(edits[0]->text()), readTypedInteger(edits[1]->text()),
           readTypedInteger(edits[2]->text()), readTypedInteger(edits[3]->text())};
    if (r.left > r.right)
        std::swap(r.left, r.right);
    if (r.top > r.bottom)
        std::swap(r.top, r.bottom);
    return r;
}

void RectFields::clear()
{
    for (QLineEdit *edit : edits)
        edit->clear();
}

void RectFields::setEnabled(bool enabled)
{
    for (QLineEdit *edit : edits)
        edit->setEnabled(enabled);
}

void ColourFields::set(const Colour &colour)
{
    const int values[4] = {colour.red, colour.green, colour.blue, colour.alpha};
    for (int i = 0; i < 4; ++i)
        if (edits[size_t(i)])
            edits[size_t(i)]->setText(QString::number(values[i]));
}

Colour ColourFields::get(const Colour &base) const
{
    auto channel = [this](int i, uint8_t keep) {
        const QLineEdit *edit = edits[size_t(i)];
        return edit ? uint8_t(std::clamp(readTypedInteger(edit->text()), 0, 255)) : keep;
    };
    return {channel(0, base.red), channel(1, base.green), channel(2, base.blue),
            channel(3, base.alpha)};
}

namespace {

QString withoutMnemonic(QString text)
{
    return text.remove(u'&');
}

QLineEdit *smallEdit(const QString &accessibleName, int width = 0)
{
    auto *edit = new QLineEdit;
    edit->setAccessibleName(accessibleName);
    if (width > 0)
        edit->setFixedWidth(width);
    return edit;
}

// The "…" button beside a field, named after the field's label.
QPushButton *chooseButton(const QString &label)
{
    auto *button = new QPushButton(QStringLiteral("…"));
    button->setAccessibleName(withoutMnemonic(label) + QStringLiteral("の選択"));
    button->setFixedWidth(24);
    return button;
}

// Small edits named "<label> <part>" side by side, then `extra` when given; the edits go to
// `edits`, one per part.
QWidget *editsRow(const QString &label, std::span<const char *const> parts, int width,
                  QLineEdit **edits, QWidget *extra)
{
    auto *row = new QWidget;
    auto *box = new QHBoxLayout(row);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(2);
    for (const char *part : parts) {
        *edits = smallEdit(withoutMnemonic(label) + QLatin1Char(' ') + QString::fromUtf8(part), width);
        box->addWidget(*edits++);
    }
    if (extra)
        box->addWidget(extra);
    box->addStretch(1);
    return row;
}

} // namespace

CSceneVirtual::CSceneVirtual(const EditorServices &services, QWidget *parent)
    : QWidget(parent), m_services(services)
{
    setFixedSize(PageWidth, PageHeight);
    setAutoFillBackground(true);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(4);
    m_caption = new QLabel;
    m_caption->setAccessibleName(QStringLiteral("ブロックの種類"));
    QFont bold = m_caption->font();
    bold.setBold(true);
    m_caption->setFont(bold);
    outer->addWidget(m_caption);

    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    m_form = new QFormLayout;
    column->addLayout(m_form);
    column->addStretch(1);  // rows stay together at the top of a short page
    m_form->setHorizontalSpacing(6);
    m_form->setVerticalSpacing(3);
    m_form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    m_apply = new QPushButton(QStringLiteral("適用"));
    m_apply->setAccessibleName(QStringLiteral("適用"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_apply);
    outer->addLayout(buttons);
    connect(m_apply, &QPushButton::clicked, this, &CSceneVirtual::applyRequested);
}

void CSceneVirtual::load(Block *block)
{
    m_block = block;
    if (!block)
        return;
    const std::string_view keyword = kindKeyword(block->kind);
    m_caption->setText(QString::fromLatin1(keyword.data(), qsizetype(keyword.size())) +
                       QStringLiteral("ブロック"));
    if (m_nameEdit)
        m_nameEdit->setText(block->kind == BlockKind::Main
                                ? QStringLiteral("MAIN")
                                : QString::fromStdString(sjisToUtf8(block->name.value_or(""))));
    if (m_framesEdit)
        setNumber(m_framesEdit, block->frames);
    if (m_inputEdit) {
        const BlockInput *input = block->inputs.empty() ? nullptr : block->inputs.front().get();
        m_inputEdit->setText(input ? QString::fromStdString(sjisToUtf8(input->nameOf())) : QString());
    }
}

void CSceneVirtual::apply(Block &block)
{
    // Only pages that show a frame count write one: a source's or a sequence's FRAMES is not
    // theirs to change.
    if (m_framesEdit)
        block.frames = std::max(number(m_framesEdit), 1);
}

QLineEdit *CSceneVirtual::addTextRow(const QString &label, QPushButton **button)
{
    QLineEdit *edit = smallEdit(withoutMnemonic(label));
    if (!button) {
        m_form->addRow(label, edit);
        return edit;
    }
    auto *row = new QWidget;
    auto *box = new QHBoxLayout(row);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(2);
    box->addWidget(edit, 1);
    *button = chooseButton(label);
    box->addWidget(*button);
    m_form->addRow(label, row);
    return edit;
}

QLineEdit *CSceneVirtual::addNumberRow(const QString &label)
{
    QLineEdit *edit = smallEdit(withoutMnemonic(label), 80);
    m_form->addRow(label, edit);
    return edit;
}

QCheckBox *CSceneVirtual::addCheckRow(const QString &label)
{
    auto *box = new QCheckBox(label);
    box->setAccessibleName(withoutMnemonic(label));
    m_form->addRow(box);
    return box;
}

std::vector<QCheckBox *> CSceneVirtual::addCheckGrid(const QStringList &labels, int columns)
{
    std::vector<QCheckBox *> boxes;
    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2);
    for (qsizetype i = 0; i < labels.size(); ++i) {
        auto *box = new QCheckBox(labels[i]);
        box->setAccessibleName(withoutMnemonic(labels[i]));
        grid->addWidget(box, int(i) / columns, int(i) % columns);
        boxes.push_back(box);
    }
    m_form->addRow(grid);
    return boxes;
}

RectFields CSceneVirtual::addRectRow(const QString &label, QPushButton **pickButton)
{
    static const char *const corners[4] = {"左", "上", "右", "下"};
    RectFields fields;
    QPushButton *pick = pickButton ? (*pickButton = chooseButton(label)) : nullptr;
    m_form->addRow(label, editsRow(label, corners, 32, fields.edits.data(), pick));
    return fields;
}

ColourFields CSceneVirtual::addColourRow(const QString &label, bool withAlpha)
{
    static const char *const channels[4] = {"赤", "緑", "青", "α"};
    ColourFields fields;
    m_form->addRow(label, editsRow(label, std::span(channels, withAlpha ? 4 : 3), 34,
                                   fields.edits.data(), nullptr));
    return fields;
}

QButtonGroup *CSceneVirtual::addRadioRow(const QString &label,
                                         std::initializer_list<std::pair<QString, int>> buttons)
{
    auto *group = new QButtonGroup(this);
    auto *row = new QWidget;
    auto *box = new QHBoxLayout(row);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(4);
    for (const auto &[text, id] : buttons) {
        auto *radio = new QRadioButton(text);
        radio->setAccessibleName(withoutMnemonic(text));
        group->addButton(radio, id);
        box->addWidget(radio);
    }
    box->addStretch(1);
    m_form->addRow(label, row);
    return group;
}

void CSceneVirtual::checkOnly(QButtonGroup *group, int id)
{
    // An exclusive group keeps one button ticked; to show "none" it must let go for a moment.
    group->setExclusive(false);
    for (QAbstractButton *button : group->buttons())
        button->setChecked(group->id(button) == id);
    group->setExclusive(true);
}

QLabel *CSceneVirtual::addNote(const QString &text)
{
    auto *note = new QLabel(text);
    note->setWordWrap(true);
    note->setAccessibleName(QString(text).remove(u'\n'));
    m_form->addRow(note);
    return note;
}

void CSceneVirtual::addNameRow()
{
    m_nameEdit = addTextRow(QStringLiteral("ブロック名"));
    m_nameEdit->setReadOnly(true);
}

void CSceneVirtual::addFramesRow()
{
    m_framesEdit = addNumberRow(QStringLiteral("フレーム数"));
}

void CSceneVirtual::addInputRow(bool editable)
{
    m_inputEdit = addTextRow(QStringLiteral("入力"));
    m_inputEdit->setReadOnly(!editable);
    m_inputEditable = editable;
}

void CSceneVirtual::setRowVisible(QWidget *field, bool visible)
{
    // A row's field may sit inside a row widget of several controls: find the form's own.
    QWidget *rowField = field;
    while (rowField && rowField->parentWidget() && rowField->parentWidget() != m_form->parentWidget())
        rowField = rowField->parentWidget();
    m_form->setRowVisible(rowField, visible);
}

bool CSceneVirtual::encode(const QString &text, const QString &label, SjisString &out)
{
    const std::optional<SjisString> bytes = utf8ToSjis(text.toStdString());
    if (!bytes) {
        if (Prompter *p = prompter())
            p->showError("「" + withoutMnemonic(label).toStdString() +
                         "」に Shift-JIS で表せない文字が含まれています。適用しませんでした。");
        return false;
    }
    out = *bytes;
    return true;
}

bool CSceneVirtual::prepareInput()
{
    return !m_inputEdit || !m_inputEditable ||
           encode(m_inputEdit->text(), QStringLiteral("入力"), m_inputBytes);
}

void CSceneVirtual::applyInput(Block &block) const
{
    if (!m_inputEdit || !m_inputEditable || block.inputs.empty())
        return;
    BlockInput &input = *block.inputs.front();
    if (input.nameOf() != m_inputBytes) {
        // Linking resolves the new name; until then the input designates nothing.
        input.name = m_inputBytes;
        input.block = nullptr;
    }
}

std::optional<Rect> CSceneVirtual::pickRegion(const RegionRequest &request)
{
    return m_services.pickRegion ? m_services.pickRegion(this, request)
                                 : pickRegionWithDialog(this, request);
}

std::optional<Rect> CSceneVirtual::pickOnBlankScreen(RegionRequest request)
{
    if (!m_block)
        return std::nullopt;
    const Scenario *scenario = m_block->scenario;
    ImagePtr picture;
    if (scenario && scenario->screenWidth > 0 && scenario->screenHeight > 0) {
        const Colour &c = m_block->bgColor;
        picture = CreateFilledImage(scenario->screenWidth, scenario->screenHeight, c.red, c.green,
                                    c.blue, c.alpha);
    }
    if (!picture) {
        showPickFailure();
        return std::nullopt;
    }
    request.picture = picture.get();
    return pickRegion(request);
}

void CSceneVirtual::pickOnBlankScreen(RectFields &fields)
{
    if (const auto picked = pickOnBlankScreen({nullptr, 3, fields.get(), std::nullopt}))
        fields.set(*picked);
}

void CSceneVirtual::showPickFailure() const
{
    if (Prompter *messages = prompter())
        messages->showError("範囲を選ぶための画像を作れませんでした。");
}

Prompter *CSceneVirtual::prompter() const
{
    if (m_services.prompter)
        return m_services.prompter;
    return m_block && m_block->scenario ? m_block->scenario->prompter : nullptr;
}

void CSceneVirtual::setNumber(QLineEdit *edit, int32_t value)
{
    edit->setText(QString::number(value));
}

int32_t CSceneVirtual::number(const QLineEdit *edit)
{
    return readTypedInteger(edit->text());
}

} // namespace vorn
