// vorn-checkpoint [FILE]: the desktop program.
#include "app/appicons.h"
#include "app/mainframe.h"
#include "app/shellservices.h"

#include <QApplication>

#include <chrono>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vorn-checkpoint"));
    vorn::initAppIcons();

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
        const QStringList args = QApplication::arguments();
        if (args.size() > 1)
            frame.view()->openFile(args.at(1));
        status = QApplication::exec();
        prompter.setParent(nullptr);
        files.setParent(nullptr);
    }
    // The engines were told to quit with the view; their threads end once their devices have
    // closed, before the process tears down what they use.
    vorn::CMainView::waitForEngines(std::chrono::seconds(10));
    return status;
}
