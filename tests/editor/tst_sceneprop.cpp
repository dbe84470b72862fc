// The property host and its pages: every page loads and applies the every-kind scenario
// unchanged; typed values are written as the save writes them; refused applies leave the live
// scenario as it was; applied values survive linking, saving and rendering; region pickers get
// the picture each page promises.
#include "editor/editoricons.h"
#include "editor/sceneprop.h"
#include "editor/scenevirtual.h"
#include "editor/inputlistpage.h"
#include "editor/regionselectdlg.h"
#include "editor/scenariodialog.h"
#include "editortest.h"

#include "scenario/model/blocks/rotate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>

#include <functional>

using namespace vorn;
using namespace vorn::test;

using Edit = std::function<void(CSceneVirtual &)>;
Q_DECLARE_METATYPE(Edit)

namespace {

template <typename W>
W *named(const QWidget &page, const QString &name)
{
    for (W *w : page.findChildren<W *>())
        if (w->accessibleName() == name)
            return w;
    return nullptr;
}

// Types into the edit boxes named, in order.
Edit type(QStringList names, QStringList texts)
{
    return [=](CSceneVirtual &page) {
        for (qsizetype i = 0; i < names.size(); ++i) {
            auto *edit = named<QLineEdit>(page, names[i]);
            QVERIFY2(edit, qPrintable(names[i]));
            edit->setText(texts[i]);
        }
    };
}

Edit typeRect(const QString &label, QStringList texts)
{
    return type({label + " 左", label + " 上", label + " 右", label + " 下"}, texts);
}

Edit click(QStringList names)
{
    return [=](CSceneVirtual &page) {
        for (const QString &name : names) {
            auto *button = named<QAbstractButton>(page, name);
            QVERIFY2(button, qPrintable(name));
            button->click();
        }
    };
}

Edit selectInput(int row, Edit then)
{
    return [=](CSceneVirtual &page) {
        static_cast<InputListPage &>(page).selectInput(row);
        then(page);
    };
}

Edit typeString(const QString &text)
{
    return [=](CSceneVirtual &page) { named<QPlainTextEdit>(page, "文字列")->setPlainText(text); };
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
        if (scenario)
            scenario->prompter = &prompter;
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

std::string sjis(const QString &text)
{
    return utf8ToSjis(text.toStdString()).value();
}

} // namespace

class TestSceneProp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initEditorIcons(); }
    void unchangedApplyKeepsEveryField_data();
    void unchangedApplyKeepsEveryField();
    void editsAreSaved_data();
    void editsAreSaved();
    void refusedApplyLeavesScenario_data();
    void refusedApplyLeavesScenario();
    void rotateCentreSurvivesLinkAndSave();
    void appliedEffectShowsInNextRender();
    void regionPickers_data();
    void regionPickers();
    void realRegionPicker();
    void screenshots();
};

void TestSceneProp::unchangedApplyKeepsEveryField_data()
{
    QTest::addColumn<QString>("block");
    RecordingPrompter prompter;
    const auto scenario = readScenario(testData("allkinds.txt"), prompter);
    QVERIFY(scenario);
    for (const auto &block : scenario->blocks)
        QTest::newRow(block->displayName().c_str()) << QString::fromStdString(*block->name);
}

void TestSceneProp::unchangedApplyKeepsEveryField()
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
    QCOMPARE(f.host->applyCurrentPage(), 0);
    QCOMPARE(f.prompter.errors.size(), size_t(0));
    QCOMPARE(writtenText(*f.scenario), before);
}

