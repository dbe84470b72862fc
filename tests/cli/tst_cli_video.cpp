// Tests of `vorn-scenario video` beyond the command table: what it leaves on disk. The file's
// contents are tested through the library (tests/export).
#include "support/clirun.h"

#include <QProcess>
#include <QTest>

#include <csignal>

namespace {

using vorn::test::CliRun;

class CliVideoTest : public vorn::test::CliTest {
protected:
    size_t entries() const
    {
        return size_t(std::distance(std::filesystem::directory_iterator(m_dir.path()), {}));
    }
};

// A full disk, played by a file size limit: the message with the system's reason, the old
// video whole and no temporary file left.
TEST_F(CliVideoTest, FullDiskKeepsTheOldFile)
{
    m_dir.write("keep.mp4", "an older video");
    QProcess shell;
    shell.setWorkingDirectory(QString::fromStdString(demo().string()));
    shell.start("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 40; exec \"$0\" \"$@\"",
                            VORN_SCENARIO_BIN, "video", "demo.txt", arg("keep.mp4"), "--to", "29"});
    ASSERT_TRUE(shell.waitForFinished(120000));
    EXPECT_EQ(shell.exitCode(), 1);
    EXPECT_EQ(shell.readAllStandardError().toStdString(),
              "動画ファイルの書き込みに失敗しました。\n" + (m_dir.path() / "keep.mp4").string() +
                  ": File too large\n");
    EXPECT_EQ(m_dir.read("keep.mp4"), "an older video");
    EXPECT_EQ(entries(), 2u);
}

// Ctrl+C while the frames are written is a cancel: the temporary file goes, the old one stays.
TEST_F(CliVideoTest, InterruptLeavesNothing)
{
    m_dir.write("keep.mp4", "an older video");
    QProcess program;
    program.setWorkingDirectory(QString::fromStdString(demo().string()));
    program.start(VORN_SCENARIO_BIN, {"video", "demo.txt", arg("keep.mp4"), "--threads", "1"});
    ASSERT_TRUE(program.waitForStarted());
    // The temporary file, open in the program (nameless where the file system allows).
    const auto writing = [&] {
        const auto fds = "/proc/" + std::to_string(program.processId()) + "/fd";
        std::error_code error;
        for (const auto &fd : std::filesystem::directory_iterator(fds, error)) {
            const auto target = std::filesystem::read_symlink(fd.path(), error).string();
            if (!error && target.rfind(m_dir.path().string() + "/", 0) == 0)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(writing, 60000));
    ::kill(pid_t(program.processId()), SIGINT);
    ASSERT_TRUE(program.waitForFinished(120000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_EQ(program.readAllStandardError().toStdString(), "動画の書き出しを中止しました。\n");
    EXPECT_EQ(m_dir.read("keep.mp4"), "an older video");
    EXPECT_EQ(entries(), 2u);
}

} // namespace
