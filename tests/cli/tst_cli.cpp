// vorn-scenario's command-line contract: the command table in data/commands.tsv, and what a
// table cannot hold (the environment, FIFOs and links, a full disk, a file over the size limit).
#include "support/datatable.h"
#include "support/clirun.h"

#include <QImage>
#include <QProcess>

#include <fstream>
#include <map>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using vorn::test::CliRun;

class CliTest : public vorn::test::CliTest {
protected:
    // The run with a fixed clock (the header's date), the C locale (the system's reasons) and an
    // unusable display platform: no command needs a display, none may abort for the want of one.
    CliRun runHere(const QStringList &args, const fs::path &dir = {}) const
    {
        return run(args, dir, {{"SOURCE_DATE_EPOCH", "86400"}, {"LC_ALL", "C.UTF-8"},
                               {"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ""}});
    }
};

// Every file under `dir` (links not followed) with its bytes.
std::map<std::string, std::string> contents(const fs::path &dir)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().string()] =
            entry.is_regular_file() ? std::string(std::istreambuf_iterator<char>(in), {}) : "";
    }
    return files;
}

// "-": nothing; "*": anything; "~TEXT": holds TEXT; else exactly the text.
void expectOutput(const std::string &expected, const std::string &actual, const char *stream)
{
    if (expected.rfind('~', 0) == 0) {
        EXPECT_NE(actual.find(expected.substr(1)), std::string::npos) << stream << ": " << actual;
    } else if (expected != "*") {
        EXPECT_EQ(actual, expected == "-" ? "" : expected) << stream;
    }
}

TEST_F(CliTest, CommandTable)
{
    const fs::path dir = m_dir.path() / "work";
    fs::create_directories(dir);
    for (const fs::path &data : {scenarioData(), fs::path(VORN_SOURCE_DIR) / "tests/cli/data"})
        fs::copy(data, dir);
    fs::create_directory_symlink(demo(), dir / "demo");
    for (const vorn::test::Row &row : vorn::test::readTable("tests/cli/data/commands.tsv")) {
        ASSERT_GE(row.size(), 4u);
        SCOPED_TRACE(row[1]);
        for (size_t i = 4; i < row.size(); ++i) {
            const size_t is = row[i].find('=');
            fs::create_directories((dir / row[i].substr(0, is)).parent_path());
            std::ofstream(dir / row[i].substr(0, is), std::ios::binary) << row[i].substr(is + 1);
        }
        QStringList args;
        for (const QString &arg : QString::fromStdString(row[1]).split(' ', Qt::SkipEmptyParts))
            args << arg;
        const auto before = contents(dir);
        const CliRun result = runHere(args, dir);
        EXPECT_EQ(result.exitCode, std::stoi(row[0])) << result.err;
        expectOutput(row[2], result.out, "stdout");
        expectOutput(row[3], result.err, "stderr");
        if (result.exitCode != 0) {
            EXPECT_EQ(contents(dir), before) << "a refused command changed the folder";
        }
    }
}

TEST_F(CliTest, SizeQuestionIsAnsweredFromTheCommandLine)
{
    std::string big = "SCREEN 1 1\nMAIN { }\n";
    big.resize(10u * 1024u * 1024u + 1u, ' ');
    m_dir.write("big.txt", big);
    const std::string question = "big.txt\nは、ファイルサイズが異常に大きいと思われます。続けますか？\n";
    const CliRun yes = run({"check", "big.txt"});
    EXPECT_EQ(yes.exitCode, 0);
    EXPECT_EQ(yes.err, question);
    const CliRun no = run({"check", "--answer", "no", "big.txt"});
    EXPECT_EQ(no.exitCode, 1);
    EXPECT_EQ(no.err, question);  // a "no" stops without an error message
}

