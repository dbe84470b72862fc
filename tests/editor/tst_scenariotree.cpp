// The tree panel: items and their pre-order indices, range entries, the selection's messages,
// lazy items of a doubling scenario, and the range table after a change.
#include "editor/editoricons.h"
#include "editor/scenariodialog.h"
#include "editor/sceneprop.h"
#include "editor/scenevirtual.h"
#include "editortest.h"
#include "tablerows.h"

#include "scenario/model/block.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTreeWidget>

using namespace vorn;
using namespace vorn::test;

namespace {

// MAIN 0, b 1, d 2, s 3, a 4, d 5, a 6, d 7: "s" names "a" twice.
const char *const TwiceText =
    "SCREEN 64 48\n"
    "DRAW \"d\" { SIZE 8 8 }\n"
    "STILL \"a\" { INPUT \"d\" FRAMES 5 }\n"
    "STILL \"b\" { INPUT \"d\" FRAMES 3 }\n"
    "SERIES \"s\" { INPUT \"a\" INPUT \"a\" }\n"
    "MAIN { INPUT \"b\" INPUT \"s\" }\n";

// Each level names the next one twice: l0 .. l39 are MIX blocks, l40 a STILL of a DRAW.
std::string doublingText(int levels)
{
    std::string text = "SCREEN 64 48\nDRAW \"d\" { SIZE 8 8 }\n";
    text += "STILL \"l" + std::to_string(levels) + "\" { INPUT \"d\" FRAMES 5 }\n";
    for (int k = levels - 1; k >= 0; --k) {
        const std::string next = "\"l" + std::to_string(k + 1) + "\"";
        text += "MIX \"l" + std::to_string(k) + "\" { INPUT " + next + " INPUT " + next + " }\n";
    }
    return text + "MAIN { INPUT \"l0\" }\n";
}

QTreeWidgetItem *expandTo(CScenarioDialog &panel, const std::vector<int> &path)
{
    QTreeWidgetItem *item = panel.tree()->topLevelItem(0);
    for (int position : path) {
        item->setExpanded(true);
        item = item->child(position);
        if (!item)
            return nullptr;
    }
    return item;
}

} // namespace

