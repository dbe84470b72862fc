// The main window's commands, states and two-phase replacement of scenario and song, driven
// off screen with a simulated sound card whose clock the test moves.
#include "app/calibrationdialog.h"
#include "app/mainframe.h"
#include "app/mainview.h"
#include "app/imagewnd.h"
#include "app/markwnd.h"
#include "app/progresswnd.h"
#include "app/shellservices.h"
#include "audio/simulateddevice.h"
#include "editor/scenariodialog.h"
#include "editor/sceneprop.h"
#include "editor/scenevirtual.h"
#include "scenario/model/scenario.h"
#include "support/beatsong.h"
#include "support/heavyscenario.h"
#include "support/wavfile.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenuBar>
#include <QTreeWidget>
#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <atomic>
#include <deque>
#include <future>
#include <thread>
#include <memory>

using namespace vorn;

namespace {

// Records message boxes and answers questions.
class RecordingShellPrompter final : public ShellPrompter {
public:
    void showError(std::string_view text) override { errors.emplace_back(text); }
    bool askYesNo(std::string_view text) override { return askOkCancel(text); }
    bool askOkCancel(std::string_view text) override
    {
        questions.emplace_back(text);
        return answer;
    }
    std::vector<std::string> errors, questions;
    bool answer = true;
};

// Answers the file dialogs from queues; an empty queue cancels.
class ScriptedFileChooser final : public FileChooser {
public:
    std::optional<QString> openScenario() override { return take(opens); }
    std::optional<QString> saveScenario() override { return take(saves); }
    std::optional<QString> openSong() override { return take(songs); }
    std::optional<QString> openLabels() override { return take(labelsIn); }
    std::optional<QString> saveLabels() override { return take(labelsOut); }
    std::deque<QString> opens, saves, songs, labelsIn, labelsOut;
    int asked = 0;

private:
    std::optional<QString> take(std::deque<QString> &queue)
    {
        ++asked;
        if (queue.empty())
            return std::nullopt;
        const QString name = queue.front();
        queue.pop_front();
        return name;
    }
};

const char *const SongScenario =
    "SCREEN\t64\t48\nFRAMERATE\t30\nSCALE\t1\nAUDIO\t\"song.wav\"\n"
    "DRAW \"d\"\n{\n\tSIZE\t64 48\n\tCOLOR\t255 0 0 255\n"
    "\tRECT\n\t{\n\t\tPOINT\t0 0\n\t\tPOINT\t10 10\n\t\tFILL\n\t}\n}\n"
    "STILL \"s\"\n{\n\tINPUT\t\"d\"\n\tFRAMES\t60\n}\n"
    "MAIN\n{\n\tINPUT\t\"s\"\n}\n"
    "CHECKPOINT\n{\n\tCF\t15\t0\t255\t0\n}\n";

} // namespace

