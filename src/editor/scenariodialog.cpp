// The tree panel: lazily made items, pre-order indices from subtree sizes, and range entries.
#include "editor/scenariodialog.h"
#include "base/saturate.h"

#include "editor/editoricons.h"
#include "scenario/model/block.h"
#include "scenario/model/blockinput.h"
#include "scenario/model/scenario.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace vorn {

namespace {

enum ItemRole : int {
    IndexRole = Qt::UserRole,      // qint64: the item's range-table index (pre-order)
    StartRole,                     // qint64: first frame
    InputRole,                     // quintptr: the BlockInput the item shows
    NameRole,                      // QByteArray: the block's name bytes
    PopulatedRole,                 // bool: children made
    ExpandedRole,                  // int: the entry's expanded flag
};

constexpr int64_t Saturated = std::numeric_limits<int64_t>::max();

int64_t addSaturating(int64_t a, int64_t b)
{
    return a > Saturated - b ? Saturated : a + b;
}

int32_t toFrame(int64_t frame)
{
    return clampToInt32(frame);
}

BlockInput *inputOf(const QTreeWidgetItem *item)
{
    return reinterpret_cast<BlockInput *>(item->data(0, InputRole).value<quintptr>());
}

// Child positions from the top item down: how an item is found again after a rebuild.
std::vector<int> pathOf(const QTreeWidgetItem *item)
{
    std::vector<int> path;
    for (; item->parent(); item = item->parent())
        path.push_back(item->parent()->indexOfChild(const_cast<QTreeWidgetItem *>(item)));
    std::reverse(path.begin(), path.end());
    return path;
}

} // namespace

CScenarioDialog::CScenarioDialog(QWidget *parent) : QWidget(parent)
{
    qRegisterMetaType<vorn::Block *>();
    setAccessibleName(QStringLiteral("シナリオツリー"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tree = new QTreeWidget;
    m_tree->setAccessibleName(QStringLiteral("ブロック"));
    m_tree->setColumnCount(1);
    m_tree->header()->hide();
    m_tree->setUniformRowHeights(true);
    m_tree->setIconSize(QSize(16, 16));
    layout->addWidget(m_tree);
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { onCurrentItemChanged(current); });
    connect(m_tree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem *item) {
        populate(item);
        toggleExpanded(item);
    });
    connect(m_tree, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem *item) { toggleExpanded(item); });
}

CScenarioDialog::~CScenarioDialog() = default;

void CScenarioDialog::setScenario(Scenario *scenario)
{
    m_scenario = scenario;
    m_selected = -1;
    rebuildTree();
    // The entries are made with their items; nothing is selected, so nothing is posted.
}

void CScenarioDialog::rebuildTree()
{
    m_rebuilding = true;
    m_tree->clear();
    m_items.clear();
    m_sizes.clear();
    m_rebuilding = false;
    if (m_scenario && m_scenario->mainInput.block)
        addItem(&m_scenario->mainInput, nullptr, 0, 0);
}

void CScenarioDialog::rebuildRangeTable()
{
    std::vector<std::vector<int>> expanded;
    for (const auto &[index, item] : m_items)
        if (item->isExpanded())
            expanded.push_back(pathOf(item));
    // Parents before children, so that each path's items exist when it is opened.
    std::sort(expanded.begin(), expanded.end(),
              [](const auto &a, const auto &b) { return a.size() < b.size(); });
    std::optional<std::vector<int>> selected;
    if (QTreeWidgetItem *item = itemAt(m_selected))
        selected = pathOf(item);

    auto find = [this](const std::vector<int> &path) -> QTreeWidgetItem * {
        QTreeWidgetItem *item = m_tree->topLevelItem(0);
        for (int position : path) {
            if (!item)
                return nullptr;
            populate(item);
            item = item->child(position);
        }
        return item;
    };

    m_rebuilding = true;
    rebuildTree();
    m_rebuilding = true;
    for (const auto &path : expanded)
        if (QTreeWidgetItem *item = find(path)) {
            populate(item);
            item->setExpanded(true);
            item->setData(0, ExpandedRole, 1);
        }
    m_selected = -1;
    QTreeWidgetItem *again = selected ? find(*selected) : nullptr;
    if (again) {
        m_tree->setCurrentItem(again);
        m_selected = indexOf(again);
    }
    m_rebuilding = false;
    if (again) {
        const RangeEntry entry = entryOf(again);
        emit rangeSelected(toFrame(entry.first), toFrame(entry.last));
    }
}

