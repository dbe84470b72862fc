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
#include "tablerows.h"

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
using namespace vorn::test;

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

    void droppedNames_data() { addRows("window.tsv", QStringLiteral("drop")); }

    void droppedNames()
    {
        QFETCH(QStringList, row);
        const QString name = row[1];
        QString error = row[2] == QStringLiteral("-") ? QString() : row[2];
        for (const char *song : {"x.wav", "X.WAV", "café.wav"})
            writeSong(QString::fromUtf8(song));
        if (error.endsWith(QLatin1Char('\n')))
            error += file(name);  // the message names the whole path
        m_view->dropFiles({file(name)});
        QVERIFY(loaded() && m_prompter.questions.empty());
        if (error == QStringLiteral("?"))  // the reader's own message
            QCOMPARE(m_prompter.errors.size(), size_t(1));
        else
            QCOMPARE(m_prompter.errors, error.isEmpty() ? std::vector<std::string>{}
                                                        : std::vector<std::string>{error.toStdString()});
        QCOMPARE(m_view->scenario() && m_view->engine(), error.isEmpty());
        if (!error.isEmpty())
            return;
        QCOMPARE(QString::fromStdString(std::string(m_view->scenario()->audio.value())), file(name));
        QVERIFY(!m_view->scenario()->path.has_value());
        QCOMPARE(m_view->timeLine().total(), m_view->engine()->clip().endPosition());
    }

    // Two files at once, or a file while the song plays, are refused with a message and change
    // nothing.
    void refusedDrops()
    {
        writeSong("a.wav");
        m_view->dropFiles({file("a.wav"), file("a.wav")});
        QVERIFY(!m_view->scenario() && !m_view->pendingScenario() && !m_view->pendingAudio());
        QVERIFY(openSong());
        Scenario *before = m_view->scenario();
        CAudioPlay *engine = m_view->engine();
        play();
        m_view->dropFiles({file("a.wav")});
        m_view->openFile(file("a.wav"));
        const std::string playing = "再生中のファイルドロップには対応していません。";
        QCOMPARE(m_prompter.errors, (std::vector<std::string>{"複数のファイルのドロップには対応していません。", playing, playing}));
        QVERIFY(m_prompter.questions.empty() && m_view->scenario() == before && m_view->engine() == engine);
        QVERIFY(!m_view->pendingScenario() && !m_view->pendingAudio());
    }

    void dropWhileLoadingAbandonsTheFirstLoad()
    {
        writeSong("a.wav");
        writeSong("b.wav", 4);
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
        m_view->dropFiles({file("a.wav")});
        QVERIFY(m_view->pendingAudio() && waitWithoutEvents([&] { return m_devicesMade == 1; }));
        m_view->dropFiles({file("b.wav")});
        QCOMPARE(m_prompter.questions, std::vector<std::string>{"現在のシナリオを破棄しますか？"});
        // The first engine loaded, replied and ended (its device is gone with its thread).
        const bool firstEnded = waitWithoutEvents([&] { return m_devicesMade == 2 && !firstCard->stats().attached; });
        if (!firstEnded)
            release.set_value();
        QVERIFY(firstEnded);
        QCoreApplication::processEvents();
        // Its reply changed nothing: the second file is still loading.
        const bool stillLoading = !m_view->scenario() && m_view->pendingAudio();
        release.set_value();
        QVERIFY(stillLoading && loaded() && m_view->scenario() && m_prompter.errors.empty());
        QCOMPARE(QString::fromStdString(std::string(*m_view->scenario()->audio)), file("b.wav"));
        QCOMPARE(m_view->engine()->clip().bufferSize(), 4 * 65536);
    }

    // The menus and the tool bar as data/commands.tsv lists them, with the commands enabled in
    // each state of the window. The speed items carry the engine's divisor as their check mark;
    // the editor panels rest while the song plays.
    void commands_data() { addTags({"none", "new", "loading", "ready", "playing", "paused"}); }

    void commands()
    {
        const QByteArray state = QTest::currentDataTag();
        const int column = QByteArrayList{"none", "new", "loading", "ready", "playing", "paused"}.indexOf(state);
        writeSong("a.wav");
        if (state == "new") {
            m_view->action(ID_NEW)->trigger();
        } else if (state != "none") {
            m_view->openFile(file("a.wav"));
            if (state != "loading")
                QVERIFY(loaded() && reachesState(CAudioPlay::Ready));
            if (state == "playing" || state == "paused")
                play();
            if (state == "paused") {
                m_card->advance(20000);
                m_view->action(ID_PAUSE)->trigger();
                QVERIFY(reachesState(CAudioPlay::Ready) && QTest::qWaitFor([this] { return m_view->action(ID_PLAY)->isEnabled(); }, 10000));
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
        QCOMPARE(QList<bool>({m_view->treePanel()->isEnabled(), m_view->propertyHost()->isEnabled()}), QList<bool>(2, state != "playing"));
    }

    void leftWhileStoppedMarksAtFirstTick()
    {
        QVERIFY(openSong());
        QTest::keyClick(m_view, Qt::Key_Left);
        QTest::keyClick(m_view, Qt::Key_Up);  // does nothing
        m_view->onTimerTick();                // not playing: the request waits
        QCOMPARE(m_view->addRequest(0), 1);
        QVERIFY(marks(0).empty());
        play();
        m_card->advance(100000);
        const auto [ms, frames] = position();
        m_view->onTimerTick();
        QCOMPARE(marks(0).size(), size_t(1));
        QCOMPARE(QList<int>({marks(0)[0].time, marks(0)[0].position}), QList<int>({ms, frames}));
        QVERIFY(m_view->addRequest(0) == 0 && m_view->markStrip(0)->showsLit());
        QVERIFY(marks(1).empty() && marks(2).empty());
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
        m_view->action(divisor == 1 ? ID_SPEED_NORMAL : divisor == 2 ? ID_SPEED_HALF : ID_SPEED_QUARTER)->trigger();
        play();
        m_card->advance(400000);
        const auto [ms, frames] = position();

        QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        using namespace std::chrono;
        const auto sent = steady_clock::now();
        if (ageMs > 0)
            press.setTimestamp(quint32(duration_cast<milliseconds>(sent.time_since_epoch()).count() - ageMs));
        QApplication::sendEvent(m_view, &press);
        // A stamped press ages on the wall clock while the event is delivered: on a busy machine
        // that may be a millisecond or two, which the mark rightly counts.
        const double deliveryMs = ageMs > 0 ? duration<double, std::milli>(steady_clock::now() - sent).count() : 0.0;
        m_card->advance(50000);  // the tick comes 50 ms later
        m_view->onTimerTick();

        QCOMPARE(marks(1).size(), size_t(1));
        // The stamp counts from the middle of its millisecond.
        const double songAgoMs = ((ageMs > 0 ? ageMs - 0.5 : 0.0) + offsetMs) / divisor;
        const double error = marks(1)[0].time - (ms - songAgoMs);
        QVERIFY2(error <= 1.0 && error >= -1.0 - deliveryMs / divisor,
                 qPrintable(QStringLiteral("mark at %1 ms, pressed at %2 ms").arg(marks(1)[0].time).arg(ms - songAgoMs)));
        QVERIFY(std::abs(marks(1)[0].position - (frames - songAgoMs * 44.1)) <= 45);
        QVERIFY(m_view->markStrip(1)->showsLit());  // the tick lights the strip
    }

    // Ctrl+Z and Ctrl+Y take back and make again a deletion of a tapped mark (how steps go back
    // and forth the history proves); a new song forgets the steps.
    void undoRedoMarks()
    {
        QVERIFY(openSong());
        QAction *undo = m_frame->action(ID_UNDO), *redo = m_frame->action(ID_REDO);
        QVERIFY(!undo->isEnabled() && !redo->isEnabled());
        play();
        for (int64_t us : {100000, 200000}) {
            m_card->advance(us);
            QTest::keyClick(m_view, Qt::Key_Right);
            m_view->onTimerTick();
        }
        const std::vector<Mark> two = marks(2);
        QCOMPARE(two.size(), size_t(2));
        m_view->markStrips().strip(2).setHoverPos(two[0].position);
        QTest::keyClick(m_view, Qt::Key_Delete);
        QCOMPARE(marks(2), std::vector<Mark>{two[1]});
        QTest::keyClick(m_view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(marks(2), two);
        QVERIFY(undo->isEnabled() && redo->isEnabled());
        QTest::keyClick(m_view, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(marks(2), std::vector<Mark>{two[1]});
        QVERIFY(!redo->isEnabled());
        stop();
        QVERIFY(openSong());
        QVERIFY(!undo->isEnabled() && !redo->isEnabled() && marks(2).empty());
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
            const int noise = (i * 7) % 31 - 15, wild = i < 4 ? 200 : 0;
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
        test::BeatSong song;
        QVERIFY(openBeatSong(recipe, &song));
        QVERIFY(QTest::qWaitFor([this] { return m_view->taps().onsetsReady(); }, 10000));
        m_view->action(ID_SNAP_ONSETS)->trigger();
        play();
        int64_t nowUs = 0;
        for (double ms : {song.beatsMs[1] + 25, song.beatsMs[2] + 250}) {  // the second halfway to the next kick
            advanceTo(nowUs, int64_t(ms * 1000));
            QTest::keyClick(m_view, Qt::Key_Down);
            m_view->onTimerTick();
        }
        QCOMPARE(marks(1).size(), size_t(2));
        QVERIFY2(std::abs(marks(1)[0].time - song.beatsMs[1]) <= 2, qPrintable(QString::number(marks(1)[0].time)));
        QVERIFY(std::abs(marks(1)[1].time - (song.beatsMs[2] + 250)) <= 1);
        m_view->action(ID_UNDO)->trigger();  // the second tap
        m_view->action(ID_UNDO)->trigger();  // the snap
        QCOMPARE(marks(1).size(), size_t(1));
        QVERIFY(std::abs(marks(1)[0].time - (song.beatsMs[1] + 25)) <= 1);
    }

    // The click command hands the tapped marks to the engine: with it checked, a tap made while
    // playing is heard from the next pass on, on its own sample. How clicks sound the engine's
    // tests prove.
    void clicksAtMarksWhenChecked()
    {
        test::writeFile(file("silence.wav").toStdString(), test::wavBytes({}, std::vector<uint8_t>(4 * 65536, 0)));
        m_card->setRecording(true, true);
        m_view->openFile(file("silence.wav"));
        QVERIFY(loaded());
        // Where anything sounds in the n-th block written; -1: silence.
        auto firstSound = [this](size_t write) -> int64_t {
            const std::vector<uint8_t> bytes = m_card->written().at(write).bytes;
            const auto loud = std::find_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; });
            return loud == bytes.end() ? -1 : (loud - bytes.begin()) / 4;  // 4 bytes a stereo frame
        };
        m_view->action(ID_MARK_CLICKS)->trigger();
        const size_t firstPass = m_card->written().size();
        play();
        m_card->advance(100000);
        QTest::keyClick(m_view, Qt::Key_Left);
        m_view->onTimerTick();
        QCOMPARE(firstSound(firstPass), int64_t(-1));  // filled before the tap
        stop();
        const size_t writes = m_card->written().size();
        play();
        QVERIFY(QTest::qWaitFor([&] { return m_card->written().size() > writes; }, 10000));
        QCOMPARE(firstSound(writes), int64_t(marks(0).back().position));
    }

    // The label commands: marks written out come back; a bad file changes nothing and names its
    // line; reading is one step for undo.
    void marksOutAndIn()
    {
        writeText("bad.txt", "0.5\t0.5\tstrip0\n0.7\tx\tstrip1\n");
        QVERIFY(openSong());
        MarkStrips &strips = m_view->markStrips();
        strips.strip(0).addMark(1000, 44100);
        strips.strip(2).addMark(500, 22050);
        const std::vector<Mark> zero = marks(0), two = marks(2);
        m_files.labelsOut = {file("marks.txt")};
        m_files.labelsIn = {file("bad.txt"), file("marks.txt")};
        m_view->action(ID_EXPORT_MARKS)->trigger();
        m_view->action(ID_IMPORT_MARKS)->trigger();
        QCOMPARE(m_prompter.errors, std::vector<std::string>{"マークの読み込みに失敗しました。\nbad.txt : 2行目 :\n"
                                                             "時刻が秒の数値ではありません。"});
        QCOMPARE(marks(0), zero);
        strips.strip(0).splice(0, 1, {});
        strips.strip(2).splice(0, 1, {});
        m_view->action(ID_IMPORT_MARKS)->trigger();
        QVERIFY(marks(0) == zero && marks(2) == two);
        m_view->action(ID_UNDO)->trigger();
        QVERIFY(marks(0).empty() && marks(2).empty());
    }

    // Cancel and an unchanged OK of the properties keep everything, a refused value says so; a
    // change reloads the song on a new engine: tapped marks go, the checkpoint comes back at its
    // frame's new time.
    void propertiesChangeReloadsOnNewEngine()
    {
        QVERIFY(openScenario());
        QCOMPARE(m_devicesMade, 1);
        QVERIFY(marks(1).size() == 1 && marks(3).size() == 2);  // the checkpoint; key frames 0 and 59
        play();
        QTest::keyClick(m_view, Qt::Key_Right);
        m_card->advance(50000);
        m_view->onTimerTick();
        stop();
        QCOMPARE(marks(2).size(), size_t(1));
        for (PropertiesOutcome outcome : {PropertiesOutcome::Cancelled, PropertiesOutcome::Unchanged, PropertiesOutcome::Refused}) {
            m_properties = [outcome](Scenario &) { return outcome; };
            m_view->action(ID_PROPERTIES)->trigger();
        }
        QCOMPARE(m_prompter.errors, std::vector<std::string>{"設定値に問題があります。"});
        QVERIFY(!m_view->pendingAudio());
        QCOMPARE(marks(2).size(), size_t(1));

        Scenario *scenario = m_view->scenario();
        m_properties = [](Scenario &s) {
            s.frameRate = 60;
            return PropertiesOutcome::Changed;
        };
        m_view->action(ID_PROPERTIES)->trigger();
        QVERIFY(m_view->pendingAudio() && !m_view->scenario());
        QVERIFY(loaded());
        QVERIFY(m_devicesMade == 2 && m_view->scenario() == scenario && scenario->frameRate == 60);
        QVERIFY(marks(2).empty() && marks(1).size() == 1);
        QCOMPARE(marks(1)[0].time, 250);
    }

    void failedSongAfterSetSongLeavesNoScenario()
    {
        QVERIFY(openSong());
        writeText("bad.wav", "RIFF not a song");
        m_files.songs.push_back(file("bad.wav"));
        m_view->action(ID_SET_SONG)->trigger();
        QVERIFY(loaded());
        QCOMPARE(m_prompter.errors, std::vector<std::string>{"オーディオ処理の初期化に失敗しました。"});
        QVERIFY(!m_view->scenario() && !m_view->pendingScenario() && !m_view->engine());
        QVERIFY(m_view->action(ID_NEW)->isEnabled() && !m_view->action(ID_SAVE)->isEnabled());
    }

    // Save asks for a name while the scenario has none (Cancel writes nothing), then no more; a
    // file that cannot be written says so (what the message names, the save helper's tests prove).
    void saveWithoutPathAsksForName()
    {
        writeSong("a.wav");
        m_view->dropFiles({file("a.wav")});
        QVERIFY(loaded());
        m_view->action(ID_SAVE)->trigger();  // cancelled
        QVERIFY(m_files.asked == 1 && !m_view->scenario()->path);
        m_files.saves.push_back(file("out.txt"));
        m_view->action(ID_SAVE)->trigger();
        m_view->action(ID_SAVE)->trigger();  // named now: asks nothing
        QCOMPARE(m_files.asked, 2);
        QVERIFY(QFile::exists(file("out.txt")) && m_prompter.errors.empty());
        m_files.saves.push_back(file("missing/out.txt"));
        m_view->action(ID_SAVE_AS)->trigger();
        QCOMPARE(m_prompter.errors.size(), size_t(1));
    }

    void saveAsksFirst_data() { addRows("window.tsv", QStringLiteral("save")); }

    // Ctrl+S over a file read earlier asks before it overwrites another program's changes or
    // writes out a hand-written scenario in full, and then keeps the original as s.txt.bak.
    // Declined, nothing is written; once saved, the file is the scenario's own and saving again
    // asks nothing.
    void saveAsksFirst()
    {
        QFETCH(QStringList, row);
        const QByteArray head = row[1] == QStringLiteral("-") ? QByteArray() : row[1].toUtf8();
        const QString changed = row[2] == QStringLiteral("-") ? QString() : row[2];
        const bool answer = row[3] == QStringLiteral("yes");
        const QStringList questions = row[4] == QStringLiteral("-") ? QStringList() : row[4].split(QStringLiteral("; "));
        writeText("inc.txt", "SCALE 1\n");
        writeText("s.txt", head + scenarioText(false));
        m_view->openFile(file("s.txt"));
        QVERIFY(loaded() && m_view->scenario());
        if (!changed.isEmpty()) {
            QFile other(file(changed));
            QVERIFY(other.open(QIODevice::Append) && other.write("\n") == 1);
        }
        const QByteArray before = contents("s.txt");
        m_prompter.answer = answer;
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QTest::keyClick(m_frame.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_prompter.questions.size(), size_t(questions.size()));
        for (qsizetype i = 0; i < questions.size(); ++i)
            QVERIFY2(QString::fromStdString(m_prompter.questions[size_t(i)]).contains(questions[i]),
                     m_prompter.questions[size_t(i)].c_str());
        QVERIFY(m_prompter.errors.empty());
        QCOMPARE(contents("s.txt") != before, answer);
        const bool flattened = answer && !questions.filter(QStringLiteral("として残します")).isEmpty();
        QCOMPARE(contents("s.txt.bak"), flattened ? before : QByteArray());
        if (flattened)
            QVERIFY(m_prompter.questions.back().find("元のファイルは " + file("s.txt.bak").toStdString()) != std::string::npos);
        if (answer) {
            m_prompter.questions.clear();
            QTest::keyClick(m_frame.get(), Qt::Key_S, Qt::ControlModifier);
            QVERIFY(m_prompter.questions.empty());
        }
    }

    // A scenario file is read on a thread of its own while the window shows its busy state and
    // keeps handling events; the size question of a large file is asked on the interface thread.
    void scenarioIsReadOffTheInterfaceThread_data() { addTags({"small", "large, read", "large, declined"}); }

    void scenarioIsReadOffTheInterfaceThread()
    {
        const QByteArray tag = QTest::currentDataTag();
        const int padding = tag.startsWith("large") ? 11 * 1024 * 1024 : 0;  // bytes of comment lines
        const bool answer = !tag.endsWith("declined");
        QByteArray text = scenarioText(false).replace("FRAMES\t60", "FRAMES\t2000000000");
        while (text.size() < padding)
            text += QByteArray(63, '#') + "\n";
        writeText("s.txt", text);
        m_prompter.answer = answer;
        m_view->openFile(file("s.txt"));
        QVERIFY(m_view->readingScenario() && !m_view->scenario());
        QVERIFY(!m_view->action(ID_NEW)->isEnabled() && !m_view->action(ID_OPEN)->isEnabled());
        QCOMPARE(m_frame->pane(PaneMessage)->text(), QStringLiteral("シナリオを読み込んでいます..."));
        QVERIFY(loaded());
        QCOMPARE(m_view->scenario() != nullptr, answer);
        QCOMPARE(m_prompter.questions.size(), size_t(padding > 0 ? 1 : 0));
        QCOMPARE(m_frame->pane(PaneMessage)->text(), QStringLiteral("レディ"));
        QVERIFY(m_prompter.errors.empty() && m_view->action(ID_NEW)->isEnabled());
        if (!answer)
            return;
        QCOMPARE(m_view->scenario()->prompter, static_cast<Prompter *>(&m_prompter));
        // Without a song the time line's total is the frame count and a tenth of it, saturating for
        // a scenario of nearly 2^31 frames; the key frames are on their strip (where, the strips
        // decide), checkpoints return to the strips only with a song.
        QVERIFY(!m_view->pendingAudio() && !m_view->engine());
        QCOMPARE(m_view->timeLine().total(), INT32_MAX);
        QVERIFY(marks(3).size() == 2 && marks(1).empty());
    }

    // New, a dropped file or an editor apply while the preview renders a heavy frame: the render
    // is cancelled instead of waited for, so its picture never shows (waiting, it would show).
    void replacingNeverWaitsForARender_data() { addTags({"new", "drop", "apply"}); }

    void replacingNeverWaitsForARender()
    {
        const QByteArray how = QTest::currentDataTag();
        writeText("heavy.txt", QByteArray::fromStdString(test::heavyScenarioText(20000, 800)));
        writeSong("a.wav");
        m_view->openFile(file("heavy.txt"));
        QVERIFY(loaded() && m_view->scenario());
        CImageWnd *preview = m_view->preview();
        if (how == "apply") {  // the ACTION's page, before the frame is asked for
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
        if (how == "new")
            m_view->action(ID_NEW)->trigger();
        else if (how == "drop")
            m_view->dropFiles({file("a.wav")});
        else
            QCOMPARE(m_view->propertyHost()->applyCurrentPage(), 0);
        QVERIFY(loaded() && !preview->isBusy());
        QVERIFY(ready.count() == 1 && !ready.at(0).at(1).toBool());
        QCOMPARE(preview->shownFrame(), -1);
        QVERIFY(m_view->scenario() && m_prompter.errors.empty());
        QCOMPARE(m_view->scenario()->screenWidth, how == "apply" ? 800 : 720);
    }

    // The beat command on a beat song: the chosen strip gets the beats (how well they fit the
    // kicks is the tracker's own test) on their sample frames, and the output text carries them.
    // While it runs, a progress window shows and the command (and the speed it must not change)
    // rests. The strip chooser cancelled, nothing runs.
    void detectedBeatsBecomeMarks()
    {
        test::BeatSongRecipe recipe;
        recipe.bpm = 120;
        recipe.seconds = 8;
        test::BeatSong song;
        QVERIFY(openBeatSong(recipe, &song));
        QAction *detect = m_frame->action(ID_DETECT_BEATS), *half = m_view->action(ID_SPEED_HALF);
        detect->trigger();
        QVERIFY(m_beatStripAsked == 1 && !m_view->detectingBeats() && detect->isEnabled());

        m_beatStrip = 1;
        detect->trigger();
        QVERIFY(m_view->detectingBeats() && m_view->beatProgress() && m_view->beatProgress()->isVisible());
        QCOMPARE(m_view->beatProgress()->maximum(), 0);  // busy: the tracker tells no progress
        QVERIFY(!m_view->beatProgress()->accessibleName().isEmpty());
        QVERIFY(!detect->isEnabled() && !half->isEnabled());
        QVERIFY(QTest::qWaitFor([this] { return !m_view->detectingBeats(); }, 20000));
        QVERIFY(!m_view->beatProgress() && detect->isEnabled() && half->isEnabled());
        QVERIFY(m_prompter.errors.empty() && marks(0).empty() && marks(2).empty());
        QVERIFY(marks(1).size() >= song.beatsMs.size() / 2);
        for (const Mark &mark : marks(1))
            QCOMPARE(mark.position, m_view->engine()->clip().msToSampleFrames(mark.time));
        m_view->action(ID_OUTPUT)->trigger();  // one CF line a mark
        QCOMPARE(QString::fromStdString(m_output).count("\tCF\t"), qsizetype(marks(1).size()));
    }

    // Beat detection stopped by a new song (which waits for the worker reading the old song) or
    // by the Cancel button of the progress window: no marks come, the command is back.
    void beatDetectionStops_data() { addTags({"new song", "cancel button"}); }

    void beatDetectionStops()
    {
        const bool cancel = QTest::currentDataTag() == QByteArray("cancel button");
        test::BeatSongRecipe recipe;
        recipe.seconds = 30;
        QVERIFY(openBeatSong(recipe));
        m_beatStrip = 0;
        m_view->action(ID_DETECT_BEATS)->trigger();
        QVERIFY(m_view->detectingBeats() && m_view->beatProgress());
        auto *button = m_view->beatProgress()->findChild<QPushButton *>();
        QVERIFY(button && button->isVisible());
        if (cancel)
            QTest::mouseClick(button, Qt::LeftButton);
        else
            m_view->action(ID_NEW)->trigger();
        QVERIFY(!m_view->detectingBeats() && !m_view->beatProgress());
        QCOMPARE(m_view->engine() == nullptr, !cancel);
        if (cancel)
            QCOMPARE(m_frame->pane(PaneMessage)->text(), QStringLiteral("ビートの検出を取り消しました。"));
        QCOMPARE(m_view->action(ID_DETECT_BEATS)->isEnabled(), cancel);  // with no song it rests
        QTest::qWait(50);  // the worker's queued reply, if any, arrives and is ignored
        QVERIFY(marks(0).empty() && marks(1).empty() && marks(2).empty() && m_prompter.errors.empty());
    }

    // The follow command with the driven clock: each tick while playing asks the preview for the
    // frame at the cursor once the previous one is in; unchecked, ticks render nothing; stopping
    // leaves the last picture.
    void previewFollowsPlayback()
    {
        QVERIFY(openScenario());
        QAction *follow = m_frame->action(ID_FOLLOW_PREVIEW);
        QVERIFY(follow->isCheckable() && !follow->isChecked());
        CImageWnd *preview = m_view->preview();
        play();
        m_card->advance(22050);
        m_view->onTimerTick();
        QCOMPARE(preview->wantedFrame(), -1);  // off: nothing renders
        follow->trigger();
        // Sample frames at 44.1 kHz to the frame at 30 per second that the cursor is on.
        for (int32_t step : {0, 22050, 1470, 0, 33075}) {
            m_card->advance(step);
            const int32_t expected = int32_t(position().first / 1000.0 * 30 + 0.5);
            m_view->onTimerTick();
            QCOMPARE(QList<int>({m_view->previewFrame(), preview->wantedFrame()}), QList<int>(2, expected));
            QVERIFY(QTest::qWaitFor([&] { return !preview->isBusy() && preview->shownFrame() == expected; }, 10000));
        }
        const int32_t last = preview->shownFrame();
        stop();
        m_view->onTimerTick();
        QVERIFY(preview->shownFrame() == last && !preview->viewImage().isNull());
    }

    void layoutFollowsTheWidth()
    {
        m_frame->resize(1250, 900);
        QTRY_COMPARE(m_frame->size(), QSize(1250, 900));
        const int cy = m_view->height(), w = m_view->width() - 250;
        QCOMPARE(m_view->waveformStrip()->geometry(), QRect(0, 0, w / 5, cy));
        for (int k = 0; k < 4; ++k)
            QCOMPARE(m_view->markStrip(k)->geometry(), QRect(w * (k + 2) / 10, 0, w / 10, cy));
        QCOMPARE(m_view->treePanel()->geometry(), QRect(w * 6 / 10, 0, w * 4 / 10, cy));
        QCOMPARE(m_view->propertyHost()->geometry(), QRect(w, 0, 250, 360));
        QCOMPARE(m_view->preview()->geometry(), QRect(w, 360, 250, cy - 360));
        m_frame->resize(100, 100);  // never smaller than its minimum
        QCOMPARE(m_frame->size(), QSize(800, 600));
    }

    // The real question boxes: the button that answers yes. (Each box must have the button.)
    void messageBoxes()
    {
        MessageBoxPrompter prompter(m_frame.get());
        const std::pair<QMessageBox::StandardButton, bool> presses[] = {
            {QMessageBox::Yes, true}, {QMessageBox::No, false}, {QMessageBox::Ok, true}, {QMessageBox::Cancel, false}};
        for (const auto &[press, answer] : presses) {
            QTimer::singleShot(0, this, [button = press] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                    box->button(button)->click();
            });
            const bool yesNo = press == QMessageBox::Yes || press == QMessageBox::No;
            QCOMPARE(yesNo ? prompter.askYesNo("?") : prompter.askOkCancel("?"), answer);
        }
    }

    // The real strip choice: three strips in a named list; OK gives the chosen one, Cancel none.
    void beatStripDialog()
    {
        for (const bool ok : {true, false}) {
            QString seen;
            QTimer::singleShot(0, this, [&] {
                QWidget *dialog = QApplication::activeModalWidget();
                auto *combo = dialog ? dialog->findChild<QComboBox *>() : nullptr;
                auto *buttons = dialog ? dialog->findChild<QDialogButtonBox *>() : nullptr;
                if (!combo || !buttons)
                    return;
                seen = QString::number(combo->count()) + u' ' + combo->accessibleName();
                combo->setCurrentIndex(2);
                buttons->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
            });
            QCOMPARE(chooseBeatStripDialog(m_frame.get()), ok ? std::optional<int>(2) : std::nullopt);
            QVERIFY2(seen.startsWith("3 ") && seen.size() > 2, qPrintable(seen));
        }
    }

    // Every status-bar pane tells a screen reader its text from the start, "レディ" included.
    void statusPanesSpeakFromTheStart()
    {
        QCOMPARE(m_frame->pane(PaneMessage)->text(), QStringLiteral("レディ"));
        for (int i = 0; i < 4; ++i)
            QVERIFY(!m_frame->pane(i)->accessibleName().isEmpty() && m_frame->pane(i)->accessibleDescription() == m_frame->pane(i)->text());
    }

    // The program given a song with VORN_QUIT_WHEN_READY says "ready" and quits once its
    // scenario is in.
    void quitsWhenReady()
    {
        writeSong("a.wav");
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VORN_QUIT_WHEN_READY", "1");
        program.setProcessEnvironment(env);  // and the test's own platform, off screen under CTest
        program.start(VORN_PROGRAM, {file("a.wav")});
        if (!program.waitForFinished(20000))
            program.kill();
        program.waitForFinished(5000);
        QVERIFY(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
        QVERIFY(program.readAllStandardOutput().contains("ready"));
    }

private:
    QString file(const QString &name) const { return m_dir->filePath(name); }

    void writeSong(const QString &name, int blocks = 8)
    {
        test::writeFile(file(name).toStdString(), test::wavBytes({}, test::indexData(size_t(blocks) * 65536, 16)));
    }

    void writeText(const QString &name, const QByteArray &bytes)
    {
        test::writeFile(file(name).toStdString(), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }

    // The test scenario, with its song.wav or without a song.
    static QByteArray scenarioText(bool withSong)
    {
        QFile in(QStringLiteral(VORN_APP_TEST_DATA "/song.txt"));
        const QByteArray text = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
        return withSong ? text : QByteArray(text).replace("AUDIO\t\"song.wav\"\n", "");
    }
    // Written, opened and loaded: a song, or the test scenario with its song as s.txt.
    bool openSong(const QString &name = QStringLiteral("a.wav"))
    {
        writeSong(name);
        m_view->openFile(file(name));
        return loaded();
    }

    const std::vector<Mark> &marks(int strip) const { return m_view->markStrips().strip(strip).marks(); }

    QByteArray contents(const QString &name) const
    {
        QFile in(file(name));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

    // A beat song written as beats.wav, opened and ready to play.
    bool openBeatSong(const test::BeatSongRecipe &recipe, test::BeatSong *song = nullptr)
    {
        const test::BeatSong made = test::beatSong(recipe);
        test::writeFile(file("beats.wav").toStdString(), made.wav);
        if (song)
            *song = made;
        m_view->openFile(file("beats.wav"));
        return loaded() && reachesState(CAudioPlay::Ready);
    }

    bool openScenario()
    {
        writeSong("song.wav");
        writeText("s.txt", scenarioText(true));
        m_view->openFile(file("s.txt"));
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
        services.settingsFile = file("settings.ini");
        m_frame = std::make_unique<CMainFrame>(std::move(services));
        m_view = m_frame->view();
        m_frame->show();
    }
    // Waits for the engine thread's replies (not for sound: the card's clock stands still).
    bool loaded()
    {
        return QTest::qWaitFor([this] { return !m_view->readingScenario() && !m_view->pendingAudio(); }, 10000);
    }

    bool reachesState(CAudioPlay::State state)
    {
        const bool reached = QTest::qWaitFor(
            [this, state] { return m_view->engine() && m_view->engine()->state() == state; }, 10000);
        QCoreApplication::processEvents();  // the engine's replies refresh the commands
        return reached;
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

    // Moves the card's clock in steps shorter than a block, letting the engine refill.
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
