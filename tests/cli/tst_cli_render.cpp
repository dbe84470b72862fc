// Tests of `vorn-scenario render`: the PNG written, frame range, usage errors, and the bundled
// demo scenario loading, rendering and writing cleanly.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <filesystem>
#include <unistd.h>

namespace {

struct CliRun {
    int exitCode = -1;
    std::string err;
};

class CliRenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::filesystem::temp_directory_path() /
                ("vorn-tst-cli-render-" + std::to_string(getpid()) + "-" + info->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir / "runtime");
        std::filesystem::permissions(m_dir / "runtime", std::filesystem::perms::owner_all);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    CliRun run(const QStringList &args, const std::filesystem::path &workingDirectory)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString((m_dir / "runtime").string()));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(workingDirectory.string()));
        process.start(QStringLiteral(VORN_SCENARIO_BIN), args);
        CliRun result;
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return result;
        result.exitCode = process.exitCode();
        result.err = process.readAllStandardError().toStdString();
        return result;
    }
    QString out(const std::string &name) const
    {
        return QString::fromStdString((m_dir / name).string());
    }

    const std::filesystem::path m_data = std::filesystem::path(VORN_SOURCE_DIR) / "tests/data/scenario";
    const std::filesystem::path m_demo = std::filesystem::path(VORN_SOURCE_DIR) / "examples/demo";
    std::filesystem::path m_dir;
};

TEST_F(CliRenderTest, WritesTheFrameAsRgbaPng)
{
    const CliRun result = run({"render", "allkinds.txt", "0", out("f0.png")}, m_data);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const QImage image(out("f0.png"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 64);
    EXPECT_EQ(image.height(), 48);
    EXPECT_TRUE(image.hasAlphaChannel());
}

TEST_F(CliRenderTest, FramesOutsideTheScenarioAreRefused)
{
    for (const char *frame : {"66", "-1", "100000"}) {
        const CliRun result = run({"render", "allkinds.txt", frame, out("x.png")}, m_data);
        EXPECT_EQ(result.exitCode, 1) << frame;
        EXPECT_NE(result.err.find("の外にあります。"), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(m_dir / "x.png"));
    }
    EXPECT_EQ(run({"render", "allkinds.txt", "1x", out("x.png")}, m_data).exitCode, 2);
    EXPECT_EQ(run({"render", "allkinds.txt", "1"}, m_data).exitCode, 2);
    EXPECT_EQ(run({"render", "missing.txt", "1", out("x.png")}, m_data).exitCode, 1);
}

// The demo: read, linked and validated without a message, frames across its length rendered
// at the screen size, and written back.
TEST_F(CliRenderTest, DemoLoadsRendersAndWrites)
{
    const CliRun check = run({"check", "demo.txt"}, m_demo);
    ASSERT_EQ(check.exitCode, 0) << check.err;
    for (const char *frame : {"0", "150", "300", "450", "530", "585", "640", "720", "850", "899"}) {
        const std::string name = std::string("demo") + frame + ".png";
        const CliRun result = run({"render", "demo.txt", frame, out(name)}, m_demo);
        ASSERT_EQ(result.exitCode, 0) << frame << ": " << result.err;
        const QImage image(out(name));
        EXPECT_EQ(image.width(), 720);
        EXPECT_EQ(image.height(), 480);
    }
    const CliRun write = run({"write", "demo.txt", out("written.txt")}, m_demo);
    EXPECT_EQ(write.exitCode, 0) << write.err;
    EXPECT_TRUE(std::filesystem::exists(m_dir / "written.txt"));
}

} // namespace