QTreeWidgetItem *CScenarioDialog::addItem(BlockInput *input, QTreeWidgetItem *parent, int64_t index,
                                          int64_t start)
{
    Block *block = input->block;
    const SjisString name = block->name.value_or(SjisString());
    auto *item = new QTreeWidgetItem;
    // The MAIN block's name is one blank; the tree calls it MAIN.
    item->setText(0, name == " " ? QStringLiteral("MAIN") : QString::fromStdString(sjisToUtf8(name)));
    item->setIcon(0, blockIcon(kindCode(block->kind)));
    item->setData(0, IndexRole, qint64(index));
    item->setData(0, StartRole, qint64(start));
    item->setData(0, InputRole, quintptr(input));
    item->setData(0, NameRole, QByteArray(name.data(), qsizetype(name.size())));
    item->setData(0, PopulatedRole, false);
    item->setData(0, ExpandedRole, 0);
    const bool hasChildren = std::any_of(block->inputs.begin(), block->inputs.end(),
                                         [](const auto &in) { return in->block != nullptr; });
    item->setChildIndicatorPolicy(hasChildren ? QTreeWidgetItem::ShowIndicator
                                              : QTreeWidgetItem::DontShowIndicator);
    if (parent)
        parent->addChild(item);
    else
        m_tree->addTopLevelItem(item);
    m_items[index] = item;
    return item;
}

void CScenarioDialog::populate(QTreeWidgetItem *item)
{
    if (item->data(0, PopulatedRole).toBool())
        return;
    item->setData(0, PopulatedRole, true);
    Block *block = inputOf(item)->block;
    // A block sets its inputs' start offsets when it computes its length.
    block->frameCount();
    const int64_t start = item->data(0, StartRole).toLongLong();
    int64_t index = addSaturating(indexOf(item), 1);
    QList<QTreeWidgetItem *> children;
    for (const auto &input : block->inputs) {
        if (!input->block)
            continue;
        addItem(input.get(), item, index, addSaturating(start, std::max(input->startOffset, 0)));
        index = addSaturating(index, subtreeSize(input->block));
    }
}

int64_t CScenarioDialog::subtreeSize(const Block *block)
{
    const auto [it, inserted] = m_sizes.try_emplace(block, 0);
    if (!inserted)
        return it->second;  // known, or on the current path of an unlinked loop (0)
    int64_t size = 1;
    for (const auto &input : block->inputs)
        if (input->block)
            size = addSaturating(size, subtreeSize(input->block));
    m_sizes[block] = size;
    return size;
}

int64_t CScenarioDialog::totalItems()
{
    return m_scenario && m_scenario->mainInput.block ? subtreeSize(m_scenario->mainInput.block) : 0;
}

int64_t CScenarioDialog::indexOf(const QTreeWidgetItem *item)
{
    return item ? item->data(0, IndexRole).toLongLong() : -1;
}

CScenarioDialog::RangeEntry CScenarioDialog::entryOf(const QTreeWidgetItem *item) const
{
    RangeEntry entry;
    entry.first = item->data(0, StartRole).toLongLong();
    entry.last = addSaturating(entry.first, inputOf(item)->frameCount()) - 1;
    entry.expanded = item->data(0, ExpandedRole).toInt();
    return entry;
}

std::optional<CScenarioDialog::RangeEntry> CScenarioDialog::rangeEntry(int64_t index) const
{
    const QTreeWidgetItem *item = itemAt(index);
    if (!item)
        return std::nullopt;
    return entryOf(item);
}

QTreeWidgetItem *CScenarioDialog::itemAt(int64_t index) const
{
    const auto it = m_items.find(index);
    return it == m_items.end() ? nullptr : it->second;
}

void CScenarioDialog::onCurrentItemChanged(QTreeWidgetItem *current)
{
    if (m_rebuilding || !current)
        return;
    m_selected = indexOf(current);
    const RangeEntry entry = entryOf(current);
    emit rangeSelected(toFrame(entry.first), toFrame(entry.last));
    const QByteArray name = current->data(0, NameRole).toByteArray();
    emit blockSelected(m_scenario ? m_scenario->findBlock(std::string_view(name.constData(), size_t(name.size())))
                                  : nullptr);
}

void CScenarioDialog::toggleExpanded(QTreeWidgetItem *item)
{
    if (m_rebuilding)
        return;
    item->setData(0, ExpandedRole, item->data(0, ExpandedRole).toInt() == 1 ? 0 : 1);
}

} // namespace vorn
