// The dialogs: property values, limits and refusals; the about box. (The output dialog and
// its copy are driven end to end.)
#include "app/aboutdialog.h"
#include "app/appicons.h"
#include "app/propertiesdialog.h"

#include "audio/audioclip.h"
#include "scenario/model/scenario.h"
#include "support/wavfile.h"
#include "tablerows.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace vorn;
using namespace vorn::test;
using Result = CScenarioPropDlg::ApplyResult;

namespace {

// The settings a test scenario starts with, in field order.
const QList<int> startValues{720, 480, 2997, 100, 4, 1000, 5};

void setUp(Scenario &s)
{
    const auto v = startValues;
    s.screenWidth = v[0], s.screenHeight = v[1], s.frameRate = v[2], s.scale = v[3];
    s.previewScale = v[4], s.boardBreak = v[5], s.startFrame = v[6];
}

QList<int> valuesOf(const Scenario &s)
{
    return {s.screenWidth, s.screenHeight, s.frameRate, s.scale,
            s.previewScale, s.boardBreak, s.startFrame};
}


// Every control of a dialog can be found by a screen reader: the name it reports through the
// accessibility interface is set and carries no mnemonic mark.
void checkAccessibleNames(const QWidget &dialog)
{
    for (QWidget *w : dialog.findChildren<QWidget *>()) {
        if (!qobject_cast<QLabel *>(w) && !qobject_cast<QAbstractButton *>(w)
            && !qobject_cast<QLineEdit *>(w) && !qobject_cast<QGroupBox *>(w))
            continue;
        QVERIFY2(!w->accessibleName().isEmpty(), w->metaObject()->className());
        const QString name = QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
        QCOMPARE(name, w->accessibleName());
        QVERIFY2(!name.contains(u'&'), qPrintable(name));
    }
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initAppIcons(); }

    void propertiesApply_data() { addRows("properties.tsv", QStringLiteral("apply")); }

    void propertiesApply()
    {
        QFETCH(QStringList, row);
        const QStringList texts = row.mid(1, 7);
        const Result result = QMap<QString, Result>{{"unchanged", Result::Unchanged}, {"refused", Result::Refused},
                                                    {"changed", Result::Changed}}.value(row[8]);
        Scenario scenario;
        setUp(scenario);
        CScenarioPropDlg dialog;
        dialog.initialise(&scenario);
        for (int f = 0; f < CScenarioPropDlg::FieldCount; ++f) {
            QCOMPARE(dialog.edit(CScenarioPropDlg::Field(f))->text(), QString::number(startValues[f]));
            dialog.edit(CScenarioPropDlg::Field(f))->setText(texts[f]);
        }
        QCOMPARE(dialog.apply(&scenario), result);
        QCOMPARE(valuesOf(scenario), numbers(row[9]));
        QCOMPARE(dialog.changed(), result == Result::Changed);
    }

    void propertiesShowsLengths()
    {
        Scenario scenario;
        setUp(scenario);  // 29.97 frames a second
        scenario.totalFrames = 900;

        QTemporaryDir dir;
        const std::string wav = dir.filePath("song.wav").toStdString();
        test::writeWav16(wav, 1, 8000, 70001, [](int, int32_t) { return int16_t(0); });  // 8.750 s
        AudioClip song;
        song.setPath(wav);
        QVERIFY(song.load());

        CScenarioPropDlg dialog;
        const auto lengths = [&dialog] {
            return QStringList{dialog.totalFramesText(), dialog.videoLengthText(), dialog.songLengthText()};
        };
        dialog.initialise(&scenario, &song);
        QCOMPARE(lengths(), (QStringList{"900", "30.030", "8.750"}));
        // Opened again on a scenario without frames and no song: every length reads "-".
        scenario.totalFrames = 0;
        dialog.initialise(&scenario);
        QCOMPARE(lengths(), (QStringList{"-", "-", "-"}));

        // Without a scenario nothing is refused and nothing changes.
        dialog.initialise(nullptr);
        QVERIFY(dialog.apply(nullptr) == Result::Unchanged && !dialog.changed());
    }

    void propertiesControls()
    {
        CScenarioPropDlg dialog;
        checkAccessibleNames(dialog);

        // Typing keeps only digits.
        QLineEdit *width = dialog.edit(CScenarioPropDlg::Width);
        QTest::keyClicks(width, QStringLiteral("1a-2 "));
        QKeyEvent wideDigit(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("３"));
        QApplication::sendEvent(width, &wideDigit);
        QCOMPARE(width->text(), QStringLiteral("12"));

        // Tab walks the seven edits in their order, then OK and Cancel.
        const QStringList order{"幅", "高", "フレームレート", "スケール", "プレビュースケール",
                                "いたわり時間", "レンダリング開始フレーム", "OK", "キャンセル"};
        QWidget *w = width;
        for (const QString &name : order) {
            QCOMPARE(w->accessibleName(), name);
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus));
        }
    }

    void aboutBox()
    {
        CAboutDlg dialog;
        checkAccessibleNames(dialog);
        const QLabel *icon = named<QLabel>(dialog, QStringLiteral("アイコン"));
        QVERIFY(icon && icon->pixmap().size() == QSize(32, 32));
        dialog.show();
        QTest::mouseClick(named<QPushButton>(dialog, QStringLiteral("OK")), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
