// The preview window with a real scenario: one render at a time, pictures fitted once and
// refitted on resize without rendering, the status texts, messages of the render thread shown
// on the interface thread, a failed frame said so, and detaching, which cancels the render.
#include "app/imagewnd.h"
#include "imaging/qimageconvert.h"
#include "imaging/resample.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "support/heavyscenario.h"
#include "support/recordingprompter.h"
#include "tablerows.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fstream>
#include <memory>
#include <string>

using namespace vorn;

namespace {

constexpr int Edge = 2;

// Records the thread each message arrives on.
class ThreadPrompter final : public Prompter {
public:
    void showError(std::string_view text) override
    {
        errors.emplace_back(text);
        threads.push_back(QThread::currentThread());
    }
    bool askYesNo(std::string_view) override { return true; }
    std::vector<std::string> errors;
    std::vector<QThread *> threads;
};

} // namespace

class TestImageWnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_scenario = read("red.txt", m_prompter);
        QVERIFY2(m_scenario, m_prompter.lastError().c_str());
        QCOMPARE(m_scenario->totalFrames, 900);
    }


    // The second request arrives while the first renders and is dropped; asked again once the
    // first has arrived, it renders. Frames outside the scenario, or without one, are dropped.
    void twoQuickRequestsRenderOnce()
    {
        CImageWnd window;
        window.resize(100 + 2 * Edge, 80 + 2 * Edge);
        window.setScenario(m_scenario.get());
        QSignalSpy status(&window, &CImageWnd::statusText);
        QSignalSpy ready(&window, &CImageWnd::frameReady);
        for (int outside : {-1, 900}) {  // dropped: nothing renders or is said
            window.showFrame(outside);
            QVERIFY(!window.isBusy() && status.isEmpty() && window.wantedFrame() == -1);
        }
        window.showFrame(899);
        window.showFrame(5);
        QVERIFY(window.isBusy());
        QCOMPARE(window.wantedFrame(), 899);
        QVERIFY(ready.wait(10000));
        QVERIFY(!window.isBusy());
        QCoreApplication::processEvents();
        QCOMPARE(ready.count(), 1);
        QVERIFY(ready.at(0).at(0).toInt() == 899 && ready.at(0).at(1).toBool() && window.shownFrame() == 899);
        QCOMPARE(status.count(), 2);  // in pane 3
        QCOMPARE((QStringList{status.at(0).at(0).toString(), status.at(0).at(1).toString(), status.at(1).at(1).toString()}),
                 (QStringList{"3", "レンダリング中", "899"}));
        window.showFrame(5);
        QVERIFY(ready.wait(10000));
        QVERIFY(ready.count() == 2 && ready.at(1).at(0).toInt() == 5);
        QCOMPARE(status.last().at(1).toString(), QStringLiteral("5"));
        window.detachScenario();
        QVERIFY(m_prompter.errors.empty());
        CImageWnd empty;  // no scenario: dropped
        empty.showFrame(0);
        QVERIFY(!empty.isBusy() && empty.wantedFrame() == -1);
    }

    // Black without a picture. The fitted picture fills the client size (the 64 x 48 red picture
    // scaled inside, blitted one pixel in); a resize makes it again from the held picture without
    // a render.
    void resizeRefitsWithoutRendering()
    {
        CImageWnd window;
        window.resize(100 + 2 * Edge, 80 + 2 * Edge);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.accessibleName(), QStringLiteral("プレビュー"));
        const QColor black(0, 0, 0), red(255, 0, 0);
        auto expect = [&window](std::initializer_list<std::pair<QPoint, QColor>> probes) {
            const QImage image = window.grab().toImage();
            for (const auto &[p, colour] : probes)
                QCOMPARE(image.pixelColor(p + QPoint(Edge, Edge)).toRgb(), colour);
        };
        expect({{{0, 0}, black}, {{50, 40}, black}, {{99, 79}, black}});

        window.setScenario(m_scenario.get());
        QSignalSpy ready(&window, &CImageWnd::frameReady);
        window.showFrame(10);
        QVERIFY(ready.wait(10000));
        QCOMPARE(window.viewImage().size(), QSize(100, 80));
        // 100 x 75 inside 100 x 80: bars of two rows above, blitted from (1, 1).
        expect({{{0, 0}, black}, {{50, 40}, red}, {{0, 40}, black}, {{1, 40}, red}, {{50, 2}, black}, {{50, 3}, red}});

        QSignalSpy status(&window, &CImageWnd::statusText);
        window.resize(200 + 2 * Edge, 100 + 2 * Edge);
        QVERIFY(!window.isBusy());
        QCoreApplication::processEvents();
        QVERIFY(ready.count() == 1 && status.isEmpty());
        QCOMPARE(window.viewImage().size(), QSize(200, 100));
        const QImage image = window.grab().toImage();
        // The resampler may round the enlarged red a step down.
        const QColor centre = image.pixelColor(Edge + 100, Edge + 50).toRgb();
        QVERIFY2(centre.red() >= 250 && centre.green() == 0 && centre.blue() == 0,
                 qPrintable(centre.name()));
        QCOMPARE(image.pixelColor(Edge + 20, Edge + 50).toRgb(), black);  // bars of 33
        window.detachScenario();
    }

    // A drawing failure during the render is reported through the scenario's own prompter, on the
    // interface thread, after the render; the pane goes back from "レンダリング中".
    void renderMessagesReachTheInterfaceThread()
    {
        ThreadPrompter prompter;
        std::unique_ptr<Scenario> broken = read("broken.txt", prompter);
        QVERIFY(broken && prompter.errors.empty());
        CImageWnd window;
        window.resize(100 + 2 * Edge, 80 + 2 * Edge);
        window.setScenario(broken.get());
        QSignalSpy status(&window, &CImageWnd::statusText);
        QSignalSpy ready(&window, &CImageWnd::frameReady);
        window.showFrame(2);
        QVERIFY(ready.wait(10000));
        QVERIFY(!prompter.errors.empty() && prompter.errors.front() == "ビットマップの作成に失敗しました。");
        // Compared as pointers only: the render thread's own QThread is gone by now.
        for (QThread *thread : prompter.threads)
            QVERIFY(thread == QThread::currentThread());
        QCOMPARE(broken->prompter, &prompter);
        // The window says which frame failed, in the pane and over the picture it keeps.
        QCOMPARE(window.failedFrame(), 2);
        QCOMPARE(status.last().at(1).toString(), QStringLiteral("2 作成失敗"));
        QCOMPARE(window.accessibleDescription(), QStringLiteral("フレーム 2 の画像を作成できませんでした。"));
        window.detachScenario();
        QCOMPARE(window.failedFrame(), -1);
    }

    // Detaching while a render runs cancels it: nothing of it is shown or said, every picture goes
    // back, and the notification that arrives afterwards changes nothing. A heavy frame cancelled
    // part way leaves no half-made picture in the scenario's caches: rendered again, it is whole.
    void detachCancelsTheRender_data() { test::addTags({"light", "heavy"}); }

    void detachCancelsTheRender()
    {
        const bool heavy = QTest::currentDataTag() == QByteArray("heavy");
        test::RecordingPrompter prompter;
        std::unique_ptr<Scenario> scenario = read(heavy ? "heavy.txt" : "red.txt", prompter);
        QVERIFY(scenario);
        CImageWnd window;
        window.resize(100 + 2 * Edge, 80 + 2 * Edge);
        window.setScenario(scenario.get());
        QSignalSpy ready(&window, &CImageWnd::frameReady);
        window.showFrame(7);
        if (heavy)
            QTest::qWait(30);  // into the polygon's rows
        window.detachScenario();
        QVERIFY(!window.isBusy() && !window.scenario() && window.viewImage().isNull() && prompter.errors.empty());
        QVERIFY(ready.count() == 1 && !ready.at(0).at(1).toBool());
        QVERIFY(window.shownFrame() == -1 && window.failedFrame() == -1);
        QCOMPARE(scenario->prompter, static_cast<Prompter *>(&prompter));
        QCoreApplication::processEvents();
        QCOMPARE(ready.count(), 1);
        window.showFrame(8);
        QVERIFY(!window.isBusy());

        // Rendered again to the end, the frame is the one a fresh copy of the scenario makes.
        window.setScenario(scenario.get());
        window.showFrame(7);
        QVERIFY(ready.wait(60000));
        QCOMPARE(window.shownFrame(), 7);
        std::unique_ptr<Scenario> fresh = read(heavy ? "heavy.txt" : "red.txt", prompter);
        QVERIFY(fresh);
        ImageBuffer *picture = fresh->render(7);
        QVERIFY(picture);
        const ImagePtr fitted = FitImage(picture, 100, 80, FIT_INSIDE);
        fresh->release(picture, 7);
        QCOMPARE(window.viewImage(), ImageBufferToQImage(*fitted, AlphaUse::Ignore));
        window.detachScenario();
    }

private:
    // A scenario of data/, or the heavy one written out, read and linked.
    std::unique_ptr<Scenario> read(const char *name, Prompter &prompter)
    {
        const bool heavy = name == std::string_view("heavy.txt");
        const std::string path = heavy ? m_dir.filePath(name).toStdString() : std::string(VORN_APP_TEST_DATA "/") + name;
        if (heavy)
            std::ofstream(path, std::ios::binary) << test::heavyScenarioText();
        auto scenario = std::make_unique<Scenario>();
        scenario->prompter = &prompter;
        if (load(*scenario, path) != 0 || link(*scenario) != 0)
            return nullptr;
        return scenario;
    }

    QTemporaryDir m_dir;
    test::RecordingPrompter m_prompter;
    std::unique_ptr<Scenario> m_scenario;
};

QTEST_MAIN(TestImageWnd)
#include "tst_imagewnd.moc"
