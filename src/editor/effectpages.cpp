// CROSSFADE, FADE, MIX, SERIES / MAIN, CUT / ALPHA / SHADE, SHAKE / EXPAND and unimplemented pages.
#include "editor/effectpages.h"

#include "editor/motionpages.h"
#include "scenario/model/blockinput.h"
#include "scenario/model/blocks/cut.h"
#include "scenario/model/blocks/expand.h"
#include "scenario/model/blocks/fade.h"
#include "scenario/model/blocks/mix.h"
#include "scenario/model/blocks/rampblock.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace vorn {

namespace {

void setGroupVisible(QButtonGroup *group, bool visible)
{
    for (QAbstractButton *button : group->buttons())
        button->setVisible(visible);
}

} // namespace

CCrossFadeProp::CCrossFadeProp(const EditorServices &services, QWidget *parent)
    : InputListPage(services, parent)
{
    addNameRow();
    addInputList();
    addFramesRow();
}

CFadeProp::CFadeProp(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
    addNameRow();
    addInputRow(true);
    m_mode = addRadioRow(QStringLiteral("種類"), {{QStringLiteral("IN"), FadeBlock::ModeIn},
                                                  {QStringLiteral("OUT"), FadeBlock::ModeOut},
                                                  {QStringLiteral("INOUT"), FadeBlock::ModeInOut}});
    m_colour = addColourRow(QStringLiteral("背景色"), false);
    addFramesRow();
}

void CFadeProp::load(Block *block)
{
    CSceneVirtual::load(block);
    if (auto *fade = dynamic_cast<FadeBlock *>(block)) {
        checkOnly(m_mode, fade->fadeMode);
        m_colour.set(fade->bgColor);
    }
}

void CFadeProp::apply(Block &block)
{
    CSceneVirtual::apply(block);
    auto *fade = dynamic_cast<FadeBlock *>(&block);
    if (!fade)
        return;
    applyInput(block);
    if (m_mode->checkedId() != -1)
        fade->fadeMode = m_mode->checkedId();
    fade->bgColor = m_colour.get(fade->bgColor);
}

CMixProp::CMixProp(const EditorServices &services, QWidget *parent) : InputListPage(services, parent)
{
    addNameRow();
    addInputList();
    m_rect = addRectRow(QStringLiteral("矩形"), &m_pick);
    m_offset = addNumberRow(QStringLiteral("オフセット"));
    m_bgColour = addColourRow(QStringLiteral("背景色"), false);
    m_or = addCheckRow(QStringLiteral("OR演算"));
    connect(m_pick, &QPushButton::clicked, this, [this] {
        if (selectedInput() >= 0)
            pickOnBlankScreen(m_rect);
    });
}

void CMixProp::load(Block *block)
{
    InputListPage::load(block);
    if (auto *mix = dynamic_cast<MixBlock *>(block)) {
        m_bgColour.set(mix->bgColor);
        m_or->setChecked(mix->mixMode == MixBlock::ModeOr);
    }
}

void CMixProp::apply(Block &block)
{
    InputListPage::apply(block);
    if (auto *mix = dynamic_cast<MixBlock *>(&block)) {
        mix->bgColor = m_bgColour.get(mix->bgColor);
        mix->mixMode = m_or->isChecked() ? MixBlock::ModeOr : MixBlock::ModePlain;
    }
}

void CMixProp::showValues(const InputValues &values)
{
    m_rect.set(values.rect);
    setNumber(m_offset, values.offset);
}

void CMixProp::readValues(InputValues &values) const
{
    values.rect = m_rect.get();
    // The reader refuses a negative OFFSET: a saved file must read again.
    values.offset = std::max(number(m_offset), 0);
}

void CMixProp::clearValues()
{
    m_rect.clear();
    m_offset->clear();
}

void CMixProp::enableValues(bool enabled)
{
    m_rect.setEnabled(enabled);
    m_pick->setEnabled(enabled);
    m_offset->setEnabled(enabled);
}

void CMixProp::writeValues(BlockInput &input, const InputValues &values) const
{
    input.setRect(values.rect.left, values.rect.top, values.rect.right, values.rect.bottom);
    input.offset = values.offset;
}

CSeriesProp::CSeriesProp(const EditorServices &services, QWidget *parent)
    : InputListPage(services, parent)
{
    addNameRow();
    addInputList();
    m_volumeLink = addCheckRow(QStringLiteral("ボリューム連携"));
}