class TestMainView : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_prompter = RecordingShellPrompter();
        m_files = ScriptedFileChooser();
        m_card = std::make_shared<SimulatedSoundCard>(SimulatedSoundCard::Clock::Driven);
        m_devicesMade = 0;
        m_makeDevice = [card = m_card](int) { return std::make_unique<SimulatedDevice>(card); };
        m_properties = [](Scenario &) { return PropertiesOutcome::Cancelled; };
        m_beatStrip.reset();
        m_beatStripAsked = 0;
        m_output.clear();
        m_calibration.reset();
        makeFrame();
    }

    void cleanup()
    {
        m_frame.reset();
        m_view = nullptr;
        // Every engine the window made ends once told to quit.
        QVERIFY(CMainView::waitForEngines(std::chrono::seconds(10)));
    }

    void droppedNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error");
        const QString unknown = QStringLiteral("入力されたファイルの種類が不明です。");
        QTest::newRow("upper-case WAV") << "X.WAV" << unknown;
        QTest::newRow("song") << "x.wav" << "";
        QTest::newRow("missing scenario") << "none.txt" << "?";
        // The scenario names its song in Shift-JIS: a name it cannot hold is said, not ignored.
        QTest::newRow("song Shift-JIS cannot name")
            << "café.wav" << "次のパスは Shift-JIS で表すことができません。\n";
    }

    void droppedNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, error);
        for (const char *song : {"x.wav", "X.WAV", "café.wav"})
            writeSong(QString::fromUtf8(song));
        if (error.endsWith(QLatin1Char('\n')))
            error += file(name);  // the message names the whole path
        m_view->dropFiles({file(name)});
        QVERIFY(loaded());
        QCOMPARE(m_prompter.questions.size(), size_t(0));
        if (error == QStringLiteral("?"))  // the reader's own message
            QCOMPARE(m_prompter.errors.size(), size_t(1));
        else if (!error.isEmpty())
            QCOMPARE(m_prompter.errors, std::vector<std::string>{error.toStdString()});
        QCOMPARE(m_view->scenario() != nullptr, error.isEmpty());
        QCOMPARE(m_view->engine() != nullptr, error.isEmpty());
        if (!error.isEmpty())
            return;
        QVERIFY(m_prompter.errors.empty());
        const Scenario &s = *m_view->scenario();
        QCOMPARE(QList<int>({s.screenWidth, s.screenHeight, s.frameRate, s.scale}),
                 QList<int>({720, 480, 2997, 100}));
        QCOMPARE(QString::fromStdString(std::string(s.audio.value())), file(name));
        QVERIFY(!s.path.has_value());
        QCOMPARE(m_view->engine()->state(), CAudioPlay::Ready);
        QCOMPARE(m_view->timeLine().total(), m_view->engine()->clip().endPosition());
        QCOMPARE(m_view->timeLine().zoom(), 1);
    }

    void twoFilesWhileEmpty()
    {
        writeSong(QStringLiteral("a.wav"));
        m_view->dropFiles({file(QStringLiteral("a.wav")), file(QStringLiteral("a.wav"))});
        QCOMPARE(m_prompter.errors,
                 std::vector<std::string>{"複数のファイルのドロップには対応していません。"});
        QVERIFY(m_prompter.questions.empty());
        QVERIFY(!m_view->scenario() && !m_view->pendingScenario() && !m_view->pendingAudio());
    }

    void dropWhilePlaying()
    {
        writeSong(QStringLiteral("b.wav"));
        QVERIFY(openSong());
        Scenario *before = m_view->scenario();
        CAudioPlay *engine = m_view->engine();
        play();
        m_view->dropFiles({file(QStringLiteral("b.wav"))});
        m_view->openFile(file(QStringLiteral("b.wav")));
        QCOMPARE(m_prompter.errors,
                 std::vector<std::string>(2, "再生中のファイルドロップには対応していません。"));
        QVERIFY(m_prompter.questions.empty());
        QCOMPARE(m_view->scenario(), before);
        QCOMPARE(m_view->engine(), engine);
        QVERIFY(!m_view->pendingScenario() && !m_view->pendingAudio());
    }

    void dropWhileLoadingAbandonsTheFirstLoad()
    {
        writeSong(QStringLiteral("a.wav"));
        writeSong(QStringLiteral("b.wav"), 4);
        // The first engine plays on a card of its own; the second waits in its device's making
        // until the first engine's reply has come back.
        auto firstCard = std::make_shared<SimulatedSoundCard>(SimulatedSoundCard::Clock::Driven);
        std::promise<void> release;
        std::shared_future<void> gate = release.get_future().share();
        m_makeDevice = [firstCard, card = m_card, gate](int made) -> std::unique_ptr<SoundDevice> {
            if (made == 1)
                return std::make_unique<SimulatedDevice>(firstCard);
            gate.wait();
            return std::make_unique<SimulatedDevice>(card);
        };
        // No events are processed until the first engine has ended: its reply waits in the queue.
        auto waitWithoutEvents = [](const std::function<bool()> &done) {
            for (int i = 0; i < 10000 && !done(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return done();
        };
        m_view->dropFiles({file(QStringLiteral("a.wav"))});
        QVERIFY(m_view->pendingAudio());
        QVERIFY(waitWithoutEvents([&] { return m_devicesMade == 1; }));
        m_view->dropFiles({file(QStringLiteral("b.wav"))});
        QCOMPARE(m_prompter.questions, std::vector<std::string>{"現在のシナリオを破棄しますか？"});
        // The first engine loaded, replied and ended (its device is gone with its thread).
        const bool firstEnded =
            waitWithoutEvents([&] { return m_devicesMade == 2 && !firstCard->stats().attached; });
        if (!firstEnded)
            release.set_value();
        QVERIFY(firstEnded);
        QCoreApplication::processEvents();
        // Its reply changed nothing: the second file is still loading.
        const bool stillLoading = !m_view->scenario() && m_view->pendingAudio();
        release.set_value();
        QVERIFY(stillLoading);
        QVERIFY(loaded());
        QVERIFY(m_view->scenario());
        QCOMPARE(QString::fromStdString(std::string(*m_view->scenario()->audio)), file(QStringLiteral("b.wav")));
        QCOMPARE(m_view->engine()->clip().bufferSize(), 4 * 65536);
        QCOMPARE(m_view->timeLine().total(), m_view->engine()->clip().endPosition());
        QVERIFY(m_prompter.errors.empty());
    }

    // The menus and the tool bar as data/commands.tsv lists them, with the commands enabled in
    // each state of the window. The speed items carry the engine's divisor as their check mark;
    // the editor panels rest while the song plays.
    void commands_data()
    {
        QTest::addColumn<int>("column");
        int column = 0;
        for (const char *state : {"none", "new", "loading", "ready", "playing", "paused"})
            QTest::newRow(state) << column++;
    }

    void commands()
    {
        QFETCH(int, column);
        const QByteArray state = QTest::currentDataTag();
        writeSong(QStringLiteral("a.wav"));
        if (state == "new") {
            m_view->action(ID_NEW)->trigger();
        } else if (state != "none") {
            m_view->openFile(file(QStringLiteral("a.wav")));
            if (state != "loading")
                QVERIFY(loaded() && reachesState(CAudioPlay::Ready));
            if (state == "playing" || state == "paused")
                play();
            if (state == "paused") {
                m_card->advance(20000);
                m_view->action(ID_PAUSE)->trigger();
                QVERIFY(reachesState(CAudioPlay::Ready));
                QVERIFY(QTest::qWaitFor([this] { return m_view->action(ID_PLAY)->isEnabled(); }, 10000));
            }
        }
        QFile table(QStringLiteral(VORN_APP_TEST_DATA "/commands.tsv"));
        QVERIFY(table.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList expected, seen;
        for (const QString &line : QString::fromUtf8(table.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
            QStringList cells = line.split(u'\t');
            if (cells.size() == 5)
                cells[4] = cells[4].mid(column, 1);
            if (!line.startsWith(u'#'))
                expected << cells.join(u'\t');
        }
        auto add = [&seen](const QString &title, const QList<QAction *> &actions) {
            seen << title;
            for (QAction *a : actions) {
                const QString key = a->shortcut().isEmpty() ? QStringLiteral("\t") : QString();
                const QString enabled = a->isEnabled() ? QStringLiteral("\tx") : QStringLiteral("\t.");
                seen << (a->isSeparator() ? QStringLiteral("\t-")
                                          : QStringLiteral("\t") + CMainFrame::menuText(a) + key + u'\t' + a->statusTip() + enabled);
            }
        };
        for (QAction *menu : m_frame->menuBar()->actions())
            add(menu->text(), menu->menu()->actions());
        add(m_frame->toolBar()->windowTitle(), m_frame->toolBar()->actions());
        QCOMPARE(seen, expected);
        QCOMPARE(m_view->action(ID_SPEED_NORMAL)->isChecked(), m_view->engine() != nullptr);
        QVERIFY(!m_view->action(ID_SPEED_HALF)->isChecked());
        QCOMPARE(m_view->treePanel()->isEnabled(), state != "playing");
        QCOMPARE(m_view->propertyHost()->isEnabled(), state != "playing");
    }

    void leftWhileStoppedMarksAtFirstTick()
    {
        QVERIFY(openSong());
        QTest::keyClick(m_view, Qt::Key_Left);
        QTest::keyClick(m_view, Qt::Key_Up);  // does nothing
        QCOMPARE(m_view->addRequest(0), 1);
        m_view->onTimerTick();  // not playing: the request waits
        QCOMPARE(m_view->addRequest(0), 1);
        QVERIFY(m_view->markStrips().strip(0).marks().empty());
        play();
        m_card->advance(100000);
        const auto [ms, frames] = position();
        m_view->onTimerTick();
        const auto &marks = m_view->markStrips().strip(0).marks();
        QCOMPARE(marks.size(), size_t(1));
        QCOMPARE(marks[0].time, ms);
        QCOMPARE(marks[0].position, frames);
        QCOMPARE(m_view->addRequest(0), 0);
        QVERIFY(m_view->markStrip(0)->showsLit());
        QVERIFY(m_view->markStrips().strip(1).marks().empty() && m_view->markStrips().strip(2).marks().empty());
    }

    // A key while playing marks the position of its own moment, not of the next tick: with the
    // event's time stamp when it carries one on the steady clock, else when it is handled; at every
    // speed the song time between press and handling is wall time divided by the speed.
    void tapsLandAtThePress_data()
    {
        QTest::addColumn<int>("divisor");
        QTest::addColumn<int>("ageMs");     // how old the event's stamp is; 0: no stamp
        QTest::addColumn<int>("offsetMs");  // the listener's calibrated lateness
        for (int divisor : {1, 2, 4}) {
            QTest::addRow("1/%d, no stamp", divisor) << divisor << 0 << 0;
            QTest::addRow("1/%d, stamp 30 ms old", divisor) << divisor << 30 << 0;
            QTest::addRow("1/%d, offset 40 ms", divisor) << divisor << 0 << 40;
        }
    }

    void tapsLandAtThePress()
    {
        QFETCH(int, divisor);
        QFETCH(int, ageMs);
        QFETCH(int, offsetMs);
        QVERIFY(openSong());
        if (offsetMs != 0) {
            // Calibrated once; kept for the device, so the next song on it taps the same.
            m_calibration = offsetMs;
            m_view->action(ID_CALIBRATE_TAPS)->trigger();
            QVERIFY(openSong());
            QCOMPARE(m_view->tapOffsetMs(), offsetMs);
            QCOMPARE(m_frame->statusBar()->toolTip(), QStringLiteral("タップのオフセット: %1 ms").arg(offsetMs));
        }
        const int speed[] = {0, ID_SPEED_NORMAL, ID_SPEED_HALF, 0, ID_SPEED_QUARTER};
        m_view->action(speed[divisor])->trigger();
        play();
        m_card->advance(400000);
        const auto [ms, frames] = position();

        QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        const auto sent = std::chrono::steady_clock::now();
        if (ageMs > 0) {
            const int64_t nowMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(sent.time_since_epoch()).count();
            press.setTimestamp(quint32(nowMs - ageMs));
        }
        QApplication::sendEvent(m_view, &press);
        // A stamped press ages on the wall clock while the event is delivered: on a busy machine
        // that may be a millisecond or two, which the mark rightly counts.
        const double deliveryMs =
            ageMs > 0 ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count()
                      : 0.0;
        m_card->advance(50000);  // the tick comes 50 ms later
        m_view->onTimerTick();

        const auto &marks = m_view->markStrips().strip(1).marks();
        QCOMPARE(marks.size(), size_t(1));
        // The stamp counts from the middle of its millisecond.
        const double songAgoMs = ((ageMs > 0 ? ageMs - 0.5 : 0.0) + offsetMs) / divisor;
        const double error = marks[0].time - (ms - songAgoMs);
        QVERIFY2(error <= 1.0 && error >= -1.0 - deliveryMs / divisor,
                 qPrintable(QStringLiteral("mark at %1 ms, pressed at %2 ms").arg(marks[0].time).arg(ms - songAgoMs)));
        QVERIFY(std::abs(marks[0].position - (frames - songAgoMs * 44.1)) <= 45);
        QVERIFY(m_view->markStrip(1)->showsLit());  // the tick lights the strip
        QCOMPARE(m_view->addRequest(1), 0);
    }

    // Ctrl+Z and Ctrl+Y take back and make again a deletion of a tapped mark; a new song forgets
    // the steps.
    void undoRedoMarks()
    {
        QVERIFY(openSong());
        QAction *undo = m_frame->action(ID_UNDO);
        QAction *redo = m_frame->action(ID_REDO);
        QVERIFY(!undo->isEnabled() && !redo->isEnabled());
        play();
        const MarkStrip &strip = m_view->markStrips().strip(2);
        for (int64_t us : {100000, 200000}) {
            m_card->advance(us);
            QTest::keyClick(m_view, Qt::Key_Right);
            m_view->onTimerTick();
        }
        const std::vector<Mark> two = strip.marks();
        QCOMPARE(two.size(), size_t(2));
        m_view->markStrips().strip(2).setHoverPos(two[0].position);
        QTest::keyClick(m_view, Qt::Key_Delete);
        QCOMPARE(strip.marks(), std::vector<Mark>{two[1]});

        // How steps go back and forth the history proves; here the keys and the commands' states.
        QTest::keyClick(m_view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(strip.marks(), two);
        QVERIFY(undo->isEnabled() && redo->isEnabled());
        QTest::keyClick(m_view, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(strip.marks(), std::vector<Mark>{two[1]});
        QVERIFY(!redo->isEnabled());

        stop();
        QVERIFY(openSong());
        QVERIFY(!undo->isEnabled() && !redo->isEnabled());
        QVERIFY(m_view->markStrips().strip(2).marks().empty());
    }

    // The calibration dialog on the driven clock: taps 35 ms late with up to 15 ms of noise, and
    // four wild ones first, give an offset of 35 ms in its box.
    void calibrationMeasuresTheOffset()
    {
        CTapCalibrationDlg dialog(0, [card = m_card] { return std::make_unique<SimulatedDevice>(card); });
        dialog.show();
        dialog.start();
        QVERIFY(QTest::qWaitFor([&] { return dialog.engine() && dialog.engine()->state() == CAudioPlay::Playing; }, 10000));
        int64_t nowUs = 0;
        for (int i = 0; i < ClickTrack::Count; ++i) {
            const int noise = (i * 7) % 31 - 15;
            const int wild = i < 4 ? 200 : 0;
            advanceTo(nowUs, int64_t(ClickTrack::clickMs(i) + 35 + noise + wild) * 1000);
            QTest::keyClick(&dialog, i % 2 ? Qt::Key_Left : Qt::Key_Up);
        }
        QCOMPARE(dialog.taps().size(), size_t(ClickTrack::Count));
        advanceTo(nowUs, int64_t(ClickTrack::lengthMs() + 2000) * 1000);
        QVERIFY(QTest::qWaitFor([&] { return !dialog.resultLabel()->text().isEmpty(); }, 10000));
        QVERIFY2(std::abs(dialog.offsetBox()->value() - 35) <= 2, qPrintable(dialog.resultLabel()->text()));
    }

    // With the snap command on, a tap 25 ms after a kick moves onto it, as a step undo takes back;
    // a tap with no onset near stays as pressed.
    void tapsSnapToOnsets()
    {
        test::BeatSongRecipe recipe;
        recipe.seconds = 4;
        recipe.hats = false;
        const test::BeatSong song = test::beatSong(recipe);
        test::writeFile(file(QStringLiteral("beats.wav")).toStdString(), song.wav);
        m_view->openFile(file(QStringLiteral("beats.wav")));
        QVERIFY(loaded());
        QVERIFY(QTest::qWaitFor([this] { return m_view->taps().onsetsReady(); }, 10000));
        m_view->action(ID_SNAP_ONSETS)->trigger();
        play();
        int64_t nowUs = 0;
        auto tapAt = [&](double ms) {
            advanceTo(nowUs, int64_t(ms * 1000));
            QTest::keyClick(m_view, Qt::Key_Down);
            m_view->onTimerTick();
        };
        const auto &marks = m_view->markStrips().strip(1).marks();
        tapAt(song.beatsMs[1] + 25);
        QCOMPARE(marks.size(), size_t(1));
        QVERIFY2(std::abs(marks[0].time - song.beatsMs[1]) <= 2, qPrintable(QString::number(marks[0].time)));
        tapAt(song.beatsMs[2] + 250);  // halfway to the next kick
        QCOMPARE(marks.size(), size_t(2));
        QVERIFY(std::abs(marks[1].time - (song.beatsMs[2] + 250)) <= 1);
        m_view->action(ID_UNDO)->trigger();  // the second tap
        m_view->action(ID_UNDO)->trigger();  // the snap
        QCOMPARE(marks.size(), size_t(1));
        QVERIFY(std::abs(marks[0].time - (song.beatsMs[1] + 25)) <= 1);
    }

    // The click command hands the tapped marks to the engine: with it checked, a tap made while
    // playing is heard from the next pass on, on its own sample. How clicks sound the engine's
    // tests prove.
    void clicksAtMarksWhenChecked()
    {
        test::writeFile(file(QStringLiteral("silence.wav")).toStdString(),
                        test::wavBytes(test::WavLayout{}, std::vector<uint8_t>(4 * 65536, 0)));
        m_card->setRecording(true, true);
        m_view->openFile(file(QStringLiteral("silence.wav")));
        QVERIFY(loaded());
        // Where anything sounds in the n-th block written; -1: silence.
        auto firstSound = [this](size_t write) -> int64_t {
            const auto written = m_card->written();
            const std::vector<uint8_t> &bytes = written.at(write).bytes;
            for (size_t i = 0; i + 1 < bytes.size(); i += 2)
                if (bytes[i] || bytes[i + 1])
                    return int64_t(i / 4);
            return -1;
        };
        m_view->action(ID_MARK_CLICKS)->trigger();
        const size_t firstPass = m_card->written().size();
        play();
        m_card->advance(100000);
        QTest::keyClick(m_view, Qt::Key_Left);
        m_view->onTimerTick();
        const int32_t mark = m_view->markStrips().strip(0).marks().back().position;
        QCOMPARE(firstSound(firstPass), int64_t(-1));  // filled before the tap
        stop();
        const size_t writes = m_card->written().size();
        play();
        QVERIFY(QTest::qWaitFor([&] { return m_card->written().size() > writes; }, 10000));
        QCOMPARE(firstSound(writes), int64_t(mark));
    }

    // The label commands: marks written out come back; a bad file changes nothing and names its
    // line; reading is one step for undo.
    void marksOutAndIn()
    {
        writeText(QStringLiteral("bad.txt"), "0.5\t0.5\tstrip0\n0.7\tx\tstrip1\n");
        QVERIFY(openSong());
        MarkStrips &strips = m_view->markStrips();
        strips.strip(0).addMark(1000, 44100);
        strips.strip(2).addMark(500, 22050);
        const std::vector<Mark> zero = strips.strip(0).marks();
        const std::vector<Mark> two = strips.strip(2).marks();
        m_files.labelsOut.push_back(file(QStringLiteral("marks.txt")));
        m_view->action(ID_EXPORT_MARKS)->trigger();
        QCOMPARE(m_prompter.errors.size(), size_t(0));

        m_files.labelsIn.push_back(file(QStringLiteral("bad.txt")));
        m_view->action(ID_IMPORT_MARKS)->trigger();
        QCOMPARE(m_prompter.errors, std::vector<std::string>{"マークの読み込みに失敗しました。\nbad.txt : 2行目 :\n"
                                                             "時刻が秒の数値ではありません。"});
        QCOMPARE(strips.strip(0).marks(), zero);

        strips.strip(0).splice(0, 1, {});
        strips.strip(2).splice(0, 1, {});
        m_files.labelsIn.push_back(file(QStringLiteral("marks.txt")));
        m_view->action(ID_IMPORT_MARKS)->trigger();
        QCOMPARE(strips.strip(0).marks(), zero);
        QCOMPARE(strips.strip(2).marks(), two);
        m_view->action(ID_UNDO)->trigger();
        QVERIFY(strips.strip(0).marks().empty() && strips.strip(2).marks().empty());
    }

    void propertiesChangeReloadsOnNewEngine()
    {
        QVERIFY(openScenario(true));
        QVERIFY(m_prompter.errors.empty());
        QCOMPARE(m_devicesMade, 1);
        // The scenario's checkpoint came back to strip 1 (green).
        QCOMPARE(m_view->markStrips().strip(1).marks().size(), size_t(1));
        QCOMPARE(m_view->markStrips().strip(3).marks().size(), size_t(2));  // key frames 0 and 59
        play();
        QTest::keyClick(m_view, Qt::Key_Right);
        m_card->advance(50000);
        m_view->onTimerTick();
        QCOMPARE(m_view->markStrips().strip(2).marks().size(), size_t(1));
        stop();

        // Cancel and an unchanged OK keep everything; a refused value says so.
        m_properties = [](Scenario &) { return PropertiesOutcome::Unchanged; };
        m_view->action(ID_PROPERTIES)->trigger();
        m_properties = [](Scenario &) { return PropertiesOutcome::Refused; };
        m_view->action(ID_PROPERTIES)->trigger();
        QCOMPARE(m_prompter.errors, std::vector<std::string>{"設定値に問題があります。"});
        QVERIFY(!m_view->pendingAudio());
        QCOMPARE(m_view->markStrips().strip(2).marks().size(), size_t(1));

        Scenario *scenario = m_view->scenario();
        m_properties = [](Scenario &s) {
            s.frameRate = 60;
            return PropertiesOutcome::Changed;
        };
        m_view->action(ID_PROPERTIES)->trigger();
        QVERIFY(m_view->pendingAudio() && !m_view->scenario());
        QVERIFY(loaded());
        QCOMPARE(m_devicesMade, 2);  // a new engine loaded the song again
        QCOMPARE(m_view->scenario(), scenario);
        QCOMPARE(m_view->scenario()->frameRate, 60);
        // The mark placed by the key is gone; the checkpoint is back, at its frame's new time.
        QVERIFY(m_view->markStrips().strip(2).marks().empty());
        QCOMPARE(m_view->markStrips().strip(1).marks().size(), size_t(1));
        QCOMPARE(m_view->markStrips().strip(1).marks()[0].time, 250);
    }

    void failedSongAfterSetSongLeavesNoScenario()
    {
        QVERIFY(openSong());
        QVERIFY(m_view->scenario() && m_view->engine());
        writeText(QStringLiteral("bad.wav"), "RIFF not a song");
        m_files.songs.push_back(file(QStringLiteral("bad.wav")));
        m_view->action(ID_SET_SONG)->trigger();
        QVERIFY(loaded());
        QCOMPARE(m_prompter.errors, std::vector<std::string>{"オーディオ処理の初期化に失敗しました。"});
        QVERIFY(!m_view->scenario() && !m_view->pendingScenario() && !m_view->engine());
        QVERIFY(m_view->action(ID_NEW)->isEnabled());
        QVERIFY(!m_view->action(ID_SAVE)->isEnabled());
    }

    void saveWithoutPathAsksForName()
    {
        writeSong(QStringLiteral("a.wav"));
        m_view->dropFiles({file(QStringLiteral("a.wav"))});
        QVERIFY(loaded());
        // Cancelled: nothing written, the scenario still has no name.
        m_view->action(ID_SAVE)->trigger();
        QCOMPARE(m_files.asked, 1);
        QVERIFY(!m_view->scenario()->path);
        m_files.saves.push_back(file(QStringLiteral("out.txt")));
        m_view->action(ID_SAVE)->trigger();
        QCOMPARE(m_files.asked, 2);
        QVERIFY(QFile::exists(file(QStringLiteral("out.txt"))));
        // Now it has one: saving again asks nothing.
        m_view->action(ID_SAVE)->trigger();
        QCOMPARE(m_files.asked, 2);
        QVERIFY(m_prompter.errors.empty());
        // A file that cannot be written says so (what the message names, the save helper's tests
        // prove).
        m_files.saves.push_back(file(QStringLiteral("missing/out.txt")));
        m_view->action(ID_SAVE_AS)->trigger();
        QCOMPARE(m_prompter.errors.size(), size_t(1));
    }

    void saveAsksFirst_data()
    {
        QTest::addColumn<QByteArray>("head");      // the scenario's first line
        QTest::addColumn<QString>("changed");      // a file another program changes after the read
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("questions");  // a piece of each question, in order
        QTest::addColumn<bool>("saved");
        const QString changed = QStringLiteral("は他のプログラムによって変更されています");
        const QString flatten = QStringLiteral("として残します");
        QTest::newRow("as the writer writes it") << QByteArray("# Vorn Scenario file - x \n") << QString() << true
                                                 << QStringList{} << true;
        QTest::newRow("own comment, declined") << QByteArray("# mine\n") << QString() << false << QStringList{flatten} << false;
        QTest::newRow("variable") << QByteArray("$(w) = 64\n") << QString() << true << QStringList{flatten} << true;
        QTest::newRow("changed since, declined") << QByteArray() << QStringLiteral("s.txt") << false
                                                 << QStringList{changed} << false;
        QTest::newRow("INCLUDEd file changed") << QByteArray("INCLUDE \"inc.txt\"\n") << QStringLiteral("inc.txt") << true
                                               << QStringList{changed, flatten} << true;
    }

    // Ctrl+S over a file read earlier asks before it overwrites another program's changes or
    // writes out a hand-written scenario in full, and then keeps the original as s.txt.bak.
    void saveAsksFirst()
    {
        QFETCH(QByteArray, head);
        QFETCH(QString, changed);
        QFETCH(bool, answer);
        QFETCH(QStringList, questions);
        QFETCH(bool, saved);
        writeText(QStringLiteral("inc.txt"), "SCALE 1\n");
        writeText(QStringLiteral("s.txt"), head + scenarioText(false));
        m_view->openFile(file(QStringLiteral("s.txt")));
        QVERIFY(loaded() && m_view->scenario());
        if (!changed.isEmpty()) {
            QFile other(file(changed));
            QVERIFY(other.open(QIODevice::Append));
            other.write("\n");
        }
        const auto contents = [&](const QString &name) {
            QFile in(file(name));
            return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
        };
        const QByteArray before = contents(QStringLiteral("s.txt"));
        m_prompter.answer = answer;
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QTest::keyClick(m_frame.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_prompter.questions.size(), size_t(questions.size()));
        for (qsizetype i = 0; i < questions.size(); ++i)
            QVERIFY2(QString::fromStdString(m_prompter.questions[size_t(i)]).contains(questions[i]),
                     m_prompter.questions[size_t(i)].c_str());
        QVERIFY(m_prompter.errors.empty());
        QCOMPARE(contents(QStringLiteral("s.txt")) != before, saved);
        const bool flattened = saved && !questions.filter(QStringLiteral("として残します")).isEmpty();
        QCOMPARE(QFile::exists(file(QStringLiteral("s.txt.bak"))), flattened);
        if (flattened) {
            QCOMPARE(contents(QStringLiteral("s.txt.bak")), before);
            const std::string named = "元のファイルは " + file(QStringLiteral("s.txt.bak")).toStdString();
            QVERIFY(m_prompter.questions.back().find(named) != std::string::npos);
        }
        // Once saved, the file is the scenario's own: saving again asks nothing.
        if (saved) {
            m_prompter.questions.clear();
            QTest::keyClick(m_frame.get(), Qt::Key_S, Qt::ControlModifier);
            QVERIFY(m_prompter.questions.empty());
        }
    }

    // Without a song the time line's total is the frame count and a tenth of it, saturating for a
    // scenario of nearly 2^31 frames; the key frames are on their strip (where, the strips
    // decide), checkpoints return to the strips only with a song.
    void scenarioWithoutSongCountsFrames()
    {
        writeText(QStringLiteral("s.txt"), scenarioText(false).replace("FRAMES\t60", "FRAMES\t2000000000"));
        m_view->openFile(file(QStringLiteral("s.txt")));
        QVERIFY(loaded());
        QVERIFY(m_view->scenario() && !m_view->pendingAudio() && !m_view->engine());
        QCOMPARE(m_view->timeLine().total(), INT32_MAX);
        QCOMPARE(m_view->markStrips().strip(3).marks().size(), size_t(2));
        QVERIFY(m_view->markStrips().strip(1).marks().empty());
    }

    // A scenario file is read on a thread of its own while the window shows its busy state and
    // keeps handling events; the size question of a large file is asked on the interface thread.
    void scenarioIsReadOffTheInterfaceThread_data()
    {
        QTest::addColumn<int>("padding");  // bytes of comment lines after the scenario
        QTest::addColumn<bool>("answer");
        QTest::newRow("small") << 0 << true;
        QTest::newRow("large, read") << 11 * 1024 * 1024 << true;
        QTest::newRow("large, declined") << 11 * 1024 * 1024 << false;
    }

    void scenarioIsReadOffTheInterfaceThread()
    {
        QFETCH(int, padding);
        QFETCH(bool, answer);
        QByteArray text = scenarioText(false);
        const QByteArray line(63, '#');
        while (text.size() < padding)
            text += line + "\n";
        writeText(QStringLiteral("s.txt"), text);
        m_prompter.answer = answer;
        m_view->openFile(file(QStringLiteral("s.txt")));
        QVERIFY(m_view->readingScenario() && !m_view->scenario());
        QVERIFY(!m_view->action(ID_NEW)->isEnabled() && !m_view->action(ID_OPEN)->isEnabled());
        QCOMPARE(m_frame->pane(PaneMessage)->text(), QStringLiteral("シナリオを読み込んでいます..."));
        QVERIFY(loaded());
        QCOMPARE(m_view->scenario() != nullptr, answer);
        QCOMPARE(m_prompter.questions.size(), size_t(padding > 0 ? 1 : 0));
        QVERIFY(m_prompter.errors.empty());
        QCOMPARE(m_frame->pane(PaneMessage)->text(), QStringLiteral("レディ"));
        QVERIFY(m_view->action(ID_NEW)->isEnabled());
        if (answer)
            QCOMPARE(m_view->scenario()->prompter, static_cast<Prompter *>(&m_prompter));
    }

    // New, a dropped file or an editor apply while the preview renders a heavy frame: the render
    // is cancelled instead of waited for, so its picture never shows (waiting, it would show).
    void replacingNeverWaitsForARender_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"new", "drop", "apply"})
            QTest::newRow(how) << how;
    }

    void replacingNeverWaitsForARender()
    {
        QFETCH(QString, how);
        writeText(QStringLiteral("heavy.txt"), QByteArray::fromStdString(test::heavyScenarioText(20000, 800)));
        writeSong(QStringLiteral("a.wav"));
        m_view->openFile(file(QStringLiteral("heavy.txt")));
        QVERIFY(loaded() && m_view->scenario());
        CImageWnd *preview = m_view->preview();
        if (how == QStringLiteral("apply")) {  // the ACTION's page, before the frame is asked for
            QTreeWidgetItem *mainItem = m_view->treePanel()->tree()->topLevelItem(0);
            mainItem->setExpanded(true);
            m_view->treePanel()->tree()->setCurrentItem(mainItem->child(0));
            QVERIFY(m_view->propertyHost()->currentPage());
        }
        QSignalSpy ready(preview, &CImageWnd::frameReady);
        m_view->showFrame(3);
        QVERIFY(preview->isBusy());
        QTest::qWait(30);  // into the polygon's rows
        // The dropped song's scenario replaces the heavy one once the song has loaded, long before
        // the frame (seconds) would be done.
        if (how == QStringLiteral("new"))
            m_view->action(ID_NEW)->trigger();
        else if (how == QStringLiteral("drop"))
            m_view->dropFiles({file(QStringLiteral("a.wav"))});
        else
            QCOMPARE(m_view->propertyHost()->applyCurrentPage(), 0);
        QVERIFY(loaded());
        QVERIFY(!preview->isBusy());
        QCOMPARE(ready.count(), 1);
        QVERIFY(!ready.at(0).at(1).toBool());
        QCOMPARE(preview->shownFrame(), -1);
        QVERIFY(m_view->scenario());
        QCOMPARE(m_view->scenario()->screenWidth, how == QStringLiteral("apply") ? 800 : 720);
        QVERIFY(m_prompter.errors.empty());
    }

    // The beat command on a beat song: the chosen strip gets the beats (how well they fit the
    // kicks is the tracker's own test) on their sample frames, and the output text carries them.
    // While it runs, a progress window shows and the command (and the speed it must not change)
    // rests.
    void detectedBeatsBecomeMarks()
    {
        test::BeatSongRecipe recipe;
        recipe.bpm = 120;
        recipe.seconds = 8;
        const test::BeatSong song = test::beatSong(recipe);
        test::writeFile(file(QStringLiteral("beats.wav")).toStdString(), song.wav);
        QAction *detect = m_frame->action(ID_DETECT_BEATS);
        m_view->openFile(file(QStringLiteral("beats.wav")));
        QVERIFY(loaded() && reachesState(CAudioPlay::Ready));
        // Cancelled: nothing runs.
        detect->trigger();
        QCOMPARE(m_beatStripAsked, 1);
        QVERIFY(!m_view->detectingBeats() && detect->isEnabled());

        m_beatStrip = 1;
        detect->trigger();
        QVERIFY(m_view->detectingBeats());
        QVERIFY(m_view->beatProgress() && m_view->beatProgress()->isVisible());
        QCOMPARE(m_view->beatProgress()->maximum(), 0);  // busy: the tracker tells no progress
        QVERIFY(!m_view->beatProgress()->accessibleName().isEmpty());
        QVERIFY(!detect->isEnabled() && !m_view->action(ID_SPEED_HALF)->isEnabled());
        QVERIFY(QTest::qWaitFor([this] { return !m_view->detectingBeats(); }, 20000));
        QVERIFY(!m_view->beatProgress());
        QVERIFY(detect->isEnabled() && m_view->action(ID_SPEED_HALF)->isEnabled());
        QVERIFY(m_prompter.errors.empty());

        QVERIFY(m_view->markStrips().strip(0).marks().empty() && m_view->markStrips().strip(2).marks().empty());
        const auto &marks = m_view->markStrips().strip(1).marks();
        QVERIFY(marks.size() >= song.beatsMs.size() / 2);
        for (const Mark &mark : marks)
            QCOMPARE(mark.position, m_view->engine()->clip().msToSampleFrames(mark.time));
        // The output text has one CF line per mark.
        m_view->action(ID_OUTPUT)->trigger();
        size_t lines = 0;
        for (size_t at = m_output.find("\tCF\t"); at != std::string::npos; at = m_output.find("\tCF\t", at + 1))
            ++lines;
        QCOMPARE(lines, marks.size());
    }

    // A song replaced while its beats are being found: the replacement waits for the worker (which
    // reads the old song) and the old song's beats never reach the strips.
    void beatsOfAReplacedSongAreDropped()
    {
        QVERIFY(detectionStarted());
        QVERIFY(m_view->detectingBeats());
        m_view->action(ID_NEW)->trigger();
        QVERIFY(!m_view->detectingBeats() && !m_view->beatProgress() && !m_view->engine());
        QTest::qWait(50);  // the worker's queued reply, if any, arrives and is ignored
        for (int k = 0; k < 3; ++k)
            QVERIFY(m_view->markStrips().strip(k).marks().empty());
    }

    // The Cancel button of the progress window stops the work: no marks come, the command is back.
    void beatDetectionCancels()
    {
        QVERIFY(detectionStarted());
        QProgressDialog *progress = m_view->beatProgress();
        QVERIFY(progress);
        auto *cancel = progress->findChild<QPushButton *>();
        QVERIFY(cancel && cancel->isVisible());
        QCOMPARE(cancel->text(), QStringLiteral("キャンセル"));
        QVERIFY(!cancel->accessibleName().isEmpty());
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(!m_view->detectingBeats() && !m_view->beatProgress());
        QCOMPARE(m_frame->pane(PaneMessage)->text(), QStringLiteral("ビートの検出を取り消しました。"));
        QVERIFY(m_view->action(ID_DETECT_BEATS)->isEnabled());
        QTest::qWait(50);  // the worker's queued reply, if any, arrives and is ignored
        QVERIFY(m_view->markStrips().strip(0).marks().empty());
        QVERIFY(m_prompter.errors.empty());
    }

    // The follow command with the driven clock: each tick while playing asks the preview for the
    // frame at the cursor once the previous one is in; unchecked, ticks render nothing; stopping
    // leaves the last picture.
    void previewFollowsPlayback()
    {
        QVERIFY(openScenario(true));
        QAction *follow = m_frame->action(ID_FOLLOW_PREVIEW);
        QVERIFY(follow->isCheckable() && !follow->isChecked());
        CImageWnd *preview = m_view->preview();
        play();
        m_card->advance(22050);
        m_view->onTimerTick();
        QCOMPARE(preview->wantedFrame(), -1);  // off: nothing renders

        follow->trigger();
        QVERIFY(follow->isChecked());
        // Sample frames at 44.1 kHz to the frame at 30 per second that the cursor is on.
        for (int32_t step : {0, 22050, 1470, 0, 33075}) {
            m_card->advance(step);
            const int32_t ms = position().first;
            m_view->onTimerTick();
            const int32_t expected = int32_t(ms / 1000.0 * 30 + 0.5);
            QCOMPARE(m_view->previewFrame(), expected);
            QCOMPARE(preview->wantedFrame(), expected);
            QVERIFY(QTest::qWaitFor([&] { return !preview->isBusy() && preview->shownFrame() == expected; }, 10000));
        }
        const int32_t last = preview->shownFrame();
        stop();
        m_view->onTimerTick();
        QCOMPARE(preview->shownFrame(), last);
        QVERIFY(!preview->viewImage().isNull());
    }

    void layoutFollowsTheWidth()
    {
        m_frame->resize(1250, 900);
        QTRY_COMPARE(m_frame->size(), QSize(1250, 900));
        const int cx = m_view->width();
        const int cy = m_view->height();
        const int w = cx - 250;
        QCOMPARE(m_view->waveformStrip()->geometry(), QRect(0, 0, w / 5, cy));
        for (int k = 0; k < 4; ++k)
            QCOMPARE(m_view->markStrip(k)->geometry(), QRect(w * (k + 2) / 10, 0, w / 10, cy));
        QCOMPARE(m_view->treePanel()->geometry(), QRect(w * 6 / 10, 0, w * 4 / 10, cy));
        QCOMPARE(m_view->propertyHost()->geometry(), QRect(w, 0, 250, 360));
        QCOMPARE(m_view->preview()->geometry(), QRect(w, 360, 250, cy - 360));
        // The frame never gets smaller than its minimum.
        m_frame->resize(100, 100);
        QCOMPARE(m_frame->size(), QSize(800, 600));
    }

    // The real boxes: title, text, icon, buttons, and which button answers yes.
    void messageBoxes_data()
    {
        QTest::addColumn<int>("kind");  // 0 an error, 1 a yes-no question, 2 an OK-Cancel one
        QTest::addColumn<int>("press");
        QTest::addColumn<bool>("answer");
        QTest::newRow("error") << 0 << int(QMessageBox::Ok) << false;
        QTest::newRow("yes") << 1 << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << 1 << int(QMessageBox::No) << false;
        QTest::newRow("ok") << 2 << int(QMessageBox::Ok) << true;
        QTest::newRow("cancel") << 2 << int(QMessageBox::Cancel) << false;
    }

    void messageBoxes()
    {
        QFETCH(int, kind);
        QFETCH(int, press);
        QFETCH(bool, answer);
        MessageBoxPrompter prompter(m_frame.get());
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen << box->windowTitle() << box->text() << QString::number(box->icon())
                     << QString::number(int(box->standardButtons()));
                box->button(QMessageBox::StandardButton(press))->click();
            }
        });
        const char *text = "設定値に問題があります。";
        const bool result = kind == 0   ? (prompter.showError(text), false)
                            : kind == 1 ? prompter.askYesNo(text)
                                        : prompter.askOkCancel(text);
        const int buttons[] = {int(QMessageBox::Ok), int(QMessageBox::Yes | QMessageBox::No),
                               int(QMessageBox::Ok | QMessageBox::Cancel)};
        QCOMPARE(seen, (QStringList{kind ? QStringLiteral("確認") : QStringLiteral("エラー"), QString::fromUtf8(text),
                                    QString::number(kind ? QMessageBox::Question : QMessageBox::Critical),
                                    QString::number(buttons[kind])}));
        QCOMPARE(result, answer);
    }

    // The real strip choice: three named strips; OK gives the chosen one, Cancel none.
    void beatStripDialog()
    {
        for (const bool ok : {true, false}) {
            QStringList items;
            QTimer::singleShot(0, this, [&] {
                QWidget *dialog = QApplication::activeModalWidget();
                auto *combo = dialog ? dialog->findChild<QComboBox *>() : nullptr;
                auto *buttons = dialog ? dialog->findChild<QDialogButtonBox *>() : nullptr;
                if (!combo || !buttons)
                    return;
                items << combo->accessibleName();
                for (int i = 0; i < combo->count(); ++i)
                    items << combo->itemText(i);
                combo->setCurrentIndex(2);
                buttons->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
            });
            const std::optional<int> chosen = chooseBeatStripDialog(m_frame.get());
            QCOMPARE(items.mid(1), (QStringList{QStringLiteral("マーク 1"), QStringLiteral("マーク 2"),
                                                QStringLiteral("マーク 3")}));
            QVERIFY(!items[0].isEmpty());
            QCOMPARE(chosen, ok ? std::optional<int>(2) : std::nullopt);
        }
    }

    // Every status-bar pane tells a screen reader its text from the start, "レディ" included.
    void statusPanesSpeakFromTheStart()
    {
        QCOMPARE(m_frame->pane(PaneMessage)->text(), QStringLiteral("レディ"));
        for (int i = 0; i < 4; ++i) {
            QLabel *pane = m_frame->pane(i);
            QVERIFY(!pane->accessibleName().isEmpty());
            QCOMPARE(pane->accessibleDescription(), pane->text());
        }
    }

    // The program given a song with VORN_QUIT_WHEN_READY says "ready" and quits once its
    // scenario is in.
    void quitsWhenReady()
    {
        writeSong(QStringLiteral("a.wav"));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VORN_QUIT_WHEN_READY"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VORN_PROGRAM), {file(QStringLiteral("a.wav"))});
        const bool finished = program.waitForFinished(20000);
        if (!finished) {
            program.kill();
            program.waitForFinished(5000);
        }
        QVERIFY(finished);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(program.readAllStandardOutput().contains("ready"));
    }

