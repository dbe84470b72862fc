// The main window's speed as a user meets it: a key tap to its mark while the strips repaint,
// a click on a mark to its picture in the preview, New while a heavy frame renders, and
// start-up with the demo song against a minimal Qt Widgets window.
#include "app/imagewnd.h"
#include "app/mainframe.h"
#include "app/mainview.h"
#include "app/markwnd.h"
#include "app/shellservices.h"
#include "audio/portaudio/portaudiodevice.h"
#include "audio/simulateddevice.h"
#include "scenario/model/scenario.h"
#include "support/heavyscenario.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace vorn;

namespace {

const QString DemoScenario = QStringLiteral(VORN_SOURCE_DIR "/examples/demo/demo.txt");

class SilentPrompter final : public ShellPrompter {
public:
    void showError(std::string_view) override {}
    bool askYesNo(std::string_view) override { return true; }
    bool askOkCancel(std::string_view) override { return true; }
};

class NoFiles final : public FileChooser {
public:
    std::optional<QString> openScenario() override { return std::nullopt; }
    std::optional<QString> saveScenario() override { return std::nullopt; }
    std::optional<QString> openSong() override { return std::nullopt; }
};

QApplication &application()
{
    static int argc = 1;
    static char name[] = "bench_mainview";
    static char *argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until `done` holds or the time is up. QTest::qWait and qWaitFor sleep
// up to 10 ms between rounds of events, which would hold back the 5 ms timer that is measured.
bool spin(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer wake;  // wakes the loop when nothing else does
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(1);
    while (!done()) {
        if (elapsed.elapsed() >= timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void spinFor(int ms)
{
    QElapsedTimer elapsed;
    elapsed.start();
    spin([&] { return elapsed.elapsed() >= ms; }, ms + 1000);
}

// The window on the demo scenario and song, playing on the simulated device's real clock, or
// on the program's own device (a PulseAudio null sink in a test session).
struct DemoWindow {
    SilentPrompter prompter;
    NoFiles files;
    std::unique_ptr<CMainFrame> frame;
    CMainView *view = nullptr;

    explicit DemoWindow(int timerPeriodMs = 5, bool tapsOnTick = false, bool realDevice = false)
    {
        application();
        ShellServices services;
        services.prompter = &prompter;
        services.files = &files;
        if (!realDevice) {
            services.deviceFactory = [] {
                return std::make_unique<SimulatedDevice>(
                    std::make_shared<SimulatedSoundCard>(SimulatedSoundCard::Clock::RealTime));
            };
        }
        services.timerPeriodMs = timerPeriodMs;
        services.tapsOnTick = tapsOnTick;
        services.calibrateTaps = [](QWidget *, int) { return std::optional<int>(); };
        frame = std::make_unique<CMainFrame>(std::move(services));
        view = frame->view();
        frame->resize(1280, 960);
        frame->show();
        view->openFile(DemoScenario);
        spin([this] { return view->engine() && !view->pendingAudio(); }, 20000);
    }
    ~DemoWindow()
    {
        frame.reset();
        CMainView::waitForEngines(std::chrono::seconds(10));
    }
    bool ready() const { return view->engine() && view->scenario(); }
};

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1) + 0.5)];
}

// A key on the view to its mark: |mark time - playback time at the key| over 200 taps, with
// the timer ticking and the strips repainting (cursor, lit flashes) between the taps. Arguments:
// the preview follows playback (1) or not; the key is taken when pressed (1) or at the next
// tick as before (0), side by side; the simulated clock (0) or the program's own device (1).
void BM_TapToMark(benchmark::State &state)
{
    const bool realDevice = state.range(2) != 0;
    if (realDevice && (!createDefaultSoundDevice() || soundDeviceMissing())) {
        state.SkipWithError("no sound device");
        return;
    }
    DemoWindow window(5, state.range(1) == 0, realDevice);
    if (!window.ready()) {
        state.SkipWithError("the demo did not load");
        return;
    }
    CMainView *view = window.view;
    view->action(ID_FOLLOW_PREVIEW)->setChecked(state.range(0) != 0);
    std::vector<double> errors;
    for (auto _ : state) {
        errors.clear();
        view->action(ID_STOP)->trigger();
        spin([view] { return view->engine()->state() == CAudioPlay::Ready; }, 5000);
        view->action(ID_PLAY)->trigger();
        spin([view] { return view->isPlaying(); }, 5000);
        spinFor(100);
        const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Down, Qt::Key_Right};
        for (int tap = 0; tap < 200; ++tap) {
            const int strip = tap % 3;
            spinFor(20 + (tap * 7) % 20);  // off the tick grid
            const size_t before = view->markStrips().strip(strip).marks().size();
            int32_t keyMs = 0;
            int32_t keyPos = 0;
            if (view->engine()->position(keyMs, keyPos) != 0)
                continue;
            QTest::keyClick(view, keys[strip]);
            spin(
                [&] { return view->markStrips().strip(strip).marks().size() > before; }, 1000);
            const auto &marks = view->markStrips().strip(strip).marks();
            if (marks.size() > before)
                errors.push_back(std::abs(double(marks.back().time - keyMs)));
        }
    }
    if (errors.size() < 190) {
        state.SkipWithError("too few marks");
        return;
    }
    state.counters["taps"] = double(errors.size());
    state.counters["median_ms"] = percentile(errors, 0.5);
    state.counters["p95_ms"] = percentile(errors, 0.95);
    state.counters["worst_ms"] = *std::max_element(errors.begin(), errors.end());
}
BENCHMARK(BM_TapToMark)
    ->ArgNames({"preview", "at_press", "device"})
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The demo playing at 1x with the preview following: distinct frames painted per second over
// 3 s, and the gaps between timer ticks meanwhile (the render worker must not hold them back).
void BM_FollowPreview(benchmark::State &state)
{
    DemoWindow window;
    if (!window.ready()) {
        state.SkipWithError("the demo did not load");
        return;
    }
    CMainView *view = window.view;
    view->action(ID_FOLLOW_PREVIEW)->setChecked(true);
    int32_t lastShown = -1;
    int distinct = 0;
    QObject::connect(view->preview(), &CImageWnd::frameReady, view, [&](int32_t frame, bool shown) {
        if (shown && frame != lastShown) {
            lastShown = frame;
            ++distinct;
        }
    });
    // The longest the interface thread was away from its event loop (the spin wakes it every
    // millisecond): as long may the 5 ms tick have been held back.
    double worstGapMs = 0;
    double seconds = 0;
    for (auto _ : state) {
        view->action(ID_STOP)->trigger();
        spin([view] { return view->engine()->state() == CAudioPlay::Ready; }, 5000);
        view->action(ID_PLAY)->trigger();
        spin([view] { return view->isPlaying(); }, 5000);
        spinFor(200);  // past the first, cold frames
        distinct = 0;
        worstGapMs = 0;
        QElapsedTimer elapsed;
        elapsed.start();
        qint64 lastRound = 0;
        spin(
            [&] {
                const qint64 now = elapsed.nsecsElapsed();
                worstGapMs = std::max(worstGapMs, double(now - lastRound) / 1e6);
                lastRound = now;
                return now >= qint64(3000) * 1000000;
            },
            10000);
        seconds = double(elapsed.nsecsElapsed()) / 1e9;
    }
    if (!view->isPlaying()) {
        state.SkipWithError("the demo stopped before the end of the measurement");
        return;
    }
    state.counters["frames_per_s"] = double(distinct) / seconds;
    state.counters["worst_loop_gap_ms"] = worstGapMs;
}
BENCHMARK(BM_FollowPreview)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A click on a mark to its picture painted in the preview, warm (the frames were rendered
// before): two marks clicked in turn.
void BM_ClickMarkToPicture(benchmark::State &state)
{
    DemoWindow window;
    if (!window.ready()) {
        state.SkipWithError("the demo did not load");
        return;
    }
    CMainView *view = window.view;
    CMarkWnd *strip = view->markStrip(0);
    const AudioClip &clip = view->engine()->clip();
    // Marks at 10 s and 20 s of the song.
    const int32_t positions[] = {clip.msToSampleFrames(10000), clip.msToSampleFrames(20000)};
    for (int32_t p : positions)
        strip->addMark(clip.sampleFramesToMs(p), p);
    CImageWnd *preview = view->preview();
    auto click = [&](int32_t position) {
        const QPoint at(strip->width() / 2, strip->posToY(position) + strip->frameWidth());
        QTest::mouseMove(strip, at);
        const int32_t before = preview->shownFrame();
        QTest::mouseClick(strip, Qt::LeftButton, {}, at);
        spin([&] { return !preview->isBusy() && preview->shownFrame() != before; }, 10000);
        preview->repaint();
    };
    for (int32_t p : positions)  // warm the blocks' caches
        click(p);
    int i = 0;
    std::vector<double> times;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        click(positions[i++ % 2]);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    state.counters["median_ms"] = percentile(times, 0.5);
    state.counters["worst_ms"] = *std::max_element(times.begin(), times.end());
}
BENCHMARK(BM_ClickMarkToPicture)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

// New pressed while the preview renders a heavy frame (goal: New done within 100 ms), beside
// the time the same frame takes when left to finish.
void BM_NewWhileRenderingHeavyFrame(benchmark::State &state)
{
    application();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("heavy.txt"));
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly)) {
            state.SkipWithError("no temporary file");
            return;
        }
        out.write(QByteArray::fromStdString(test::heavyScenarioText(20000, 1000)));
    }
    SilentPrompter prompter;
    NoFiles files;
    ShellServices services;
    services.prompter = &prompter;
    services.files = &files;
    services.timerPeriodMs = 0;
    CMainFrame frame(std::move(services));
    CMainView *view = frame.view();
    frame.resize(1280, 960);
    frame.show();
    CImageWnd *preview = view->preview();
    auto open = [&] {
        view->openFile(path);
        return spin([&] { return view->scenario() && !view->readingScenario(); }, 20000) &&
               view->scenario()->totalFrames == 10;
    };
    if (!open()) {
        state.SkipWithError("the heavy scenario did not open");
        return;
    }
    // The whole frame, once.
    QElapsedTimer whole;
    whole.start();
    view->showFrame(0);
    spin([&] { return !preview->isBusy(); }, 120000);
    const double frameMs = double(whole.nsecsElapsed()) / 1e6;

    std::vector<double> times;
    for (auto _ : state) {
        state.PauseTiming();
        if (!open()) {
            state.SkipWithError("the heavy scenario did not open");
            break;
        }
        view->showFrame(1);
        spinFor(300);  // well into the polygon's rows
        const bool rendering = preview->isBusy();
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        view->action(ID_NEW)->trigger();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!rendering || preview->isBusy()) {
            state.SkipWithError("the frame was not rendering when New was pressed");
            break;
        }
    }
    if (times.empty())
        return;
    state.counters["frame_ms"] = frameMs;
    state.counters["new_median_ms"] = percentile(times, 0.5);
    state.counters["new_worst_ms"] = *std::max_element(times.begin(), times.end());
}
BENCHMARK(BM_NewWhileRenderingHeavyFrame)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Process start to "ready" on standard output.
double startUpMs(const QString &program, const QStringList &args)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VORN_QUIT_WHEN_READY"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    double readyMs = -1;
    while (process.waitForReadyRead(20000)) {
        if (process.readAllStandardOutput().contains("ready")) {
            readyMs = double(timer.nsecsElapsed()) / 1e6;
            break;
        }
    }
    process.waitForFinished(20000);
    return readyMs;
}

