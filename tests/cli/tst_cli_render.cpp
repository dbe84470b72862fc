// Tests of `vorn-scenario render`: the PNG written, frame range, usage errors, and the bundled
// demo scenario loading, rendering and writing cleanly.
#include "support/clirun.h"

#include <QImage>
#include <QProcess>

#include <sys/stat.h>

namespace {

using vorn::test::CliRun;

class CliRenderTest : public vorn::test::CliTest {};

TEST_F(CliRenderTest, WritesTheFrameAsRgbaPng)
{
    const CliRun result = run({"render", "allkinds.txt", "0", arg("f0.png")}, scenarioData());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const QImage image(arg("f0.png"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 64);
    EXPECT_EQ(image.height(), 48);
    EXPECT_TRUE(image.hasAlphaChannel());
}

TEST_F(CliRenderTest, FramesOutsideTheScenarioAreRefused)
{
    for (const char *frame : {"66", "-1", "100000"}) {
        const CliRun result = run({"render", "allkinds.txt", frame, arg("x.png")}, scenarioData());
        EXPECT_EQ(result.exitCode, 1) << frame;
        EXPECT_NE(result.err.find("の外にあります。"), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "x.png"));
    }
    EXPECT_EQ(run({"render", "allkinds.txt", "1x", arg("x.png")}, scenarioData()).exitCode, 2);
    EXPECT_EQ(run({"render", "allkinds.txt", "1"}, scenarioData()).exitCode, 2);
    EXPECT_EQ(run({"render", "missing.txt", "1", arg("x.png")}, scenarioData()).exitCode, 1);
}

// A full disk, played by a file size limit in a shell: the save fails with the contract's
// message alone (no libpng chatter) and the old picture stays whole.
TEST_F(CliRenderTest, FailedSaveKeepsTheOldPicture)
{
    const CliRun first = run({"render", "demo.txt", "150", arg("keep.png")}, demo());
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const std::string old = m_dir.read("keep.png");
    ASSERT_GT(old.size(), 2048u);
    std::filesystem::rename(m_dir.path() / "keep.png", m_dir.path() / "old.png");
    m_dir.write("keep.png", "an older picture");

    QProcess shell;
    shell.setWorkingDirectory(QString::fromStdString(demo().string()));
    shell.start("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"",
                            VORN_SCENARIO_BIN, "render", "demo.txt", "150", arg("keep.png")});
    ASSERT_TRUE(shell.waitForFinished(120000));
    EXPECT_EQ(shell.exitCode(), 1);
    EXPECT_EQ(shell.readAllStandardError().toStdString(), "画像ファイルの保存に失敗しました。\n");
    EXPECT_EQ(m_dir.read("keep.png"), "an older picture");

    // Nor is anything but a picture file replaced: a FIFO stays one (and is not waited on).
    ::mkfifo((m_dir.path() / "fifo.png").c_str(), 0644);
    const CliRun fifo = run({"render", "demo.txt", "0", arg("fifo.png")}, demo());
    EXPECT_EQ(fifo.exitCode, 1);
    EXPECT_EQ(std::filesystem::status(m_dir.path() / "fifo.png").type(), std::filesystem::file_type::fifo);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.path()), {}), 4);  // no strays
}

// Values at the ends of int32 render or are refused, never overflow (a sanitizer build makes
// any overflow fatal). An ellipse turned by -2^31 degrees is the one turned by -128 (the same
// angle modulo 360), its centre moved the same way.
TEST_F(CliRenderTest, ExtremeValues)
{
    const auto scenario = [](const std::string &block) {
        return "SCREEN 64 48\n" + block + "STILL \"s\" { INPUT \"b\" FRAMES 1 }\nMAIN { INPUT \"s\" }\n";
    };
    const auto ellipse = [&](const std::string &angle) {
        return scenario("DRAW \"b\" { SIZE 64 48 COLOR 255 0 0 255 "
                        "ELLIPSE { REGION 2 3 30 20 WIDTH 2 ANGLE " + angle + " } }\n");
    };
    copyScenarioData({"allkinds.bmp"});
    const struct {
        const char *name;
        std::string text;
    } files[] = {
        {"ellipse-min.txt", ellipse("(0-2147483647-1)")},
        {"ellipse-128.txt", ellipse("-128")},
        {"clip.txt", scenario("IMAGE \"b\" { FILE \"allkinds.bmp\" CLIP 0 0 2147483647 7 }\n")},
        {"input.txt", "SCREEN 64 48\nIMAGE \"a\" { FILE \"allkinds.bmp\" }\n"
                      "STILL \"s\" { INPUT \"a\" (0-2147483647-1) (0-2147483647-1) 10 10 FRAMES 1 }\n"
                      "MAIN { INPUT \"s\" }\n"},
    };
    for (const auto &file : files) {
        m_dir.write(file.name, file.text);
        const CliRun result = run({"render", file.name, "0", arg(std::string(file.name) + ".png")});
        EXPECT_TRUE(result.exitCode == 0 || (result.exitCode == 1 && !result.err.empty()))
            << file.name << ": " << result.exitCode << " " << result.err;
    }
    const QImage turned(arg("ellipse-min.txt.png"));
    ASSERT_FALSE(turned.isNull());
    EXPECT_EQ(turned, QImage(arg("ellipse-128.txt.png")));
}

// The demo: read, linked and validated without a message, frames across its length rendered
// at the screen size, and written back.
TEST_F(CliRenderTest, DemoLoadsRendersAndWrites)
{
    const CliRun check = run({"check", "demo.txt"}, demo());
    ASSERT_EQ(check.exitCode, 0) << check.err;
    for (const char *frame : {"0", "150", "300", "450", "530", "585", "640", "720", "850", "899"}) {
        const std::string name = std::string("demo") + frame + ".png";
        const CliRun result = run({"render", "demo.txt", frame, arg(name)}, demo());
        ASSERT_EQ(result.exitCode, 0) << frame << ": " << result.err;
        const QImage image(arg(name));
        EXPECT_EQ(image.width(), 720);
        EXPECT_EQ(image.height(), 480);
    }
    const CliRun write = run({"write", "demo.txt", arg("written.txt")}, demo());
    EXPECT_EQ(write.exitCode, 0) << write.err;
    EXPECT_TRUE(std::filesystem::exists(m_dir.path() / "written.txt"));
}

} // namespace
