// CScenarioDialog: the tree panel: the scenario's blocks from MAIN down through every input,
// the frame range of each tree item, and the selection that tells the main view which block
// and which frames to show.
#pragma once

#include <QWidget>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace vorn {

class Block;
class BlockInput;
class Scenario;

// Items are made when their parent is first expanded: a scenario whose blocks name the next
// one several times has exponentially many items, but only the expanded ones exist. Each item
// still carries the index it has in the pre-order numbering of the whole tree (derived from
// the sizes of the subtrees before it, kept per block and saturating), and its range entry is
// computed from the start offsets of its inputs when it is made.
class CScenarioDialog : public QWidget {
    Q_OBJECT

public:
    // One entry of the range table.
    struct RangeEntry {
        int64_t first = 0;
        int64_t last = -1;
        int expanded = 0;  // toggled on each expand and collapse
    };

    explicit CScenarioDialog(QWidget *parent = nullptr);
    ~CScenarioDialog() override;

    // The scenario to show (not owned; null for none). Clears the selection and rebuilds.
    void setScenario(Scenario *scenario);
    Scenario *scenario() const { return m_scenario; }
    // Deletes every item and makes the MAIN item again.
    void rebuildTree();
    // After the scenario changed (an apply): lengths and offsets are computed again and the
    // tree is rebuilt with the same items expanded and selected where they still exist; the
    // selected item's range is posted again.
    void rebuildRangeTable();

    QTreeWidget *tree() const { return m_tree; }
    // The range-table index of the selected item, -1 for none.
    int64_t selectedIndex() const { return m_selected; }
    // The entry of an item that exists; none for an index whose item has not been made.
    std::optional<RangeEntry> rangeEntry(int64_t index) const;
    QTreeWidgetItem *itemAt(int64_t index) const;
    // Items of the whole tree, made or not (saturating at INT64_MAX).
    int64_t totalItems();
    // Items made so far.
    size_t madeItems() const { return m_items.size(); }
    // Index and range of a made item.
    static int64_t indexOf(const QTreeWidgetItem *item);

signals:
    // VM_SELECT_RANGE: the selected block covers these frames (clamped to int32).
    void rangeSelected(int32_t firstFrame, int32_t lastFrame);
    // VM_SHOW_BLOCK: the block found by the selected item's name in the scenario, or null.
    void blockSelected(vorn::Block *block);

private:
    QTreeWidgetItem *addItem(BlockInput *input, QTreeWidgetItem *parent, int64_t index, int64_t start);
    void populate(QTreeWidgetItem *item);
    int64_t subtreeSize(const Block *block);
    RangeEntry entryOf(const QTreeWidgetItem *item) const;
    void onCurrentItemChanged(QTreeWidgetItem *current);
    void toggleExpanded(QTreeWidgetItem *item);

    QTreeWidget *m_tree = nullptr;
    Scenario *m_scenario = nullptr;
    int64_t m_selected = -1;
    std::unordered_map<int64_t, QTreeWidgetItem *> m_items;
    std::unordered_map<const Block *, int64_t> m_sizes;
    bool m_rebuilding = false;
};

} // namespace vorn

// The block of blockSelected travels through queued connections and signal spies.
Q_DECLARE_OPAQUE_POINTER(vorn::Block *)
Q_DECLARE_METATYPE(vorn::Block *)