private:
    QString file(const QString &name) const { return m_dir->filePath(name); }

    void writeSong(const QString &name, int blocks = 8)
    {
        test::WavLayout wav;
        test::writeFile(file(name).toStdString(),
                        test::wavBytes(wav, test::indexData(size_t(blocks) * 65536, 16)));
    }

    void writeText(const QString &name, const QByteArray &bytes)
    {
        QFile out(file(name));
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
    }
    // The test scenario, with its song.wav or without a song.

    static QByteArray scenarioText(bool withSong)
    {
        QByteArray text(SongScenario);
        return withSong ? text : text.replace("AUDIO\t\"song.wav\"\n", "");
    }
    // Written, opened and loaded: a song, or the test scenario as s.txt.

    bool openSong(const QString &name = QStringLiteral("a.wav"))
    {
        writeSong(name);
        m_view->openFile(file(name));
        return loaded();
    }

    bool openScenario(bool withSong)
    {
        if (withSong)
            writeSong(QStringLiteral("song.wav"));
        writeText(QStringLiteral("s.txt"), scenarioText(withSong));
        m_view->openFile(file(QStringLiteral("s.txt")));
        return loaded() && m_view->scenario();
    }

    void makeFrame()
    {
        ShellServices services;
        services.prompter = &m_prompter;
        services.files = &m_files;
        services.deviceFactory = [this] { return m_makeDevice(++m_devicesMade); };
        services.properties = [this](QWidget *, Scenario &s, const CAudioPlay *) { return m_properties(s); };
        services.output = [this](QWidget *, const std::string &text) { m_output = text; };
        services.chooseBeatStrip = [this](QWidget *) {
            ++m_beatStripAsked;
            return m_beatStrip;
        };
        services.timerPeriodMs = 0;  // the test ticks by hand
        services.calibrateTaps = [this](QWidget *, int) { return m_calibration; };
        services.settingsFile = file(QStringLiteral("settings.ini"));
        m_frame = std::make_unique<CMainFrame>(std::move(services));
        m_view = m_frame->view();
        m_frame->show();
    }
    // Waits for the engine thread's replies (not for sound: the card's clock stands still).

    bool loaded()
    {
        return QTest::qWaitFor(
            [this] { return !m_view->readingScenario() && !m_view->pendingAudio(); }, 10000);
    }

    bool reachesState(CAudioPlay::State state)
    {
        const bool reached = QTest::qWaitFor(
            [this, state] { return m_view->engine() && m_view->engine()->state() == state; }, 10000);
        QCoreApplication::processEvents();  // the engine's replies refresh the commands
        return reached;
    }
    // A 30 s beat song loaded and its beat detection started into strip 0.

    bool detectionStarted()
    {
        test::BeatSongRecipe recipe;
        recipe.seconds = 30;
        test::writeFile(file(QStringLiteral("beats.wav")).toStdString(), test::beatSong(recipe).wav);
        m_view->openFile(file(QStringLiteral("beats.wav")));
        if (!loaded() || !reachesState(CAudioPlay::Ready))
            return false;
        m_beatStrip = 0;
        m_view->action(ID_DETECT_BEATS)->trigger();
        return true;
    }

    void play()
    {
        m_view->action(ID_PLAY)->trigger();
        QVERIFY(reachesState(CAudioPlay::Playing));
        // AP_STARTED follows the state change: the commands follow it.
        QVERIFY(QTest::qWaitFor([this] { return m_view->action(ID_PAUSE)->isEnabled(); }, 10000));
        // The state changes before the first blocks are filled, and a stretch takes a moment to
        // fill them: the card's clock may only move once they are queued.
        QVERIFY(m_card->waitUntil([](const SimulatedSoundCard::Stats &s) { return s.queued >= 2 || !s.open; }));
    }
    // Moves the card's clock in steps shorter than a block, letting the engine refill.

    void stop()
    {
        m_view->action(ID_STOP)->trigger();
        QVERIFY(reachesState(CAudioPlay::Ready));
    }

    // The engine's position now: song milliseconds and sample frames.
    std::pair<int32_t, int32_t> position() const
    {
        int32_t ms = -1, frames = -1;
        return m_view->engine()->position(ms, frames) == 0 ? std::pair(ms, frames) : std::pair(-1, -1);
    }

    void advanceTo(int64_t &nowUs, int64_t us)
    {
        while (nowUs < us) {
            const int64_t step = std::min<int64_t>(us - nowUs, 100000);
            m_card->advance(step);
            nowUs += step;
            QTest::qWait(2);
        }
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingShellPrompter m_prompter;
    ScriptedFileChooser m_files;
    std::shared_ptr<SimulatedSoundCard> m_card;
    std::atomic<int> m_devicesMade{0};
    // Makes the n-th sound device (counting from 1) on an engine thread.
    std::function<std::unique_ptr<SoundDevice>(int made)> m_makeDevice;
    std::function<PropertiesOutcome(Scenario &)> m_properties;
    std::optional<int> m_beatStrip;   // the strip chooser's answer
    int m_beatStripAsked = 0;
    std::string m_output;             // the last text the output command showed
    std::optional<int> m_calibration; // the calibration's answer
    std::unique_ptr<CMainFrame> m_frame;
    CMainView *m_view = nullptr;
};

QTEST_MAIN(TestMainView)
#include "tst_mainview.moc"
