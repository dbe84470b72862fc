// The property host and its pages: every page loads and applies the every-kind scenario
// unchanged; typed values are written as the save writes them; refused applies leave the live
// scenario as it was; an apply first lets the preview go of the scenario, and its values survive
// linking and saving; region pickers get the picture each page promises.
#include "editor/editoricons.h"
#include "editor/sceneprop.h"
#include "editor/inputlistpage.h"
#include "editor/regionselectdlg.h"
#include "editortest.h"
#include "tablerows.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QApplication>
#include <QTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>

using namespace vorn;
using namespace vorn::test;

namespace {

// Carries out a row's steps (see data/pages.tsv) on a page.
void perform(CSceneVirtual &page, const QString &steps)
{
    for (const QString &step : steps.split(QStringLiteral("; "))) {
        const QString verb = step.section(u' ', 0, 0);
        const QString rest = step.section(u' ', 1);
        if (verb == QStringLiteral("input"))
            static_cast<InputListPage &>(page).selectInput(rest.toInt());
        else if (verb == QStringLiteral("string"))
            named<QPlainTextEdit>(page, QStringLiteral("文字列"))->setPlainText(rest);
        else if (verb == QStringLiteral("click"))
            for (const QString &name : rest.split(QStringLiteral(", "))) {
                auto *button = named<QAbstractButton>(page, name);
                QVERIFY2(button && button->isVisibleTo(&page), qPrintable(name));  // as a user sees it
                button->click();
            }
        else
            for (const QString &item : rest.split(QStringLiteral(", "))) {
                const QString name = item.section(u'=', 0, 0);
                const QStringList texts = item.section(u'=', 1).split(verb == QStringLiteral("rect") ? u' ' : u'\n');
                for (qsizetype i = 0; i < texts.size(); ++i) {  // a rectangle's boxes: left, top, right, bottom
                    const QString box = texts.size() == 1 ? name : name + u' ' + QStringLiteral("左上右下").at(i);
                    auto *edit = named<QLineEdit>(page, box);
                    QVERIFY2(edit, qPrintable(box));
                    edit->setText(texts[i]);
                }
            }
    }
}

// The every-kind scenario, read and shown in a host whose messages are recorded.
struct Fixture {
    RecordingPrompter prompter;
    std::unique_ptr<Scenario> scenario;
    std::unique_ptr<CSceneProp> host;
    std::vector<RegionRequest> requests;  // what the region picker was given
    std::vector<ImagePtr> pictures;       // copies of the pictures it was given

    explicit Fixture(std::unique_ptr<Scenario> s = nullptr, bool realPicker = false)
    {
        scenario = s ? std::move(s) : readScenario(testData("allkinds.txt"), prompter);
        EditorServices services;
        services.prompter = &prompter;
        if (!realPicker)
            services.pickRegion = [this](QWidget *, const RegionRequest &request) {
            requests.push_back(request);
            pictures.push_back(CopyImage(request.picture));
            return std::optional<Rect>(Rect{5, 6, 7, 8});
        };
        services.chooseImageFile = [](QWidget *) { return std::optional<QString>("../scenario/allkinds.bmp"); };
        services.chooseFont = [](QWidget *, const QString &) { return std::optional<QString>("IPAGothic"); };
        host = std::make_unique<CSceneProp>(services);
    }
    CSceneVirtual &show(const QString &name)
    {
        host->showBlock(scenario->findBlock(name.toStdString()));
        return *host->currentPage();
    }
};

std::string sjis(const QString &text) { return utf8ToSjis(text.toStdString()).value(); }

} // namespace

