// vorn-scenario: checks, inspects, rewrites and renders scenarios without a display.
#include "cli/command.h"

#include <QGuiApplication>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vorn::cli {

namespace {
std::vector<Command> &registry()
{
    static std::vector<Command> list;
    return list;
}
} // namespace

CommandRegistration::CommandRegistration(const Command &command)
{
    registry().push_back(command);
}

const std::vector<Command> &commands()
{
    return registry();
}

void printUsage(const Command &command, bool toStderr)
{
    std::FILE *out = toStderr ? stderr : stdout;
    std::fprintf(out, "usage: vorn-scenario %s\n%s\n", command.usage, command.summary);
}

int usageError(const Command &command, std::string_view problem)
{
    std::fprintf(stderr, "vorn-scenario %s: %.*s\n", command.name, int(problem.size()),
                 problem.data());
    printUsage(command, true);
    return ExitUsage;
}

bool wantsHelp(const std::vector<std::string> &args)
{
    for (const auto &a : args)
        if (a == "--help" || a == "-h")
            return true;
    return false;
}

namespace {
void printHelp(std::FILE *out)
{
    std::fprintf(out, "usage: vorn-scenario SUBCOMMAND [ARGS]\n\nSubcommands:\n");
    for (const auto &c : commands())
        std::fprintf(out, "  %-44s %s\n", c.usage, c.summary);
    std::fprintf(out, "\nvorn-scenario SUBCOMMAND --help shows one subcommand's usage.\n");
}
} // namespace

// Standard error carries the contract's messages alone; Qt's own chatter (a missing
// XDG_RUNTIME_DIR, image plugin warnings) is shown only when VORN_DEBUG is set.
void qtMessageFilter(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg || qEnvironmentVariableIsSet("VORN_DEBUG"))
        std::fprintf(stderr, "qt: %s\n", message.toLocal8Bit().constData());
}

} // namespace vorn::cli

int main(int argc, char **argv)
{
    using namespace vorn::cli;
    if (argc < 2) {
        printHelp(stderr);
        return ExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printHelp(stdout);
        return ExitOk;
    }
    for (const auto &command : commands()) {
        if (std::strcmp(argv[1], command.name) != 0)
            continue;
        std::vector<std::string> args(argv + 2, argv + argc);
        if (wantsHelp(args)) {
            printUsage(command, false);
            return ExitOk;
        }
        // Text drawing needs a QGuiApplication even without a display. Always off screen: the
        // command shows no window, and an empty or unusable platform in the environment would
        // otherwise abort it before it reads a byte.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(qtMessageFilter);
        int qtArgc = 1;
        QGuiApplication app(qtArgc, argv);
        return command.run(args);
    }
    std::fprintf(stderr, "vorn-scenario: unknown subcommand '%s'\n", argv[1]);
    printHelp(stderr);
    return ExitUsage;
}
