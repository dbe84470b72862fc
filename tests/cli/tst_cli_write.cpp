// Tests of `vorn-scenario write`: the saved file, its header, exit codes and error text.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class CliWriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::filesystem::temp_directory_path() /
                ("vorn-tst-cli-write-" + std::to_string(getpid()) + "-" + info->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir / "runtime");
        std::filesystem::permissions(m_dir / "runtime", std::filesystem::perms::owner_all);
        const auto data = std::filesystem::path(VORN_SOURCE_DIR) / "tests/data/scenario";
        std::filesystem::copy_file(data / "allkinds.bmp", m_dir / "allkinds.bmp");
        std::filesystem::copy_file(data / "allkinds.txt", m_dir / "allkinds.txt");
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string read(const std::string &name)
    {
        std::ifstream stream(m_dir / name, std::ios::binary);
        std::ostringstream text;
        text << stream.rdbuf();
        return text.str();
    }

    CliRun run(const QStringList &args)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString((m_dir / "runtime").string()));
        environment.insert("SOURCE_DATE_EPOCH", "86400");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(m_dir.string()));
        process.start(QStringLiteral(VORN_SCENARIO_BIN), QStringList{"write"} + args);
        CliRun result;
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return result;
        result.exitCode = process.exitCode();
        result.out = process.readAllStandardOutput().toStdString();
        result.err = process.readAllStandardError().toStdString();
        return result;
    }

    std::filesystem::path m_dir;
};

TEST_F(CliWriteTest, WritesTheCanonicalLayout)
{
    const CliRun result = run({"allkinds.txt", "out.txt"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "");
    const std::string text = read("out.txt");
    const std::string rule(80, '#');
    const std::string header = rule + "\r\n# Vorn Scenario file - 1970/01/02(Fri) 00:00:00 \r\n" +
                               "#     File name \t: \"out.txt\"\r\n" +
                               "#     Total frames \t: 66\r\n" +
                               "#     Total time \t: 2.200 [sec]\r\n" + rule + "\r\n";
    EXPECT_EQ(text.substr(0, header.size()), header);
    EXPECT_NE(text.find("\r\nMAIN\r\n{\r\n\t# RefCount = 0\r\n\tINPUT\t\t\"series\"\r\n"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 84), "\r\n" + rule + "\r\n");
    // Every line ends in CR LF.
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        ASSERT_EQ(text[at - 1], '\r') << at;

    // The saved file reads back, and saving it again gives the same file (its name aside,
    // and the shapes' point lists, which every save turns round).
    const CliRun again = run({"out.txt", "again.txt", "--answer", "no"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    const CliRun third = run({"again.txt", "out.txt"});
    ASSERT_EQ(third.exitCode, 0) << third.err;
    EXPECT_EQ(read("out.txt"), text);
}

TEST_F(CliWriteTest, UsageErrors)
{
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({"allkinds.txt"}).exitCode, 2);
    EXPECT_EQ(run({"allkinds.txt", "a.txt", "b.txt"}).exitCode, 2);
    EXPECT_EQ(run({"allkinds.txt", "a.txt", "--bogus"}).exitCode, 2);
    EXPECT_EQ(run({"allkinds.txt", "a.txt", "--answer", "maybe"}).exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "a.txt"));
    const CliRun help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("write FILE OUT"), std::string::npos);
}

TEST_F(CliWriteTest, RefusedScenarioWritesNothing)
{
    std::ofstream(m_dir / "bad.txt", std::ios::binary) << "FRAMERATE 30\nMAIN { }\n";
    std::ofstream(m_dir / "keep.txt", std::ios::binary) << "keep me";
    const CliRun result = run({"bad.txt", "keep.txt"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err,
              "シナリオ読み込み時にエラーが発生しました。\nスクリーンサイズが定義されていません。\n");
    EXPECT_EQ(read("keep.txt"), "keep me");
}

TEST_F(CliWriteTest, UnwritableOutputIsRefused)
{
    std::filesystem::create_directory(m_dir / "taken");
    for (const QString &out : {QStringLiteral("no/such/out.txt"), QStringLiteral("taken")}) {
        const CliRun result = run({"allkinds.txt", out});
        EXPECT_EQ(result.exitCode, 1) << out.toStdString();
        EXPECT_EQ(result.err, "シナリオの出力に失敗しました。\n");
    }
    EXPECT_TRUE(std::filesystem::is_directory(m_dir / "taken"));
}

} // namespace