class TestScenarioTree : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initEditorIcons(); }

    void selection_data() { addRows("tree.tsv", {QStringLiteral("item")}); }
    void selection()
    {
        QFETCH(QStringList, row);
        std::vector<int> path;
        for (const QString &position : row[2].split(u' ', Qt::SkipEmptyParts))
            if (position != QStringLiteral("-"))
                path.push_back(position.toInt());
        QTemporaryDir dir;
        RecordingPrompter prompter;
        const auto scenario = scenarioFromText(dir, TwiceText, prompter);
        QVERIFY2(scenario, prompter.lastError().c_str());
        CScenarioDialog panel;
        panel.setScenario(scenario.get());
        QSignalSpy ranges(&panel, &CScenarioDialog::rangeSelected);
        QSignalSpy blocks(&panel, &CScenarioDialog::blockSelected);

        QTreeWidgetItem *item = expandTo(panel, path);
        QVERIFY(item);
        panel.tree()->setCurrentItem(item);
        const qint64 index = CScenarioDialog::indexOf(item);
        const auto entry = panel.rangeEntry(index);
        QVERIFY(entry && ranges.count() == 1 && blocks.count() == 1);
        const auto numbers = [](auto... n) { return QStringList{QString::number(n)...}.join(u' '); };
        // The item's own numbers, then the range the selection posts.
        QCOMPARE(QStringList({item->text(0), numbers(index, entry->first, entry->last),
                              numbers(panel.selectedIndex(), ranges.at(0).at(0).toInt(), ranges.at(0).at(1).toInt())}),
                 QStringList({row[3], row[4], row[4]}));
        const std::string name = row[3] == "MAIN" ? " " : row[3].toStdString();
        QVERIFY(scenario->findBlock(name) && blocks.at(0).at(0).value<Block *>() == scenario->findBlock(name));
    }

    void doublingScenarioIsLazy()
    {
        const int levels = 40;
        QTemporaryDir dir;
        RecordingPrompter prompter;
        const auto scenario = scenarioFromText(dir, doublingText(levels), prompter);
        QVERIFY2(scenario, prompter.lastError().c_str());
        CScenarioDialog panel;
        panel.setScenario(scenario.get());
        QCOMPARE(panel.madeItems(), size_t(1));
        // l_k's subtree holds 3 * 2^(levels - k) - 1 items (l_levels is a STILL over a DRAW).
        auto size = [&](int k) { return 3 * (int64_t(1) << (levels - k)) - 1; };
        QCOMPARE(panel.totalItems(), 1 + size(0));

        // Down the second input at every level: each one comes after its sibling's whole subtree.
        QTreeWidgetItem *item = expandTo(panel, {0});
        int64_t expected = 1;
        for (int k = 1; k <= levels; ++k) {
            item->setExpanded(true);
            QCOMPARE(panel.rangeEntry(CScenarioDialog::indexOf(item))->expanded, 1);
            item = item->child(1);
            expected += 1 + size(k);
            QCOMPARE(CScenarioDialog::indexOf(item), expected);
            QCOMPARE(item->text(0), QString("l%1").arg(k));
            QCOMPARE(panel.rangeEntry(expected)->last, 4);
        }
        QCOMPARE(panel.madeItems(), size_t(2 + 2 * levels));
        item->setExpanded(true);
        QCOMPARE(CScenarioDialog::indexOf(item->child(0)), expected + 1);
        QTreeWidgetItem *top = panel.tree()->topLevelItem(0);
        top->setExpanded(false);
        QCOMPARE(panel.rangeEntry(0)->expanded, 0);
        top->setExpanded(true);
        QCOMPARE(panel.rangeEntry(0)->expanded, 1);
    }

    // An apply through the property host rebuilds the ranges and posts the selected one again.
    void rangesFollowAChange()
    {
        QTemporaryDir dir;
        RecordingPrompter prompter;
        const auto scenario = scenarioFromText(dir, TwiceText, prompter);
        QVERIFY(scenario);
        CScenarioDialog panel;
        CSceneProp host;
        connectEditorPanels(panel, host);
        panel.setScenario(scenario.get());
        panel.tree()->setCurrentItem(expandTo(panel, {0}));
        QCOMPARE(host.block(), scenario->findBlock("b"));
        panel.tree()->setCurrentItem(expandTo(panel, {1, 1}));
        QSignalSpy ranges(&panel, &CScenarioDialog::rangeSelected);

        host.showBlock(scenario->findBlock("b"));
        named<QLineEdit>(*host.currentPage(), QStringLiteral("フレーム数"))->setText("10");
        QCOMPARE(host.applyCurrentPage(), 0);
        QCOMPARE(ranges.count(), 1);
        QCOMPARE(ranges.at(0).at(0).toInt(), 15);
        QCOMPARE(ranges.at(0).at(1).toInt(), 19);
        QCOMPARE(panel.selectedIndex(), 6);
        QVERIFY(panel.itemAt(6)->isSelected());
        QVERIFY(panel.itemAt(3)->isExpanded());
    }

    // Every kind shows the icon named after it, which draws; ACTION shows ZOOM's, MAIN SERIES's.
    void iconsDraw()
    {
        const QMap<QString, QString> shared{{"action", "zoom"}, {"main", "series"}};
        for (int64_t code = INT32_MIN; code < 0x3000; code = code < 0 ? 0 : code + 1) {
            const std::optional<BlockKind> kind = kindFromCode(int32_t(code));
            if (!kind)
                continue;
            const std::string_view keyword = kindKeyword(*kind);
            const QString name = QString::fromLatin1(keyword.data(), qsizetype(keyword.size())).toLower();
            const QString path = blockIconPath(blockIconIndex(int32_t(code)));
            QVERIFY2(path.endsWith(u'-' + shared.value(name, name) + ".svg"), qPrintable(name + ": " + path));
            QVERIFY2(!QIcon(path).pixmap(16, 16).isNull(), qPrintable(path));
        }
    }
};

QTEST_MAIN(TestScenarioTree)
#include "tst_scenariotree.moc"
