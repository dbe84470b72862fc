// Runs the vorn-scenario program as a user would: a separate process in a private working
// directory, its exit code and both output streams collected.
#pragma once

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <QProcess>  // QProcessEnvironment, QStringList

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vorn::test {

// exitCode stays -1 when the program did not end normally within two minutes.
struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    CliTest()
    {
        // Qt warns on stderr without a runtime directory; the error text must stand alone.
        std::filesystem::create_directories(m_dir.path() / "runtime");
        std::filesystem::permissions(m_dir.path() / "runtime", std::filesystem::perms::owner_all);
    }

    // Runs the program with `args` in `workingDirectory` (default: the test's directory), with
    // extra environment variables.
    CliRun run(const QStringList &args, const std::filesystem::path &workingDirectory = {},
               const std::vector<std::pair<QString, QString>> &environment = {}) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString((m_dir.path() / "runtime").string()));
        for (const auto &[name, value] : environment)
            env.insert(name, value);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QString::fromStdString(
            (workingDirectory.empty() ? m_dir.path() : workingDirectory).string()));
        process.start(QStringLiteral(VORN_SCENARIO_BIN), args);
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return {};
        return {process.exitCode(), process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
    }

    // Copies files of tests/data/scenario into the test's directory.
    void copyScenarioData(std::initializer_list<const char *> names) const
    {
        for (const char *name : names)
            std::filesystem::copy_file(scenarioData() / name, m_dir.path() / name);
    }

    // The full path of a name in the test's directory, as a program argument.
    QString arg(const std::string &name) const { return QString::fromStdString((m_dir.path() / name).string()); }

    static std::filesystem::path scenarioData()
    {
        return std::filesystem::path(VORN_SOURCE_DIR) / "tests/data/scenario";
    }
    static std::filesystem::path demo() { return std::filesystem::path(VORN_SOURCE_DIR) / "examples/demo"; }

    TempDir m_dir;
};

} // namespace vorn::test
