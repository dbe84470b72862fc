// CSceneProp: the property host: one page per block family, the page of the shown block, and
// the apply that tries a page's values on a scratch copy of the scenario before the live one.
#pragma once

#include "editor/editorservices.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

namespace vorn {

class Block;
class CScenarioDialog;
class CSceneVirtual;
enum class BlockKind : uint32_t;

class CSceneProp : public QWidget {
    Q_OBJECT

public:
    explicit CSceneProp(EditorServices services = {}, QWidget *parent = nullptr);
    ~CSceneProp() override;

    // The page that edits a kind (never null: kinds without their own page get the notice).
    CSceneVirtual *pageFor(BlockKind kind) const;
    // The visible page, or null when no block is shown.
    CSceneVirtual *currentPage() const { return m_current; }
    Block *block() const { return m_block; }
    // Every page, for tests and screenshots.
    const std::vector<CSceneVirtual *> &pages() const { return m_pages; }

    // Runs the apply of the shown page: the values are tried on a scratch copy of the block's
    // scenario and linked; only if that succeeds are they written into the live scenario, which
    // is linked again and loses every cached picture. 0, or -1 after a message (the live
    // scenario then is as it was).
    int32_t applyCurrentPage();

public slots:
    // Hides every page; shows the block's page loaded with it, when a block is given.
    void showBlock(vorn::Block *block);

signals:
    // Just before the live scenario is changed: whoever renders it must finish first (the
    // preview waits for its render and hands its pictures back). Connect directly.
    void aboutToChangeScenario();
    // The live scenario was changed by an apply: lengths, ranges and key frames may differ.
    void scenarioChanged();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    EditorServices m_services;
    std::vector<CSceneVirtual *> m_pages;
    CSceneVirtual *m_current = nullptr;
    Block *m_block = nullptr;
};

// The editor's own connections: the tree's selected block is shown by the host, and an apply
// rebuilds the tree's ranges (and posts the selected range again). The main view adds its own:
// rangeSelected, aboutToChangeScenario and scenarioChanged.
void connectEditorPanels(CScenarioDialog &tree, CSceneProp &host);

} // namespace vorn