// The header's date is SOURCE_DATE_EPOCH's, its file name OUT as given, its length the linked one.
TEST_F(CliTest, WriteHeader)
{
    copyScenarioData({"allkinds.bmp", "allkinds.txt"});  // no run writes into the source tree
    ASSERT_EQ(runHere({"write", "allkinds.txt", "out.txt"}).exitCode, 0);
    EXPECT_NE(m_dir.read("out.txt").find("# Vorn Scenario file - 1970/01/02(Fri) 00:00:00 \r\n#     File name \t: "
                                         "\"out.txt\"\r\n#     Total frames \t: 66\r\n"),
              std::string::npos);
}

// Which files OUT may replace is the atomic-save helper's test; here what the program answers:
// a FIFO is left as it was (and not waited on), a dangling link makes its target and stays a
// link, and a linked folder is OUT's folder for the picture names.
TEST_F(CliTest, OutMayBeAFifoOrALink)
{
    const fs::path dir = m_dir.path();
    copyScenarioData({"allkinds.bmp", "allkinds.txt"});
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    const CliRun fifo = runHere({"write", "allkinds.txt", "fifo"});
    EXPECT_EQ(fifo.exitCode, 1);
    EXPECT_EQ(fifo.err, "シナリオの出力に失敗しました。\nfifo: 通常のファイルではないため置き換えません。\n");
    EXPECT_EQ(runHere({"render", "allkinds.txt", "0", "fifo"}).exitCode, 1);
    EXPECT_EQ(fs::symlink_status(dir / "fifo").type(), fs::file_type::fifo);

    fs::create_symlink("made.txt", dir / "dangling");
    ASSERT_EQ(runHere({"write", "allkinds.txt", "dangling"}).exitCode, 0);
    EXPECT_EQ(m_dir.read("made.txt").substr(0, 82), std::string(80, '#') + "\r\n");
    EXPECT_EQ(fs::symlink_status(dir / "dangling").type(), fs::file_type::symlink);

    fs::create_directories(dir / "sub/deep");
    fs::create_symlink("sub/deep", dir / "link");
    ASSERT_EQ(runHere({"write", "allkinds.txt", "link/out.txt"}).exitCode, 0);
    EXPECT_NE(m_dir.read("link/out.txt").find("\tFILE\t\t\"../../allkinds.bmp\"\r\n"), std::string::npos);
    EXPECT_EQ(runHere({"check", "link/out.txt"}).exitCode, 0);
}

// The frame as an 8-bit RGBA PNG of the picture's own size; a full disk, played by a file size
// limit in a shell, fails with the contract's message alone and keeps the old picture whole.
TEST_F(CliTest, RenderWritesRgbaPngOrKeepsTheOldOne)
{
    copyScenarioData({"allkinds.bmp", "allkinds.txt"});
    ASSERT_EQ(run({"render", "allkinds.txt", "0", "f0.png"}).exitCode, 0);
    const QImage image(arg("f0.png"));
    EXPECT_EQ(image.size(), QSize(64, 48));
    EXPECT_TRUE(image.hasAlphaChannel());

    m_dir.write("keep.png", "an older picture");
    // The demo through links, so that nothing a fault writes beside it lands in the source tree.
    const fs::path work = m_dir.path() / "demo";
    fs::create_directory(work);
    for (const fs::directory_entry &file : fs::directory_iterator(demo()))
        fs::create_symlink(file.path(), work / file.path().filename());
    QProcess shell;
    shell.setWorkingDirectory(QString::fromStdString(work.string()));
    shell.start("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"",
                            VORN_SCENARIO_BIN, "render", "demo.txt", "150", arg("keep.png")});
    ASSERT_TRUE(shell.waitForFinished(120000));
    EXPECT_EQ(shell.exitCode(), 1);
    EXPECT_EQ(shell.readAllStandardError().toStdString(), "画像ファイルの保存に失敗しました。\n");
    EXPECT_EQ(m_dir.read("keep.png"), "an older picture");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.path()), {}), 6);  // no strays
    EXPECT_EQ(std::distance(fs::directory_iterator(work), {}), std::distance(fs::directory_iterator(demo()), {}));
}

} // namespace