class TestSceneProp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initEditorIcons(); }

    void unchangedApplyKeepsEveryField_data()
    {
        QTest::addColumn<QString>("block");
        RecordingPrompter prompter;
        const auto scenario = readScenario(testData("allkinds.txt"), prompter);
        QVERIFY(scenario);
        for (const auto &block : scenario->blocks)
            QTest::newRow(block->displayName().c_str()) << QString::fromStdString(*block->name);
    }

    void unchangedApplyKeepsEveryField()
    {
        QFETCH(QString, block);
        Fixture f;
        QVERIFY(f.scenario);
        const std::string before = writtenText(*f.scenario);
        CSceneVirtual &page = f.show(block);
        QVERIFY(page.isVisibleTo(f.host.get()));
        // Every control can be found by a screen reader, under its label without a mnemonic mark.
        for (QWidget *w : page.findChildren<QWidget *>())
            if (qobject_cast<QLineEdit *>(w) || qobject_cast<QAbstractButton *>(w) ||
                qobject_cast<QListWidget *>(w) || qobject_cast<QPlainTextEdit *>(w))
                QVERIFY2(!w->accessibleName().isEmpty() && !w->accessibleName().contains('&'),
                         qPrintable(w->metaObject()->className() + QString(" ") + w->accessibleName()));
        // An input list's per-input controls follow the choice of an input.
        if (auto *list = dynamic_cast<InputListPage *>(&page); list && list->inputList()->count() > 0) {
            auto *pick = named<QAbstractButton>(page, QStringLiteral("矩形の選択"));
            for (int row : {0, -1}) {
                list->inputList()->setCurrentRow(row);
                QVERIFY(!pick || pick->isEnabled() == (row == 0));
            }
        }
        QCOMPARE(f.host->applyCurrentPage(), 0);
        QCOMPARE(f.prompter.errors.size(), size_t(0));
        QCOMPARE(writtenText(*f.scenario), before);
    }

    // A saved row's text is found in what the save writes (and its last cell, if any, no more);
    // a refused row says its message and leaves the live scenario as it was.
    void apply_data() { addRows("pages.tsv", {QStringLiteral("saved"), QStringLiteral("refused")}, 2); }
    void apply()
    {
        QFETCH(QStringList, row);
        const bool saved = row[0] == QStringLiteral("saved");
        Fixture f;
        QVERIFY(f.scenario);
        const std::string before = writtenText(*f.scenario);
        const int32_t total = f.scenario->totalFrames;
        QSignalSpy touching(f.host.get(), &CSceneProp::aboutToChangeScenario);
        QSignalSpy changed(f.host.get(), &CSceneProp::scenarioChanged);
        perform(f.show(row[1] == QStringLiteral("-") ? QStringLiteral(" ") : row[1]), row[2]);
        QCOMPARE(f.host->applyCurrentPage(), saved ? 0 : -1);
        QCOMPARE(touching.count(), saved ? 1 : 0);  // the preview lets go of the scenario first
        QCOMPARE(changed.count(), touching.count());
        const std::string text = writtenText(*f.scenario);
        if (!saved) {
            QCOMPARE(f.prompter.errors, std::vector<std::string>{row[3].toStdString()});
            QCOMPARE(text, before);
            QCOMPARE(f.scenario->totalFrames, total);
            return;
        }
        QVERIFY2(f.prompter.errors.empty(), f.prompter.lastError().c_str());
        QVERIFY2(text.find(sjis(row[3])) != std::string::npos, text.c_str());
        if (!row.value(4).isEmpty())
            QVERIFY2(text.find(sjis(row[4])) == std::string::npos, text.c_str());
    }

    // A centre typed for a ROTATE that had none (here only its Y, the X as shown) is kept by the
    // link and written by the save.
    void rotateCentreSurvivesLinkAndSave()
    {
        QTemporaryDir dir;
        RecordingPrompter prompter;
        Fixture f(scenarioFromText(dir, "SCREEN 64 48\nDRAW \"d\" { SIZE 8 8 }\n"
                                        "ROTATE \"r\" { INPUT \"d\" FRAMES 4 }\nMAIN { INPUT \"r\" }\n", prompter));
        QVERIFY(f.scenario);
        QVERIFY(writtenText(*f.scenario).find("CENTER") == std::string::npos);
        perform(f.show("r"), "type 中心Y=20");
        QCOMPARE(f.host->applyCurrentPage(), 0);
        QVERIFY(writtenText(*f.scenario).find("\tCENTER\t\t32\t20\n") != std::string::npos);
    }

    void regionPickers_data() { addRows("pages.tsv", {QStringLiteral("picker")}, 2); }
    void regionPickers()
    {
        QFETCH(QStringList, row);
        row.removeFirst();
        Fixture f;
        QVERIFY(f.scenario);
        CSceneVirtual &page = f.show(row[0]);
        perform(page, row[1]);
        QVERIFY(f.requests.size() == 1 && f.pictures.front());
        const RegionRequest &r = f.requests.front();
        auto text = [](const Rect &x) { return QStringLiteral("%1 %2 %3 %4").arg(x.left).arg(x.top).arg(x.right).arg(x.bottom); };
        const QString size = QStringLiteral("%1 %2").arg(f.pictures.front()->width).arg(f.pictures.front()->height);
        QCOMPARE(QStringList({QString::number(r.clampFlag), size, text(r.current),
                              r.reference ? text(*r.reference) : QStringLiteral("-")}),
                 row.mid(3, 4));
        QCOMPARE(named<QLineEdit>(page, row[2] + " 左")->text() + u' ' + named<QLineEdit>(page, row[2] + " 下")->text(),
                 QString("5 8"));
        QCOMPARE(f.prompter.errors.size(), size_t(0));
    }

    // Without a picker of its own the page opens the region dialog; its OK gives the typed
    // rectangle, ordered. The real file dialog's Cancel gives no file.
    void realRegionPicker()
    {
        Fixture f(nullptr, true);
        QVERIFY(f.scenario);
        CSceneVirtual &page = f.show("pic");
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<CRegionSelectDlg *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->edit(CRegionSelectDlg::Right)->text(), QString("7"));
            dialog->edit(CRegionSelectDlg::Left)->setText("6");
            dialog->edit(CRegionSelectDlg::Right)->setText("2");
            dialog->okButton()->click();
        });
        perform(page, "click 範囲の選択");
        QCOMPARE(named<QLineEdit>(page, "範囲 左")->text() + u' ' + named<QLineEdit>(page, "範囲 右")->text(), QString("2 6"));
        // The file dialog cancelled gives no file, even with one selected in it.
        QTimer::singleShot(0, [] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                dialog->selectFile(QString::fromStdString(testData("allkinds.bmp").string()));
                dialog->reject();
            }
        });
        QCOMPARE(chooseImageFileWithDialog(nullptr), std::nullopt);
    }
};

QTEST_MAIN(TestSceneProp)
#include "tst_sceneprop.moc"