// The program with the demo song against a minimal Qt Widgets window (this program run with
// --minimal-window), started alternately in the same run.
void BM_StartUpAgainstMinimalWindow(benchmark::State &state)
{
    application();
    std::vector<double> program;
    std::vector<double> minimal;
    const QString self = QCoreApplication::applicationFilePath();
    for (auto _ : state) {
        minimal.push_back(startUpMs(self, {QStringLiteral("--minimal-window")}));
        program.push_back(startUpMs(QStringLiteral(VORN_PROGRAM), {DemoScenario}));
    }
    if (std::min(*std::min_element(program.begin(), program.end()),
                 *std::min_element(minimal.begin(), minimal.end())) < 0) {
        state.SkipWithError("a program did not report ready");
        return;
    }
    const double p = percentile(program, 0.5);
    const double m = percentile(minimal, 0.5);
    state.counters["program_ms"] = p;
    state.counters["minimal_ms"] = m;
    state.counters["ratio"] = p / m;
}
BENCHMARK(BM_StartUpAgainstMinimalWindow)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// The minimal window: shown, painted, "ready", gone.
int runMinimalWindow(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A window that shows text, as any application window does: a menu and a status line.
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("ファイル (&F)"))->addAction(QStringLiteral("終了"));
    window.statusBar()->showMessage(QStringLiteral("レディ"));
    window.resize(800, 600);
    window.show();
    QTimer::singleShot(0, &window, [&window] {
        window.repaint();
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        QApplication::quit();
    });
    return QApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string_view(argv[1]) == "--minimal-window")
        return runMinimalWindow(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