void TestSceneProp::editsAreSaved_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("gone");
    QTest::newRow("IMAGE effects and clipping") << "pic" << click({"ネガ", "セピア", "クリッピング"})
        << "\tNEGA\n" << "\tCLIP";
    QTest::newRow("IMAGE file from the file dialog") << "pic" << click({"ファイル名の選択"})
        << "\tFILE\t\t\"../scenario/allkinds.bmp\"" << "";
    QTest::newRow("TEXT alignment") << "caption" << click({"右"}) << "\tALIGN\t\tRIGHT" << "";
    QTest::newRow("TEXT string, and a face from the font dialog") << "caption"
        << Edit([](CSceneVirtual &p) { typeString("一行目\n二行目")(p); click({"フォント名の選択"})(p); })
        << "\tFONT\t\t\"IPAGothic\"\t8\t12\n\tSTRING\t\t\"一行目\"\n\tSTRING\t\t\"二行目\"\n" << "こんにちは";
    QTest::newRow("rectangle typed left > right is stored swapped") << "still"
        << selectInput(0, typeRect("矩形", {"50", "40", "10", "0"})) << "\"pic\"\t10\t0\t50\t40\tMAX_CUT" << "";
    QTest::newRow("STILL gap box cleared") << "still" << selectInput(0, click({"隙間なし"}))
        << "\"pic\"\t0\t0\t63\t47\n" << "";
    QTest::newRow("colour 300 is stored as 255") << "still" << type({"背景色 赤"}, {"300"})
        << "\tBGCOLOR\t\t255\t0\t0\n\tFRAMES\t\t10" << "";
    QTest::newRow("colour -5 is stored as 0") << "slide" << type({"背景色 青"}, {"-5"})
        << "\tBGCOLOR\t\t0\t0\t0\n\tFRAMES\t\t6\n}\n\nFOCUS" << "";
    QTest::newRow("CROSSFADE overlap") << "cross" << type({"フレーム数"}, {"2"}) << "\tFRAMES\t\t2\n" << "";
    QTest::newRow("FADE mode") << "fadein" << click({"INOUT"}) << "\"still\"\n\tINOUT\n" << "";
    QTest::newRow("ZOOM start is its source") << "zoom" << typeRect("開始矩形", {"1", "2", "3", "4"})
        << "\tSRC_START\t1\t2\t3\t4" << "";
    QTest::newRow("SLIDE end is its destination") << "slide" << typeRect("終了矩形", {"1", "2", "3", "4"})
        << "\tDST_END\t\t1\t2\t3\t4" << "";
    QTest::newRow("FOCUS start is its display") << "focus" << typeRect("開始矩形", {"1", "2", "3", "4"})
        << "\tDSP_START\t1\t2\t3\t4" << "";
    QTest::newRow("MIX offset of the second input") << "mix" << selectInput(1, type({"オフセット"}, {"7"}))
        << "\"zoom\"\t0\t0\t63\t47\tOFFSET\t7" << "";
    QTest::newRow("MIX offset below 0 is stored as 0") << "mix" << selectInput(0, type({"オフセット"}, {"-3"}))
        << "\"action\"\t0\t0\t31\t23\tOFFSET\t0" << "";
    QTest::newRow("MIX plain") << "mix" << click({"OR演算"}) << "\"zoom\"" << "\tOR\n";
    QTest::newRow("ROTATE input rectangle") << "rotate" << typeRect("矩形", {"1", "2", "30", "40"})
        << "\"frame\"\t1\t2\t30\t40" << "";
    QTest::newRow("CUT skip") << "cut" << type({"スキップ"}, {"3"}) << "\tSKIP\t\t3" << "";
    QTest::newRow("ALPHA end") << "alpha" << type({"終了"}, {"128"}) << "\tEND\t\t128" << "";
    QTest::newRow("SHADE start") << "shade" << type({"開始"}, {"2"}) << "\"cut\"\n\tSTART\t\t2" << "";
    QTest::newRow("EXPAND direction") << "expand" << click({"右"}) << "\tIN\n\tRIGHT\n" << "";
    QTest::newRow("MOSAIC end given survives linking") << "mosaic" << typeRect("終了矩形", {"1", "1", "20", "20"})
        << "\tTGT_END\t\t1\t1\t20\t20" << "";
    QTest::newRow("MOSAIC sizes") << "mosaic" << type({"開始サイズ", "終了サイズ"}, {"2", "9"})
        << "\tSIZE_START\t2\n\tSIZE_END\t9" << "";
}

void TestSceneProp::editsAreSaved()
{
    QFETCH(QString, block);
    QFETCH(Edit, edit);
    QFETCH(QString, written);
    QFETCH(QString, gone);
    Fixture f;
    QVERIFY(f.scenario);
    QSignalSpy changed(f.host.get(), &CSceneProp::scenarioChanged);
    edit(f.show(block));
    QCOMPARE(f.host->applyCurrentPage(), 0);
    QVERIFY2(f.prompter.errors.empty(), f.prompter.lastError().c_str());
    QCOMPARE(changed.count(), 1);
    const std::string text = writtenText(*f.scenario);
    QVERIFY2(text.find(sjis(written)) != std::string::npos, text.c_str());
    if (!gone.isEmpty())
        QVERIFY2(text.find(sjis(gone)) == std::string::npos, text.c_str());
}

