// The property host and the trial-and-commit apply.
#include "editor/sceneprop.h"

#include "base/prompter.h"
#include "editor/effectpages.h"
#include "editor/inputlistpage.h"
#include "editor/motionpages.h"
#include "editor/scenariodialog.h"
#include "editor/sourcepages.h"
#include "scenario/model/block.h"
#include "scenario/model/blockinput.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"

#include <QPainter>

namespace vorn {

namespace {

// Page slots in the host's list.
enum PageSlot : size_t {
    ImagePage, TextPage, StillPage, CrossFadePage, FadePage, ActionPage, MixPage, SeriesPage,
    AlphaPage, RotatePage, ExpandPage, MosaicPage, UnImplementedPage, PageCount
};

PageSlot slotFor(BlockKind kind)
{
    switch (kind) {
    case BlockKind::Image: return ImagePage;
    case BlockKind::Text: return TextPage;
    case BlockKind::Still: return StillPage;
    case BlockKind::Crossfade: return CrossFadePage;
    case BlockKind::Fade: return FadePage;
    case BlockKind::Zoom:
    case BlockKind::Slide:
    case BlockKind::Focus: return ActionPage;
    case BlockKind::Mix: return MixPage;
    case BlockKind::Series:
    case BlockKind::Main: return SeriesPage;
    case BlockKind::Cut:
    case BlockKind::Alpha:
    case BlockKind::Shade: return AlphaPage;
    case BlockKind::Rotate: return RotatePage;
    case BlockKind::Shake:
    case BlockKind::Expand: return ExpandPage;
    case BlockKind::Mosaic: return MosaicPage;
    default: return UnImplementedPage;  // DRAW, ACTION, FILM
    }
}

// The reader sets usesAudioLink when it reads an ALINK_VOLUME_ALPHA input; a page that ticks or
// clears one must leave the flag as reading the saved file would, so that linking refuses a
// volume link without a song before the file is written.
void updateAudioLink(Scenario &scenario)
{
    bool uses = false;
    for (const auto &block : scenario.blocks)
        for (const auto &input : block->inputs)
            uses = uses || input->linkVolumeAlpha;
    scenario.usesAudioLink = uses;
}

} // namespace

CSceneProp::CSceneProp(EditorServices services, QWidget *parent)
    : QWidget(parent), m_services(std::move(services))
{
    setAccessibleName(QStringLiteral("ブロックのプロパティ"));
    setMinimumSize(CSceneVirtual::PageWidth, CSceneVirtual::PageHeight);
    m_pages.resize(PageCount);
    m_pages[ImagePage] = new CImageProp(m_services, this);
    m_pages[TextPage] = new CTextProp(m_services, this);
    m_pages[StillPage] = new CStillProp(m_services, this);
    m_pages[CrossFadePage] = new CCrossFadeProp(m_services, this);
    m_pages[FadePage] = new CFadeProp(m_services, this);
    m_pages[ActionPage] = new CActionProp(m_services, this);
    m_pages[MixPage] = new CMixProp(m_services, this);
    m_pages[SeriesPage] = new CSeriesProp(m_services, this);
    m_pages[AlphaPage] = new CAlphaProp(m_services, this);
    m_pages[RotatePage] = new CRotateProp(m_services, this);
    m_pages[ExpandPage] = new CExpandProp(m_services, this);
    m_pages[MosaicPage] = new CMosaicProp(m_services, this);
    m_pages[UnImplementedPage] = new CUnImplementedProp(m_services, this);
    for (CSceneVirtual *page : m_pages) {
        page->move(0, 0);
        page->hide();
        connect(page, &CSceneVirtual::applyRequested, this, [this] { applyCurrentPage(); });
    }
}

CSceneProp::~CSceneProp() = default;

CSceneVirtual *CSceneProp::pageFor(BlockKind kind) const
{
    return m_pages[slotFor(kind)];
}

void CSceneProp::showBlock(Block *block)
{
    for (CSceneVirtual *page : m_pages)
        page->hide();
    m_block = block;
    m_current = nullptr;
    if (!block)
        return;
    m_current = pageFor(block->kind);
    m_current->load(block);
    m_current->show();
}

int32_t CSceneProp::applyCurrentPage()
{
    CSceneVirtual *page = m_current;
    Block *live = m_block;
    if (!page || !live)
        return -1;
    Scenario *scenario = live->scenario;
    Prompter *prompter = m_services.prompter ? m_services.prompter
                                             : scenario ? scenario->prompter : nullptr;
    auto fail = [prompter](const char *message) {
        if (prompter)
            prompter->showError(message);
        return -1;
    };
    // Typed texts become scenario bytes first: a character Shift-JIS cannot hold stops the
    // apply before anything is touched.
    if (!page->prepare())
        return -1;
    if (!scenario)
        return fail("シナリオのコピー処理に失敗しました。");
    const std::unique_ptr<Scenario> copy = Scenario::copyOf(*scenario);
    if (!copy)
        return fail("シナリオのコピー処理に失敗しました。");
    Block *trial = copy->findBlock(live->name.value_or(SjisString()));
    if (!trial || trial->kind != live->kind)
        return fail("シーンの検索処理に失敗しました。");
    page->apply(*trial);
    updateAudioLink(*copy);
    // Linking shows its own message through the scenario's prompter; the live scenario has not
    // been touched yet.
    if (link(*copy) != 0)
        return -1;

    emit aboutToChangeScenario();
    page->apply(*live);
    updateAudioLink(*scenario);
    const int32_t linked = link(*scenario);
    // Every kept picture was made from the old values.
    scenario->dropCaches();
    page->load(live);
    emit scenarioChanged();
    return linked == 0 ? 0 : -1;
}

void connectEditorPanels(CScenarioDialog &tree, CSceneProp &host)
{
    QObject::connect(&tree, &CScenarioDialog::blockSelected, &host, &CSceneProp::showBlock);
    QObject::connect(&host, &CSceneProp::scenarioChanged, &tree, &CScenarioDialog::rebuildRangeTable);
}

void CSceneProp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(0, 0, CSceneVirtual::PageWidth, CSceneVirtual::PageHeight, Qt::black);
}

} // namespace vorn
