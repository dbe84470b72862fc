// The tree panel: items and their pre-order indices, range entries, the selection's messages,
// lazy items of a doubling scenario, and the range table after a change.
#include "editor/editoricons.h"
#include "editor/scenariodialog.h"
#include "editor/sceneprop.h"
#include "editor/scenevirtual.h"
#include "editortest.h"

#include "scenario/model/block.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTreeWidget>

using namespace vorn;
using namespace vorn::test;

Q_DECLARE_METATYPE(std::vector<int>)

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

    void selection_data()
    {
        QTest::addColumn<std::vector<int>>("path");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("index");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("MAIN looks up the blank name, whole length") << std::vector<int>{} << "MAIN" << qint64(0) << 0 << 12;
        QTest::newRow("first input") << std::vector<int>{0} << "b" << qint64(1) << 0 << 2;
        QTest::newRow("series after it") << std::vector<int>{1} << "s" << qint64(3) << 3 << 12;
        QTest::newRow("first of two inputs naming a") << std::vector<int>{1, 0} << "a" << qint64(4) << 3 << 7;
        QTest::newRow("second of two inputs naming a") << std::vector<int>{1, 1} << "a" << qint64(6) << 8 << 12;
        QTest::newRow("source below the second a") << std::vector<int>{1, 1, 0} << "d" << qint64(7) << 8 << 7;
    }

    void selection()
    {
        QFETCH(std::vector<int>, path);
        QFETCH(QString, text);
        QFETCH(qint64, index);
        QFETCH(int, first);
        QFETCH(int, last);
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
        QCOMPARE(item->text(0), text);
        QCOMPARE(CScenarioDialog::indexOf(item), index);
        panel.tree()->setCurrentItem(item);
        QCOMPARE(panel.selectedIndex(), index);
        QCOMPARE(ranges.count(), 1);
        QCOMPARE(ranges.at(0).at(0).toInt(), first);
        QCOMPARE(ranges.at(0).at(1).toInt(), last);
        const auto entry = panel.rangeEntry(index);
        QVERIFY(entry);
        QCOMPARE(entry->first, first);
        QCOMPARE(entry->last, last);
        QCOMPARE(blocks.count(), 1);
        const std::string name = text == "MAIN" ? " " : text.toStdString();
        QCOMPARE(blocks.at(0).at(0).value<Block *>(), scenario->findBlock(name));
        QVERIFY(blocks.at(0).at(0).value<Block *>());
        if (path.empty())
            QCOMPARE(last, scenario->totalFrames - 1);
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
        for (QLineEdit *edit : host.currentPage()->findChildren<QLineEdit *>())
            if (edit->accessibleName() == "フレーム数")
                edit->setText("10");
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