void TestSceneProp::refusedApplyLeavesScenario_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QString>("message");
    QTest::newRow("CROSSFADE longer than its inputs: linking's own message") << "cross"
        << type({"フレーム数"}, {"50"})
        << "ブロック cross では、入力ブロック fadein に対して不正な対象フレーム数が指定されています。";
    QTest::newRow("input naming no block") << "fadein" << type({"入力"}, {"nothing"})
        << "シナリオ読み込み時にエラーが発生しました。\nシーン nothing は定義されていません。";
    QTest::newRow("volume link without a song") << " " << selectInput(0, click({"ボリューム連携"}))
        << "シナリオ読み込み時にエラーが発生しました。\n音楽連動機能を利用するには、音楽ファイルを指定して下さい。";
    QTest::newRow("a character Shift-JIS cannot hold") << "caption" << typeString("絵文字😀")
        << "「文字列」に Shift-JIS で表せない文字が含まれています。適用しませんでした。";
    QTest::newRow("a file name Shift-JIS cannot hold") << "pic" << type({"ファイル名"}, {"pic😀.bmp"})
        << "「ファイル名」に Shift-JIS で表せない文字が含まれています。適用しませんでした。";
}

void TestSceneProp::refusedApplyLeavesScenario()
{
    QFETCH(QString, block);
    QFETCH(Edit, edit);
    QFETCH(QString, message);
    Fixture f;
    QVERIFY(f.scenario);
    const std::string before = writtenText(*f.scenario);
    const int32_t total = f.scenario->totalFrames;
    QSignalSpy touching(f.host.get(), &CSceneProp::aboutToChangeScenario);
    edit(f.show(block));
    QCOMPARE(f.host->applyCurrentPage(), -1);
    QCOMPARE(f.prompter.errors, std::vector<std::string>{message.toStdString()});
    QCOMPARE(touching.count(), 0);
    QCOMPARE(writtenText(*f.scenario), before);
    QCOMPARE(f.scenario->totalFrames, total);
}

void TestSceneProp::rotateCentreSurvivesLinkAndSave()
{
    QTemporaryDir dir;
    RecordingPrompter prompter;
    Fixture f(scenarioFromText(dir, "SCREEN 64 48\nDRAW \"d\" { SIZE 8 8 }\n"
                                    "ROTATE \"r\" { INPUT \"d\" FRAMES 4 }\nMAIN { INPUT \"r\" }\n", prompter));
    QVERIFY(f.scenario);
    auto *rotate = static_cast<RotateBlock *>(f.scenario->findBlock("r"));
    QCOMPARE(rotate->centerX, 32);
    type({"中心X", "中心Y"}, {"10", "20"})(f.show("r"));
    QCOMPARE(f.host->applyCurrentPage(), 0);
    QCOMPARE(rotate->centerX, 10);
    QCOMPARE(rotate->centerY, 20);
    const std::filesystem::path saved = dir.filePath("saved.txt").toStdString();
    QCOMPARE(writeScenario(*f.scenario, saved), 0);
    const auto again = readScenario(saved, prompter);
    QVERIFY2(again, prompter.lastError().c_str());
    auto *read = static_cast<RotateBlock *>(again->findBlock("r"));
    QCOMPARE(read->centerX, 10);
    QCOMPARE(read->centerY, 20);
}

void TestSceneProp::appliedEffectShowsInNextRender()
{
    QTemporaryDir dir;
    RecordingPrompter prompter;
    const std::string bmp = testData("allkinds.bmp").string();
    Fixture f(scenarioFromText(dir, "SCREEN 8 8\nIMAGE \"pic\" { FILE \"" + bmp + "\" }\n"
                                    "STILL \"s\" { INPUT \"pic\" FRAMES 3 }\nMAIN { INPUT \"s\" }\n", prompter));
    QVERIFY2(f.scenario, prompter.lastError().c_str());
    auto pixel = [&](int x, int y) {
        ImageBuffer *image = f.scenario->render(1);
        const std::array<int, 3> rgb{GetChannel(*image, x, y, 0), GetChannel(*image, x, y, 1),
                                     GetChannel(*image, x, y, 2)};
        f.scenario->release(image, 1);
        return rgb;
    };
    const auto before = pixel(3, 4);
    QSignalSpy touching(f.host.get(), &CSceneProp::aboutToChangeScenario);
    click({"ネガ"})(f.show("pic"));
    QCOMPARE(f.host->applyCurrentPage(), 0);
    QCOMPARE(touching.count(), 1);
    const auto after = pixel(3, 4);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(after[size_t(c)], 255 - before[size_t(c)]);
}

