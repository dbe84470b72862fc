// STILL, ROTATE, ZOOM / SLIDE / FOCUS and MOSAIC pages.
#include "editor/motionpages.h"

#include "scenario/model/blockinput.h"
#include "scenario/model/blocks/action.h"
#include "scenario/model/blocks/mosaic.h"
#include "scenario/model/blocks/rotate.h"
#include "scenario/model/scenario.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace vorn {

RenderedFrame::RenderedFrame(BlockInput *input) : m_input(input)
{
    if (m_input)
        m_picture = m_input->render(0);
}

RenderedFrame::~RenderedFrame()
{
    if (m_input && m_picture)
        m_input->release(m_picture, 0);
}

namespace {

// Whether a "was given" flag must be set: it was set already, or the page changes the value
// that linking would otherwise put back.
bool given(bool wasGiven, const Rect &before, const Rect &after)
{
    return wasGiven || before != after;
}

} // namespace

CStillProp::CStillProp(const EditorServices &services, QWidget *parent)
    : InputListPage(services, parent)
{
    addNameRow();
    addInputList();
    m_rect = addRectRow(QStringLiteral("矩形"), &m_pick);
    m_maxCut = addCheckRow(QStringLiteral("隙間なし"));
    m_bgColour = addColourRow(QStringLiteral("背景色"), false);
    addFramesRow();
    connect(m_pick, &QPushButton::clicked, this, [this] {
        if (selectedInput() >= 0)
            pickOnBlankScreen(m_rect);
    });
}

void CStillProp::load(Block *block)
{
    InputListPage::load(block);
    if (block)
        m_bgColour.set(block->bgColor);
}

void CStillProp::apply(Block &block)
{
    InputListPage::apply(block);
    block.bgColor = m_bgColour.get(block.bgColor);
}

void CStillProp::showValues(const InputValues &values)
{
    m_rect.set(values.rect);
    m_maxCut->setChecked(values.maxCut);
}

void CStillProp::readValues(InputValues &values) const
{
    values.rect = m_rect.get();
    values.maxCut = m_maxCut->isChecked();
}

void CStillProp::clearValues()
{
    m_rect.clear();
    m_maxCut->setChecked(false);
}

void CStillProp::enableValues(bool enabled)
{
    m_rect.setEnabled(enabled);
    m_pick->setEnabled(enabled);
    m_maxCut->setEnabled(enabled);
}

void CStillProp::writeValues(BlockInput &input, const InputValues &values) const
{
    input.setRect(values.rect.left, values.rect.top, values.rect.right, values.rect.bottom);
    input.cutMode = values.maxCut ? MaxCut : 0;
}

CRotateProp::CRotateProp(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
    addNameRow();
    addInputRow(true);
    m_rect = addRectRow(QStringLiteral("矩形"), &m_pick);
    m_centerX = addNumberRow(QStringLiteral("中心X"));
    m_centerY = addNumberRow(QStringLiteral("中心Y"));
    m_angleStart = addNumberRow(QStringLiteral("開始角度"));
    m_angleEnd = addNumberRow(QStringLiteral("終了角度"));
    m_bgColour = addColourRow(QStringLiteral("背景色"), false);
    addFramesRow();
    connect(m_pick, &QPushButton::clicked, this, [this] { pickOnBlankScreen(m_rect); });
}

void CRotateProp::load(Block *block)
{
    CSceneVirtual::load(block);
    auto *rotate = dynamic_cast<RotateBlock *>(block);
    if (!rotate)
        return;
    if (!rotate->inputs.empty())
        m_rect.set(rotate->inputs.front()->rect);
    else
        m_rect.clear();
    setNumber(m_centerX, rotate->centerX);
    setNumber(m_centerY, rotate->centerY);
    setNumber(m_angleStart, rotate->angleStart);
    setNumber(m_angleEnd, rotate->angleEnd);
    m_bgColour.set(rotate->bgColor);
}

void CRotateProp::apply(Block &block)
{
    CSceneVirtual::apply(block);
    auto *rotate = dynamic_cast<RotateBlock *>(&block);
    if (!rotate)
        return;
    applyInput(block);
    if (!rotate->inputs.empty()) {
        const Rect r = m_rect.get();
        rotate->inputs.front()->setRect(r.left, r.top, r.right, r.bottom);
    }
    const int32_t x = number(m_centerX);
    const int32_t y = number(m_centerY);
    // Linking puts the screen centre back unless the centre counts as given.
    rotate->hasCenter = rotate->hasCenter || x != rotate->centerX || y != rotate->centerY;
    rotate->centerX = x;
    rotate->centerY = y;
    rotate->angleStart = number(m_angleStart);
    rotate->angleEnd = number(m_angleEnd);
    rotate->bgColor = m_bgColour.get(rotate->bgColor);
}

CActionProp::CActionProp(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
    addNameRow();
    addInputRow(true);
    m_start = addRectRow(QStringLiteral("開始矩形"), &m_pickStart);
    m_end = addRectRow(QStringLiteral("終了矩形"), &m_pickEnd);
    m_bgColour = addColourRow(QStringLiteral("背景色"), false);
    m_afterimage = addNumberRow(QStringLiteral("残像数"));
    m_keepAspect = addCheckRow(QStringLiteral("縦横比を保つ"));
    addFramesRow();
    connect(m_pickStart, &QPushButton::clicked, this, [this] { pick(true); });
    connect(m_pickEnd, &QPushButton::clicked, this, [this] { pick(false); });
}

