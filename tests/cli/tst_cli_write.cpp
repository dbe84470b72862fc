// Tests of `vorn-scenario write`: the saved file, its header, exit codes and error text.
#include "support/clirun.h"

namespace {

using vorn::test::CliRun;

// `write` with a fixed clock, so the header's date is known.
class CliWriteTest : public vorn::test::CliTest {
protected:
    CliWriteTest() { copyScenarioData({"allkinds.bmp", "allkinds.txt"}); }
    CliRun write(const QStringList &args) const
    {
        return run(QStringList{"write"} + args, {}, {{"SOURCE_DATE_EPOCH", "86400"}});
    }
    std::string read(const std::string &name) const { return m_dir.read(name); }
};

TEST_F(CliWriteTest, WritesTheCanonicalLayout)
{
    const CliRun result = write({"allkinds.txt", "out.txt"});
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
    const CliRun again = write({"out.txt", "again.txt", "--answer", "no"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    const CliRun third = write({"again.txt", "out.txt"});
    ASSERT_EQ(third.exitCode, 0) << third.err;
    EXPECT_EQ(read("out.txt"), text);
}

TEST_F(CliWriteTest, UsageErrors)
{
    EXPECT_EQ(write({}).exitCode, 2);
    EXPECT_EQ(write({"allkinds.txt"}).exitCode, 2);
    EXPECT_EQ(write({"allkinds.txt", "a.txt", "b.txt"}).exitCode, 2);
    EXPECT_EQ(write({"allkinds.txt", "a.txt", "--bogus"}).exitCode, 2);
    EXPECT_EQ(write({"allkinds.txt", "a.txt", "--answer", "maybe"}).exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "a.txt"));
    const CliRun help = write({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("write FILE OUT"), std::string::npos);
}

TEST_F(CliWriteTest, RefusedScenarioWritesNothing)
{
    m_dir.write("bad.txt", "FRAMERATE 30\nMAIN { }\n");
    m_dir.write("keep.txt", "keep me");
    const CliRun result = write({"bad.txt", "keep.txt"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err,
              "シナリオ読み込み時にエラーが発生しました。\nスクリーンサイズが定義されていません。\n");
    EXPECT_EQ(read("keep.txt"), "keep me");
}

TEST_F(CliWriteTest, UnwritableOutputIsRefused)
{
    std::filesystem::create_directory(m_dir.path() / "taken");
    for (const QString &out : {QStringLiteral("no/such/out.txt"), QStringLiteral("taken")}) {
        const CliRun result = write({"allkinds.txt", out});
        EXPECT_EQ(result.exitCode, 1) << out.toStdString();
        EXPECT_EQ(result.err, "シナリオの出力に失敗しました。\n");
    }
    EXPECT_TRUE(std::filesystem::is_directory(m_dir.path() / "taken"));
}

} // namespace