void TestSceneProp::regionPickers_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<Edit>("open");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("clamp");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QRect>("current");
    QTest::addColumn<QRect>("reference");  // null: none
    QTest::newRow("IMAGE clipping on its file") << "pic" << click({"範囲の選択"}) << "範囲" << 1
        << QSize(8, 8) << QRect(QPoint(0, 0), QPoint(7, 7)) << QRect();
    QTest::newRow("STILL input on a blank screen") << "still" << selectInput(0, click({"矩形の選択"}))
        << "矩形" << 3 << QSize(64, 48) << QRect(QPoint(0, 0), QPoint(63, 47)) << QRect();
    QTest::newRow("ZOOM start on its input's first frame") << "zoom" << click({"開始矩形の選択"})
        << "開始矩形" << 1 << QSize(64, 16) << QRect(QPoint(0, 0), QPoint(63, 15))
        << QRect(QPoint(0, 0), QPoint(31, 7));
    QTest::newRow("SLIDE end on a blank screen") << "slide" << click({"終了矩形の選択"}) << "終了矩形" << 2
        << QSize(64, 48) << QRect(QPoint(8, 8), QPoint(55, 39)) << QRect(QPoint(0, 0), QPoint(63, 47));
    QTest::newRow("MOSAIC start on its input's first frame") << "mosaic" << click({"開始矩形の選択"})
        << "開始矩形" << 1 << QSize(64, 48) << QRect(QPoint(0, 0), QPoint(31, 23))
        << QRect(QPoint(0, 0), QPoint(63, 47));
}

void TestSceneProp::regionPickers()
{
    QFETCH(QString, block);
    QFETCH(Edit, open);
    QFETCH(QString, field);
    QFETCH(int, clamp);
    QFETCH(QSize, picture);
    QFETCH(QRect, current);
    QFETCH(QRect, reference);
    Fixture f;
    QVERIFY(f.scenario);
    CSceneVirtual &page = f.show(block);
    open(page);
    QCOMPARE(f.requests.size(), size_t(1));
    const RegionRequest &r = f.requests.front();
    QCOMPARE(r.clampFlag, clamp);
    QVERIFY(f.pictures.front());
    QCOMPARE(QSize(f.pictures.front()->width, f.pictures.front()->height), picture);
    auto qrect = [](const Rect &x) { return QRect(QPoint(x.left, x.top), QPoint(x.right, x.bottom)); };
    QCOMPARE(qrect(r.current), current);
    QCOMPARE(r.reference.has_value(), !reference.isNull());
    if (r.reference)
        QCOMPARE(qrect(*r.reference), reference);
    QCOMPARE(named<QLineEdit>(page, field + " 左")->text(), QString("5"));
    QCOMPARE(named<QLineEdit>(page, field + " 下")->text(), QString("8"));
    QCOMPARE(f.prompter.errors.size(), size_t(0));
}

// Without a picker of its own the page opens the region dialog; its OK gives the typed
// rectangle, ordered.
void TestSceneProp::realRegionPicker()
{
    Fixture f(nullptr, true);
    QVERIFY(f.scenario);
    CSceneVirtual &page = f.show("pic");
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<CRegionSelectDlg *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        seen = true;
        QCOMPARE(dialog->edit(CRegionSelectDlg::Right)->text(), QString("7"));
        dialog->edit(CRegionSelectDlg::Left)->setText("6");
        dialog->edit(CRegionSelectDlg::Right)->setText("2");
        dialog->okButton()->click();
    });
    click({"範囲の選択"})(page);
    QVERIFY(seen);
    QCOMPARE(named<QLineEdit>(page, "範囲 左")->text(), QString("2"));
    QCOMPARE(named<QLineEdit>(page, "範囲 右")->text(), QString("6"));
}

// Pictures of the tree beside each page, for looking at: only with VORN_EDITOR_SHOTS=dir.
void TestSceneProp::screenshots()
{
    const QString out = qEnvironmentVariable("VORN_EDITOR_SHOTS");
    if (out.isEmpty())
        QSKIP("set VORN_EDITOR_SHOTS to a directory to save pictures");
    Fixture f;
    QVERIFY(f.scenario);
    QWidget window;
    window.resize(520, 380);
    CScenarioDialog tree(&window);
    tree.setGeometry(0, 0, 260, 380);
    f.host->setParent(&window);
    f.host->setGeometry(265, 0, 250, 360);
    connectEditorPanels(tree, *f.host);
    tree.setScenario(f.scenario.get());
    window.show();
    tree.tree()->expandAll();
    QSet<QString> shot;
    for (QTreeWidgetItem *item : tree.tree()->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive)) {
        if (shot.contains(item->text(0)))
            continue;  // one picture per block
        shot.insert(item->text(0));
        tree.tree()->setCurrentItem(item);
        tree.tree()->scrollToItem(item);
        if (auto *list = f.host->currentPage()->findChild<QListWidget *>())
            if (list->count() > 0)
                static_cast<InputListPage *>(f.host->currentPage())->selectInput(0);
        QCoreApplication::processEvents();
        window.grab().save(out + "/editor-" + item->text(0) + ".png");
    }
    f.host->setParent(nullptr);
}

QTEST_MAIN(TestSceneProp)
#include "tst_sceneprop.moc"
