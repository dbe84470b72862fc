// Tests of `vorn-scenario write`: the saved file, its header, exit codes and error text.
#include "support/clirun.h"

#include <sys/stat.h>

namespace {

using vorn::test::CliRun;

// `write` with a fixed clock, so the header's date is known.
class CliWriteTest : public vorn::test::CliTest {
protected:
    CliWriteTest() { copyScenarioData({"allkinds.bmp", "allkinds.txt"}); }
    CliRun write(const QStringList &args) const
    {
        // The C locale: the system's reasons are then in English.
        return run(QStringList{"write"} + args, {},
                   {{"SOURCE_DATE_EPOCH", "86400"}, {"LC_ALL", "C.UTF-8"}});
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
    // The saved file reads back (the same lines, CR LF, are the writer's tests).
    EXPECT_EQ(write({"out.txt", "again.txt", "--answer", "no"}).exitCode, 0);
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

// Which files OUT may replace is the atomic-save helper's test; here what the program answers:
// a refused OUT (no such folder, a FIFO) gives the message, the path and the reason, and is
// left as it was; a dangling link makes its target and stays a link.
TEST_F(CliWriteTest, WhatOutMayBe)
{
    namespace fs = std::filesystem;
    const fs::path dir = m_dir.path();
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    const std::pair<const char *, const char *> refused[] = {
        {"no/such/out.txt", "no/such: No such file or directory"},
        {"fifo", "fifo: 通常のファイルではないため置き換えません。"},
    };
    for (const auto &[out, why] : refused) {
        const auto before = fs::symlink_status(dir / out).type();
        const CliRun result = write({"allkinds.txt", out});
        EXPECT_EQ(result.exitCode, 1) << out;
        EXPECT_EQ(result.err, std::string("シナリオの出力に失敗しました。\n") + why + "\n") << out;
        EXPECT_EQ(fs::symlink_status(dir / out).type(), before) << out;
    }
    fs::create_symlink("made.txt", dir / "dangling");
    ASSERT_EQ(write({"allkinds.txt", "dangling"}).exitCode, 0);
    EXPECT_EQ(read("made.txt").substr(0, 82), std::string(80, '#') + "\r\n");
    EXPECT_EQ(fs::symlink_status(dir / "dangling").type(), fs::file_type::symlink);
}

// The header's file name stays on its line: a line feed in OUT's name is shown as '?'.
TEST_F(CliWriteTest, HeaderHoldsNoControlCharacters)
{
    const CliRun result = write({"allkinds.txt", "a\nb\tc.txt"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(read("a\nb\tc.txt").find("\r\n#     File name \t: \"a?b?c.txt\"\r\n"),
              std::string::npos);
    EXPECT_EQ(write({"a\nb\tc.txt", "again.txt"}).exitCode, 0);
}

// The song's full path is written; from a folder whose name holds '#' it would not read back
// (the reader blanks from '#' on), so the save is refused, saying why, and the old file stays.
TEST_F(CliWriteTest, ValueThatWouldNotReadBackIsRefused)
{
    m_dir.write("a#b/song.wav", "");
    m_dir.write("a#b/show.txt", "SCREEN 64 48\nAUDIO \"song.wav\"\nMAIN { }\n");
    m_dir.write("out.txt", "keep me");
    const CliRun result = write({"a#b/show.txt", "out.txt"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.substr(0, result.err.find('\n')), "シナリオの出力に失敗しました。");
    EXPECT_NE(result.err.find("\nAUDIO  \"" + (m_dir.path() / "a#b").string() + "\\song.wav\"\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(read("out.txt"), "keep me");
}

// Relative picture names stay valid from OUT's folder, including one read from an INCLUDEd
// file of another folder: each written file checks where it is.
TEST_F(CliWriteTest, PictureNamesAreRebasedToOutsFolder)
{
    namespace fs = std::filesystem;
    fs::create_directories(m_dir.path() / "sub/deep");
    fs::create_symlink("sub/deep", m_dir.path() / "link");
    m_dir.write("inc/part.txt", "IMAGE \"b\" { FILE \"part.bmp\" }\n");
    fs::copy_file(m_dir.path() / "allkinds.bmp", m_dir.path() / "inc/part.bmp");
    m_dir.write("show.txt", "SCREEN 64 48\nINCLUDE \"inc/part.txt\"\n"
                            "IMAGE \"a\" { FILE \"allkinds.bmp\" }\n"
                            "STILL \"s\" { INPUT \"a\" INPUT \"b\" FRAMES 3 }\nMAIN { INPUT \"s\" }\n");
    const struct {
        const char *out;
        const char *a;
        const char *b;
    } cases[] = {
        {"out.txt", "allkinds.bmp", "inc/part.bmp"},
        {"sub/deep/out.txt", "../../allkinds.bmp", "../../inc/part.bmp"},
        {"link/out2.txt", "../../allkinds.bmp", "../../inc/part.bmp"},  // the folder it leads to
        {"inc/out.txt", "../allkinds.bmp", "part.bmp"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.out);
        ASSERT_EQ(write({"show.txt", c.out}).exitCode, 0);
        const std::string text = read(c.out);
        EXPECT_NE(text.find("\tFILE\t\t\"" + std::string(c.a) + "\"\r\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\tFILE\t\t\"" + std::string(c.b) + "\"\r\n"), std::string::npos) << text;
        const CliRun check = run({"check", QString::fromStdString(c.out)});
        EXPECT_EQ(check.exitCode, 0) << check.err;
    }
}

} // namespace