void CSeriesProp::load(Block *block)
{
    m_main = block && block->kind == BlockKind::Main;
    InputListPage::load(block);
    setRowVisible(m_volumeLink, m_main);
}

void CSeriesProp::showValues(const InputValues &values)
{
    m_volumeLink->setChecked(values.volumeLink);
}

void CSeriesProp::readValues(InputValues &values) const
{
    if (m_main)
        values.volumeLink = m_volumeLink->isChecked();
}

void CSeriesProp::clearValues()
{
    m_volumeLink->setChecked(false);
}

void CSeriesProp::enableValues(bool enabled)
{
    m_volumeLink->setEnabled(enabled);
}

void CSeriesProp::writeValues(BlockInput &input, const InputValues &values) const
{
    if (m_main)
        input.linkVolumeAlpha = values.volumeLink;
}

CAlphaProp::CAlphaProp(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
    addNameRow();
    addInputRow(true);
    m_explanation = addNote(QString());
    m_start = addNumberRow(QStringLiteral("開始"));
    m_end = addNumberRow(QStringLiteral("終了"));
    m_skip = addNumberRow(QStringLiteral("スキップ"));
}

void CAlphaProp::load(Block *block)
{
    CSceneVirtual::load(block);
    if (!block)
        return;
    const bool cut = block->kind == BlockKind::Cut;
    m_explanation->setText(cut ? QStringLiteral("抜き出しフレーム")
                               : block->kind == BlockKind::Alpha ? QStringLiteral("αブレンド値")
                                                                 : QStringLiteral("ぼかし値"));
    m_explanation->setAccessibleName(m_explanation->text());
    setRowVisible(m_skip, cut);
    if (auto *c = dynamic_cast<CutBlock *>(block)) {
        setNumber(m_start, c->start);
        setNumber(m_end, c->end);
        setNumber(m_skip, c->skip);
    } else if (auto *ramp = dynamic_cast<RampBlock *>(block)) {
        setNumber(m_start, ramp->start);
        setNumber(m_end, ramp->end);
    }
}

void CAlphaProp::apply(Block &block)
{
    CSceneVirtual::apply(block);
    applyInput(block);
    if (auto *c = dynamic_cast<CutBlock *>(&block)) {
        c->start = number(m_start);
        c->end = number(m_end);
        c->skip = number(m_skip);
    } else if (auto *ramp = dynamic_cast<RampBlock *>(&block)) {
        ramp->start = number(m_start);
        ramp->end = number(m_end);
    }
}

CExpandProp::CExpandProp(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
    addNameRow();
    addInputRow(true);
    m_inOut = addRadioRow(QStringLiteral("種類"), {{QStringLiteral("IN"), 1}, {QStringLiteral("OUT"), 2}});
    m_direction = addRadioRow(QStringLiteral("方向"), {{QStringLiteral("上"), DirectionUp},
                                                      {QStringLiteral("下"), DirectionDown},
                                                      {QStringLiteral("左"), DirectionLeft},
                                                      {QStringLiteral("右"), DirectionRight}});
}

void CExpandProp::load(Block *block)
{
    CSceneVirtual::load(block);
    const bool expand = block && block->kind == BlockKind::Expand;
    setRowVisible(m_inOut->buttons().front(), expand);
    setRowVisible(m_direction->buttons().front(), expand);
    setGroupVisible(m_inOut, expand);
    setGroupVisible(m_direction, expand);
    if (auto *e = dynamic_cast<ExpandBlock *>(block)) {
        // 0 means "not given", which no button stands for.
        checkOnly(m_inOut, e->expandIn == 0 ? -1 : e->expandIn == 1 ? 1 : 2);
        checkOnly(m_direction, e->direction);
    }
}

void CExpandProp::apply(Block &block)
{
    CSceneVirtual::apply(block);
    applyInput(block);
    auto *e = dynamic_cast<ExpandBlock *>(&block);
    if (!e)
        return;
    if (m_inOut->checkedId() != -1)
        e->expandIn = m_inOut->checkedId();
    if (m_direction->checkedId() != -1)
        e->direction = m_direction->checkedId();
}

const char *const CUnImplementedProp::Notice =
    "申し訳ありません。まだ実装していません。\n\nって言うか、このブロック使います？\n"
    "作っておいて何ですが、普段使わないので．．．";

CUnImplementedProp::CUnImplementedProp(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
    addNameRow();
    m_notice = addNote(QString::fromUtf8(Notice));
}

} // namespace vorn
