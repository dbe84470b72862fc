// vorn-checkpoint [FILE]: the desktop program.
#include "app/appicons.h"
#include "app/mainframe.h"
#include "app/shellservices.h"
#include "editor/editoricons.h"
#include "audio/portaudio/portaudiodevice.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

int main(int argc, char *argv[])
{
    // The sound system takes tens of milliseconds to start (ALSA reads its configuration):
    // start it beside the window's construction, so that the first song does not wait for it.
    std::unique_ptr<vorn::PortAudioDevice> soundWarmUp;
    std::thread warmUp([&soundWarmUp] { soundWarmUp = std::make_unique<vorn::PortAudioDevice>(); });
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vorn-checkpoint"));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.vorn.Checkpoint"));
    vorn::initAppIcons();
    vorn::initEditorIcons();

    vorn::MessageBoxPrompter prompter;
    vorn::DialogFileChooser files;
    int status = 0;
    {
        vorn::ShellServices services;
        services.prompter = &prompter;
        services.files = &files;
        vorn::CMainFrame frame(std::move(services));
        prompter.setParent(&frame);
        files.setParent(&frame);
        frame.show();
        // For start-up measurements: once the file's scenario (and song) is in and the window
        // painted, say "ready" on standard output and quit.
        // Queued both ways: quit() before the event loop runs would be lost.
        if (qEnvironmentVariableIsSet("VORN_QUIT_WHEN_READY")) {
            QObject::connect(
                frame.view(), &vorn::CMainView::scenarioInstalled, &frame,
                [&frame] {
                    frame.repaint();
                    std::fputs("ready\n", stdout);
                    std::fflush(stdout);
                    QApplication::quit();
                },
                Qt::QueuedConnection);
        }
        const QStringList args = QApplication::arguments();
        if (args.size() > 1) {
            const QString name = args.at(1);
            QMetaObject::invokeMethod(
                frame.view(), [&frame, name] { frame.view()->openFile(name); },
                Qt::QueuedConnection);
        }
        status = QApplication::exec();
        prompter.setParent(nullptr);
        files.setParent(nullptr);
    }
    // The engines were told to quit with the view; their threads end once their devices have
    // closed, before the process tears down what they use.
    vorn::CMainView::waitForEngines(std::chrono::seconds(10));
    warmUp.join();
    soundWarmUp.reset();
    return status;
}
