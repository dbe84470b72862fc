// Tests of `vorn-scenario wav`: the JSON of a loaded song, the refusal message and exit codes.
#include "support/clirun.h"
#include "support/wavfile.h"

namespace {

using vorn::test::CliRun;

const std::string LoadFailed = "オーディオ処理の初期化に失敗しました。\n";

class CliWavTest : public vorn::test::CliTest {
protected:
    CliRun runWav(const QStringList &args) const { return run(QStringList{"wav"} + args); }
    QString write(const std::vector<uint8_t> &bytes, const std::string &name) const
    {
        vorn::test::writeFile(m_dir.path() / name, bytes);
        return arg(name);
    }
};

TEST_F(CliWavTest, DemoSong)
{
    const QString song = QStringLiteral(VORN_SOURCE_DIR "/examples/demo/song.wav");
    // 30 s of 44.1 kHz 16-bit stereo: 5,292,000 bytes in 81 blocks of 64 KiB.
    CliRun run = runWav({song});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "{\"channels\": 2, \"samplesPerSec\": 44100, \"avgBytesPerSec\": 176400, "
              "\"bitsPerSample\": 16, \"blockAlign\": 4, \"formatSize\": 16, "
              "\"streamLength\": 1323000, \"bufferSize\": 5308416, \"lengthMs\": 30000, "
              "\"endPosition\": 1327104}\n");

    // A 60 s video pulls the time line to 61,999 ms.
    run = runWav({QStringLiteral("--video-ms"), QStringLiteral("60000"), song});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\"lengthMs\": 30000, \"endPosition\": 2734156}"), std::string::npos) << run.out;
}

TEST_F(CliWavTest, EightBitMonoWithExtensibleFormat)
{
    vorn::test::WavLayout layout;
    layout.channels = 1;
    layout.bitsPerSample = 8;
    layout.samplesPerSec = 11025;
    layout.extensible = true;
    const QString song = write(vorn::test::wavBytes(layout, std::vector<uint8_t>(200000, 128)), "mono8.wav");
    const CliRun run = runWav({song, QStringLiteral("--video-ms"), QStringLiteral("1000")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // endPosition: the 262,144-frame buffer outlasts 2,999 ms (33,064 frames).
    EXPECT_EQ(run.out,
              "{\"channels\": 1, \"samplesPerSec\": 11025, \"avgBytesPerSec\": 11025, "
              "\"bitsPerSample\": 8, \"blockAlign\": 1, \"formatSize\": 40, "
              "\"streamLength\": 200000, \"bufferSize\": 262144, \"lengthMs\": 18141, "
              "\"endPosition\": 262144}\n");
}

TEST_F(CliWavTest, RefusedSongs)
{
    const QString missing = arg("missing.wav");
    const QString tooShort = write(vorn::test::wavBytes({}, std::vector<uint8_t>(131068)), "short.wav");
    const QString text = write(std::vector<uint8_t>(200000, 'x'), "text.wav");
    for (const QString &song : {missing, tooShort, text}) {
        const CliRun run = runWav({song});
        EXPECT_EQ(run.exitCode, 1) << song.toStdString();
        EXPECT_TRUE(run.out.empty()) << run.out;
        // Qt may add its own start-up notes; the message is the last line.
        ASSERT_GE(run.err.size(), LoadFailed.size());
        EXPECT_EQ(run.err.substr(run.err.size() - LoadFailed.size()), LoadFailed) << run.err;
    }
}

TEST_F(CliWavTest, UsageErrors)
{
    const QString song = QStringLiteral(VORN_SOURCE_DIR "/examples/demo/song.wav");
    const std::vector<QStringList> cases = {
        {},
        {song, QStringLiteral("--video-ms")},
        {song, QStringLiteral("--video-ms"), QStringLiteral("12x")},
        {song, QStringLiteral("--video-ms"), QStringLiteral("99999999999")},
        {song, song},
        {song, QStringLiteral("--speed")},
    };
    for (const QStringList &args : cases) {
        const CliRun run = runWav(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_NE(run.err.find("usage: vorn-scenario wav SONG.wav [--video-ms MS]"), std::string::npos)
            << run.err;
    }
    const CliRun help = runWav({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: vorn-scenario wav"), std::string::npos) << help.out;
}

} // namespace
