// Tests of `vorn-scenario write`: the saved file, its header, exit codes and error text.
#include "support/clirun.h"

#include <functional>

#include <sys/stat.h>
#include <sys/sysmacros.h>

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

// OUT may be a regular file, a link to one or a new name (a dangling link makes its target);
// anything else is refused and left as it was. Device nodes are made here, never taken from /dev.
TEST_F(CliWriteTest, WhatOutMayBe)
{
    namespace fs = std::filesystem;
    const fs::path dir = m_dir.path();
    const std::string longName(250, 'n');
    const struct {
        const char *out;
        std::function<bool()> make;  // false: not possible here (a device node needs root)
        int exitCode;
        const char *created;  // the file that must now hold the scenario
    } cases[] = {
        {"no/such/out.txt", [] { return true; }, 1, nullptr},
        {"taken", [&] { return fs::create_directory(dir / "taken"); }, 1, nullptr},
        {"fifo", [&] { return ::mkfifo((dir / "fifo").c_str(), 0644) == 0; }, 1, nullptr},
        {"device", [&] {
             return ::mknod((dir / "device").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
         }, 1, nullptr},
        {"devicelink", [&] {
             fs::create_symlink("device", dir / "devicelink");
             return fs::exists(dir / "device");
         }, 1, nullptr},
        {"dangling", [&] {
             fs::create_symlink("made.txt", dir / "dangling");
             return true;
         }, 0, "made.txt"},
        {longName.c_str(), [] { return true; }, 0, longName.c_str()},
    };
    for (const auto &c : cases) {
        if (!c.make())
            continue;
        const auto before = fs::symlink_status(dir / c.out).type();
        const CliRun result = write({"allkinds.txt", c.out});
        EXPECT_EQ(result.exitCode, c.exitCode) << c.out;
        if (c.created) {
            EXPECT_EQ(read(c.created).substr(0, 82), std::string(80, '#') + "\r\n") << c.out;
            if (before != fs::file_type::not_found) {
                EXPECT_EQ(fs::symlink_status(dir / c.out).type(), before) << c.out;
            }
        } else {
            EXPECT_EQ(result.err, "シナリオの出力に失敗しました。\n") << c.out;
            EXPECT_EQ(fs::symlink_status(dir / c.out).type(), before) << c.out;
        }
    }
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

} // namespace