namespace {

// The pair of rectangles that each member of the family moves: ZOOM its source, SLIDE its
// destination, FOCUS its display rectangle.
std::pair<Rect *, Rect *> movedRects(ActionBlock &action)
{
    switch (action.kind) {
    case BlockKind::Zoom: return {&action.srcStart, &action.srcEnd};
    case BlockKind::Slide: return {&action.dstStart, &action.dstEnd};
    default: return {&action.dspStart, &action.dspEnd};
    }
}

} // namespace

void CActionProp::load(Block *block)
{
    CSceneVirtual::load(block);
    auto *action = dynamic_cast<ActionBlock *>(block);
    if (!action)
        return;
    const auto [start, end] = movedRects(*action);
    m_start.set(*start);
    m_end.set(*end);
    m_bgColour.set(action->bgColor);
    setNumber(m_afterimage, action->afterimage);
    m_keepAspect->setChecked(action->keepAspect);
    const bool focus = action->kind == BlockKind::Focus;
    setRowVisible(m_afterimage, !focus);
    setRowVisible(m_keepAspect, !focus);
}

void CActionProp::apply(Block &block)
{
    CSceneVirtual::apply(block);
    auto *action = dynamic_cast<ActionBlock *>(&block);
    if (!action)
        return;
    applyInput(block);
    const auto [start, end] = movedRects(*action);
    const Rect newStart = m_start.get();
    const Rect newEnd = m_end.get();
    if (action->kind == BlockKind::Zoom) {
        action->hasSrcStart = given(action->hasSrcStart, *start, newStart);
        action->hasSrcEnd = given(action->hasSrcEnd, *end, newEnd);
    }
    *start = newStart;
    *end = newEnd;
    action->bgColor = m_bgColour.get(action->bgColor);
    if (action->kind != BlockKind::Focus) {
        action->afterimage = number(m_afterimage);
        action->keepAspect = m_keepAspect->isChecked();
    }
}

void CActionProp::pick(bool start)
{
    auto *action = dynamic_cast<ActionBlock *>(m_block);
    if (!action)
        return;
    RegionRequest request;
    request.current = (start ? m_start : m_end).get();
    request.reference = (start ? m_end : m_start).get();
    if (action->kind == BlockKind::Zoom) {
        // ZOOM cuts from its input's picture: pick on the input's first frame.
        const RenderedFrame frame(action->inputs.empty() ? nullptr : action->inputs.front().get());
        if (!frame.picture())
            return showPickFailure();
        request.picture = frame.picture();
        request.clampFlag = 1;
        if (const auto picked = pickRegion(request))
            (start ? m_start : m_end).set(*picked);
        return;
    }
    request.clampFlag = 2;
    if (const auto picked = pickOnBlankScreen(request))
        (start ? m_start : m_end).set(*picked);
}

CMosaicProp::CMosaicProp(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
    addNameRow();
    addInputRow(false);
    m_start = addRectRow(QStringLiteral("開始矩形"), &m_pickStart);
    m_end = addRectRow(QStringLiteral("終了矩形"), &m_pickEnd);
    m_sizeStart = addNumberRow(QStringLiteral("開始サイズ"));
    m_sizeEnd = addNumberRow(QStringLiteral("終了サイズ"));
    connect(m_pickStart, &QPushButton::clicked, this, [this] { pick(true); });
    connect(m_pickEnd, &QPushButton::clicked, this, [this] { pick(false); });
}

void CMosaicProp::load(Block *block)
{
    CSceneVirtual::load(block);
    auto *mosaic = dynamic_cast<MosaicBlock *>(block);
    if (!mosaic)
        return;
    m_start.set(mosaic->tgtStart);
    m_end.set(mosaic->tgtEnd);
    setNumber(m_sizeStart, mosaic->sizeStart);
    setNumber(m_sizeEnd, mosaic->sizeEnd);
}

void CMosaicProp::apply(Block &block)
{
    CSceneVirtual::apply(block);
    auto *mosaic = dynamic_cast<MosaicBlock *>(&block);
    if (!mosaic)
        return;
    const Rect start = m_start.get();
    const Rect end = m_end.get();
    mosaic->hasTgtStart = given(mosaic->hasTgtStart, mosaic->tgtStart, start);
    mosaic->hasTgtEnd = given(mosaic->hasTgtEnd, mosaic->tgtEnd, end);
    mosaic->tgtStart = start;
    mosaic->tgtEnd = end;
    mosaic->sizeStart = number(m_sizeStart);
    mosaic->sizeEnd = number(m_sizeEnd);
}

void CMosaicProp::pick(bool start)
{
    if (!m_block)
        return;
    const RenderedFrame frame(m_block->inputs.empty() ? nullptr : m_block->inputs.front().get());
    if (!frame.picture())
        return showPickFailure();
    RegionRequest request{frame.picture(), 1, (start ? m_start : m_end).get(),
                          (start ? m_end : m_start).get()};
    if (const auto picked = pickRegion(request))
        (start ? m_start : m_end).set(*picked);
}

} // namespace vorn
